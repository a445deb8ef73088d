#pragma once
// The IEC 60870-5-101/104 numbers the station writes into ASDUs or tests in
// them by value: causes of transmission, the flag bits of the cause byte,
// the type identifications it builds and the qualifiers of its requests.
// The type table (typeident.cpp) holds every type; these are the ones code
// names directly.

#include <cstdint>

namespace gw {

// Causes of transmission (the low six bits of the cause byte).
inline constexpr int CotActivation = 6;
inline constexpr int CotActivationCon = 7;
inline constexpr int CotActivationTerm = 10;
// Flag bits of the cause byte.
inline constexpr int CotNegativeBit = 0x40; // P/N: the station refuses
inline constexpr int CotTestBit = 0x80;     // T: a test transmission

// Type identifications.
inline constexpr int TypeSingleCommand = 45;         // C_SC_NA
inline constexpr int TypeDoubleCommand = 46;         // C_DC_NA
inline constexpr int TypeInterrogation = 100;        // C_IC_NA
inline constexpr int TypeCounterInterrogation = 101; // C_CI_NA
inline constexpr int TypeClockSync = 103;            // C_CS_NA

// Qualifiers of the station-wide requests.
inline constexpr std::uint8_t QoiStation = 20;        // interrogation of the whole station
inline constexpr std::uint8_t QccGeneralNoFreeze = 5; // read all counters, no freeze or reset

} // namespace gw
