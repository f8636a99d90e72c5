// The runtime-heap and the virtual-memory managers and their static objects (ZELKOR_ROW_MEMORY_MANAGERS).
#include "Alloc.h"
#include "Errors.h"
#include "StartupOrder.h"

namespace Zelkor {

void* CRuntimeHeapManager::Alloc(uint64_t size)
{
    return RuntimeHeap::Alloc(size);
}

void CRuntimeHeapManager::Free(void* block)
{
    RuntimeHeap::Free(block);
}

void* CVirtualMemoryManager::Alloc(uint64_t size)
{
    // MEM_COMMIT without an address reserves and commits in one call. VirtualAlloc refuses a
    // size of 0, which is not exhaustion: such a request gets one page.
    void* block = VirtualAlloc(nullptr, static_cast<SIZE_T>(size ? size : 1), MEM_COMMIT, PAGE_READWRITE);
    if (!block)
        ThrowMemoryException();
    return block;
}

void CVirtualMemoryManager::Free(void* block)
{
    if (!block)
        return;
    CheckLastError(VirtualFree(block, 0, MEM_RELEASE), CheckSite::VirtualMemoryFreeFailed);
}

// Both are constant-initialised (constexpr constructors), so they serve even before ZELKOR_ROW_MEMORY_MANAGERS.
ZELKOR_INIT(ZELKOR_ROW_MEMORY_MANAGERS + 1) CRuntimeHeapManager DefaultMemoryManager;
ZELKOR_INIT(ZELKOR_ROW_MEMORY_MANAGERS + 1) CVirtualMemoryManager PageMemoryManager;

} // namespace Zelkor
