// The private-heap manager, the allocation policies and the string heap.
//
// Start-up and shutdown of the memory system (a smaller row is built earlier, destroyed later):
//   ZELKOR_ROW_MEMORY_SLOT      the current-manager slot (Src/CurrentMemoryManager)
//   ZELKOR_ROW_MEMORY_MANAGERS  the page-manager lock (here), DefaultMemoryManager and
//                               PageMemoryManager
//   ZELKOR_ROW_STRING_POOLS     the string pools of 32, 64 and 128 bytes, then StringHeap and
//                               its shutdown (here)
//   ZELKOR_ROW_CHARSET_POOL     CharSetPagePool
// At unload, the shutdown in ZELKOR_ROW_STRING_POOLS runs first: it resets the three string
// pools and destroys StringHeap with whatever blocks it still counts; then the pools'
// destructors give their pages back. Strings still alive at that point are never released one by one.
#include "Alloc.h"

#include <cstdlib>

#include "AtomicBlockManager.h"
#include "Errors.h" // up: exhausted memory raises through the failure operations, which allocate
#include "Lock.h"
#include "StartupOrder.h"

namespace Zelkor {

IMemoryManager::~IMemoryManager() = default;

namespace AllocInternal {

std::atomic<FailureHook> InjectedFailureHook{nullptr};

} // namespace AllocInternal

// ---------------------------------------------------------------------------------------------
// Allocation granularity

namespace {

// ZELKOR_ROW_MEMORY_MANAGERS; also makes the one-time read of the granularity exclusive.
ZELKOR_INIT(ZELKOR_ROW_MEMORY_MANAGERS) CCriticalSection PageMemoryManagerLock;

// 0 until read; written once under PageMemoryManagerLock, then only read.
std::atomic<uint32_t> AllocationGranularity{0};

} // namespace

uint32_t GetAllocationGranularity()
{
    // acquire pairs with the release below; the value carries no other data, but a reader
    // that sees it must not go on to take the lock and read the platform again.
    uint32_t granularity = AllocationGranularity.load(std::memory_order_acquire);
    if (granularity != 0)
        return granularity;
    CCriticalSectionLock lock(PageMemoryManagerLock);
    granularity = AllocationGranularity.load(std::memory_order_relaxed);
    if (granularity == 0) {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        granularity = info.dwAllocationGranularity;
        Check(granularity != 0, CheckSite::AllocationGranularityUnknown);
        AllocationGranularity.store(granularity, std::memory_order_release);
    }
    return granularity;
}

// ---------------------------------------------------------------------------------------------
// Allocation policies

void* ProcessHeap::Alloc(uint64_t size)
{
    void* block = HeapAlloc(GetProcessHeap(), 0, static_cast<SIZE_T>(size));
    if (!block)
        ThrowMemoryException();
    return block;
}

void ProcessHeap::Free(void* block)
{
    if (!block)
        return;
    CheckLastError(HeapFree(GetProcessHeap(), 0, block), CheckSite::ProcessHeapFreeRefused);
}

void ProcessHeap::FreeNoThrow(void* block) noexcept
{
    try {
        Free(block);
    } catch (CException* exception) {
        TraceUnpropagated(exception);
    }
}

void* RuntimeHeap::Alloc(uint64_t size)
{
    // malloc(0) may legally return null, which would read as exhaustion.
    void* block = std::malloc(static_cast<size_t>(size ? size : 1));
    if (!block)
        ThrowMemoryException();
    return block;
}

void RuntimeHeap::Free(void* block) noexcept
{
    std::free(block);
}

// ---------------------------------------------------------------------------------------------
// CHeapManager

namespace {

void EnableLowFragmentation(HANDLE heap)
{
    Check(heap != nullptr, CheckSite::HeapNotCreated);
    if (!heap)
        return;
    ULONG lowFragmentation = 2;
    // A refusal (e.g. under a debugger) leaves the heap in its standard mode, which works.
    HeapSetInformation(heap, HeapCompatibilityInformation, &lowFragmentation, sizeof lowFragmentation);
}

} // namespace

CHeapManager::CHeapManager(uint64_t initialSize, bool mayDestroyWithLiveBlocks, OnCreationFailure onFailure)
    : heap(nullptr), mayDestroyWithLiveBlocks(mayDestroyWithLiveBlocks), blockCount(0), byteCount(0)
{
    try {
        heap = HeapCreate(0, static_cast<SIZE_T>(initialSize), 0);
        if (!heap)
            ThrowMemoryException();
        Check(heap != nullptr, CheckSite::HeapNotCreatedOnAllocate);
        EnableLowFragmentation(heap);
    } catch (CException* exception) {
        if (onFailure == OnCreationFailure::Throw)
            throw;
        TraceUnpropagated(exception);
    }
}

CHeapManager::~CHeapManager()
{
    if (!heap)
        return;
    try {
        Destroy();
    } catch (CException* exception) {
        TraceUnpropagated(exception);
    }
}

void* CHeapManager::AllocCountedBlock(uint64_t size)
{
    if (AllocInternal::InjectedFailure())
        ThrowMemoryException();
    void* block = heap ? HeapAlloc(heap, 0, static_cast<SIZE_T>(size)) : nullptr;
    if (!block)
        ThrowMemoryException();
    blockCount.fetch_add(1, std::memory_order_relaxed);
    return block;
}

void* CHeapManager::Alloc(uint64_t size)
{
    void* block = AllocCountedBlock(size);
    const SIZE_T heapSize = HeapSize(heap, 0, block);
    if (heapSize != static_cast<SIZE_T>(-1))
        byteCount.fetch_add(heapSize, std::memory_order_relaxed);
    return block;
}

void CHeapManager::Free(void* block)
{
    // Without a heap the block's memory went with it when the heap was destroyed.
    if (!block || !heap)
        return;
    // The size is asked before the block goes, and counted down only once the heap took the
    // block back: one it refuses (not its own, or freed twice) was never counted as live here,
    // and counting it down would let Destroy take the heap away under a live block.
    const SIZE_T heapSize = HeapSize(heap, 0, block);
    if (!HeapFree(heap, 0, block))
        return;
    if (heapSize != static_cast<SIZE_T>(-1))
        byteCount.fetch_sub(heapSize, std::memory_order_relaxed);
    blockCount.fetch_sub(1, std::memory_order_relaxed);
}

void* CHeapManager::AllocSized(uint64_t size)
{
    void* block = AllocCountedBlock(size);
    byteCount.fetch_add(size, std::memory_order_relaxed);
    return block;
}

void CHeapManager::FreeSized(void* block, uint64_t size)
{
    if (!block || !heap)
        return;
    // As in Free: a block the heap refuses was never counted here.
    if (HeapFree(heap, 0, block)) {
        byteCount.fetch_sub(size, std::memory_order_relaxed);
        blockCount.fetch_sub(1, std::memory_order_relaxed);
    }
}

void* CHeapManager::ReallocSized(void* block, uint64_t oldSize, uint64_t newSize)
{
    if (!block || !heap)
        return nullptr;
    const DWORD lastError = GetLastError();
    void* resized = HeapReAlloc(heap, 0, block, static_cast<SIZE_T>(newSize));
    if (!resized) {
        SetLastError(lastError);
        return nullptr;
    }
    byteCount.fetch_add(newSize - oldSize, std::memory_order_relaxed); // wraps down when shrinking
    return resized;
}

bool CHeapManager::Destroy()
{
    Check(heap != nullptr, CheckSite::HeapDestroyedTwice);
    if (!heap)
        return true;
    if (blockCount.load(std::memory_order_relaxed) != 0 && !mayDestroyWithLiveBlocks)
        return false;
    const HANDLE destroyed = heap;
    heap = nullptr;
    blockCount.store(0, std::memory_order_relaxed);
    byteCount.store(0, std::memory_order_relaxed);
    CheckLastError(HeapDestroy(destroyed), CheckSite::HeapDestroyRefused);
    return true;
}

// ---------------------------------------------------------------------------------------------
// The string heap and the shutdown of the string memory (ZELKOR_ROW_STRING_POOLS, after the pools)

ZELKOR_INIT(ZELKOR_ROW_STRING_POOLS + 1)
CHeapManager StringHeap(0x20000, true, CHeapManager::OnCreationFailure::Report);

namespace {

class CStringMemoryShutdown {
public:
    ~CStringMemoryShutdown() // GCOVR_EXCL_START: runs at exit, after the counts are written
    {
        StringPool32.Reset();
        StringPool64.Reset();
        StringPool128.Reset();
        if (!StringHeap.GetHeap())
            return;
        try {
            StringHeap.Destroy();
        } catch (CException* exception) {
            TraceUnpropagated(exception);
        }
    } // GCOVR_EXCL_STOP
};

ZELKOR_INIT(ZELKOR_ROW_STRING_POOLS + 1) CStringMemoryShutdown StringMemoryShutdown;

} // namespace

} // namespace Zelkor
