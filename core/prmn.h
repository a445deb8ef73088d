#pragma once
// The link parameters of one 104 channel (TPrmn), their two default
// profiles, and the parameter file "iec104sr.bin" that holds the array of
// them as raw record images. The record's byte layout is the file format,
// padding included, so the struct below is laid out byte for byte.

#include "core/capacities.h"

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace gw {

// A length byte and up to 32 Windows-1251 characters; bytes past the length
// carry no meaning.
struct TShortString32 {
    static constexpr std::size_t MaxLength = 32;
    std::uint8_t len = 0;
    std::array<char, MaxLength> chars{};

    // The stored bytes (a length above 32 read as 32).
    std::string Raw() const;
    // Cut to 32 bytes; only the length byte and the bytes written change.
    void SetRaw(std::string_view bytes);
    // The same, converted from and to the program's UTF-8.
    std::string Text() const;
    void SetText(std::string_view utf8);
};

struct TPrmn {
    TShortString32 Name;
    TShortString32 Host;
    std::uint8_t padding0[2] = {};
    std::int32_t Port = 0;
    std::int32_t t0 = 0; // ms of silence after which the connection is dropped
    std::int32_t t1 = 0; // ms to wait for the acknowledgement of sent frames
    std::int32_t t2 = 0; // ms after the last received I-frame before acknowledging
    std::int32_t t3 = 0; // ms of idleness before a test frame
    std::int32_t kMax = 0;
    std::int32_t wMax = 0;
    std::int32_t ReceiveBufferLength = 0;
    std::int32_t OriginatorAddress = 0;
    std::int32_t LinkAddress1 = 0;
    std::int32_t sz_LinkAddress = 0;
    std::int32_t PollingCycle = 0;
    std::int32_t ConfirmationTimeout = 0;
    std::int32_t TerminationTimeout = 0;
    std::int32_t RetryCount = 0;
    std::int32_t RetryTimeOut = 0;
    std::int32_t CommonAsduAddress = 0;
    std::int32_t sz_ASDUAddress = 0;
    std::int32_t sz_InfObjAddress = 0;
    std::int32_t sz_COT = 0;
    std::uint8_t ClockSinhronizationCheck = 0; // Boolean 0 or 1
    std::uint8_t padding1[3] = {};
    std::int32_t ClockSinhronizationTime = 0;
    std::int32_t prWork1 = 0; // 1 = the channel is enabled
};

static_assert(sizeof(TPrmn) == 160);
static_assert(offsetof(TPrmn, Host) == 33 && offsetof(TPrmn, Port) == 68);
static_assert(offsetof(TPrmn, OriginatorAddress) == 100 && offsetof(TPrmn, CommonAsduAddress) == 132);
static_assert(offsetof(TPrmn, ClockSinhronizationCheck) == 148 && offsetof(TPrmn, prWork1) == 156);
static_assert(std::endian::native == std::endian::little, "TPrmn is stored as its little-endian image");

// Records in Prmn104: record i parameterises channel i.
constexpr std::size_t PrmnCount = MaxChannels;
using TPrmnArray = std::vector<TPrmn>;
// 998 zero-filled records.
TPrmnArray MakePrmn104();

constexpr std::int32_t PrmnFileVersion = 525092;
constexpr int PrmnKind104 = 104;

// Kind 104: the client profile with host (cut to 32) and port; any other kind:
// the master profile, which leaves host, port, timers and windows as they are.
void SetPrmnDefault(TPrmn& prm, int kind, std::string_view host, std::int32_t port);

// Reads "iec104sr.bin" into prmn104 (records past its size are checked and
// dropped). The whole file is checked first: version, a count the file
// really holds, the checksum; only then are records stored, with string
// lengths above 32 clamped. False (prmn104 untouched) on any failure.
bool ReadPrmnBin(const std::string& fileName, std::span<TPrmn> prmn104);

// Writes the first count records (count clamped to the array) through a
// temporary file renamed into place. False, and no file changed, on failure.
bool WritePrmnBin(const std::string& fileName, std::span<const TPrmn> prmn104, int count);

// Mode 0 reads, mode 1 writes KpCount records, any other mode does nothing
// (True). When the configuration owns the parameters (prmTFromCfg) the file
// is neither read nor written and the result is True.
bool RdWrPrmnBin(std::uint8_t mode, const std::string& fileName, std::span<TPrmn> prmn104, bool prmTFromCfg,
                 int kpCount);

} // namespace gw
