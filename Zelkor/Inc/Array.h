// CArray: a growable array on one of the allocation policies (AllocationPolicy.h).
//
// Growth, shared by every framework container: to hold n elements with capacity c the new
// capacity is c + min(max(max(c / 2, step), n - c), INT32_MAX - c), step being 8 (CFastArray
// uses its inline size). Storage is allocated before any field changes, so a
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
            // NOLINTNEXTLINE(bugprone-sizeof-expression): T is the element, a pointer in pointer arrays
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
                         sizeof(T) * static_cast<size_t>(n)); // NOLINT(bugprone-sizeof-expression): as above
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

// What CArray and CFastArray share: indexing, growth, resizing and appending. Each array keeps
// its fields (size, capacity, data) in its own layout and names its smallest growth step, the
// site of its byte-size guard, the source its other checks report, and how a block of its own
// goes back (FreeElements, which ignores a block that is not the array's to free).
template <class Array, class T, class Policy>
class CArrayCore {
    static_assert(std::is_nothrow_move_constructible_v<T>, "elements are moved between blocks");

public:
    int32_t GetSize() const { return Self().size; }
    int32_t GetCapacity() const { return Self().capacity; }

    T& operator[](int32_t index)
    {
        CheckIndex(index);
        return Self().data[index];
    }
    const T& operator[](int32_t index) const
    {
        CheckIndex(index);
        return Self().data[index];
    }

    void Add(const T& element) { Emplace(element); }
    void Add(T&& element) { Emplace(std::move(element)); }

    void SetSize(int32_t newSize)
    {
        Array& self = Self();
        ZELKOR_CHECK_ARGUMENT(newSize >= 0, ZELKOR_HERE(Array::SourcePath));
        if (newSize > self.size) {
            Reserve(newSize);
            FillDefault(self.data + self.size, newSize - self.size);
        } else {
            Destroy(self.data + newSize, self.size - newSize);
        }
        self.size = newSize;
    }

    // Makes room for needed elements by the growth rule; a request within the capacity
    // changes nothing.
    void Reserve(int32_t needed)
    {
        if (needed > Self().capacity)
            Reallocate(GrownCapacity(Self().capacity, needed, Array::MinimumStep));
    }

protected:
    void CheckIndex(int32_t index) const
    {
        Check(static_cast<uint32_t>(index) < static_cast<uint32_t>(Self().size), ZELKOR_HERE(Array::SourcePath));
    }

    static T* AllocateElements(int32_t count)
    {
        // NOLINTBEGIN(bugprone-sizeof-expression): T is the element, a pointer in pointer arrays
        Check(static_cast<uint64_t>(count) <= UINT64_MAX / sizeof(T), Array::ByteSizeOverflow);
        return static_cast<T*>(Policy::Alloc(static_cast<uint64_t>(count) * sizeof(T)));
        // NOLINTEND(bugprone-sizeof-expression)
    }

    // Moves the elements to a block of exactly newCapacity elements (none for 0).
    void Reallocate(int32_t newCapacity)
    {
        Array& self = Self();
        T* fresh = newCapacity > 0 ? AllocateElements(newCapacity) : nullptr;
        Relocate(fresh, self.data, self.size);
        self.FreeElements(self.data);
        self.data = fresh;
        self.capacity = newCapacity;
    }

    template <class U>
    void Emplace(U&& element)
    {
        Array& self = Self();
        ZELKOR_CHECK_ARGUMENT(self.size < INT32_MAX, ZELKOR_HERE(Array::SourcePath));
        if (self.size < self.capacity) {
            new (self.data + self.size) T(std::forward<U>(element));
            ++self.size;
            return;
        }
        // The element may live in the old block, so it is copied before that block goes.
        const int32_t newCapacity = GrownCapacity(self.capacity, self.size + 1, Array::MinimumStep);
        T* fresh = AllocateElements(newCapacity);
        try {
            new (fresh + self.size) T(std::forward<U>(element));
        } catch (...) {
            Policy::FreeNoThrow(fresh);
            throw;
        }
        Relocate(fresh, self.data, self.size);
        self.FreeElements(self.data);
        self.data = fresh;
        self.capacity = newCapacity;
        ++self.size;
    }

private:
    Array& Self() { return static_cast<Array&>(*this); }
    const Array& Self() const { return static_cast<const Array&>(*this); }
};

} // namespace ArrayInternal

template <class T, class Policy = CurrentManager>
class CArray : public ArrayInternal::CArrayCore<CArray<T, Policy>, T, Policy> {
    using Core = ArrayInternal::CArrayCore<CArray, T, Policy>;
    friend Core;

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

    bool IsEmpty() const { return size == 0; }

    T& GetAt(int32_t index) { return (*this)[index]; }
    const T& GetAt(int32_t index) const { return (*this)[index]; }

    // Null when the array holds nothing.
    T* GetBuffer() { return size > 0 ? data : nullptr; }
    const T* GetBuffer() const { return size > 0 ? data : nullptr; }

    T* begin() { return data; }
    T* end() { return data + size; }
    const T* begin() const { return data; }
    const T* end() const { return data + size; }

    void InsertAt(int32_t index, const T& element, int32_t count = 1)
    {
        ZELKOR_CHECK_ARGUMENT(index >= 0 && index <= size && count >= 0 && count <= INT32_MAX - size,
                              ZELKOR_HERE(SourcePath));
        if (count == 0)
            return;
        if (ArrayInternal::PointsInto(&element, data, size)) {
            // The element would move (or be freed) under our feet.
            T copy(element); // NOLINT(performance-unnecessary-copy-initialization): see above
            InsertAt(index, copy, count);
            return;
        }
        this->Reserve(size + count);
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

    // Reallocates to exactly newCapacity elements; it may not drop elements.
    void SetBufferSize(int32_t newCapacity)
    {
        if (Check(newCapacity >= size, ZELKOR_HERE(SourcePath)) && newCapacity != capacity)
            this->Reallocate(newCapacity);
    }

    void DeleteAt(int32_t index, int32_t count = 1)
    {
        ZELKOR_CHECK_ARGUMENT(index >= 0 && index <= size && count >= 0 && index <= size - count,
                              ZELKOR_HERE(SourcePath));
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

    void Swap(CArray& other) noexcept
    {
        std::swap(size, other.size);
        std::swap(capacity, other.capacity);
        std::swap(data, other.data);
    }

private:
    static constexpr const wchar_t* SourcePath = L"Inc/Array";
    static constexpr int32_t MinimumStep = 8;
    static constexpr const CCheckSite& ByteSizeOverflow = CheckSite::ArrayByteSizeOverflow;
    static void FreeElements(T* block) { Policy::Free(block); }

    void CopyFrom(const CArray& other)
    {
        if (other.size == 0)
            return;
        T* fresh = this->AllocateElements(other.size);
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
