#pragma once
// The address index of the tag list: (connection, common address, object
// address) -> first tag index. Every received information object looks its
// tag up here. The objects of one ASDU share connection and common address,
// so the receive path resolves that pair once (Block) and each object by its
// address alone. Stations number their objects in runs, often one run per
// kind of signal with a gap between (1..100, 1001..1100, ...), so a block is
// a paged table: the object address picks a page of 64 addresses in a
// directory over the pages in use. A page says which of its addresses have a
// tag (a bit each) and, as the tags of a run are added one after another,
// the first one's index: the others follow it. Only a page whose tags do
// not follow one another keeps a slot per address. So a lookup reads one
// directory entry of 16 bytes, and the directories of all tags stay in
// cache. A block whose addresses are spread too thin for pages (more bytes
// than the hash would take) falls back to a flat open-addressed hash
// (linear probing, at most half full), which holds the objects of such
// blocks only.
// Connections are numbered from 0 (the tag list's numbers); a key with a
// negative connection is never stored.

#include <cstdint>
#include <vector>

namespace gw {

class TTagIndex {
    static constexpr int PageBits = 6;
    static constexpr int PageSize = 1 << PageBits;
    static constexpr int PageMask = PageSize - 1;

    // PageSize object addresses of a block: bit i of present says whether
    // address i has a tag; its index is first + i, or slots[slotsAt + i] for
    // a page that keeps slots (slotsAt >= 0).
    struct TPage {
        std::uint64_t present = 0;
        int first = 0;
        int slotsAt = -1;

        int Find(int obj, const int* slots) const
        {
            const int i = obj & PageMask;
            if ((present >> i & 1) == 0)
                return -1;
            return slotsAt < 0 ? first + i : slots[slotsAt + i];
        }
    };

public:
    struct TKey {
        int conn, asdu, obj;
        bool operator==(const TKey&) const = default;
    };

    // The tags of one connection and common address; empty when there are none.
    class TBlock {
    public:
        int Find(int obj) const
        {
            if (pages_ == nullptr)
                return index_ == nullptr ? -1 : index_->FindSlot({conn_, asdu_, obj});
            const long at = static_cast<long>(obj >> PageBits) - firstPage_;
            return at < 0 || at >= pageCount_ ? -1 : pages_[at].Find(obj, slots_);
        }

    private:
        friend class TTagIndex;
        const TTagIndex* index_ = nullptr; // a block too thin for pages: its objects are in the hash
        const TPage* pages_ = nullptr;     // null: no pages
        const int* slots_ = nullptr;
        long pageCount_ = 0;
        int firstPage_ = 0;
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
    // The pages of one (connection, common address). Kept while its
    // directory and slots stay near its entry count.
    struct TPaged {
        int asdu = 0;
        int firstPage = 0;        // page number of pages[0]
        int count = 0;            // entries added
        bool sparse = false;      // given up: the objects are in the hash
        std::vector<TPage> pages; // by page number - firstPage
        std::vector<int> slots;   // PageSize for each page that keeps slots: the tag index, -1: none
        // False, and nothing stored, when the block is (or just became) too
        // thin for pages; the caller then keeps its objects in the hash.
        bool Add(int obj, int index);
        int Find(int obj) const;
    };

    static std::uint64_t Hash(const TKey& k);
    const TPaged* FindPaged(int conn, int asdu) const;
    TPaged& PagedOf(int conn, int asdu);
    void InsertSlot(const TKey& key, int index);
    int FindSlot(const TKey& key) const;
    void Grow();

    std::vector<TSlot> slots_;
    std::size_t used_ = 0;
    std::vector<std::vector<TPaged>> conns_; // by connection, sorted by common address
};

} // namespace gw
