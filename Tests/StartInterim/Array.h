// TEMPORARY stand-in (see README.txt).
#pragma once
#include <cstdint>
#include <new>
#include <utility>
#include "Alloc.h"
#include "Errors.h"
namespace Zelkor {
struct CurrentManager {
    static void* Alloc(size_t n) { return malloc(n ? n : 1); }
    static void Free(void* p) { free(p); }
};
template <class T, class Policy = CurrentManager> class CArray {
public:
    CArray() = default;
    CArray(const CArray&) = delete;
    CArray& operator=(const CArray&) = delete;
    ~CArray() { DeleteAll(); Policy::Free(data); }
    int32_t GetSize() const { return size; }
    int32_t GetCapacity() const { return capacity; }
    T& operator[](int32_t i) { return data[i]; }
    const T& operator[](int32_t i) const { return data[i]; }
    T& GetAt(int32_t i) { return data[i]; }
    T* GetBuffer() { return data; }
    void Add(const T& v) { InsertAt(size, v); }
    void InsertAt(int32_t index, const T& v, int32_t count = 1) {
        Reserve(size + count);
        for (int32_t i = size - 1; i >= index; --i) { new (&data[i + count]) T(std::move(data[i])); data[i].~T(); }
        for (int32_t i = 0; i < count; ++i) new (&data[index + i]) T(v);
        size += count;
    }
    void SetSize(int32_t n) {
        Reserve(n);
        for (int32_t i = size; i < n; ++i) new (&data[i]) T();
        for (int32_t i = n; i < size; ++i) data[i].~T();
        size = n;
    }
    void SetBufferSize(int32_t n) { Reserve(n); }
    void DeleteAt(int32_t index, int32_t count = 1) {
        for (int32_t i = index; i < index + count; ++i) data[i].~T();
        for (int32_t i = index + count; i < size; ++i) { new (&data[i - count]) T(std::move(data[i])); data[i].~T(); }
        size -= count;
    }
    void DeleteAll() { for (int32_t i = 0; i < size; ++i) data[i].~T(); size = 0; }
private:
    void Reserve(int32_t n) {
        if (n <= capacity) return;
        int32_t c = capacity ? capacity * 2 : 4;
        if (c < n) c = n;
        T* d = static_cast<T*>(Policy::Alloc(sizeof(T) * c));
        if (!d) ThrowMemoryException();
        for (int32_t i = 0; i < size; ++i) { new (&d[i]) T(std::move(data[i])); data[i].~T(); }
        Policy::Free(data);
        data = d;
        capacity = c;
    }
    T* data = nullptr;
    int32_t size = 0;
    int32_t capacity = 0;
};
} // namespace Zelkor
