#include "service/thread.h"

#include <chrono>

namespace gw {

void TThread::Start(std::function<void()> body, std::function<void()> requestStop)
{
    requestStop_ = std::move(requestStop);
    {
        std::lock_guard<std::mutex> guard(endLock_);
        ended_ = false;
    }
    thread_ = std::thread([this, body = std::move(body)] {
        body();
        std::lock_guard<std::mutex> guard(endLock_);
        ended_ = true;
        endCv_.notify_all();
    });
}

void TThread::RequestStop()
{
    if (thread_.joinable() && requestStop_)
        requestStop_();
}

bool TThread::Ended() const
{
    std::lock_guard<std::mutex> guard(endLock_);
    return ended_;
}

bool TThread::Join(std::int64_t timeoutMs)
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

void TThread::StopAndJoin()
{
    RequestStop();
    if (thread_.joinable())
        thread_.join();
}

} // namespace gw
