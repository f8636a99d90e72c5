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
