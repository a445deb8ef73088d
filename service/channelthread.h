#pragma once
// The thread of one channel: started once, asked to stop through its wake
// (which cuts every wait short), and joined within a bound. The owner calls
// StopAndJoin in its destructor, before the members the thread reads go.

#include "service/channelwake.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace gw {

class TChannelThread {
public:
    TChannelThread() = default;
    ~TChannelThread() { StopAndJoin(); }
    TChannelThread(const TChannelThread&) = delete;
    TChannelThread& operator=(const TChannelThread&) = delete;

    void Start(std::function<void()> body);
    void RequestStop() { wake_.RequestStop(); }
    // Waits at most timeoutMs of real time; true once the thread has ended
    // (or never ran).
    bool Join(std::int64_t timeoutMs);
    void StopAndJoin();

    TChannelWake& Wake() { return wake_; }

private:
    TChannelWake wake_;
    std::mutex endLock_;
    std::condition_variable endCv_;
    bool ended_ = false;
    std::thread thread_;
};

} // namespace gw
