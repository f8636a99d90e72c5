// Containers against their standard counterparts: CMap insert, lookup and delete with
// integer and string keys, CArray appends. Goal: lookups no slower than std::unordered_map,
// inserts within 1.5 times. Each case is one pass over all keys, as the map's state moves on
// from case to case; the passes are repeated in rounds on fresh maps.
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

// The four cases in their order on a fresh map of each kind, ours and the baseline in turns
// case by case; each case reports its median round. A single pass of 100,000 string keys
// lasts a few milliseconds, which one stall of the shared machine can double.
template <class Key, class StdKey>
void CompareMaps(const char* label, const std::vector<Key>& keys, const std::vector<StdKey>& standardKeys, int rounds)
{
    const size_t n = keys.size();
    std::vector<double> ours[4], standard[4];
    int64_t sum = 0;
    for (int round = 0; round < rounds; ++round) {
        CMap<Key, int64_t> map;
        std::unordered_map<StdKey, int64_t> standardMap;
        ours[0].push_back(Time([&] {
            for (size_t i = 0; i < n; ++i)
                map.Set(keys[i], static_cast<int64_t>(i));
        }));
        standard[0].push_back(Time([&] {
            for (size_t i = 0; i < n; ++i)
                standardMap.insert_or_assign(standardKeys[i], static_cast<int64_t>(i));
        }));
        ours[1].push_back(Time([&] {
            for (size_t i = 0; i < n; ++i)
                sum += *map.Lookup(keys[i]);
        }));
        standard[1].push_back(Time([&] {
            for (size_t i = 0; i < n; ++i)
                sum += standardMap.find(standardKeys[i])->second;
        }));
        ours[2].push_back(Time([&] {
            for (size_t i = 0; i < n; ++i)
                sum += map.Delete(keys[i]);
        }));
        standard[2].push_back(Time([&] {
            for (size_t i = 0; i < n; ++i)
                sum += static_cast<int64_t>(standardMap.erase(standardKeys[i]));
        }));
        // Adding without the look-up, into a warm map whose nodes come from the free list.
        ours[3].push_back(Time([&] {
            for (size_t i = 0; i < n; ++i)
                map.Add(keys[i], static_cast<int64_t>(i));
        }));
        standard[3].push_back(Time([&] {
            for (size_t i = 0; i < n; ++i)
                standardMap.emplace(standardKeys[i], static_cast<int64_t>(i));
        }));
        sum += map.GetCount();
    }
    Sink = sum;

    const struct {
        const char* what;
        double goal;
    } cases[] = {
        {"insert (Set)", InsertGoal}, {"lookup", LookupGoal}, {"delete", 0}, {"insert again (Add)", InsertGoal}};
    for (int c = 0; c < 4; ++c) {
        char what[64];
        std::snprintf(what, sizeof what, "map, %s: %s", label, cases[c].what);
        Bench::Report(what, Bench::Median(ours[c]), Bench::Median(standard[c]), cases[c].goal);
    }
}

void IntegerMap()
{
    const std::vector<int64_t> keys = IntegerKeys(1000000);
    CompareMaps("1M integer keys", keys, keys, 3);
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
    CompareMaps("100k string keys", keys, standardKeys, 9);
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
