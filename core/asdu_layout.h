#pragma once
// Byte layout of an ASDU as one channel lays it out: the widths of the cause,
// common address and object address fields, and where the information
// objects of a received ASDU lie. Pure byte arithmetic, shared by the parser,
// the builders and the frame writer, so both directions agree on one layout.

#include <algorithm>
#include <cstdint>
#include <optional>

namespace gw {

// The largest ASDU an I-frame carries: length byte 253 minus the control field.
constexpr int kMaxAsduLen = 249;

struct TAsduLayout {
    int szCot = 2;      // cause of transmission: 1 or 2 bytes (originator only with 2)
    int szCa = 2;       // common address: 0 to 2 bytes
    int szIoa = 3;      // information object address: 0 to 3 bytes
    int originator = 0; // originator byte of every built ASDU (low byte)

    // The widths as configured, brought into the ranges above: a cause of 2 or
    // more bytes is 2, else 1; addresses wider than the field allow are read
    // and written at their widest, negative widths as 0.
    static TAsduLayout Make(int szCot, int szCa, int szIoa, int originator = 0)
    {
        TAsduLayout l;
        l.originator = originator & 0xFF;
        l.szCot = szCot >= 2 ? 2 : 1;
        l.szCa = std::clamp(szCa, 0, 2);
        l.szIoa = std::clamp(szIoa, 0, 3);
        return l;
    }

    // Type, VSQ, cause (with originator) and common address.
    int FixedLen() const { return 2 + szCot + szCa; }
};

// The fields in front of the information objects.
struct TAsduHeader {
    int type = 0;
    int vsq = 0;        // SQ in bit 7, number of elements in bits 0..6
    int cot = 0;        // the cause byte as on the wire, P/N (0x40) and T (0x80) included
    int originator = 0; // 0 when the cause field has one byte
    int ca = 0;
};

// Reads the header of an ASDU of len bytes; nothing when it is shorter than
// its header. The objects start at layout.FixedLen().
std::optional<TAsduHeader> ReadAsduHeader(const std::uint8_t* asdu, int len, const TAsduLayout& layout);

// Writes the header and returns its length (layout.FixedLen()); the caller
// provides room for it.
int WriteAsduHeader(std::uint8_t* out, const TAsduHeader& h, const TAsduLayout& layout);

// Little-endian unsigned field of n (0..3) bytes.
inline int ReadLe(const std::uint8_t* p, int n)
{
    int v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

// Whether v can be written into a field of n (1..3) bytes without being cut
// to another address; a field of no bytes carries nothing and takes anything.
inline bool FitsLe(int v, int n) { return n <= 0 || (v >= 0 && v < (1 << (8 * n))); }

inline void WriteLe(std::uint8_t* p, int n, int v)
{
    for (int i = 0; i < n; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Where the objects of a received ASDU lie in its bytes after the common
// address. Without SQ each object is address, element, time tag. With SQ one
// address is followed by the elements, each with its own time tag as
// IEC 60870-5-101/104 sends them; a single time tag after the last element is
// accepted too when the length fits exactly that.
struct TObjectPlan {
    bool sequence = false;
    bool sharedTime = false; // SQ with one time tag after the last element
    int count = 0;
    int ioaLen = 0;
    int elemLen = 0;
    int timeLen = 0;
    int stride = 0; // bytes from one object (SQ = 0) or element (SQ = 1) to the next

    // Offset of element i's bytes, of its time tag, and (SQ = 0 only) of its
    // object address.
    int ElementAt(int i) const { return sequence ? ioaLen + i * stride : i * stride + ioaLen; }
    int AddressAt(int i) const { return sequence ? 0 : i * stride; }
    int TimeAt(int i, int dataLen) const { return sharedTime ? dataLen - timeLen : ElementAt(i) + elemLen; }
};

// The plan for dataLen bytes holding count objects of elemLen + timeLen bytes,
// or nothing when the bytes are not exactly that many objects.
std::optional<TObjectPlan> PlanObjects(int dataLen, int count, bool sequence, int elemLen, int timeLen, int ioaLen);

} // namespace gw
