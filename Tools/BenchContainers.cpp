// Containers against their standard counterparts: CMap insert, lookup and delete with
// integer and string keys, CArray appends. Goal: lookups no slower than std::unordered_map,
// inserts within 1.5 times. Each case is one pass over all keys, as the map's state moves on
// from case to case.
#include <windows.h>

#include <cstdio>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "Array.h"
#include "Bench.h"
#include "Map.h"
#include "UnicodeString.h"

using namespace Zelkor;

namespace {

volatile int64_t Sink;

// The goals of the header comment, as least speedups.
constexpr double LookupGoal = 1;
constexpr double InsertGoal = 1 / 1.5;

template <class F>
double Time(F action)
{
    const double start = Bench::NowMicroseconds();
    action();
    return Bench::NowMicroseconds() - start;
}

// Distinct pseudo-random keys, so neither container profits from sequential ones.
std::vector<int64_t> IntegerKeys(size_t count)
{
    std::mt19937_64 random(42);
    std::unordered_map<int64_t, bool> seen;
    std::vector<int64_t> keys;
    while (keys.size() < count) {
        const int64_t key = static_cast<int64_t>(random() >> 16);
        if (seen.emplace(key, true).second)
            keys.push_back(key);
    }
    return keys;
}

template <class Key, class StdKey>
void CompareMaps(const char* label, const std::vector<Key>& keys, const std::vector<StdKey>& standardKeys)
{
    CMap<Key, int64_t> ours;
    std::unordered_map<StdKey, int64_t> standard;
    const size_t n = keys.size();
    char what[64];

    std::snprintf(what, sizeof what, "map, %s: insert (Set)", label);
    Bench::Report(what, Time([&] {
                      for (size_t i = 0; i < n; ++i)
                          ours.Set(keys[i], static_cast<int64_t>(i));
                  }),
                  Time([&] {
                      for (size_t i = 0; i < n; ++i)
                          standard.insert_or_assign(standardKeys[i], static_cast<int64_t>(i));
                  }),
                  InsertGoal);

    int64_t sum = 0;
    std::snprintf(what, sizeof what, "map, %s: lookup", label);
    Bench::Report(what, Time([&] {
                      for (size_t i = 0; i < n; ++i)
                          sum += *ours.Lookup(keys[i]);
                  }),
                  Time([&] {
                      for (size_t i = 0; i < n; ++i)
                          sum += standard.find(standardKeys[i])->second;
                  }),
                  LookupGoal);

    std::snprintf(what, sizeof what, "map, %s: delete", label);
    Bench::Report(what, Time([&] {
                      for (size_t i = 0; i < n; ++i)
                          sum += ours.Delete(keys[i]);
                  }),
                  Time([&] {
                      for (size_t i = 0; i < n; ++i)
                          sum += static_cast<int64_t>(standard.erase(standardKeys[i]));
                  }));

    // Adding without the look-up, into a warm map whose nodes come from the free list.
    std::snprintf(what, sizeof what, "map, %s: insert again (Add)", label);
    Bench::Report(what, Time([&] {
                      for (size_t i = 0; i < n; ++i)
                          ours.Add(keys[i], static_cast<int64_t>(i));
                  }),
                  Time([&] {
                      for (size_t i = 0; i < n; ++i)
                          standard.emplace(standardKeys[i], static_cast<int64_t>(i));
                  }),
                  InsertGoal);
    Sink = sum + ours.GetCount();
}

void IntegerMap()
{
    const std::vector<int64_t> keys = IntegerKeys(1000000);
    CompareMaps("1M integer keys", keys, keys);
}

void StringMap()
{
    std::vector<CUnicodeString> keys;
    std::vector<std::wstring> standardKeys;
    wchar_t text[64];
    for (int i = 0; i < 100000; ++i) {
        std::swprintf(text, 64, L"Setting.%08x.%d", static_cast<unsigned>(i * 2654435761u), i);
        keys.emplace_back(text);
        standardKeys.emplace_back(text);
    }
    CompareMaps("100k string keys", keys, standardKeys);
}

void ArrayAppends()
{
    const int n = 10000000;
    CArray<int> ours;
    std::vector<int> standard;
    Bench::Report("array: 10M CArray<int> appends", Time([&] {
                      for (int i = 0; i < n; ++i)
                          ours.Add(i);
                  }),
                  Time([&] {
                      for (int i = 0; i < n; ++i)
                          standard.push_back(i);
                  }));
    Sink = ours[n - 1] + standard[n - 1];
}

void Containers()
{
    IntegerMap();
    StringMap();
    ArrayAppends();
}

Bench::Register containers("containers", Containers);

} // namespace
