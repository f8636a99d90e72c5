// The lock-free block pool and the four pools of the framework.
//
// Memory orders: every operation on the list heads and on the takers counter is seq_cst. The
// reuse argument (see the header and PopFree) needs one total order over "a taker counted
// itself, then read the head" and "a giver read the counter, then pushed": with acquire and
// release alone a giver could miss a taker's increment and push under it. The carved-bytes
// counters are relaxed: an atomic add already hands out distinct offsets, and the page header
// they live in was published by the seq_cst push of the page. Block and page links are read and
// written through relaxed atomic references, because a taker may read the link of a block that
// another thread has just popped; the head's compare-and-swap then fails and the value is unused.
#include "AtomicBlockManager.h"

#include <new>

#include "Errors.h" // up: exhausted memory raises through the failure operations, which allocate
#include "StartupOrder.h"

namespace Zelkor {

namespace {

constexpr auto SeqCst = std::memory_order_seq_cst;
constexpr auto Relaxed = std::memory_order_relaxed;

// The stride for a block size: a multiple of 8 up to 8 bytes, of 16 above. Sizes that cannot
// fit a page are kept as they are (no rounding that could wrap); the usable-bytes check
// rejects them.
uint64_t StrideFor(uint64_t blockSize, uint64_t pageSize)
{
    if (blockSize <= 8)
        return 8; // also for 0: a block must hold the free-list link
    if (blockSize > pageSize)
        return blockSize;
    return (blockSize + 15) / 16 * 16;
}

} // namespace

CAtomicBlockManager::CAtomicBlockManager(uint64_t blockSize, IMemoryManager* pageManager, CLifeMark* lifeMark)
    : pageManager(pageManager), freeList(nullptr), deferredList(nullptr), openPages(nullptr), fullPages(nullptr),
      blockSize(blockSize), stride(0), pageSize(PageSize), usableBytes(0), takers(0), lifeMark(lifeMark)
{
    Initialise();
    // Whole virtual pages only when a page fills at least one granule of address space;
    // smaller pages would waste the rest of their granule.
    if (!this->pageManager) {
        if (pageSize < GetAllocationGranularity())
            this->pageManager = &DefaultMemoryManager;
        else
            this->pageManager = &PageMemoryManager;
    }
    if (lifeMark)
        lifeMark->Begin();
}

void CAtomicBlockManager::Initialise()
{
    Check(blockSize != 0, CheckSite::BlockSizeZero);
    stride = StrideFor(blockSize, pageSize);
    Check(pageSize != PageHeaderSize, CheckSite::PageTooSmallForHeader);
    const uint64_t room = pageSize > PageHeaderSize ? pageSize - PageHeaderSize : 0;
    usableBytes = room / stride * stride;
    Check(usableBytes != 0 && usableBytes % stride == 0, CheckSite::PageNotDivisibleIntoBlocks);
}

CAtomicBlockManager::~CAtomicBlockManager()
{
    // Gone before the pages go: an exit handler that runs later (a string released late) must
    // find the pool refusing, not write into a released page.
    if (lifeMark)
        lifeMark->End();
    freeList.exchange(nullptr, SeqCst);
    deferredList.exchange(nullptr, SeqCst);
    ReleasePages(openPages.exchange(nullptr, SeqCst));
    ReleasePages(fullPages.exchange(nullptr, SeqCst));
}

bool CAtomicBlockManager::IsGone() const
{
    return lifeMark && !lifeMark->IsAlive();
}

void CAtomicBlockManager::ReleasePages(CPage* page)
{
    while (page) {
        CPage* next = page->next;
        try {
            pageManager->Free(page);
        } catch (CException* exception) {
            TraceUnpropagated(exception);
        }
        page = next;
    }
}

// ---------------------------------------------------------------------------------------------
// Links

CAtomicBlockManager::CBlock* CAtomicBlockManager::LoadLink(CBlock* block)
{
    return std::atomic_ref<CBlock*>(block->next).load(Relaxed);
}

void CAtomicBlockManager::StoreLink(CBlock* block, CBlock* next)
{
    std::atomic_ref<CBlock*>(block->next).store(next, Relaxed);
}

CAtomicBlockManager::CBlock* CAtomicBlockManager::TailOf(CBlock* first)
{
    // Only for chains this thread owns outright (taken by exchange), so the links are stable.
    while (CBlock* next = LoadLink(first))
        first = next;
    return first;
}

void CAtomicBlockManager::PushFree(CBlock* first, CBlock* last)
{
    CBlock* head = freeList.load(SeqCst);
    do {
        StoreLink(last, head);
        // A push cannot suffer from reuse: the chain is ours until the swap succeeds, and the
        // swap succeeds only if the head is still the value our tail now links to.
    } while (!freeList.compare_exchange_weak(head, first, SeqCst, SeqCst));
}

void CAtomicBlockManager::PushDeferred(CBlock* first, CBlock* last)
{
    CBlock* head = deferredList.load(SeqCst);
    do {
        StoreLink(last, head);
        // Nobody pops single blocks from the deferred list (it is only taken whole), so any
        // head we see is as good as the next.
    } while (!deferredList.compare_exchange_weak(head, first, SeqCst, SeqCst));
}

// ---------------------------------------------------------------------------------------------
// Taking

void CAtomicBlockManager::BeginTake()
{
    takers.fetch_add(1, SeqCst);
}

bool CAtomicBlockManager::EndTake()
{
    const bool last = takers.fetch_sub(1, SeqCst) == 1;
    if (last && deferredList.load(SeqCst) != nullptr)
        Merge();
    return last;
}

void CAtomicBlockManager::Merge()
{
    if (CBlock* chain = deferredList.exchange(nullptr, SeqCst))
        Settle(chain);
}

void CAtomicBlockManager::Settle(CBlock* chain)
{
    // The counter is read after the chain left the deferred list by exchange: a taker counted
    // before that might hold a stale link to one of these blocks, so they wait again; a taker
    // counted after it reads the free list only after these blocks left the shared lists, so
    // it cannot hold one of them.
    if (takers.load(SeqCst) != 0)
        ReturnDeferred(chain);
    else
        PushFree(chain, TailOf(chain));
}

void CAtomicBlockManager::ReturnDeferred(CBlock* chain)
{
    // Without walking the chain, which can be long under contention: it goes in whole while
    // the list is empty; blocks that arrived meanwhile are taken (a short chain) and put in
    // front of it.
    CBlock* expected = nullptr;
    while (!deferredList.compare_exchange_weak(expected, chain, SeqCst, SeqCst)) {
        if (CBlock* arrived = deferredList.exchange(nullptr, SeqCst)) {
            StoreLink(TailOf(arrived), chain);
            chain = arrived;
        }
        expected = nullptr;
    }
}

CAtomicBlockManager::CBlock* CAtomicBlockManager::TakeDeferred()
{
    CBlock* chain = deferredList.exchange(nullptr, SeqCst);
    if (!chain)
        return nullptr;
    // Handing a deferred block straight to its next owner is safe even while takers are
    // inside: a stale link can only do harm through the free list, and the block does not
    // pass through it. This keeps a pool under steady contention from carving a new block
    // whenever its free list runs dry while the given-back blocks wait.
    if (CBlock* rest = LoadLink(chain))
        Settle(rest);
    return chain;
}

CAtomicBlockManager::CBlock* CAtomicBlockManager::PopFree()
{
    CBlock* head = freeList.load(SeqCst);
    while (head) {
        CBlock* next = LoadLink(head);
        // `next` is stale only if `head` was popped and pushed back since we loaded it. It
        // cannot have been: we were counted in `takers` before the load, and a block re-enters
        // the free list only from a giver or merger that read `takers` as 0 after it owned
        // the block, which is after our increment in the total order. So if the head is still
        // `head`, `next` is its current link. On failure `head` is reloaded and we retry.
        if (freeList.compare_exchange_weak(head, next, SeqCst, SeqCst))
            return head;
    }
    return nullptr;
}

void* CAtomicBlockManager::Take()
{
    if (usableBytes == 0 || IsGone())
        TakeFromUnusablePool();
    if (AllocInternal::InjectedFailure())
        ThrowMemoryException();
    if (freeList.load(SeqCst) != nullptr) {
        BeginTake();
        CBlock* block = PopFree();
        EndTake();
        if (block)
            return block;
    }
    if (deferredList.load(SeqCst) != nullptr)
        if (CBlock* block = TakeDeferred())
            return block;
    return Carve();
}

void CAtomicBlockManager::TakeFromUnusablePool()
{
    // Either the pool failed its construction check while failures were shown instead of
    // thrown, or it is already destroyed; neither has a block to give.
    if (!IsGone())
        ReportFailedCheck(CheckSite::PageNotDivisibleIntoBlocks);
    ThrowMemoryException();
}

void* CAtomicBlockManager::Carve()
{
    CPage* page = openPages.load(SeqCst);
    while (page) {
        const uint64_t offset = page->carved.fetch_add(stride, Relaxed);
        if (offset < usableBytes)
            return reinterpret_cast<char*>(page) + PageHeaderSize + offset;
        CPage* next = std::atomic_ref<CPage*>(page->next).load(Relaxed);
        // A page enters the open list once and leaves it once, so if it is still the head its
        // link is the one it got when pushed; only the thread whose swap succeeds moves it to
        // the full list. On failure `page` holds the new head.
        if (openPages.compare_exchange_strong(page, next, SeqCst, SeqCst)) {
            CPage* fullHead = fullPages.load(SeqCst);
            do {
                std::atomic_ref<CPage*>(page->next).store(fullHead, Relaxed);
            } while (!fullPages.compare_exchange_weak(fullHead, page, SeqCst, SeqCst));
            page = openPages.load(SeqCst);
        }
    }
    return TakeNewPage();
}

void* CAtomicBlockManager::TakeNewPage()
{
    CPage* page = new (pageManager->Alloc(pageSize)) CPage;
    page->carved.store(stride, Relaxed); // its first block is ours
    CPage* head = openPages.load(SeqCst);
    do {
        std::atomic_ref<CPage*>(page->next).store(head, Relaxed);
        // Publishing the header (link and counter) to every thread that loads the head.
    } while (!openPages.compare_exchange_weak(head, page, SeqCst, SeqCst));
    return reinterpret_cast<char*>(page) + PageHeaderSize;
}

// ---------------------------------------------------------------------------------------------
// Giving back

void CAtomicBlockManager::GiveBack(void* given)
{
    // A destroyed pool's blocks went with their pages.
    if (!given || IsGone())
        return;
    CBlock* block = static_cast<CBlock*>(given);
    // A taker in progress may hold a stale link to this very block (it may be the head it
    // loaded before the block was popped), so the block must not reach the free list now.
    if (takers.load(SeqCst) != 0) {
        PushDeferred(block, block);
        return;
    }
    if (deferredList.load(SeqCst) != nullptr) {
        StoreLink(block, deferredList.exchange(nullptr, SeqCst));
        Settle(block);
        return;
    }
    PushFree(block, block);
}

void CAtomicBlockManager::Reset()
{
    freeList.store(nullptr, SeqCst);
    deferredList.store(nullptr, SeqCst);
    CPage* full = fullPages.exchange(nullptr, SeqCst);
    CPage* open = openPages.load(SeqCst);
    for (CPage* page = open; page; page = page->next)
        page->carved.store(0, Relaxed);
    // The full pages go in front of the open ones, their space counted from the start again.
    CPage* first = open;
    while (full) {
        CPage* next = full->next;
        full->carved.store(0, Relaxed);
        full->next = first;
        first = full;
        full = next;
    }
    openPages.store(first, SeqCst);
}

// ---------------------------------------------------------------------------------------------
// The pools of the framework

namespace {
CLifeMark StringPool32Life, StringPool64Life, StringPool128Life, CharSetPagePoolLife;
}

ZELKOR_INIT(ZELKOR_ROW_STRING_POOLS) CAtomicBlockManager StringPool32(32, nullptr, &StringPool32Life);
ZELKOR_INIT(ZELKOR_ROW_STRING_POOLS) CAtomicBlockManager StringPool64(64, nullptr, &StringPool64Life);
ZELKOR_INIT(ZELKOR_ROW_STRING_POOLS) CAtomicBlockManager StringPool128(128, nullptr, &StringPool128Life);
ZELKOR_INIT(ZELKOR_ROW_CHARSET_POOL) CAtomicBlockManager CharSetPagePool(128, nullptr, &CharSetPagePoolLife);

} // namespace Zelkor
