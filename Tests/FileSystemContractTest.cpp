// The contract every file system keeps. Each instantiation names a file system by a base
// directory; every case works in a fresh directory below it, only through GetFileSystem and
// CFile, and checks only what all file systems promise alike.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Errors.h"
#include "File.h"
#include "FileSystem.h"
#include "TestSupport.h"

using namespace Zelkor;

// Outside the anonymous namespace: GoogleTest's factories hold a copy.
struct FileSystemUnderTest {
    const char* name;
    CUnicodeString (*base)(); // a directory below which each case makes its own
    uint32_t createNewOnExistingCode; // the error of CREATE_NEW over an existing file
};

namespace {

std::wstring W(const CUnicodeString& s)
{
    return std::wstring(s.GetText(), s.GetLength());
}

CUnicodeString NativeBase()
{
    wchar_t temp[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    return CUnicodeString(temp).Left(int32_t(n) - 1); // without the trailing separator
}

void RemoveTree(CFileSystemBase& fs, const CUnicodeString& directory)
{
    CArray<CFileStatus> entries;
    fs.FindFiles(directory, entries, L"*", nullptr);
    for (const CFileStatus& entry : entries) {
        if (entry.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            RemoveTree(fs, entry.FullName);
        } else {
            fs.SetAttributes(entry.FullName, FILE_ATTRIBUTE_NORMAL);
            fs.DeleteFile(entry.FullName);
        }
    }
    fs.RemoveDirectory(directory);
}

} // namespace

class FileSystemContract : public testing::TestWithParam<FileSystemUnderTest> {
protected:
    void SetUp() override
    {
        const auto* test = testing::UnitTest::GetInstance()->current_test_info();
        root = JoinPath(GetParam().base(), CUnicodeString(L"Contract-") + std::to_wstring(GetCurrentProcessId()).c_str() +
                                               L"-" + std::wstring(test->name(), test->name() + strlen(test->name())).c_str());
        for (int32_t i = 0; i < root.GetLength(); ++i)
            if (root[i] == L'/')
                root.SetAt(i, L'-'); // the parameter's index
        fs = &GetFileSystem(root);
        fs->CreateDirectory(root, false);
        ASSERT_TRUE(fs->IsDirectoryEmpty(root));
    }
    void TearDown() override
    {
        try {
            RemoveTree(*fs, root);
        } catch (CException* e) {
            ADD_FAILURE() << "cleaning up: " << testing::PrintToString(W(e->GetMessageText()));
            delete e;
        }
    }

    CUnicodeString At(const wchar_t* name) const { return JoinPath(root, name); }

    void Put(const CUnicodeString& path, const std::string& bytes)
    {
        CFile file;
        file.Open(path, FM_Write | FM_DenyAll | FM_Create, FILE_ATTRIBUTE_NORMAL);
        file.Write(bytes.data(), int32_t(bytes.size()));
        file.Close();
    }
    std::string Get(const CUnicodeString& path)
    {
        CFile file;
        file.Open(path, FM_Read | FM_DenyWrite, FILE_ATTRIBUTE_NORMAL);
        std::string bytes(size_t(file.GetLength()), '?');
        if (!bytes.empty()) {
            EXPECT_EQ(file.Read(bytes.data(), int32_t(bytes.size())), int32_t(bytes.size()));
        }
        return bytes;
    }
    // The error code of a raised file exception, 0 when nothing was raised.
    template <class F>
    uint32_t ErrorOf(F f)
    {
        try {
            f();
        } catch (CException* e) {
            auto* fileError = dynamic_cast<CFileException*>(e);
            const uint32_t code = fileError ? fileError->GetErrorCode() : 0xDEAD;
            EXPECT_TRUE(fileError) << testing::PrintToString(W(e->GetMessageText()));
            delete e;
            return code;
        }
        return 0;
    }

    CUnicodeString root;
    CFileSystemBase* fs = nullptr;
};

TEST_P(FileSystemContract, OpenWithEveryDisposition)
{
    const uint32_t exists = GetParam().createNewOnExistingCode;
    const struct {
        FileOpenMode mode;
        bool existsBefore;
        uint32_t error;  // of the open
        int64_t length;  // afterwards, of the file that had "abc"
    } rows[] = {
        {FM_Read | FM_DenyNone, false, ERROR_FILE_NOT_FOUND, -1},
        {FM_Read | FM_DenyNone, true, 0, 3},
        {FM_ReadWrite | FM_DenyNone | FM_CreateNew, false, 0, 0},
        {FM_ReadWrite | FM_DenyNone | FM_CreateNew, true, exists, 3},
        {FM_Write | FM_DenyAll | FM_Create, true, 0, 0},
        {FM_Write | FM_DenyAll | FM_Create, false, 0, 0},
        {FM_Write | FM_DenyWrite | FM_Create | FM_NoTruncate, true, 0, 3},
        {FM_Write | FM_DenyWrite | FM_Create | FM_NoTruncate, false, 0, 0},
    };
    int index = 0;
    for (const auto& row : rows) {
        const CUnicodeString path = At((L"f" + std::to_wstring(index++)).c_str());
        if (row.existsBefore)
            Put(path, "abc");
        CFile file;
        EXPECT_EQ(ErrorOf([&] { file.Open(path, row.mode, FILE_ATTRIBUTE_NORMAL); }), row.error) << index;
        EXPECT_EQ(file.IsOpen(), row.error == 0) << index;
        file.Close();
        EXPECT_EQ(fs->FileExists(path, FM_Exists), row.length >= 0) << index;
        if (row.length >= 0) {
            EXPECT_EQ(int64_t(Get(path).size()), row.length) << index;
        }
    }
}

TEST_P(FileSystemContract, ReadWriteSeekAndLength)
{
    CFile file;
    file.Open(At(L"data"), FM_ReadWrite | FM_DenyAll | FM_Create, FILE_ATTRIBUTE_NORMAL);
    file.Write("hello world", 11);
    EXPECT_EQ(file.GetPosition(), 11);
    EXPECT_TRUE(file.IsEndOfFile());
    EXPECT_EQ(file.Seek(-5, FILE_END), 6);
    char buffer[16] = {};
    EXPECT_EQ(file.Read(buffer, 16), 5);
    EXPECT_EQ(std::string(buffer, 5), "world");
    EXPECT_EQ(file.Read(buffer, 16), 0);
    EXPECT_EQ(file.Seek(-5, FILE_CURRENT), 6);
    // A seek before the start fails and leaves the position.
    EXPECT_NE(ErrorOf([&] { file.Seek(-7, FILE_CURRENT); }), 0u);
    EXPECT_EQ(file.GetPosition(), 6);
    // Growth reads as zeros; the position stays at the new length.
    file.SetLength(20);
    EXPECT_EQ(file.GetPosition(), 20);
    EXPECT_TRUE(file.IsEndOfFile());
    file.Seek(0, FILE_BEGIN);
    EXPECT_EQ(file.Read(buffer, 16), 16);
    EXPECT_EQ(std::string(buffer, 16), std::string("hello world") + std::string(5, '\0'));
    file.SetLength(5);
    EXPECT_EQ(file.GetLength(), 5);
    file.Seek(100, FILE_BEGIN); // beyond the end is allowed; a write there fills the gap with zeros
    EXPECT_FALSE(file.IsEndOfFile());
    file.Write("!", 1);
    file.Flush();
    file.Close();
    EXPECT_EQ(Get(At(L"data")), std::string("hello") + std::string(95, '\0') + "!");
}

TEST_P(FileSystemContract, SharingBetweenTwoOpens)
{
    const struct {
        FileOpenMode first, second;
        uint32_t error;
    } rows[] = {
        {FM_Read | FM_DenyWrite, FM_Read | FM_DenyNone, 0},
        {FM_Read | FM_DenyWrite, FM_Write | FM_DenyNone, ERROR_SHARING_VIOLATION},
        {FM_Write | FM_DenyAll, FM_Read | FM_DenyNone, ERROR_SHARING_VIOLATION},
        {FM_Read | FM_DenyNone, FM_Read | FM_DenyWrite, 0},
        {FM_Write | FM_DenyNone, FM_Read | FM_DenyWrite, ERROR_SHARING_VIOLATION}, // denies a present writer
        {FM_Write | FM_DenyRead, FM_Write | FM_DenyNone, 0},
    };
    const CUnicodeString path = At(L"shared");
    Put(path, "0123");
    int index = 0;
    for (const auto& row : rows) {
        ++index;
        CFile first, second;
        first.Open(path, row.first, FILE_ATTRIBUTE_NORMAL);
        EXPECT_EQ(ErrorOf([&] { second.Open(path, row.second | FM_NoTruncate, FILE_ATTRIBUTE_NORMAL); }), row.error)
            << index;
        EXPECT_EQ(fs->FileExists(path, row.second), row.error == 0) << index;
    }
    // What one open writes, another reads at once.
    CFile writer, reader;
    writer.Open(path, FM_Write | FM_DenyNone, FILE_ATTRIBUTE_NORMAL);
    reader.Open(path, FM_Read | FM_DenyNone, FILE_ATTRIBUTE_NORMAL);
    writer.Write("ab", 2);
    char got[4] = {};
    EXPECT_EQ(reader.Read(got, 4), 4);
    EXPECT_EQ(std::string(got, 4), "ab23");
}

TEST_P(FileSystemContract, AttributesAndRecreatingAHiddenFile)
{
    const CUnicodeString path = At(L"hidden");
    Put(path, "abc");
    fs->SetAttributes(path, FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(fs->GetAttributes(path) & 0x7, uint32_t(FILE_ATTRIBUTE_HIDDEN));
    Put(path, "x"); // CREATE_ALWAYS with FILE_ATTRIBUTE_NORMAL over a hidden file
    EXPECT_EQ(Get(path), "x");
    EXPECT_EQ(fs->GetAttributes(path) & FILE_ATTRIBUTE_HIDDEN, uint32_t(FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(fs->GetAttributes(root) & FILE_ATTRIBUTE_DIRECTORY, uint32_t(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(ErrorOf([&] { fs->GetAttributes(At(L"missing")); }), uint32_t(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(ErrorOf([&] { fs->SetAttributes(At(L"missing"), 0); }), uint32_t(ERROR_FILE_NOT_FOUND));
}

TEST_P(FileSystemContract, CopyMoveReplaceRenameArgumentOrder)
{
    const struct {
        const char* name;
        void (*run)(CFileSystemBase&, const CUnicodeString& source, const CUnicodeString& target);
        bool sourceStays;
    } rows[] = {
        {"copy", [](CFileSystemBase& f, const CUnicodeString& s, const CUnicodeString& t) { f.CopyFile(t, s); }, true},
        {"move", [](CFileSystemBase& f, const CUnicodeString& s, const CUnicodeString& t) { f.MoveFile(t, s); }, false},
        {"replace", [](CFileSystemBase& f, const CUnicodeString& s, const CUnicodeString& t) { f.ReplaceFile(t, s); }, false},
        {"rename", [](CFileSystemBase& f, const CUnicodeString& s, const CUnicodeString& t) { f.RenameFile(s, t); }, false},
    };
    for (const auto& row : rows) {
        const CUnicodeString source = At(L"source"), target = At(L"target");
        Put(source, "new");
        if (std::string(row.name) != "rename")
            Put(target, "old"); // replaced
        row.run(*fs, source, target);
        EXPECT_EQ(Get(target), "new") << row.name;
        EXPECT_EQ(fs->FileExists(source, FM_Exists), row.sourceStays) << row.name;
        fs->TryDeleteFile(source);
        fs->DeleteFile(target);
        EXPECT_FALSE(fs->TryDeleteFile(target)) << row.name;
    }
    // Copying a file onto itself keeps it.
    Put(At(L"self"), "me");
    fs->CopyFile(At(L"self"), At(L"self"));
    EXPECT_EQ(Get(At(L"self")), "me");
}

TEST_P(FileSystemContract, DirectoriesCreatedWithParentsFoundAndRemoved)
{
    const CUnicodeString deep = At(L"a\\b\\c");
    fs->CreateDirectory(deep, false);
    fs->CreateDirectory(deep, false); // existing is fine
    EXPECT_EQ(ErrorOf([&] { fs->CreateDirectory(deep, true); }), uint32_t(ERROR_ALREADY_EXISTS));
    Put(JoinPath(deep, L"f.txt"), "1");
    const struct {
        CUnicodeString path;
        bool isDirectory;
    } rows[] = {{At(L"a"), true}, {deep, true}, {JoinPath(deep, L"f.txt"), false}, {At(L"none"), false}};
    for (const auto& row : rows)
        EXPECT_EQ(fs->DirectoryExists(row.path), row.isDirectory) << testing::PrintToString(W(row.path));
    EXPECT_FALSE(fs->IsDirectoryEmpty(deep));
    EXPECT_FALSE(fs->IsDirectoryEmpty(At(L"a")));
    EXPECT_NE(ErrorOf([&] { fs->RemoveDirectory(deep); }), 0u);
    fs->DeleteFile(JoinPath(deep, L"f.txt"));
    EXPECT_TRUE(fs->IsDirectoryEmpty(deep));
    fs->RemoveDirectory(deep);
    EXPECT_FALSE(fs->DirectoryExists(deep));
    EXPECT_TRUE(fs->DirectoryExists(At(L"a\\b")));
}

TEST_P(FileSystemContract, FindFilesByMask)
{
    for (const wchar_t* name : {L"a.txt", L"b.txt", L"c.dat"})
        Put(At(name), "12345");
    fs->CreateDirectory(At(L"d.txt"), false);
    const struct {
        const wchar_t* mask;
        std::vector<std::wstring> names;
    } rows[] = {{L"*.txt", {L"a.txt", L"b.txt", L"d.txt"}}, {L"c.*", {L"c.dat"}}, {L"*.none", {}}};
    for (const auto& row : rows) {
        CArray<CFileStatus> list;
        list.Add(CFileStatus()); // emptied first
        fs->FindFiles(root, list, row.mask, nullptr);
        std::vector<std::wstring> names;
        for (const CFileStatus& entry : list) {
            names.push_back(W(entry.FileName));
            EXPECT_EQ(W(entry.FullName), W(JoinPath(root, entry.FileName)));
            const bool isDirectory = entry.FileName == L"d.txt";
            EXPECT_EQ((entry.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0, isDirectory);
            EXPECT_EQ(entry.FileLength, isDirectory ? 0 : 5);
            EXPECT_GT(entry.LastWriteTime, 0);
        }
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, row.names) << testing::PrintToString(std::wstring(row.mask));
    }
}

TEST_P(FileSystemContract, StatusRoundTripWithReadOnlyEitherWay)
{
    const CUnicodeString path = At(L"status.txt");
    Put(path, "1234567");
    const int64_t day = 864000000000LL, base = 132000000000000000LL; // 2019
    const struct {
        uint32_t attributes;
        int64_t creation, write, access;
    } rows[] = {
        {FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE, base, base + day, base + 2 * day}, // becomes read-only
        {FILE_ATTRIBUTE_ARCHIVE, base + 3 * day, base + 4 * day, base + 5 * day},             // stops being
        {FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE, 0, 0, 0},                            // attributes only
    };
    int64_t write = 0, access = 0;
    for (const auto& row : rows) {
        CFileStatus wanted;
        wanted.FileAttributes = row.attributes;
        wanted.CreationTime = row.creation;
        wanted.LastWriteTime = row.write;
        wanted.LastAccessTime = row.access;
        fs->SetStatus(path, wanted);
        if (row.creation)
            write = row.write, access = row.access;
        CFileStatus got;
        fs->GetStatus(path, got);
        EXPECT_EQ(W(got.FileName), L"status.txt");
        EXPECT_EQ(got.FileLength, 7);
        EXPECT_EQ(got.FileAttributes & 0x27, row.attributes);
        EXPECT_NE(got.CreationTime, 0); // Wine's files have no creation time of their own: not compared
        EXPECT_EQ(got.LastWriteTime, write);
        EXPECT_EQ(got.LastAccessTime, access);
    }
    // A missing entry leaves the record's other fields as they were.
    CFileStatus untouched;
    untouched.FileLength = 42;
    fs->GetStatus(At(L"missing"), untouched);
    EXPECT_EQ(untouched.FileLength, 42);
}

TEST_P(FileSystemContract, BadPathsRaiseFileExceptions)
{
    const CUnicodeString paths[] = {
        L"", JoinPath(root, std::wstring(32767, L'x').c_str()), At(L"missing\\"), At(L"missing/x"),
        At(L"a<b"), At(L"a|b"), At(L"a*b"),
    };
    const struct {
        const char* name;
        void (*run)(CFileSystemBase&, const CUnicodeString& bad, const CUnicodeString& good);
    } operations[] = {
        {"open", [](CFileSystemBase&, const CUnicodeString& p, const CUnicodeString&) {
             CFile f;
             f.Open(p, FM_Read | FM_DenyNone, 0);
         }},
        {"get attributes", [](CFileSystemBase& f, const CUnicodeString& p, const CUnicodeString&) { f.GetAttributes(p); }},
        {"set attributes", [](CFileSystemBase& f, const CUnicodeString& p, const CUnicodeString&) { f.SetAttributes(p, 0); }},
        {"delete", [](CFileSystemBase& f, const CUnicodeString& p, const CUnicodeString&) { f.DeleteFile(p); }},
        {"remove directory", [](CFileSystemBase& f, const CUnicodeString& p, const CUnicodeString&) { f.RemoveDirectory(p); }},
        {"copy from", [](CFileSystemBase& f, const CUnicodeString& p, const CUnicodeString& g) { f.CopyFile(g, p); }},
        {"move from", [](CFileSystemBase& f, const CUnicodeString& p, const CUnicodeString& g) { f.MoveFile(g, p); }},
        {"rename", [](CFileSystemBase& f, const CUnicodeString& p, const CUnicodeString& g) { f.RenameFile(p, g); }},
        {"set status", [](CFileSystemBase& f, const CUnicodeString& p, const CUnicodeString&) { f.SetStatus(p, {}); }},
        {"is empty", [](CFileSystemBase& f, const CUnicodeString& p, const CUnicodeString&) { f.IsDirectoryEmpty(p); }},
    };
    // Through GetFileSystem, as callers reach them: the empty path is no virtual one.
    for (const CUnicodeString& path : paths) {
        const std::string row = testing::PrintToString(W(path).substr(0, 80));
        CFileSystemBase& owner = GetFileSystem(path);
        for (const auto& op : operations)
            EXPECT_NE(ErrorOf([&] { op.run(owner, path, At(L"good")); }), 0u) << op.name << " " << row;
        EXPECT_FALSE(owner.DirectoryExists(path)) << row;
        EXPECT_FALSE(owner.FileExists(path, FM_Exists)) << row;
        EXPECT_FALSE(owner.FileExists(path, FM_Read | FM_DenyNone)) << row;
        EXPECT_FALSE(owner.TryDeleteFile(path)) << row;
    }
    EXPECT_FALSE(fs->FileExists(At(L"good"), FM_Exists));
}

INSTANTIATE_TEST_SUITE_P(Native, FileSystemContract, testing::Values(FileSystemUnderTest{"Native", NativeBase, ERROR_FILE_EXISTS}),
                         [](const auto& info) { return std::string(info.param.name); });

namespace {
CUnicodeString VirtualBase()
{
    return VirtualFilesPrefix.Left(VirtualFilesPrefix.GetLength() - 1);
}
} // namespace

// The virtual file system refuses CREATE_NEW over an existing file as access denied.
INSTANTIATE_TEST_SUITE_P(Virtual, FileSystemContract,
                         testing::Values(FileSystemUnderTest{"Virtual", VirtualBase, ERROR_ACCESS_DENIED}),
                         [](const auto& info) { return std::string(info.param.name); });
