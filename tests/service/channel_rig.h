#pragma once
// Stations, link objects and a service tick for the channel tests: real link
// objects and wrappers, channels on loopback sockets, the tick running on its
// own thread (as the main loop does) under each channel's lock, and one fake
// clock that the channel threads and the link objects share.

#include "core/clients104.h"
#include "core/typeident.h"
#include "service/channelenv.h"
#include "service/servicelog.h"
#include "service/tables.h"
#include "support/fake_clock.h"
#include "testkit/free_port.h"
#include "testkit/temp_dir.h"

#include <gtest/gtest.h>

#include <Poco/Net/NetException.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/StreamSocket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace gw::test {

using namespace std::chrono_literals;

// Polls pred in real time until it holds or the limit passes; the default
// limit only a failing gateway reaches, however slow the machine.
template <class Pred>
bool Eventually(Pred pred, std::chrono::milliseconds limit = 60s)
{
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// The station's end of a connection: reads what the gateway sent up to the
// end of the stream; true when the gateway closed (or reset) it in time.
inline bool ClosedByPeer(Poco::Net::StreamSocket& station)
{
    station.setReceiveTimeout(Poco::Timespan(5, 0));
    char buf[256];
    try {
        while (station.receiveBytes(buf, sizeof buf) > 0) {
        }
        return true;
    } catch (const Poco::Net::ConnectionResetException&) {
        return true;
    } catch (const Poco::Exception&) {
        return false;
    }
}

// Connections that fill the accept queue of a listener with a backlog of 0:
// once one of them is established, a further connect hangs.
inline std::vector<Poco::Net::StreamSocket> FillBacklog(const Poco::Net::ServerSocket& full)
{
    std::vector<Poco::Net::StreamSocket> fillers(8);
    for (Poco::Net::StreamSocket& s : fillers)
        s.connectNB(full.address());
    const auto established = [](Poco::Net::StreamSocket& s) {
        return s.poll(Poco::Timespan(0), Poco::Net::Socket::SELECT_WRITE);
    };
    Eventually([&] { return std::any_of(fillers.begin(), fillers.end(), established); });
    return fillers;
}

// A stop ends a channel's thread within the bound, whatever it waits on.
template <class Channel>
bool StopsWithin(Channel& channel, std::chrono::milliseconds bound)
{
    channel.RequestStop();
    return channel.Join(bound.count());
}

// The channel threads' view of the fake clock. The hook: a test that moved
// the clock waits until every channel thread has made a whole pass at the
// new time, before it asserts that nothing happened. And its wall time can
// be made to fail, as anything a thread calls in the middle of a step may.
class ChannelClock final : public TClock {
public:
    explicit ChannelClock(const FakeClock& clock) : clock_(clock) {}

    std::int64_t MonotonicMs() const override { return clock_.MonotonicMs(); }
    TDateTime Now() const override
    {
        if (failWall)
            throw std::runtime_error("wall clock failed");
        return clock_.Now();
    }

    void Attach(TClockWaiter& waiter) const override
    {
        std::lock_guard<std::mutex> guard(lock_);
        ++entered_[&waiter];
        passes_.emplace(&waiter, 0);
        clock_.Attach(waiter);
    }
    void Detach(TClockWaiter& waiter) const override
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (--entered_[&waiter] <= 0) {
            entered_.erase(&waiter);
            passes_.erase(&waiter);
        }
        clock_.Detach(waiter);
        passCv_.notify_all();
    }
    // A thread asks right before each of its waits: while a test awaits a
    // pass, it counts the waits and does not let the thread sleep.
    int SleepMs(const TClockWaiter& waiter, std::int64_t untilMs) const override
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!awaiting_) {
            lastDeadline_ = untilMs;
            return clock_.SleepMs(waiter, untilMs);
        }
        if (const auto it = passes_.find(&waiter); it != passes_.end())
            ++it->second;
        passCv_.notify_all();
        return 0;
    }

    // Every thread that waits on this clock is woken and counted until it
    // has begun two waits: the first may end a pass begun before the test
    // moved the clock, the second ends a whole pass made after it.
    bool AwaitPass()
    {
        std::unique_lock<std::mutex> lock(lock_);
        awaiting_ = true;
        for (auto& [waiter, passes] : passes_) {
            passes = 0;
            waiter->ClockMoved();
        }
        const bool done = passCv_.wait_for(lock, 10s, [&] {
            return std::all_of(passes_.begin(), passes_.end(), [](const auto& p) { return p.second >= 2; });
        });
        awaiting_ = false;
        return done;
    }

    // The deadline of the last wait a thread went to sleep in.
    std::int64_t LastDeadline() const
    {
        std::lock_guard<std::mutex> guard(lock_);
        return lastDeadline_;
    }

    std::atomic<bool> failWall{false};

private:
    const FakeClock& clock_;
    mutable std::int64_t lastDeadline_ = 0;
    mutable std::mutex lock_;
    mutable std::condition_variable passCv_;
    mutable std::map<TClockWaiter*, int, std::less<>> passes_;
    mutable std::map<TClockWaiter*, int> entered_;
    bool awaiting_ = false;
};

class ChannelRig : public ::testing::Test {
protected:
    ChannelRig()
    {
        ctx.Switches.Save_Obmen_v_File = true;
        ctx.Switches.PollingOn = true;
        ctx.Stations.KpTable.resize(4);
        ctx.Stations.KpCount = 3;
        for (int i = 1; i <= 3; ++i)
            SetPrmnDefault(Prm(i), PrmnKind104, "127.0.0.1", 0);
    }
    // The tick stops first: a link object must not reach a channel that is gone.
    ~ChannelRig() override
    {
        StopTick();
        channels.clear();
    }

    // Keeps a channel until the tick has stopped.
    template <class T>
    T& Keep(std::shared_ptr<T> channel)
    {
        channels.push_back(channel);
        return *channel;
    }

    TChannelEnv Env() { return {&ctx, &channelClock, &log}; }
    T_KP& Kp(int i) { return ctx.Stations.KpTable.at(static_cast<std::size_t>(i)); }
    TPrmn& Prm(int i) { return ctx.Channels.Prmn104.at(static_cast<std::size_t>(i - 1)); }

    // The link object of station i (added in station order) on its channel.
    void AddLink(int i, TLinkPort& port, bool passive = false, bool sendStartDT = false)
    {
        ASSERT_EQ(table.Count(), i - 1);
        Prm(i).prWork1 = 1;
        auto cl = table.AddClient(TLinkSocket{&port, i, passive, sendStartDT}, ctx.Channels.Prmn104, cctx);
        ASSERT_TRUE(cl);
        frms.push_back(std::make_shared<TClient104Frm>(cl, true, TChannelModel{}));
        ctx.Channels.SetLink(i, frms.back());
    }
    std::shared_ptr<TClient104Frm> Frm(int i) { return frms.at(static_cast<std::size_t>(i - 1)); }
    std::shared_ptr<T104Client> Client(int i) { return Frm(i)->pcl(); }

    // The service tick every 2 ms of real time: connect requests and the
    // service pass of every link object, each under its channel lock.
    void StartTick()
    {
        ticking = true;
        ticker = std::thread([this] {
            while (ticking) {
                for (int c = 0; c < static_cast<int>(frms.size()); ++c)
                    ctx.Channels.WithLink(c + 1, [c](TClient104Frm& frm) {
                        if (frm.pcl()->Work())
                            frm.pcl()->Connecting(false, c);
                        frm.DoService(false, c);
                    });
                {
                    std::lock_guard<std::mutex> guard(tickLock);
                    ++ticks;
                }
                tickCv.notify_all();
                std::this_thread::sleep_for(2ms);
            }
        });
    }
    // Waits until the tick has made a whole round over every link object
    // after this call: what the channel threads handed over is handled.
    bool AwaitTick()
    {
        std::unique_lock<std::mutex> lock(tickLock);
        const std::uint64_t from = ticks;
        return tickCv.wait_for(lock, 10s, [&] { return ticks >= from + 2; });
    }
    void StopTick()
    {
        ticking = false;
        if (ticker.joinable())
            ticker.join();
    }

    // Moves the fake clock in steps until pred holds (a bounded real time).
    template <class Pred>
    bool AdvanceUntil(Pred pred, std::int64_t stepMs = 100)
    {
        return Eventually([&] {
            if (pred())
                return true;
            clock.Advance(stepMs);
            return false;
        });
    }

    // Lines of a log file of the service directory that contain part (UTF-8).
    std::vector<std::string> LinesWith(const std::string& file, const std::string& part)
    {
        std::ifstream in(dir.File(file));
        std::vector<std::string> found;
        const std::string needle = ToCp1251(part);
        for (std::string line; std::getline(in, line);)
            if (line.find(needle) != std::string::npos)
                found.push_back(line);
        return found;
    }
    std::size_t Count(const std::string& file, const std::string& part) { return LinesWith(file, part).size(); }

    bool RowConnected(int i) { return Kp(i).Connected; }
    // The link object of station i has started data transfer and taken vr I-frames.
    bool LinkStarted(int i, int vr)
    {
        return Eventually([&] {
            bool started = false;
            ctx.Channels.WithLink(
                i, [&](TClient104Frm& link) { started = link.pcl()->StartDT() && link.pcl()->vr() == vr; });
            return started;
        });
    }
    std::string RowIpTek(int i)
    {
        return ctx.Channels.WithChannel(i, [&](const TClient104Frm*) { return Kp(i).IP_tek; });
    }

    FakeClock clock;
    ChannelClock channelClock{clock};
    TempDir dir;
    TServiceContext ctx;
    TServiceLog log{dir.path()};
    TTypeIdentList types;
    TClientContext cctx{TLinkEnv{&clock, nullptr, nullptr, false}, &types, nullptr, true};
    TClients104 table;
    std::vector<std::shared_ptr<TClient104Frm>> frms;
    std::atomic<bool> ticking{false};
    std::mutex tickLock;
    std::condition_variable tickCv;
    std::uint64_t ticks = 0;
    std::thread ticker;
    std::vector<std::shared_ptr<void>> channels;
};

} // namespace gw::test
