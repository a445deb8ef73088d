// APCI of IEC 60870-5-104: the 6-byte header of every frame, the three frame
// formats and the cutting of a TCP byte stream into frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kpsim {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kStartByte = 0x68;
constexpr std::size_t kMaxApduLength = 253; // length octet, control field included
constexpr std::size_t kMaxAsduLength = kMaxApduLength - 4;
constexpr std::uint16_t kSequenceModulo = 32768;

// First control octet of the U-frames.
enum class UFunction : std::uint8_t {
    StartDtAct = 0x07,
    StartDtCon = 0x0B,
    StopDtAct = 0x13,
    StopDtCon = 0x23,
    TestFrAct = 0x43,
    TestFrCon = 0x83,
};

enum class FrameFormat { I, S, U };

// One received frame: its format, its sequence numbers (I: both, S: receive
// only), its U function and, for an I-frame, the ASDU bytes.
struct Frame {
    FrameFormat format = FrameFormat::U;
    std::uint16_t sendSeq = 0;
    std::uint16_t recvSeq = 0;
    std::uint8_t uFunction = 0;
    Bytes asdu;
};

Bytes BuildIFrame(std::uint16_t sendSeq, std::uint16_t recvSeq, const Bytes& asdu);
Bytes BuildSFrame(std::uint16_t recvSeq);
Bytes BuildUFrame(UFunction function);

// Collects received bytes and hands out complete frames. A bad start octet,
// a length outside 4..253 or a malformed control field makes the stream
// unusable: the peer has to be disconnected.
class FrameReader {
public:
    enum class Result { Frame, NeedMore, Broken };

    void Append(const std::uint8_t* data, std::size_t size);
    Result Next(Frame& frame);

private:
    Bytes pending_;
    std::size_t start_ = 0;
};

} // namespace kpsim
