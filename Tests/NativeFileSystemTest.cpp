// What only the native file system does: the copy's fallback and its same-file guard, the
// free-space clamp, drive roots and directory times, the thread's error mode, and the internal
// errors of CFile and CNativeFile. What it shares with the virtual one is the differential's.
#include <filesystem>
#include <functional>

#include "Errors.h"
#include "File.h"
#include "MessageHandlers.h"
#include "NativeFileSystem.h"
#include "TestSupport.h"
#include "ThreadData.h"

using namespace Zelkor;

namespace {

CNativeFileSystem& Native = NativeFileSystemInstance;

// A fresh temporary directory holding "f.txt" with "data"; removed afterwards.
class NativeFiles : public testing::Test {
protected:
    void SetUp() override
    {
        const char* name = testing::UnitTest::GetInstance()->current_test_info()->name();
        const auto directory = std::filesystem::temp_directory_path() / (std::to_string(GetCurrentProcessId()) + "-" + name);
        std::filesystem::create_directory(directory);
        root = directory.c_str();
        file = JoinPath(root, L"f.txt");
        Put(file, "data");
    }
    void TearDown() override { std::filesystem::remove_all(root.GetText()); }
    template <class F>
    static void ExpectFileError(F f, FileErrorKind kind, const CUnicodeString& name)
    {
        if (CFileException* e = Catch<CFileException>(f)) {
            EXPECT_EQ(e->GetKind(), kind);
            EXPECT_EQ(W(e->GetFileName()), W(name));
            delete e;
        }
    }

    CUnicodeString root, file;
};

} // namespace

// Other letter cases and separators of the name are the differential's. A file held open by a
// handle that shares nothing is still known as itself.
TEST_F(NativeFiles, CopyOntoTheSameFileUnderItsLongNameKeepsIt)
{
    const HANDLE held = CreateFileW(file.GetText(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    Native.CopyFile(L"\\\\?\\" + file, file), Native.CopyFile(file, L"\\\\?\\" + file);
    CloseHandle(held);
    EXPECT_EQ(Get(file), "data");
}

// Windows refuses to replace a read-only file; Wine grants root the write, so a target held
// open without sharing stands for it here.
TEST_F(NativeFiles, CopyFallbackSaysWhyItCannotWrite)
{
    const CUnicodeString target = JoinPath(root, L"target.txt");
    Put(target, "old");
    CFile holder;
    holder.Open(target, FM_Read | FM_DenyAll, 0);
    ExpectFileError([&] { Native.CopyFile(target, file); }, FileErrorKind::AccessDenied, target);
    holder.Close();
    EXPECT_EQ(Get(target), "old");
    ExpectFileError([&] { Native.CopyFile(JoinPath(root, L"missing\\x.txt"), file); }, FileErrorKind::BadPath,
                    JoinPath(root, L"missing\\"));
}

TEST_F(NativeFiles, FreeSpaceIsClampedKibibytesOfTheRoot)
{
    static uint64_t freeBytes;
    static std::wstring asked;
    const auto previous = NativeFileSystemInternal::SetDiskFreeSpaceFunctionForTest(
        [](LPCWSTR root, PULARGE_INTEGER available, PULARGE_INTEGER, PULARGE_INTEGER) -> BOOL {
            asked = root;
            available->QuadPart = freeBytes;
            SetLastError(ERROR_NOT_READY);
            return freeBytes != 1; // 1: the call fails
        });
    const std::pair<uint64_t, int32_t> rows[] = {
        {2047, 1}, {0x7FFFFFFFull * 1024 + 1023, 0x7FFFFFFF}, {0x80000000ull * 1024, 0x7FFFFFFF}, {4ull << 40, 0x7FFFFFFF}};
    for (const auto& [bytes, kibibytes] : rows) {
        freeBytes = bytes;
        EXPECT_EQ(Native.GetFreeSpace(L"C:/dir/x.txt"), kibibytes) << bytes;
        EXPECT_EQ(asked, L"C:\\");
    }
    freeBytes = 1;
    ExpectFileError([] { Native.GetFreeSpace(L"//srv/share/x"); }, FileErrorKind::HardIO, L"\\\\srv\\share\\");
    NativeFileSystemInternal::SetDiskFreeSpaceFunctionForTest(previous);
}

TEST_F(NativeFiles, DriveRootsDirectoryTimesAndTheVirtualPrefix)
{
    SetThreadErrorMode(0, nullptr); // a known mode: the fixture's own probes could have left theirs
    const UINT processMode = GetErrorMode(), threadMode = GetThreadErrorMode();
    CFileStatus status;
    Native.GetStatus(L"C:\\", status);
    EXPECT_TRUE(Native.DirectoryExists(L"C:\\"));
    // A drive root lists no entries when the drive is empty, yet it is a directory.
    if (const wchar_t* empty = _wgetenv(L"ZELKOR_EMPTY_DRIVE"))
        EXPECT_TRUE(Native.DirectoryExists(empty)) << empty;
    EXPECT_TRUE((status.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) && status.CreationTime != 0);

    // A directory takes new times like a file.
    const CUnicodeString directory = JoinPath(root, L"d");
    Native.CreateDirectory(directory, true);
    CFileStatus wanted;
    wanted.FileAttributes = FILE_ATTRIBUTE_DIRECTORY, wanted.LastWriteTime = 132000000000000000LL;
    Native.SetStatus(directory, wanted), Native.GetStatus(directory, status);
    EXPECT_EQ(status.LastWriteTime, wanted.LastWriteTime);
    CFile holder; // without times the entry is not opened, so an open that denies writers is no obstacle
    holder.Open(file, FM_Read | FM_DenyWrite, 0);
    EXPECT_EQ(ErrorOf([&] { Native.SetStatus(file, CFileStatus()); }), 0u);
    CFileStatus named;
    Native.GetStatus(directory + L"\\", named); // a trailing separator names the same directory
    EXPECT_EQ(named.LastWriteTime, wanted.LastWriteTime);
    // The probes' guard against the platform's questions leaves both error modes as they were.
    EXPECT_EQ(GetErrorMode(), processMode);
    EXPECT_EQ(GetThreadErrorMode(), threadMode);

    // Only a path that starts with the whole prefix, in any case, leaves the native file system.
    EXPECT_EQ(&GetFileSystem(VirtualFilesPrefix.Left(VirtualFilesPrefix.GetLength() - 1)), &Native);
    EXPECT_NE(&GetFileSystem(L"\\\\quorell\\zelkor\\virtualfiles$\\x"), &Native);
}

// Each call below breaks the caller's side of the contract: an internal error of its source, or,
// with failures shown instead, one report and nothing done.
TEST_F(NativeFiles, ContractViolationsAreInternalErrorsOfTheirSource)
{
    CBaseFile* closed = Native.OpenFile(file, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr, 0);
    closed->Close();
    CBaseFile* open = Native.OpenFile(file, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr, 0);
    CFile never, opened;
    opened.Open(file, FM_Read | FM_DenyNone, 0);
    char byte = 0;
    EXPECT_TRUE(ReportsAt(CheckSite::FileWriteClosed, [&] { never.Write(&byte, 1); }));
    const std::pair<const wchar_t*, std::vector<std::function<void()>>> sources[] = {
        {L"Src/File",
         {[&] { never.Write(nullptr, 1); }, [&] { never.Write(&byte, -1); }, [&] { never.Read(nullptr, 1); },
          [&] { never.Read(&byte, -1); }, [&] { never.GetLength(); }, [&] { never.GetPosition(); }, [&] { never.GetFileName(); },
          [&] { never.Flush(); }, [&] { never.IsEndOfFile(); }, [&] { never.Seek(0, FILE_BEGIN); }, [&] { opened.Seek(0, 3); },
          [&] { opened.Open(file, FM_Read | FM_DenyNone, 0); }, [&] { never.SetLength(-1); }}},
        {L"Src/NativeFile",
         {[&] { closed->Read(&byte, 1); }, [&] { closed->Write(&byte, 1); }, [&] { closed->Seek(0, FILE_BEGIN); },
          [&] { closed->GetLength(); }, [&] { closed->Flush(); }, [&] { open->Read(nullptr, 1); }, [&] { open->Write(&byte, -1); },
          [&] { open->Seek(0, 7); }, [&] { open->SetLength(-1); }}},
        {L"Src/NativeFileSystem", {[&] { Native.CloseFile(nullptr, false); }, [&] { Native.FileExists(file, FM_Read); }}},
    };
    for (const auto& [source, calls] : sources)
        for (size_t i = 0; i < calls.size(); ++i)
            if (CInternalError* e = Catch<CInternalError>(calls[i])) {
                EXPECT_STREQ(e->GetSourceFile(), source) << i;
                delete e;
                EXPECT_EQ(ShownWhenSuppressed(calls[i]), 1u) << W(source) << " " << i;
            }
    EXPECT_EQ(never.Read(nullptr, 0), 0); // zero counts return before any check
    never.Write(nullptr, 0);
    EXPECT_EQ(opened.GetPosition(), 0); // a refused call leaves the open file as it was
    EXPECT_EQ(open->GetPosition(), 0);
    Native.CloseFile(closed, false), Native.CloseFile(open, false);
}

// What the platform refuses an open handle is a file error naming the file, and leaves the file
// as it was; a file deleted while open closes its handle. A read through a writer's handle and a
// seek before the start are the differential's.
TEST_F(NativeFiles, RefusalsOfAnOpenHandleNameTheFileAndDeletionCloses)
{
    // Opened by a name with a "." level, it is named by its full path.
    CBaseFile* reader = Native.OpenFile(JoinPath(root, L".\\f.txt"), GENERIC_READ, 7, nullptr, OPEN_EXISTING, 0, nullptr, 0);
    CBaseFile* writer = Native.OpenFile(file, GENERIC_WRITE, 7, nullptr, OPEN_EXISTING, 0, nullptr, 0);
    ExpectFileError([&] { reader->Write("x", 1); }, FileErrorKind::AccessDenied, file);
    EXPECT_NE(ErrorOf([&] { reader->SetLength(0); }), 0u); // Windows says 5, Wine 6
    ExpectFileError([&] { reader->Flush(); }, FileErrorKind::AccessDenied, file);
    EXPECT_EQ(reader->GetPosition(), 0);
    writer->SetLength(int64_t(5) << 30); // lengths and positions beyond 32 bits
    EXPECT_EQ(writer->GetLength() + writer->GetPosition(), int64_t(10) << 30);
    writer->SetLength(4);
    delete writer;
    Native.CloseFile(reader, false);
    EXPECT_EQ(Get(file), "data");
    delete Native.OpenFile(file, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr, 0); // no handle left to share with
}

// Closing the framework's handle behind the file's back is the one way to make closing fail.
TEST_F(NativeFiles, FailedCloseStillClosesAndADestroyedFileShowsIt)
{
    BY_HANDLE_FILE_INFORMATION id{}, other;
    const HANDLE own = CreateFileW(file.GetText(), 0, 7, nullptr, OPEN_EXISTING, 0, nullptr);
    GetFileInformationByHandle(own, &id);
    const auto closeBehindItsBack = [&] {
        for (uintptr_t value = 4; value < 0x10000; value += 4) {
            const HANDLE h = reinterpret_cast<HANDLE>(value);
            if (h != own && GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &other) &&
                other.nFileIndexLow == id.nFileIndexLow && other.nFileIndexHigh == id.nFileIndexHigh)
                return CloseHandle(h) != FALSE;
        }
        return false;
    };
    CFile closing;
    closing.Open(file, FM_Read | FM_DenyNone, 0);
    ASSERT_TRUE(closeBehindItsBack());
    ExpectFileError([&] { closing.Close(); }, FileErrorKind::NotFound, file); // ERROR_INVALID_HANDLE
    EXPECT_FALSE(closing.IsOpen());

    struct CCapture : CMessageHandler {
        std::wstring shown;
        int32_t Show(HWND, const wchar_t* text, const wchar_t*, uint32_t) override { return shown += text, IDOK; }
    } capture;
    ThreadLogData.Get().Handler = &capture;
    CUnicodeString name; // shared with the file and its exception while they live
    {
        CFile destroyed;
        destroyed.Open(file, FM_Read | FM_DenyNone, 0);
        name = destroyed.GetFileName();
        ASSERT_TRUE(closeBehindItsBack());
    }
    ThreadLogData.Get().Handler = nullptr;
    EXPECT_NE(capture.shown.find(W(file)), std::wstring::npos) << testing::PrintToString(capture.shown);
    EXPECT_EQ(name.GetReferenceCount(), 1) << "the exception that was shown is gone";
    CloseHandle(own);
}
