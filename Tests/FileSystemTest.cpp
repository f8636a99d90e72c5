// Path names: tables of paths and their expected pieces; the platform calls against the
// platform's own answers.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "Errors.h"
#include "FileSystem.h"
#include "TestSupport.h"

using namespace Zelkor;

namespace {

std::wstring W(const CUnicodeString& s)
{
    return std::wstring(s.GetText(), s.GetLength());
}

#define ROW(text) testing::PrintToString(std::wstring(text))

} // namespace

TEST(PathNames, KindsAndLongPrefixes)
{
    const struct {
        const wchar_t* path;
        PathKind kind;
        const wchar_t* stripped;
    } rows[] = {
        {L"", PK_Relative, L""}, {L"a\\b", PK_Relative, L"a\\b"}, {L"a:b", PK_DriveRelative, L"a:b"},
        {L"/", PK_Rooted, L"/"}, {L"\\/x", PK_Rooted, L"\\/x"}, {L"//srv", PK_Unc, L"//srv"},
        {L"C:", PK_DriveRelative, L"C:"}, {L"::", PK_DriveRelative, L"::"}, {L"C:/x", PK_Absolute, L"C:/x"},
        {L"\\\\?\\UNC\\srv\\s", PK_Unc, L"//srv\\s"}, {L"\\\\?\\unc\\srv", PK_Unc, L"//srv"},
        {L"\\\\?\\C:\\x", PK_Absolute, L"C:\\x"}, {L"\\\\?\\c:", PK_DriveRelative, L"c:"},
        {L"\\\\?\\UNC", PK_Relative, L"UNC"}, {L"\\\\?\\", PK_Relative, L""},
        {L"\\\\?", PK_Unc, L"\\\\?"}, {L"//?/C:\\x", PK_Unc, L"//?/C:\\x"}, // '/' makes no long prefix
    };
    for (const auto& row : rows) {
        EXPECT_EQ(GetPathKind(row.path), row.kind) << ROW(row.path);
        EXPECT_EQ(W(StripLongPrefix(row.path)), row.stripped) << ROW(row.path);
        EXPECT_EQ(HasLongPrefix(row.path), std::wstring(row.path) != row.stripped) << ROW(row.path);
    }
    EXPECT_EQ(W(LongUncPrefix), L"\\\\?\\UNC\\");
    EXPECT_EQ(W(LongPathPrefix), L"\\\\?\\");
}

TEST(PathNames, AddLongPrefix)
{
    const struct {
        const wchar_t *path, *result;
        bool changed;
    } rows[] = {
        {L"//srv/share/x", L"\\\\?\\UNC\\srv\\share\\x", true}, {L"C:/a/b", L"\\\\?\\C:\\a\\b", true},
        {L"\\\\?\\C:/x", L"\\\\?\\C:/x", false}, {L"\\\\?\\unc\\srv", L"\\\\?\\unc\\srv", false},
    };
    for (const auto& row : rows) {
        CUnicodeString path(row.path);
        EXPECT_EQ(AddLongPrefix(path), row.changed) << ROW(row.path);
        EXPECT_EQ(W(path), row.result) << ROW(row.path);
    }
    for (const wchar_t* path : {L"", L"a\\b", L"\\a", L"C:x"}) {
        CUnicodeString text(path);
        if (CInternalError* e = Catch<CInternalError>([&] { AddLongPrefix(text); })) {
            EXPECT_STREQ(e->GetSourceFile(), L"Src/FileSystem") << ROW(path);
            delete e;
        }
        EXPECT_EQ(W(text), path);
    }
}

TEST(PathNames, SplitIntoComponents)
{
    const struct {
        const wchar_t* path;
        PathKind kind;
        const wchar_t* components;
    } rows[] = {
        {L"", PK_Relative, L""},
        {L"\\\\?\\C:\\a\\\\b\\", PK_Absolute, L"C:|a|b"},
        {L"C:x\\y", PK_DriveRelative, L"C:|x|y"},
        {L"/", PK_Rooted, L""},
        {L"\\\\?\\UNC\\srv\\share\\", PK_Unc, L"srv|share"},
        {L" \ta/b//c \n", PK_Relative, L"a|b|c"},
        {L"\u00A0a\\b", PK_Relative, L"\u00A0a|b"}, // a no-break space belongs to the name
        {L"\u3000\\a", PK_Rooted, L"a"},
        {L"\\\\?\\\\\\?\\C:x", PK_Unc, L"?|C:x"}, // a second prefix is a name, not a drive
    };
    for (const auto& row : rows) {
        CArray<CUnicodeString> parts;
        parts.Add(CUnicodeString(L"stale"));
        EXPECT_EQ(SplitPath(row.path, parts), row.kind) << ROW(row.path);
        std::wstring joined;
        for (int32_t i = 0; i < parts.GetSize(); ++i)
            joined += (i ? L"|" : L"") + W(parts[i]);
        EXPECT_EQ(joined, row.components) << ROW(row.path);
    }
}

TEST(PathNames, JoinAndAddSeparator)
{
    const struct {
        const wchar_t *base, *tail, *joined;
    } joins[] = {
        {L"a\\", L"\\b", L"a\\b"}, {L"a", L"b", L"a\\b"}, {L"", L"b", L"b"}, {L"a", L"/b", L"a/b"},
        {L"a/b", L"c", L"a/b/c"}, {L"a", L"", L"a\\"}, {L"C:", L"x", L"C:\\x"}, {L"a//", L"/b", L"a//b"},
    };
    for (const auto& row : joins)
        EXPECT_EQ(W(JoinPath(row.base, row.tail)), row.joined) << ROW(row.base) << " + " << ROW(row.tail);

    const struct {
        const wchar_t *path, *result;
    } separators[] = {
        {L"", L"\\"}, {L"/", L"/"}, {L"a", L"a\\"}, {L"a\\", L"a\\"}, {L"C:\\a/b", L"C:\\a/b/"}, {L"/a", L"/a\\"},
        {L"\\\\?\\C:", L"\\\\?\\C:\\"}, {L"\\\\?\\C:/x", L"\\\\?\\C:/x/"},
    };
    for (const auto& row : separators)
        EXPECT_EQ(W(AddPathSeparator(row.path)), row.result) << ROW(row.path);
}

TEST(PathNames, RemoveLastComponent)
{
    const struct {
        const wchar_t *path, *result; // result equal to path: false expected
    } rows[] = {
        {L"C:\\a\\b", L"C:\\a"}, {L"C:\\a", L"C:\\a"}, {L"C:\\a\\", L"C:\\a\\"}, {L"C:a\\b", L"C:a"},
        {L"\\\\srv\\share", L"\\\\srv"}, {L"\\\\srv", L"\\\\srv"}, {L"", L""}, {L"a", L"a"}, {L"\\a", L"\\a"},
        {L"a/b/", L"a"}, {L"\\\\?\\C:\\a", L"\\\\?\\C:\\a"}, {L"\\\\?\\UNC\\srv\\share", L"\\\\?\\UNC\\srv"},
        {L"\\\\?\\Volume{5}\\a\\b", L"\\\\?\\Volume{5}\\a"}, {L"\\\\?\\Volume{5}\\a", L"\\\\?\\Volume{5}\\a"},
    };
    for (const auto& row : rows) {
        CUnicodeString path(row.path);
        EXPECT_EQ(RemoveLastPathComponent(path), std::wstring(row.path) != row.result) << ROW(row.path);
        EXPECT_EQ(W(path), row.result) << ROW(row.path);
    }
}

TEST(PathNames, Root)
{
    const struct {
        const wchar_t *path, *root;
    } rows[] = {
        {L"//srv/share/x", L"//srv/share/"}, {L"\\\\srv\\share", L"\\\\srv\\share\\"}, {L"\\\\srv", L"\\\\srv\\"},
        {L"\\\\?\\UNC\\srv\\share\\x", L"\\\\?\\UNC\\srv\\share\\"}, {L"\\\\?\\C:\\x", L"\\\\?\\C:\\"},
        {L" C:\\x\\y ", L"C:\\"}, {L"C:x", L"C:\\"}, {L"a", L"\\"}, {L"", L"\\"},
        // Volumes without a drive letter keep the prefix; the volume name is the root.
        {L"\\\\?\\Volume{5d1e}\\dir\\f", L"\\\\?\\Volume{5d1e}\\"}, {L"\\\\?\\Volume{5d1e}", L"\\\\?\\Volume{5d1e}\\"},
        {L"\\\\?\\GLOBALROOT\\Device\\Harddisk0\\x", L"\\\\?\\GLOBALROOT\\Device\\Harddisk0\\"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(W(GetRoot(row.path)), row.root) << ROW(row.path);
}

TEST(PathNames, ExtractParts)
{
    const struct {
        const wchar_t *path, *drive, *directory, *name, *extension, *dirPath, *fileName;
    } rows[] = {
        {L"", L"", L"", L"", L"", L"", L""},
        {L"C:\\a\\b.txt", L"C:", L"\\a\\", L"b", L".txt", L"C:\\a\\", L"b.txt"},
        {L"\\\\?\\C:\\a\\b.txt", L"C:", L"\\a\\", L"b", L".txt", L"\\\\?\\C:\\a\\", L"b.txt"},
        {L"\\\\?\\UNC\\srv\\sh\\f.t", L"", L"//srv\\sh\\", L"f", L".t", L"\\\\?\\UNC\\srv\\sh\\", L"f.t"},
        {L"dir.x\\a.b.c", L"", L"dir.x\\", L"a.b", L".c", L"dir.x\\", L"a.b.c"},
        {L"C:x.y", L"C:", L"", L"x", L".y", L"C:", L"x.y"},
        {L".hidden", L"", L"", L"", L".hidden", L"", L".hidden"},
        {L"a/b/", L"", L"a/b/", L"", L"", L"a/b/", L""},
        {L"\\\\?\\Volume{5}\\d\\f.x", L"", L"Volume{5}\\d\\", L"f", L".x", L"\\\\?\\Volume{5}\\d\\", L"f.x"},
        {L"\\\\?\\GLOBALROOT\\Device\\X", L"", L"GLOBALROOT\\Device\\", L"X", L"", L"\\\\?\\GLOBALROOT\\Device\\X\\", L"X"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(W(ExtractDrive(row.path)), row.drive) << ROW(row.path);
        EXPECT_EQ(W(ExtractDirectory(row.path)), row.directory) << ROW(row.path);
        EXPECT_EQ(W(ExtractName(row.path)), row.name) << ROW(row.path);
        EXPECT_EQ(W(ExtractExtension(row.path)), row.extension) << ROW(row.path);
        EXPECT_EQ(W(ExtractPath(row.path)), row.dirPath) << ROW(row.path);
        EXPECT_EQ(W(ExtractFileName(row.path)), row.fileName) << ROW(row.path);
    }
}

TEST(PathNames, MakeMergeAndMakeAbsolute)
{
    const struct {
        const wchar_t *drive, *directory, *name, *extension, *path;
    } makes[] = {
        {L"C", L"\\dir", L"name", L"txt", L"C:\\dir\\name.txt"}, {L"C:", L"dir\\", L"n", L".x", L"C:dir\\n.x"},
        {L"", L"", L"", L"", L""}, {L"", L"", L"", L"x", L".x"},
    };
    for (const auto& row : makes)
        EXPECT_EQ(W(MakePath(row.drive, row.directory, row.name, row.extension)), row.path) << ROW(row.path);
    const std::wstring deep(300, L'd'); // beyond the 260 characters the composition starts with
    EXPECT_EQ(W(MakePath(L"C", deep.c_str(), L"n", L"e")), L"C:" + deep + L"\\n.e");

    const struct {
        const wchar_t *directory, *file, *merged;
    } merges[] = {
        {L"C:\\logs", L"d\\name.txt", L"C:\\logs\\name.txt"}, {L" C:\\a\t", L"b", L"C:\\a\\b"},
        {L"C:", L"f.txt", L"C:\\f.txt"}, {L"", L"dir\\x.txt", L"x.txt"}, {L"\\", L"x", L"\\x"},
        {L"\\\\?\\UNC\\srv\\sh", L"x", L"\\\\?\\UNC\\srv\\sh\\x"},
        {L"\\\\?\\Volume{5}", L"d\\x.y", L"\\\\?\\Volume{5}\\x.y"}, {L"\\\\?\\Volume{5}\\d", L"x", L"\\\\?\\Volume{5}\\d\\x"},
    };
    for (const auto& row : merges)
        EXPECT_EQ(W(MergePath(row.directory, row.file)), row.merged) << ROW(row.directory) << " " << ROW(row.file);

    const struct {
        const wchar_t *base, *path, *result;
    } absolutes[] = {
        {L"C:\\base", L"x", L"C:\\base\\x"}, {L"C:\\base", L"\\x", L"C:\\x"}, {L"\\\\srv\\sh\\d", L"\\x", L"\\\\srv\\sh\\x"},
        {L"C:\\b", L"\\\\s\\x", L"\\\\s\\x"},
    };
    for (const auto& row : absolutes)
        EXPECT_EQ(W(MakeAbsolutePath(row.base, row.path)), row.result) << ROW(row.base) << " " << ROW(row.path);
    wchar_t expected[MAX_PATH + 1];
    const DWORD n = GetFullPathNameW(L"C:x", MAX_PATH + 1, expected, nullptr);
    EXPECT_EQ(W(MakeAbsolutePath(L"D:\\ignored", L"C:x")), std::wstring(expected, n));
}

TEST(PathNames, FullPathAgreesWithPlatform)
{
    const std::wstring deep = L"C:\\" + std::wstring(300, L'a') + L"\\..\\b";
    const std::wstring huge(40000, L'x'); // relative: the answer also holds the current directory
    const struct {
        std::wstring input, given; // given to the platform: without surrounding blanks
    } rows[] = {
        {L"a\\..\\b", L"a\\..\\b"}, {L"C:x", L"C:x"}, {L"\\x", L"\\x"},
        {L"//srv/share/../x", L"//srv/share/../x"}, {L"  C:\\a \t", L"C:\\a"}, {L"\u00A0x", L"\u00A0x"},
        {deep, deep}, {huge, huge}, {L"\\\\?\\C:\\a\\..\\b", L"\\\\?\\C:\\a\\..\\b"},
    };
    for (const auto& row : rows) {
        std::wstring expected(GetFullPathNameW(row.given.c_str(), 0, nullptr, nullptr), L'\0');
        expected.resize(GetFullPathNameW(row.given.c_str(), DWORD(expected.size()), &expected[0], nullptr));
        CUnicodeString path(row.input.c_str());
        GetFullPath(path);
        EXPECT_EQ(W(path), expected) << ROW(row.input.c_str());
    }
    CUnicodeString blank(L" \t");
    GetFullPath(blank);
    EXPECT_TRUE(blank.IsEmpty());
}

TEST(PathNames, CurrentDirectoryAndModuleFileName)
{
    wchar_t expected[4096];
    DWORD n = GetCurrentDirectoryW(4096, expected);
    EXPECT_EQ(W(CurrentDirectory()), std::wstring(expected, n));
    for (HMODULE module : {HMODULE(nullptr), GetModuleHandleW(L"kernel32.dll")}) {
        n = GetModuleFileNameW(module, expected, 4096);
        EXPECT_EQ(W(ModuleFileName(module)), std::wstring(expected, n));
    }
    // Not a module: the platform's failure is raised, not an empty name returned.
    static int notAModule;
    CException* e = Catch<CException>([] { ModuleFileName(reinterpret_cast<HMODULE>(&notAModule)); });
    EXPECT_EQ(dynamic_cast<CInternalError*>(e), nullptr);
    delete e;
}

// A module whose name exceeds the first capacity of 260 characters needs the doubling.
TEST(PathNames, ModuleFileNameBeyondFirstCapacity)
{
    wchar_t buffer[MAX_PATH + 1];
    ASSERT_GT(GetTempPathW(MAX_PATH + 1, buffer), 0u);
    std::wstring directory = L"\\\\?\\" + std::wstring(buffer) + L"ZelkorLongModuleName";
    CreateDirectoryW(directory.c_str(), nullptr);
    for (int i = 0; i < 3; ++i) {
        directory += L"\\" + std::wstring(120, wchar_t(L'a' + i));
        CreateDirectoryW(directory.c_str(), nullptr);
    }
    std::wstring source(buffer, GetModuleFileNameW(nullptr, buffer, MAX_PATH + 1));
    source = source.substr(0, source.find_last_of(L'\\') + 1) + L"Trevalic.dll";
    const std::wstring copy = directory + L"\\copy.dll";
    ASSERT_TRUE(CopyFileW(source.c_str(), copy.c_str(), FALSE)) << GetLastError();
    // Mapped only: its entry and start-up do not run.
    HMODULE module = LoadLibraryExW(copy.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    ASSERT_NE(module, nullptr) << GetLastError();
    std::wstring expected(2048, L'\0');
    expected.resize(GetModuleFileNameW(module, &expected[0], 2048));
    EXPECT_GT(expected.size(), size_t(MAX_PATH));
    EXPECT_EQ(W(ModuleFileName(module)), expected);
    FreeLibrary(module);
    DeleteFileW(copy.c_str());
}
