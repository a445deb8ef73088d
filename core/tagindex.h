#pragma once
// The address index of the tag list: (connection, common address, object
// address) -> first tag index. Every received information object looks its
// tag up here, so it is a flat open-addressed table (linear probing, at most
// half full): one cache line per lookup in the usual case, no allocation.

#include <cstdint>
#include <vector>

namespace gw {

class TTagIndex {
public:
    struct TKey {
        int conn, asdu, obj;
        bool operator==(const TKey&) const = default;
    };

    // Keeps an existing entry, so the lowest index added first wins.
    void Insert(const TKey& key, int index);
    // -1 when the key is not there.
    int Find(const TKey& key) const;
    void Clear();

private:
    struct TSlot {
        TKey key;
        int index = -1; // -1: empty
    };

    static std::uint64_t Hash(const TKey& k);
    void Grow();

    std::vector<TSlot> slots_;
    std::size_t used_ = 0;
};

} // namespace gw
