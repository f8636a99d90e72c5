
#include <cstdint>
#include <thread>

#include "Alloc.h"
#include "Errors.h"
#include "TestSupport.h"

namespace Zelkor {
namespace {

constexpr uint64_t Huge = uint64_t(1) << 62; // more than any heap can give

// Plain blocks count at the heap's size of the block, sized ones (the string heap's calls) at
// the size the caller names, through growth and shrinking; a refused allocation or growth, a
// foreign block and null change nothing, not even the last-error code, which asking for the
// current manager keeps too.
TEST(HeapManager, CountsLiveBlocksAndTheirBytesThroughGrowthRefusalsAndForeignFrees)
{
    CHeapManager manager(0x1000, false), other(0x1000, false);
    void* plain = manager.Alloc(4096);
    const uint64_t bytes = HeapSize(manager.GetHeap(), 0, plain);
    void* sized = manager.ReallocSized(manager.AllocSized(300), 300, 200000);
    EXPECT_EQ(manager.GetByteCount(), bytes + 200000);
    sized = manager.ReallocSized(sized, 200000, 250);
    EXPECT_EQ(manager.GetByteCount(), bytes + 250);
    SetLastError(1234);
    EXPECT_EQ(manager.ReallocSized(sized, 250, Huge), nullptr);
    EXPECT_EQ(GetLastError(), 1234u);
    EXPECT_EQ(GetCurrentMemoryManager(), &DefaultMemoryManager);
    EXPECT_EQ(GetLastError(), 1234u) << "asking for the current manager";
    delete Catch<CMemoryException>([&] { manager.AllocSized(Huge); });
    void* foreign = other.AllocSized(64);
    manager.Free(foreign), manager.FreeSized(foreign, 64), manager.FreeSized(nullptr, 0);
    EXPECT_EQ(manager.GetBlockCount(), 2);
    EXPECT_EQ(manager.GetByteCount(), bytes + 250);

    other.FreeSized(foreign, 64), manager.FreeSized(sized, 250), manager.Free(plain);
    // Threads that take blocks and give them back at once leave the heap whole.
    const auto churn = [&] {
        for (int i = 0; i < 200000; ++i)
            manager.Free(manager.Alloc(16 + i % 200));
    };
    std::thread a(churn), b(churn);
    a.join(), b.join();
    EXPECT_EQ(manager.GetBlockCount(), 0);
    EXPECT_EQ(manager.GetByteCount(), 0u);
}

TEST(HeapManager, DestroyKeepsAHeapWithLiveBlocksUnlessAllowed)
{
    for (const bool mayDestroy : {false, true}) {
        SCOPED_TRACE(mayDestroy ? "may destroy" : "may not destroy");
        CHeapManager manager(0x1000, mayDestroy);
        void* block = manager.Alloc(48);
        const uint64_t bytes = manager.GetByteCount();
        EXPECT_EQ(manager.Destroy(), mayDestroy);
        EXPECT_EQ(manager.GetBlockCount(), mayDestroy ? 0 : 1);
        EXPECT_EQ(manager.GetByteCount(), mayDestroy ? 0u : bytes);
        manager.Free(block); // harmless even when the block went with the heap
        if (!mayDestroy) {
            EXPECT_TRUE(manager.Destroy()) << "emptied, the heap goes";
        }
        delete Catch<CMemoryException>([&] { manager.Alloc(8); });
    }
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
        row.free(empty), row.free(nullptr);
    }
    CHeapManager other(0x1000, false);
    void* foreign = other.Alloc(32);
    EXPECT_TRUE(ReportsAt(CheckSite::ProcessHeapFreeRefused, [&] { ProcessHeap::Free(foreign); }));
    EXPECT_EQ(DebugOutputOf([&] { ProcessHeap::FreeNoThrow(foreign); }),
              L"Zelkor: internal error at Src/Alloc, line 894, system error 87\n"); // traced, not thrown
    other.Free(foreign);

    char* pages = static_cast<char*>(PageMemoryManager.Alloc(0x30001));
    pages[0x30000] = 1;
    EXPECT_TRUE(ReportsAt(CheckSite::VirtualMemoryFreeFailed, [&] { PageMemoryManager.Free(pages + 0x1000); }));
    PageMemoryManager.Free(pages);
    MEMORY_BASIC_INFORMATION info;
    ASSERT_TRUE(VirtualQuery(pages, &info, sizeof info));
    EXPECT_EQ(info.State, static_cast<DWORD>(MEM_FREE));
}

} // namespace
} // namespace Zelkor
