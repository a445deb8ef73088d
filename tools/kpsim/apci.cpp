#include "apci.h"

namespace kpsim {
namespace {

void PutSequence(Bytes& out, std::uint16_t seq)
{
    const unsigned shifted = static_cast<unsigned>(seq) << 1;
    out.push_back(static_cast<std::uint8_t>(shifted & 0xFF));
    out.push_back(static_cast<std::uint8_t>(shifted >> 8));
}

std::uint16_t GetSequence(std::uint8_t low, std::uint8_t high)
{
    return static_cast<std::uint16_t>(((low | (high << 8)) >> 1) & 0x7FFF);
}

bool IsKnownUFunction(std::uint8_t octet)
{
    switch (static_cast<UFunction>(octet)) {
    case UFunction::StartDtAct:
    case UFunction::StartDtCon:
    case UFunction::StopDtAct:
    case UFunction::StopDtCon:
    case UFunction::TestFrAct:
    case UFunction::TestFrCon: return true;
    }
    return false;
}

} // namespace

Bytes BuildIFrame(std::uint16_t sendSeq, std::uint16_t recvSeq, const Bytes& asdu)
{
    Bytes out{kStartByte, static_cast<std::uint8_t>(asdu.size() + 4)};
    PutSequence(out, sendSeq);
    PutSequence(out, recvSeq);
    out.insert(out.end(), asdu.begin(), asdu.end());
    return out;
}

Bytes BuildSFrame(std::uint16_t recvSeq)
{
    Bytes out{kStartByte, 4, 0x01, 0x00};
    PutSequence(out, recvSeq);
    return out;
}

Bytes BuildUFrame(UFunction function) { return Bytes{kStartByte, 4, static_cast<std::uint8_t>(function), 0, 0, 0}; }

void FrameReader::Append(const std::uint8_t* data, std::size_t size)
{
    if (start_ > 0 && start_ == pending_.size()) {
        pending_.clear();
        start_ = 0;
    }
    pending_.insert(pending_.end(), data, data + size);
}

FrameReader::Result FrameReader::Next(Frame& frame)
{
    const std::size_t available = pending_.size() - start_;
    if (available < 2)
        return Result::NeedMore;
    const std::uint8_t* p = pending_.data() + start_;
    const std::size_t length = p[1];
    if (p[0] != kStartByte || length < 4 || length > kMaxApduLength)
        return Result::Broken;
    if (available < length + 2)
        return Result::NeedMore;

    const std::uint8_t c1 = p[2];
    if ((c1 & 0x01) == 0) {
        frame.format = FrameFormat::I;
        frame.sendSeq = GetSequence(p[2], p[3]);
        frame.recvSeq = GetSequence(p[4], p[5]);
        frame.asdu.assign(p + 6, p + 2 + length);
    } else if (length != 4) {
        return Result::Broken; // S- and U-frames carry no ASDU
    } else if ((c1 & 0x03) == 0x01) {
        frame.format = FrameFormat::S;
        frame.recvSeq = GetSequence(p[4], p[5]);
        frame.asdu.clear();
    } else {
        if (!IsKnownUFunction(c1))
            return Result::Broken;
        frame.format = FrameFormat::U;
        frame.uFunction = c1;
        frame.asdu.clear();
    }
    start_ += length + 2;
    return Result::Frame;
}

} // namespace kpsim
