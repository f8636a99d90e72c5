// TEMPORARY stand-in (see README.txt).
#pragma once
#include <cstdint>
#include <map>
namespace Zelkor {
template <class K, class V> class CMap {
public:
    void Set(const K& k, const V& v) { items[k] = v; }
    V* Lookup(const K& k) { auto it = items.find(k); return it == items.end() ? nullptr : &it->second; }
    int32_t Delete(const K& k) { return static_cast<int32_t>(items.erase(k)); }
    void DeleteAll() { items.clear(); }
    int32_t GetCount() const { return static_cast<int32_t>(items.size()); }
    template <class F> void ForEach(F f) const { for (const auto& i : items) f(i.first, i.second); }
private:
    std::map<K, V> items;
};
} // namespace Zelkor
