#pragma once
// The socket side of one channel as the link objects see it: a one-frame
// mailbox the test empties by hand (or at once), and the connect and
// disconnect requests it records. Safe to use from several threads, as the
// real channel threads are.

#include "core/linkport.h"
#include "link_frames.h"

#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace gw::test {

class FakePort final : public TLinkPort {
public:
    bool HasThread() const override { return thread; }
    bool IsConnected() const override { return connected; }
    bool OfferFrame(std::span<const std::uint8_t> frame) override
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (mailbox)
            return false;
        mailbox = TFrameBytes(frame.begin(), frame.end());
        if (autoDrain)
            DrainLocked();
        return true;
    }
    bool WithdrawFrame() override
    {
        std::lock_guard<std::mutex> guard(mutex_);
        return std::exchange(mailbox, std::nullopt).has_value();
    }
    void RequestConnect(const std::string& h, int p) override
    {
        std::lock_guard<std::mutex> guard(mutex_);
        ++connectRequests;
        host = h;
        port = p;
    }
    void RequestDisconnect() override
    {
        std::lock_guard<std::mutex> guard(mutex_);
        ++disconnectRequests;
    }
    void CurrentAddress(std::string& h, int& p) const override
    {
        std::lock_guard<std::mutex> guard(mutex_);
        h = host;
        p = port;
    }

    // The channel thread writes what waits in the mailbox.
    void Drain()
    {
        std::lock_guard<std::mutex> guard(mutex_);
        DrainLocked();
    }
    // The frames written since the last call.
    std::vector<TFrameBytes> TakeSent()
    {
        std::lock_guard<std::mutex> guard(mutex_);
        return std::exchange(sent, {});
    }

    bool thread = true;
    bool connected = true;
    bool autoDrain = true;
    std::optional<TFrameBytes> mailbox;
    std::vector<TFrameBytes> sent;
    int connectRequests = 0;
    int disconnectRequests = 0;
    std::string host = "10.0.0.7";
    int port = 2404;

private:
    void DrainLocked()
    {
        if (mailbox)
            sent.push_back(*mailbox);
        mailbox.reset();
    }
    mutable std::mutex mutex_;
};

} // namespace gw::test
