#include "service/cfgfile.h"

#include "core/asdu_layout.h"
#include "core/cp1251.h"
#include "core/kplist.h"
#include "core/prmn.h"
#include "core/signals.h"
#include "core/text.h"
#include "service/serviceinit.h"
#include "service/tables.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace gw {
namespace {

constexpr int MaxFields = 60;

struct TRange {
    std::int32_t min = std::numeric_limits<std::int32_t>::min();
    std::int32_t max = std::numeric_limits<std::int32_t>::max();
};
constexpr TRange AnyInt{};
constexpr TRange NonNegative{0, std::numeric_limits<std::int32_t>::max()};
constexpr TRange CommonAddress{0, MaxCfgCommonAddress};
constexpr TRange ObjectAddress{0, MaxCfgObjectAddress};
constexpr TRange PortNumber{0, 65535};
constexpr TRange Minutes{0, 525600}; // up to a year
constexpr TRange Hours{-24, 24};

// A field that makes its line unusable: the reader skips that line (for a
// "KP" line, the whole station) and reads on.
struct TLineFault {
    TConfigError error;
};

// The fields of one line, converted with the file's rules.
class TCfgFields {
public:
    TCfgFields(const std::string& file, int line, const TSplitArray& split, const TConfigComplaint& complain)
        : FFile(file), FLine(line), FSplit(split), FComplain(complain)
    {
    }

    std::string Text(int ind) const { return FSplit.GetField(ind); }

    // Must be there and an integer; else the line is refused.
    std::int32_t Required(int ind, const char* name, TRange range = AnyInt) const
    {
        const std::string text = Text(ind);
        if (text.empty())
            Fail(ind, name, "is missing");
        return Checked(ind, name, text, range);
    }
    // An empty or missing field gives def; a malformed one refuses the line.
    std::int32_t Optional(int ind, const char* name, std::int32_t def, TRange range = AnyInt) const
    {
        const std::string text = Text(ind);
        return text.empty() ? def : Checked(ind, name, text, range);
    }
    // A setting with a default: a malformed or out-of-range field gives def
    // too, with a complaint, and the line still counts.
    std::int32_t Def(int ind, const char* name, std::int32_t def, TRange range = AnyInt) const
    {
        const std::string text = Text(ind);
        if (text.empty())
            return def;
        try {
            return Checked(ind, name, text, range);
        } catch (const TLineFault& fault) {
            FComplain(fault.error, "the default " + std::to_string(def) + " is used");
            return def;
        }
    }
    // True only for 1; empty, missing or another number is false; text that
    // is no number is false with a complaint.
    bool Flag(int ind, const char* name) const { return Def(ind, name, 0) == 1; }

    // '.' or ',' as separator, whichever the field holds; empty is 0.
    double Float(int ind, const char* name) const
    {
        const std::string text = Text(ind);
        try {
            return ToFloat(text, '_');
        } catch (const EConvertError&) {
            Fail(ind, name, "\"" + text + "\" is not a number");
        }
    }

    // The address fits the field it is sent in: a wider one would be cut
    // to another station's or object's address.
    std::int32_t Fitting(int ind, const char* name, std::int32_t v, int bytes) const
    {
        if (!FitsLe(v, bytes))
            Fail(ind, name,
                 std::to_string(v) + " does not fit the station's " + std::to_string(bytes) + "-byte address field");
        return v;
    }

    TConfigError Fault(int ind, const char* name, const std::string& what) const
    {
        return TConfigError(FFile, FLine, "field " + std::to_string(ind) + " (" + name + ")", what);
    }
    [[noreturn]] void Fail(int ind, const char* name, const std::string& what) const
    {
        throw TLineFault{Fault(ind, name, what)};
    }

private:
    std::int32_t Checked(int ind, const char* name, const std::string& text, TRange range) const
    {
        std::int32_t v = 0;
        try {
            v = StrToInt(text);
        } catch (const EConvertError&) {
            Fail(ind, name, "\"" + text + "\" is not an integer");
        }
        if (v < range.min || v > range.max)
            Fail(ind, name, text + " is outside " + std::to_string(range.min) + ".." + std::to_string(range.max));
        return v;
    }

    const std::string& FFile;
    int FLine;
    const TSplitArray& FSplit;
    const TConfigComplaint& FComplain;
};

// Reads into its own copies; the caller takes them only when the whole file was read.
class TCfgReader {
public:
    TCfgReader(std::string file, const TConfigComplaint& complain, const TPrmnArray& prmn104, TOpcUaSettings opcUa)
        : FFile(std::move(file)), FComplain(complain ? complain : [](const TConfigError&, const std::string&) {})
    {
        Prmn104 = prmn104;
        Prmn104.resize(std::max(Prmn104.size(), PrmnCount));
        OpcUa = std::move(opcUa);
    }

    // False when the rest of the file is not to be read.
    bool Line(int lineNo, std::string_view raw)
    {
        const std::string_view text = TrimBlanks(raw);
        if (text.empty() || text.front() == ';') {
            if (FSkipStation)
                KeepForFile(lineNo, raw);
            return true;
        }
        FSplit.SplitString(text);
        const TCfgFields f(FFile, lineNo, FSplit, FComplain);
        const std::string keyword = f.Text(0);
        const SignalType kind = StrToSignalType(keyword);
        // A refused station's OPC UA lines are read all the same: the settings are global.
        if (FSkipStation && kind != SignalType::stKP)
            KeepForFile(lineNo, raw);
        if (OpcUaLine(kind, f))
            return true;
        try {
            if (kind == SignalType::stKP)
                return Kp(f, lineNo);
            if (!StationLine(kind) || FSkipStation)
                return true; // "SST", "VER", ... and unknown keywords carry nothing for us
            if (KpCount == 0)
                f.Fail(0, "keyword", "\"" + keyword + "\" before the first KP line belongs to no station");
            Station(kind, f);
        } catch (const TLineFault& fault) {
            FSkipStation = kind == SignalType::stKP;
            Keep(kind, lineNo, raw);
            FComplain(fault.error, FSkipStation ? "the station is skipped with its lines up to the next KP line"
                                                : "the line is skipped");
        }
        return true;
    }

    // The lines from the first one not read on, kept for the file.
    void KeepRest(const TTextFile& file, std::size_t first)
    {
        for (std::size_t i = first; i < file.lines.size(); ++i)
            KeepForFile(static_cast<int>(i) + 1, file.lines[i].text);
    }

    // A station with no "PRM_T" line of its own, in a file that has them,
    // would otherwise run on whatever its record held before.
    void Finish()
    {
        if (!PrmTFromCfg)
            return;
        for (int i = 1; i <= KpCount; ++i) {
            if (OwnPrmT[static_cast<std::size_t>(i)])
                continue;
            TPrmn& prm = Prmn104[static_cast<std::size_t>(i - 1)];
            const std::string name = prm.Name.Text();
            SetPrmnDefault(prm, PrmnKind104, KpTable[static_cast<std::size_t>(i)].IP, DefaultPrmnPort);
            prm.Name.SetText(name);
        }
    }

    std::vector<T_KP> KpTable = std::vector<T_KP>(1);
    int KpCount = 0;
    TPrmnArray Prmn104;
    bool PrmTFromCfg = false;
    TOpcUaSettings OpcUa;
    std::vector<TKeptCfgLine> KeptCfgLines; // of no station

private:
    static constexpr std::int32_t DefaultPrmnPort = 2404;

    void KeepForFile(int lineNo, std::string_view raw)
    {
        KeptCfgLines.push_back(TKeptCfgLine{std::string(raw), lineNo, KpCount, false});
    }

    // A refused line: a station's point or measured value stays with its
    // station, anything else with the file.
    void Keep(SignalType kind, int lineNo, std::string_view raw)
    {
        if (kind == SignalType::stKP || KpCount == 0) {
            KeepForFile(lineNo, raw);
            return;
        }
        T_KP& kp = KpTable[static_cast<std::size_t>(KpCount)];
        const bool measured = kind == SignalType::stTIT;
        kp.KeptCfgLines.push_back(TKeptCfgLine{std::string(raw), lineNo, measured ? kp.Kol_TI : kp.Kol_TS, measured});
    }

    static bool StationLine(SignalType kind)
    {
        switch (kind) {
        case SignalType::stPRM_T:
        case SignalType::stPER:
        case SignalType::stTIM:
        case SignalType::stPOPR:
        case SignalType::stOPROS:
        case SignalType::stOPROS_101:
        case SignalType::stCLOCK_SYNC_103:
        case SignalType::stIP2:
        case SignalType::stPORT2:
        case SignalType::stPASSIV:
        case SignalType::stsend_start_DT:
        case SignalType::stTS:
        case SignalType::stTIT: return true;
        default: return false;
        }
    }

    bool OpcUaLine(SignalType kind, const TCfgFields& f)
    {
        switch (kind) {
        case SignalType::stOPC_UA_use: OpcUa.OPC_UA_use = f.Flag(1, "OPC_UA_use"); return true;
        case SignalType::stOPC_UA_writable: OpcUa.OPC_UA_writable = f.Flag(1, "OPC_UA_writable"); return true;
        case SignalType::stOPC_UA_by_pwd: OpcUa.OPC_UA_by_pwd = f.Flag(1, "OPC_UA_by_pwd"); return true;
        case SignalType::stOPC_UA_Control_podkl:
            OpcUa.OPC_UA_Control_podkl = f.Flag(1, "OPC_UA_Control_podkl");
            return true;
        case SignalType::stOPC_UA_Port: OpcUa.OPC_UA_Port = f.Def(1, "OPC_UA_Port", 16670, PortNumber); return true;
        case SignalType::stOPC_UA_username: OpcUa.OPC_UA_username = f.Text(1); return true;
        case SignalType::stOPC_UA_password: OpcUa.OPC_UA_password = f.Text(1); return true;
        case SignalType::stOPC_UA_Timeout_of_control:
            OpcUa.OPC_UA_Timeout_of_control = f.Def(1, "OPC_UA_Timeout_of_control", 16670);
            return true;
        default: return false;
        }
    }

    bool Kp(const TCfgFields& f, int lineNo)
    {
        const std::int32_t asduAdr = f.Required(1, "ASDU_Adr", CommonAddress);
        f.Required(2, "KP number");
        if (KpCount == MaxKpCount) {
            FComplain(TConfigError(FFile, lineNo, "", "more than " + std::to_string(MaxKpCount) + " stations"),
                      "this KP line and the rest of the file are not read");
            return false;
        }
        FSkipStation = false;
        ++KpCount;
        T_KP& kp = KpTable.emplace_back();
        kp.ASDU_Adr = asduAdr;
        kp.NameKP = f.Text(3);
        kp.IP = f.Text(4);
        kp.TS_arr.resize(1);
        kp.TI_arr.resize(1);
        OwnPrmT.resize(static_cast<std::size_t>(KpCount) + 1, false);
        TPrmn& prm = Prmn104[static_cast<std::size_t>(KpCount - 1)];
        prm.Host.SetText(kp.IP);
        prm.Name.SetText(kp.NameKP);
        return true;
    }

    void Station(SignalType kind, const TCfgFields& f)
    {
        T_KP& kp = KpTable[static_cast<std::size_t>(KpCount)];
        switch (kind) {
        case SignalType::stPRM_T: PrmT(f, kp); break;
        case SignalType::stPER: kp.PereschetTI = f.Flag(1, "PereschetTI"); break;
        case SignalType::stTIM: kp.Time_To_OPC = f.Flag(1, "Time_To_OPC"); break;
        case SignalType::stPOPR: kp.Popravka_Time = f.Def(1, "Popravka_Time", 0, Hours); break;
        case SignalType::stOPROS: kp.OPROS_KP = f.Def(1, "OPROS_KP", 0, Minutes); break;
        case SignalType::stOPROS_101:
            kp.Interval_opros_counters_101 = f.Def(1, "Interval_opros_counters_101", 0, Minutes);
            break;
        case SignalType::stCLOCK_SYNC_103:
            kp.Interval_CLOCK_SYNC_103 = f.Def(1, "Interval_CLOCK_SYNC_103", 0, Minutes);
            break;
        case SignalType::stIP2: kp.IP2 = f.Text(1); break;
        case SignalType::stPORT2: kp.Port2 = f.Def(1, "Port2", 0, PortNumber); break;
        case SignalType::stPASSIV: kp.Passive = f.Flag(1, "Passive"); break;
        case SignalType::stsend_start_DT: kp.send_start_DT_passiv = f.Flag(1, "send_start_DT_passiv"); break;
        case SignalType::stTS: Ts(f, kp); break;
        case SignalType::stTIT: Ti(f, kp); break;
        default: break;
        }
    }

    // Fields 1, 2 and 5 of a "TS" or "TIT" line are checked, not kept.
    static void SignalHead(const TCfgFields& f)
    {
        f.Required(1, "station identifier");
        f.Required(2, "station address");
        f.Required(5, "constant");
    }

    // The widths the station's addresses are sent with, when the file gives
    // them before its signals; else the widest the fields allow.
    TAsduLayout Widths() const
    {
        if (!OwnPrmT[static_cast<std::size_t>(KpCount)])
            return TAsduLayout::Make(2, 2, 3);
        const TPrmn& p = Prmn104[static_cast<std::size_t>(KpCount - 1)];
        return TAsduLayout::Make(p.sz_COT, p.sz_ASDUAddress, p.sz_InfObjAddress);
    }

    // The line was read whole; only now does it count.
    void Counted(const TCfgFields& f)
    {
        if (++FSignals > MaxCfgSignals)
            throw f.Fault(0, "keyword", "more than " + std::to_string(MaxCfgSignals) + " signals in the file");
    }

    void Ts(const TCfgFields& f, T_KP& kp)
    {
        SignalHead(f);
        const TAsduLayout w = Widths();
        T_TS ts;
        ts.NameTS = DelQuotes(f.Text(4));
        ts.AdrASDU = f.Fitting(6, "AdrASDU", f.Optional(6, "AdrASDU", 0, CommonAddress), w.szCa);
        ts.AdrIOA = f.Fitting(7, "AdrIOA", f.Optional(7, "AdrIOA", 0, ObjectAddress), w.szIoa);
        ts.AdrASDU_TU = f.Fitting(8, "AdrASDU_TU", f.Optional(8, "AdrASDU_TU", 0, CommonAddress), w.szCa);
        ts.AdrIOA_TU = f.Fitting(9, "AdrIOA_TU", f.Optional(9, "AdrIOA_TU", 0, ObjectAddress), w.szIoa);
        ts.Type_TU = f.Optional(10, "Type_TU", 0, {0, 3});
        ts.Type_Var = f.Optional(11, "Type_Var", 0);
        Counted(f);
        kp.TS_arr.push_back(std::move(ts));
        ++kp.Kol_TS;
    }

    void Ti(const TCfgFields& f, T_KP& kp)
    {
        SignalHead(f);
        const TAsduLayout w = Widths();
        T_TI ti;
        ti.NameTI = DelQuotes(f.Text(4));
        ti.AdrASDU = f.Fitting(6, "AdrASDU", f.Optional(6, "AdrASDU", 0, CommonAddress), w.szCa);
        ti.AdrIOA = f.Fitting(7, "AdrIOA", f.Optional(7, "AdrIOA", 0, ObjectAddress), w.szIoa);
        ti.Min_Eng_Diap = f.Float(8, "Min_Eng_Diap");
        ti.Max_Eng_Diap = f.Float(9, "Max_Eng_Diap");
        ti.Min_TM_Diap = f.Float(14, "Min_TM_Diap");
        ti.Max_TM_Diap = f.Float(15, "Max_TM_Diap");
        ti.Znak_for_norm = f.Optional(16, "Znak_for_norm", 0);
        Counted(f);
        kp.TI_arr.push_back(std::move(ti));
        ++kp.Kol_TI;
    }

    void PrmT(const TCfgFields& f, T_KP& kp)
    {
        TPrmn& p = Prmn104[static_cast<std::size_t>(KpCount - 1)];
        p.Port = f.Def(1, "Port", 1, PortNumber);
        p.t0 = f.Def(2, "t0", 30000, NonNegative);
        p.t1 = f.Def(3, "t1", 15000, NonNegative);
        p.t2 = f.Def(4, "t2", 10000, NonNegative);
        p.t3 = f.Def(5, "t3", 20000, NonNegative);
        p.kMax = f.Def(6, "kMax", 12, {0, 32767});
        p.wMax = f.Def(7, "wMax", 8, {0, 32767});
        p.ReceiveBufferLength = f.Def(8, "ReceiveBufferLength", 100, NonNegative);
        p.OriginatorAddress = f.Def(9, "OriginatorAddress", 0, {0, 255});
        p.LinkAddress1 = f.Def(10, "LinkAddress1", 0);
        p.sz_LinkAddress = f.Def(11, "sz_LinkAddress", 0, {0, 2});
        p.PollingCycle = f.Def(12, "PollingCycle", 0);
        p.ConfirmationTimeout = f.Def(13, "ConfirmationTimeout", 5000, NonNegative);
        p.TerminationTimeout = f.Def(14, "TerminationTimeout", 30000, NonNegative);
        p.RetryCount = f.Def(15, "RetryCount", 3, NonNegative);
        p.RetryTimeOut = f.Def(16, "RetryTimeOut", 20000, NonNegative);
        p.CommonAsduAddress = f.Def(17, "CommonAsduAddress", 1, CommonAddress);
        p.sz_ASDUAddress = f.Def(18, "sz_ASDUAddress", 2, {0, 2});
        p.sz_InfObjAddress = f.Def(19, "sz_InfObjAddress", 3, {0, 3});
        p.sz_COT = f.Def(20, "sz_COT", 2, {0, 2});
        p.ClockSinhronizationTime = f.Def(21, "ClockSinhronizationTime", 30);
        kp.Port = p.Port;
        PrmTFromCfg = true;
        OwnPrmT[static_cast<std::size_t>(KpCount)] = true;
    }

    std::string FFile;
    TConfigComplaint FComplain;
    TSplitArray FSplit{MaxFields, ','};
    std::vector<bool> OwnPrmT = std::vector<bool>(1, false);
    bool FSkipStation = false; // the lines of a station whose KP line was refused
    int FSignals = 0;
};

// Builds the file line by line; a value that the reader would not give back
// the same is refused with an error naming where it is.
class TCfgWriter {
public:
    explicit TCfgWriter(std::string file) : FFile(std::move(file)) {}

    void Add(std::string line) { FLines.push_back({std::move(line), false}); }
    // A line kept from the reading: written as it stood, never checked.
    void AddKept(std::string line) { FLines.push_back({std::move(line), true}); }

    // A field the reader splits at commas and quotes and trims.
    std::string Plain(const std::string& where, const std::string& text) const
    {
        Check(where, text);
        if (text.find_first_of(",\"") != std::string::npos || TrimBlanks(text).size() != text.size())
            Fail(where, "\"" + text + "\" has a comma, a '\"' or blanks at its ends, which would not read back");
        return text;
    }
    // A name in double quotes: commas and blanks are safe there, quotes are not.
    std::string Quoted(const std::string& where, const std::string& text) const
    {
        Check(where, text);
        if (text.find('"') != std::string::npos)
            Fail(where, "\"" + text + "\" has a '\"', which would not read back");
        return "\"" + text + "\"";
    }
    std::string Real(const std::string& where, double v) const
    {
        if (!std::isfinite(v))
            Fail(where, "is not a finite number");
        return FloatToText(v);
    }

    [[noreturn]] void Fail(const std::string& where, const std::string& what) const
    {
        throw TConfigError(FFile, 0, where, what);
    }

    struct TLine {
        std::string text;
        bool kept;
    };
    const std::vector<TLine>& Lines() const { return FLines; }

private:
    void Check(const std::string& where, const std::string& text) const
    {
        for (char c : text)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
                Fail(where, "holds a control character");
        if (!FitsCp1251(text))
            Fail(where, "\"" + text + "\" holds a character that Windows-1251 lacks");
    }

    std::string FFile;
    std::vector<TLine> FLines;
};

// Rows 1..count of a 1-based table are there.
template <class Rows>
bool HoldsRows(const Rows& rows, int count)
{
    return count == 0 || (count > 0 && static_cast<std::size_t>(count) < rows.size());
}

std::string Bit(bool b) { return b ? "1" : "0"; }

std::string Str(std::int32_t v) { return std::to_string(v); }

// The OPC UA lines in the order they are written.
constexpr SignalType OpcUaKinds[] = {SignalType::stOPC_UA_use,      SignalType::stOPC_UA_writable,
                                     SignalType::stOPC_UA_by_pwd,   SignalType::stOPC_UA_Control_podkl,
                                     SignalType::stOPC_UA_Port,     SignalType::stOPC_UA_password,
                                     SignalType::stOPC_UA_username, SignalType::stOPC_UA_Timeout_of_control};

// The line of an OPC UA setting; nothing for another kind of line.
std::optional<std::string> OpcUaLineText(const TCfgWriter& w, SignalType kind, const TOpcUaSettings& u)
{
    switch (kind) {
    case SignalType::stOPC_UA_use: return "OPC_UA_use," + Bit(u.OPC_UA_use);
    case SignalType::stOPC_UA_writable: return "OPC_UA_writable," + Bit(u.OPC_UA_writable);
    case SignalType::stOPC_UA_by_pwd: return "OPC_UA_by_pwd," + Bit(u.OPC_UA_by_pwd);
    case SignalType::stOPC_UA_Control_podkl: return "OPC_UA_Control_podkl," + Bit(u.OPC_UA_Control_podkl);
    case SignalType::stOPC_UA_Port: return "OPC_UA_Port," + Str(u.OPC_UA_Port);
    case SignalType::stOPC_UA_password: return "OPC_UA_password," + w.Plain("OPC_UA_password", u.OPC_UA_password);
    case SignalType::stOPC_UA_username: return "OPC_UA_username," + w.Plain("OPC_UA_username", u.OPC_UA_username);
    case SignalType::stOPC_UA_Timeout_of_control:
        return "OPC_UA_Timeout_of_control," + Str(u.OPC_UA_Timeout_of_control);
    default: return std::nullopt;
    }
}

void WriteOpcUa(TCfgWriter& w, const TOpcUaSettings& u)
{
    for (const SignalType kind : OpcUaKinds)
        w.Add(*OpcUaLineText(w, kind, u));
}

bool IsOpcUaKind(SignalType kind)
{
    return std::find(std::begin(OpcUaKinds), std::end(OpcUaKinds), kind) != std::end(OpcUaKinds);
}

SignalType KeptLineKind(const std::string& text)
{
    TSplitArray split{MaxFields, ','};
    split.SplitString(TrimBlanks(text));
    return StrToSignalType(split.GetField(0));
}

// Writes kept lines back in their places while the lines around them are
// written. The lines come in file order, so their places only grow.
class TKeptLines {
public:
    // Those of lines that pass, placed among count lines.
    TKeptLines(const std::vector<TKeptCfgLine>& lines, int count, const std::function<bool(const TKeptCfgLine&)>& pass)
        : FCount(count)
    {
        for (const TKeptCfgLine& line : lines)
            if (pass(line))
                FLines.push_back(&line);
    }

    // Those that stood after the n-th line (or after the last, for a place
    // beyond the lines there are now). An OPC UA line of a refused station
    // is written with the settings as they are now: the reader takes it,
    // and the old value would undo a change made since.
    void Upto(TCfgWriter& w, int n, const TOpcUaSettings& opcUa)
    {
        for (; FNext < FLines.size() && std::min(FLines[FNext]->after, FCount) <= n; ++FNext) {
            const std::string& text = FLines[FNext]->text;
            w.AddKept(OpcUaLineText(w, KeptLineKind(text), opcUa).value_or(text));
        }
    }

private:
    int FCount;
    std::vector<const TKeptCfgLine*> FLines;
    std::size_t FNext = 0;
};

std::string PrmTLine(const TPrmn& p)
{
    // clang-format off
    const std::int32_t fields[] = {p.Port, p.t0, p.t1, p.t2, p.t3, p.kMax, p.wMax, p.ReceiveBufferLength,
                                   p.OriginatorAddress, p.LinkAddress1, p.sz_LinkAddress, p.PollingCycle,
                                   p.ConfirmationTimeout, p.TerminationTimeout, p.RetryCount, p.RetryTimeOut,
                                   p.CommonAsduAddress, p.sz_ASDUAddress, p.sz_InfObjAddress, p.sz_COT,
                                   p.ClockSinhronizationTime};
    // clang-format on
    std::string line = "PRM_T";
    for (std::int32_t v : fields) {
        line += ','; // not "," + Str(v): GCC 12 at -O3 warns falsely (-Wrestrict) about that
        line += Str(v);
    }
    return line;
}

void WriteStation(TCfgWriter& w, const TServiceContext& t, int i, const TOpcUaSettings& opcUa)
{
    const T_KP& kp = t.Stations.KpTable[static_cast<std::size_t>(i)];
    const std::string at = "station " + Str(i) + " ";
    if (!HoldsRows(kp.TS_arr, kp.Kol_TS) || !HoldsRows(kp.TI_arr, kp.Kol_TI))
        w.Fail(at + "Kol_TS/Kol_TI", "the counts do not match the signal rows");
    const std::string head =
        Str(kp.ASDU_Adr) + ",1," + w.Plain(at + "NameKP", kp.NameKP) + "," + w.Plain(at + "IP", kp.IP);
    w.Add("KP," + head);
    w.Add(PrmTLine(t.Channels.Prmn104[static_cast<std::size_t>(i - 1)]));
    w.Add(";PORT," + head + "," + Str(kp.Port));
    w.Add("PER," + Bit(kp.PereschetTI));
    w.Add("TIM," + Bit(kp.Time_To_OPC));
    w.Add("POPR," + Str(kp.Popravka_Time));
    w.Add("OPROS," + Str(kp.OPROS_KP));
    w.Add("OPROS_101," + Str(kp.Interval_opros_counters_101));
    w.Add("CLOCK_SYNC_103," + Str(kp.Interval_CLOCK_SYNC_103));
    w.Add("IP2," + w.Plain(at + "IP2", kp.IP2));
    w.Add("PORT2," + Str(kp.Port2));
    w.Add("PASSIV," + Bit(kp.Passive));
    w.Add("send_start_DT," + Bit(kp.send_start_DT_passiv));
    WriteOpcUa(w, opcUa);
    const std::string station = Str(StationId(i)) + "," + Str(kp.ASDU_Adr) + ",,";
    TKeptLines keptTs(kp.KeptCfgLines, kp.Kol_TS, [](const TKeptCfgLine& l) { return !l.measured; });
    TKeptLines keptTi(kp.KeptCfgLines, kp.Kol_TI, [](const TKeptCfgLine& l) { return l.measured; });
    keptTs.Upto(w, 0, opcUa);
    for (int n = 1; n <= kp.Kol_TS; ++n) {
        const T_TS& ts = kp.TS_arr[static_cast<std::size_t>(n)];
        w.Add("TS," + station + w.Quoted(at + "point " + Str(n) + " NameTS", ts.NameTS) + ",8272," + Str(ts.AdrASDU)
              + "," + Str(ts.AdrIOA) + "," + Str(ts.AdrASDU_TU) + "," + Str(ts.AdrIOA_TU) + "," + Str(ts.Type_TU) + ","
              + Str(ts.Type_Var));
        keptTs.Upto(w, n, opcUa);
    }
    keptTi.Upto(w, 0, opcUa);
    for (int n = 1; n <= kp.Kol_TI; ++n) {
        const T_TI& ti = kp.TI_arr[static_cast<std::size_t>(n)];
        const std::string where = at + "value " + Str(n) + " ";
        const std::string range =
            w.Real(where + "Min_Eng_Diap", ti.Min_Eng_Diap) + "," + w.Real(where + "Max_Eng_Diap", ti.Max_Eng_Diap);
        w.Add("TIT," + station + w.Quoted(where + "NameTI", ti.NameTI) + ",8280," + Str(ti.AdrASDU) + ","
              + Str(ti.AdrIOA) + "," + range + "," + range + "," + range + ","
              + w.Real(where + "Min_TM_Diap", ti.Min_TM_Diap) + "," + w.Real(where + "Max_TM_Diap", ti.Max_TM_Diap)
              + "," + Str(ti.Znak_for_norm));
        keptTi.Upto(w, n, opcUa);
    }
}

void ReadLines(TCfgReader& reader, const TTextFile& file)
{
    for (std::size_t i = 0; i < file.lines.size(); ++i)
        if (!reader.Line(static_cast<int>(i) + 1, file.lines[i].text)) {
            reader.KeepRest(file, i);
            break;
        }
    reader.Finish();
}

} // namespace

bool ReadIec104Cfg(TServiceContext& ctx, TOpcUaSettings& opcUa, const std::filesystem::path& dir,
                   const std::string& fileName, const TConfigComplaint& complain)
{
    const std::filesystem::path path = dir / fileName;
    TTextFile file;
    if (!LoadTextFile(path, file))
        return false;
    TCfgReader reader(path.string(), complain, ctx.Channels.Prmn104, opcUa);
    ReadLines(reader, file);
    // Everything read: only now does anything change.
    ctx.Stations.KpTable = std::move(reader.KpTable);
    ctx.Stations.KpCount = reader.KpCount;
    ctx.Stations.KeptCfgLines = std::move(reader.KeptCfgLines);
    ctx.Channels.Prmn104 = std::move(reader.Prmn104);
    ctx.Switches.PrmTFromCfg = reader.PrmTFromCfg;
    opcUa = std::move(reader.OpcUa);
    return true;
}

std::vector<const TKeptCfgLine*> SkippedCfgLines(const TStationTables& t)
{
    std::vector<const TKeptCfgLine*> skipped;
    const auto add = [&skipped](const std::vector<TKeptCfgLine>& lines) {
        for (const TKeptCfgLine& line : lines) {
            const std::string_view text = TrimBlanks(line.text);
            if (!text.empty() && text.front() != ';' && !IsOpcUaKind(KeptLineKind(line.text)))
                skipped.push_back(&line);
        }
    };
    add(t.KeptCfgLines);
    for (int i = 1; i <= t.KpCount; ++i)
        add(t.KpTable[static_cast<std::size_t>(i)].KeptCfgLines);
    std::sort(skipped.begin(), skipped.end(),
              [](const TKeptCfgLine* a, const TKeptCfgLine* b) { return a->lineNo < b->lineNo; });
    return skipped;
}

int CheckIec104Cfg(std::string_view bytes)
{
    TTextFile file;
    ParseTextFile(bytes, Iec104CfgFileName, file);
    const TConfigComplaint refuse = RefuseComplaints();
    TCfgReader reader(Iec104CfgFileName, refuse, MakePrmn104(), TOpcUaSettings{});
    ReadLines(reader, file);
    return reader.KpCount;
}

std::function<void(TServiceContext&)> Iec104CfgReader(TOpcUaSettings& opcUa)
{
    // The service init and its start read the same file one after the
    // other: what the last reading said is not said again.
    auto said = std::make_shared<std::vector<std::string>>();
    return [&opcUa, said](TServiceContext& ctx) {
        const std::string dir = ctx.Process.FilePath("");
        std::vector<std::string> lines;
        const TConfigComplaint complain = LogComplaints([&lines](const std::string& line) { lines.push_back(line); });
        const auto tell = [&] {
            if (lines != *said)
                for (const std::string& line : lines)
                    AppendServiceLine(ctx, line, "log_iec104.txt");
            *said = std::move(lines);
        };
        try {
            if (!ReadIec104Cfg(ctx, opcUa, dir.empty() ? "." : dir, Iec104CfgFileName, complain))
                AppendObmenLine(ctx, std::string("No file  FileName ") + Iec104CfgFileName, "log_104.txt");
        } catch (const TConfigError& e) {
            tell();
            AppendServiceLine(ctx, e.what(), "error_iec104.txt");
            throw;
        }
        tell();
    };
}

void WriteIec104Cfg(const TServiceContext& ctx, const TOpcUaSettings& opcUa, const std::filesystem::path& dir,
                    const std::string& fileName)
{
    const std::filesystem::path path = dir / fileName;
    TCfgWriter w(path.string());
    if (ctx.Stations.KpCount > MaxKpCount || !HoldsRows(ctx.Stations.KpTable, ctx.Stations.KpCount)
        || ctx.Channels.Prmn104.size() < static_cast<std::size_t>(ctx.Stations.KpCount))
        w.Fail("KpCount", Str(ctx.Stations.KpCount) + " stations, the file holds 0.." + Str(MaxKpCount));
    const TStationTables& t = ctx.Stations;
    // Refused stations are stations of the file all the same.
    const auto refused = std::count_if(t.KeptCfgLines.begin(), t.KeptCfgLines.end(),
                                       [](const TKeptCfgLine& l) { return KeptLineKind(l.text) == SignalType::stKP; });
    w.Add(";kol," + Str(t.KpCount + static_cast<std::int32_t>(refused)));
    TKeptLines kept(t.KeptCfgLines, t.KpCount, [](const TKeptCfgLine&) { return true; });
    kept.Upto(w, 0, opcUa);
    for (int i = 1; i <= t.KpCount; ++i) {
        WriteStation(w, ctx, i, opcUa);
        kept.Upto(w, i, opcUa);
    }
    if (t.KpCount == 0)
        WriteOpcUa(w, opcUa); // the settings are global; they must survive a file without stations

    // A number the reader would not take as written (an address or port out
    // of range, say) must not make a file that the next start reads otherwise.
    // The kept lines are refused as they were at the reading, and skipped.
    const TConfigComplaint refuse = RefuseComplaints();
    TCfgReader check(path.string() + " as it would be written", refuse, ctx.Channels.Prmn104, opcUa);
    std::string text;
    for (std::size_t n = 0; n < w.Lines().size(); ++n) {
        const TCfgWriter::TLine& line = w.Lines()[n];
        if (!line.kept)
            check.Line(static_cast<int>(n) + 1, line.text);
        text += line.text + "\r\n";
    }
    WriteFileReplacing(path, Utf8ToCp1251(text));
}

} // namespace gw
