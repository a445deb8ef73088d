#pragma once
// A peer on loopback for the transfer's client: it accepts every connection
// on a thread of its own and hands each to the test's handler, on that
// thread, until it goes.

#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/StreamSocket.h>

#include <atomic>
#include <functional>
#include <thread>

namespace gw::test {

class LoopbackPeer {
public:
    explicit LoopbackPeer(std::function<void(Poco::Net::StreamSocket)> connected)
        : connected_(std::move(connected)), thread_([this] { Serve(); })
    {
    }
    ~LoopbackPeer()
    {
        stop_ = true;
        thread_.join();
    }
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;
    int Port() const { return socket_.address().port(); }

private:
    void Serve()
    {
        while (!stop_)
            if (socket_.poll(Poco::Timespan(0, 20000), Poco::Net::Socket::SELECT_READ))
                connected_(socket_.acceptConnection());
    }

    std::function<void(Poco::Net::StreamSocket)> connected_;
    Poco::Net::ServerSocket socket_{Poco::Net::SocketAddress("127.0.0.1", 0)};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace gw::test
