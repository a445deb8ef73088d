#pragma once
// A thread of the service that can always be ended: started with the step
// that asks it to stop, joined within a bound, and signalling when its body
// has returned, so an owner that cannot wait longer can give up on it and
// say so instead of hanging. No thread is ever detached: the destructor asks
// for the stop and joins, however long that takes.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace gw {

class TThread {
public:
    TThread() = default;
    ~TThread() { StopAndJoin(); }
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Runs body on a new thread; requestStop (may be empty) is what
    // RequestStop calls. Only when no thread is running.
    void Start(std::function<void()> body, std::function<void()> requestStop = {});
    void RequestStop();
    // True once the body has returned (or no thread was started).
    bool Ended() const;
    // Waits at most timeoutMs of real time for the body to return; joins it
    // then. True once no thread is left running.
    bool Join(std::int64_t timeoutMs);
    void StopAndJoin();
    // A thread was started and has not been joined yet.
    bool Running() const { return thread_.joinable(); }

private:
    mutable std::mutex endLock_;
    std::condition_variable endCv_;
    bool ended_ = true;
    std::function<void()> requestStop_;
    std::thread thread_;
};

} // namespace gw
