// Hash map, and the slot index it shares with the set: path keys, compaction or growth when
// the overflow area is spent, slot-order enumeration, node pages, reference counts of string
// nodes and a randomised comparison with std::unordered_map. Failed growth is
// FailureInjectionTest's.
#include <windows.h>

#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include <gtest/gtest.h>

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

int64_t KeyWithHash(uint32_t hash, uint32_t identity)
{
    return static_cast<int64_t>((static_cast<uint64_t>(hash) << 32) | identity);
}

using ForcedMap = CMap<int64_t, int, ForcedHash>;

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

// Thirteen nodes of bucket 0 fill the overflow area at 31 buckets, so the next group bucket 2
// needs must come from compaction (under a quarter full) or else from growth, which loses none.
TEST(SlotIndex, CompactsOrGrowsWhenTheOverflowAreaIsSpent)
{
    // kept: nodes left in the full chain of bucket 0.
    // clang-format off
    const struct { uint32_t kept; int32_t bucketsAfter; } rows[] = {{4, 31}, {5, 53}, {13, 53}};
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "kept " << row.kept);
        ForcedMap map;
        for (uint32_t i = 0; i < 13; ++i)
            map.Add(KeyWithHash(0, i), 0);
        for (uint32_t i = row.kept; i < 13; ++i)
            EXPECT_EQ(map.Delete(KeyWithHash(0, i)), 1);
        map.Add(KeyWithHash(2, 100), 0);
        map.Add(KeyWithHash(2, 101), 0); // bucket 2 needs a group; the overflow area is spent
        EXPECT_EQ(map.GetBucketCount(), row.bucketsAfter);
        EXPECT_EQ(map.GetCount(), static_cast<int32_t>(row.kept) + 2);
        for (uint32_t i = 0; i < row.kept; ++i)
            EXPECT_TRUE(map.Has(KeyWithHash(0, i))) << i;
        EXPECT_TRUE(map.Has(KeyWithHash(2, 100)) && map.Has(KeyWithHash(2, 101)));
    }
}

// A size beyond the prime table is an internal error that leaves the map as it was.
TEST(SlotIndex, EnumerationFollowsSlotOrderAcrossRehashes)
{
    CMap<CUnicodeString, CUnicodeString> map(2);
    const auto keysInOrder = [&] {
        std::vector<std::wstring> keys;
        map.ForEach([&](const CUnicodeString& key, const CUnicodeString&) { keys.push_back(key.GetText()); });
        return keys;
    };
    map.Set(L"access_type", L"offline");
    map.Set(L"prompt", L"consent");
    EXPECT_EQ(keysInOrder(), (std::vector<std::wstring>{L"prompt", L"access_type"}));
    map.Rehash(389); // 32689651 mod 389 = 36, 227503234 mod 389 = 85
    EXPECT_TRUE(ReportsAt(CheckSite::HashTableSizeBeyondLargest, [&] { map.Rehash(INT32_MAX); }));
    EXPECT_EQ(keysInOrder(), (std::vector<std::wstring>{L"access_type", L"prompt"}));
    EXPECT_EQ(*map.Lookup(L"prompt"), CUnicodeString(L"consent"));
}

// Node pages double from a size that follows the hint up to one mebibyte; DeleteAll starts
// again from the initial page size, the hint's buckets kept.
TEST(NodePages, PagesDoubleUpToOneMebibyteAndDeleteAllStartsAgain)
{
    CMap<int64_t, int64_t> map(1000); // 16-byte nodes
    std::vector<uint32_t> sizes = {map.GetNextPageSize()};
    for (int64_t i = 0; i < 200000; ++i) {
        map.Add(i, i);
        if (sizes.back() != map.GetNextPageSize())
            sizes.push_back(map.GetNextPageSize());
    }
    EXPECT_EQ(sizes, (std::vector<uint32_t>{16384, 32768, 65536, 131072, 262144, 524288, 1048576}));
    map.DeleteAll();
    EXPECT_EQ(map.GetNextPageSize(), 256u);
    EXPECT_FALSE(map.Has(3));
    map.Add(7, 7);
    EXPECT_EQ(map.GetBucketCount(), 1543);
}

TEST(StringNodes, KeysAndValuesAreCountedReferences)
{
    CUnicodeString key(L"a key long enough to live in a pooled buffer");
    CUnicodeString value(L"a value long enough to live in a pooled buffer");
    {
        CMap<CUnicodeString, CUnicodeString> map;
        map.Add(key, value);
        map.Add(key, value); // Add does not look for the key
        EXPECT_EQ(key.GetReferenceCount(), 3);
        // One node gives its value up; what Delete leaked would still count at the end.
        map.Set(key, L"other");
        EXPECT_EQ(value.GetReferenceCount(), 2);
        EXPECT_EQ(map.Delete(key), 2);
        map.GetOrAdd(key) = value;
        EXPECT_EQ(value.GetReferenceCount(), 2);
    }
    EXPECT_EQ(key.GetReferenceCount(), 1);
    EXPECT_EQ(value.GetReferenceCount(), 1);
}

// Mixed operations against std::unordered_map, with few distinct hashes so that groups fill,
// empty and compact; the contents and slot order are compared in full at intervals. Hashes
// that are multiples of 53 spread over 31 buckets but share one at 53, so growth must pass
// over a bucket count at which the nodes do not fit.
TEST(SlotIndexDifferential, MatchesUnorderedMap)
{
    // clang-format off
    const struct { uint32_t hashes, spacing, keyRange; } rows[] = {
        {3, 1, 40}, {37, 1, 300}, {31, 53, 300}, {1u << 31, 1, 20000}};
    // clang-format on
    for (const auto& row : rows) {
        std::mt19937 random(12345);
        CMap<int64_t, int64_t, ForcedHash> map;
        std::unordered_map<int64_t, int64_t> model;
        for (int step = 0; step < 20000; ++step) {
            SCOPED_TRACE(testing::Message() << row.hashes << " hashes " << row.spacing << " apart, step " << step);
            const uint32_t identity = random() % row.keyRange;
            const int64_t key = KeyWithHash(identity % row.hashes * row.spacing, identity);
            const uint32_t operation = random() % 4;
            if (operation < 2) {
                map.Set(key, step);
                model[key] = step;
            } else if (operation == 2) {
                ASSERT_EQ(map.Delete(key), static_cast<int32_t>(model.erase(key)));
            } else {
                const int64_t* found = map.Lookup(key);
                ASSERT_EQ(found ? *found : -1, model.count(key) ? model[key] : -1);
            }
            if (step % 997 != 0 && step != 19999)
                continue;
            std::unordered_map<int64_t, int64_t> seen;
            int32_t previousSlot = -1;
            for (auto it = map.begin(); it != map.end(); previousSlot = it.GetSlot(), ++it) {
                ASSERT_GT(it.GetSlot(), previousSlot);
                seen[it->Key] = it->Value;
            }
            ASSERT_EQ(map.GetCount(), static_cast<int32_t>(model.size()));
            ASSERT_EQ(seen, model);
        }
    }
}
