#include "core/tagindex.h"

namespace gw {

std::uint64_t TTagIndex::Hash(const TKey& k)
{
    std::uint64_t x = std::uint64_t(std::uint32_t(k.obj)) << 32 ^ std::uint32_t(k.asdu) ^
                      std::uint64_t(std::uint32_t(k.conn)) << 20;
    x ^= x >> 33;
    x *= 0xFF51AFD7ED558CCDull;
    x ^= x >> 33;
    return x;
}

void TTagIndex::Insert(const TKey& key, int index)
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
        if (slot.key == key)
            return;
    }
}

int TTagIndex::Find(const TKey& key) const
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

void TTagIndex::Clear()
{
    slots_.clear();
    used_ = 0;
}

void TTagIndex::Grow()
{
    std::vector<TSlot> old;
    old.swap(slots_);
    slots_.resize(old.empty() ? 64 : old.size() * 2);
    used_ = 0;
    for (const TSlot& slot : old)
        if (slot.index >= 0)
            Insert(slot.key, slot.index);
}

} // namespace gw
