#include "core/tagindex.h"

#include <algorithm>

namespace gw {

namespace {

// A block stays a table while it has no more than this many slots per entry
// (plus a small allowance for the first few): 4 bytes a slot keeps it below
// the hash's 32 bytes an entry however the addresses are spread.
constexpr long DenseSlotsPerEntry = 4;
constexpr long DenseAllowance = 256;

} // namespace

int TTagIndex::TBlock::Find(int obj) const
{
    if (index_ == nullptr)
        return -1;
    if (dense_ == nullptr)
        return index_->FindSlot({conn_, asdu_, obj});
    const long at = static_cast<long>(obj) - first_;
    if (at < 0 || at >= static_cast<long>(dense_->size()))
        return -1;
    return (*dense_)[static_cast<std::size_t>(at)];
}

bool TTagIndex::TDense::Add(int obj, int index)
{
    if (sparse)
        return false;
    ++count;
    if (slots.empty()) {
        first = obj;
        slots.assign(1, index);
        return true;
    }
    const long last = first + static_cast<long>(slots.size()) - 1;
    const long span = std::max<long>(last, obj) - std::min<long>(first, obj) + 1;
    const long limit = DenseSlotsPerEntry * count + DenseAllowance;
    if (span > limit) {
        sparse = true;
        return false;
    }
    if (obj < first) {
        // Spare room below obj as well (up to the table's own size), so
        // addresses added in falling order do not move it on every entry.
        const long spare = std::clamp<long>(limit - span, 0, static_cast<long>(slots.size()));
        const long newFirst = std::max<long>(obj - spare, std::min(obj, 0));
        slots.insert(slots.begin(), static_cast<std::size_t>(first - newFirst), -1);
        first = static_cast<int>(newFirst);
    } else if (obj > last) {
        slots.resize(static_cast<std::size_t>(obj - first + 1), -1);
    }
    int& slot = slots[static_cast<std::size_t>(obj - first)];
    if (slot < 0)
        slot = index;
    return true;
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

std::uint64_t TTagIndex::BlockKey(int conn, int asdu)
{
    return std::uint64_t(std::uint32_t(conn)) << 32 | std::uint32_t(asdu);
}

void TTagIndex::Insert(const TKey& key, int index)
{
    if (Find(key) >= 0)
        return;
    TDense& block = blocks_[BlockKey(key.conn, key.asdu)];
    const bool wasSparse = block.sparse;
    if (block.Add(key.obj, index))
        return;
    // The hash holds only the objects of blocks too thin for a table: the
    // ones the table held move there when it is given up.
    if (!wasSparse) {
        for (std::size_t i = 0; i < block.slots.size(); ++i)
            if (block.slots[i] >= 0)
                InsertSlot({key.conn, key.asdu, block.first + static_cast<int>(i)}, block.slots[i]);
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
    const auto block = blocks_.find(BlockKey(key.conn, key.asdu));
    if (block == blocks_.end())
        return -1;
    if (!block->second.sparse) {
        const TDense& dense = block->second;
        const long at = static_cast<long>(key.obj) - dense.first;
        return at < 0 || at >= static_cast<long>(dense.slots.size()) ? -1 : dense.slots[static_cast<std::size_t>(at)];
    }
    return FindSlot(key);
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
    const auto found = blocks_.find(BlockKey(conn, asdu));
    if (found == blocks_.end())
        return block;
    block.index_ = this;
    block.conn_ = conn;
    block.asdu_ = asdu;
    if (!found->second.sparse) {
        block.dense_ = &found->second.slots;
        block.first_ = found->second.first;
    }
    return block;
}

void TTagIndex::Clear()
{
    slots_.clear();
    used_ = 0;
    blocks_.clear();
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
