// Variable and group ids to their index in the model. The gateway numbers
// its variables 1, 2, 3, ...: those ids sit in a plain table, 4 bytes each,
// which a push finds without hashing; any other id the caller may use goes
// to a hash map.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace tagserve {

class IdIndex {
public:
    // Ids below this go to the table (4 MiB at most).
    static constexpr int32_t kDenseIds = 1 << 20;

    void Clear()
    {
        dense_.clear();
        dense_.shrink_to_fit();
        sparse_.clear();
    }
    void Reserve(size_t count) { dense_.reserve(count + 1); }
    bool Contains(int32_t id) const { return Find(id) >= 0; }
    // Keeps the index already there.
    void Insert(int32_t id, uint32_t index)
    {
        if (id < 0 || id >= kDenseIds) {
            sparse_.emplace(id, index);
            return;
        }
        const auto slot = static_cast<size_t>(id);
        if (slot >= dense_.size())
            dense_.resize(slot + 1, kNone);
        if (dense_[slot] == kNone)
            dense_[slot] = index;
    }
    // -1 when unknown.
    int32_t Find(int32_t id) const
    {
        if (id >= 0 && id < kDenseIds) {
            const auto slot = static_cast<size_t>(id);
            return slot < dense_.size() && dense_[slot] != kNone ? static_cast<int32_t>(dense_[slot]) : -1;
        }
        auto it = sparse_.find(id);
        return it == sparse_.end() ? -1 : static_cast<int32_t>(it->second);
    }

private:
    static constexpr uint32_t kNone = UINT32_MAX;

    std::vector<uint32_t> dense_;
    std::unordered_map<int32_t, uint32_t> sparse_;
};

} // namespace tagserve
