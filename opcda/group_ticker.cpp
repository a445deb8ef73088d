#include "opcda/group_ticker.h"

#include "opcda/group.h"

#include <algorithm>

namespace opcda {

GroupTicker::~GroupTicker() { stop(); }

void GroupTicker::add(sOPCGroup* group)
{
    std::lock_guard<std::mutex> guard(listLock_);
    groups_.push_back(group);
}

void GroupTicker::remove(sOPCGroup* group)
{
    std::lock_guard<std::mutex> guard(listLock_);
    groups_.erase(std::remove(groups_.begin(), groups_.end(), group), groups_.end());
}

void GroupTicker::start(std::chrono::milliseconds period)
{
    std::lock_guard<std::mutex> guard(stateLock_);
    if (thread_.joinable())
        return;
    stopping_ = false;
    thread_ = std::thread([self = shared_from_this(), period] { self->loop(period); });
}

void GroupTicker::stop()
{
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (!thread_.joinable())
        return;
    if (thread_.get_id() == std::this_thread::get_id()) {
        // The last reference of the core went with a group released in a
        // tick: the loop, holding this ticker, ends right after this tick.
        thread_.detach();
        return;
    }
    thread_.join();
}

void GroupTicker::loop(std::chrono::milliseconds period)
{
    std::unique_lock<std::mutex> guard(stateLock_);
    while (!stopping_) {
        changed_.wait_for(guard, period, [this] { return stopping_; });
        if (stopping_)
            break;
        guard.unlock();
        runOnce();
        guard.lock();
    }
}

void GroupTicker::runOnce()
{
    std::lock_guard<std::mutex> tick(tickLock_);
    std::vector<sOPCGroup*> held;
    {
        std::lock_guard<std::mutex> guard(listLock_);
        held.reserve(groups_.size());
        for (sOPCGroup* g : groups_)
            if (g->TryAddRef())
                held.push_back(g);
    }
    for (sOPCGroup* g : held)
        g->Timer();
    for (sOPCGroup* g : held)
        g->Release();
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        ++ticks_;
    }
    changed_.notify_all();
}

bool GroupTicker::waitForTicks(std::uint64_t count, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> guard(stateLock_);
    return changed_.wait_for(guard, timeout, [&] { return ticks_.load() >= count; });
}

} // namespace opcda
