#include "service/channelthread.h"

#include <chrono>

namespace gw {

void TChannelThread::Start(std::function<void()> body)
{
    thread_ = std::thread([this, body = std::move(body)] {
        body();
        std::lock_guard<std::mutex> guard(endLock_);
        ended_ = true;
        endCv_.notify_all();
    });
}

bool TChannelThread::Join(std::int64_t timeoutMs)
{
    if (!thread_.joinable())
        return true;
    {
        std::unique_lock<std::mutex> lock(endLock_);
        if (!endCv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return ended_; }))
            return false;
    }
    thread_.join();
    return true;
}

void TChannelThread::StopAndJoin()
{
    RequestStop();
    if (thread_.joinable())
        thread_.join();
}

} // namespace gw
