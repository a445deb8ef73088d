// ASDU layout of IEC 60870-5-101/104 as far as the simulator needs it: the
// table of type identifications it sends and accepts, configurable field
// widths, a builder and a parser of the data unit identifier, CP56Time2a.
#pragma once

#include "apci.h"

#include <cstdint>
#include <optional>
#include <string>

namespace kpsim {

enum TypeId : std::uint8_t {
    M_SP_NA_1 = 1,
    M_DP_NA_1 = 3,
    M_BO_NA_1 = 7,
    M_ME_NA_1 = 9,
    M_ME_NB_1 = 11,
    M_ME_NC_1 = 13,
    M_IT_NA_1 = 15,
    M_SP_TB_1 = 30,
    M_DP_TB_1 = 31,
    M_BO_TB_1 = 33,
    M_ME_TD_1 = 34,
    M_ME_TE_1 = 35,
    M_ME_TF_1 = 36,
    M_IT_TB_1 = 37,
    M_EI_NA_1 = 70,
    C_SC_NA_1 = 45,
    C_DC_NA_1 = 46,
    C_SC_TA_1 = 58,
    C_DC_TA_1 = 59,
    C_IC_NA_1 = 100,
    C_CI_NA_1 = 101,
    C_CS_NA_1 = 103,
    // Private range: eight single points in one byte, always with CP56Time2a.
    M_BO_TC = 136,
};

enum Cause : std::uint8_t {
    kCauseSpontaneous = 3,
    kCauseInitialised = 4,
    kCauseActivation = 6,
    kCauseActCon = 7,
    kCauseDeactivation = 8,
    kCauseActTerm = 10,
    kCauseInterrogated = 20,
    kCauseCounterGeneral = 37,
    kCauseUnknownType = 44,
    kCauseUnknownCause = 45,
    kCauseUnknownCommonAddress = 46,
    kCauseUnknownObjectAddress = 47,
};

constexpr std::uint8_t kNegativeBit = 0x40;
constexpr std::size_t kCp56Size = 7;

struct TypeInfo {
    TypeId id;
    const char* name;
    std::size_t elementSize; // bytes after the object address, time tag included
};

// The entry of a type identification, nothing for one the simulator does not know.
const TypeInfo* FindType(std::uint8_t id);

// Widths in bytes of the cause (1-2, the second byte is the originator
// address), the common address (1-2) and the information object address (1-3).
struct Widths {
    int cot = 2;
    int ca = 2;
    int ioa = 3;

    std::size_t HeaderSize() const { return 2 + static_cast<std::size_t>(cot + ca); }
    std::uint32_t BroadcastCa() const { return ca == 1 ? 0xFFu : 0xFFFFu; }
};

// Builds one ASDU with objects of one type, each with its own address (SQ=0).
class AsduBuilder {
public:
    AsduBuilder(const Widths& widths, TypeId type, std::uint8_t cause, std::uint32_t ca, std::uint8_t originator = 0);

    // Room for one more object of `elementSize` bytes.
    bool HasRoom(std::size_t elementSize) const;
    void AddObject(std::uint32_t ioa, const Bytes& element);
    std::size_t Count() const { return count_; }
    Bytes Finish() const;

private:
    Widths widths_;
    Bytes bytes_;
    std::size_t count_ = 0;
};

// The data unit identifier of a received ASDU and its first object (the
// simulator only accepts single-object requests).
struct ParsedAsdu {
    std::uint8_t type = 0;
    std::uint8_t vsq = 0;
    std::uint8_t cause = 0; // without test and negative bits
    bool negative = false;
    bool test = false;
    std::uint8_t originator = 0;
    std::uint32_t ca = 0;
    std::uint32_t ioa = 0;
    Bytes element; // the bytes after the first object address
};

// Nothing when the bytes are too short for the header and one object address.
std::optional<ParsedAsdu> ParseAsdu(const Bytes& asdu, const Widths& widths);

struct LocalTime {
    int year = 2000, month = 1, day = 1, hour = 0, minute = 0, second = 0, millisecond = 0;
    int weekday = 0; // 1 Monday .. 7 Sunday, 0 not used
    bool invalid = false;
};

LocalTime NowLocal();
Bytes EncodeCp56(const LocalTime& t);
std::optional<LocalTime> DecodeCp56(const std::uint8_t* p);
std::string FormatTime(const LocalTime& t); // 2021-03-07T14:05:09.250
// The reverse of FormatTime, with the day of the week computed; years 2000..2127.
std::optional<LocalTime> ParseTime(const std::string& text);

} // namespace kpsim
