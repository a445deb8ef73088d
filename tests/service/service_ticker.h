#pragma once
// The service tick on a thread of its own, as fieldgate's main loop runs it,
// for the tests whose stations are real processes on real sockets. The test
// thread meanwhile waits on the station's output and moves the fake clock,
// so no timer of the gateway fires unless the test moves it there.

#include "service/servicetick.h"
#include "service/tables.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace gw::test {

class ServiceTicker {
public:
    explicit ServiceTicker(TServiceContext& ctx) : ctx_(ctx) {}
    ~ServiceTicker() { Stop(); }
    ServiceTicker(const ServiceTicker&) = delete;
    ServiceTicker& operator=(const ServiceTicker&) = delete;

    void Start()
    {
        Stop();
        running_ = true;
        thread_ = std::thread([this] {
            while (running_) {
                ServiceTick(ctx_);
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
    }
    // Returns once the last tick has ended: the context is the test's again.
    void Stop()
    {
        running_ = false;
        if (thread_.joinable())
            thread_.join();
    }

private:
    TServiceContext& ctx_;
    std::atomic<bool> running_{false};
    std::thread thread_;
};

} // namespace gw::test
