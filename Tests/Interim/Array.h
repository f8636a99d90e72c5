// TEMPORARY stand-in (see README.txt); shadowed by Zelkor/Inc/Array.h once merged.
#pragma once

#include <cstdint>
#include <vector>

namespace Zelkor {

struct CurrentManager;

template <class T, class Policy = CurrentManager> class CArray {
public:
    int32_t GetSize() const { return int32_t(v.size()); }
    T& operator[](int32_t i) { return v[i]; }
    const T& operator[](int32_t i) const { return v[i]; }
    void Add(const T& x) { v.push_back(x); }
    void InsertAt(int32_t i, const T& x, int32_t count = 1) { v.insert(v.begin() + i, count, x); }
    void DeleteAll() { v.clear(); }

private:
    std::vector<T> v;
};

} // namespace Zelkor
