// Hash map, and the slot index it shares with the set: path keys, slot-order enumeration, node
// pages and a randomised comparison with std::unordered_map, which fails an allocation now and
// then.
#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <tuple>
#include <unordered_map>

#include "HashTable.h"
#include "Map.h"
#include "TestSupport.h"
#include "UnicodeString.h"

using namespace Zelkor;

namespace {

// Keys carry their hash in the high half, so tests place nodes in chosen buckets.
struct ForcedHash {
    static uint32_t Hash(int64_t key) { return static_cast<uint32_t>(static_cast<uint64_t>(key) >> 32); }
    static bool Equal(int64_t left, int64_t right) { return left == right; }
};

const auto KeyWithHash = [](uint32_t hash, uint32_t identity) { return int64_t(uint64_t(hash) << 32 | identity); };

} // namespace

// Two spellings of one path are one key: equal both ways, and hashed alike.
TEST(HashKeys, PathKeysIgnoreCaseAndSeparatorSpelling)
{
    // clang-format off
    const struct { const wchar_t *left, *right; bool equal; } pairs[] = {
        {L"C:\\Dir\\File.txt", L"c:/dir/FILE.TXT", true}, {L"C:\\Dir//\\", L"C:/DIR", true},
        {L"\\\\server\\share", L"//SERVER/share/", true}, {L"", L"\\/", true},
        {L"C:\\Dir\\a", L"C:\\Dira", false}, {L"\\a", L"a", false},
    };
    // clang-format on
    for (const auto& p : pairs) {
        SCOPED_TRACE(testing::Message() << p.left << L" | " << p.right);
        CUnicodeString left(p.left), right(p.right);
        EXPECT_EQ(PathKeyTraits::Equal(left, right), p.equal);
        EXPECT_EQ(PathKeyTraits::Equal(right, left), p.equal);
        EXPECT_TRUE(!p.equal || PathKeyTraits::Hash(left) == PathKeyTraits::Hash(right));
    }
}

// Node pages double from a size that follows the hint up to one mebibyte, so that a large map
// takes few blocks, and each page is filled to its last node; a bucket count beyond the largest
// is refused before anything changes.
TEST(SlotIndex, PagesAndBucketsStayWithinTheirLimits)
{
    CMap<int64_t, int64_t> map(1000);                        // 16-byte nodes
    using Pages = std::vector<std::pair<int64_t, uint32_t>>; // the node that opened a page, and the next page's KiB
    Pages pages = {{0, map.GetNextPageSize() >> 10}};
    for (int64_t i = 0; i < 200000; ++i) {
        map.Add(i, i);
        if (pages.back().second != map.GetNextPageSize() >> 10)
            pages.emplace_back(i, map.GetNextPageSize() >> 10);
    }
    EXPECT_EQ(pages, (Pages{{0, 16}, {0, 32}, {1024, 64}, {3072, 128}, {7168, 256}, {15360, 512}, {31744, 1024}}));
    const int32_t buckets = map.GetBucketCount();
    EXPECT_TRUE(ReportsAt(CheckSite::HashTableSizeBeyondLargest, [&] { map.Rehash(INT32_MAX); }));
    EXPECT_EQ(map.GetBucketCount(), buckets);
    // One chain: its bucket and the four overflow groups that 31 buckets allow hold 13 nodes.
    // Emptied down to a few, it keeps its groups until a chain that finds no slot compacts them,
    // while fewer than a quarter of the buckets hold nodes; beyond, the table grows. Every
    // node's value is one shared pointer, which goes with the node.
    const auto held = std::make_shared<int>();
    CMap<int64_t, std::shared_ptr<int>, ForcedHash> chain;
    for (uint32_t left : {4u, 5u}) {
        EXPECT_EQ((chain.DeleteAll(), held.use_count()), 1);
        for (uint32_t i = 0; i < 13; ++i)
            EXPECT_EQ((chain.Add(KeyWithHash(0, i), held), chain.GetBucketCount()), 31) << i;
        for (uint32_t i = left; i < 13; ++i)
            chain.Delete(KeyWithHash(0, i));
        EXPECT_EQ((chain.Add(KeyWithHash(1, 0), held), chain.GetSlotCount()), 31 + 16) << left;
        EXPECT_EQ((chain.Add(KeyWithHash(1, 1), held), chain.GetBucketCount()), left < 5 ? 31 : 53) << left;
        EXPECT_EQ(held.use_count(), 1 + left + 2);
    }
}

// The admissible bucket counts, as documented.
const std::vector<int32_t> BucketCounts = {31,      53,       97,       193,      389,       769,       1543,      3079,      6151,
                                           12289,   24593,    49157,    98317,    196613,    393241,    786433,    1572869,   3145739,
                                           6291469, 12582917, 25165843, 50331653, 100663319, 201326611, 402653189, 805306457, 1610612741};

// Every operation of the map (or of the set, whose nodes hold the key alone) against a standard
// map from each key to the values of its nodes, with few distinct hashes so that groups fill,
// empty and compact. Add does not look for the key, so a key may have several nodes; Set and
// GetOrAdd change the one Lookup finds. Hashes that are multiples of 53 spread over 31 buckets
// but share one at 53, so growth must pass over a bucket count at which the nodes do not fit.
// After each step the bucket count is a table entry and the overflow area within its limit; at
// intervals the enumeration, in ascending slots, gives the model's pairs.
template <class Container>
void RunSlotIndexSequence(uint64_t seed, uint32_t hashes, uint32_t spacing, uint32_t keyRange, int steps)
{
    constexpr bool isMap = std::is_same_v<Container, CMap<int64_t, int64_t, ForcedHash>>;
    std::mt19937_64 random(seed);
    Container container;
    std::unordered_map<int64_t, std::vector<int64_t>> model;
    size_t nodes = 0;
    std::ostringstream trace;
    trace << "seed " << seed << ", " << hashes << " hashes " << spacing << " apart:";
    for (int step = 0; step < steps; ++step) {
        const uint32_t identity = random() % keyRange;
        const int64_t key = KeyWithHash(identity % hashes * spacing, identity);
        std::vector<int64_t>& values = model[key];
        const auto found = [&](const auto* node) { // the node Lookup finds holds one of the key's values
            ASSERT_EQ(node != nullptr, !values.empty()) << trace.str();
            if constexpr (isMap) {
                ASSERT_TRUE(!node || std::count(values.begin(), values.end(), *node)) << trace.str();
            }
        };
        const auto change = [&](int64_t value) { // what Set and GetOrAdd change
            const int64_t* node = isMap && !values.empty() ? container.Lookup(key) : nullptr;
            if (node)
                *std::find(values.begin(), values.end(), *node) = value;
            else if (values.empty())
                values.push_back(value), ++nodes;
        };
        static const char* const names[] = {"Add", "Set", "Set", "GetOrAdd", "Delete", "Delete", "Lookup", "Rehash", "DeleteAll"};
        const int operation = int(random() % 9);
        trace << ' ' << names[operation] << ' ' << identity;
        // Now and then one of the first allocations fails: the operation raises the memory exception and
        // the container holds what it held.
        const auto before = std::make_pair(values, nodes);
        const CFailingAllocation failure(random() % 8 == 0 ? 1 + random() % 3 : 0);
        bool outOfMemory = false;
        try {
            switch (operation) {
            case 0:
                if constexpr (isMap)
                    container.Add(key, step);
                else
                    container.Add(key);
                values.push_back(step), ++nodes;
                break;
            case 1:
            case 2:
                change(step);
                if constexpr (isMap)
                    container.Set(key, step);
                else
                    container.Set(key);
                break;
            case 3:
                if constexpr (isMap) {
                    const bool absent = values.empty();
                    change(absent ? 0 : step);
                    if (absent)
                        ASSERT_EQ(container.GetOrAdd(key), 0) << trace.str();
                    else
                        container.GetOrAdd(key) = step;
                } else {
                    change(0);
                    ASSERT_EQ(container.GetOrAdd(key), key) << trace.str();
                }
                break;
            case 4:
            case 5:
                ASSERT_EQ(container.Delete(key), int32_t(values.size())) << trace.str();
                nodes -= values.size(), values.clear();
                break;
            case 6:
                found(container.Lookup(key));
                ASSERT_EQ(container.Has(key), !values.empty()) << trace.str();
                break;
            case 7: {
                const int32_t wanted = random() % 2 ? container.GetBucketCount() : int32_t(random() % 400);
                trace << " to " << wanted;
                container.Rehash(wanted);
                ASSERT_GE(container.GetBucketCount(), wanted) << trace.str();
                break;
            }
            case 8:
                if (random() % 20) {
                    trace << " (skipped)";
                    continue;
                }
                container.DeleteAll(), model.clear(), nodes = 0; // every page and the table go back
                ASSERT_EQ(container.GetBucketCount() + static_cast<CHeapManager*>(GetCurrentMemoryManager())->GetBlockCount(), 0)
                    << trace.str();
                continue;
            }
        } catch (CMemoryException* e) {
            delete e, outOfMemory = true;
            std::tie(values, nodes) = before;
            trace << " (out of memory)";
        }
        ASSERT_EQ(outOfMemory, failure.Reached()) << trace.str();
        const int32_t buckets = container.GetBucketCount();
        ASSERT_EQ(container.GetCount(), int32_t(nodes)) << trace.str();
        ASSERT_TRUE(nodes == 0 || std::count(BucketCounts.begin(), BucketCounts.end(), buckets)) << buckets << " " << trace.str();
        ASSERT_LE(container.GetSlotCount(), buckets + (buckets / 2 + 3) / 4 * 4) << trace.str();
        if (step % 97 != 0 && step != steps - 1 && !outOfMemory)
            continue;
        std::map<int64_t, std::vector<int64_t>> seen, expected;
        for (const auto& [k, v] : model)
            if (!v.empty())
                expected[k] = isMap ? v : std::vector<int64_t>(v.size(), 0);
        int32_t previousSlot = -1;
        for (auto it = container.begin(); it != container.end(); previousSlot = it.GetSlot(), ++it) {
            ASSERT_GT(it.GetSlot(), previousSlot) << trace.str();
            if constexpr (isMap)
                seen[it->Key].push_back(it->Value);
            else
                seen[*it].push_back(0);
        }
        for (auto* pairs : {&seen, &expected})
            for (auto& pair : *pairs)
                std::sort(pair.second.begin(), pair.second.end());
        ASSERT_EQ(seen, expected) << trace.str();
    }
}

TEST(SlotIndexDifferential, MapAndSetMatchStandardMap)
{
    // clang-format off
    const struct { uint32_t hashes, spacing, keyRange; int steps; } rows[] = {
        {3, 1, 40, 400}, {37, 1, 300, 1000}, {31, 53, 300, 1000}, {1u << 31, 1, 20000, 4000}};
    // clang-format on
    // A heap of their own, which takes part in failure injection and counts what is left.
    CHeapManager heap(0, true);
    CMemoryManagerSwitcher useHeap(&heap);
    for (uint64_t seed = 0; seed < SeedCount(8) && !testing::Test::HasFatalFailure(); ++seed) {
        for (const auto& row : rows) {
            RunSlotIndexSequence<CMap<int64_t, int64_t, ForcedHash>>(seed, row.hashes, row.spacing, row.keyRange, row.steps);
            RunSlotIndexSequence<CHashTable<int64_t, ForcedHash>>(seed, row.hashes, row.spacing, row.keyRange, row.steps);
            ASSERT_EQ(heap.GetBlockCount(), 0) << "blocks left by seed " << seed;
        }
    }
}
