// CArray: a growable array on one of the allocation policies (AllocationPolicy.h).
//
// Growth, shared by every framework container: to hold n elements with capacity c the new
// capacity is c + min(max(max(c / 2, step), n - c), INT32_MAX - c), step being 8 (CFastArray
// passes its inline size). Storage is allocated before any field changes, so a
// CMemoryException leaves the array exactly as it was. Bad indices and impossible sizes are
// internal errors, never silent clamps.
//
// Elements are moved between blocks by move construction followed by destruction (a plain
// byte copy for trivially copyable types), so any type with a non-throwing move constructor
// can be stored; pointers and numbers are zero when default-filled.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <new>
#include <type_traits>
#include <utility>

#include "AllocationPolicy.h"
#include "Errors.h"

namespace Zelkor {

namespace ArrayInternal {

inline int32_t GrownCapacity(int32_t capacity, int32_t needed, int32_t minimumStep)
{
    const int64_t current = capacity;
    int64_t step = current / 2 > minimumStep ? current / 2 : minimumStep;
    if (needed - current > step)
        step = needed - current;
    if (step > INT32_MAX - current)
        step = INT32_MAX - current;
    return static_cast<int32_t>(current + step);
}

// Moves n elements into uninitialised storage that does not overlap the source; the source
// slots are left uninitialised.
template <class T>
void Relocate(T* to, T* from, int32_t n)
{
    if constexpr (std::is_trivially_copyable_v<T>) {
        if (n > 0)
            std::memcpy(static_cast<void*>(to), static_cast<const void*>(from), sizeof(T) * static_cast<size_t>(n));
    } else {
        for (int32_t i = 0; i < n; ++i) {
            new (to + i) T(std::move(from[i]));
            from[i].~T();
        }
    }
}

// Moves n elements by distance places (positive: right), within one block.
template <class T>
void Shift(T* from, int32_t n, int32_t distance)
{
    if constexpr (std::is_trivially_copyable_v<T>) {
        if (n > 0)
            std::memmove(static_cast<void*>(from + distance), static_cast<const void*>(from),
                         sizeof(T) * static_cast<size_t>(n));
    } else if (distance > 0) {
        for (int32_t i = n - 1; i >= 0; --i) {
            new (from + i + distance) T(std::move(from[i]));
            from[i].~T();
        }
    } else {
        for (int32_t i = 0; i < n; ++i) {
            new (from + i + distance) T(std::move(from[i]));
            from[i].~T();
        }
    }
}

// Last to first, as the arrays promise for DeleteAll.
template <class T>
void Destroy(T* first, int32_t n)
{
    if constexpr (!std::is_trivially_destructible_v<T>) {
        for (int32_t i = n - 1; i >= 0; --i)
            first[i].~T();
    }
}

template <class T>
void FillDefault(T* first, int32_t n)
{
    for (int32_t i = 0; i < n; ++i)
        new (first + i) T();
}

template <class T>
bool PointsInto(const T* p, const T* first, int32_t n)
{
    return std::less_equal<const T*>()(first, p) && std::less<const T*>()(p, first + n);
}

} // namespace ArrayInternal

template <class T, class Policy = CurrentManager>
class CArray {
    static_assert(std::is_nothrow_move_constructible_v<T>, "elements are moved between blocks");

public:
    CArray() = default;
    CArray(const CArray& other) { CopyFrom(other); }
    CArray(CArray&& other) noexcept : size(other.size), capacity(other.capacity), data(other.data)
    {
        other.size = other.capacity = 0;
        other.data = nullptr;
    }
    CArray& operator=(const CArray& other)
    {
        if (this != &other) {
            CArray copy(other);
            Swap(copy);
        }
        return *this;
    }
    CArray& operator=(CArray&& other) noexcept
    {
        if (this != &other) {
            DeleteAll();
            Swap(other);
        }
        return *this;
    }
    ~CArray()
    {
        ArrayInternal::Destroy(data, size);
        Policy::FreeNoThrow(data);
    }

    int32_t GetSize() const { return size; }
    int32_t Size() const { return size; }
    int32_t GetCapacity() const { return capacity; }
    bool IsEmpty() const { return size == 0; }

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
    T& GetAt(int32_t index) { return (*this)[index]; }
    const T& GetAt(int32_t index) const { return (*this)[index]; }

    // Null when the array holds nothing.
    T* GetBuffer() { return size > 0 ? data : nullptr; }
    const T* GetBuffer() const { return size > 0 ? data : nullptr; }

    T* begin() { return data; }
    T* end() { return data + size; }
    const T* begin() const { return data; }
    const T* end() const { return data + size; }

    void Add(const T& element) { Emplace(element); }
    void Add(T&& element) { Emplace(std::move(element)); }

    void InsertAt(int32_t index, const T& element, int32_t count = 1)
    {
        ZELKOR_CHECK_ARGUMENT(index >= 0 && index <= size && count >= 0 && count <= INT32_MAX - size,
                              ZELKOR_HERE(L"Inc/Array"));
        if (count == 0)
            return;
        if (ArrayInternal::PointsInto(&element, data, size)) {
            // The element would move (or be freed) under our feet.
            T copy(element);
            InsertAt(index, copy, count);
            return;
        }
        Reserve(size + count);
        ArrayInternal::Shift(data + index, size - index, count);
        int32_t built = 0;
        try {
            for (; built < count; ++built)
                new (data + index + built) T(element);
        } catch (...) {
            ArrayInternal::Destroy(data + index, built);
            ArrayInternal::Shift(data + index + count, size - index, -count);
            throw;
        }
        size += count;
    }

    void SetSize(int32_t newSize)
    {
        ZELKOR_CHECK_ARGUMENT(newSize >= 0, ZELKOR_HERE(L"Inc/Array"));
        if (newSize > size) {
            Reserve(newSize);
            ArrayInternal::FillDefault(data + size, newSize - size);
        } else {
            ArrayInternal::Destroy(data + newSize, size - newSize);
        }
        size = newSize;
    }

    // Reallocates to exactly newCapacity elements; it may not drop elements.
    void SetBufferSize(int32_t newCapacity)
    {
        if (Check(newCapacity >= size, ZELKOR_HERE(L"Inc/Array")) && newCapacity != capacity)
            Reallocate(newCapacity);
    }

    void DeleteAt(int32_t index, int32_t count = 1)
    {
        ZELKOR_CHECK_ARGUMENT(index >= 0 && index <= size && count >= 0 && index <= size - count,
                              ZELKOR_HERE(L"Inc/Array"));
        if (count == 0)
            return;
        ArrayInternal::Destroy(data + index, count);
        ArrayInternal::Shift(data + index + count, size - index - count, -count);
        size -= count;
    }

    void DeleteAll()
    {
        ArrayInternal::Destroy(data, size);
        Policy::Free(data);
        size = capacity = 0;
        data = nullptr;
    }

    // Makes room for needed elements by the growth rule.
    void Reserve(int32_t needed)
    {
        if (needed > capacity)
            Reallocate(ArrayInternal::GrownCapacity(capacity, needed, 8));
    }

    void Swap(CArray& other) noexcept
    {
        std::swap(size, other.size);
        std::swap(capacity, other.capacity);
        std::swap(data, other.data);
    }

private:
    void CheckIndex(int32_t index) const
    {
        Check(static_cast<uint32_t>(index) < static_cast<uint32_t>(size), ZELKOR_HERE(L"Inc/Array"));
    }

    static T* AllocateElements(int32_t count)
    {
        Check(static_cast<uint64_t>(count) <= UINT64_MAX / sizeof(T), CheckSite::ArrayByteSizeOverflow);
        return static_cast<T*>(Policy::Alloc(static_cast<uint64_t>(count) * sizeof(T)));
    }

    void Reallocate(int32_t newCapacity)
    {
        T* fresh = newCapacity > 0 ? AllocateElements(newCapacity) : nullptr;
        ArrayInternal::Relocate(fresh, data, size);
        Policy::Free(data);
        data = fresh;
        capacity = newCapacity;
    }

    template <class U>
    void Emplace(U&& element)
    {
        ZELKOR_CHECK_ARGUMENT(size < INT32_MAX, ZELKOR_HERE(L"Inc/Array"));
        if (size < capacity) {
            new (data + size) T(std::forward<U>(element));
            ++size;
            return;
        }
        // The element may live in the old block, so it is copied before that block goes.
        const int32_t newCapacity = ArrayInternal::GrownCapacity(capacity, size + 1, 8);
        T* fresh = AllocateElements(newCapacity);
        try {
            new (fresh + size) T(std::forward<U>(element));
        } catch (...) {
            Policy::FreeNoThrow(fresh);
            throw;
        }
        ArrayInternal::Relocate(fresh, data, size);
        Policy::Free(data);
        data = fresh;
        capacity = newCapacity;
        ++size;
    }

    void CopyFrom(const CArray& other)
    {
        if (other.size == 0)
            return;
        T* fresh = AllocateElements(other.size);
        int32_t built = 0;
        try {
            for (; built < other.size; ++built)
                new (fresh + built) T(other.data[built]);
        } catch (...) {
            ArrayInternal::Destroy(fresh, built);
            Policy::FreeNoThrow(fresh);
            throw;
        }
        data = fresh;
        size = capacity = other.size;
    }

    int32_t size = 0;
    int32_t capacity = 0;
    T* data = nullptr;
};

} // namespace Zelkor
