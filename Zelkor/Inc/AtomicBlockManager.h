// A lock-free pool of fixed-size blocks carved from 64 KiB pages.
//
// Take and GiveBack may run on any number of threads at once and never take a lock: the lists
// are changed only by compare-and-swap or atomic exchange, a page's carved-bytes counter by an
// atomic add. Blocks are never returned to their page; pages go back to the page manager only
// when the pool is destroyed. Take never returns null (CMemoryException when no page can be had).
//
// Reuse safety: a popping thread reads the head's link and then swaps the head for it; if the
// head block were popped and given back meanwhile, the swap would succeed with a stale link.
// The takers counter prevents that: while any take is in progress, given-back blocks wait on
// the deferred list, and the last taker to leave moves them to the free list. A take that finds
// the free list empty takes a waiting block straight from the deferred list, which is only ever
// taken whole and so has no such problem.
#pragma once

#include <atomic>
#include <cstdint>

#include "Alloc.h"

namespace Zelkor {

class CLifeMark;

class CAtomicBlockManager {
public:
    static constexpr uint64_t PageSize = 0x10000;
    static constexpr uint64_t PageHeaderSize = 16;

    // Pages come from pageManager; without one, from DefaultMemoryManager when a page is
    // smaller than the platform's allocation granularity, otherwise from PageMemoryManager.
    // A pool that exit handlers may still reach after its destructor (a static one) is given
    // a life mark outside itself; it is marked alive here and gone by the destructor.
    explicit CAtomicBlockManager(uint64_t blockSize, IMemoryManager* pageManager = nullptr,
                                 CLifeMark* lifeMark = nullptr);
    // Gives every page back at once; blocks still taken die with their pages. Afterwards a
    // pool with a life mark refuses every take (CMemoryException) and ignores every block
    // given back.
    ~CAtomicBlockManager();
    CAtomicBlockManager(const CAtomicBlockManager&) = delete;
    CAtomicBlockManager& operator=(const CAtomicBlockManager&) = delete;

    void* Take();
    void GiveBack(void* block); // null is ignored
    // Every block free again, pages kept. Only while no other thread uses the pool.
    void Reset();

    uint64_t GetBlocksPerPage() const { return stride ? usableBytes / stride : 0; }

private:
    struct CBlock {
        CBlock* next; // link while on the free or deferred list; user data otherwise
    };
    struct CPage {
        CPage* next;                  // link of the open or the full list
        std::atomic<uint64_t> carved; // bytes handed out (may overshoot usableBytes when full)
    };
    static_assert(sizeof(CPage) == PageHeaderSize, "page header layout");

    void Initialise();
    bool IsGone() const;
    void BeginTake();
    bool EndTake(); // true when this was the last taker
    CBlock* PopFree();
    [[noreturn]] void TakeFromUnusablePool();
    void* Carve();
    void* TakeNewPage();
    void PushDeferred(CBlock* first, CBlock* last);
    void PushFree(CBlock* first, CBlock* last);
    void Merge();
    void Settle(CBlock* chain);
    void ReturnDeferred(CBlock* chain);
    CBlock* TakeDeferred();
    static CBlock* LoadLink(CBlock* block);
    static void StoreLink(CBlock* block, CBlock* next);
    static CBlock* TailOf(CBlock* first);
    void ReleasePages(CPage* page);

    IMemoryManager* pageManager;
    // Blocks ready for reuse; a block enters only while no take is in progress (see top).
    std::atomic<CBlock*> freeList;
    // Blocks given back while a take was in progress; only ever taken whole (exchange), then
    // moved to freeList when no take is in progress, or handed to a take that found it empty.
    std::atomic<CBlock*> deferredList;
    // Pages that may still have uncarved space; a page enters once (new) and leaves once (full).
    std::atomic<CPage*> openPages;
    // Pages with no uncarved space; only grows until Reset or destruction.
    std::atomic<CPage*> fullPages;
    uint64_t blockSize;
    uint64_t stride;
    uint64_t pageSize;
    uint64_t usableBytes;
    // Threads between BeginTake and EndTake; nonzero means no block may enter freeList.
    std::atomic<int32_t> takers;
    // Outside the pool, so that it still answers after the destructor; null: nothing reaches
    // the pool then.
    CLifeMark* lifeMark;

    friend class CAtomicBlockManagerProbe; // test access to the lists and the take phases
};

extern CAtomicBlockManager StringPool32, StringPool64, StringPool128, CharSetPagePool;

} // namespace Zelkor
