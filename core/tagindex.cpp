#include "core/tagindex.h"

#include <algorithm>

namespace gw {

namespace {

// A block keeps its pages while directory and slots together take no more
// than this many 4-byte words per entry (plus a small allowance for the
// first few): it stays within the hash's 32 bytes an entry however the
// addresses are spread. A directory entry takes four words.
constexpr long PagedWordsPerEntry = 8;
constexpr long PagedAllowance = 512;
constexpr long PageWords = 4;

} // namespace

bool TTagIndex::TPaged::Add(int obj, int index)
{
    if (sparse)
        return false;
    ++count;
    const int page = obj >> PageBits;
    const int bit = obj & PageMask;
    if (pages.empty())
        firstPage = page;
    const long first = std::min<long>(firstPage, page);
    const long last = std::max<long>(firstPage + static_cast<long>(pages.size()) - 1, page);
    const long span = std::max<long>(last - first + 1, 1);
    const long at = page - first;
    const long shift = firstPage - first; // entries the directory grows by at its front
    const TPage* old = page >= firstPage && page - firstPage < static_cast<long>(pages.size())
                           ? &pages[static_cast<std::size_t>(page - firstPage)]
                           : nullptr;
    // A tag that does not follow the page's first gives the page its slots.
    const bool toSlots = old != nullptr && old->present != 0 && old->slotsAt < 0 && old->first + bit != index;
    const long words = PageWords * span + static_cast<long>(slots.size()) + (toSlots ? PageSize : 0);
    if (words > PagedWordsPerEntry * count + PagedAllowance) {
        sparse = true;
        return false;
    }
    if (shift > 0)
        pages.insert(pages.begin(), static_cast<std::size_t>(shift), TPage{});
    if (static_cast<long>(pages.size()) < span)
        pages.resize(static_cast<std::size_t>(span));
    firstPage = static_cast<int>(first);
    TPage& p = pages[static_cast<std::size_t>(at)];
    if (p.present == 0) {
        p.first = index - bit;
    } else if (toSlots) {
        p.slotsAt = static_cast<int>(slots.size());
        slots.resize(slots.size() + PageSize, -1);
        for (int i = 0; i < PageSize; ++i)
            if (p.present >> i & 1)
                slots[static_cast<std::size_t>(p.slotsAt + i)] = p.first + i;
    }
    if ((p.present >> bit & 1) != 0)
        return true; // the first added keeps its place
    p.present |= std::uint64_t{1} << bit;
    if (p.slotsAt >= 0)
        slots[static_cast<std::size_t>(p.slotsAt + bit)] = index;
    return true;
}

int TTagIndex::TPaged::Find(int obj) const
{
    const long at = static_cast<long>(obj >> PageBits) - firstPage;
    if (at < 0 || at >= static_cast<long>(pages.size()))
        return -1;
    return pages[static_cast<std::size_t>(at)].Find(obj, slots.data());
}

std::uint64_t TTagIndex::Hash(const TKey& k)
{
    std::uint64_t x =
        std::uint64_t(std::uint32_t(k.obj)) << 32 ^ std::uint32_t(k.asdu) ^ std::uint64_t(std::uint32_t(k.conn)) << 20;
    x ^= x >> 33;
    x *= 0xFF51AFD7ED558CCDull;
    x ^= x >> 33;
    return x;
}

const TTagIndex::TPaged* TTagIndex::FindPaged(int conn, int asdu) const
{
    if (conn < 0 || conn >= static_cast<int>(conns_.size()))
        return nullptr;
    const auto& blocks = conns_[static_cast<std::size_t>(conn)];
    if (blocks.size() == 1) // a connection mostly carries one common address
        return blocks[0].asdu == asdu ? blocks.data() : nullptr;
    const auto it =
        std::lower_bound(blocks.begin(), blocks.end(), asdu, [](const TPaged& b, int a) { return b.asdu < a; });
    return it != blocks.end() && it->asdu == asdu ? &*it : nullptr;
}

TTagIndex::TPaged& TTagIndex::PagedOf(int conn, int asdu)
{
    if (conn >= static_cast<int>(conns_.size()))
        conns_.resize(static_cast<std::size_t>(conn) + 1);
    auto& blocks = conns_[static_cast<std::size_t>(conn)];
    auto it = std::lower_bound(blocks.begin(), blocks.end(), asdu, [](const TPaged& b, int a) { return b.asdu < a; });
    if (it == blocks.end() || it->asdu != asdu) {
        it = blocks.insert(it, TPaged{});
        it->asdu = asdu;
    }
    return *it;
}

void TTagIndex::Insert(const TKey& key, int index)
{
    if (key.conn < 0 || Find(key) >= 0)
        return;
    TPaged& block = PagedOf(key.conn, key.asdu);
    const bool wasSparse = block.sparse;
    if (block.Add(key.obj, index))
        return;
    // The hash holds only the objects of blocks too thin for pages: the
    // ones the pages held move there when they are given up.
    if (!wasSparse) {
        for (std::size_t p = 0; p < block.pages.size(); ++p) {
            const int firstObj = (block.firstPage + static_cast<int>(p)) * PageSize;
            for (int i = 0; i < PageSize; ++i) {
                const int at = block.pages[p].Find(firstObj + i, block.slots.data());
                if (at >= 0)
                    InsertSlot({key.conn, key.asdu, firstObj + i}, at);
            }
        }
        block.pages = {};
        block.slots = {};
    }
    InsertSlot(key, index);
}

void TTagIndex::InsertSlot(const TKey& key, int index)
{
    if ((used_ + 1) * 2 > slots_.size())
        Grow();
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = Hash(key) & mask;; i = (i + 1) & mask) {
        TSlot& slot = slots_[i];
        if (slot.index < 0) {
            slot = {key, index};
            ++used_;
            return;
        }
    }
}

int TTagIndex::Find(const TKey& key) const
{
    const TPaged* block = FindPaged(key.conn, key.asdu);
    if (block == nullptr)
        return -1;
    return block->sparse ? FindSlot(key) : block->Find(key.obj);
}

int TTagIndex::FindSlot(const TKey& key) const
{
    if (slots_.empty())
        return -1;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = Hash(key) & mask;; i = (i + 1) & mask) {
        const TSlot& slot = slots_[i];
        if (slot.index < 0)
            return -1;
        if (slot.key == key)
            return slot.index;
    }
}

TTagIndex::TBlock TTagIndex::Block(int conn, int asdu) const
{
    TBlock block;
    const TPaged* found = FindPaged(conn, asdu);
    if (found == nullptr)
        return block;
    block.conn_ = conn;
    block.asdu_ = asdu;
    if (found->sparse) {
        block.index_ = this;
    } else {
        block.pages_ = found->pages.data();
        block.slots_ = found->slots.data();
        block.pageCount_ = static_cast<long>(found->pages.size());
        block.firstPage_ = found->firstPage;
    }
    return block;
}

void TTagIndex::Clear()
{
    slots_.clear();
    used_ = 0;
    conns_.clear();
}

void TTagIndex::Grow()
{
    std::vector<TSlot> old;
    old.swap(slots_);
    slots_.resize(old.empty() ? 64 : old.size() * 2);
    used_ = 0;
    for (const TSlot& slot : old)
        if (slot.index >= 0)
            InsertSlot(slot.key, slot.index);
}

} // namespace gw
