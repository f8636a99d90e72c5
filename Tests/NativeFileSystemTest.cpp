// What only the native file system does: the copy's fallback and its same-file guard, the
// free-space clamp, listings with an error handler, the thread's error mode, and the internal
// errors of CFile and CNativeFile. The shared contract is in FileSystemContractTest.
#include <windows.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Errors.h"
#include "File.h"
#include "MessageHandlers.h"
#include "NativeFile.h"
#include "NativeFileSystem.h"
#include "TestSupport.h"
#include "ThreadData.h"

using namespace Zelkor;

namespace {

std::wstring W(const CUnicodeString& s)
{
    return std::wstring(s.GetText(), s.GetLength());
}

// A fresh temporary directory with one file "f.txt" holding "data"; removed afterwards.
class NativeFiles : public testing::Test {
protected:
    void SetUp() override
    {
        wchar_t temp[MAX_PATH + 1];
        GetTempPathW(MAX_PATH + 1, temp);
        const auto* test = testing::UnitTest::GetInstance()->current_test_info();
        root = (std::wstring(temp) + L"Native-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::wstring(test->name(), test->name() + strlen(test->name())))
                   .c_str();
        NativeFileSystemInstance.CreateDirectory(root, false);
        file = JoinPath(root, L"f.txt");
        Put(file, "data");
    }
    void TearDown() override
    {
        CArray<CFileStatus> entries;
        NativeFileSystemInstance.FindFiles(root, entries, L"*", nullptr);
        for (const CFileStatus& entry : entries) {
            SetFileAttributesW(entry.FullName.GetText(), FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileW(entry.FullName.GetText());
        }
        EXPECT_TRUE(::RemoveDirectoryW(root.GetText()));
    }
    static void Put(const CUnicodeString& path, const char* text)
    {
        CFile f;
        f.Open(path, FM_Write | FM_DenyAll | FM_Create, FILE_ATTRIBUTE_NORMAL);
        f.Write(text, int32_t(strlen(text)));
    }
    static std::string Get(const CUnicodeString& path)
    {
        CFile f;
        f.Open(path, FM_Read | FM_DenyNone, 0);
        char buffer[64];
        return std::string(buffer, size_t(f.Read(buffer, sizeof buffer)));
    }

    CUnicodeString root, file;
};

// A handler of this thread that keeps what it is shown.
struct CCapturingHandler : CMessageHandler {
    int32_t Show(HWND, const wchar_t* text, const wchar_t*, uint32_t) override
    {
        shown.push_back(text);
        return IDOK;
    }
    std::vector<std::wstring> shown;
};

} // namespace

TEST_F(NativeFiles, CopyOntoTheSameFileUnderAnotherNameKeepsIt)
{
    wchar_t cwd[MAX_PATH + 1];
    GetCurrentDirectoryW(MAX_PATH + 1, cwd);
    SetCurrentDirectoryW(root.GetText());
    std::wstring slashed = W(file);
    for (wchar_t& c : slashed)
        if (c == L'\\')
            c = L'/';
    std::wstring upper = W(file);
    CharUpperBuffW(upper.data(), DWORD(upper.size()));
    const CUnicodeString names[] = {upper.c_str(), slashed.c_str(), L"f.txt", L".\\F.TXT",
                                    (L"\\\\?\\" + W(file)).c_str()};
    for (const CUnicodeString& name : names) {
        NativeFileSystemInstance.CopyFile(name, file);
        NativeFileSystemInstance.CopyFile(file, name);
        EXPECT_EQ(Get(file), "data") << testing::PrintToString(W(name));
    }
    SetCurrentDirectoryW(cwd);
}

TEST_F(NativeFiles, CopyFallbackExplainsWhyItCannotWrite)
{
    // Windows refuses to replace a read-only file; Wine grants root the write, so a destination
    // held open without sharing stands for it here.
    const CUnicodeString target = JoinPath(root, L"target.txt");
    Put(target, "old");
    CFile holder;
    holder.Open(target, FM_Read | FM_DenyAll, 0);
    if (CFileException* e = Catch<CFileException>([&] { NativeFileSystemInstance.CopyFile(target, file); })) {
        EXPECT_EQ(e->GetKind(), FileErrorKind::AccessDenied);
        EXPECT_EQ(W(e->GetFileName()), W(target));
        delete e;
    }
    holder.Close();
    EXPECT_EQ(Get(target), "old");

    const CUnicodeString intoMissing = JoinPath(root, L"missing\\x.txt");
    if (CFileException* e = Catch<CFileException>([&] { NativeFileSystemInstance.CopyFile(intoMissing, file); })) {
        EXPECT_EQ(e->GetKind(), FileErrorKind::BadPath);
        EXPECT_EQ(W(e->GetFileName()), W(JoinPath(root, L"missing\\")));
        delete e;
    }
    EXPECT_EQ(Get(file), "data");
}

TEST_F(NativeFiles, FreeSpaceIsClampedKibibytesOfTheRoot)
{
    static uint64_t freeBytes;
    static std::wstring asked;
    const auto fake = [](LPCWSTR root, PULARGE_INTEGER available, PULARGE_INTEGER, PULARGE_INTEGER) -> BOOL {
        asked = root;
        available->QuadPart = freeBytes;
        SetLastError(ERROR_NOT_READY);
        return freeBytes != 1;
    };
    const auto previous = NativeFileSystemInternal::SetDiskFreeSpaceFunctionForTest(fake);
    const struct {
        uint64_t bytes;
        int32_t kibibytes;
    } rows[] = {{0, 0}, {1023, 0}, {2048, 2}, {0x7FFFFFFFull * 1024 + 1023, 0x7FFFFFFF},
                {0x80000000ull * 1024, 0x7FFFFFFF}, {4ull << 40, 0x7FFFFFFF}};
    for (const auto& row : rows) {
        freeBytes = row.bytes;
        EXPECT_EQ(NativeFileSystemInstance.GetFreeSpace(L"C:/dir/x.txt"), row.kibibytes) << row.bytes;
        EXPECT_EQ(asked, L"C:\\");
    }
    freeBytes = 1;
    if (CFileException* e = Catch<CFileException>([] { NativeFileSystemInstance.GetFreeSpace(L"//srv/share/x"); })) {
        EXPECT_EQ(e->GetErrorCode(), uint32_t(ERROR_NOT_READY));
        EXPECT_EQ(W(e->GetFileName()), L"\\\\srv\\share\\");
        delete e;
    }
    NativeFileSystemInternal::SetDiskFreeSpaceFunctionForTest(previous);
    EXPECT_GT(NativeFileSystemInstance.GetFreeSpace(root), 0);
}

TEST_F(NativeFiles, FindFilesErrorGoesToTheHandler)
{
    struct CHandler : IFileErrorHandler {
        bool absorb = false;
        std::vector<std::wstring> seen;
        bool HandleError(CFileException* e) override
        {
            seen.push_back(W(e->GetFileName()));
            return absorb;
        }
    };
    const CUnicodeString missing = JoinPath(root, L"missing");
    for (const bool absorb : {true, false}) {
        CHandler handler;
        handler.absorb = absorb;
        CArray<CFileStatus> list;
        bool raised = false;
        try {
            NativeFileSystemInstance.FindFiles(missing, list, L"*", &handler);
        } catch (CFileException* e) {
            raised = true;
            EXPECT_EQ(W(e->GetFileName()), W(missing));
            delete e;
        }
        EXPECT_EQ(raised, !absorb);
        EXPECT_EQ(handler.seen, std::vector<std::wstring>{W(missing)});
        // A mask that matches nothing is no error.
        handler.seen.clear();
        NativeFileSystemInstance.FindFiles(root, list, L"*.none", &handler);
        EXPECT_TRUE(list.IsEmpty() && handler.seen.empty());
    }
}

TEST_F(NativeFiles, ProbingFromManyThreadsLeavesTheErrorModeAlone)
{
    const UINT before = GetErrorMode(), threadBefore = GetThreadErrorMode();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 300; ++i)
                NativeFileSystemInstance.DirectoryExists(root);
        });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(GetErrorMode(), before);
    EXPECT_EQ(GetThreadErrorMode(), threadBefore);
}

TEST_F(NativeFiles, ContractViolationsAreInternalErrorsOfTheirSource)
{
    CBaseFile* closed = NativeFileSystemInstance.OpenFile(file, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr, 0);
    closed->Close();
    CFile never;
    char byte = 0;
    const struct {
        const char* name;
        std::function<void()> run;
        CCheckSite site; // line 0: any line of that source
    } rows[] = {
        {"write null", [&] { never.Write(nullptr, 1); }, CheckSite::FileWriteNullBuffer},
        {"write negative", [&] { never.Write(&byte, -1); }, CheckSite::FileWriteBadCount},
        {"write closed", [&] { never.Write(&byte, 1); }, CheckSite::FileWriteClosed},
        {"read null", [&] { never.Read(nullptr, 1); }, {L"Src/File", 0}},
        {"read negative", [&] { never.Read(&byte, -1); }, {L"Src/File", 0}},
        {"read closed", [&] { never.Read(&byte, 1); }, {L"Src/File", 0}},
        {"length closed", [&] { never.GetLength(); }, {L"Src/File", 0}},
        {"seek origin", [&] { never.Seek(0, 3); }, {L"Src/File", 0}},
        {"negative length", [&] { never.SetLength(-1); }, {L"Src/File", 0}},
        {"access field", [&] { never.Open(file, FM_DenyNone | 5, 0); }, {L"Src/File", 0}},
        {"sharing field", [&] { never.Open(file, FM_Read | 0x50, 0); }, {L"Src/File", 0}},
        {"native read closed", [&] { closed->Read(&byte, 1); }, {L"Src/NativeFile", 0}},
        {"native seek origin", [&] { closed->Seek(0, 7); }, {L"Src/NativeFile", 0}},
        {"native negative length", [&] { closed->SetLength(-1); }, {L"Src/NativeFile", 0}},
        {"native flush closed", [&] { closed->Flush(); }, {L"Src/NativeFile", 0}},
        {"close null", [&] { NativeFileSystemInstance.CloseFile(nullptr, false); }, {L"Src/NativeFileSystem", 0}},
        {"exists without sharing", [&] { NativeFileSystemInstance.FileExists(file, FM_Read); }, {L"Src/NativeFileSystem", 0}},
    };
    for (const auto& row : rows) {
        if (CInternalError* e = Catch<CInternalError>(row.run)) {
            EXPECT_STREQ(e->GetSourceFile(), row.site.sourcePath) << row.name;
            if (row.site.line != 0) {
                EXPECT_EQ(e->GetLine(), row.site.line) << row.name;
            }
            delete e;
        }
    }
    // Zero counts return before any check.
    EXPECT_EQ(never.Read(nullptr, 0), 0);
    never.Write(nullptr, 0);
    NativeFileSystemInstance.CloseFile(closed, false);
}

// The framework's handle closed behind the file's back: the one way to make closing fail.
TEST_F(NativeFiles, FailedCloseStillClosesAndADestroyedFileShowsIt)
{
    BY_HANDLE_FILE_INFORMATION identity{};
    const HANDLE own = CreateFileW(file.GetText(), 0, 7, nullptr, OPEN_EXISTING, 0, nullptr);
    GetFileInformationByHandle(own, &identity);
    const auto closeBehindItsBack = [&] {
        for (uintptr_t value = 4; value < 0x10000; value += 4) {
            const HANDLE h = reinterpret_cast<HANDLE>(value);
            BY_HANDLE_FILE_INFORMATION info;
            if (h != own && GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info) &&
                info.nFileIndexLow == identity.nFileIndexLow && info.nFileIndexHigh == identity.nFileIndexHigh &&
                info.dwVolumeSerialNumber == identity.dwVolumeSerialNumber)
                return CloseHandle(h) != FALSE;
        }
        return false;
    };
    CFile closing;
    closing.Open(file, FM_Read | FM_DenyNone, 0);
    ASSERT_TRUE(closeBehindItsBack());
    if (CFileException* e = Catch<CFileException>([&] { closing.Close(); })) {
        EXPECT_EQ(W(e->GetFileName()), W(file));
        delete e;
    }
    EXPECT_FALSE(closing.IsOpen());
    closing.Close(); // closed: nothing

    CCapturingHandler handler;
    ThreadLogData.Get().Handler = &handler;
    {
        CFile destroyed;
        destroyed.Open(file, FM_Read | FM_DenyNone, 0);
        ASSERT_TRUE(closeBehindItsBack());
    }
    ThreadLogData.Get().Handler = nullptr;
    ASSERT_EQ(handler.shown.size(), 1u);
    EXPECT_NE(handler.shown[0].find(W(file)), std::wstring::npos) << testing::PrintToString(handler.shown[0]);
    CloseHandle(own);
}
