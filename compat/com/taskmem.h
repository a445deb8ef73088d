#pragma once
// Task memory: the blocks an interface method hands to its caller, who frees
// them with CoTaskMemFree. Counted, so tests can prove that nothing leaks,
// and able to fail on demand, so the out-of-memory paths can be tested.

#include "compat/com/types.h"

#include <cstddef>
#include <limits>
#include <string_view>

namespace com {

void* CoTaskMemAlloc(std::size_t bytes);
void CoTaskMemFree(void* p);

// Zero-filled count elements of T; null and hr := E_OUTOFMEMORY when the size
// overflows or the allocation fails (hr is left alone on success).
template <class T>
T* taskAlloc(std::size_t count, HRESULT& hr)
{
    if (count > std::numeric_limits<std::size_t>::max() / sizeof(T)) {
        hr = E_OUTOFMEMORY;
        return nullptr;
    }
    void* p = CoTaskMemAlloc(count * sizeof(T));
    if (!p) {
        hr = E_OUTOFMEMORY;
        return nullptr;
    }
    return static_cast<T*>(p);
}

// A task-memory copy of s, terminated; null when the allocation fails.
LPWSTR taskStrDup(std::u16string_view s);

// Test hooks.
long taskMemOutstanding();
// The n-th allocation from now (1 = the next one) fails; 0 switches it off.
void taskMemFailAfter(long n);

} // namespace com
