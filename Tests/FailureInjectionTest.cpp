// Exhausted memory at every allocation an operation makes, one allocation at a time: the
// operation must raise the memory exception, leak nothing and keep what it promises to keep.
#include <windows.h>
#include <oleauto.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "AtomicBlockManagerProbe.h"
#include "File.h"
#include "FileSystem.h"
#include "Map.h"
#include "ProviderEntry.h"
#include "UnicodeString.h"

extern "C" bool GetProvidersList(int32_t providerType, wchar_t* buffer, size_t* length);
extern "C" BSTR GetTrevalicListJson();

using namespace Zelkor;
using namespace Trevalic;

namespace {

// The containers' storage during a run: a private heap through the current-manager switch.
CHeapManager& TestHeap()
{
    static CHeapManager heap(0, true);
    return heap;
}

DWORD injectingThread;
int64_t failAt, allocations;

bool FailsNow()
{
    return GetCurrentThreadId() == injectingThread && ++allocations == failAt;
}

using Counters = std::vector<int64_t>;

Counters Snapshot()
{
    Counters counters = StringMemoryHeld();
    counters.insert(counters.end(),
                    {TestHeap().GetBlockCount(), int64_t(TestHeap().GetByteCount()), CAtomicBlockManagerProbe(CharSetPagePool).HeldBlocks(),
                     FileLayerHeap::GetBlockCount()});
    return counters;
}

} // namespace

// Runs op with its k-th allocation failing, for k = 1, 2, ... until a run succeeds. Every failed
// run must raise CMemoryException and bring every counter back. op owns what it builds; state
// it builds lazily once (caches, first pages) is built by a first run without failures. Other
// threads are never failed. Returns the allocation count of the successful run (-1: failed).
template <class Op>
int64_t FailEachAllocation(Op op)
{
    CMemoryManagerSwitcher useTestHeap(&TestHeap());
    op();
    injectingThread = GetCurrentThreadId();
    for (int64_t k = 1;; ++k) {
        const Counters before = Snapshot();
        failAt = k;
        allocations = 0;
        AllocInternal::InjectedFailureHook.store(FailsNow);
        bool failed = false;
        try {
            op();
        } catch (CMemoryException* exception) {
            delete exception;
            failed = true;
        } catch (CException* exception) {
            delete exception;
            ADD_FAILURE() << "another exception than CMemoryException at allocation " << k;
        }
        AllocInternal::InjectedFailureHook.store(nullptr);
        if (!failed) {
            EXPECT_LT(allocations, k) << "allocation " << k << " failed, yet the operation succeeded";
            return testing::Test::HasFailure() ? -1 : allocations;
        }
        EXPECT_EQ(Snapshot(), before) << "leak after failing allocation " << k;
        if (testing::Test::HasFailure())
            return -1; // one report, not one per allocation
    }
}

// Runs action; if it fails for lack of memory, check runs before the exception goes on.
template <class Action, class Check>
void OnMemoryFailure(Action action, Check check)
{
    try {
        action();
    } catch (CMemoryException*) {
        check();
        throw;
    }
}

// Both exports of the full document (a filter only leaves records out): a failed render leaks
// nothing and reports no success.
TEST(FailureInjection, CatalogueDocuments)
{
    const CUnicodeString expected = ProviderListToJson(0);
    EXPECT_GT(FailEachAllocation([&] {
                  size_t count = 0;
                  GetProvidersList(0, nullptr, &count);
                  std::vector<wchar_t> text(count);
                  ASSERT_TRUE(GetProvidersList(0, text.data(), &count));
                  EXPECT_STREQ(text.data(), expected.GetText());
                  BSTR json = GetTrevalicListJson();
                  EXPECT_STREQ(json, expected.GetText());
                  SysFreeString(json);
              }),
              0);
}

TEST(FailureInjection, StringEditsKeepTheOldValue)
{
    static const CUnicodeString params[] = {L"first", CUnicodeString(std::wstring(150, L'p').c_str())};
    const std::pair<const char*, void (*)(CUnicodeString&)> rows[] = {
        {"append", [](CUnicodeString& s) { s += L" and a tail long enough for the next size class"; }},
        {"insert", [](CUnicodeString& s) { s.Insert(L"inserted", 8, 1); }},
        {"replace prefix", [](CUnicodeString& s) { s.ReplacePrefix(1, L"\\\\?\\UNC\\", 8); }},
        {"buffer", [](CUnicodeString& s) { s.ReleaseBuffer(int32_t(wcslen(s.GetBuffer(400)))); }},
        {"format", [](CUnicodeString& s) { s.Format(L"%ls|%d|%ls", s.GetText(), -42, params[1].GetText()); }},
        {"subst", [](CUnicodeString& s) { s = s.SubstParam(params, 2); }},
    };
    for (const wchar_t* start : {L" short %1 %2 ", L" a text of more than sixty-four bytes, %1 and %2, in the 128 class "})
        for (const CUnicodeString& old : {CUnicodeString(start), CUnicodeString(start) + params[1]})
            for (const auto& [what, edit] : rows)
                EXPECT_GE(FailEachAllocation([&, what = what, edit = edit] { // Clang 14 captures no binding
                              CUnicodeString subject = old;                  // shared: every edit must copy first
                              OnMemoryFailure([&] { edit(subject); }, [&] { EXPECT_EQ(subject, old) << what; });
                          }),
                          0)
                    << what;
}

// Failed array growth is ArrayTest's, with a refusing manager; the map grows by more than one
// allocation at a time.
TEST(FailureInjection, MapGrowthKeepsTheElements)
{
    auto text = [](int32_t i) { return CUnicodeString(std::to_wstring(i).c_str()) + L" a key of the 64-byte class"; };
    EXPECT_GT(FailEachAllocation([&] {
                  CMap<CUnicodeString, int32_t> map;
                  int32_t added = 0;
                  OnMemoryFailure(
                      [&] {
                          for (; added < 100; ++added)
                              map.Set(text(added), added);
                      },
                      [&] {
                          // Whatever was added before the failure is there, nothing else.
                          EXPECT_EQ(map.GetCount(), added);
                          for (int32_t i = 0; i < added; ++i)
                              EXPECT_TRUE(map.Lookup(text(i)) && *map.Lookup(text(i)) == i);
                          map.Set(L"still usable", -1);
                      });
              }),
              0);
}

// The file layer's own allocations (nodes, the tree's maps, sections, windows, handles, names): a
// failed open leaves the tree and the file it would replace as they were, and the caller's section
// with the caller; a failed write across two windows leaves every byte as it was. That a failed
// step of any other kind changes nothing is the differential's.
TEST(FailureInjection, FailedFileOperationsChangeNothing)
{
    CFileSystemBase& fs = GetFileSystem(VirtualFilesPrefix);
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, temp);
    const CUnicodeString native = CUnicodeString(temp) + L"ZelkorInjection.bin";
    const CUnicodeString keep = VirtualFilesPrefix + L"injection\\keep.bin", copy = VirtualFilesPrefix + L"injection\\copy.bin",
                         sub = VirtualFilesPrefix + L"injection\\sub", adopted = sub + L"\\adopted.bin", level = sub + L"\\deep",
                         deep = level + L"\\copy.bin";
    const auto put = [&] {
        CFile f;
        f.Open(keep, FM_Write | FM_DenyAll | FM_Create, FILE_ATTRIBUTE_NORMAL), f.Write("old", 3);
    };
    put();
    EXPECT_GT(FailEachAllocation([&] {
                  // Whatever happens, the next run starts from the same tree; restoring it fails nothing.
                  const std::shared_ptr<void> restore(nullptr, [&](void*) {
                      AllocInternal::InjectedFailureHook.store(nullptr);
                      put();
                      fs.TryDeleteFile(copy), fs.TryDeleteFile(adopted), fs.TryDeleteFile(deep), DeleteFileW(native.GetText());
                      if (fs.DirectoryExists(level))
                          fs.RemoveDirectory(level);
                      if (fs.DirectoryExists(sub))
                          fs.RemoveDirectory(sub);
                  });
                  CFile file;
                  OnMemoryFailure([&] { file.Open(keep, FM_ReadWrite | FM_DenyAll | FM_Create, FILE_ATTRIBUTE_NORMAL); },
                                  [&] {
                                      CFile old;
                                      old.Open(keep, FM_Read | FM_DenyNone, 0);
                                      EXPECT_EQ(old.GetLength(), 3);
                                  });
                  const std::string data(3 * 65536 + 7, 'n');
                  const auto bytesAt = [](const CUnicodeString& path, int64_t at, int32_t count) {
                      CFile reader;
                      std::string bytes(size_t(count), '?');
                      reader.Open(path, FM_Read | FM_DenyNone, 0);
                      reader.Seek(at, FILE_BEGIN);
                      reader.Read(bytes.data(), count);
                      return bytes;
                  };
                  file.Write(data.data(), int32_t(data.size()));
                  file.Close();
                  OnMemoryFailure([&] { fs.CopyFile(copy, keep); }, [&] { EXPECT_FALSE(fs.FileExists(copy, FM_Exists)); });
                  fs.CopyFile(native, copy);
                  // A failed copy onto a file puts the file back; one into new levels takes them away.
                  OnMemoryFailure([&] { fs.CopyFile(copy, native); }, [&] { EXPECT_EQ(bytesAt(copy, int64_t(data.size()) - 1, 1), "n"); });
                  fs.DeleteFile(copy);
                  GetFileSystem(native).DeleteFile(native);
                  const HANDLE section = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 100, nullptr);
                  CBaseFile* opened = nullptr;
                  OnMemoryFailure([&] { opened = fs.OpenFile(adopted, GENERIC_READ, 0, nullptr, CREATE_NEW, 0, section, 100); },
                                  [&] { EXPECT_TRUE(CloseHandle(section) && !fs.DirectoryExists(sub)); });
                  fs.CloseFile(opened, false);
                  OnMemoryFailure([&] { fs.CopyFile(deep, keep); }, [&] { EXPECT_FALSE(fs.DirectoryExists(level)); });
                  // A handle of its own, which maps both windows afresh.
                  const int64_t at = GetAllocationGranularity() - 10;
                  CFile writer;
                  writer.Open(keep, FM_Write | FM_DenyNone | FM_NoTruncate, 0);
                  writer.Seek(at, FILE_BEGIN);
                  OnMemoryFailure([&] { writer.Write("twenty bytes, across", 20); },
                                  [&] { EXPECT_EQ(bytesAt(keep, at, 20), data.substr(0, 20)); });
              }),
              0);
}

// A growing write longer than the windows a handle keeps, which runs out of memory part-way,
// keeps the length it had; growth over the bytes it did copy beyond that length reads zeros, as
// on disk.
TEST(FailureInjection, FailedGrowingWriteLeavesOnlyZerosBeyondTheLength)
{
    const CUnicodeString path = VirtualFilesPrefix + L"injection\\grown.bin";
    const std::string bytes(size_t(12 * GetAllocationGranularity()), 'x');
    EXPECT_GT(FailEachAllocation([&] {
                  const std::shared_ptr<void> remove(nullptr, [&](void*) {
                      AllocInternal::InjectedFailureHook.store(nullptr);
                      GetFileSystem(path).TryDeleteFile(path);
                  });
                  CFile file;
                  file.Open(path, FM_ReadWrite | FM_DenyNone | FM_Create, FILE_ATTRIBUTE_NORMAL);
                  OnMemoryFailure([&] { file.Write(bytes.data(), int32_t(bytes.size())); },
                                  [&] {
                                      file.SetLength(int64_t(bytes.size()));
                                      std::string read(bytes.size(), '?');
                                      file.Seek(0, FILE_BEGIN);
                                      EXPECT_EQ(file.Read(read.data(), int32_t(read.size())), int32_t(read.size()));
                                      EXPECT_EQ(read.find_first_not_of('\0'), std::string::npos) << "a stale byte";
                                  });
              }),
              0);
}
