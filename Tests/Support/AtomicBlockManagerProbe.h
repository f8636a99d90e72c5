// Reaches the lists of a block pool and the two phases of a take, so that tests can count what
// it holds and keep a take in progress open deterministically.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "Alloc.h"
#include "AtomicBlockManager.h"

namespace Zelkor {

using Blocks = std::vector<void*>;

class CAtomicBlockManagerProbe {
    using CBlock = CAtomicBlockManager::CBlock;

public:
    explicit CAtomicBlockManagerProbe(CAtomicBlockManager& pool) : pool(pool) {}

    void BeginTake() { pool.BeginTake(); }
    void EndTake() { pool.EndTake(); }
    // A giver that saw a taker inside but pushes only after the last one left.
    void PushLateDeferred(void* block) { pool.PushDeferred(static_cast<CBlock*>(block), static_cast<CBlock*>(block)); }
    Blocks Free() const { return Walk(pool.freeList.load()); }
    Blocks Deferred() const { return Walk(pool.deferredList.load()); }

    // Blocks carved from the pages and on neither list: still held by someone.
    int64_t HeldBlocks() const
    {
        uint64_t carved = 0;
        for (auto* list : {pool.openPages.load(), pool.fullPages.load()})
            for (auto* page = list; page; page = page->next)
                carved += std::min<uint64_t>(page->carved.load(), pool.usableBytes) / pool.stride;
        return int64_t(carved - Free().size() - Deferred().size());
    }

private:
    // A list in order, up to the first block met again (the list has become a cycle).
    static Blocks Walk(CBlock* block)
    {
        Blocks blocks;
        for (; block && std::find(blocks.begin(), blocks.end(), block) == blocks.end(); block = block->next)
            blocks.push_back(block);
        return blocks;
    }

    CAtomicBlockManager& pool;
};

// What strings hold: the string heap's blocks and bytes, and the blocks out of each string pool.
inline std::vector<int64_t> StringMemoryHeld()
{
    return {StringHeap.GetBlockCount(), int64_t(StringHeap.GetByteCount()), CAtomicBlockManagerProbe(StringPool32).HeldBlocks(),
            CAtomicBlockManagerProbe(StringPool64).HeldBlocks(), CAtomicBlockManagerProbe(StringPool128).HeldBlocks()};
}

// The same, and the blocks of a heap that stands in for the current manager.
inline std::vector<int64_t> MemoryHeld(const CHeapManager& heap)
{
    std::vector<int64_t> held = StringMemoryHeld();
    held.push_back(heap.GetBlockCount());
    return held;
}

} // namespace Zelkor
