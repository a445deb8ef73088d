#include "core/tags.h"

#include "core/hosttext.h"
#include "core/kplist.h"
#include "core/logcategories.h"
#include "core/messbuff.h"
#include "core/signals.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

namespace gw {

namespace {

using C = TagCategName;

constexpr TTagCategory Categories[] = {
    {C::tcn_TS, 1, "ТС"},
    {C::tcn_TIT, 4, "ТИТ"},
    {C::tcn_TII, 4, "ТИИ"},
    {C::tcn_TU, 1, "Телеуправление"},
    {C::dcn_SingleTS1, 1, "ТС (1 бит)"},
    {C::dcn_DoubleTS, 1, "ТС (2 бит)"},
    {C::dcn_TITnorm, 2, "ТИТ нормализованное"},
    {C::dcn_TITscale1, 2, "ТИТ масштабированное"},
    {C::dcn_TITfloat, 4, "ТИТ с плав.точкой"},
    {C::dcn_TII, 4, "ТИИ"},
    {C::dcn_Diskr7, 1, "Дискретная(-64..63)"},
    {C::dcn_TS8a, 1, "8 ТС (байт)"},
    {C::dcn_TS32, 4, "32 ТС (4 байта)"},
    {C::dcn_TS16IZM, 1, "16 ТС с изм.(4 байта)"},
};

constexpr bool InNameOrder()
{
    for (std::size_t i = 0; i < std::size(Categories); ++i)
        if (static_cast<std::size_t>(Categories[i].tcName) != i)
            return false;
    return true;
}
static_assert(InNameOrder(), "DataCategory indexes the table by name");
// What a store touches fills the first of two cache lines: one tag per signal.
static_assert(sizeof(TTagSignal) == 128, "a tag is two cache lines");

bool IsSignalCategory(TagCategName n) { return n <= C::tcn_TU; }

bool Is(PTagCategory c, TagCategName n) { return c && c->tcName == n; }

std::int16_t Word16(const std::array<std::uint8_t, 8>& bv) { return static_cast<std::int16_t>(bv[0] | bv[1] << 8); }

// How a monitored type other than a point is stored: its data category and
// where its quality byte stands in the element.
struct TValRule {
    TagCategName pdc = C::tcn_TS;
    int qualityAt = 0;    // data byte of the quality, or NoQualityByte
    bool counter = false; // the quality byte is a total's status byte
};
// The type carries no quality descriptor (M_ME_ND, M_BO_TC): nothing is known
// to be wrong with the value, so it is stored as good (0).
constexpr int NoQualityByte = -1;

// Of a total's status byte only IV is quality: the sequence number, CY and CA
// describe the reading (kept in CounterStatus), and as quality bits they
// would read as BL, SB and NT.
constexpr std::uint8_t CounterQualityBits = QualityIV;

constexpr bool ValRuleOf(NameTypeIdent name, TValRule& rule)
{
    using N = NameTypeIdent;
    switch (name) {
    case N::M_ME_NA:
    case N::M_ME_TA:
    case N::M_ME_TD: rule = {C::dcn_TITnorm, 2}; return true;
    case N::M_ME_ND: rule = {C::dcn_TITnorm, NoQualityByte}; return true;
    case N::M_ME_NB:
    case N::M_ME_TB:
    case N::M_ME_TE: rule = {C::dcn_TITscale1, 2}; return true;
    case N::M_ME_NC:
    case N::M_ME_TC:
    case N::M_ME_TF: rule = {C::dcn_TITfloat, 4}; return true;
    case N::M_IT_NA:
    case N::M_IT_TA:
    case N::M_IT_TB: rule = {C::dcn_TII, 4, true}; return true;
    case N::M_ST_NA:
    case N::M_ST_TA:
    case N::M_ST_TB: rule = {C::dcn_Diskr7, 1}; return true;
    case N::M_BO_NA:
    case N::M_BO_TA:
    case N::M_BO_TB: rule = {C::dcn_TS32, 4}; return true;
    case N::M_PS_NA: rule = {C::dcn_TS16IZM, 4}; return true;
    case N::M_BO_TC: rule = {C::dcn_TS8a, NoQualityByte}; return true;
    default: return false;
    }
}

// ValRuleOf for every type name, looked up by every store.
struct TKnownRule {
    bool known = false;
    TValRule rule;
};
constexpr auto kValRules = [] {
    std::array<TKnownRule, static_cast<std::size_t>(NameTypeIdent::M_CB_TC) + 1> rules{};
    for (std::size_t i = 0; i < rules.size(); ++i)
        rules[i].known = ValRuleOf(static_cast<NameTypeIdent>(i), rules[i].rule);
    return rules;
}();

bool FindValRule(NameTypeIdent name, TValRule& rule)
{
    const auto i = static_cast<std::size_t>(name);
    if (i >= kValRules.size() || !kValRules[i].known)
        return false;
    rule = kValRules[i].rule;
    return true;
}

// DataCategory of a data category's name, inline for the stores.
PTagCategory DataCategoryOf(TagCategName tcName) { return &Categories[static_cast<std::size_t>(tcName)]; }

bool ElementFits(PTypeIdent ptid, std::span<const std::uint8_t> buf, std::size_t offset)
{
    return offset <= buf.size() && buf.size() - offset >= static_cast<std::size_t>(ptid->objlen);
}

// The quality byte to store: a station's reserved bit 3 is dropped, so that
// the bit says only what QualityTimeInvalid says.
std::uint8_t StoredQuality(std::uint8_t received, bool timeInvalid)
{
    const auto q = static_cast<std::uint8_t>(received & ~QualityTimeInvalid);
    return timeInvalid ? static_cast<std::uint8_t>(q | QualityTimeInvalid) : q;
}

// The first n bytes of bv become value's; true when they differ. n is 1, 2
// or 4 for every category: those are one word each, no call to memcmp.
bool CopyChanged(std::array<std::uint8_t, 8>& bv, const std::uint8_t* value, std::size_t n)
{
    const auto copy = [&](auto word) {
        decltype(word) was, now;
        std::memcpy(&was, bv.data(), sizeof word);
        std::memcpy(&now, value, sizeof word);
        std::memcpy(bv.data(), &now, sizeof word);
        return was != now;
    };
    switch (n) {
    case 1: return copy(std::uint8_t{});
    case 2: return copy(std::uint16_t{});
    case 4: return copy(std::uint32_t{});
    default: {
        n = std::min(n, bv.size());
        const bool changed = std::memcmp(bv.data(), value, n) != 0;
        std::memcpy(bv.data(), value, n);
        return changed;
    }
    }
}

std::uint32_t Word32(const std::array<std::uint8_t, 8>& bv)
{
    return std::uint32_t(bv[0]) | std::uint32_t(bv[1]) << 8 | std::uint32_t(bv[2]) << 16 | std::uint32_t(bv[3]) << 24;
}

// Stores a received value with its quality: n value bytes from value (the
// category's), a dt2 of 0 keeping the earlier time stamp. True when the
// quality or those bytes changed: what Equival would tell of the new value
// against a copy of the old.
bool Replace(TValue1& v, const std::uint8_t* value, std::size_t n, std::uint8_t Quality, TDateTime dt2,
             TQualityType qtype, PTagCategory pdc)
{
    const bool qualityChanged = !v.prQualit || v.Qualit != Quality;
    const bool changed = CopyChanged(v.bv, value, n) || qualityChanged;
    v.qtype = qtype;
    v.pdc = pdc;
    v.prQualit = true;
    v.Qualit = Quality;
    if (dt2 != 0)
        v.dt = dt2;
    return changed;
}

} // namespace

// ---- categories ----

TTagCategoryList::TTagCategoryList(int variant)
{
    for (const TTagCategory& c : Categories)
        if (IsSignalCategory(c.tcName) == (variant == 1))
            List.push_back(&c);
}

PTagCategory TTagCategoryList::GetPtc(TagCategName tcName) const
{
    for (PTagCategory c : List)
        if (c->tcName == tcName)
            return c;
    return nullptr;
}

PTagCategory DataCategory(TagCategName tcName)
{
    // Every store asks: the table is in the order of the names.
    const auto i = static_cast<std::size_t>(tcName);
    return i < std::size(Categories) && !IsSignalCategory(tcName) ? &Categories[i] : nullptr;
}

// ---- values ----

void TValue1::SetParam1(std::uint8_t bt, std::uint8_t Quality, bool prQual, TDateTime dt2, TQualityType qtype_,
                        PTagCategory pdc_)
{
    qtype = qtype_;
    pdc = pdc_;
    if (prQual) {
        prQualit = true;
        Qualit = Quality;
    }
    bv[0] = bt;
    if (dt2 != 0)
        dt = dt2;
}

bool TValue1::SetParam1(std::span<const std::uint8_t> buf, std::size_t offset, std::uint8_t Quality, bool prQual,
                        TDateTime dt2, TQualityType qtype_, PTagCategory pdc_)
{
    const std::size_t n = pdc_ ? static_cast<std::size_t>(pdc_->valuelen) : 0;
    if (offset > buf.size() || buf.size() - offset < n)
        return false;
    SetParam1(bv[0], Quality, prQual, dt2, qtype_, pdc_); // everything but the value bytes
    std::memcpy(bv.data(), buf.data() + offset, n);
    return true;
}

bool TValue1::Equival(const TValue1& LastValue) const
{
    if (prQualit && (!LastValue.prQualit || Qualit != LastValue.Qualit))
        return false;
    if (CounterStatus != LastValue.CounterStatus)
        return false;
    const std::size_t n = pdc ? static_cast<std::size_t>(pdc->valuelen) : 0;
    return std::memcmp(bv.data(), LastValue.bv.data(), n) == 0;
}

// Readings by data category:
//   SingleTS1, TS8a  iValue = iValue_DoubleTS = bit 0
//   DoubleTS         iValue = 1 for ON (state 2), iValue_DoubleTS = the state 0..3
//   TITnorm          iValue_DoubleTS = the 16 bits unsigned, fValue = signed, not normalised
//   TITscale1        iValue_DoubleTS = the low 15 bits, fValue = signed 16 bits times the
//                    scale in quality bits 1..2 (1, 0.1, 0.01, 0.001)
//   TITfloat         fValue = the IEEE 754 single
//   TII              iValue = fValue = the 32-bit two's complement count
//   Diskr7           all three = bits 0..6 as a 7-bit two's complement number
//   TS32             fValue = the 32 bits as an unsigned number (exact in a double),
//                    iValue = iValue_DoubleTS = the same 32 bits in an int
//   TS16IZM          nothing but zeros
void TValue1::GetArmValue(int& iValue, int& Quality, int& iValue_DoubleTS, double& fValue, TDateTime& dtStamp) const
{
    iValue = 0;
    fValue = 0;
    Quality = Qualit;
    if (!pdc)
        return;
    dtStamp = dt;
    switch (pdc->tcName) {
    case C::dcn_SingleTS1:
    case C::dcn_TS8a: iValue = iValue_DoubleTS = bv[0] & 1; break;
    case C::dcn_DoubleTS:
        iValue = (bv[0] & 3) == 2 ? 1 : 0;
        iValue_DoubleTS = bv[0] & 3;
        break;
    case C::dcn_TITnorm:
        iValue_DoubleTS = bv[0] | bv[1] << 8;
        fValue = Word16(bv);
        break;
    case C::dcn_TITscale1: {
        static constexpr double scale[4] = {1, 0.1, 0.01, 0.001};
        iValue_DoubleTS = bv[0] | (bv[1] & 0x7F) << 8;
        fValue = Word16(bv) * scale[(Qualit >> 1) & 3];
        break;
    }
    case C::dcn_TITfloat: {
        float f;
        std::memcpy(&f, bv.data(), sizeof f); // the wire is little-endian, as are our targets
        fValue = f;
        break;
    }
    case C::dcn_TII:
        iValue = static_cast<std::int32_t>(Word32(bv));
        fValue = iValue;
        break;
    case C::dcn_TS32:
        iValue = iValue_DoubleTS = static_cast<std::int32_t>(Word32(bv));
        fValue = Word32(bv);
        break;
    case C::dcn_Diskr7:
        iValue = iValue_DoubleTS = (bv[0] & 0x40) ? (bv[0] & 0x3F) - 64 : bv[0] & 0x3F;
        fValue = iValue;
        break;
    default: break;
    }
}

bool TValue1::GetTsValue(int& ival) const
{
    if (Is(pdc, C::dcn_SingleTS1) || Is(pdc, C::dcn_TS8a)) {
        ival = bv[0] & 1;
        return true;
    }
    if (Is(pdc, C::dcn_DoubleTS)) {
        ival = bv[0] & 3;
        return true;
    }
    ival = -1;
    return false;
}

bool TValue1::GetTitValue(double& fval) const
{
    fval = 0;
    if (!Is(pdc, C::dcn_TITscale1) && !Is(pdc, C::dcn_TITfloat))
        return false;
    int i = 0, q = 0, d = 0;
    TDateTime t = 0;
    GetArmValue(i, q, d, fval, t);
    return true;
}

std::string TValue1::ToStringValue() const
{
    if (!pdc)
        return "????";
    int iValue = 0, quality = 0, iDouble = 0;
    double fValue = 0;
    TDateTime t = 0;
    GetArmValue(iValue, quality, iDouble, fValue, t);
    char text[64];
    switch (pdc->tcName) {
    case C::dcn_SingleTS1:
    case C::dcn_TS8a: return bv[0] & 1 ? "вкл " : "откл";
    case C::dcn_DoubleTS: {
        static const char* states[4] = {"не опред.", "откл", "вкл ", "переходн."};
        return states[bv[0] & 3];
    }
    case C::dcn_TITnorm: return std::to_string(static_cast<int>(fValue));
    case C::dcn_TII:
    case C::dcn_Diskr7: return std::to_string(iValue);
    case C::dcn_TS32: return std::to_string(Word32(bv));
    case C::dcn_TITscale1:
    case C::dcn_TITfloat: std::snprintf(text, sizeof text, "%8.3f", fValue); return text;
    default: return "!!!! не определен вывод величины";
    }
}

// ---- tags ----

TTagSignal::TTagSignal() : FIP_adrr4(SharedHost({})) {}

void TTagSignal::Init(std::string AName, int AAsduAddress, int AObjAddress, std::string IP_addr_host, int IP_POrt99,
                      PTagCategory ptc, int AIndArm, int Adouble_ts_val, int Nomer_TS_in_KP1, int Nomer_TIT_in_KP1)
{
    FName = std::move(AName);
    FAsduAddress = AAsduAddress;
    FObjAddress = AObjAddress;
    FIP_adrr4 = SharedHost(std::move(IP_addr_host));
    FPort4 = IP_POrt99;
    Value.ptc = ptc;
    FIndArm = AIndArm;
    Fdouble_ts_val2 = Adouble_ts_val == 1;
    Nomer_TS_in_KP = Nomer_TS_in_KP1;
    Nomer_TIT_in_KP = Nomer_TIT_in_KP1;
}

void TTagSignal::SetOnReceive(bool ReceiveEquival)
{
    if (!FprReceive) {
        FprReceive = true;
        MarkNew();
    } else if (!ReceiveEquival) {
        MarkNew();
    }
}

void TTagSignal::SetInvalid()
{
    if (Value.Qualit & QualityIV)
        return;
    Value.Qualit |= QualityIV;
    MarkNew();
}

void TTagSignal::MarkNew()
{
    FPrNew = true;
    // Set only while the list's lock is held, as every store is.
    if (owner_ && !inChanged_) {
        inChanged_ = true;
        owner_->changed_.push_back(index_);
    }
}

inline void TTagSignal::AfterStore(bool changed)
{
    SetOnReceive(!changed);
    if (FPrNew && owner_)
        owner_->Trace(*this);
}

std::string TTagSignal::ChangeTS1(PTypeIdent ptid, std::span<const std::uint8_t> buf, std::size_t offset, TDateTime dt,
                                  bool timeInvalid)
{
    if (!ptid)
        return "ChangeTS() нет типа";
    if (!ElementFits(ptid, buf, offset))
        return "ChangeTS() мало байт для кода=" + std::to_string(ptid->Code);
    std::uint8_t b = buf[offset];
    if (owner_)
        owner_->MarkReceive(*this);

    using N = NameTypeIdent;
    std::uint8_t mask;
    PTagCategory pdc;
    switch (ptid->Name) {
    case N::M_SP_NA:
    case N::M_SP_TA:
    case N::M_SP_TB:
        mask = 1;
        pdc = DataCategoryOf(C::dcn_SingleTS1);
        break;
    case N::M_DP_NA:
    case N::M_DP_TA:
    case N::M_DP_TB:
        mask = 3;
        pdc = DataCategoryOf(C::dcn_DoubleTS);
        // Intermediate and indeterminate states without any quality bit
        // count as invalid, unless the point is published with all four states.
        if (!Fdouble_ts_val2 && (b == 0 || b == 3))
            b = static_cast<std::uint8_t>(b + QualityIV);
        break;
    default: return "ChangeTS() не обрабатывает код=" + std::to_string(ptid->Code);
    }
    const auto state = static_cast<std::uint8_t>(b & mask);
    const std::uint8_t quality = StoredQuality(static_cast<std::uint8_t>(b & ~mask), timeInvalid);
    AfterStore(Replace(Value, &state, 1, quality, dt, ptid->qtype, pdc));
    return {};
}

std::string TTagSignal::ChangeVal(PTypeIdent ptid, std::span<const std::uint8_t> buf, std::size_t offset, TDateTime dt,
                                  bool timeInvalid)
{
    if (!ptid)
        return "ChangeVal(). Нет типа";
    TValRule rule;
    if (!FindValRule(ptid->Name, rule))
        return "ChangeVal(). Нет распаковки байта качества для кода:" + ptid->Text;
    if (!ElementFits(ptid, buf, offset))
        return "ChangeVal(). Мало байт для кода:" + ptid->Text;
    std::uint8_t quality = 0;
    if (rule.qualityAt >= 0)
        quality = buf[offset + static_cast<std::size_t>(rule.qualityAt)];
    const std::uint8_t counterStatus = rule.counter ? quality : 0;
    bool changed = Value.CounterStatus != counterStatus;
    Value.CounterStatus = counterStatus;
    if (rule.counter)
        quality &= CounterQualityBits;
    const PTagCategory pdc = DataCategoryOf(rule.pdc);
    const auto n = static_cast<std::size_t>(pdc->valuelen);
    // An element shorter than its category's value (no type of the table
    // has one) stores nothing but the status.
    if (buf.size() - offset >= n)
        changed = Replace(Value, buf.data() + offset, n, StoredQuality(quality, timeInvalid), dt, ptid->qtype, pdc)
                  || changed;
    AfterStore(changed);
    return {};
}

// ---- tag list ----

TTagSignalList::TTagSignalList(const TArmSignals* armSignals, TSstList* sstList, TMessBuff* trace)
    : armSignals_(armSignals), sstList_(sstList), trace_(trace)
{
}

void TTagSignalList::Clear()
{
    ++generation_;
    List.clear();
    index_.Clear();
    conns_.clear();
    changed_.clear();
    connCount_ = 0;
}

PTagSignal TTagSignalList::GetTag(int ind)
{
    return ind >= 0 && ind < Count() ? &List[static_cast<std::size_t>(ind)] : nullptr;
}

const TTagSignal* TTagSignalList::GetTag(int ind) const
{
    return ind >= 0 && ind < Count() ? &List[static_cast<std::size_t>(ind)] : nullptr;
}

int TTagSignalList::InternConn(const std::string& ip, int port)
{
    auto& ports = conns_[ip];
    for (const auto& [p, conn] : ports)
        if (p == port)
            return conn;
    ports.emplace_back(port, connCount_);
    return connCount_++;
}

void TTagSignalList::AddTag(const TTagSignal& ptg)
{
    TTagSignal& tag = List.emplace_back(ptg);
    tag.FPrNew = tag.FprReceive = tag.inChanged_ = false;
    tag.owner_ = this;
    tag.index_ = Count() - 1;
    tag.conn_ = InternConn(*tag.FIP_adrr4, tag.FPort4);
    tag.sstPos_ = sstList_ ? sstList_->FindSstInd(SstIdOf(tag)) : 0;
    ++generation_;
    // emplace keeps an existing entry, so the lowest index wins.
    index_.Insert({tag.conn_, tag.FAsduAddress, tag.FObjAddress}, Count() - 1);
}

int TTagSignalList::FindConn(std::string_view IPaddress, int IPPort) const
{
    const auto it = conns_.find(IPaddress);
    if (it == conns_.end())
        return -1;
    for (const auto& [p, conn] : it->second)
        if (p == IPPort)
            return conn;
    return -1;
}

int TTagSignalList::FindTag(int conn, int AsduAddress, int ObjAddress, PTagSignal& ptg)
{
    if (conn < 0)
        return -1;
    const int ind = index_.Find({conn, AsduAddress, ObjAddress});
    if (ind >= 0)
        ptg = &List[static_cast<std::size_t>(ind)];
    return ind;
}

int TTagSignalList::FindTag(const TTagIndex::TBlock& block, int ObjAddress, PTagSignal& ptg)
{
    const int ind = block.Find(ObjAddress);
    if (ind >= 0)
        ptg = &List[static_cast<std::size_t>(ind)];
    return ind;
}

int TTagSignalList::FindTag(int AsduAddress, int ObjAddress, std::string_view IPaddress10, int IPPort10,
                            PTagSignal& ptg)
{
    return FindTag(FindConn(IPaddress10, IPPort10), AsduAddress, ObjAddress, ptg);
}

std::string TTagSignalList::RaspakNewTag(PTypeIdent ptid, PTagSignal ptg0)
{
    if (!ptid || !ptg0)
        return "RaspakNewTag1() нет типа или тега";
    return Spread(ptid, *ptg0, ptg0->Value);
}

std::string TTagSignalList::ChangeBits8(PTypeIdent ptid, PTagSignal ptg0, std::span<const std::uint8_t> buf,
                                        std::size_t offset, TDateTime dt, bool timeInvalid)
{
    if (!ptid || !ptg0)
        return "RaspakNewTag1() нет типа или тега";
    if (!Is(ptg0->Value.ptc, C::tcn_TS)) {
        std::string text = ptg0->ChangeVal(ptid, buf, offset, dt, timeInvalid);
        return text.empty() ? RaspakNewTag(ptid, ptg0) : text;
    }
    // The byte is not stored into ptg0 first: ptg0 is also the point of bit
    // 0, and the next identical byte would differ from that bit again.
    TValue1 source = ptg0->Value;
    if (!ElementFits(ptid, buf, offset)
        || !source.SetParam1(buf, offset, StoredQuality(0, timeInvalid), true, dt, ptid->qtype,
                             DataCategory(C::dcn_TS8a)))
        return "ChangeVal(). Мало байт для кода:" + ptid->Text;
    return Spread(ptid, *ptg0, source);
}

std::string TTagSignalList::Spread(PTypeIdent ptid, const TTagSignal& ptg0, TValue1 source)
{
    std::string result;
    if (ptid->Name != NameTypeIdent::M_BO_TC) {
        result = "это не многопозиционная команда!";
    } else {
        const int ioa = ptg0.FObjAddress;
        for (int n = 0; n < 8; ++n) {
            PTagSignal target = nullptr;
            if (FindTag(ptg0.conn_, ptg0.FAsduAddress, ioa + n, target) < 0) {
                result = "Нет тега с адресом=" + std::to_string(ioa + n);
            } else if (result.empty() && !Is(target->Value.ptc, C::tcn_TS)) {
                result = "Не подходящий тип тега с адресом=" + std::to_string(ioa + n);
            } else if (result.empty()) {
                const TValue1 before = target->Value;
                target->Value.SetParam1(static_cast<std::uint8_t>(source.bv[n / 8] >> (n % 8) & 1), source.Qualit,
                                        source.prQualit, source.dt, TQualityType::Q0, DataCategory(C::dcn_TS8a));
                target->AfterStore(!target->Value.Equival(before));
            }
        }
    }
    if (result.empty())
        return result;
    return "RaspakNewTag1()" + result + " Код=" + std::to_string(ptid->Code);
}

bool TTagSignalList::ReadValue(int ind, TValue1& value) const
{
    if (ind < 0 || ind >= Count())
        return false;
    const auto lock = Lock();
    value = List[static_cast<std::size_t>(ind)].Value;
    return true;
}

bool TTagSignalList::TakeNew(int ind, TValue1& value)
{
    if (ind < 0 || ind >= Count())
        return false;
    const auto lock = Lock();
    TTagSignal& tag = List[static_cast<std::size_t>(ind)];
    if (!tag.FPrNew)
        return false;
    tag.FPrNew = false;
    value = tag.Value;
    return true;
}

void TTagSignalList::TakeChangedRange(int first, int end, std::vector<std::pair<int, TValue1>>& out)
{
    const auto lock = Lock();
    const auto taken =
        std::partition(changed_.begin(), changed_.end(), [&](int ind) { return ind < first || ind >= end; });
    std::sort(taken, changed_.end());
    for (auto it = taken; it != changed_.end(); ++it) {
        TTagSignal& tag = List[static_cast<std::size_t>(*it)];
        tag.inChanged_ = false;
        // TakeNew may have taken it since.
        if (!tag.FPrNew)
            continue;
        tag.FPrNew = false;
        out.emplace_back(*it, tag.Value);
    }
    changed_.erase(taken, changed_.end());
}

int TTagSignalList::SstIdOf(const TTagSignal& tag) const
{
    const TArmRec* rec = armSignals_ ? armSignals_->GetRec(tag.FIndArm) : nullptr;
    return rec ? rec->sstID() : 0;
}

void TTagSignalList::MarkReceive(const TTagSignal& tag)
{
    if (sstList_)
        sstList_->MarkSstReceiveAt(tag.sstPos_);
}

void TTagSignalList::Trace(const TTagSignal& tag)
{
    // The line is built only when the queue keeps it: this runs on every change.
    if (!trace_ || !trace_->Keeps(LogTagTrace))
        return;
    char addr[32];
    std::snprintf(addr, sizeof addr, "%04X:%06X", static_cast<unsigned>(tag.FAsduAddress),
                  static_cast<unsigned>(tag.FObjAddress));
    trace_->Put(LogTagTrace,
                std::string("(ptg1) New TS,TIT:(") + addr + "), ПС(" + std::to_string(SstIdOf(tag)) + ") " + tag.FName
                    + ", " + tag.Value.ToStringValue(),
                0);
}

} // namespace gw
