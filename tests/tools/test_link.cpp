#include "test_link.h"

#include <Poco/Net/NetException.h>
#include <Poco/Net/SocketAddress.h>

#include <cstdio>
#include <sstream>

namespace gw::test {

TBytes FromHex(const std::string& hex)
{
    TBytes out;
    std::istringstream in(hex);
    for (std::string byte; in >> byte;)
        out.push_back(static_cast<std::uint8_t>(std::stoul(byte, nullptr, 16)));
    return out;
}

std::string ToHex(const TBytes& bytes)
{
    std::string out;
    char hex[4];
    for (const std::uint8_t b : bytes) {
        std::snprintf(hex, sizeof hex, out.empty() ? "%02X" : " %02X", b);
        out += hex;
    }
    return out;
}

bool IsIFrame(const TBytes& apdu) { return apdu.size() > 6 && (apdu[2] & 0x01) == 0; }

TBytes AsduOf(const TBytes& apdu) { return IsIFrame(apdu) ? TBytes(apdu.begin() + 6, apdu.end()) : TBytes{}; }

TestLink::TestLink(int port)
{
    socket_.connect(Poco::Net::SocketAddress("127.0.0.1", static_cast<Poco::UInt16>(port)), Poco::Timespan(5, 0));
    socket_.setNoDelay(true);
}

TestLink::TestLink(Poco::Net::StreamSocket socket) : socket_(std::move(socket)) {}

void TestLink::SendRaw(const TBytes& bytes) { socket_.sendBytes(bytes.data(), static_cast<int>(bytes.size())); }

void TestLink::SendAsdu(const TBytes& asdu, bool acknowledge)
{
    if (acknowledge)
        lastAck_ = recvSeq_;
    TBytes frame{0x68,
                 static_cast<std::uint8_t>(asdu.size() + 4),
                 static_cast<std::uint8_t>((sendSeq_ << 1) & 0xFF),
                 static_cast<std::uint8_t>(sendSeq_ >> 7),
                 static_cast<std::uint8_t>((lastAck_ << 1) & 0xFF),
                 static_cast<std::uint8_t>(lastAck_ >> 7)};
    frame.insert(frame.end(), asdu.begin(), asdu.end());
    sendSeq_ = static_cast<std::uint16_t>((sendSeq_ + 1) & 0x7FFF);
    SendRaw(frame);
}

void TestLink::SendAck()
{
    lastAck_ = recvSeq_;
    SendRaw({0x68, 0x04, 0x01, 0x00, static_cast<std::uint8_t>((recvSeq_ << 1) & 0xFF),
             static_cast<std::uint8_t>(recvSeq_ >> 7)});
}

bool TestLink::Fill(std::size_t size, std::chrono::steady_clock::time_point deadline)
{
    while (buffer_.size() < size) {
        const auto left =
            std::chrono::duration_cast<std::chrono::microseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !socket_.poll(Poco::Timespan(left.count()), Poco::Net::Socket::SELECT_READ))
            return false;
        std::uint8_t chunk[4096];
        const int n = socket_.receiveBytes(chunk, sizeof chunk);
        if (n <= 0)
            return false;
        buffer_.insert(buffer_.end(), chunk, chunk + n);
    }
    return true;
}

std::optional<TBytes> TestLink::ReadFrame(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    if (!Fill(2, deadline) || !Fill(2 + static_cast<std::size_t>(buffer_[1]), deadline))
        return std::nullopt;
    const auto end = buffer_.begin() + 2 + buffer_[1];
    TBytes frame(buffer_.begin(), end);
    buffer_.erase(buffer_.begin(), end);
    if (IsIFrame(frame))
        recvSeq_ = static_cast<std::uint16_t>((recvSeq_ + 1) & 0x7FFF);
    return frame;
}

std::optional<TBytes> TestLink::ReadBytes(std::size_t size, std::chrono::milliseconds timeout)
{
    if (!Fill(size, std::chrono::steady_clock::now() + timeout))
        return std::nullopt;
    TBytes bytes(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(size));
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(size));
    return bytes;
}

std::vector<TBytes> TestLink::ReadUntilAsdu(const TBytes& prefix, std::chrono::milliseconds timeout)
{
    std::vector<TBytes> frames;
    while (const auto frame = ReadFrame(timeout)) {
        frames.push_back(*frame);
        const TBytes asdu = AsduOf(*frame);
        if (asdu.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), asdu.begin()))
            break;
    }
    return frames;
}

TestLink::End TestLink::WaitForEnd(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    try {
        while (std::chrono::steady_clock::now() < deadline) {
            const auto left =
                std::chrono::duration_cast<std::chrono::microseconds>(deadline - std::chrono::steady_clock::now());
            if (!socket_.poll(Poco::Timespan(left.count()), Poco::Net::Socket::SELECT_READ))
                break;
            std::uint8_t chunk[4096];
            if (socket_.receiveBytes(chunk, sizeof chunk) <= 0)
                return End::Closed;
        }
    } catch (const Poco::Net::ConnectionResetException&) {
        return End::Reset;
    }
    return End::Open;
}

} // namespace gw::test
