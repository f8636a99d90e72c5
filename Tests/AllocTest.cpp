#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Alloc.h"
#include "Errors.h"
#include "TestSupport.h"

namespace Zelkor {
namespace {

constexpr uint64_t Huge = uint64_t(1) << 62; // more than any heap can give

// A refusal of the system, reported at site with the system's error code.
void ExpectLastErrorReport(CInternalError* error, const CCheckSite& site)
{
    ASSERT_NE(error, nullptr);
    EXPECT_STREQ(error->GetSourceFile(), site.sourcePath);
    EXPECT_EQ(error->GetLine(), site.line);
    EXPECT_EQ(error->GetKind(), FailureKind::AssertLastError);
    EXPECT_NE(error->GetErrorCode(), 0u);
    delete error;
}

// Plain blocks count at the heap's size of the block, sized ones (the string heap's calls) at
// the size the caller names, through growth and shrinking; a refused allocation or growth, a
// foreign block and null change nothing, not even the last-error code.
TEST(HeapManager, CountsLiveBlocksAndTheirBytesThroughGrowthRefusalsAndForeignFrees)
{
    CHeapManager manager(0x1000, false), other(0x1000, false);
    void* plain = manager.Alloc(4096);
    const uint64_t bytes = HeapSize(manager.GetHeap(), 0, plain);
    void* sized = manager.AllocSized(300);
    uint64_t sizedBytes = 300;
    for (const uint64_t size : {uint64_t(200000), uint64_t(250)}) {
        sized = manager.ReallocSized(sized, sizedBytes, size);
        ASSERT_NE(sized, nullptr) << size;
        sizedBytes = size;
        EXPECT_EQ(manager.GetByteCount(), bytes + size);
    }
    SetLastError(1234);
    EXPECT_EQ(manager.ReallocSized(sized, 250, Huge), nullptr);
    EXPECT_EQ(GetLastError(), 1234u);
    EXPECT_EQ(manager.ReallocSized(nullptr, 0, 10), nullptr);
    delete Catch<CMemoryException>([&] { manager.AllocSized(Huge); });
    void* foreign = other.AllocSized(64);
    manager.Free(foreign);
    manager.FreeSized(foreign, 64);
    manager.FreeSized(nullptr, 0);
    EXPECT_EQ(manager.GetBlockCount(), 2);
    EXPECT_EQ(manager.GetByteCount(), bytes + 250);

    other.FreeSized(foreign, 64);
    manager.FreeSized(sized, 250);
    manager.Free(plain);
    EXPECT_EQ(manager.GetBlockCount(), 0);
    EXPECT_EQ(manager.GetByteCount(), 0u);
}

TEST(HeapManager, DestroyKeepsAHeapWithLiveBlocksUnlessAllowed)
{
    // clang-format off
    const struct { bool mayDestroy, liveBlock, destroyed; } rows[] = {
        {false, false, true}, {false, true, false}, {true, true, true}};
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "may destroy " << row.mayDestroy << ", live " << row.liveBlock);
        CHeapManager manager(0x1000, row.mayDestroy);
        void* block = row.liveBlock ? manager.Alloc(48) : nullptr;
        const uint64_t bytes = manager.GetByteCount();
        EXPECT_EQ(manager.Destroy(), row.destroyed);
        EXPECT_EQ(manager.GetBlockCount(), row.destroyed || !row.liveBlock ? 0 : 1);
        EXPECT_EQ(manager.GetByteCount(), row.destroyed ? 0u : bytes);
        manager.Free(block); // harmless even when the block went with the heap
        if (row.destroyed)
            delete Catch<CMemoryException>([&] { manager.Alloc(8); });
    }
    CHeapManager twice(0x1000, false);
    ASSERT_TRUE(twice.Destroy());
    EXPECT_TRUE(ReportsAt(CheckSite::HeapDestroyedTwice, [&] { twice.Destroy(); }));
}

TEST(CurrentMemoryManager, SwitchersNestPerThreadAndKeepTheLastError)
{
    CHeapManager outer(0x1000, false), inner(0x1000, false);
    {
        CMemoryManagerSwitcher first(&outer);
        {
            CMemoryManagerSwitcher second(&inner);
            IMemoryManager* seenElsewhere = nullptr;
            std::thread([&] { seenElsewhere = GetCurrentMemoryManager(); }).join();
            EXPECT_EQ(seenElsewhere, &DefaultMemoryManager);
            SetLastError(1234);
            EXPECT_EQ(GetCurrentMemoryManager(), &inner);
            EXPECT_EQ(GetLastError(), 1234u);
        }
        EXPECT_EQ(GetCurrentMemoryManager(), &outer);
    }
    EXPECT_EQ(GetCurrentMemoryManager(), &DefaultMemoryManager);
}

// Every policy throws when exhausted and serves empty requests; pages come committed up to the
// last byte asked for and go back whole; a release the system refuses is reported.
TEST(AllocatedOn, EveryHeapThrowsWhenExhaustedServesEmptyRequestsAndReportsRefusedReleases)
{
    // clang-format off
    const struct { const char* name; void* (*alloc)(uint64_t); void (*free)(void*); } rows[] = {
        {"process heap", ProcessHeap::Alloc, ProcessHeap::Free}, {"runtime heap", RuntimeHeap::Alloc, RuntimeHeap::Free},
        {"page manager", [](uint64_t n) { return PageMemoryManager.Alloc(n); }, [](void* b) { PageMemoryManager.Free(b); }},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        delete Catch<CMemoryException>([&] { row.alloc(Huge); });
        void* empty = row.alloc(0);
        EXPECT_NE(empty, nullptr);
        row.free(empty);
        row.free(nullptr);
    }
    CHeapManager other(0x1000, false);
    void* foreign = other.Alloc(32);
    ExpectLastErrorReport(Catch<CInternalError>([&] { ProcessHeap::Free(foreign); }), CheckSite::ProcessHeapFreeRefused);
    ProcessHeap::FreeNoThrow(foreign); // reported, not thrown
    other.Free(foreign);

    char* pages = static_cast<char*>(PageMemoryManager.Alloc(0x30001));
    pages[0x30000] = 1;
    ExpectLastErrorReport(Catch<CInternalError>([&] { PageMemoryManager.Free(pages + 0x1000); }), CheckSite::VirtualMemoryFreeFailed);
    PageMemoryManager.Free(pages);
    MEMORY_BASIC_INFORMATION info;
    ASSERT_TRUE(VirtualQuery(pages, &info, sizeof info));
    EXPECT_EQ(info.State, static_cast<DWORD>(MEM_FREE));
}

bool IsProcessHeap(HANDLE heap)
{
    std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 16);
    heaps.resize(GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data()));
    return std::find(heaps.begin(), heaps.end(), heap) != heaps.end();
}

// Start-up goes on without a current-manager slot (every thread then stays on the default),
// and says why in the debugger's output, only then; unload must release the module's string
// heap and pool pages even with blocks still live.
// With a slot the module starts as this suite itself did.
TEST(MemoryModule, LoadsWithoutThreadLocalSlotsAndUnloadReleasesLiveBlocks)
{
    DWORD error = 0;
    HMODULE module = nullptr;
    const std::wstring said = DebugOutputOf([&] { module = LoadModule(L"MemoryProbe.dll", true, &error); });
    ASSERT_NE(module, nullptr) << error;
    EXPECT_NE(said.find(L"Not enough TLS indices\n"), std::wstring::npos);
    auto canSwitch = ExportOf<bool (*)()>(module, "CanSwitchManager");
    auto take = ExportOf<void* (*)()>(module, "TakeStringPoolBlock");
    auto alloc = ExportOf<void* (*)(uint64_t)>(module, "AllocStringHeapBlock");
    auto heapOf = ExportOf<HANDLE (*)()>(module, "GetStringHeapHandle");
    ASSERT_TRUE(canSwitch && take && alloc && heapOf);
    EXPECT_FALSE(canSwitch());
    char* block = static_cast<char*>(take());
    block[31] = 1;
    alloc(1000);
    // A heap of the process before the unload and none after: the module has one of its own.
    const HANDLE heap = heapOf();
    ASSERT_TRUE(IsProcessHeap(heap));
    ASSERT_TRUE(FreeLibrary(module));
    EXPECT_FALSE(IsProcessHeap(heap));
    MEMORY_BASIC_INFORMATION info;
    ASSERT_TRUE(VirtualQuery(block, &info, sizeof info));
    EXPECT_EQ(info.State, static_cast<DWORD>(MEM_FREE));
    EXPECT_EQ(DebugOutputOf([&] { FreeLibrary(LoadModule(L"MemoryProbe.dll", false, &error)); }).find(L"TLS"), std::wstring::npos);
}

} // namespace
} // namespace Zelkor
