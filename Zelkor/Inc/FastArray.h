// CFastArray: the first N elements live inside the object, so short work (a formatting
// buffer of up to 512 characters) never reaches the heap. It only grows, by the growth rule
// of CArray with N as the smallest step, so its first heap block holds at least 2 N
// elements. Heap blocks come from the calling thread's current memory manager.
#pragma once

#include "Array.h"

namespace Zelkor {

template <class T, int32_t N>
class CFastArray : public ArrayInternal::CArrayCore<CFastArray<T, N>, T, CurrentManager> {
    static_assert(N > 0, "the inline storage holds at least one element");
    using Core = ArrayInternal::CArrayCore<CFastArray, T, CurrentManager>;
    friend Core;

public:
    CFastArray() = default;
    CFastArray(const CFastArray&) = delete;
    CFastArray& operator=(const CFastArray&) = delete;
    ~CFastArray()
    {
        ArrayInternal::Destroy(data, size);
        if (IsOnHeap())
            CurrentManager::FreeNoThrow(data);
    }

    T* GetBuffer() { return data; }
    const T* GetBuffer() const { return data; }
    bool IsOnHeap() const { return data != InlineElements(); }

    // Makes room for needed elements; a request within the capacity changes nothing.
    void Grow(int32_t needed) { this->Reserve(needed); }

private:
    static constexpr const wchar_t* SourcePath = L"Inc/FastArray";
    static constexpr int32_t MinimumStep = N;
    static constexpr const CCheckSite& ByteSizeOverflow = CheckSite::FastArrayByteSizeOverflow;
    // The inline part is never freed.
    void FreeElements(T* block)
    {
        if (block != InlineElements())
            CurrentManager::Free(block);
    }

    T* InlineElements() { return reinterpret_cast<T*>(inlineStorage); }
    const T* InlineElements() const { return reinterpret_cast<const T*>(inlineStorage); }

    T* data = InlineElements();
    alignas(T) unsigned char inlineStorage[sizeof(T) * N];
    int32_t size = 0;
    int32_t capacity = N;
};

} // namespace Zelkor
