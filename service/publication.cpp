#include "service/publication.h"

#include "core/tags.h"
#include "service/serviceinit.h"

#include <exception>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace gw {

namespace {

constexpr std::int32_t QualityGood = 0xC0;
constexpr std::int32_t QualityBad = 0x00;

// A tag's readings as GetArmValue gives them.
struct TReading {
    int iValue = 0, quality = 0, iDouble = 0;
    double fValue = 0;
    TDateTime dt = 0;
};

// A station's connection as its channel last left it, read at once under the
// channel lock.
struct TLinkView {
    bool connected = false;
    TDateTime since = 0; // when connected last changed
    std::uint32_t drops = 0;
    TDateTime dropTime = 0;
    std::uint32_t invalidations = 0; // of the channel's tags
};

// One publication pass: the pushes go to the bridge only while it runs, and
// a failing push is dropped alone.
class TPass {
public:
    explicit TPass(TServiceContext& ctx)
        : ctx_(ctx), run_(*ctx.Running.Run), now_(ctx.Process.Clock->Now()),
          ua_(ctx.Switches.OpcUaRunning ? ctx.Parts.OpcUa() : nullptr)
    {
    }

    void Station(int i);
    void Lifebit();

private:
    TLinkView Link(int i);
    // What the station lost since the last pass, published first, even when
    // it is connected again by now.
    void Losses(TStationSeen& seen, const T_KP& kp, const TLinkView& link);
    void InvalidItems(const T_KP& kp, TDateTime stamp);
    // Stored and pushed when it changes, and always when announce is set.
    void ConnectedItem(const T_KP& kp, int c, TDateTime stamp, bool announce = false);
    void Point(const T_KP& kp, const TTagSignal& tag, const TReading& r, int c, TDateTime connectedStamp);
    void Measured(const T_KP& kp, const TTagSignal& tag, const TArmRec& rec, const TReading& r);
    TDateTime Stamp(const T_KP& kp, const TReading& r) const;
    // Row id of the item table, written under its lock; false beyond the table.
    bool Store(int id, double value, std::int32_t quality, TDateTime stamp);
    // A signal's row: value, quality and stamp; the stamp, none beyond the table.
    std::optional<TDateTime> StoreSignal(const T_KP& kp, int id, double value, const TReading& r);
    // A signal to the bridge: its value with its status, whatever the
    // status, so a client never keeps a value older than the quality it sees.
    void PushSignal(int id, int type, int iValue, double dValue, const TReading& r, TDateTime stamp, TDateTime server);
    template <class Push>
    void ToUa(Push push)
    {
        if (!ua_)
            return;
        try {
            push(*ua_);
        } catch (const std::exception&) {
        }
    }

    TServiceContext& ctx_;
    TServiceRun& run_;
    TDateTime now_;
    TOpcUaBridge* ua_;
    std::vector<std::pair<int, TValue1>> changed_; // one station's changed tags, reused
};

TLinkView TPass::Link(int i)
{
    TLinkView v = ctx_.Channels.WithChannel(i, [&](const TClient104Frm* link) {
        const T_KP& kp = ctx_.Stations.KpTable[static_cast<std::size_t>(i)];
        return TLinkView{kp.Connected, kp.Connected_Time, kp.Drop_Count, kp.Drop_Time,
                         link ? link->Invalidations() : 0};
    });
    if (v.since <= 0)
        v.since = now_;
    if (v.dropTime <= 0)
        v.dropTime = now_;
    return v;
}

void TPass::Losses(TStationSeen& seen, const T_KP& kp, const TLinkView& link)
{
    if (link.drops != seen.drops) {
        seen.drops = link.drops;
        ConnectedItem(kp, 0, link.dropTime);
    }
    // The tags may hold the next connection's values already.
    if (link.invalidations != seen.invalidations) {
        seen.invalidations = link.invalidations;
        InvalidItems(kp, link.dropTime);
    }
}

void TPass::InvalidItems(const T_KP& kp, TDateTime stamp)
{
    auto invalid = [&](int id) {
        {
            std::lock_guard<std::mutex> guard(ctx_.Items.OpcItemsLock);
            TIndent& row = ctx_.Items.OpcItems[static_cast<std::size_t>(id)];
            row.Quality = QualityBad;
            row.Stamp_DateTime = stamp;
        }
        ToUa([&](TOpcUaBridge& ua) { ua.SetQuality(id, TOpcUaBridge::StatusBad, stamp, now_); });
    };
    for (int id = kp.Nom_OPC_TS; id < kp.Nom_OPC_TS + kp.Kol_TS && ctx_.Items.IsOpcItem(id); ++id)
        invalid(id);
    for (int id = kp.Nom_OPC_TI; id < kp.Nom_OPC_TI + kp.Kol_TI && ctx_.Items.IsOpcItem(id); ++id)
        invalid(id);
}

bool TPass::Store(int id, double value, std::int32_t quality, TDateTime stamp)
{
    if (!ctx_.Items.IsOpcItem(id))
        return false;
    std::lock_guard<std::mutex> guard(ctx_.Items.OpcItemsLock);
    ctx_.Items.OpcItemValues[static_cast<std::size_t>(id)] = value;
    TIndent& row = ctx_.Items.OpcItems[static_cast<std::size_t>(id)];
    row.Quality = quality;
    row.Stamp_DateTime = stamp;
    return true;
}

std::optional<TDateTime> TPass::StoreSignal(const T_KP& kp, int id, double value, const TReading& r)
{
    const TDateTime stamp = Stamp(kp, r);
    if (!Store(id, value, OpcQualityOf(r.quality), stamp))
        return std::nullopt;
    return stamp;
}

void TPass::ConnectedItem(const T_KP& kp, int c, TDateTime stamp, bool announce)
{
    const int id = kp.Nom_OPC_Alarm;
    if (!ctx_.Items.IsOpcItem(id))
        return;
    if (!announce) {
        // The row may still hold what another numbering left in it.
        std::lock_guard<std::mutex> guard(ctx_.Items.OpcItemsLock);
        if (ctx_.Items.OpcItemValues[static_cast<std::size_t>(id)] == c
            && ctx_.Items.OpcItems[static_cast<std::size_t>(id)].Quality == QualityGood)
            return;
    }
    Store(id, c, QualityGood, stamp);
    // The only failure that ends the pass, as an error of the bridge here means it is gone.
    if (ua_)
        ua_->SetValue(0, id, c, c, 0, stamp, now_);
}

TDateTime TPass::Stamp(const T_KP& kp, const TReading& r) const
{
    // A time tag marked invalid left the reception time in the tag: it is
    // our own clock's, so the station's correction does not apply to it.
    if (!kp.Time_To_OPC || (r.quality & QualityTimeInvalid) != 0)
        return now_;
    const TDateTime tagTime = r.dt;
    const TDateTime t = tagTime + kp.Popravka_Time * OneHour;
    const TDateTime window = StampWindowHours * OneHour;
    if (tagTime > 0 && t > now_ - window && t < now_ + window)
        return t;
    return now_;
}

void TPass::PushSignal(int id, int type, int iValue, double dValue, const TReading& r, TDateTime stamp,
                       TDateTime server)
{
    const std::uint32_t status = UaStatusOf(r.quality);
    ToUa([&](TOpcUaBridge& ua) { ua.SetValue(type, id, iValue, dValue, status, stamp, server); });
}

void TPass::Point(const T_KP& kp, const TTagSignal& tag, const TReading& r, int c, TDateTime connectedStamp)
{
    const bool dbl = tag.double_ts_val2() == 1;
    const int v = dbl ? r.iDouble : r.iValue;
    const int id = kp.Nom_OPC_TS + tag.Nomer_TS_in_KP - 1;
    const auto stamp = StoreSignal(kp, id, v, r);
    if (!stamp)
        return;
    PushSignal(id, dbl ? 5 : 0, v, v, r, *stamp, *stamp);
    // "Connected" changed when the link did, not when the point did.
    ToUa([&](TOpcUaBridge& ua) { ua.SetValue(0, kp.Nom_OPC_Alarm, c, c, 0, connectedStamp, now_); });
}

void TPass::Measured(const T_KP& kp, const TTagSignal& tag, const TArmRec& rec, const TReading& r)
{
    const int n = tag.Nomer_TIT_in_KP;
    const bool integer =
        n >= 1 && n < static_cast<int>(kp.TI_arr.size()) && kp.TI_arr[static_cast<std::size_t>(n)].Znak_for_norm == 1;
    const double raw = integer ? r.iValue : r.fValue;
    const double v = kp.PereschetTI ? rec.RawToEng(raw) : raw;
    const int id = kp.Nom_OPC_TI + n - 1;
    if (const auto stamp = StoreSignal(kp, id, v, r))
        PushSignal(id, 10, 0, v, r, *stamp, now_);
}

void TPass::Station(int i)
{
    const T_KP& kp = ctx_.Stations.KpTable[static_cast<std::size_t>(i)];
    const TLinkView link = Link(i);
    const int c = link.connected ? 1 : 0;
    const auto row = static_cast<std::size_t>(i);
    TStationSeen* seen = row < run_.PublishedLink.size() ? &run_.PublishedLink[row] : nullptr;
    if (seen)
        Losses(*seen, kp, link);
    // The bridge's variables start without a value: the first pass of a run
    // gives each station's, also when the item table holds it already.
    ConnectedItem(kp, c, link.since, seen && !seen->announced);
    if (seen)
        seen->announced = true;
    if (static_cast<std::size_t>(i) >= run_.StationTags.size())
        return;
    const auto [first, end] = run_.StationTags[static_cast<std::size_t>(i)];
    changed_.clear();
    run_.TagSignalList.TakeChangedRange(first, end, changed_);
    for (const auto& [t, value] : changed_) {
        const TTagSignal& tag = *run_.TagSignalList.GetTag(t);
        const TArmRec* rec = run_.ArmSignals.GetRec(tag.IndArm());
        if (!rec)
            continue;
        TReading r;
        value.GetArmValue(r.iValue, r.quality, r.iDouble, r.fValue, r.dt);
        if (rec->st() == SignalType::stTS)
            Point(kp, tag, r, c, link.since);
        else if (rec->st() == SignalType::stTIT)
            Measured(kp, tag, *rec, r);
    }
}

void TPass::Lifebit()
{
    if (!ua_ || ua_->LifebitId() <= 0)
        return;
    const int s = TimeOfDayMs(now_) / 1000 % 60;
    ToUa([&](TOpcUaBridge& ua) { ua.SetValue(5, ua.LifebitId(), s, s, 0, now_, now_); });
}

} // namespace

std::int32_t OpcQualityOf(int iecQuality)
{
    if (iecQuality & QualityIV)
        return QualityBad;
    if (iecQuality & QualityNT)
        return 0x14;
    if (iecQuality & QualitySB)
        return 0xD8;
    if (iecQuality & QualityBL)
        return 0x1C;
    return QualityGood;
}

std::uint32_t UaStatusOf(int iecQuality)
{
    using B = TOpcUaBridge;
    if (iecQuality & QualityIV)
        return B::StatusBad;
    if (iecQuality & QualityNT)
        return B::StatusUncertainLastUsableValue;
    if (iecQuality & QualityOV)
        return B::StatusUncertainEngineeringUnitsExceeded;
    if (iecQuality & (QualityBL | QualityTimeInvalid))
        return B::StatusUncertain;
    if (iecQuality & QualitySB)
        return B::StatusGoodLocalOverride;
    return 0;
}

void PushOpcValues(TServiceContext& ctx)
{
    if (!ctx.Running.Run)
        return;
    TPass pass(ctx);
    for (int i = 1; i <= ctx.Stations.KpCount; ++i)
        pass.Station(i);
    pass.Lifebit();
}

void InvalidateOpcItems(TServiceContext& ctx)
{
    const TDateTime now = ctx.Process.Clock->Now();
    std::lock_guard<std::mutex> guard(ctx.Items.OpcItemsLock);
    auto mark = [&](int id, std::int32_t quality) {
        TIndent& row = ctx.Items.OpcItems[static_cast<std::size_t>(id)];
        row.Quality = quality;
        row.Stamp_DateTime = now;
    };
    for (int i = 1; i <= ctx.Stations.KpCount; ++i) {
        const T_KP& kp = ctx.Stations.KpTable[static_cast<std::size_t>(i)];
        if (ctx.Items.IsOpcItem(kp.Nom_OPC_Alarm)) {
            ctx.Items.OpcItemValues[static_cast<std::size_t>(kp.Nom_OPC_Alarm)] = 0;
            mark(kp.Nom_OPC_Alarm, QualityGood);
        }
        for (int id = kp.Nom_OPC_TS; id < kp.Nom_OPC_TS + kp.Kol_TS && ctx.Items.IsOpcItem(id); ++id)
            mark(id, QualityBad);
        for (int id = kp.Nom_OPC_TI; id < kp.Nom_OPC_TI + kp.Kol_TI && ctx.Items.IsOpcItem(id); ++id)
            mark(id, QualityBad);
    }
}

} // namespace gw
