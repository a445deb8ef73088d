#pragma once
// One IEC 60870-5-104 frame (APDU), the layout of its I, S and U formats, the
// 15-bit sequence arithmetic, the cutting of frames out of a byte stream and
// the bounded frame FIFO that every link uses as send window and receive queue.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace gw {

class TIEC_ASDUt;

constexpr std::uint8_t StartByte104 = 0x68;
// Length byte L counts control field plus ASDU: 4 (S, U) to 253 (IEC 60870-5-104, 5.1).
constexpr int MinApduLen = 4;
constexpr int MaxApduLen = 253;
constexpr int MaxFrameLen = MaxApduLen + 2;
constexpr int AsduOffset = 6;

enum class TApduFormat { I, S, U };
enum class U_Func { U_TESTFR, U_STOPDT, U_STARTDT };
enum class UActCon { UACT, UCON };

// Function bits of a received U-frame: index 2 with its two format bits cleared.
constexpr int UFn_STARTDT_Act = 0x04, UFn_STARTDT_Con = 0x08;
constexpr int UFn_STOPDT_Act = 0x10, UFn_STOPDT_Con = 0x20;
constexpr int UFn_TESTFR_Act = 0x40, UFn_TESTFR_Con = 0x80;

// Control byte (index 2) of a U-frame as sent.
std::uint8_t UControlByte(U_Func func, UActCon actcon);

class T104APDU {
public:
    // Number of valid bytes in Data: the whole frame, start and length byte included.
    int lenData = 0;
    std::array<std::uint8_t, MaxFrameLen> Data{};

    // Copies one received frame; false (and an empty frame) when it cannot be one.
    bool Assign(std::span<const std::uint8_t> bytes);
    // An I-frame carrying the ASDU, its control field zero (the link fills it
    // when it sends the frame); false (and an empty frame) when it does not fit.
    bool FromAsdu(const TIEC_ASDUt& asdu);

    TApduFormat Format() const;
    int UFunction() const { return Data[2] & 0xFC; }
    // Mode 0 reads N(S) and N(R) of an I-frame, mode 1 N(R) of an S-frame
    // (N(S) := 0); other modes leave both alone.
    void GetFromAPCI(int mode, int& ns, int& nr) const;
    std::span<const std::uint8_t> Asdu() const;
    std::span<const std::uint8_t> Bytes() const { return {Data.data(), static_cast<std::size_t>(lenData)}; }

    // mess, then two upper-case hex digits and a blank per byte.
    std::string toString(const std::string& mess) const;
};

// Control fields (IEC 60870-5-104, 5.1): N(S) and N(R) travel doubled.
void FillIControl(T104APDU& frame, int ns, int nr);
void FormSFrame(T104APDU& frame, int nr);
void FormUFrame(T104APDU& frame, U_Func func, UActCon actcon);

// Sequence numbers run 0..32767.
int IncSeq(int n);
// a - b, taken modulo 32768 unless it lies within 100 behind.
int DiffSeq(int a, int b);
// Plain distance from b forward to a, 0..32767.
int SeqDistance(int a, int b);

// The bytes received but not yet cut into frames.
class TReceiveArea {
public:
    enum class TCut { Frame, NeedMore, BadStart, BadLength };

    TReceiveArea();
    void Add(std::span<const std::uint8_t> bytes);
    // Cuts the next whole frame into out. BadStart and BadLength leave the
    // bytes where they are: the stream has lost its framing.
    TCut Cut(T104APDU& out);
    std::uint8_t Current() const { return buf_[pos_]; }
    std::span<const std::uint8_t> Uncut() const { return {buf_.data() + pos_, buf_.size() - pos_}; }
    std::size_t Pending() const { return buf_.size() - pos_; }
    void Clear();

private:
    std::vector<std::uint8_t> buf_;
    std::size_t pos_ = 0;
};

// Bounded FIFO of frames with a send cursor: frames before the cursor are
// sent and not yet acknowledged, those after it wait. A slot is made when the
// write position first reaches it and stays where it is, so a frame handed
// out by pointer never moves (but for the waiting frames behind one taken out
// by RemoveUnsent, which close its gap); an emptied buffer starts over at its first
// slot, so a receive queue of 250 that holds a few frames at a time (every
// link has one) costs a few frames, not 250.
class TBufferAPDU {
public:
    explicit TBufferAPDU(int size);

    int Count() const { return indAdd; }
    int Send() const { return indSend; }
    int Size() const { return FSize; }
    bool Full() const { return indAdd >= FSize; }
    bool Empty() const { return indAdd == 0; }
    bool AllSended() const { return indSend >= indAdd; }

    // False and nothing stored when full.
    bool Put1(const T104APDU& frame);
    // The free slot Put1 would fill, nullptr when full; Added() keeps what
    // was written there, so a received frame is copied once only.
    T104APDU* NextFree();
    void Added();
    // The frame at the cursor, nullptr when all were sent. It stays waiting
    // until MarkSent, so a frame the socket side refused is offered again.
    T104APDU* NextToSend();
    void MarkSent(std::int64_t nowMs);
    // The frame at position i from the oldest, 0 <= i < Count().
    const T104APDU& FrameAt(int i) const { return At(i).frame; }
    // Takes out the waiting frame at position i (Send() <= i < Count()): the
    // waiting frames after it keep their order, the sent ones are untouched.
    // False when i is no waiting frame.
    bool RemoveUnsent(int i);
    // The last frame sent waits again, the socket side having given it back
    // unwritten; false when none was sent.
    bool UnmarkSent();
    // Takes the frame at the cursor (receive queue use).
    const T104APDU* GetToSend();
    // Monotonic time the oldest sent frame went out; only with Send() > 0.
    std::int64_t OldestSentMs() const;
    // Frees the n oldest sent frames (an acknowledgement covering them).
    void FreeSent(int n);
    // prAll frees every frame, else only the sent ones.
    void Reset(bool prAll);

private:
    struct TSlot {
        T104APDU frame;
        std::int64_t sentMs = 0;
    };
    // The slot i places after head, 0 <= i <= FSize: a wrap, not a division,
    // as every received frame asks for one.
    std::size_t Ring(int i) const { return static_cast<std::size_t>(head + i >= FSize ? head + i - FSize : head + i); }
    TSlot& At(int i) { return *List[Ring(i)]; }
    const TSlot& At(int i) const { return *List[Ring(i)]; }
    // The slot at the write position, made if it is not yet; the caller has checked !Full().
    TSlot& FreeSlot();

    int FSize;
    int head = 0;
    int indSend = 0;
    int indAdd = 0;
    std::vector<std::unique_ptr<TSlot>> List; // each slot made once, where it stays
};

} // namespace gw
