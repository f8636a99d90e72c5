// TEMPORARY stand-in (see README.txt).
#pragma once
#include <cstdint>
#include <cstdlib>
#include "Errors.h"
namespace Zelkor {
template <class T, int32_t N> class CFastArray {
public:
    ~CFastArray() { if (data != local) free(data); }
    T* GetBuffer() { return data; }
    int32_t GetSize() const { return size; }
    int32_t GetCapacity() const { return capacity; }
    void SetSize(int32_t n) { Grow(n); size = n; }
    void Grow(int32_t n) {
        if (n <= capacity) return;
        T* d = static_cast<T*>(malloc(sizeof(T) * n));
        if (!d) ThrowMemoryException();
        for (int32_t i = 0; i < size; ++i) d[i] = data[i];
        if (data != local) free(data);
        data = d; capacity = n;
    }
private:
    T local[N];
    T* data = local;
    int32_t size = 0;
    int32_t capacity = N;
};
} // namespace Zelkor
