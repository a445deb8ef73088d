#pragma once
// The value store of the controlling station: one tag per configured point or
// measured value, with its address, raw value bytes, quality byte, time stamp
// and changed flag, and the categories that classify it.
//
// Locking: one mutex per tag list guards every tag's value and flags. The
// receive path takes Lock() once per ASDU and then finds and stores; readers on
// other threads use ReadValue or TakeNew, which lock by themselves. Names,
// addresses and the list itself change only while the service starts or
// stops, so reading them needs no lock.

#include "core/datetime.h"
#include "core/stable_list.h"
#include "core/tagindex.h"
#include "core/typeident.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace gw {

class TArmSignals;
class TSstList;
class TMessBuff;

// tcn_ values are signal categories (what the configuration says a signal is),
// dcn_ values data categories (how the last received value is encoded).
// clang-format off
enum class TagCategName : std::uint8_t {
    tcn_TS, tcn_TIT, tcn_TII, tcn_TU,
    dcn_SingleTS1, dcn_DoubleTS, dcn_TITnorm, dcn_TITscale1, dcn_TITfloat, dcn_TII, dcn_Diskr7,
    dcn_TS8a, dcn_TS32, dcn_TS16IZM
};
// clang-format on

struct TTagCategory {
    TagCategName tcName;
    int valuelen; // value bytes kept and compared for this category
    std::string_view FDescr;
};

// Categories are constants: a reference stays valid for the whole process.
using PTagCategory = const TTagCategory*;

class TTagCategoryList {
public:
    // Variant 1: the signal categories; any other value: the data categories.
    explicit TTagCategoryList(int variant);

    int Count() const { return static_cast<int>(List.size()); }
    // The category of that name in this list, nullptr when the list has none.
    PTagCategory GetPtc(TagCategName tcName) const;

    std::vector<PTagCategory> List;
};

// The data category of that name, as every store takes it.
PTagCategory DataCategory(TagCategName tcName);

// The quality descriptor bits (SIQ, DIQ, QDS) as the stored quality byte
// holds them: invalid, not topical, substituted, blocked, overflow.
constexpr std::uint8_t QualityIV = 0x80, QualityNT = 0x40, QualitySB = 0x20, QualityBL = 0x10, QualityOV = 0x01;

// A bit of the stored quality byte that no quality descriptor uses (bit 3 is
// reserved in SIQ, DIQ and QDS): the value's time tag arrived marked invalid,
// so the stored time is the reception time instead.
constexpr std::uint8_t QualityTimeInvalid = 0x08;

// The value of one tag: raw bytes as received, lowest address first. The
// byte-sized fields come last, so there is no padding between them (one
// value per signal).
struct TValue1 {
    PTagCategory ptc = nullptr; // signal category, set when the tag is bound
    PTagCategory pdc = nullptr; // data category of the last store, nullptr before
    TDateTime dt = 0;           // 0: no time received yet
    std::array<std::uint8_t, 8> bv{};
    TQualityType qtype = TQualityType::Q0;
    bool prQualit = false;      // a quality byte has been stored
    std::uint8_t Qualit = 0x80; // IV until the first quality arrives
    // Integrated totals: the status byte as received (sequence number in bits
    // 0..4, CY, CA, IV). Only its IV is quality; the rest tells about the
    // reading and is kept for whoever shows it.
    std::uint8_t CounterStatus = 0;

    // Stores one value byte; a dt2 of 0 keeps the earlier time stamp, and
    // prQual false keeps the earlier quality.
    void SetParam1(std::uint8_t bt, std::uint8_t Quality, bool prQual, TDateTime dt2, TQualityType qtype,
                   PTagCategory pdc);
    // The same with the category's value bytes copied from buf at offset;
    // false, and nothing stored, when buf holds fewer bytes.
    bool SetParam1(std::span<const std::uint8_t> buf, std::size_t offset, std::uint8_t Quality, bool prQual,
                   TDateTime dt2, TQualityType qtype, PTagCategory pdc);

    // True when nothing that matters changed against LastValue: the quality
    // (when this value has one), a total's status and the category's value bytes.
    bool Equival(const TValue1& LastValue) const;

    // The readings every server takes (see tags.cpp for the table per category).
    void GetArmValue(int& iValue, int& Quality, int& iValue_DoubleTS, double& fValue, TDateTime& dtStamp) const;
    bool GetTsValue(int& ival) const;
    bool GetTitValue(double& fval) const;
    std::string ToStringValue() const;
};

class TTagSignalList;

// What a store touches (the value, the list, the substation, the flags)
// fills the first cache line of a tag; names and addresses follow. A tag
// holds its host as a pointer to one process-wide copy of the text: there
// are few stations and one tag per signal.
class alignas(64) TTagSignal {
public:
    TTagSignal();

    void Init(std::string AName, int AAsduAddress, int AObjAddress, std::string IP_addr_host, int IP_POrt99,
              PTagCategory ptc, int AIndArm, int Adouble_ts_val, int Nomer_TS_in_KP1, int Nomer_TIT_in_KP1);

    // Stores a single or double point (M_SP_*, M_DP_*); "" or an error text.
    // timeInvalid: dt is the reception time standing in for a time tag that
    // came marked invalid; the quality keeps QualityTimeInvalid.
    std::string ChangeTS1(PTypeIdent ptid, std::span<const std::uint8_t> buf, std::size_t offset, TDateTime dt,
                          bool timeInvalid = false);
    // Stores every other monitored type; "" or an error text.
    std::string ChangeVal(PTypeIdent ptid, std::span<const std::uint8_t> buf, std::size_t offset, TDateTime dt,
                          bool timeInvalid = false);
    // The first store marks the tag changed; later ones only when not ReceiveEquival.
    void SetOnReceive(bool ReceiveEquival);
    // Marks the value invalid (IV) and changed, unless it already is invalid.
    void SetInvalid();
    void GetArmValue(int& iValue, int& Quality, int& iValue_DoubleTS, double& fValue, TDateTime& dtStamp) const
    {
        Value.GetArmValue(iValue, Quality, iValue_DoubleTS, fValue, dtStamp);
    }

    bool prNew() const { return FPrNew; }
    bool prReceive() const { return FprReceive; }
    const std::string& Name() const { return FName; }
    int AsduAddress() const { return FAsduAddress; }
    int ObjAddress() const { return FObjAddress; }
    int IndArm() const { return FIndArm; }
    int Port4() const { return FPort4; }
    const std::string& IP_adrr4() const { return *FIP_adrr4; }
    int double_ts_val2() const { return Fdouble_ts_val2 ? 1 : 0; }

    TValue1 Value;

private:
    friend class TTagSignalList;

    // After a store: the changed flag, and the trace line when it is set.
    void AfterStore(bool changed);
    // Sets the changed flag and puts the tag on its list's changed set.
    void MarkNew();

    // Ordered so that nothing is padded: there is one tag per signal.
    TTagSignalList* owner_ = nullptr; // the list that holds the tag, if any
    int sstPos_ = 0;                  // the position of its substation in the list's TSstList, 0: none
    int conn_ = -1;                   // the list's number of (FIP_adrr4, FPort4)
    int index_ = -1;                  // where the list holds the tag
    bool FPrNew = false;
    bool FprReceive = false;
    bool inChanged_ = false;      // on the list's changed set
    bool Fdouble_ts_val2 = false; // a double point shown as one value (double_ts_val 1)
    std::string FName;
    const std::string* FIP_adrr4;
    int FAsduAddress = 0;
    int FObjAddress = 0;
    int FIndArm = 0;
    int FPort4 = 0;

public:
    int Nomer_TS_in_KP = 0;
    int Nomer_TIT_in_KP = 0;
};

using PTagSignal = TTagSignal*;

class TTagSignalList {
public:
    // armSignals and sstList let a point store mark its substation as
    // receiving; trace takes the "(ptg1) New TS,TIT" lines (nullptr: none).
    // Tags are added after the records and substations they belong to: a
    // tag looks its substation up once, as it is added.
    explicit TTagSignalList(const TArmSignals* armSignals = nullptr, TSstList* sstList = nullptr,
                            TMessBuff* trace = nullptr);
    TTagSignalList(const TTagSignalList&) = delete;
    TTagSignalList& operator=(const TTagSignalList&) = delete;

    int Count() const { return static_cast<int>(List.size()); }
    void Clear();
    // nullptr outside 0..Count()-1; a tag stays where it is until Clear.
    PTagSignal GetTag(int ind);
    const TTagSignal* GetTag(int ind) const;
    // Appends a copy of ptg (unchanged, not yet received); duplicates are kept,
    // and a lookup finds the first of them.
    void AddTag(const TTagSignal& ptg);

    // Index of the first tag with these addresses, -1 when none (ptg untouched).
    int FindTag(int AsduAddress, int ObjAddress, std::string_view IPaddress10, int IPPort10, PTagSignal& ptg);
    // The same split for a whole ASDU: the connection once, then each
    // object. FindConn gives -1 when no tag arrives on that connection.
    int FindConn(std::string_view IPaddress, int IPPort) const;
    // Changes with every AddTag and Clear: a connection number found while
    // it stays the same still holds, so a receiver finds it once.
    std::uint64_t Generation() const { return generation_; }
    int FindTag(int conn, int AsduAddress, int ObjAddress, PTagSignal& ptg);
    // The connection and common address once, then each object by its address.
    TTagIndex::TBlock Block(int conn, int AsduAddress) const
    {
        return conn < 0 ? TTagIndex::TBlock() : index_.Block(conn, AsduAddress);
    }
    int FindTag(const TTagIndex::TBlock& block, int ObjAddress, PTagSignal& ptg);

    // Spreads the 8 bits of an M_BO_TC tag over the point tags at its address
    // and the seven after it; "" or an error text.
    std::string RaspakNewTag(PTypeIdent ptid, PTagSignal ptg0);
    // Stores a received M_BO_TC element found at ptg0's address. A point tag
    // there is the first of the eight points: the byte goes straight to the
    // spread, so that each point, ptg0 included, holds its own bit and
    // counts as changed only when that bit or the quality changed. Any other
    // tag keeps the byte (ChangeVal) and the spread reports it.
    std::string ChangeBits8(PTypeIdent ptid, PTagSignal ptg0, std::span<const std::uint8_t> buf, std::size_t offset,
                            TDateTime dt, bool timeInvalid = false);

    // Held around every store, and around reads that must see several tags at once.
    std::unique_lock<std::mutex> Lock() const { return std::unique_lock<std::mutex>(mutex_); }
    // A consistent copy of tag ind's value, false outside the list.
    bool ReadValue(int ind, TValue1& value) const;
    // When tag ind is marked changed: clears the mark, copies the value, true.
    bool TakeNew(int ind, TValue1& value);
    // TakeNew for every tag in [first, end) under one lock: appends the
    // (index, value) of each changed one to out, in list order. It touches
    // only the tags marked changed since they were last taken, not every tag
    // of the range.
    void TakeChangedRange(int first, int end, std::vector<std::pair<int, TValue1>>& out);

private:
    friend class TTagSignal;

    // source is a copy: ptg0 itself is the point of bit 0.
    std::string Spread(PTypeIdent ptid, const TTagSignal& ptg0, TValue1 source);
    int InternConn(const std::string& ip, int port);
    int SstIdOf(const TTagSignal& tag) const;
    void MarkReceive(const TTagSignal& tag);
    void Trace(const TTagSignal& tag);

    TStableList<TTagSignal> List;
    TTagIndex index_;
    std::map<std::string, std::vector<std::pair<int, int>>, std::less<>> conns_; // ip -> (port, conn)
    std::vector<int> changed_; // indexes of the tags marked changed, each once
    int connCount_ = 0;
    std::uint64_t generation_ = 1;
    const TArmSignals* armSignals_;
    TSstList* sstList_;
    TMessBuff* trace_;
    mutable std::mutex mutex_;
};

} // namespace gw
