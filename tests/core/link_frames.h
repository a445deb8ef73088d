#pragma once
// Frames a station sends, for the link tests.

#include "core/messbuff.h"
#include "support/asdu_vectors.h"

#include <cstdint>
#include <string>
#include <vector>

namespace gw::test {

using TFrameBytes = std::vector<std::uint8_t>;

inline TFrameBytes Hex(const std::string& text) { return HexBytes(text); }

// An I-frame with N(S), N(R) around the ASDU bytes (by default a measured
// value 3.25 at CA 1, IOA 700).
inline TFrameBytes IFrame(int ns, int nr, const TFrameBytes& asdu)
{
    TFrameBytes f = asdu;
    f.insert(f.begin(), {0x68, static_cast<std::uint8_t>(f.size() + 4), static_cast<std::uint8_t>(ns << 1),
                         static_cast<std::uint8_t>(ns >> 7), static_cast<std::uint8_t>(nr << 1),
                         static_cast<std::uint8_t>(nr >> 7)});
    return f;
}
inline TFrameBytes StationI(int ns, int nr, const std::string& asdu = "0D 01 03 00 01 00 BC 02 00 00 00 50 40 00")
{
    return IFrame(ns, nr, Hex(asdu));
}

inline TFrameBytes SFrame(int nr)
{
    return {0x68, 4, 1, 0, static_cast<std::uint8_t>(nr << 1), static_cast<std::uint8_t>(nr >> 7)};
}

inline const TFrameBytes STARTDT_act = {0x68, 4, 0x07, 0, 0, 0}, STARTDT_con = {0x68, 4, 0x0B, 0, 0, 0};
inline const TFrameBytes STOPDT_act = {0x68, 4, 0x13, 0, 0, 0}, STOPDT_con = {0x68, 4, 0x23, 0, 0, 0};
inline const TFrameBytes TESTFR_act = {0x68, 4, 0x43, 0, 0, 0}, TESTFR_con = {0x68, 4, 0x83, 0, 0, 0};

// Empties the log queue; true when one of its lines held part.
inline bool Logged(TMessBuff& log, const std::string& part)
{
    std::string text;
    TDateTime dt;
    bool found = false;
    while (log.Get(text, dt))
        found = found || text.find(part) != std::string::npos;
    return found;
}

} // namespace gw::test
