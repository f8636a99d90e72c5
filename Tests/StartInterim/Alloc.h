// TEMPORARY stand-in (see README.txt).
#pragma once
#include <windows.h>
#include <cstddef>
#include <cstdint>
#include "Errors.h"
namespace Zelkor {
struct ProcessHeap {
    static void* Alloc(size_t n) { return HeapAlloc(GetProcessHeap(), 0, n ? n : 1); }
    static void Free(void* p) { if (p) HeapFree(GetProcessHeap(), 0, p); }
};
struct RuntimeHeap {
    static void* Alloc(size_t n) { return malloc(n ? n : 1); }
    static void Free(void* p) { free(p); }
};
template <class Heap> class CAllocatedOn {
public:
    static void* operator new(size_t n) { void* p = Heap::Alloc(n); if (!p) ThrowMemoryException(); return p; }
    static void operator delete(void* p) { Heap::Free(p); }
};
} // namespace Zelkor
