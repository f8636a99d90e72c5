#include <atomic>
#include <cstdint>
#include <set>
#include <thread>

#include "AtomicBlockManagerProbe.h"
#include "Errors.h"
#include "StartupOrder.h"
#include "TestSupport.h"

namespace Zelkor {

namespace {

// A pool of blocks three to a page, over pages counted as it asks for and gives them back, with
// its probe.
struct AtomicBlockManager : ::testing::Test, IMemoryManager {
    void* Alloc(uint64_t size) override { return ++allocations, PageMemoryManager.Alloc(size); }
    void Free(void* block) override { ++releases, PageMemoryManager.Free(block); }
    std::atomic<int> allocations{0}, releases{0};
    CAtomicBlockManager pool{16384, this};
    CAtomicBlockManagerProbe probe{pool};
};

// A block given back while a take is in progress waits for the last taker, so that a taker that
// read the head before cannot hand it to a second owner. A take is a taker itself: last out, it
// hands the waiting blocks on.
TEST_F(AtomicBlockManager, BlockGivenBackDuringATakeWaitsForTheLastTaker)
{
    void* spare = pool.Take();
    void* a = pool.Take();
    void* late = pool.Take();
    pool.GiveBack(spare); // keeps the free list non-empty, so the take goes through the counter
    probe.BeginTake();    // a take in progress elsewhere
    pool.GiveBack(a);
    EXPECT_EQ(pool.Take(), spare) << "a given back during the take waits";
    probe.EndTake();
    EXPECT_EQ(probe.Free(), Blocks{a});
    probe.PushLateDeferred(late); // given back by a giver that saw the next take inside
    EXPECT_EQ(pool.Take(), a);
    EXPECT_EQ(probe.Free(), Blocks{late}) << "a take is a taker: last out, it hands the late block on";
    probe.PushLateDeferred(a), pool.GiveBack(spare); // a giver that finds late blocks and no taker hands them on
    EXPECT_EQ(std::make_pair(probe.Free(), probe.Deferred()), std::make_pair(Blocks{spare, a, late}, Blocks{}));
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
    // Blocks lie a stride apart: 8 bytes for blocks of up to 8, else the size rounded up to 16.
    for (const auto& [size, stride] : {std::pair<uint64_t, uint64_t>{8, 8}, {9, 16}, {32, 32}, {33, 48}})
        EXPECT_EQ(CAtomicBlockManager(size, this).GetBlocksPerPage(), (CAtomicBlockManager::PageSize - 16) / stride) << size;
    EXPECT_TRUE(ReportsAt(CheckSite::BlockSizeZero, [this] { CAtomicBlockManager(0, this); }));
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
}

// Every owner marks its whole block and checks the mark before giving it back: a block handed
// to two owners shows the other's mark. Every owner holds many blocks, so while they fill up,
// pages run out on every thread at once. Afterwards every carved block is listed exactly once:
// a page lost from the pool's lists, or listed twice, would show as blocks lost or invented.
TEST_F(AtomicBlockManager, ConcurrentOwnersNeverShareABlockAndPagesAddedAtOnceStayListed)
{
    constexpr int Threads = 4, Rounds = 100000, Held = 300;
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
    Blocks listed = probe.Free(), deferred = probe.Deferred();
    listed.insert(listed.end(), deferred.begin(), deferred.end());
    EXPECT_EQ(std::set<void*>(listed.begin(), listed.end()).size(), listed.size()) << "a block is listed twice";
    EXPECT_EQ(probe.HeldBlocks(), 0) << "blocks were lost or invented";
}

} // namespace
} // namespace Zelkor
