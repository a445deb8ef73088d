#pragma once
// The IEC 60870-5-101/104 type identifications this station knows: per type
// its code, name, element and time-tag lengths and value/quality layout, and
// the display names of the causes of transmission. One table per process,
// built once by the service init and only read afterwards.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace gw {

// Layout of the value of a type; it describes the type only.
// clang-format off
enum class TDataType : std::uint8_t {
    U0, TS1, TS2, TS8, TS32, TS16IZM, BS8, U1, U2, I32, U5, U6, U7, I16, F16, F4, RZ3, CSC, CDC, CRC, CI2
};
// clang-format on

// Layout of the quality of a type; it travels with every stored value.
enum class TQualityType : std::uint8_t { Q0, QTS1, QTS2, Q1, QBITS, Q8TII, Q8I, Q8R, Q8F, Q1S };

// The type names; code that dispatches on a type uses these, not the code.
// The seven F_ names (file transfer) have no entry in the table.
// clang-format off
enum class NameTypeIdent : std::uint8_t {
    M_EMPTY, M_SP_NA, M_SP_TA, M_DP_NA, M_DP_TA, M_ST_NA, M_ST_TA, M_BO_NA, M_BO_TA, M_ME_NA,
    M_ME_TA, M_ME_NB, M_ME_TB, M_ME_NC, M_ME_TC, M_IT_NA, M_IT_TA, M_EP_TA, M_EP_TB, M_EP_TC,
    M_PS_NA, M_ME_ND, M_SP_TB, M_DP_TB, M_ST_TB, M_BO_TB, M_ME_TD, M_ME_TE, M_ME_TF, M_IT_TB,
    M_EP_TD, M_EP_TE, M_EP_TF, C_SC_NA, C_DC_NA, C_RC_NA, C_SE_NA, C_SE_NB, C_SE_NC, C_BO_NA,
    M_EI_NA, C_IC_NA, C_CI_NA, C_SC_TA, C_DC_TA, C_RC_TA, C_SE_TA, C_SE_TB, C_SE_TC, C_BO_TA,
    C_RD_NA, C_CS_NA, C_TS_NA, C_RP_NA, C_CD_NA, C_TS_TA, P_ME_NA, P_ME_NB, P_ME_NC, P_AC_NA,
    F_FR_NA, F_SR_NA, F_SC_NA, F_LS_NA, F_AF_NA, F_SG_NA, F_DR_NA, M_BO_TC, M_ME_NE, M_ME_TI,
    M_ME_TJ, M_CB_TA, M_CB_TB, M_CB_TC
};
// clang-format on

class TTypeIdent {
public:
    TTypeIdent(int Code, int objlen, int timelen, NameTypeIdent Name, TDataType dtype, TQualityType qtype,
               std::string Text);

    int Code;
    int objlen;  // bytes of one element without object address and time tag
    int timelen; // 0, 3 (CP24Time2a) or 7 (CP56Time2a)
    TDataType dtype;
    TQualityType qtype;
    NameTypeIdent Name;
    std::string Text; // "(M_SP_NA) Одноэлементная ..." for log lines and error texts
};

using PTypeIdent = const TTypeIdent*;

class TTypeIdentList {
public:
    static constexpr int Capacity = 76;
    static constexpr int CauseCount = 50;

    // Builds every known type in table order and the cause names.
    TTypeIdentList();
    TTypeIdentList(const TTypeIdentList&) = delete; // entries are handed out by address
    TTypeIdentList& operator=(const TTypeIdentList&) = delete;

    int Count() const { return static_cast<int>(List.size()); }
    PTypeIdent FindTypeIdent(int Code) const;
    PTypeIdent FindTypeIdent(NameTypeIdent Name) const;
    // Display name of a cause of transmission; empty outside 0..49.
    const std::string& CauseName(int cot) const;

private:
    // Silently refuses a code or name already present, and a 77th entry.
    void Add(const TTypeIdent& t);

    std::vector<TTypeIdent> List;
    std::array<int, 256> byCode_; // index into List, -1 for an unknown code
    std::vector<std::string> causes_;
};

} // namespace gw
