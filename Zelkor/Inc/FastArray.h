// CFastArray: the first N elements live inside the object, so short work (a formatting
// buffer of up to 512 characters) never reaches the heap. It only grows, by the growth rule
// of CArray with N as the smallest step, so its first heap block holds at least 2 N
// elements. Heap blocks come from the calling thread's current memory manager.
#pragma once

#include "Array.h"

namespace Zelkor {

template <class T, int32_t N>
class CFastArray {
    static_assert(N > 0, "the inline storage holds at least one element");
    static_assert(std::is_nothrow_move_constructible_v<T>, "elements are moved between blocks");

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
    int32_t GetSize() const { return size; }
    int32_t Size() const { return size; }
    int32_t GetCapacity() const { return capacity; }
    bool IsOnHeap() const { return data != InlineElements(); }

    T& operator[](int32_t index)
    {
        CheckIndex(index);
        return data[index];
    }
    const T& operator[](int32_t index) const
    {
        CheckIndex(index);
        return data[index];
    }

    // Makes room for needed elements; a request within the capacity changes nothing.
    void Grow(int32_t needed)
    {
        if (needed <= capacity)
            return;
        const int32_t newCapacity = ArrayInternal::GrownCapacity(capacity, needed, N);
        Check(static_cast<uint64_t>(newCapacity) <= UINT64_MAX / sizeof(T), CheckSite::FastArrayByteSizeOverflow);
        T* fresh = static_cast<T*>(
            CurrentManager::Alloc(static_cast<uint64_t>(newCapacity) * sizeof(T)));
        ArrayInternal::Relocate(fresh, data, size);
        if (IsOnHeap())
            CurrentManager::Free(data);
        data = fresh;
        capacity = newCapacity;
    }

    void SetSize(int32_t newSize)
    {
        ZELKOR_CHECK_ARGUMENT(newSize >= 0, ZELKOR_HERE(L"Inc/FastArray"));
        if (newSize > size) {
            Grow(newSize);
            ArrayInternal::FillDefault(data + size, newSize - size);
        } else {
            ArrayInternal::Destroy(data + newSize, size - newSize);
        }
        size = newSize;
    }

    void Add(const T& element)
    {
        ZELKOR_CHECK_ARGUMENT(size < INT32_MAX, ZELKOR_HERE(L"Inc/FastArray"));
        if (size == capacity) {
            T copy(element); // the element may live in the block about to be freed
            Grow(size + 1);
            new (data + size) T(std::move(copy));
        } else {
            new (data + size) T(element);
        }
        ++size;
    }

private:
    void CheckIndex(int32_t index) const
    {
        Check(static_cast<uint32_t>(index) < static_cast<uint32_t>(size), ZELKOR_HERE(L"Inc/FastArray"));
    }

    T* InlineElements() { return reinterpret_cast<T*>(inlineStorage); }
    const T* InlineElements() const { return reinterpret_cast<const T*>(inlineStorage); }

    T* data = InlineElements();
    alignas(T) unsigned char inlineStorage[sizeof(T) * N];
    int32_t size = 0;
    int32_t capacity = N;
};

} // namespace Zelkor
