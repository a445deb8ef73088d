#include "daemon/sleeper.h"

#include <chrono>

namespace gw {

bool TSystemSleeper::Sleep(std::int64_t ms)
{
    std::unique_lock lock(mutex_);
    // wait_for runs on the steady clock: a wall clock set back cannot stretch it.
    wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopped_; });
    return !stopped_;
}

void TSystemSleeper::Stop()
{
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
    }
    wake_.notify_all();
}

} // namespace gw
