// Memory managers. Every allocation of the framework goes through an IMemoryManager; none of
// them ever returns null: exhausted memory throws CMemoryException (a pointer, see Errors.h).
//
// Each thread has a current manager (DefaultMemoryManager until the thread sets one), which
// containers with the CurrentManager policy use. A block remembers the manager that served it,
// so it may be freed on any thread and after the thread switched managers.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace Zelkor {

class CException;

class IMemoryManager {
public:
    virtual ~IMemoryManager();
    // Never null; throws CMemoryException when the manager has nothing left.
    virtual void* Alloc(uint64_t size) = 0;
    // Null is ignored.
    virtual void Free(void* block) = 0;
};

// A private growable platform heap with counters of its live blocks and their heap sizes.
class CHeapManager : public IMemoryManager {
public:
    // What a failed heap creation does: throw CMemoryException, or (static objects, whose
    // initialiser must not throw) report it and leave a manager whose Alloc always throws.
    enum class OnCreationFailure { Throw, Report };

    // Creates the heap (growable, initialSize bytes committed) and switches it to the
    // low-fragmentation mode. mayDestroyWithLiveBlocks: Destroy also releases a heap that
    // still counts blocks.
    CHeapManager(uint64_t initialSize, bool mayDestroyWithLiveBlocks,
                 OnCreationFailure onFailure = OnCreationFailure::Throw);
    ~CHeapManager() override;
    CHeapManager(const CHeapManager&) = delete;
    CHeapManager& operator=(const CHeapManager&) = delete;

    void* Alloc(uint64_t size) override;
    void Free(void* block) override;

    // The same for a caller that keeps the size of each block (string buffers hold it as their
    // capacity): the byte counter takes that size instead of asking the heap, which would take
    // the heap's lock once more per call. The heap's size of a block is the size asked for, so
    // both pairs count alike; a block from AllocSized goes back through FreeSized with its size.
    void* AllocSized(uint64_t size);
    void FreeSized(void* block, uint64_t size);
    // Gives a block from AllocSized a new size, where it lies if the heap has room, otherwise
    // moved with its contents; returns the block's address. Null when the heap has no room at
    // all: then the block, the counters and the thread's last-error code are untouched.
    void* ReallocSized(void* block, uint64_t oldSize, uint64_t newSize);

    // Releases the heap with every block in it, unless blocks are still counted and the heap
    // may not be destroyed with live blocks: then heap and counters stay as they are. Returns
    // whether the heap is gone. After that, Alloc throws CMemoryException and Free ignores
    // every block (its memory went with the heap).
    bool Destroy();

    HANDLE GetHeap() const { return heap; }
    int32_t GetBlockCount() const { return blockCount.load(std::memory_order_relaxed); }
    uint64_t GetByteCount() const { return byteCount.load(std::memory_order_relaxed); }

private:
    // A block of the heap, counted as live; raises the memory exception when there is none.
    void* AllocCountedBlock(uint64_t size);

    HANDLE heap;
    bool mayDestroyWithLiveBlocks;
    // Live blocks of this heap; only a statistic and the guard of Destroy, so relaxed.
    std::atomic<int32_t> blockCount;
    // Sum of the heap sizes of the live blocks; relaxed for the same reason.
    std::atomic<uint64_t> byteCount;
};

// The runtime library's general heap (malloc and free).
class CRuntimeHeapManager : public IMemoryManager {
public:
    // constexpr: the object is usable before the dynamic initialisers run.
    constexpr CRuntimeHeapManager() = default;
    void* Alloc(uint64_t size) override;
    void Free(void* block) override;
};

// Whole committed pages (read-write) straight from the platform's virtual memory.
class CVirtualMemoryManager : public IMemoryManager {
public:
    constexpr CVirtualMemoryManager() = default;
    void* Alloc(uint64_t size) override;
    void Free(void* block) override;
};

extern CRuntimeHeapManager DefaultMemoryManager; // every thread's manager until it sets one
extern CHeapManager StringHeap;                  // string buffers above 128 bytes
extern CVirtualMemoryManager PageMemoryManager;  // pages of the block pools

// The calling thread's current manager; never null.
IMemoryManager* GetCurrentMemoryManager();
// Null stands for DefaultMemoryManager. Without a thread-local slot (start-up could not get
// one) every thread stays on DefaultMemoryManager.
void SetCurrentMemoryManager(IMemoryManager* manager);

// Makes a manager current for a scope and restores the previous one on exit.
class CMemoryManagerSwitcher {
public:
    explicit CMemoryManagerSwitcher(IMemoryManager* manager);
    ~CMemoryManagerSwitcher();
    CMemoryManagerSwitcher(const CMemoryManagerSwitcher&) = delete;
    CMemoryManagerSwitcher& operator=(const CMemoryManagerSwitcher&) = delete;

private:
    IMemoryManager* previous;
};

// The platform's allocation granularity, read from the platform once.
uint32_t GetAllocationGranularity();

// Allocation policies: where a class or a container gets its storage without a manager.
// Alloc never returns null (CMemoryException); Free ignores null.
struct ProcessHeap {
    static void* Alloc(uint64_t size);
    // A block the process heap refuses to release is an internal error with the system
    // error code; so Free may throw.
    static void Free(void* block);
    // The same for callers that must not throw (operator delete, destructors): the internal
    // error is reported where failures that cannot propagate go.
    static void FreeNoThrow(void* block) noexcept;
};

struct RuntimeHeap {
    static void* Alloc(uint64_t size);
    static void Free(void* block) noexcept;
    static void FreeNoThrow(void* block) noexcept { Free(block); }
};

// An empty base that gives a class its own allocation on the heap Heap.
template <class Heap>
class CAllocatedOn {
public:
    static void* operator new(size_t size) { return Heap::Alloc(size); }
    // Deleting destructors are noexcept, so a refused release is reported, not thrown.
    static void operator delete(void* block) noexcept { Heap::FreeNoThrow(block); }
    // Declaring the class forms hides the global placement form; keep it available.
    static void* operator new(size_t, void* place) noexcept { return place; }
    static void operator delete(void*, void*) noexcept {}
};

namespace AllocInternal {
// Failure injection for tests. While a hook is set, every CHeapManager allocation and every
// take from a block pool asks it first, and a true answer fails that allocation as exhausted
// memory would (CMemoryException, nothing changed). Null outside tests: one relaxed load.
using FailureHook = bool (*)();
extern std::atomic<FailureHook> InjectedFailureHook;
inline bool InjectedFailure()
{
    const FailureHook hook = InjectedFailureHook.load(std::memory_order_relaxed);
    return hook && hook();
}
} // namespace AllocInternal

} // namespace Zelkor
