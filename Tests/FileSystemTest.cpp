// Path names: tables of paths and their expected pieces. '/' separates like '\', and a long
// prefix or a UNC server and share belong to the root, which no piece may cut.
#include <filesystem>

#include "Errors.h"
#include "FileSystem.h"
#include "TestSupport.h"

using namespace Zelkor;

#define ROW(text) testing::PrintToString(std::wstring(text))

TEST(PathNames, KindsLongPrefixesAndComponents)
{
    // clang-format off
    const struct {
        const wchar_t* path;
        PathKind kind;
        const wchar_t *stripped, *components; // components joined by '|'; null: not checked
    } rows[] = {
        {L"", PK_Relative, L"", L""}, {L"a:b", PK_DriveRelative, L"a:b", nullptr}, {L"/", PK_Rooted, L"/", L""},
        {L"\\/x", PK_Rooted, L"\\/x", nullptr}, {L"//srv", PK_Unc, L"//srv", nullptr}, {L"C:/x", PK_Absolute, L"C:/x", nullptr},
        {L"C:x\\y", PK_DriveRelative, L"C:x\\y", L"C:|x|y"}, {L"::x", PK_DriveRelative, L"::x", L":|:x"}, // a colon for a drive letter
        {L"\\\\?\\unc\\srv", PK_Unc, L"//srv", nullptr}, {L"\\\\?\\c:", PK_DriveRelative, L"c:", nullptr},
        {L"\\\\?\\UNC", PK_Relative, L"UNC", nullptr}, {L"\\\\?\\", PK_Relative, L"", nullptr},
        {L"\\\\?", PK_Unc, L"\\\\?", nullptr}, {L"//?/C:\\x", PK_Unc, L"//?/C:\\x", nullptr}, // '/' makes no prefix
        {L"\\\\?\\C:\\a\\\\b\\", PK_Absolute, L"C:\\a\\\\b\\", L"C:|a|b"},
        {L"\\\\?\\UNC\\srv\\share\\", PK_Unc, L"//srv\\share\\", L"srv|share"},
        {L" \ta/b//c \n", PK_Relative, L" \ta/b//c \n", L"a|b|c"},
        {L"\u00A0a\\b", PK_Relative, L"\u00A0a\\b", L"\u00A0a|b"}, // a no-break space belongs to the name
        {L"\u3000\\a", PK_Rooted, nullptr, L"a"}, // splitting trims; the kind is of what is left
        {L"\\\\?\\\\\\?\\C:x", PK_Unc, L"\\\\?\\C:x", L"?|C:x"}, // a second prefix is a name, not a drive
    };
    // clang-format on
    for (const auto& row : rows) {
        if (row.stripped != nullptr) {
            EXPECT_EQ(GetPathKind(row.path), row.kind) << ROW(row.path);
            EXPECT_EQ(W(StripLongPrefix(row.path)), row.stripped) << ROW(row.path);
            EXPECT_EQ(HasLongPrefix(row.path), std::wstring(row.path) != row.stripped) << ROW(row.path);
        }
        if (row.components == nullptr)
            continue;
        CArray<CUnicodeString> parts;
        parts.Add(CUnicodeString(L"stale"));
        EXPECT_EQ(SplitPath(row.path, parts), row.kind) << ROW(row.path);
        std::wstring joined;
        for (int32_t i = 0; i < parts.GetSize(); ++i)
            joined += (i ? L"|" : L"") + W(parts[i]);
        EXPECT_EQ(joined, row.components) << ROW(row.path);
    }
}

TEST(PathNames, AddLongPrefix)
{
    // clang-format off
    const struct {
        const wchar_t *path, *result; // null: refused as an internal error, the path kept
    } rows[] = {
        {L"//srv/share/x", L"\\\\?\\UNC\\srv\\share\\x"}, {L"C:/a/b", L"\\\\?\\C:\\a\\b"},
        {L"\\\\?\\C:/x", L"\\\\?\\C:/x"}, {L"", nullptr}, {L"\\a", nullptr}, {L"C:x", nullptr},
    };
    // clang-format on
    for (const auto& row : rows) {
        CUnicodeString path(row.path);
        if (row.result == nullptr)
            EXPECT_TRUE(RaisesInternalError([&] { AddLongPrefix(path); })) << ROW(row.path);
        else
            EXPECT_EQ(AddLongPrefix(path), std::wstring(row.path) != row.result) << ROW(row.path);
        EXPECT_EQ(W(path), row.result ? row.result : row.path) << ROW(row.path);
    }
}

TEST(PathNames, RootAndTheLastComponent)
{
    // clang-format off
    const struct {
        const wchar_t *path, *root, *removed; // removed equal to path: false expected
    } rows[] = {
        {L"C:\\a\\b", L"C:\\", L"C:\\a"}, {L"C:\\a", L"C:\\", L"C:\\a"}, {L"C:a\\b", L"C:\\", L"C:a"},
        {L"\\\\srv\\share", L"\\\\srv\\share\\", L"\\\\srv"}, {L"\\\\srv", L"\\\\srv\\", L"\\\\srv"}, {L"", L"\\", L""},
        {L"\\a", L"\\", L"\\a"}, {L"a/b/", L"\\", L"a"}, {L"C:\\a\\", L"C:\\", L"C:\\a\\"},
        {L"\\\\?\\C:\\a", L"\\\\?\\C:\\", L"\\\\?\\C:\\a"}, {L" C:\\x\\y ", L"C:\\", nullptr},
        {L"\\\\?\\UNC\\srv\\share", L"\\\\?\\UNC\\srv\\share\\", L"\\\\?\\UNC\\srv"},
        {L"\\\\?\\UNC\\srv\\share\\x", L"\\\\?\\UNC\\srv\\share\\", nullptr}, {L"//srv/share/x", L"//srv/share/", nullptr},
        // Volumes without a drive letter keep the prefix; the volume name is the root.
        {L"\\\\?\\Volume{5}\\a\\b", L"\\\\?\\Volume{5}\\", L"\\\\?\\Volume{5}\\a"},
        {L"\\\\?\\Volume{5}\\a", L"\\\\?\\Volume{5}\\", L"\\\\?\\Volume{5}\\a"},
        {L"\\\\?\\Volume{5}", L"\\\\?\\Volume{5}\\", nullptr},
        {L"\\\\?\\ab:c\\d", L"\\\\?\\ab:c\\", L"\\\\?\\ab:c\\d"}, // a colon after the second unit is no drive's
        {L"\\\\?\\GLOBALROOT\\Device\\Harddisk0\\x", L"\\\\?\\GLOBALROOT\\Device\\Harddisk0\\", nullptr},
    };
    // clang-format on
    for (const auto& row : rows) {
        EXPECT_EQ(W(GetRoot(row.path)), row.root) << ROW(row.path);
        if (row.removed == nullptr)
            continue;
        CUnicodeString path(row.path);
        EXPECT_EQ(RemoveLastPathComponent(path), std::wstring(row.path) != row.removed) << ROW(row.path);
        EXPECT_EQ(W(path), row.removed) << ROW(row.path);
    }
}

TEST(PathNames, ExtractParts)
{
    CUnicodeString (*const extract[])(const CUnicodeString&) = {ExtractDrive,     ExtractDirectory, ExtractName,
                                                                ExtractExtension, ExtractPath,      ExtractFileName};
    // clang-format off
    const struct {
        const wchar_t* path;
        const wchar_t* parts[6]; // drive, directory, name, extension, path, file name
    } rows[] = {
        {L"", {L"", L"", L"", L"", L"", L""}},
        {L"\\\\?\\C:\\a\\b.txt", {L"C:", L"\\a\\", L"b", L".txt", L"\\\\?\\C:\\a\\", L"b.txt"}},
        {L"\\\\?\\UNC\\srv\\sh\\f.t", {L"", L"//srv\\sh\\", L"f", L".t", L"\\\\?\\UNC\\srv\\sh\\", L"f.t"}},
        {L"dir.x\\a.b.c", {L"", L"dir.x\\", L"a.b", L".c", L"dir.x\\", L"a.b.c"}},
        {L"dir.x/a", {L"", L"dir.x/", L"a", L"", L"dir.x/", L"a"}}, // a dot before the name is no extension
        {L"C:x.y", {L"C:", L"", L"x", L".y", L"C:", L"x.y"}},
        {L".hidden", {L"", L"", L"", L".hidden", L"", L".hidden"}},
        {L"a/b/", {L"", L"a/b/", L"", L"", L"a/b/", L""}},
        {L"\\\\?\\Volume{5}\\d\\f.x", {L"", L"Volume{5}\\d\\", L"f", L".x", L"\\\\?\\Volume{5}\\d\\", L"f.x"}},
        {L"\\\\?\\GLOBALROOT\\Device\\X", {L"", L"GLOBALROOT\\Device\\", L"X", L"", L"\\\\?\\GLOBALROOT\\Device\\X\\", L"X"}},
    };
    // clang-format on
    for (const auto& row : rows)
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(W(extract[i](row.path)), row.parts[i]) << ROW(row.path) << ", part " << i;
}

// Blanks around a name go, a no-break space is part of it; full paths beyond 260 characters arrive whole.
TEST(PathNames, JoinMergeMakeAndFullPath)
{
    using Combine = CUnicodeString (*)(const CUnicodeString&, const CUnicodeString&);
    const Combine join = JoinPath, merge = MergePath, absolute = MakeAbsolutePath;
    const Combine separate = [](const CUnicodeString& path, const CUnicodeString&) { return AddPathSeparator(path); };
    const Combine full = [](const CUnicodeString& path, const CUnicodeString&) {
        CUnicodeString result = path;
        GetFullPath(result);
        return result;
    };
    const std::wstring deep(300, L'd'); // beyond the 260 characters a composition or a full path starts with
    wchar_t onC[MAX_PATH];              // the platform's full form of a path relative to the current directory of C:
    GetFullPathNameW(L"C:x", MAX_PATH, onC, nullptr);
    wchar_t current[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, current);
    EXPECT_EQ(W(CurrentDirectory()), current);
    const std::wstring deepDotted = L"C:\\" + deep + L"\\.\\b", deepFull = L"C:\\" + deep + L"\\b",
                       huge = L"C:\\" + std::wstring(40000, L'x');
    // clang-format off
    const struct {
        Combine run;
        const wchar_t *first, *second, *result;
    } rows[] = {
        {join, L"a\\", L"\\b", L"a\\b"}, {join, L"", L"b", L"b"}, {join, L"a", L"/b", L"a/b"}, {join, L"a/b", L"c", L"a/b/c"},
        {join, L"a", L"", L"a\\"},
        {separate, L"", L"", L"\\"}, {separate, L"/", L"", L"/"}, {separate, L"C:\\a/b", L"", L"C:\\a/b/"},
        {separate, L"/a", L"", L"/a\\"},
        {separate, L"\\\\?\\C:", L"", L"\\\\?\\C:\\"}, {separate, L"\\\\?\\C:/x", L"", L"\\\\?\\C:/x/"},
        {merge, L"C:\\logs", L"d\\name.txt", L"C:\\logs\\name.txt"}, {merge, L" C:\\a\t", L"b", L"C:\\a\\b"},
        {merge, L"", L"dir\\x.txt", L"x.txt"}, {merge, L"\\\\?\\UNC\\srv\\sh", L"x", L"\\\\?\\UNC\\srv\\sh\\x"},
        {merge, L"\\\\?\\Volume{5}", L"d\\x.y", L"\\\\?\\Volume{5}\\x.y"},
        {absolute, L"C:\\base", L"x", L"C:\\base\\x"}, {absolute, L"\\\\srv\\sh\\d", L"\\x", L"\\\\srv\\sh\\x"},
        {absolute, L"C:\\b", L"\\\\s\\x", L"\\\\s\\x"}, {absolute, L"D:\\b", L"C:x", onC},
        {full, L"  C:\\a\\..\\b \t", L"", L"C:\\b"}, {full, L"C:\\\u00A0x", L"", L"C:\\\u00A0x"}, {full, L" \t", L"", L""},
        {full, deepDotted.c_str(), L"", deepFull.c_str()}, {full, huge.c_str(), L"", huge.c_str()},
    };
    // clang-format on
    for (int i = 0; i < int(std::size(rows)); ++i)
        EXPECT_EQ(W(rows[i].run(rows[i].first, rows[i].second)), rows[i].result) << "row " << i;

    EXPECT_EQ(W(MakePath(L"C", deep.c_str(), L"n", L"e")), L"C:" + deep + L"\\n.e");
    EXPECT_EQ(W(MakePath(L"C:", L"dir\\", L"n", L".x")), L"C:dir\\n.x");
    EXPECT_EQ(W(MakePath(L"", L"", L"", L"x")), L".x");
}

// A module whose name exceeds the first capacity of 260 characters needs the doubling; what is
// not a module raises the platform's failure, not an empty name.
TEST(PathNames, ModuleFileNameBeyondFirstCapacity)
{
    std::wstring directory = L"\\\\?\\" + (std::filesystem::temp_directory_path() / L"ZelkorLongModuleName").wstring();
    CreateDirectoryW(directory.c_str(), nullptr);
    for (int i = 0; i < 3; ++i) {
        directory += L"\\" + std::wstring(120, wchar_t(L'a' + i));
        CreateDirectoryW(directory.c_str(), nullptr);
    }
    const std::wstring self = W(ModuleFileName(nullptr)), copy = directory + L"\\copy.dll";
    ASSERT_TRUE(CopyFileW((self.substr(0, self.rfind(L'\\') + 1) + L"Trevalic.dll").c_str(), copy.c_str(), FALSE));
    // Mapped only: its entry and start-up do not run.
    HMODULE module = LoadLibraryExW(copy.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    ASSERT_NE(module, nullptr) << GetLastError();
    const std::wstring name = W(ModuleFileName(module)), tail = copy.substr(copy.find(L"ZelkorLongModuleName"));
    EXPECT_TRUE(name.ends_with(tail)) << testing::PrintToString(name);
    FreeLibrary(module), DeleteFileW(copy.c_str());

    static int notAModule;
    CException* e = Catch<CException>([] { ModuleFileName(reinterpret_cast<HMODULE>(&notAModule)); });
    EXPECT_EQ(dynamic_cast<CInternalError*>(e), nullptr);
    delete e;
}

// The open modes' access and sharing fields whole, as documented; a field without a row is an
// internal error. Creation bits change neither.
TEST(OpenModes, AccessAndShareBitsOfEveryField)
{
    // By field value (the sharing field divided by 0x10); -1: no row, an internal error that,
    // shown instead of raised, gives 0.
    const int64_t access[8] = {-1, 0x80000000, 0x40000000, 0xC0000000, 0xA0000000, -1, -1, 0xE0000000};
    const int64_t share[8] = {-1, 2, 1, 0, 3, -1, -1, -1};
    const FileOpenMode creation = FM_Create | FM_NoTruncate | FM_CreateNew;
    for (uint32_t field = 0; field < 8; ++field) {
        const FileOpenMode accessMode = creation | FM_DenyNone | field, shareMode = creation | FM_Read | field << 4;
        if (access[field] < 0)
            EXPECT_EQ(ShownWhenSuppressed([&] { EXPECT_EQ(AccessFromMode(accessMode), 0u); }), 1u) << "access field " << field;
        else
            EXPECT_EQ(AccessFromMode(accessMode), access[field]) << "access field " << field;
        if (share[field] < 0)
            EXPECT_EQ(ShownWhenSuppressed([&] { EXPECT_EQ(ShareFromMode(shareMode), 0u); }), 1u) << "sharing field " << field;
        else
            EXPECT_EQ(ShareFromMode(shareMode), share[field]) << "sharing field " << field;
    }
}
