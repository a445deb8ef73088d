#pragma once
// A tiny controlling station for talking to kpsim in tests: it frames and
// numbers the test's own ASDU bytes, so nothing of kpsim's code is reused.

#include <Poco/Net/StreamSocket.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace gw::test {

using TBytes = std::vector<std::uint8_t>;

// The time-outs that only a failing station reaches, however slow the machine.
inline constexpr std::chrono::seconds Patience(60);

TBytes FromHex(const std::string& hex);
std::string ToHex(const TBytes& bytes);

// The ASDU of an I-frame, empty for S- and U-frames.
TBytes AsduOf(const TBytes& apdu);
bool IsIFrame(const TBytes& apdu);

class TestLink {
public:
    explicit TestLink(int port);
    explicit TestLink(Poco::Net::StreamSocket socket);

    void SendRaw(const TBytes& bytes);
    // An I-frame with the link's own N(S); its N(R) acknowledges every
    // I-frame read so far, or, without `acknowledge`, no more than before.
    void SendAsdu(const TBytes& asdu, bool acknowledge = true);
    void SendAck(); // an S-frame acknowledging all I-frames read so far

    // The next whole APDU; nothing after the time-out or when the peer closed.
    std::optional<TBytes> ReadFrame(std::chrono::milliseconds timeout = Patience);
    // The next `size` bytes as they come, framed or not.
    std::optional<TBytes> ReadBytes(std::size_t size, std::chrono::milliseconds timeout = Patience);
    // Reads I-frames until one whose ASDU starts with `prefix`; returns all of them.
    std::vector<TBytes> ReadUntilAsdu(const TBytes& prefix, std::chrono::milliseconds timeout = Patience);

    enum class End { Closed, Reset, Open };
    // How the peer ended the connection, or Open when it is still up at the time-out.
    End WaitForEnd(std::chrono::milliseconds timeout = Patience);

    std::uint16_t Received() const { return recvSeq_; }
    std::uint16_t Sent() const { return sendSeq_; }

private:
    bool Fill(std::size_t size, std::chrono::steady_clock::time_point deadline);

    Poco::Net::StreamSocket socket_;
    TBytes buffer_;
    std::uint16_t sendSeq_ = 0;
    std::uint16_t recvSeq_ = 0;
    std::uint16_t lastAck_ = 0;
};

} // namespace gw::test
