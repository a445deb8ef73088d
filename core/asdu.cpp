#include "core/asdu.h"

#include "core/cp56.h"
#include "core/iec104codes.h"
#include "core/infoobj.h"
#include "core/logcategories.h"
#include "core/messbuff.h"
#include "core/tags.h"

#include <algorithm>
#include <cstdio>

namespace gw {

namespace {

using N = NameTypeIdent;
constexpr int kNameCount = static_cast<int>(N::M_CB_TC) + 1;

constexpr std::array<TObjAction, kNameCount> MakeActions()
{
    std::array<TObjAction, kNameCount> a{};
    auto set = [&a](std::initializer_list<N> names, TObjAction act) {
        for (N n : names)
            a[static_cast<int>(n)] = act;
    };
    set({N::M_SP_NA, N::M_SP_TA, N::M_DP_NA, N::M_DP_TA, N::M_SP_TB, N::M_DP_TB}, TObjAction::StoreTS);
    set({N::M_ST_NA, N::M_ST_TA, N::M_BO_NA, N::M_BO_TA, N::M_ME_NA, N::M_ME_TA, N::M_ME_NB,
         N::M_ME_TB, N::M_ME_NC, N::M_ME_TC, N::M_PS_NA, N::M_ME_ND, N::M_ST_TB, N::M_BO_TB,
         N::M_ME_TD, N::M_ME_TE, N::M_ME_TF, N::M_IT_NA, N::M_IT_TA, N::M_IT_TB},
        TObjAction::StoreVal);
    set({N::M_BO_TC}, TObjAction::StoreBits8);
    set({N::C_SC_NA, N::C_DC_NA}, TObjAction::Confirm);
    set({N::C_IC_NA}, TObjAction::GiDone);
    set({N::C_CD_NA}, TObjAction::Delay);
    set({N::M_EI_NA, N::C_CS_NA}, TObjAction::Silent);
    return a;
}
constexpr auto kActions = MakeActions();

TObjAction ActionOf(N name)
{
    auto i = static_cast<std::size_t>(name);
    return i < kActions.size() ? kActions[i] : TObjAction::Unhandled;
}

// In a sequence each M_BO_TC element covers eight single points.
int AddressStep(TObjAction act) { return act == TObjAction::StoreBits8 ? 8 : 1; }

void Log(TMessBuff* log, std::uint32_t category, const std::string& text, const TClock& clock)
{
    if (log != nullptr)
        log->Put(category, text, clock.Now());
}

std::string Hex(int value, int digits)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*X", digits, static_cast<unsigned>(value));
    return buf;
}

} // namespace

TIEC_ASDUt::TIEC_ASDUt(std::span<const std::uint8_t> frame, int offset, int length, const TAsduLayout& layout,
                       const TTypeIdentList& types)
    : FLength(length), FLayout(layout), FTypes(&types)
{
    if (offset < 0 || length < 0 || static_cast<std::size_t>(offset) + static_cast<std::size_t>(length) > frame.size()
        || length > kMaxAsduLen)
        return;
    const std::uint8_t* asdu = frame.data() + offset;
    auto h = ReadAsduHeader(asdu, length, layout);
    if (!h)
        return;
    FHeaderOk = true;
    FCode = h->type;
    ptid = types.FindTypeIdent(h->type);
    SeqNumb1 = h->vsq;
    COT = h->cot;
    OriginatorAddress = h->originator;
    ASDUAddress = h->ca;
    nelem = SeqNumb1 & 0x7F;
    lenData = length - layout.FixedLen();
    FView = asdu + layout.FixedLen();
    if (lenData >= layout.szIoa)
        ObjAddress = ReadLe(FView, layout.szIoa);
}

TIEC_ASDUt::TIEC_ASDUt(int code, int SeqNumb, int cot, int asduAddress, int objAddress,
                       std::span<const std::uint8_t> data, const TAsduLayout& layout, const TTypeIdentList& types)
    : SeqNumb1(SeqNumb), COT(cot), Data1{}, ptid(types.FindTypeIdent(code)), ObjAddress(objAddress),
      OriginatorAddress(layout.originator), ASDUAddress(asduAddress), nelem(SeqNumb & 0x7F), FCode(code),
      FLayout(layout), FTypes(&types), FHeaderOk(true), FBuilt(true)
{
    lenData = static_cast<int>(std::min(data.size(), Data1.size()));
    std::copy_n(data.begin(), lenData, Data1.begin());
}

int TIEC_ASDUt::Encode(std::span<std::uint8_t> out) const
{
    if (!FHeaderOk)
        return 0;
    const int ioa = FBuilt ? FLayout.szIoa : 0; // received data hold their addresses
    const int total = FLayout.FixedLen() + ioa + lenData;
    if (total > kMaxAsduLen || static_cast<std::size_t>(total) > out.size())
        return 0;
    // An address cut to its field would name another station or object.
    if (!FitsLe(ASDUAddress, FLayout.szCa) || !FitsLe(ObjAddress, ioa))
        return 0;
    TAsduHeader h{FCode, SeqNumb1, COT, OriginatorAddress, ASDUAddress};
    int pos = WriteAsduHeader(out.data(), h, FLayout);
    WriteLe(out.data() + pos, ioa, ObjAddress);
    std::copy_n(Data().begin(), lenData, out.begin() + pos + ioa);
    return total;
}

void TIEC_ASDUt::ReceiveRaspak1(const TRaspakContext& ctx)
{
    if (!FHeaderOk) {
        Log(ctx.log, LogError, "(err) ReceiveRaspak() неверная длина ASDU=" + std::to_string(FLength), ctx.clock);
        return;
    }
    if (ptid == nullptr)
        return;
    // A test transmission (T = 1) checks the link, not the process: its
    // values must not stand in the tags as if the station had measured them.
    if (COT & CotTestBit) {
        Log(ctx.log, LogObjects,
            "(iec2) ReceiveRaspak() кадр с битом теста (T=1) не сохраняется, тип=" + std::to_string(FCode), ctx.clock);
        return;
    }
    BlockAddress = 0;
    BlockDate = 0;
    FBlockTimeInvalid = false;
    auto plan = PlanObjects(lenData, nelem, isSeqence(), ptid->objlen, ptid->timelen, FLayout.szIoa);
    if (!plan) {
        Log(ctx.log, LogError, "(err) ReceiveRaspak() ошибка в размере блока" + ptid->Text, ctx.clock);
        return;
    }
    if (plan->sequence) {
        BlockAddress = ReadLe(Data().data(), FLayout.szIoa);
        if (plan->sharedTime) {
            const auto at = static_cast<std::size_t>(plan->TimeAt(0, lenData));
            GetDate(Data(), at, BlockDate, ptid->timelen, ctx.clock, ctx.log);
            FBlockTimeInvalid = TimeTagInvalid(Data(), at, ptid->timelen);
        }
    }
    const TObjAction act = ActionOf(ptid->Name);
    auto lock = ctx.tags.Lock();
    const int conn = TagConn == ConnByAddress ? ctx.tags.FindConn(IP_address2, IP_port3) : TagConn;
    const TTagIndex::TBlock tags = ctx.tags.Block(conn, ASDUAddress);
    // The tags of all objects first, each read from memory at once: the tags
    // of one frame lie far apart, and so their reads overlap.
    std::array<TObject, 128> objects; // a VSQ counts up to 127
    for (int i = 0; i < plan->count; ++i) {
        TObject& o = objects[static_cast<std::size_t>(i)];
        o.addr = plan->sequence ? BlockAddress + i * AddressStep(act)
                                : ReadLe(Data().data() + plan->AddressAt(i), FLayout.szIoa);
        o.tag = nullptr;
        if (act == TObjAction::StoreTS || act == TObjAction::StoreVal || act == TObjAction::StoreBits8)
            if (ctx.tags.FindTag(tags, o.addr, o.tag) >= 0)
                __builtin_prefetch(o.tag, 1);
    }
    for (int i = 0; i < plan->count; ++i) {
        std::string text = RaspakInformObject(*plan, i, act, objects[static_cast<std::size_t>(i)], ctx);
        if (!text.empty())
            Log(ctx.log, LogObjects, "(iec2) " + text, ctx.clock);
    }
}

std::string TIEC_ASDUt::RaspakInformObject(const TObjectPlan& plan, int ielem, TObjAction act, const TObject& object,
                                           const TRaspakContext& ctx)
{
    const int addr = object.addr;
    const auto elem = static_cast<std::size_t>(plan.ElementAt(ielem));
    switch (act) {
    case TObjAction::StoreTS:
    case TObjAction::StoreVal:
    case TObjAction::StoreBits8: {
        const PTagSignal ptg = object.tag;
        if (ptg == nullptr) {
            // Objects nobody configured are common (a station sends more than
            // is polled): their line costs two conversions, so only when kept.
            if (ctx.log == nullptr || !ctx.log->Keeps(LogObjects))
                return {};
            return "Нет адреса " + Hex(ASDUAddress, 4) + ":" + Hex(addr, 6)
                   + " для бработки принятого кадра с типом=" + std::to_string(FCode);
        }
        bool timeInvalid = false;
        // Most values come without a time tag: no call for them.
        const TDateTime dt = plan.timeLen > 0 || plan.sharedTime ? ElementTime(plan, ielem, ctx, timeInvalid) : 0;
        if (act == TObjAction::StoreTS)
            return ptg->ChangeTS1(ptid, Data(), elem, dt, timeInvalid);
        if (act == TObjAction::StoreBits8)
            return ctx.tags.ChangeBits8(ptid, ptg, Data(), elem, dt, timeInvalid);
        return ptg->ChangeVal(ptid, Data(), elem, dt, timeInvalid);
    }
    case TObjAction::Confirm:
        if ((COT & CotNegativeBit) != 0)
            return "отрицательное подтверждение ТУ. Адрес=" + std::to_string(addr) + " COT=" + std::to_string(COT);
        if (COT == CotActivationCon)
            return "подтверждение активации ТУ. Адрес=" + std::to_string(addr);
        if (COT == CotActivationTerm)
            return "завершение активации ТУ. Адрес=" + std::to_string(addr);
        return {};
    case TObjAction::GiDone: return "КП сообщает о завершении Команды опроса";
    case TObjAction::Delay: return "Кадр задержки не ждали. Игнорируем";
    case TObjAction::Silent: return {};
    case TObjAction::Unhandled: break;
    }
    return "Нет обработки принятого кадра с типом=" + std::to_string(FCode);
}

TDateTime TIEC_ASDUt::ElementTime(const TObjectPlan& plan, int ielem, const TRaspakContext& ctx,
                                  bool& timeInvalid) const
{
    TDateTime dt = 0;
    if (plan.sharedTime) {
        dt = BlockDate;
        timeInvalid = FBlockTimeInvalid;
    } else if (plan.timeLen > 0) {
        const auto at = static_cast<std::size_t>(plan.TimeAt(ielem, lenData));
        GetDate(Data(), at, dt, plan.timeLen, ctx.clock, ctx.log);
        timeInvalid = TimeTagInvalid(Data(), at, plan.timeLen);
    }
    // A time the station itself calls wrong would stand as the moment of the
    // value: the moment it arrived is the best there is.
    if (timeInvalid)
        dt = ctx.clock.Now();
    return dt;
}

std::string TIEC_ASDUt::ToString() const
{
    if (ptid == nullptr)
        return {};
    std::string s = "TypeIdent=(" + std::to_string(FCode) + ")" + ptid->Text;
    s += isSeqence() ? ", SQ=1" : ", SQ=0";
    s += ", ASDUAddr=" + Hex(ASDUAddress, 4) + ", ObjAddr=" + Hex(ObjAddress, 6);
    s += " nelem=" + std::to_string(nelem) + " COT=" + std::to_string(COT);
    // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) about
    // a literal put before a temporary string.
    s += '(';
    if (COT < TTypeIdentList::CauseCount && FTypes != nullptr)
        s += FTypes->CauseName(COT);
    else
        s.append(11, '?');
    s += ')';
    return s;
}

namespace {

TIEC_ASDUt StationRequest(int code, std::uint8_t qualifier, int commonAddress, const TAsduLayout& layout,
                          const TTypeIdentList& types)
{
    const std::uint8_t element[1] = {qualifier};
    return TIEC_ASDUt(code, 1, CotActivation, commonAddress, 0, element, layout, types);
}

} // namespace

TIEC_ASDUt BuildInterrogation(int commonAddress, const TAsduLayout& layout, const TTypeIdentList& types)
{
    return StationRequest(TypeInterrogation, QoiStation, commonAddress, layout, types);
}

TIEC_ASDUt BuildCounterInterrogation(int commonAddress, const TAsduLayout& layout, const TTypeIdentList& types)
{
    return StationRequest(TypeCounterInterrogation, QccGeneralNoFreeze, commonAddress, layout, types);
}

TIEC_ASDUt BuildClockSync(int commonAddress, TDateTime t, const TAsduLayout& layout, const TTypeIdentList& types)
{
    std::array<std::uint8_t, CP56Size> time{};
    DateTimeToCP56(time, t);
    return TIEC_ASDUt(TypeClockSync, 1, CotActivation, commonAddress, 0, time, layout, types);
}

bool StampClockSync(std::span<std::uint8_t> asdu, const TAsduLayout& layout, TDateTime t)
{
    const std::size_t at = static_cast<std::size_t>(layout.FixedLen() + layout.szIoa);
    if (asdu.size() < at + CP56Size || asdu[0] != TypeClockSync || asdu[2] != CotActivation)
        return false;
    DateTimeToCP56(asdu.subspan(at).first<CP56Size>(), t);
    return true;
}

} // namespace gw
