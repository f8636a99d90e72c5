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

using Blocks = std::vector<void*>;

// Reaches the pool's lists and the two phases of a take, so that a take in progress can be
// held open deterministically.
class CAtomicBlockManagerProbe {
public:
    explicit CAtomicBlockManagerProbe(CAtomicBlockManager& pool) : pool(pool) {}

    void BeginTake() { pool.BeginTake(); }
    void EndTake() { pool.EndTake(); }
    // The swap that ends a pop, for a taker that read the head and its link long before.
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
    Blocks Free() const { return Walk(pool.freeList.load()); }
    Blocks Deferred() const { return Walk(pool.deferredList.load()); }

    size_t CarvedBlocks() const
    {
        size_t blocks = 0;
        for (auto* list : {pool.openPages.load(), pool.fullPages.load()})
            for (auto* page = list; page; page = page->next)
                blocks += std::min<uint64_t>(page->carved.load(), pool.usableBytes) / pool.stride;
        return blocks;
    }

private:
    // A list in order; a block met twice (the list has become a cycle) ends it, listed twice.
    static Blocks Walk(CAtomicBlockManager::CBlock* block)
    {
        Blocks blocks;
        std::set<void*> seen;
        for (; block; block = block->next) {
            blocks.push_back(block);
            if (!seen.insert(block).second)
                break;
        }
        return blocks;
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
        return PageMemoryManager.Alloc(size);
    }
    void Free(void* block) override
    {
        ++releases;
        PageMemoryManager.Free(block);
    }
    std::atomic<int> allocations{0}, releases{0};
};

// A pool of 32-byte blocks over counted pages, with its probe.
struct AtomicBlockManager : ::testing::Test {
    CCountingPageManager pages;
    CAtomicBlockManager pool{32, &pages};
    CAtomicBlockManagerProbe probe{pool};
};

TEST_F(AtomicBlockManager, RefusesBlockSizesNoPageCanHold)
{
    // The last would wrap when rounded up to the stride.
    const struct { uint64_t blockSize; const CCheckSite& site; } rows[] = {
        {0, CheckSite::BlockSizeZero}, {65521, CheckSite::PageNotDivisibleIntoBlocks},
        {UINT64_MAX - 7, CheckSite::PageNotDivisibleIntoBlocks}};
    for (const auto& row : rows)
        EXPECT_TRUE(ReportsAt(row.site, [&] { CAtomicBlockManager bad(row.blockSize, &pages); })) << row.blockSize;
}

// A block given back while takes are in progress waits for the last taker, except that a take
// finding the free list dry uses waiting blocks rather than carve, or the pool grows with the
// traffic.
TEST_F(AtomicBlockManager, BlockGivenBackDuringATakeWaitsForTheLastTaker)
{
    void* spare = pool.Take();
    void* a = pool.Take();
    void* b = pool.Take();
    void* c = pool.Take();
    pool.GiveBack(spare); // keeps the free list non-empty, so takes go through the counter
    probe.BeginTake();    // two takes in progress elsewhere
    probe.BeginTake();
    pool.GiveBack(a);
    EXPECT_EQ(probe.Deferred(), Blocks{a});
    EXPECT_EQ(pool.Take(), spare);
    probe.EndTake();
    pool.GiveBack(b);
    EXPECT_EQ(pool.Take(), b) << "the free list is dry: a waiting block is handed over";
    EXPECT_EQ(probe.Deferred(), Blocks{a}) << "one taker is still inside";
    probe.EndTake();
    EXPECT_EQ(probe.Free(), Blocks{a});
    EXPECT_EQ(probe.Deferred(), Blocks{});
    EXPECT_EQ(probe.Takers(), 0);
    ASSERT_EQ(pool.Take(), a);
    probe.PushLateDeferred(a);
    probe.PushLateDeferred(c);
    EXPECT_EQ(pool.Take(), c);
    EXPECT_EQ(probe.Free(), Blocks{a}) << "no taker inside: the rest goes to the free list";
    probe.PushLateDeferred(c);
    pool.GiveBack(b);
    pool.GiveBack(nullptr);
    EXPECT_EQ(probe.Free(), (Blocks{b, c, a})) << "a giver with no taker inside takes late blocks along";
}

// Take() is a taker itself: a block given back while it is inside waits, and as the last taker
// out it hands the waiting blocks to the free list.
TEST_F(AtomicBlockManager, TakeCountsItselfAsATaker)
{
    void* a = pool.Take();
    void* b = pool.Take();
    pool.GiveBack(a);
    probe.PushLateDeferred(b); // given back by a giver that saw this take inside
    EXPECT_EQ(pool.Take(), a);
    EXPECT_EQ(probe.Free(), Blocks{b});
    EXPECT_EQ(probe.Deferred(), Blocks{});
    EXPECT_EQ(probe.Takers(), 0);
}

// A taker stalls after reading head A and its link B; meanwhile A and B are popped and A is
// given back. Were A back on the free list, the stale swap would hand B to a second owner.
TEST_F(AtomicBlockManager, StalledTakerCannotInstallAStaleLink)
{
    void* c = pool.Take();
    void* b = pool.Take();
    void* a = pool.Take();
    for (void* block : {c, b, a})
        pool.GiveBack(block); // free list: a, b, c
    probe.BeginTake();
    ASSERT_EQ(probe.Free(), (Blocks{a, b, c})); // what the stalled taker read
    EXPECT_EQ(pool.Take(), a); // other threads
    EXPECT_EQ(pool.Take(), b);
    pool.GiveBack(a);
    if (probe.SwapHead(a, b)) {
        EXPECT_NE(pool.Take(), b) << "a block went to two owners";
    }
    probe.EndTake();
    EXPECT_EQ(probe.Free(), (Blocks{a, c}));
}

// Reset makes every block free, a listed one included, and the pages serve again before a new
// one is asked for. A static pool outlives its destructor in storage, where exit handlers may
// still use it: every page went back, a block given back is ignored and a take refused.
TEST_F(AtomicBlockManager, ResetServesThePagesAgainAndDestructionGivesThemBack)
{
    alignas(CAtomicBlockManager) unsigned char storage[sizeof(CAtomicBlockManager)];
    auto* dying = new (storage) CAtomicBlockManager(32, &pages);
    const int perPage = static_cast<int>(dying->GetBlocksPerPage());
    std::set<void*> first, second;
    for (int i = 0; i < perPage * 2 + 5; ++i)
        first.insert(dying->Take());
    dying->GiveBack(*first.begin());
    ASSERT_EQ(pages.allocations, 3);
    dying->Reset();
    for (int i = 0; i < perPage * 3; ++i)
        second.insert(dying->Take());
    EXPECT_EQ(second.size(), perPage * 3u);
    EXPECT_EQ(pages.allocations, 3) << "reset pages serve again";
    EXPECT_TRUE(std::includes(second.begin(), second.end(), first.begin(), first.end()));
    void* block = dying->Take(); // three full pages and an open one
    EXPECT_EQ(pages.allocations, 4);
    dying->~CAtomicBlockManager();
    EXPECT_EQ(pages.releases, 4);
    dying->GiveBack(block); // its page is gone: must not be written
    delete Catch<CMemoryException>([&] { dying->Take(); });
    EXPECT_EQ(pages.allocations, 4);
}

// Every owner marks its whole block and checks the mark before giving it back: a block handed
// to two owners shows the other's mark. Afterwards every carved block is listed exactly once.
TEST_F(AtomicBlockManager, ConcurrentOwnersNeverShareABlock)
{
    constexpr int Threads = 4, Rounds = 100000, Held = 4;
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
    EXPECT_EQ(probe.Takers(), 0);
    Blocks listed = probe.Free(), deferred = probe.Deferred();
    listed.insert(listed.end(), deferred.begin(), deferred.end());
    const std::set<void*> distinct(listed.begin(), listed.end());
    ASSERT_EQ(distinct.size(), listed.size()) << "a block is listed twice";
    EXPECT_EQ(listed.size(), probe.CarvedBlocks()) << "blocks were lost or invented";
}

} // namespace
} // namespace Zelkor
