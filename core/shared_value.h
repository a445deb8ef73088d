#pragma once
// A flag, counter or stamp that one thread writes and others read: always
// read and written whole. Unlike std::atomic it copies (by value), so the
// rows that hold one stay plain copyable records.

#include <atomic>

namespace gw {

template <class T>
class TShared {
public:
    TShared(T value = T{}) : value_(value) {}
    TShared(const TShared& other) : value_(other.Get()) {}
    TShared& operator=(const TShared& other)
    {
        Set(other.Get());
        return *this;
    }
    TShared& operator=(T value)
    {
        Set(value);
        return *this;
    }

    T Get() const { return value_.load(); }
    void Set(T value) { value_.store(value); }
    operator T() const { return Get(); }

private:
    std::atomic<T> value_;
};

} // namespace gw
