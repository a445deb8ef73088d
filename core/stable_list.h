#pragma once
// A list whose elements stay where they are until Clear, as std::deque's do,
// but kept in chunks of many elements: std::deque puts a few hundred bytes
// in each block, which leaves up to a third of every block of large records
// empty (a tag of 152 bytes takes 176), and there is one record and one tag
// per configured signal.

#include <cstddef>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace gw {

template <class T, std::size_t ChunkSize = 256>
class TStableList {
public:
    TStableList() = default;
    ~TStableList() { clear(); }
    TStableList(const TStableList&) = delete;
    TStableList& operator=(const TStableList&) = delete;

    std::size_t size() const { return size_; }
    T& operator[](std::size_t i) { return *Slot(i); }
    const T& operator[](std::size_t i) const { return *Slot(i); }

    template <class... Args>
    T& emplace_back(Args&&... args)
    {
        if (size_ == chunks_.size() * ChunkSize)
            chunks_.push_back(std::make_unique<TChunk>());
        T* slot = ::new (static_cast<void*>(Slot(size_))) T(std::forward<Args>(args)...);
        ++size_;
        return *slot;
    }

    void clear()
    {
        while (size_ > 0)
            Slot(--size_)->~T();
        chunks_.clear();
    }

private:
    struct TChunk {
        alignas(T) unsigned char bytes[sizeof(T) * ChunkSize];
    };

    T* Slot(std::size_t i) const
    {
        return std::launder(reinterpret_cast<T*>(chunks_[i / ChunkSize]->bytes) + i % ChunkSize);
    }

    std::vector<std::unique_ptr<TChunk>> chunks_;
    std::size_t size_ = 0;
};

} // namespace gw
