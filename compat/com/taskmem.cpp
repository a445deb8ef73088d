#include "compat/com/taskmem.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace com {

namespace {

std::atomic<long> outstanding{0};
std::atomic<long> failCountdown{0};

bool shouldFail()
{
    long n = failCountdown.load();
    while (n > 0) {
        if (failCountdown.compare_exchange_weak(n, n - 1))
            return n == 1;
    }
    return false;
}

} // namespace

void* CoTaskMemAlloc(std::size_t bytes)
{
    if (shouldFail())
        return nullptr;
    // An empty block is still a block the caller frees.
    void* p = std::calloc(bytes == 0 ? 1 : bytes, 1);
    if (p)
        ++outstanding;
    return p;
}

void CoTaskMemFree(void* p)
{
    if (!p)
        return;
    --outstanding;
    std::free(p);
}

LPWSTR taskStrDup(std::u16string_view s)
{
    HRESULT hr = S_OK;
    LPWSTR p = taskAlloc<WCHAR>(s.size() + 1, hr);
    if (p && !s.empty())
        std::memcpy(p, s.data(), s.size() * sizeof(WCHAR));
    return p;
}

long taskMemOutstanding() { return outstanding.load(); }

void taskMemFailAfter(long n) { failCountdown = n; }

} // namespace com
