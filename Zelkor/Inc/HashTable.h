// CHashTable: a set of keys on the slot index of CMap (Map.h); the same bucket counts,
// overflow groups, node pages and slot-order enumeration, with nodes that hold the key alone.
#pragma once

#include "Map.h"

namespace Zelkor {

namespace HashInternal {

struct HashTableLinkCheck {
    static constexpr const CCheckSite& Site = CheckSite::HashTableLinkWhereNodeBelongs;
};

} // namespace HashInternal

template <class K, class KeyTraits = DefaultKeyTraits<K>, class Policy = CurrentManager>
class CHashTable {
    struct Node {
        K Key;
    };
    using Index = HashInternal::CNodeIndex<Node, KeyTraits, Policy, HashInternal::HashTableLinkCheck>;
    static const K& KeyOf(const Node& node) { return node.Key; }

public:
    using Iterator = HashInternal::CSlotIterator<Index, const Node, const K, &CHashTable::KeyOf>;

    CHashTable() = default;
    explicit CHashTable(int32_t sizeHint) : index(sizeHint) {}

    int32_t GetCount() const { return index.GetCount(); }
    bool IsEmpty() const { return index.GetCount() == 0; }

    void Add(const K& key) { index.Insert(KeyTraits::Hash(key), key); }

    // Adds the key unless an equal one is present.
    void Set(const K& key)
    {
        const uint32_t hash = KeyTraits::Hash(key);
        if (!index.Find(key, hash))
            index.Insert(hash, key);
    }

    const K* Lookup(const K& key) const
    {
        const Node* node = index.Find(key);
        return node ? &node->Key : nullptr;
    }
    bool Has(const K& key) const { return index.Find(key) != nullptr; }

    const K& GetOrAdd(const K& key)
    {
        const uint32_t hash = KeyTraits::Hash(key);
        if (const Node* node = index.Find(key, hash))
            return node->Key;
        return index.Insert(hash, key)->Key;
    }

    int32_t Delete(const K& key) { return index.Delete(key); }
    void Rehash(int32_t bucketCount) { index.Rehash(bucketCount); }
    void DeleteAll() { index.DeleteAll(); }

    template <class F>
    void ForEach(F f) const
    {
        for (const K& key : *this)
            f(key);
    }

    Iterator begin() const { return Iterator(index, 0); }
    Iterator end() const { return Iterator(index, index.GetSlotCount()); }

    int32_t GetBucketCount() const { return index.GetBucketCount(); }
    int32_t GetSlotCount() const { return index.GetSlotCount(); }
    int32_t GetSlotOf(const K& key) const { return index.FindSlot(key); }

private:
    Index index;
};

} // namespace Zelkor
