#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "AtomicBlockManagerProbe.h"
#include "Errors.h"
#include "StartupOrder.h"
#include "TestSupport.h"

namespace Zelkor {

namespace {

// A pool of 32-byte blocks over pages counted as it asks for and gives them back, with its probe.
struct AtomicBlockManager : ::testing::Test, IMemoryManager {
    void* Alloc(uint64_t size) override { return ++allocations, PageMemoryManager.Alloc(size); }
    void Free(void* block) override { ++releases, PageMemoryManager.Free(block); }
    std::atomic<int> allocations{0}, releases{0};
    CAtomicBlockManager pool{32, this};
    CAtomicBlockManagerProbe probe{pool};
};

TEST_F(AtomicBlockManager, RefusesBlockSizesNoPageCanHold)
{
    // The last would wrap when rounded up to the stride.
    // clang-format off
    const struct { uint64_t blockSize; const CCheckSite& site; } rows[] = {
        {0, CheckSite::BlockSizeZero}, {65521, CheckSite::PageNotDivisibleIntoBlocks},
        {UINT64_MAX - 7, CheckSite::PageNotDivisibleIntoBlocks}};
    // clang-format on
    for (const auto& row : rows)
        EXPECT_TRUE(ReportsAt(row.site, [&] { CAtomicBlockManager bad(row.blockSize, this); })) << row.blockSize;
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
    EXPECT_EQ(pool.Take(), spare) << "a given back during the takes waits";
    probe.EndTake();
    pool.GiveBack(b);
    EXPECT_EQ(pool.Take(), b) << "the free list is dry: a waiting block is handed over";
    EXPECT_EQ(probe.Deferred(), Blocks{a}) << "one taker is still inside";
    probe.EndTake();
    EXPECT_EQ(probe.Free(), Blocks{a});
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
    EXPECT_EQ(pool.Take(), a);                  // other threads
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
TEST_F(AtomicBlockManager, ResetServesThePagesAgainAndDestroyedPoolIgnoresGiveBackAndRefusesTake)
{
    CLifeMark life;
    alignas(CAtomicBlockManager) unsigned char storage[sizeof(CAtomicBlockManager)];
    auto* dying = new (storage) CAtomicBlockManager(32, this, &life);
    const int perPage = static_cast<int>(dying->GetBlocksPerPage());
    for (int i = 0; i < perPage * 2 + 4; ++i)
        dying->Take();
    dying->GiveBack(dying->Take());
    dying->Reset();
    // As many distinct blocks as three pages hold, from the three pages already there.
    std::set<void*> served;
    for (int i = 0; i < perPage * 3; ++i)
        served.insert(dying->Take());
    EXPECT_EQ(served.size(), perPage * 3u);
    EXPECT_EQ(allocations, 3) << "reset pages serve again";
    void* block = dying->Take(); // three full pages and an open one
    dying->~CAtomicBlockManager();
    EXPECT_EQ(releases, 4);
    dying->GiveBack(block); // its page is gone: must not be written
    delete Catch<CMemoryException>([&] { dying->Take(); });
    EXPECT_EQ(allocations, 4);
}

// Threads that run out of room at the same time each add a page, and none is lost from the
// pool's lists: its end gives every page back.
TEST_F(AtomicBlockManager, PagesAddedAtOnceAreAllGivenBack)
{
    std::atomic<bool> start{false};
    {
        CAtomicBlockManager local(16384, this); // a few blocks a page: pages run out all the time
        const int perPage = static_cast<int>(local.GetBlocksPerPage());
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&] {
                while (!start.load())
                    std::this_thread::yield();
                for (int i = 0; i < perPage * 100; ++i)
                    local.Take();
            });
        start.store(true);
        for (auto& thread : threads)
            thread.join();
        EXPECT_GE(allocations.load(), 400);
    }
    EXPECT_EQ(releases.load(), allocations.load());
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
    EXPECT_EQ(std::set<void*>(listed.begin(), listed.end()).size(), listed.size()) << "a block is listed twice";
    EXPECT_EQ(listed.size(), probe.CarvedBlocks()) << "blocks were lost or invented";
}

} // namespace
} // namespace Zelkor
