// What only the virtual file system has: its storage growth and window cache, the faults it
// must not repeat (stale bytes, a reader shortening a writer, unguarded growth, writable
// adopted storage), its tree and masks, copies to and from platform files, and what CFile adds
// on top of a file system. The rest it shares with the platform's files is the differential's.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>
#include <tuple>

#include "File.h"
#include "NativeFileSystem.h"
#include "TestSupport.h"
#include "VirtualFileSystem.h"

using namespace Zelkor;

namespace {

CVirtualFileSystem& Fs = VirtualFileSystemInstance;
const int64_t G = GetAllocationGranularity();

CUnicodeString V(const wchar_t* tail)
{
    return VirtualFilesPrefix + tail;
}

// An open virtual handle, closed at scope end.
struct Handle {
    CVirtualFile* f;
    Handle(const CUnicodeString& path, uint32_t access, uint32_t share = FILE_SHARE_READ | FILE_SHARE_WRITE,
           uint32_t disposition = OPEN_ALWAYS, int64_t initialSize = 0, HANDLE adopted = nullptr)
        : f(static_cast<CVirtualFile*>(Fs.OpenFile(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, adopted, initialSize)))
    {
    }
    ~Handle() { Fs.CloseFile(f, false); }
    CVirtualFile* operator->() const { return f; }
};
constexpr uint32_t RW = GENERIC_READ | GENERIC_WRITE;

// The bytes of a test file from offset on: each depends on its offset alone, with a prime period
// so that no window or section boundary maps one offset onto another of the same byte.
std::vector<unsigned char> Pattern(int64_t offset, int64_t size)
{
    std::vector<unsigned char> bytes(static_cast<size_t>(size));
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<unsigned char>((offset + int64_t(i)) % 251);
    return bytes;
}

CUnicodeString Temp(const wchar_t* name)
{
    return JoinPath(std::filesystem::temp_directory_path().c_str(), name);
}

} // namespace

TEST(VirtualFileMapping, WindowsAtAnyOffsetAndDestruction)
{
    void* leftMapped = nullptr;
    {
        CMemoryMapping mapping;
        mapping.Create(MM_ReadWrite, 3 * G);
        // An offset inside a granule: the window starts at the granule, the pointer at the offset,
        // and the ten bytes cross into the window's second page.
        auto* inside = static_cast<char*>(mapping.MapView(FILE_MAP_WRITE, G + 4090, 10));
        std::memcpy(inside, "0123456789", 10);
        // Size 0: to the end, from a granule and from inside one.
        auto* whole = static_cast<char*>(mapping.MapView(FILE_MAP_READ, G, 0));
        auto* rest = static_cast<char*>(mapping.MapView(FILE_MAP_READ, G + 4090, 0));
        EXPECT_EQ(std::string(whole + 4090, 10) + std::string(rest, 10), "01234567890123456789");
        EXPECT_EQ(rest[2 * G - 4091], 0);
        mapping.UnmapView(inside);
        const auto unmapAgain = [&] { mapping.UnmapView(inside); }; // no longer recorded
        delete Catch<CInternalError>(unmapAgain);
        EXPECT_EQ(ShownWhenSuppressed(unmapAgain), 1u);
        // Flushing keeps the windows; a new size drops them and the contents. Below one byte, or
        // without a section, a new size is an internal error and changes nothing.
        mapping.Flush();
        EXPECT_EQ(std::string(whole + 4090, 10), "0123456789");
        mapping.Resize(2 * G);
        EXPECT_EQ(mapping.GetWindowCount(), 0);
        EXPECT_EQ(static_cast<char*>(mapping.MapView(FILE_MAP_READ, G + 4090, 0))[0], 0);
        EXPECT_EQ(ShownWhenSuppressed([&] { mapping.Resize(0); }) + ShownWhenSuppressed([] { CMapping().Resize(1); }), 2u);
        EXPECT_EQ(mapping.GetWindowCount(), 1);
        leftMapped = mapping.MapView(FILE_MAP_READ, 0, 0);
    }
    MEMORY_BASIC_INFORMATION info{};
    ASSERT_NE(VirtualQuery(leftMapped, &info, sizeof info), 0u);
    EXPECT_EQ(info.State, DWORD(MEM_FREE)); // destruction unmapped the windows still mapped
    // Sizes beyond 32 bits reach the platform whole; no bytes is the platform's to refuse, after
    // which a section of the caller's may be attached, always read-only.
    CMapping large, refused;
    large.Create(MM_ReadWrite, int64_t(5) << 30);
    EXPECT_NE(large.MapView(FILE_MAP_READ, int64_t(9) << 29, 1), nullptr);
    delete Catch<CLastErrorException>([&] { large.MapView(FILE_MAP_READ, int64_t(6) << 30, 1); });
    delete Catch<CLastErrorException>([&] { refused.Create(MM_ReadWrite, 0); });
    refused.AttachSection(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 1, nullptr));
    EXPECT_EQ(refused.GetMode(), MM_ReadOnly);
}

TEST(VirtualFileStorage, LengthsBehaveAsOnDisk)
{
    // Storage grows by the documented rule: a length of one granule, or a first write that ends
    // there, takes one section, a length one byte longer a second, and a byte far beyond the
    // storage, at a granule's start, a section of its own that holds it.
    Handle g(V(L"grow.bin"), RW), h(V(L"write.bin"), RW);
    g->SetLength(G), h->Write(Pattern(0, G).data(), int32_t(G));
    EXPECT_EQ(g->GetNode()->GetSectionCount() + h->GetNode()->GetSectionCount(), 2);
    g->SetLength(G + 1), g->Seek(100 << 20, FILE_BEGIN), g->Write("z", 1);
    EXPECT_EQ(g->GetNode()->GetSectionCount(), 3);

    Handle w(V(L"len.bin"), RW);
    const auto data = Pattern(0, 3 * G);
    w->Write(data.data(), int32_t(data.size()));
    // Regrowth after a shrink shows zeros across every window the old bytes filled, here by a
    // write far beyond the storage, into a section of its own.
    w->SetLength(5);
    const int64_t beyond = 100 << 20;
    w->Seek(beyond, FILE_BEGIN), w->Write("z", 1);
    EXPECT_EQ(ReadAt(w.f, 5, 3 * G), std::vector<unsigned char>(size_t(3 * G), 0));
    EXPECT_EQ(ReadAt(w.f, beyond - 1, 2), std::vector<unsigned char>({0, 'z'}));
    // A reader opened at one length and closed after the writer grew the file leaves it grown;
    // the window it mapped goes with it.
    unsigned char* window = nullptr;
    {
        Handle r(V(L"len.bin"), GENERIC_READ);
        window = r->GetView(0)->Address;
        w->SetLength(beyond + 200);
        EXPECT_EQ(r->GetLength(), beyond + 200);
    }
    EXPECT_EQ(w->GetLength(), beyond + 200);
    MEMORY_BASIC_INFORMATION info{};
    ASSERT_NE(VirtualQuery(window, &info, sizeof info), 0u);
    EXPECT_EQ(info.State, DWORD(MEM_FREE));
    // Near the largest position: no storage that far, no end past it, no seek whose sum wraps
    // past it; the file and the position are as they were.
    w->Seek(INT64_MAX - 1, FILE_BEGIN);
    for (uint32_t origin : {FILE_CURRENT, FILE_END})
        EXPECT_EQ(ErrorOf([&] { w->Seek(INT64_MAX - 5, origin); }), uint32_t(ERROR_NEGATIVE_SEEK)) << origin;
    EXPECT_EQ(w->GetPosition(), INT64_MAX - 1);
    delete Catch<CMemoryException>([&] { w->Write("x", 1); });
    EXPECT_EQ(ErrorOf([&] { w->Write("xy", 2); }), uint32_t(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(w->GetLength(), beyond + 200);
}

TEST(VirtualFileStorage, AdoptedReadOnlyStorageRefusesWriters)
{
    auto section = [] {
        HANDLE handle = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 100, nullptr);
        void* view = MapViewOfFile(handle, FILE_MAP_WRITE, 0, 0, 0);
        std::memcpy(view, "adopted", 7);
        UnmapViewOfFile(view);
        return handle;
    };
    const HANDLE refused = section();
    EXPECT_EQ(ErrorOf([&] { Handle(V(L"ad.bin"), RW, 3, CREATE_NEW, 100, refused); }), uint32_t(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(Fs.FileExists(V(L"ad.bin"), FM_Exists)); // nothing left behind,
    EXPECT_TRUE(CloseHandle(refused));                    // and the section is still the caller's
    const HANDLE adopted = section();
    {
        Handle r(V(L"ad.bin"), GENERIC_READ, 3, CREATE_NEW, 100, adopted);
        EXPECT_EQ(ReadAt(r.f, 0, 7), std::vector<unsigned char>({'a', 'd', 'o', 'p', 't', 'e', 'd'}));
        EXPECT_EQ(r->GetLength(), 100);
        EXPECT_EQ(ErrorOf([&] { Handle(V(L"AD.bin"), GENERIC_WRITE); }), uint32_t(ERROR_ACCESS_DENIED));
        EXPECT_EQ(Handle(V(L"ad0.bin"), GENERIC_READ, 3, CREATE_NEW, 0, section())->GetLength(), 0); // none of a section's bytes
    }
    Fs.DeleteFile(V(L"ad.bin")), Fs.DeleteFile(V(L"ad0.bin"));
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(adopted, &flags)); // the file took it and closed it with its storage
}

// Written in pieces that straddle every window and section boundary; read back across them.
TEST(VirtualFileStorage, LargeFilesAndAnExhaustedPageFile)
{
    const int64_t size = (64 << 20) + 77, piece = G + 3000;
    const auto period = Pattern(0, piece + 251); // every piece starts somewhere in its first 251 bytes
    // Each new section is half what is mapped, which makes 17 here, or a tenth of the free page
    // file when that is less, which makes 26 with 40 MiB free: a few, not one a write.
    using namespace VirtualFileInternal;
    for (const auto& [function, sections] :
         {std::pair<AvailablePageFileFunction, int>{nullptr, 17}, {[] { return uint64_t(40) << 20; }, 26}}) {
        const AvailablePageFileFunction previous = SetAvailablePageFileFunctionForTest(function);
        Handle h(V(L"big.bin"), RW, 0, CREATE_ALWAYS);
        for (int64_t at = 0; at < size; at += piece)
            h->Write(period.data() + at % 251, int32_t(std::min(piece, size - at)));
        EXPECT_EQ(h->GetNode()->GetSectionCount(), sections);
        SetAvailablePageFileFunctionForTest(previous);
    }
    Handle h(V(L"big.bin"), RW);
    ASSERT_EQ(h->GetLength(), size);
    for (int64_t at : {int64_t(0), G - 3, 2 * G - 1, size / 3, size - 10, size, size + 5})
        EXPECT_EQ(ReadAt(h.f, at, G + 9), Pattern(at, std::max<int64_t>(0, std::min(G + 9, size - at)))) << at;
    // No page file holds a petabyte: the memory exception, and the file is as it was.
    h->Seek(int64_t(1) << 50, FILE_BEGIN);
    delete Catch<CMemoryException>([&] { h->Write("x", 1); });
    delete Catch<CMemoryException>([&] { h->SetLength(int64_t(1) << 50); });
    delete Catch<CMemoryException>([] { Handle(V(L"huge.bin"), RW, 3, CREATE_ALWAYS, INT64_MAX)->Write("x", 1); }); // nor its first section
    Fs.DeleteFile(V(L"huge.bin"));
    EXPECT_EQ(h->GetLength(), size);
    EXPECT_EQ(ReadAt(h.f, size - G, G), Pattern(size - G, G));
    // The free space is the page file's, in kibibytes; other programs move it meanwhile.
    MEMORYSTATUSEX memory{sizeof memory, 0, 0, 0, 0, 0, 0, 0, 0};
    const int32_t space = Fs.GetFreeSpace(V(L"big.bin"));
    ASSERT_TRUE(GlobalMemoryStatusEx(&memory));
    EXPECT_NEAR(space, double(std::min<uint64_t>(memory.ullAvailPageFile >> 10, INT32_MAX)), 65536);
    static uint64_t freeBytes; // and exactly so, whole kibibytes up to the largest count
    const AvailablePageFileFunction platform = SetAvailablePageFileFunctionForTest([] { return freeBytes; });
    for (const auto& [bytes, kibibytes] : {std::pair<uint64_t, int32_t>{1023, 0},
                                           {2047, 1},
                                           {(uint64_t(INT32_MAX) << 10) + 1023, INT32_MAX},
                                           {uint64_t(1) << 41, INT32_MAX}}) {
        freeBytes = bytes;
        EXPECT_EQ(Fs.GetFreeSpace(V(L"big.bin")), kibibytes) << bytes;
    }
    SetAvailablePageFileFunctionForTest(platform);
    // Longer than the windows a handle keeps: written window by window.
    const auto shifted = Pattern(1, 12 * G);
    h->Seek(G + 7, FILE_BEGIN), h->Write(shifted.data(), int32_t(shifted.size()));
    EXPECT_EQ(ReadAt(h.f, G + 7, 12 * G), shifted);
}

TEST(VirtualFileStorage, ContractViolationsAreInternalErrors)
{
    Handle h(V(L"bad.bin"), RW), closed(V(L"closed.bin"), RW);
    closed->Close();
    CMapping empty;
    char byte = 0;
    const CUnicodeString outside(L"C:\\outside");
    CFileStatus status;
    CArray<CFileStatus> found;
    const std::function<void()> rows[] = {
        [&] { closed->Write(&byte, 1); },
        [&] { closed->SetLength(1); },
        [&] { EXPECT_EQ(h->Read(nullptr, 1), 0); }, // shown instead, nothing is read
        [&] { EXPECT_EQ(h->Read(&byte, -1), 0); },
        [&] { h->Write(nullptr, 1); },
        [&] { h->Write(&byte, -1); },
        [&] { empty.MapView(FILE_MAP_READ, 0, 0); },
        [&] { empty.Close(), empty.AttachSection(GetCurrentProcess()); }, // a closed mapping takes no section
        [&] { h->SetLength(-1); },
        [&] { h->Seek(0, 7); },
        [&] { h->GetView(-1); },
        [&] { Fs.GetAttributes(outside); }, // a path outside the virtual tree, whatever the call
        [&] { Fs.CreateDirectory(outside, false); },
        [&] { Fs.RemoveDirectory(outside); },
        [&] { Fs.IsDirectoryEmpty(outside); },
        [&] { Fs.FindFiles(outside, found, L"*", nullptr); },
        [&] { Fs.GetStatus(outside, status); },
        [&] { Fs.SetStatus(outside, status); },
        [&] { Fs.OpenFile(V(L"x"), GENERIC_READ, 0, nullptr, 9, 0, nullptr, 0); },
        [&] { Fs.OpenFile(V(L"y"), GENERIC_READ, 0, nullptr, CREATE_NEW, 0, nullptr, -1); },
    };
    for (const auto& row : rows) {
        delete Catch<CInternalError>(row);
        EXPECT_EQ(ShownWhenSuppressed(row), 1u); // shown instead, it ends the call
    }
    EXPECT_EQ(std::make_pair(h->GetPosition(), h->GetLength()), std::make_pair(int64_t(0), int64_t(0)));
}

TEST(VirtualFileTree, MatchMask)
{
    const std::tuple<const wchar_t*, const wchar_t*, bool> rows[] = {
        {L"report.txt", L"rep*.t?t", true}, {L"report.txt", L"REPORT.TXT", false},
        {L"ab.x", L"ab*.x", false},         {L"anything", L"*.*", true},
        {L"noext", L"*.", false},           {L"a.b", L"a", false},
    };
    for (const auto& [name, mask, matches] : rows)
        EXPECT_EQ(CVirtualFileSystem::MatchMask(name, mask), matches)
            << testing::PrintToString(std::wstring(name)) << " " << testing::PrintToString(std::wstring(mask));
}

// Copies and moves with one end on the platform keep every byte, through either file system.
TEST(VirtualFileTree, CopiesAcrossFileSystemsKeepEveryByte)
{
    const CUnicodeString native = Temp(L"vfs-copy-test.bin");
    for (CFileSystemBase* fs : std::initializer_list<CFileSystemBase*>{&Fs, &NativeFileSystemInstance})
        for (int64_t size : {int64_t(0), int64_t(1), G, 3 * G + 5}) {
            const auto data = Pattern(size, size);
            {
                Handle h(V(L"copy/src.bin"), RW, 0, CREATE_ALWAYS);
                if (size > 0)
                    h->Write(data.data(), int32_t(size));
            }
            fs->CopyFile(native, V(L"copy/src.bin")), fs->ReplaceFile(V(L"copy/r.bin"), native);
            fs->RenameFile(V(L"copy/r.bin"), native), fs->MoveFile(V(L"copy/back.bin"), native);
            EXPECT_EQ(Get(native) + Get(V(L"copy/r.bin")), "nonenone");
            Handle back(V(L"copy/back.bin"), GENERIC_READ);
            EXPECT_EQ(ReadAt(back.f, 0, size), data) << size;
        }
}

// A copy onto a platform file that another open keeps from writers is refused, naming it, and
// leaves it; one into a platform folder that does not exist names the folder.
TEST(VirtualFileTree, CopiesOntoPlatformFilesTheyCannotWriteChangeNothing)
{
    const CUnicodeString target = Temp(L"vfs-kept.bin"), folder = Temp(L"vfs-no-such-folder");
    Put(target, "old"), Put(V(L"new.bin"), "new");
    const struct {
        CUnicodeString destination;
        FileErrorKind kind;
        CUnicodeString named;
    } rows[] = {{target, FileErrorKind::AccessDenied, target}, {JoinPath(folder, L"x.bin"), FileErrorKind::BadPath, folder + L"\\"}};
    CFile holder;
    holder.Open(target, FM_Read | FM_DenyWrite, 0);
    for (const auto& row : rows)
        if (CFileException* e = Catch<CFileException>([&] { Fs.CopyFile(row.destination, V(L"new.bin")); })) {
            EXPECT_EQ(std::make_pair(e->GetKind(), W(e->GetFileName())), std::make_pair(row.kind, W(row.named)));
            delete e;
        }
    holder.Close();
    EXPECT_EQ(Get(target) + Get(JoinPath(folder, L"x.bin")), "oldnone");
    NativeFileSystemInstance.DeleteFile(target), Fs.DeleteFile(V(L"new.bin"));
}

// A status sets the times it gives and leaves a time of 0 alone. A file is marked for archiving
// when made by CREATE_NEW or CREATE_ALWAYS, not by OPEN_ALWAYS; a name ending in a separator makes
// none.
TEST(VirtualFileTree, StatusTimesAndArchiveBits)
{
    const CUnicodeString path = V(L"status.txt");
    Put(path, "1234567");
    const int64_t day = 864000000000LL, base = 132000000000000000LL;
    CFileStatus wanted, got;
    wanted.FileAttributes = FILE_ATTRIBUTE_HIDDEN, wanted.LastWriteTime = base, wanted.LastAccessTime = base + day;
    wanted.CreationTime = base + 2 * day;
    Fs.SetStatus(path, wanted);
    wanted.LastWriteTime = wanted.LastAccessTime = wanted.CreationTime = 0;
    Fs.SetStatus(path, wanted), Fs.GetStatus(path, got);
    EXPECT_EQ(std::tie(got.FileLength, got.LastWriteTime, got.LastAccessTime, got.CreationTime),
              std::make_tuple(int64_t(7), base, base + day, base + 2 * day));
    Fs.DeleteFile(path);
    EXPECT_EQ(ErrorOf([&] { Handle(path + L"\\", GENERIC_WRITE, 0, CREATE_NEW); }), uint32_t(ERROR_INVALID_NAME));
    for (const DWORD disposition : {CREATE_NEW, CREATE_ALWAYS, OPEN_ALWAYS}) {
        Handle(path, GENERIC_WRITE, 0, disposition);
        EXPECT_EQ((Fs.GetAttributes(path) & FILE_ATTRIBUTE_ARCHIVE) != 0, disposition != OPEN_ALWAYS) << disposition;
        Fs.DeleteFile(path);
    }
}

// What CFile adds, alike on both file systems: the name it was opened by, the end, a flush, and
// an abort that closes without a word and may come again; the file keeps what was written.
TEST(VirtualFileTree, CFileNamesEndsFlushesAndAborts)
{
    for (const CUnicodeString& path : {Temp(L"vfs-cfile.bin"), V(L"cfile.bin")}) {
        Put(path, "old"), GetFileSystem(path).SetAttributes(path, FILE_ATTRIBUTE_HIDDEN);
        {
            CFile file; // replaces the hidden file, and keeps it hidden as the platform requires
            file.Open(path, FM_ReadWrite | FM_DenyWrite | FM_Create, FILE_ATTRIBUTE_NORMAL);
            EXPECT_EQ(W(file.GetFileName()), W(path));
            EXPECT_NE(GetFileSystem(path).GetAttributes(path) & FILE_ATTRIBUTE_HIDDEN, 0u);
            file.Write("abc", 3);
            EXPECT_TRUE(file.IsEndOfFile());
            file.Seek(-1, FILE_END);
            EXPECT_FALSE(file.IsEndOfFile());
            file.Flush();
            file.Abort();
            EXPECT_FALSE(file.IsOpen());
            file.Abort();
        }
        EXPECT_EQ(Get(path), "abc") << W(path);
        GetFileSystem(path).DeleteFile(path);
    }
}

TEST(VirtualFileTree, ExitReportsWhatIsLeft)
{
    Fs.ClearTree(); // what other cases of this process left
    {
        Handle h(V(L"left\\over.txt"), RW);
    }
    const std::wstring trace = DebugOutputOf([] { Fs.ClearTree(); });
    const std::wstring line = L"Undeleted object in virtual file system: ";
    EXPECT_EQ(trace, line + V(L"left").GetText() + L"\n" + line + V(L"left\\over.txt").GetText() + L"\n");
    EXPECT_FALSE(Fs.DirectoryExists(V(L"left")));
    EXPECT_EQ(ErrorOf([] { Fs.RemoveDirectory(VirtualFilesPrefix); }), uint32_t(ERROR_ACCESS_DENIED)); // empty, and yet it stays
    EXPECT_TRUE(Fs.IsDirectoryEmpty(VirtualFilesPrefix));
}

// Two writers, each with its own open, extend one file together, round after round, by
// alternate bytes: neither loses one, on either file system.
TEST(VirtualFileThreads, ConcurrentWritersKeepEachOthersBytes)
{
    for (const CUnicodeString& path : {Temp(L"vfs-shared.bin"), V(L"t\\shared.bin")}) {
        std::atomic<int32_t> arrived{0};
        auto writer = [&](const char* byte) {
            CFile file;
            file.Open(path, FM_Write | FM_DenyNone | FM_Create | FM_NoTruncate, FILE_ATTRIBUTE_NORMAL);
            for (int32_t at = *byte - 'a'; at < 40000; at += 2) {
                for (++arrived; arrived.load() < 2 * (at / 2 + 1);) // both at the same round
                    std::this_thread::yield();
                file.Seek(at, FILE_BEGIN), file.Write(byte, 1);
            }
        };
        std::thread a(writer, "a"), b(writer, "b");
        a.join(), b.join();
        const std::string written = Get(path); // lost bytes read as zeros, or are cut off
        EXPECT_TRUE(written.size() == 40000 && written.find_first_not_of("ab") == std::string::npos) << W(path);
        GetFileSystem(path).DeleteFile(path);
    }
}
