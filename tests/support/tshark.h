#pragma once
// An independent decoder for the frames the gateway builds: the APDUs are
// written as one TCP segment each on port 2404 (text2pcap) and read back by
// tshark's IEC 60870-5-104 dissector. Tests assert what it sees, not what
// our own parser thinks.
//
//   auto rows = TsharkFields({apdu}, {"iec60870_asdu.typeid", "iec60870_asdu.causetx"});
//   EXPECT_EQ(rows[0][0], "103");
//
// Field names are tshark's (tshark -G fields | grep iec60870), for instance
// iec60870_104.type, iec60870_asdu.typeid, .causetx, .addr, .oa, .ioa,
// .float, .siq.spi, .diq.dpi, .cp56time.ms / .min / .hour / .day / .dow /
// .month / .year. Throws std::runtime_error when a tool fails.

#include <cstdint>
#include <string>
#include <vector>

namespace gw::test {

using TApdu = std::vector<std::uint8_t>;

// Who sends the frames: the gateway (to port 2404) or the station (from it).
enum class TApduDirection { ToStation, FromStation };

// tshark's full decoded text (-V) of the IEC 104 layers, frame after frame.
std::string TsharkDecode(const std::vector<TApdu>& apdus, TApduDirection dir = TApduDirection::ToStation);

// One row per APDU, one string per requested field; a field that occurs
// several times in a frame (several objects) has its values joined by ';',
// a field absent from a frame is "".
std::vector<std::vector<std::string>> TsharkFields(const std::vector<TApdu>& apdus,
                                                   const std::vector<std::string>& fields,
                                                   TApduDirection dir = TApduDirection::ToStation);

} // namespace gw::test
