#include <windows.h>

#include <atomic>
#include <cstdint>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "AtomicBlockManager.h"
#include "Errors.h"
#include "TestSupport.h"

namespace Zelkor {

// Reaches the pool's lists and the two phases of a take, so that a take in progress can be
// held open deterministically.
class CAtomicBlockManagerProbe {
public:
    explicit CAtomicBlockManagerProbe(CAtomicBlockManager& pool) : pool(pool) {}

    void BeginTake() { pool.BeginTake(); }
    void EndTake() { pool.EndTake(); }
    // The two halves of a pop, for a taker stalled between reading the head's link and the swap.
    void* ReadHead(void*& next) const
    {
        auto* head = pool.freeList.load();
        next = head ? head->next : nullptr;
        return head;
    }
    bool SwapHead(void* expected, void* next)
    {
        auto* head = static_cast<CAtomicBlockManager::CBlock*>(expected);
        return pool.freeList.compare_exchange_strong(head, static_cast<CAtomicBlockManager::CBlock*>(next));
    }
    // A giver that saw a taker inside but pushes only after the last one left.
    void PushLateDeferred(void* block)
    {
        auto* b = static_cast<CAtomicBlockManager::CBlock*>(block);
        pool.PushDeferred(b, b);
    }
    int32_t Takers() const { return pool.takers.load(); }
    bool IsFree(void* block) const { return Contains(pool.freeList.load(), block); }
    bool IsDeferred(void* block) const { return Contains(pool.deferredList.load(), block); }
    bool NoneDeferred() const { return !pool.deferredList.load(); }

    size_t CarvedBlocks() const
    {
        size_t blocks = 0;
        for (auto* list : {pool.openPages.load(), pool.fullPages.load()})
            for (auto* page = list; page; page = page->next)
                blocks += std::min<uint64_t>(page->carved.load(), pool.usableBytes) / pool.stride;
        return blocks;
    }
    // Every block of the free and deferred lists once; false on a block listed twice.
    bool CollectListed(std::set<void*>& blocks) const
    {
        for (auto* list : {pool.freeList.load(), pool.deferredList.load()})
            for (auto* block = list; block; block = block->next)
                if (!blocks.insert(block).second)
                    return false;
        return true;
    }

private:
    template <class Node>
    static bool Contains(Node* node, void* wanted)
    {
        for (; node && node != wanted; node = node->next) {
        }
        return node != nullptr;
    }

    CAtomicBlockManager& pool;
};

namespace {

// Counts the pages the pool asks for and gives back.
class CCountingPageManager : public IMemoryManager {
public:
    void* Alloc(uint64_t size) override
    {
        ++allocations;
        lastSize = size;
        return PageMemoryManager.Alloc(size);
    }
    void Free(void* block) override
    {
        ++releases;
        PageMemoryManager.Free(block);
    }
    std::atomic<int> allocations{0}, releases{0};
    uint64_t lastSize = 0;
};

TEST(AtomicBlockManager, GeometryFollowsTheBlockSizeAndRefusesImpossibleOnes)
{
    const struct { uint64_t blockSize, stride, blocksPerPage; } rows[] = {
        {1, 8, 8190}, {8, 8, 8190}, {9, 16, 4095}, {33, 48, 1365}, {100, 112, 585}, {65520, 65520, 1}};
    CCountingPageManager pages;
    for (const auto& row : rows) {
        CAtomicBlockManager pool(row.blockSize, &pages);
        EXPECT_EQ(pool.GetStride(), row.stride) << row.blockSize;
        EXPECT_EQ(pool.GetBlocksPerPage(), row.blocksPerPage) << row.blockSize;
        EXPECT_EQ(pool.GetUsableBytes(), row.blocksPerPage * row.stride) << row.blockSize;
    }
    // The last would wrap when rounded up to the stride.
    const struct { uint64_t blockSize; const CCheckSite& site; } bad[] = {
        {0, CheckSite::BlockSizeZero}, {65521, CheckSite::PageNotDivisibleIntoBlocks},
        {UINT64_MAX - 7, CheckSite::PageNotDivisibleIntoBlocks}};
    for (const auto& row : bad)
        EXPECT_TRUE(ReportsAt(row.site, [&] { CAtomicBlockManager pool(row.blockSize, &pages); })) << row.blockSize;
    EXPECT_EQ(pages.allocations, 0);
    ASSERT_EQ(GetAllocationGranularity(), 0x10000u); // the platform's usual granularity
    for (CAtomicBlockManager* pool : {&StringPool32, &StringPool64, &StringPool128, &CharSetPagePool})
        EXPECT_EQ(pool->GetPageManager(), &PageMemoryManager);
    EXPECT_EQ(CharSetPagePool.GetBlocksPerPage(), 511u);
}

TEST(AtomicBlockManager, CarvesAFullPageThenOpensASecond)
{
    CCountingPageManager pages;
    {
        CAtomicBlockManager pool(32, &pages);
        char* page = static_cast<char*>(pool.Take()) - 16;
        for (int i = 1; i < 2047; ++i)
            ASSERT_EQ(pool.Take(), page + 16 + i * 32) << "block " << i;
        EXPECT_EQ(pages.allocations, 1);
        EXPECT_EQ(pages.lastSize, 0x10000u);
        char* next = static_cast<char*>(pool.Take());
        EXPECT_EQ(pages.allocations, 2);
        EXPECT_TRUE(next < page || next >= page + 0x10000);
    }
    EXPECT_EQ(pages.releases, 2); // destruction gives every page back
}

// Also: blocks pushed late onto the deferred list must not stay stranded.
TEST(AtomicBlockManager, GivenBackBlocksAreReusedBeforeCarving)
{
    CCountingPageManager pages;
    CAtomicBlockManager pool(64, &pages);
    CAtomicBlockManagerProbe probe(pool);
    void* first = pool.Take();
    void* second = pool.Take();
    void* third = pool.Take();
    pool.GiveBack(first);
    pool.GiveBack(second);
    pool.GiveBack(nullptr);
    EXPECT_EQ(pool.Take(), second);
    EXPECT_EQ(pool.Take(), first);
    probe.PushLateDeferred(first);
    pool.GiveBack(third);
    EXPECT_TRUE(probe.NoneDeferred());
    EXPECT_EQ(pool.Take(), third);
    EXPECT_EQ(pool.Take(), first);
    EXPECT_EQ(static_cast<char*>(pool.Take()), static_cast<char*>(third) + 64); // carving goes on
    EXPECT_EQ(pages.allocations, 1);
}

// A block given back while takes are in progress waits for the last taker, except that a take
// finding the free list dry uses waiting blocks rather than carve, or the pool grows with the
// traffic.
TEST(AtomicBlockManager, BlockGivenBackDuringATakeWaitsForTheLastTaker)
{
    CCountingPageManager pages;
    CAtomicBlockManager pool(32, &pages);
    CAtomicBlockManagerProbe probe(pool);
    void* spare = pool.Take();
    void* a = pool.Take();
    void* b = pool.Take();
    void* c = pool.Take();
    const size_t carved = probe.CarvedBlocks();
    pool.GiveBack(spare); // keeps the free list non-empty, so takes go through the counter
    probe.BeginTake();    // two takes in progress elsewhere
    probe.BeginTake();
    pool.GiveBack(a);
    EXPECT_TRUE(probe.IsDeferred(a) && !probe.IsFree(a));
    EXPECT_EQ(pool.Take(), spare);
    probe.EndTake();
    pool.GiveBack(b);
    EXPECT_EQ(pool.Take(), b) << "the free list is dry: a waiting block is handed over";
    EXPECT_TRUE(probe.IsDeferred(a)) << "one taker is still inside";
    probe.EndTake();
    EXPECT_TRUE(probe.IsFree(a) && probe.NoneDeferred());
    EXPECT_EQ(probe.Takers(), 0);
    ASSERT_EQ(pool.Take(), a);
    probe.PushLateDeferred(a);
    probe.PushLateDeferred(c);
    EXPECT_EQ(pool.Take(), c);
    EXPECT_TRUE(probe.IsFree(a)) << "no taker inside: the rest goes to the free list";
    EXPECT_EQ(probe.CarvedBlocks(), carved);
}

// Take() is a taker itself: a block given back while it is inside waits, and as the last taker
// out it hands the waiting blocks to the free list.
TEST(AtomicBlockManager, TakeCountsItselfAsATaker)
{
    CCountingPageManager pages;
    CAtomicBlockManager pool(32, &pages);
    CAtomicBlockManagerProbe probe(pool);
    void* a = pool.Take();
    void* b = pool.Take();
    pool.GiveBack(a);
    probe.PushLateDeferred(b); // given back by a giver that saw this take inside
    EXPECT_EQ(pool.Take(), a);
    EXPECT_TRUE(probe.IsFree(b) && probe.NoneDeferred());
    EXPECT_EQ(probe.Takers(), 0);
}

// A taker stalls after reading head A and its link B; meanwhile A and B are popped and A is
// given back. Were A back on the free list, the stale swap would hand B to a second owner.
TEST(AtomicBlockManager, StalledTakerCannotInstallAStaleLink)
{
    CCountingPageManager pages;
    CAtomicBlockManager pool(32, &pages);
    CAtomicBlockManagerProbe probe(pool);
    void* c = pool.Take();
    void* b = pool.Take();
    void* a = pool.Take();
    for (void* block : {c, b, a})
        pool.GiveBack(block); // free list: a, b, c
    probe.BeginTake();
    void* staleNext = nullptr;
    ASSERT_EQ(probe.ReadHead(staleNext), a);
    ASSERT_EQ(staleNext, b);
    EXPECT_EQ(pool.Take(), a); // other threads
    EXPECT_EQ(pool.Take(), b);
    pool.GiveBack(a);
    if (probe.SwapHead(a, staleNext)) {
        EXPECT_NE(pool.Take(), b) << "a block went to two owners";
    }
    probe.EndTake();
    EXPECT_FALSE(probe.IsFree(b));
}

TEST(AtomicBlockManager, ResetMakesEveryBlockFreeAndKeepsThePages)
{
    CCountingPageManager pages;
    CAtomicBlockManager pool(128, &pages);
    std::set<void*> first, second;
    for (int i = 0; i < 511 * 2 + 5; ++i)
        first.insert(pool.Take());
    pool.GiveBack(*first.begin());
    ASSERT_EQ(pages.allocations, 3);
    pool.Reset();
    for (int i = 0; i < 511 * 3; ++i)
        second.insert(pool.Take());
    EXPECT_EQ(second.size(), 511u * 3);
    EXPECT_EQ(pages.allocations, 3) << "reset pages serve again";
    EXPECT_TRUE(std::includes(second.begin(), second.end(), first.begin(), first.end()));
    pool.Take();
    EXPECT_EQ(pages.allocations, 4);
}

// A static pool outlives its destructor in storage; exit handlers may still use it.
TEST(AtomicBlockManager, DestroyedPoolIgnoresGiveBackAndRefusesTake)
{
    CCountingPageManager pages;
    alignas(CAtomicBlockManager) unsigned char storage[sizeof(CAtomicBlockManager)];
    auto* pool = new (storage) CAtomicBlockManager(32, &pages);
    void* block = pool->Take();
    pool->~CAtomicBlockManager();
    EXPECT_EQ(pages.releases, 1);
    pool->GiveBack(block); // its page is gone: must not be written
    delete Catch<CMemoryException>([&] { pool->Take(); });
    EXPECT_EQ(pages.allocations, 1);
}

// Every owner marks its whole block and checks the mark before giving it back: a block handed
// to two owners shows the other's mark. Afterwards every carved block is listed exactly once.
TEST(AtomicBlockManager, ConcurrentOwnersNeverShareABlock)
{
    constexpr int Threads = 4, Rounds = 100000, Held = 4;
    CAtomicBlockManager pool(32);
    std::atomic<int> conflicts{0};
    std::atomic<bool> start{false};
    std::vector<std::thread> threads;
    for (uint64_t id = 1; id <= Threads; ++id) {
        threads.emplace_back([&, id] {
            while (!start.load())
                std::this_thread::yield();
            uint64_t* held[Held] = {};
            for (uint64_t round = 0; round < Rounds; ++round) {
                uint64_t*& block = held[round % Held];
                if (block) {
                    for (int w = 1; w < 4; ++w)
                        if (block[w] != block[0] || block[0] >> 48 != id)
                            conflicts.fetch_add(1);
                    pool.GiveBack(block);
                }
                block = static_cast<uint64_t*>(pool.Take());
                for (int w = 0; w < 4; ++w)
                    block[w] = id << 48 | round;
            }
            for (uint64_t* block : held)
                pool.GiveBack(block);
        });
    }
    start.store(true);
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(conflicts.load(), 0);
    CAtomicBlockManagerProbe probe(pool);
    EXPECT_EQ(probe.Takers(), 0);
    std::set<void*> listed;
    ASSERT_TRUE(probe.CollectListed(listed)) << "a block is listed twice";
    EXPECT_EQ(listed.size(), probe.CarvedBlocks()) << "blocks were lost or invented";
    // How many blocks the traffic carved depends on how long takers were preempted, which a
    // busy machine does not bound; what must hold is that every one of them is reused: taking
    // them all again carves nothing.
    const size_t carved = probe.CarvedBlocks();
    for (size_t i = 0; i < listed.size(); ++i)
        EXPECT_TRUE(listed.count(pool.Take())) << "a new block while listed ones were free";
    EXPECT_EQ(probe.CarvedBlocks(), carved);
}

} // namespace
} // namespace Zelkor
