// A framework module for the memory tests: hands out blocks of its own string pool and string
// heap, so that the test can check what the module's unload does with blocks still in use.
#include <windows.h>

#include "Alloc.h"
#include "AtomicBlockManager.h"

extern "C" __declspec(dllexport) void* TakeStringPoolBlock()
{
    return Zelkor::StringPool32.Take();
}

extern "C" __declspec(dllexport) void* AllocStringHeapBlock(uint64_t size)
{
    return Zelkor::StringHeap.Alloc(size);
}

extern "C" __declspec(dllexport) HANDLE GetStringHeapHandle()
{
    return Zelkor::StringHeap.GetHeap();
}

// Whether the calling thread can make another manager current (false without a slot).
extern "C" __declspec(dllexport) bool CanSwitchManager()
{
    Zelkor::CHeapManager manager(0x1000, false);
    Zelkor::CMemoryManagerSwitcher switcher(&manager);
    return Zelkor::GetCurrentMemoryManager() == &manager;
}
