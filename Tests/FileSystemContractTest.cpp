// The contract every file system keeps. An instantiation names a file system by a base
// directory; each case works in a fresh directory below it, only through GetFileSystem and
// CFile, and checks only what all file systems promise alike.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "Errors.h"
#include "File.h"
#include "TestSupport.h"

using namespace Zelkor;

struct FileSystemUnderTest {
    const char* name;
    CUnicodeString (*base)();         // the directory below which each case makes its own
    CUnicodeString (*otherBase)();    // the same for the other file system
    uint32_t createNewOnExistingCode; // the error of CREATE_NEW over an existing file
    bool listingAppends;              // FindFiles keeps what the list held
    bool statusOfMissingRaises;       // GetStatus of a missing path raises ERROR_FILE_NOT_FOUND
};

// Keeps CTest's test names free of the parameter's bytes.
void PrintTo(const FileSystemUnderTest& fileSystem, std::ostream* out)
{
    *out << fileSystem.name;
}

namespace {

CUnicodeString NativeBase()
{
    wchar_t temp[MAX_PATH + 1];
    return CUnicodeString(temp, int32_t(GetTempPathW(MAX_PATH + 1, temp)) - 1);
}

CUnicodeString VirtualBase()
{
    return VirtualFilesPrefix.Left(VirtualFilesPrefix.GetLength() - 1);
}

void RemoveTree(CFileSystemBase& fs, const CUnicodeString& directory)
{
    CArray<CFileStatus> entries;
    fs.FindFiles(directory, entries, L"*", nullptr);
    for (const CFileStatus& entry : entries) {
        if (entry.FileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            RemoveTree(fs, entry.FullName);
        else
            fs.SetAttributes(entry.FullName, FILE_ATTRIBUTE_NORMAL), fs.DeleteFile(entry.FullName);
    }
    fs.RemoveDirectory(directory);
}

// The code and the kind of the file exception f raised; (0, None) for none.
template <class F>
std::pair<uint32_t, FileErrorKind> Refusal(F f)
{
    try {
        f();
    } catch (CFileException* e) {
        const auto result = std::make_pair(e->GetErrorCode(), e->GetKind());
        delete e;
        return result;
    }
    return {0, FileErrorKind::None};
}

} // namespace

class FileSystemContract : public testing::TestWithParam<FileSystemUnderTest> {
protected:
    void SetUp() override
    {
        std::wstring name = L"Contract-" + std::to_wstring(GetCurrentProcessId()) + L"-";
        for (const char* c = testing::UnitTest::GetInstance()->current_test_info()->name(); *c; ++c)
            name += *c == '/' ? L'-' : wchar_t(*c);
        root = JoinPath(GetParam().base(), name.c_str());
        fs = &GetFileSystem(root);
        fs->CreateDirectory(root, false);
    }

    CUnicodeString At(const wchar_t* name) const { return JoinPath(root, name); }
    void TearDown() override { RemoveTree(*fs, root); }
    static void Put(const CUnicodeString& path, const std::string& bytes)
    {
        CFile file;
        file.Open(path, FM_Write | FM_DenyAll | FM_Create, FILE_ATTRIBUTE_NORMAL);
        file.Write(bytes.data(), int32_t(bytes.size()));
    }
    static std::string Get(const CUnicodeString& path)
    {
        CFile file;
        file.Open(path, FM_Read | FM_DenyWrite, 0);
        std::string bytes(size_t(file.GetLength()), '?');
        bytes.resize(size_t(file.Read(bytes.data(), int32_t(bytes.size()))));
        return bytes;
    }

    CUnicodeString root;
    CFileSystemBase* fs = nullptr;
};

TEST_P(FileSystemContract, ReadWriteSeekAndLength)
{
    CFile file;
    file.Open(At(L"data"), FM_ReadWrite | FM_DenyAll | FM_Create, FILE_ATTRIBUTE_NORMAL);
    file.Write("hello world", 11);
    file.Seek(2, FILE_BEGIN);
    EXPECT_EQ(file.Seek(-5, FILE_END), 6);
    char buffer[16] = {};
    EXPECT_EQ(file.Read(buffer, 16), 5);
    EXPECT_EQ(std::string(buffer, 5), "world");
    EXPECT_EQ(ErrorOf([&] { file.Seek(-12, FILE_CURRENT); }), uint32_t(ERROR_NEGATIVE_SEEK)); // position kept
    EXPECT_EQ(file.GetPosition(), 11);
    file.SetLength(16); // grows with zeros; the position is at the new length
    EXPECT_TRUE(file.IsEndOfFile());
    file.Seek(0, FILE_BEGIN);
    EXPECT_EQ(file.Read(buffer, 16), 16);
    EXPECT_EQ(std::string(buffer, 16), std::string("hello world\0\0\0\0\0", 16));
    file.SetLength(5);
    file.Seek(9, FILE_BEGIN); // a write past the end fills the gap with zeros
    EXPECT_FALSE(file.IsEndOfFile());
    file.Write("!", 1);
    file.Seek(1, FILE_BEGIN); // a write inside the data keeps the length
    file.Write("EL", 2);
    EXPECT_EQ(file.GetLength(), 10);
    // Past the largest position the sum wraps below the start: refused, the position kept.
    file.Seek(int64_t(1) << 40, FILE_BEGIN);
    for (uint32_t origin : {FILE_CURRENT, FILE_END}) {
        EXPECT_EQ(Refusal([&] { file.Seek(INT64_MAX - 5, origin); }), std::make_pair(uint32_t(ERROR_NEGATIVE_SEEK), FileErrorKind::BadSeek))
            << origin;
        EXPECT_EQ(file.GetPosition(), int64_t(1) << 40);
    }
    file.Close();
    EXPECT_EQ(Get(At(L"data")), std::string("hELlo\0\0\0\0!", 10));
    file.Open(At(L"data"), FM_Write | FM_DenyNone, 0); // reading needs read access
    EXPECT_EQ(Refusal([&] { file.Read(buffer, 1); }), std::make_pair(uint32_t(ERROR_ACCESS_DENIED), FileErrorKind::AccessDenied));
}

// Two writers, each with its own open, extend the file together, round after round, by
// alternate bytes: neither loses one.
TEST_P(FileSystemContract, ConcurrentWritersKeepEachOthersBytes)
{
    Put(At(L"shared"), "");
    std::atomic<int32_t> arrived{0};
    auto writer = [&](const char* byte) {
        CFile file;
        file.Open(At(L"shared"), FM_Write | FM_DenyNone | FM_Create | FM_NoTruncate, FILE_ATTRIBUTE_NORMAL);
        for (int32_t at = *byte - 'a'; at < 40000; at += 2) {
            for (++arrived; arrived.load() < 2 * (at / 2 + 1);) // both at the same round
                std::this_thread::yield();
            file.Seek(at, FILE_BEGIN), file.Write(byte, 1);
        }
    };
    std::thread a(writer, "a"), b(writer, "b");
    a.join(), b.join();
    const std::string written = Get(At(L"shared")); // lost bytes read as zeros, or are cut off
    EXPECT_TRUE(written.size() == 40000 && written.find_first_not_of("ab") == std::string::npos);
}

TEST_P(FileSystemContract, SharingBetweenTwoOpens)
{
    // (the first open, the second, the second's error)
    const std::tuple<FileOpenMode, FileOpenMode, uint32_t> rows[] = {
        {FM_Read | FM_DenyWrite, FM_Read | FM_DenyNone, 0},
        {FM_Read | FM_DenyWrite, FM_Write | FM_DenyNone, ERROR_SHARING_VIOLATION},
        {FM_Write | FM_DenyAll, FM_Read | FM_DenyNone, ERROR_SHARING_VIOLATION},
        {FM_Write | FM_DenyNone, FM_Read | FM_DenyWrite, ERROR_SHARING_VIOLATION},
        {FM_Write | FM_DenyRead, FM_Write | FM_DenyNone, 0},
    };
    const CUnicodeString path = At(L"shared");
    Put(path, "0123");
    for (const auto& [first, second, error] : rows) {
        CFile held, other;
        held.Open(path, first, 0);
        EXPECT_EQ(ErrorOf([&, second = second] { other.Open(path, second, 0); }), error) << first << " " << second;
        EXPECT_EQ(fs->FileExists(path, second), error == 0) << first << " " << second;
    }
}

TEST_P(FileSystemContract, CopyMoveReplaceRenameArgumentOrder)
{
    using Operation = void (*)(CFileSystemBase&, const CUnicodeString&, const CUnicodeString&);
    // (the operation given file system, source and target; whether the source stays; whether a target was there)
    const std::tuple<Operation, bool, bool> rows[] = {
        {[](CFileSystemBase& f, const CUnicodeString& s, const CUnicodeString& t) { f.CopyFile(t, s); }, true, true},
        {[](CFileSystemBase& f, const CUnicodeString& s, const CUnicodeString& t) { f.MoveFile(t, s); }, false, true},
        {[](CFileSystemBase& f, const CUnicodeString& s, const CUnicodeString& t) { f.ReplaceFile(t, s); }, false, true},
        {[](CFileSystemBase& f, const CUnicodeString& s, const CUnicodeString& t) { f.RenameFile(s, t); }, false, false},
    };
    for (int i = 0; i < int(std::size(rows)); ++i) {
        const auto& [run, sourceStays, targetExists] = rows[i];
        Put(At(L"source"), "new");
        if (targetExists)
            Put(At(L"target"), "old");
        run(*fs, At(L"source"), At(L"target"));
        EXPECT_EQ(Get(At(L"target")), "new") << i;
        EXPECT_EQ(fs->TryDeleteFile(At(L"source")), sourceStays) << i;
        fs->DeleteFile(At(L"target"));
    }
    // A rename never replaces: both files stay as they were.
    Put(At(L"source"), "new");
    Put(At(L"target"), "old");
    EXPECT_EQ(ErrorOf([&] { fs->RenameFile(At(L"source"), At(L"target")); }), uint32_t(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(Get(At(L"target")) + Get(At(L"source")), "oldnew");
    fs->DeleteFile(At(L"source"));
    fs->DeleteFile(At(L"target"));
    // Two spellings of one name are one file: a copy or move onto itself under another keeps it.
    Put(At(L"self"), "me");
    fs->CopyFile(At(L"SELF"), At(L"self"));
    fs->MoveFile(At(L"Self"), At(L"self"));
    EXPECT_EQ(Get(At(L"SELF")), "me");
    fs->DeleteFile(At(L"sElF"));
    EXPECT_FALSE(fs->FileExists(At(L"self"), FM_Exists));
}

// Copies and moves with one end in the other file system work through either; a move whose
// source is held open is refused and leaves no destination.
TEST_P(FileSystemContract, CopiesAndMovesAcrossFileSystems)
{
    Put(At(L"source"), "data");
    const auto other = [&](const wchar_t* name) { return JoinPath(GetParam().otherBase(), W(ExtractFileName(root) + name).c_str()); };
    const CUnicodeString there = other(L"there");
    fs->CopyFile(there, At(L"source"));
    EXPECT_EQ(Get(there), "data");
    fs->MoveFile(At(L"moved"), there);
    fs->ReplaceFile(there, At(L"moved"));
    fs->RenameFile(there, At(L"renamed"));
    EXPECT_EQ(Get(At(L"renamed")), "data");
    EXPECT_FALSE(fs->FileExists(At(L"moved"), FM_Exists) || GetFileSystem(there).FileExists(there, FM_Exists));
    CFile held;
    held.Open(At(L"renamed"), FM_Read | FM_DenyNone, 0);
    for (const CUnicodeString& target : {At(L"target"), other(L"target"), At(L"old"), other(L"old")}) {
        if (W(target).back() == L'd')
            Put(target, "old");
        EXPECT_EQ(Refusal([&] { fs->MoveFile(target, At(L"renamed")); }).second, FileErrorKind::SharingViolation);
        EXPECT_EQ(GetFileSystem(target).FileExists(target, FM_Exists) ? Get(target) : "none", W(target).back() == L'd' ? "old" : "none")
            << W(target);
        GetFileSystem(target).TryDeleteFile(target);
    }
    held.Close();
    EXPECT_EQ(Get(At(L"renamed")), "data");
}

TEST_P(FileSystemContract, FindFilesByMask)
{
    for (const wchar_t* name : {L"a.txt", L"b.txt", L"c.dat"})
        Put(At(name), "12345");
    fs->CreateDirectory(At(L"d.txt"), false);
    const std::pair<const wchar_t*, std::vector<std::wstring>> rows[] = {
        {L"*.txt", {L"a.txt", L"b.txt", L"d.txt"}}, {L"c.*", {L"c.dat"}}, {L"*.none", {}}};
    for (const auto& [mask, expected] : rows) {
        CArray<CFileStatus> list;
        fs->FindFiles(root, list, mask, nullptr);
        std::vector<std::wstring> names;
        for (const CFileStatus& entry : list) {
            names.push_back(W(entry.FileName));
            EXPECT_EQ(W(entry.FullName), W(At(entry.FileName.GetText())));
            EXPECT_EQ(entry.FileLength, entry.FileAttributes & FILE_ATTRIBUTE_DIRECTORY ? 0 : 5);
        }
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, expected) << testing::PrintToString(std::wstring(mask));
    }
    // A missing directory is an error that the handler may absorb, leaving the list as it was.
    struct CHandler : IFileErrorHandler {
        bool absorb = true;
        bool HandleError(CFileException*) override { return absorb; }
    } handler;
    CArray<CFileStatus> list;
    list.Add(CFileStatus());
    fs->FindFiles(At(L"missing"), list, L"*", &handler);
    EXPECT_EQ(list.GetSize(), GetParam().listingAppends ? 1 : 0);
    fs->FindFiles(root, list, L"c.*", nullptr);
    EXPECT_EQ(list.GetSize(), GetParam().listingAppends ? 2 : 1);
    handler.absorb = false;
    EXPECT_EQ(ErrorOf([&] { fs->FindFiles(At(L"missing"), list, L"*", &handler); }), uint32_t(ERROR_PATH_NOT_FOUND));
}

// Wine's files have no creation time of their own, so only write and access times are compared.
TEST_P(FileSystemContract, StatusSetAndRecreatingAHiddenFile)
{
    const CUnicodeString path = At(L"status.txt");
    Put(path, "1234567");
    const int64_t day = 864000000000LL, base = 132000000000000000LL;
    // (attributes, write time, access time; a time of 0 is left alone)
    const std::tuple<uint32_t, int64_t, int64_t> rows[] = {{FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE, base, base + day},
                                                           {FILE_ATTRIBUTE_ARCHIVE, base + 2 * day, base + 3 * day},
                                                           {FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE, 0, 0}};
    for (const auto& [attributes, write, access] : rows) {
        CFileStatus wanted, got;
        wanted.FileAttributes = attributes, wanted.LastWriteTime = write, wanted.LastAccessTime = access;
        fs->SetStatus(path, wanted);
        fs->GetStatus(path, got);
        EXPECT_EQ(W(got.FileName), L"status.txt");
        EXPECT_EQ(got.FileLength, 7);
        EXPECT_EQ(got.FileAttributes & 0x27, attributes);
        EXPECT_EQ(got.LastWriteTime, write ? write : base + 2 * day);
        EXPECT_EQ(got.LastAccessTime, access ? access : base + 3 * day);
    }
    Put(path, "x"); // CREATE_ALWAYS with FILE_ATTRIBUTE_NORMAL over the hidden file keeps it hidden
    EXPECT_EQ(Get(path), "x");
    EXPECT_EQ(fs->GetAttributes(path) & 7, uint32_t(FILE_ATTRIBUTE_HIDDEN));
}

// Bad input gets a file exception that names the path (as given or made full; the move family
// names its destination), never an internal error or a crash.
TEST_P(FileSystemContract, BadPathsRaiseFileExceptionsNamingThem)
{
    const CUnicodeString existing = At(L"existing");
    Put(existing, "keep");
    std::wstring longest = W(At(L""));
    longest.resize(32767, L'x');
    // Names no entry can have; then missing paths that a new file or directory could take.
    const CUnicodeString paths[] = {L"", longest.c_str(), At(L"a<b"), At(L"a*b"), At(L"missing\\"), At(L"missing/x")};
    CFile file;
    CArray<CFileStatus> list;
    const std::pair<bool, std::function<void(const CUnicodeString&)>> operations[] = {
        {false, [&](auto& b) { file.Open(b, FM_Read | FM_DenyNone, 0); }},
        {false, [&](auto& b) { fs->GetAttributes(b); }},
        {false, [&](auto& b) { fs->SetAttributes(b, 0); }},
        {false, [&](auto& b) { fs->DeleteFile(b); }},
        {false, [&](auto& b) { fs->CopyFile(existing, b); }},
        {false, [&](auto& b) { fs->MoveFile(existing, b); }},
        {false, [&](auto& b) { fs->ReplaceFile(existing, b); }},
        {false, [&](auto& b) { fs->RenameFile(b, existing); }},
        {false, [&](auto& b) { fs->RemoveDirectory(b); }},
        {false, [&](auto& b) { fs->IsDirectoryEmpty(b); }},
        {false, [&](auto& b) { fs->FindFiles(b, list, L"*", nullptr); }},
        {false, [&](auto& b) { fs->SetStatus(b, CFileStatus()); }},
        {true, [&](auto& b) { file.Open(b, FM_Write | FM_DenyAll | FM_Create, FILE_ATTRIBUTE_NORMAL); }},
        {true, [&](auto& b) { fs->CopyFile(b, existing); }},
        {true, [&](auto& b) { fs->CreateDirectory(b, false); }},
    };
    for (int p = 0; p < int(std::size(paths)); ++p) {
        const CUnicodeString& bad = paths[p];
        if (&GetFileSystem(bad) != fs)
            continue; // the empty path is no virtual one: the file system that owns it refuses it
        CUnicodeString full = bad;
        ErrorOf([&] { GetFullPath(full); });
        for (int i = 0; i < int(std::size(operations)); ++i) {
            if (operations[i].first && p >= 4)
                continue; // creating there would succeed
            if (CFileException* e = Catch<CFileException>([&] { operations[i].second(bad); })) {
                const CUnicodeString& name = e->GetFileName();
                EXPECT_TRUE(name == bad || name == full || name == existing) << p << " " << i;
                delete e;
            }
        }
        CFileStatus status;
        EXPECT_EQ(Refusal([&] { fs->GetStatus(bad, status); }).first, GetParam().statusOfMissingRaises ? uint32_t(ERROR_FILE_NOT_FOUND) : 0)
            << p;
        EXPECT_FALSE(status.FileAttributes || fs->DirectoryExists(bad) || fs->FileExists(bad, FM_Exists) ||
                     fs->FileExists(bad, FM_Read | FM_DenyNone) || fs->TryDeleteFile(bad))
            << p;
    }
    EXPECT_EQ(Get(existing), "keep");
}

// Where the two differ, as each is described: the virtual file system refuses CREATE_NEW over
// an existing file as access denied (the same kind), appends to a listing where the native one
// empties it first, and raises for the status of a missing path where the native one names it.
INSTANTIATE_TEST_SUITE_P(, FileSystemContract,
                         testing::Values(FileSystemUnderTest{"Native", NativeBase, VirtualBase, ERROR_FILE_EXISTS, false, false},
                                         FileSystemUnderTest{"Virtual", VirtualBase, NativeBase, ERROR_ACCESS_DENIED, true, true}),
                         [](const auto& info) { return std::string(info.param.name); });
