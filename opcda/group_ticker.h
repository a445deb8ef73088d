#pragma once
// The one tick source of all groups of a core: every 50 ms it runs each
// registered group's tick in turn, one tick at a time across the process.
// It holds a reference on every group during the tick, so a client may
// release a group from inside a callback; the group then goes after the tick.
// Tests leave the thread off and call runOnce. Made shared: the thread holds
// it, so a core whose last reference goes inside a tick ends it safely.

#include <atomic>
#include <memory>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace opcda {

class sOPCGroup;

class GroupTicker : public std::enable_shared_from_this<GroupTicker> {
public:
    GroupTicker() = default;
    ~GroupTicker();
    GroupTicker(const GroupTicker&) = delete;
    GroupTicker& operator=(const GroupTicker&) = delete;

    void add(sOPCGroup* group);
    void remove(sOPCGroup* group);

    void start(std::chrono::milliseconds period = std::chrono::milliseconds(50));
    void stop();
    bool running() const { return thread_.joinable(); }

    // One tick of every group, on the calling thread.
    void runOnce();
    // Ticks completed so far; waits (bounded) until `count` have completed.
    std::uint64_t ticks() const { return ticks_.load(); }
    bool waitForTicks(std::uint64_t count, std::chrono::milliseconds timeout);

private:
    void loop(std::chrono::milliseconds period);

    std::mutex tickLock_; // one tick at a time, across every group of the process
    std::mutex listLock_;
    std::vector<sOPCGroup*> groups_;
    std::mutex stateLock_;
    std::condition_variable changed_;
    bool stopping_ = false;
    std::thread thread_;
    std::atomic<std::uint64_t> ticks_{0};
};

} // namespace opcda
