// Where a container keeps its storage. Every container takes one of three policies, all of
// the same shape (static Alloc, Free, FreeNoThrow; Alloc never returns null, it throws
// CMemoryException before the caller has changed anything):
//   CurrentManager - the calling thread's current memory manager. Each block starts with a
//                    16-byte header naming the manager that served it, so the block is freed
//                    through that manager on whatever thread, after whatever later switch;
//   ProcessHeap    - the platform's process heap, no header (Alloc.h);
//   RuntimeHeap    - the runtime library's heap, malloc and free, no header (Alloc.h).
// Containers release storage with Free, and with FreeNoThrow in destructors.
#pragma once

#include <cstdint>

#include "Alloc.h"
#include "Errors.h"

namespace Zelkor {

struct CurrentManager {
    // 16 bytes rather than 8 keep the elements as aligned as the manager's own blocks.
    static constexpr uint64_t HeaderSize = 16;

    static void* Alloc(uint64_t size)
    {
        if (size > UINT64_MAX - HeaderSize)
            ThrowMemoryException();
        IMemoryManager* manager = GetCurrentMemoryManager();
        auto* block = static_cast<unsigned char*>(manager->Alloc(size + HeaderSize));
        *reinterpret_cast<IMemoryManager**>(block) = manager;
        return block + HeaderSize;
    }

    static void Free(void* storage)
    {
        if (storage != nullptr)
            OwnerOf(storage)->Free(static_cast<unsigned char*>(storage) - HeaderSize);
    }

    static void FreeNoThrow(void* storage) noexcept
    {
        try {
            Free(storage);
        } catch (CException* exception) {
            TraceUnpropagated(exception);
        }
    }

    // The manager that served a block of this policy.
    static IMemoryManager* OwnerOf(const void* storage)
    {
        return *reinterpret_cast<IMemoryManager* const*>(static_cast<const unsigned char*>(storage) - HeaderSize);
    }
};

} // namespace Zelkor
