// CMap, and the slot index it shares with CHashTable (HashTable.h).
//
// The index is one array of 64-bit slots: `bucket count` primary buckets (a prime from
// HashTableSizes), then overflow groups of exactly four slots starting at bucket count + 4k.
// A slot is 0 (free), a node pointer (nodes are 8-byte aligned, so even) or a link to a
// group, (group start * 2) + 1 (odd). A primary slot holds a node or a link to where its
// chain continues; inside a group the slots are walked in order, and only the last slot of a
// group may link on to a further group. The overflow area is bounded by bucket count / 2
// rounded up to four slots; when a chain has no free slot and the area is full, the index
// first compacts (rehash at the same size) while under a quarter full, otherwise grows to
// the next prime. Enumeration is by slot index, so its order is the slot order: it is
// observable (documents list map contents in it) and it changes with every rehash.
//
// Nodes live in pages of CNodePageAllocator and never move; a rehash moves node pointers
// only. Pages are released only by DeleteAll or the destructor.
#pragma once

#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

#include "AllocationPolicy.h"
#include "Array.h"
#include "Errors.h"
#include "UnicodeString.h"

namespace Zelkor {

// The admissible bucket counts, all prime.
extern const int32_t HashTableSizes[27];

namespace HashInternal {

// The smallest entry of HashTableSizes not below atLeast (31 for anything up to 31).
int32_t ChooseBucketCount(int64_t atLeast);

uint32_t HashText(const wchar_t* text);
uint32_t HashPath(const wchar_t* text, int32_t length);
bool PathsEqual(const wchar_t* left, int32_t leftLength, const wchar_t* right, int32_t rightLength);

} // namespace HashInternal

// Plain text keys: h = first unit, then h * 33 + each further unit, 0 for the empty key.
struct StringKeyTraits {
    static uint32_t Hash(const CUnicodeString& key) { return HashInternal::HashText(key.GetText()); }
    static bool Equal(const CUnicodeString& left, const CUnicodeString& right) { return left == right; }
};

// File paths: case, the kind of separator and separators at the end do not matter.
struct PathKeyTraits {
    static uint32_t Hash(const CUnicodeString& key) { return HashInternal::HashPath(key.GetText(), key.GetLength()); }
    static bool Equal(const CUnicodeString& left, const CUnicodeString& right)
    {
        return HashInternal::PathsEqual(left.GetText(), left.GetLength(), right.GetText(), right.GetLength());
    }
};

// Integers hash to their low 32 bits.
template <class T>
struct IntegerKeyTraits {
    static uint32_t Hash(T key) { return static_cast<uint32_t>(static_cast<uint64_t>(key)); }
    static bool Equal(T left, T right) { return left == right; }
};

template <class T>
struct PointerKeyTraits {
    static uint32_t Hash(T* key) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(key)); }
    static bool Equal(const T* left, const T* right) { return left == right; }
};

template <class K, class = void>
struct DefaultKeyTraits; // no default for other key types: name the traits explicitly

template <class K>
struct DefaultKeyTraits<K, std::enable_if_t<std::is_integral_v<K> || std::is_enum_v<K>>> : IntegerKeyTraits<K> {
};

template <class T>
struct DefaultKeyTraits<T*, void> : PointerKeyTraits<T> {
};

template <>
struct DefaultKeyTraits<CUnicodeString, void> : StringKeyTraits {
};

// Nodes of one size, carved from pages that double from the first page size up to 1 MiB.
// Each page starts with a link to the previous page and its data size; freed nodes form a
// list linked through their first word.
template <class Policy>
class CNodePageAllocator {
public:
    static constexpr uint32_t MaximumPageSize = 1048576;

    explicit CNodePageAllocator(uint32_t firstPageSize) : nextPageSize(firstPageSize) {}
    CNodePageAllocator(const CNodePageAllocator&) = delete;
    CNodePageAllocator& operator=(const CNodePageAllocator&) = delete;
    ~CNodePageAllocator() { ReleasePages(); }

    void* Take(uint32_t nodeSize)
    {
        if (freeList != nullptr) {
            void* node = freeList;
            freeList = *static_cast<void**>(node);
            return node;
        }
        if (page != nullptr && static_cast<uint64_t>(used) + nodeSize <= page->dataSize) {
            void* node = reinterpret_cast<unsigned char*>(page + 1) + used;
            used += nodeSize;
            return node;
        }
        const uint32_t dataSize = nextPageSize > nodeSize ? nextPageSize : nodeSize;
        auto* fresh = static_cast<PageHeader*>(Policy::Alloc(sizeof(PageHeader) + dataSize));
        fresh->previous = page;
        fresh->dataSize = dataSize;
        page = fresh;
        used = nodeSize;
        nextPageSize = nextPageSize >= MaximumPageSize / 2 ? MaximumPageSize : nextPageSize * 2;
        return fresh + 1;
    }

    void GiveBack(void* node)
    {
        *static_cast<void**>(node) = freeList;
        freeList = node;
    }

    // Every page goes; the next page will have firstPageSize bytes.
    void Reset(uint32_t firstPageSize)
    {
        ReleasePages();
        freeList = nullptr;
        used = 0;
        nextPageSize = firstPageSize;
    }

    uint32_t GetNextPageSize() const { return nextPageSize; }

private:
    struct alignas(16) PageHeader {
        PageHeader* previous;
        uint32_t dataSize;
    };

    void ReleasePages()
    {
        while (page != nullptr) {
            PageHeader* previous = page->previous;
            Policy::FreeNoThrow(page);
            page = previous;
        }
    }

    PageHeader* page = nullptr;
    void* freeList = nullptr;
    uint32_t used = 0;
    uint32_t nextPageSize;
};

namespace HashInternal {

inline bool IsLink(uint64_t slot)
{
    return (slot & 1) != 0;
}
inline int32_t LinkTarget(uint64_t slot)
{
    return static_cast<int32_t>(slot >> 1);
}
inline uint64_t MakeLink(int32_t groupStart)
{
    return static_cast<uint64_t>(groupStart) * 2 + 1;
}
inline int64_t OverflowLimit(int32_t buckets)
{
    return (static_cast<int64_t>(buckets / 2) + 3) / 4 * 4;
}

// True, having reported it at site, for a link met where a node or a free slot belongs. The
// walk ends after a report whatever the report returns, so the report is a path out of the
// loop: nothing the loop keeps in registers has to survive the call, and a lookup costs what
// it cost before the check could resume the walk.
inline bool IsMisplacedLink(uint64_t slot, const CCheckSite& site)
{
    if (!IsLink(slot)) [[likely]]
        return false;
    ReportFailedCheck(site);
    return true;
}

struct CSlotArray {
    int32_t count = 0;    // slots in use: buckets plus groups
    int32_t capacity = 0; // slots allocated
    uint64_t* slots = nullptr;
};

template <class Policy>
void CreateSlots(CSlotArray& table, int32_t count)
{
    auto* slots = static_cast<uint64_t*>(Policy::Alloc(static_cast<uint64_t>(count) * sizeof(uint64_t)));
    std::memset(slots, 0, static_cast<size_t>(count) * sizeof(uint64_t));
    table.slots = slots;
    table.count = table.capacity = count;
}

template <class Policy>
void FreeSlots(CSlotArray& table)
{
    Policy::FreeNoThrow(table.slots);
    table = CSlotArray();
}

template <class Policy>
void AppendGroup(CSlotArray& table)
{
    if (table.count + 4 > table.capacity) {
        const int32_t capacity = ArrayInternal::GrownCapacity(table.capacity, table.count + 4, 8);
        auto* slots = static_cast<uint64_t*>(Policy::Alloc(static_cast<uint64_t>(capacity) * sizeof(uint64_t)));
        std::memcpy(slots, table.slots, static_cast<size_t>(table.count) * sizeof(uint64_t));
        Policy::Free(table.slots);
        table.slots = slots;
        table.capacity = capacity;
    }
    std::memset(table.slots + table.count, 0, 4 * sizeof(uint64_t));
    table.count += 4;
}

inline int32_t ChainStart(const CSlotArray& table, int32_t buckets, uint32_t hash)
{
    const int32_t start = static_cast<int32_t>(hash % static_cast<uint32_t>(buckets));
    const uint64_t slot = table.slots[start];
    return IsLink(slot) ? LinkTarget(slot) : start;
}

// The slot visited after s, or -1 where the chain ends: after a primary bucket, or after
// the last slot of a group.
inline int32_t NextInChain(const CSlotArray& table, int32_t buckets, int32_t s)
{
    if (s < buckets || (s - buckets + 1) % 4 == 0)
        return -1;
    const uint64_t next = table.slots[s + 1];
    return IsLink(next) ? LinkTarget(next) : s + 1;
}

// A free slot on the chain of hash, appending a group when the chain is full and the
// overflow area allows; -1 when there is none. A link met where a node or a free slot
// belongs is reported at linkSite and ends the walk.
template <class Policy>
int32_t FindFreeSlot(CSlotArray& table, int32_t buckets, uint32_t hash, const CCheckSite& linkSite)
{
    int32_t last = -1;
    for (int32_t s = ChainStart(table, buckets, hash); s >= 0; s = NextInChain(table, buckets, s)) {
        const uint64_t slot = table.slots[s];
        if (IsMisplacedLink(slot, linkSite))
            return -1;
        if (slot == 0)
            return s;
        last = s;
    }
    if (static_cast<int64_t>(table.count) + 4 > buckets + OverflowLimit(buckets) || table.count > INT32_MAX - 4)
        return -1;
    const int32_t group = table.count;
    AppendGroup<Policy>(table);
    // The chain's last node moves into the group and leaves a link behind it.
    table.slots[group] = table.slots[last];
    table.slots[last] = MakeLink(group);
    return group + 1;
}

// The slot index and its nodes. Node is a struct whose first member is Key; LinkCheck names
// the source line that reports a corrupt chain for the container built on it.
template <class Node, class KeyTraits, class Policy, class LinkCheck>
class CNodeIndex {
public:
    static constexpr uint32_t NodeAlignment = alignof(Node) > 8 ? alignof(Node) : 8;
    static constexpr uint32_t NodeSize = (sizeof(Node) + NodeAlignment - 1) / NodeAlignment * NodeAlignment;
    static_assert(NodeAlignment <= 16, "node pages are 16-byte aligned");

    // 16 nodes, doubled until sizeHint nodes fit, at most 1 MiB.
    static uint32_t FirstPageSize(int32_t sizeHint)
    {
        constexpr uint64_t maximum = CNodePageAllocator<Policy>::MaximumPageSize;
        uint64_t size = 16ull * NodeSize;
        while (sizeHint > 0 && size < static_cast<uint64_t>(sizeHint) * NodeSize && size < maximum)
            size = size * 2 < maximum ? size * 2 : maximum;
        return static_cast<uint32_t>(size);
    }

    CNodeIndex() : initialBucketCount(HashTableSizes[0]), nodes(FirstPageSize(0)) {}
    explicit CNodeIndex(int32_t sizeHint)
        : initialBucketCount(ChooseBucketCount(sizeHint)), nodes(FirstPageSize(sizeHint))
    {
    }
    CNodeIndex(const CNodeIndex&) = delete;
    CNodeIndex& operator=(const CNodeIndex&) = delete;
    ~CNodeIndex()
    {
        DestroyNodes();
        FreeSlots<Policy>(table);
    }

    int32_t GetCount() const { return elementCount; }
    int32_t GetBucketCount() const { return bucketCount; }
    int32_t GetSlotCount() const { return table.count; }
    uint32_t GetNextPageSize() const { return nodes.GetNextPageSize(); }

    // The node stored in slot s, null for a free slot or a link.
    Node* NodeAt(int32_t s) const
    {
        const uint64_t slot = table.slots[s];
        return slot == 0 || IsLink(slot) ? nullptr : reinterpret_cast<Node*>(slot);
    }

    template <class Key>
    int32_t FindSlot(const Key& key) const
    {
        return FindSlot(key, KeyTraits::Hash(key));
    }

    template <class Key>
    int32_t FindSlot(const Key& key, uint32_t hash) const
    {
        if (bucketCount < 1) {
            Check(elementCount == 0, CheckSite::MapElementsWithoutBuckets);
            return -1;
        }
        for (int32_t s = ChainStart(table, bucketCount, hash); s >= 0; s = NextInChain(table, bucketCount, s)) {
            const uint64_t slot = table.slots[s];
            if (IsMisplacedLink(slot, LinkCheck::Site))
                return -1;
            if (slot != 0 && KeyTraits::Equal(reinterpret_cast<const Node*>(slot)->Key, key))
                return s;
        }
        return -1;
    }

    template <class Key>
    Node* Find(const Key& key, uint32_t hash) const
    {
        const int32_t s = FindSlot(key, hash);
        return s < 0 ? nullptr : reinterpret_cast<Node*>(table.slots[s]);
    }

    template <class Key>
    Node* Find(const Key& key) const
    {
        return Find(key, KeyTraits::Hash(key));
    }

    // Adds a node built from parts without looking for the key.
    template <class... Parts>
    Node* Insert(uint32_t hash, Parts&&... parts)
    {
        if (bucketCount == 0) {
            CreateSlots<Policy>(table, initialBucketCount);
            bucketCount = initialBucketCount;
        }
        int32_t s = FindFreeSlot<Policy>(table, bucketCount, hash, LinkCheck::Site);
        if (s < 0 && elementCount + 1 < bucketCount / 4) {
            Rehash(bucketCount); // compacts the overflow groups
            s = FindFreeSlot<Policy>(table, bucketCount, hash, LinkCheck::Site);
        }
        while (s < 0) {
            Rehash(static_cast<int64_t>(bucketCount) + 1);
            s = FindFreeSlot<Policy>(table, bucketCount, hash, LinkCheck::Site);
        }
        void* memory = nodes.Take(NodeSize);
        Node* node;
        try {
            node = new (memory) Node{std::forward<Parts>(parts)...};
        } catch (...) {
            nodes.GiveBack(memory);
            throw;
        }
        table.slots[s] = reinterpret_cast<uint64_t>(node);
        ++elementCount;
        return node;
    }

    template <class Key>
    int32_t Delete(const Key& key)
    {
        if (bucketCount < 1) {
            Check(elementCount == 0, CheckSite::MapElementsWithoutBuckets);
            return 0;
        }
        int32_t removed = 0;
        for (int32_t s = ChainStart(table, bucketCount, KeyTraits::Hash(key)); s >= 0;
             s = NextInChain(table, bucketCount, s)) {
            const uint64_t slot = table.slots[s];
            if (IsMisplacedLink(slot, LinkCheck::Site))
                break;
            auto* node = reinterpret_cast<Node*>(slot);
            if (slot != 0 && KeyTraits::Equal(node->Key, key)) {
                node->~Node();
                nodes.GiveBack(node);
                table.slots[s] = 0;
                --elementCount;
                ++removed;
            }
        }
        return removed;
    }

    // Rebuilds the slots for at least atLeast buckets, re-inserting the nodes in slot order;
    // a bucket count at which some node finds no slot gives way to the next one. The old
    // slots stay in place until the new ones are complete.
    void Rehash(int64_t atLeast)
    {
        int32_t buckets = ChooseBucketCount(atLeast);
        for (;;) {
            CSlotArray fresh;
            CreateSlots<Policy>(fresh, buckets);
            bool placed = true;
            try {
                for (int32_t i = 0; i < table.count && placed; ++i) {
                    const uint64_t slot = table.slots[i];
                    if (slot == 0 || IsLink(slot))
                        continue;
                    const uint32_t hash = KeyTraits::Hash(reinterpret_cast<const Node*>(slot)->Key);
                    const int32_t s = FindFreeSlot<Policy>(fresh, buckets, hash, LinkCheck::Site);
                    if (s < 0)
                        placed = false;
                    else
                        fresh.slots[s] = slot;
                }
            } catch (...) {
                FreeSlots<Policy>(fresh);
                throw;
            }
            if (placed) {
                FreeSlots<Policy>(table);
                table = fresh;
                bucketCount = buckets;
                return;
            }
            FreeSlots<Policy>(fresh);
            buckets = ChooseBucketCount(static_cast<int64_t>(buckets) + 1);
        }
    }

    // Back to the state before the first insertion; the initial bucket count stays.
    void DeleteAll()
    {
        DestroyNodes();
        FreeSlots<Policy>(table);
        elementCount = 0;
        bucketCount = 0;
        nodes.Reset(16 * NodeSize);
    }

private:
    void DestroyNodes()
    {
        if constexpr (!std::is_trivially_destructible_v<Node>) {
            for (int32_t i = 0; i < table.count; ++i) {
                if (Node* node = NodeAt(i))
                    node->~Node();
            }
        }
    }

    CSlotArray table;
    int32_t elementCount = 0;
    int32_t bucketCount = 0;
    int32_t initialBucketCount;
    CNodePageAllocator<Policy> nodes;
};

// Walks the nodes of an index in slot order.
template <class Index, class Node, class Item, Item& (*Project)(Node&)>
class CSlotIterator {
public:
    CSlotIterator(const Index& index, int32_t slot) : index(&index), slot(slot) { SkipEmpty(); }
    Item& operator*() const { return Project(*index->NodeAt(slot)); }
    Item* operator->() const { return &**this; }
    CSlotIterator& operator++()
    {
        ++slot;
        SkipEmpty();
        return *this;
    }
    bool operator==(const CSlotIterator& other) const { return slot == other.slot; }
    bool operator!=(const CSlotIterator& other) const { return slot != other.slot; }
    int32_t GetSlot() const { return slot; } // where the node sits in the slot array

private:
    void SkipEmpty()
    {
        while (slot < index->GetSlotCount() && index->NodeAt(slot) == nullptr)
            ++slot;
    }

    const Index* index;
    int32_t slot;
};

struct MapLinkCheck {
    static constexpr const CCheckSite& Site = CheckSite::MapLinkWhereNodeBelongs;
};

} // namespace HashInternal

template <class K, class V, class KeyTraits = DefaultKeyTraits<K>, class Policy = CurrentManager>
class CMap {
public:
    struct Node {
        K Key;
        V Value;
    };

private:
    using Index = HashInternal::CNodeIndex<Node, KeyTraits, Policy, HashInternal::MapLinkCheck>;
    static const Node& Identity(const Node& node) { return node; }

public:
    using Iterator = HashInternal::CSlotIterator<Index, const Node, const Node, &CMap::Identity>;

    // Starts with 31 buckets and a first node page of 16 nodes.
    CMap() = default;
    // For about sizeHint pairs: the smallest table size not below it, and a first node page
    // large enough for them (up to 1 MiB).
    explicit CMap(int32_t sizeHint) : index(sizeHint) {}

    int32_t GetCount() const { return index.GetCount(); }
    bool IsEmpty() const { return index.GetCount() == 0; }

    void Add(const K& key, const V& value) { index.Insert(KeyTraits::Hash(key), key, value); }

    void Set(const K& key, const V& value)
    {
        const uint32_t hash = KeyTraits::Hash(key);
        if (Node* node = index.Find(key, hash))
            node->Value = value;
        else
            index.Insert(hash, key, value);
    }

    V* Lookup(const K& key)
    {
        Node* node = index.Find(key);
        return node ? &node->Value : nullptr;
    }
    const V* Lookup(const K& key) const
    {
        const Node* node = index.Find(key);
        return node ? &node->Value : nullptr;
    }
    bool Has(const K& key) const { return index.Find(key) != nullptr; }

    V& GetOrAdd(const K& key)
    {
        const uint32_t hash = KeyTraits::Hash(key);
        if (Node* node = index.Find(key, hash))
            return node->Value;
        return index.Insert(hash, key, V())->Value;
    }

    // Removes every pair with this key; returns how many went.
    int32_t Delete(const K& key) { return index.Delete(key); }

    void Rehash(int32_t bucketCount) { index.Rehash(bucketCount); }
    void DeleteAll() { index.DeleteAll(); }

    template <class F>
    void ForEach(F f) const
    {
        for (const Node& node : *this)
            f(node.Key, node.Value);
    }

    Iterator begin() const { return Iterator(index, 0); }
    Iterator end() const { return Iterator(index, index.GetSlotCount()); }

    // Shape of the slot index, for diagnostics and tests.
    int32_t GetBucketCount() const { return index.GetBucketCount(); }
    int32_t GetSlotCount() const { return index.GetSlotCount(); }
    int32_t GetSlotOf(const K& key) const { return index.FindSlot(key); }
    uint32_t GetNextPageSize() const { return index.GetNextPageSize(); }

private:
    Index index;
};

} // namespace Zelkor
