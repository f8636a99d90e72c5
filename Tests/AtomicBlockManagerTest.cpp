#include <windows.h>

#include <atomic>
#include <cstdint>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "AtomicBlockManager.h"
#include "Errors.h"

namespace Zelkor {

// Reaches the pool's lists and the two phases of a take, so that a take in progress can be
// held open deterministically.
class CAtomicBlockManagerProbe {
public:
    explicit CAtomicBlockManagerProbe(CAtomicBlockManager& pool) : pool(pool) {}

    void BeginTake() { pool.BeginTake(); }
    void EndTake() { pool.EndTake(); }
    // The two halves of a pop, for a taker stalled between reading the head's link and the
    // compare-and-swap.
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
    void PushLateDeferred(void* block)
    {
        auto* b = static_cast<CAtomicBlockManager::CBlock*>(block);
        pool.PushDeferred(b, b);
    }
    int32_t Takers() const { return pool.takers.load(); }

    size_t FreeCount() const { return Count(pool.freeList.load()); }
    size_t DeferredCount() const { return Count(pool.deferredList.load()); }
    bool IsFree(void* block) const { return Contains(pool.freeList.load(), block); }
    bool IsDeferred(void* block) const { return Contains(pool.deferredList.load(), block); }
    size_t OpenPages() const { return Count(pool.openPages.load()); }
    size_t FullPages() const { return Count(pool.fullPages.load()); }

    // Blocks handed out by carving so far, over all pages.
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
    static size_t Count(Node* node)
    {
        size_t count = 0;
        for (; node; node = node->next)
            ++count;
        return count;
    }
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

// Serves virtual pages and counts them: shows when the pool asks for a page, and a released
// page faults when touched.
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
    std::atomic<int> allocations{0};
    std::atomic<int> releases{0};
    uint64_t lastSize = 0;
};

TEST(AtomicBlockManager, GeometryFollowsTheBlockSize)
{
    struct Row {
        uint64_t blockSize, stride, blocksPerPage;
    };
    const Row rows[] = {
        {1, 8, 8190},     {7, 8, 8190},     {8, 8, 8190},       {9, 16, 4095},
        {16, 16, 4095},   {17, 32, 2047},   {32, 32, 2047},     {33, 48, 1365},
        {64, 64, 1023},   {100, 112, 585},  {128, 128, 511},    {65520, 65520, 1},
    };
    CCountingPageManager pages;
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "block size " << row.blockSize);
        CAtomicBlockManager pool(row.blockSize, &pages);
        EXPECT_EQ(pool.GetStride(), row.stride);
        EXPECT_EQ(pool.GetBlocksPerPage(), row.blocksPerPage);
        EXPECT_EQ(pool.GetUsableBytes(), row.blocksPerPage * row.stride);
        EXPECT_EQ(pool.GetUsableBytes() % row.stride, 0u);
    }
}

TEST(AtomicBlockManager, FrameworkPoolsUseVirtualPages)
{
    ASSERT_EQ(GetAllocationGranularity(), 0x10000u); // the platform's usual granularity
    for (CAtomicBlockManager* pool : {&StringPool32, &StringPool64, &StringPool128, &CharSetPagePool})
        EXPECT_EQ(pool->GetPageManager(), &PageMemoryManager);
    EXPECT_EQ(StringPool32.GetBlocksPerPage(), 2047u);
    EXPECT_EQ(CharSetPagePool.GetBlocksPerPage(), 511u);
}

TEST(AtomicBlockManager, ImpossibleBlockSizesAreInternalErrors)
{
    struct Row {
        uint64_t blockSize;
        int32_t line;
    };
    // The last two would wrap when rounded up to the stride.
    const Row rows[] = {{0, 24}, {65521, 45}, {65536, 45}, {UINT64_MAX - 7, 45}, {UINT64_MAX, 45}};
    CCountingPageManager pages;
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "block size " << row.blockSize);
        try {
            CAtomicBlockManager pool(row.blockSize, &pages);
            ADD_FAILURE() << "no internal error";
        } catch (CInternalError* error) {
            EXPECT_STREQ(error->GetSourceFile(), L"Src/AtomicBlockManager");
            EXPECT_EQ(error->GetLine(), row.line);
            delete error;
        }
    }
    EXPECT_EQ(pages.allocations, 0);
}

TEST(AtomicBlockManager, CarvesAFullPageThenOpensASecond)
{
    CCountingPageManager pages;
    std::vector<char*> blocks;
    {
        CAtomicBlockManager pool(32, &pages);
        CAtomicBlockManagerProbe probe(pool);
        for (int i = 0; i < 2047; ++i)
            blocks.push_back(static_cast<char*>(pool.Take()));
        EXPECT_EQ(pages.allocations, 1);
        EXPECT_EQ(pages.lastSize, 0x10000u);
        char* page = blocks[0] - 16;
        for (int i = 0; i < 2047; ++i)
            ASSERT_EQ(blocks[i], page + 16 + i * 32) << "block " << i;
        EXPECT_EQ(probe.OpenPages(), 1u);
        EXPECT_EQ(probe.FullPages(), 0u);

        char* next = static_cast<char*>(pool.Take());
        EXPECT_EQ(pages.allocations, 2);
        EXPECT_TRUE(next < page || next >= page + 0x10000);
        EXPECT_EQ(probe.OpenPages(), 1u);
        EXPECT_EQ(probe.FullPages(), 1u);
    }
    EXPECT_EQ(pages.releases, 2); // destruction gives every page back
}

TEST(AtomicBlockManager, GivenBackBlockIsReusedBeforeCarving)
{
    CCountingPageManager pages;
    CAtomicBlockManager pool(64, &pages);
    void* first = pool.Take();
    void* second = pool.Take();
    pool.GiveBack(first);
    pool.GiveBack(second);
    pool.GiveBack(nullptr);
    EXPECT_EQ(pool.Take(), second);
    EXPECT_EQ(pool.Take(), first);
    EXPECT_EQ(static_cast<char*>(pool.Take()), static_cast<char*>(second) + 64); // carving goes on
    EXPECT_EQ(pages.allocations, 1);
}

TEST(AtomicBlockManager, BlockGivenBackDuringATakeWaitsForTheLastTaker)
{
    CCountingPageManager pages;
    CAtomicBlockManager pool(32, &pages);
    CAtomicBlockManagerProbe probe(pool);
    void* spare = pool.Take();
    void* block = pool.Take();
    pool.GiveBack(spare); // keeps the free list non-empty, so takes go through the counter

    probe.BeginTake(); // two takes in progress elsewhere
    probe.BeginTake();
    pool.GiveBack(block);
    EXPECT_TRUE(probe.IsDeferred(block));
    EXPECT_FALSE(probe.IsFree(block));
    EXPECT_EQ(pool.Take(), spare); // from the free list; the others are still inside

    probe.EndTake();
    EXPECT_TRUE(probe.IsDeferred(block)) << "one taker is still inside";
    probe.EndTake();
    EXPECT_EQ(probe.DeferredCount(), 0u);
    EXPECT_TRUE(probe.IsFree(block));
    EXPECT_EQ(probe.Takers(), 0);
    EXPECT_EQ(pool.Take(), block);
}

// Under steady contention the free list runs dry while given-back blocks wait; a take must use
// them rather than carve, or the pool grows with the traffic.
TEST(AtomicBlockManager, TakeOnAnEmptyFreeListUsesWaitingBlocks)
{
    CCountingPageManager pages;
    CAtomicBlockManager pool(32, &pages);
    CAtomicBlockManagerProbe probe(pool);
    void* a = pool.Take();
    void* b = pool.Take();
    void* c = pool.Take();
    const size_t carved = probe.CarvedBlocks();

    probe.BeginTake();
    pool.GiveBack(a);
    pool.GiveBack(b);
    EXPECT_EQ(pool.Take(), b); // handed over while a taker is inside
    EXPECT_TRUE(probe.IsDeferred(a) && !probe.IsFree(a)) << "the rest keeps waiting";
    probe.EndTake();
    EXPECT_TRUE(probe.IsFree(a));

    ASSERT_EQ(pool.Take(), a);
    probe.PushLateDeferred(a); // givers that pushed after the last taker left
    probe.PushLateDeferred(c);
    EXPECT_EQ(pool.Take(), c);
    EXPECT_TRUE(probe.IsFree(a)) << "no taker inside: the rest goes to the free list";
    EXPECT_EQ(probe.CarvedBlocks(), carved);
}

// The reuse problem itself: a taker stalls after reading head A and its link B; meanwhile A
// and B are popped and A is given back. Were A back on the free list, the stalled swap would
// succeed and hand B, which has an owner, to the next take.
TEST(AtomicBlockManager, StalledTakerCannotInstallAStaleLink)
{
    CCountingPageManager pages;
    CAtomicBlockManager pool(32, &pages);
    CAtomicBlockManagerProbe probe(pool);
    void* c = pool.Take();
    void* b = pool.Take();
    void* a = pool.Take();
    pool.GiveBack(c);
    pool.GiveBack(b);
    pool.GiveBack(a); // free list: a, b, c

    probe.BeginTake();
    void* staleNext = nullptr;
    ASSERT_EQ(probe.ReadHead(staleNext), a);
    ASSERT_EQ(staleNext, b);

    EXPECT_EQ(pool.Take(), a); // other threads
    EXPECT_EQ(pool.Take(), b); // b now has an owner
    pool.GiveBack(a);
    if (probe.SwapHead(a, staleNext)) {
        void* next = pool.Take();
        EXPECT_NE(next, b) << "a block went to two owners";
    }
    probe.EndTake();
    EXPECT_FALSE(probe.IsFree(b));
}

// A giver that saw a taker inside may push onto the deferred list only after the last taker
// left (and found nothing to merge). Such blocks must not stay stranded.
TEST(AtomicBlockManager, LateDeferredBlocksAreCollectedByTheNextGiveBack)
{
    CCountingPageManager pages;
    CAtomicBlockManager pool(32, &pages);
    CAtomicBlockManagerProbe probe(pool);
    void* a = pool.Take();
    void* b = pool.Take();
    probe.PushLateDeferred(a);
    pool.GiveBack(b);
    EXPECT_EQ(probe.DeferredCount(), 0u);
    EXPECT_EQ(pool.Take(), b);
    EXPECT_EQ(pool.Take(), a);
    EXPECT_EQ(pages.allocations, 1);
}

TEST(AtomicBlockManager, ResetMakesEveryBlockFreeAndKeepsThePages)
{
    CCountingPageManager pages;
    CAtomicBlockManager pool(128, &pages);
    CAtomicBlockManagerProbe probe(pool);
    std::set<void*> first;
    for (int i = 0; i < 511 * 2 + 5; ++i)
        first.insert(pool.Take());
    pool.GiveBack(*first.begin());
    ASSERT_EQ(pages.allocations, 3);

    pool.Reset();
    EXPECT_EQ(probe.FreeCount(), 0u);
    EXPECT_EQ(probe.FullPages(), 0u);
    EXPECT_EQ(probe.OpenPages(), 3u);
    std::set<void*> second;
    for (int i = 0; i < 511 * 3; ++i)
        second.insert(pool.Take());
    EXPECT_EQ(second.size(), 511u * 3);
    EXPECT_EQ(pages.allocations, 3) << "reset pages serve again";
    for (void* block : first)
        EXPECT_TRUE(second.count(block));
    pool.Take();
    EXPECT_EQ(pages.allocations, 4);
}

// A static pool outlives its destructor in storage; exit handlers that run later may still
// release or ask for blocks.
TEST(AtomicBlockManager, DestroyedPoolIgnoresGiveBackAndRefusesTake)
{
    CCountingPageManager pages;
    alignas(CAtomicBlockManager) unsigned char storage[sizeof(CAtomicBlockManager)];
    auto* pool = new (storage) CAtomicBlockManager(32, &pages);
    void* block = pool->Take();
    pool->~CAtomicBlockManager();
    EXPECT_EQ(pages.releases, 1);
    pool->GiveBack(block); // its page is gone: must not be written
    try {
        pool->Take();
        ADD_FAILURE() << "a destroyed pool handed out a block";
    } catch (CMemoryException* exception) {
        delete exception;
    }
    EXPECT_EQ(pages.allocations, 1);
}

// Every owner writes its mark over the whole block and checks it before giving the block
// back: a block handed to two owners at once shows the other's mark. Afterwards every carved
// block must be listed exactly once, and the pool must not have grown with the traffic.
TEST(AtomicBlockManager, ConcurrentOwnersNeverShareABlock)
{
    constexpr int Threads = 4;
    constexpr int Rounds = 100000;
    constexpr int Held = 4;
    CAtomicBlockManager pool(32);
    std::atomic<int> conflicts{0};
    std::atomic<bool> start{false};
    std::vector<std::thread> threads;
    for (int id = 1; id <= Threads; ++id) {
        threads.emplace_back([&, id] {
            while (!start.load())
                std::this_thread::yield();
            uint64_t* held[Held] = {};
            uint64_t serial = 0;
            for (int round = 0; round < Rounds; ++round) {
                const int slot = round % Held;
                if (uint64_t* block = held[slot]) {
                    const uint64_t mark = block[0];
                    for (int w = 1; w < 4; ++w)
                        if (block[w] != mark || mark >> 48 != static_cast<uint64_t>(id))
                            conflicts.fetch_add(1);
                    pool.GiveBack(block);
                }
                uint64_t* block = static_cast<uint64_t*>(pool.Take());
                const uint64_t mark = static_cast<uint64_t>(id) << 48 | ++serial;
                for (int w = 0; w < 4; ++w)
                    block[w] = mark;
                held[slot] = block;
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
    // Takes that carve while given-back blocks wait grow the pool with the traffic (tens of
    // thousands of blocks here); a preempted taker may legitimately cost a few pages' worth.
    EXPECT_LE(listed.size(), static_cast<size_t>(Threads * Held * 64));
}

} // namespace
} // namespace Zelkor
