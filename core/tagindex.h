#pragma once
// The address index of the tag list: (connection, common address, object
// address) -> first tag index. Every received information object looks its
// tag up here. The objects of one ASDU share connection and common address,
// so the receive path resolves that pair once (Block) and each object by its
// address alone: stations number their objects in runs, so a block is a dense
// table indexed by object address, a few hundred kilobytes for all tags that
// stay in cache. A block whose addresses are spread too thin for a table
// falls back to a flat open-addressed hash (linear probing, at most half
// full), which holds the objects of such blocks only.

#include <cstdint>
#include <unordered_map>
#include <vector>

namespace gw {

class TTagIndex {
public:
    struct TKey {
        int conn, asdu, obj;
        bool operator==(const TKey&) const = default;
    };

    // The tags of one connection and common address; empty when there are none.
    class TBlock {
    public:
        int Find(int obj) const;

    private:
        friend class TTagIndex;
        const TTagIndex* index_ = nullptr;
        const std::vector<int>* dense_ = nullptr; // null: use the hash
        int first_ = 0;
        int conn_ = 0, asdu_ = 0;
    };

    // Keeps an existing entry, so the lowest index added first wins.
    void Insert(const TKey& key, int index);
    // -1 when the key is not there.
    int Find(const TKey& key) const;
    TBlock Block(int conn, int asdu) const;
    void Clear();

private:
    struct TSlot {
        TKey key;
        int index = -1; // -1: empty
    };
    // The table of one (connection, common address): slot obj - first holds
    // the tag index or -1. Kept while its span stays near its entry count.
    struct TDense {
        int first = 0;
        int count = 0;
        bool sparse = false;
        std::vector<int> slots;
        // False, and nothing stored, when the block is (or just became) too
        // thin for a table; the caller then keeps its objects in the hash.
        bool Add(int obj, int index);
    };

    static std::uint64_t Hash(const TKey& k);
    static std::uint64_t BlockKey(int conn, int asdu);
    void InsertSlot(const TKey& key, int index);
    int FindSlot(const TKey& key) const;
    void Grow();

    std::vector<TSlot> slots_;
    std::size_t used_ = 0;
    std::unordered_map<std::uint64_t, TDense> blocks_;
};

} // namespace gw
