#include "core/apdu.h"

#include "core/asdu.h"
#include "core/text.h"

#include <algorithm>
#include <cstring>

namespace gw {

namespace {

constexpr int SeqModulo = 32768;
// Differences down to this far behind stay negative; farther counts as a wrap.
constexpr int SeqBehindLimit = 100;
// Enough for a large chunk plus its tail without growing.
constexpr std::size_t ReceiveAreaReserve = 61024;

void PutSeq(std::uint8_t* at, int n)
{
    const int twice = (n & 0x7FFF) * 2;
    at[0] = static_cast<std::uint8_t>(twice & 0xFF);
    at[1] = static_cast<std::uint8_t>(twice >> 8);
}

int GetSeq(const std::uint8_t* at) { return (at[0] | (at[1] << 8)) >> 1; }

} // namespace

std::uint8_t UControlByte(U_Func func, UActCon actcon)
{
    const bool act = actcon == UActCon::UACT;
    switch (func) {
    case U_Func::U_STARTDT: return act ? 0x07 : 0x0B;
    case U_Func::U_STOPDT: return act ? 0x13 : 0x23;
    case U_Func::U_TESTFR: return act ? 0x43 : 0x83;
    }
    return 0x03;
}

bool T104APDU::Assign(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() > Data.size()) {
        lenData = 0;
        return false;
    }
    std::memcpy(Data.data(), bytes.data(), bytes.size());
    lenData = static_cast<int>(bytes.size());
    return true;
}

bool T104APDU::FromAsdu(const TIEC_ASDUt& asdu)
{
    const int n = asdu.Encode(std::span<std::uint8_t>(Data).subspan(AsduOffset));
    if (n <= 0) {
        lenData = 0;
        return false;
    }
    Data[0] = StartByte104;
    Data[1] = static_cast<std::uint8_t>(n + 4);
    Data[2] = Data[3] = Data[4] = Data[5] = 0;
    lenData = n + AsduOffset;
    return true;
}

TApduFormat T104APDU::Format() const
{
    switch (Data[2] & 0x03) {
    case 1: return TApduFormat::S;
    case 3: return TApduFormat::U;
    default: return TApduFormat::I;
    }
}

void T104APDU::GetFromAPCI(int mode, int& ns, int& nr) const
{
    if (mode == 0) {
        ns = GetSeq(&Data[2]);
        nr = GetSeq(&Data[4]);
    } else if (mode == 1) {
        ns = 0;
        nr = GetSeq(&Data[4]);
    }
}

std::span<const std::uint8_t> T104APDU::Asdu() const
{
    if (lenData <= AsduOffset)
        return {};
    return {Data.data() + AsduOffset, static_cast<std::size_t>(lenData - AsduOffset)};
}

std::string T104APDU::toString(const std::string& mess) const
{
    return BufToHex(Data, static_cast<std::size_t>(lenData), mess);
}

void FillIControl(T104APDU& frame, int ns, int nr)
{
    PutSeq(&frame.Data[2], ns);
    PutSeq(&frame.Data[4], nr);
}

void FormSFrame(T104APDU& frame, int nr)
{
    frame.Data[0] = StartByte104;
    frame.Data[1] = 4;
    frame.Data[2] = 0x01;
    frame.Data[3] = 0x00;
    PutSeq(&frame.Data[4], nr);
    frame.lenData = 6;
}

void FormUFrame(T104APDU& frame, U_Func func, UActCon actcon)
{
    frame.Data[0] = StartByte104;
    frame.Data[1] = 4;
    frame.Data[2] = UControlByte(func, actcon);
    frame.Data[3] = frame.Data[4] = frame.Data[5] = 0;
    frame.lenData = 6;
}

int IncSeq(int n) { return n >= SeqModulo - 1 ? 0 : n + 1; }

int DiffSeq(int a, int b)
{
    const int d = a - b;
    return d < -SeqBehindLimit ? d + SeqModulo : d;
}

int SeqDistance(int a, int b) { return ((a - b) % SeqModulo + SeqModulo) % SeqModulo; }

TReceiveArea::TReceiveArea() { buf_.reserve(ReceiveAreaReserve); }

void TReceiveArea::Add(std::span<const std::uint8_t> bytes)
{
    if (pos_ > 0) {
        buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(pos_));
        pos_ = 0;
    }
    buf_.insert(buf_.end(), bytes.begin(), bytes.end());
}

TReceiveArea::TCut TReceiveArea::Cut(T104APDU& out)
{
    const std::size_t left = Pending();
    if (left == 0)
        return TCut::NeedMore;
    if (buf_[pos_] != StartByte104)
        return TCut::BadStart;
    if (left < 2)
        return TCut::NeedMore;
    const int len = buf_[pos_ + 1];
    if (len < MinApduLen || len > MaxApduLen)
        return TCut::BadLength;
    const std::size_t whole = static_cast<std::size_t>(len) + 2;
    if (left < whole)
        return TCut::NeedMore;
    out.Assign({buf_.data() + pos_, whole});
    pos_ += whole;
    if (pos_ == buf_.size())
        Clear();
    return TCut::Frame;
}

void TReceiveArea::Clear()
{
    buf_.clear();
    pos_ = 0;
}

TBufferAPDU::TBufferAPDU(int size) : FSize(std::max(size, 0)) {}

TBufferAPDU::TSlot& TBufferAPDU::FreeSlot()
{
    const std::size_t index = Ring(indAdd);
    while (List.size() <= index)
        List.push_back(std::make_unique<TSlot>());
    return *List[index];
}

bool TBufferAPDU::Put1(const T104APDU& frame)
{
    if (Full())
        return false;
    FreeSlot().frame = frame;
    ++indAdd;
    return true;
}

T104APDU* TBufferAPDU::NextFree() { return Full() ? nullptr : &FreeSlot().frame; }

void TBufferAPDU::Added()
{
    if (!Full())
        ++indAdd;
}

T104APDU* TBufferAPDU::NextToSend() { return AllSended() ? nullptr : &At(indSend).frame; }

void TBufferAPDU::MarkSent(std::int64_t nowMs)
{
    if (AllSended())
        return;
    At(indSend).sentMs = nowMs;
    ++indSend;
}

bool TBufferAPDU::UnmarkSent()
{
    if (indSend == 0)
        return false;
    --indSend;
    return true;
}

bool TBufferAPDU::RemoveUnsent(int i)
{
    if (i < indSend || i >= indAdd)
        return false;
    for (int j = i; j + 1 < indAdd; ++j)
        At(j).frame = At(j + 1).frame;
    --indAdd;
    if (indAdd == 0)
        head = 0;
    return true;
}

const T104APDU* TBufferAPDU::GetToSend()
{
    if (AllSended())
        return nullptr;
    return &At(indSend++).frame;
}

std::int64_t TBufferAPDU::OldestSentMs() const { return indSend > 0 ? At(0).sentMs : 0; }

void TBufferAPDU::FreeSent(int n)
{
    n = std::clamp(n, 0, indSend);
    if (n == 0)
        return;
    head = (head + n) % FSize;
    indSend -= n;
    indAdd -= n;
    // Empty: the next frame goes to the first slot again, so a queue emptied
    // after every chunk makes only as many slots as it held at once.
    if (indAdd == 0)
        head = 0;
}

void TBufferAPDU::Reset(bool prAll)
{
    if (prAll) {
        head = indSend = indAdd = 0;
        return;
    }
    FreeSent(indSend);
}

} // namespace gw
