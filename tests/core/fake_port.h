#pragma once
// The socket side of one channel as the link objects see it: a one-frame
// mailbox the test empties by hand (or at once), and the connect and
// disconnect requests it records.

#include "core/linkport.h"

#include <optional>
#include <utility>
#include <string>
#include <vector>

namespace gw::test {

using TFrameBytes = std::vector<std::uint8_t>;

class FakePort final : public TLinkPort {
public:
    bool HasThread() const override { return thread; }
    bool IsConnected() const override { return connected; }
    bool OfferFrame(std::span<const std::uint8_t> frame) override
    {
        if (mailbox)
            return false;
        mailbox = TFrameBytes(frame.begin(), frame.end());
        if (autoDrain)
            Drain();
        return true;
    }
    void RequestConnect(const std::string& h, int p) override
    {
        ++connectRequests;
        host = h;
        port = p;
    }
    void RequestDisconnect() override { ++disconnectRequests; }
    void CurrentAddress(std::string& h, int& p) const override
    {
        h = host;
        p = port;
    }

    // The channel thread writes what waits in the mailbox.
    void Drain()
    {
        if (mailbox)
            sent.push_back(*mailbox);
        mailbox.reset();
    }
    // The frames written since the last call.
    std::vector<TFrameBytes> TakeSent() { return std::exchange(sent, {}); }

    bool thread = true;
    bool connected = true;
    bool autoDrain = true;
    std::optional<TFrameBytes> mailbox;
    std::vector<TFrameBytes> sent;
    int connectRequests = 0;
    int disconnectRequests = 0;
    std::string host = "10.0.0.7";
    int port = 2404;
};

} // namespace gw::test
