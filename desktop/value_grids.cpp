#include "desktop/value_grids.h"

#include "core/signals.h"
#include "core/tags.h"
#include "core/text.h"
#include "desktop/texts.h"
#include "service/serviceinit.h"
#include "service/tables.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <mutex>

namespace gw::desktop {

namespace {

constexpr int StationIdBase = 1000; // signal records name their station k + 1000

std::vector<std::string> Row(const char* const (&headers)[6]) { return {std::begin(headers), std::end(headers)}; }

std::vector<std::string> Row(const char* const (&headers)[7]) { return {std::begin(headers), std::end(headers)}; }

std::string Address(int ca, int ioa) { return std::to_string(ca) + "," + std::to_string(ioa); }

// Sets a cell only when it differs: most cells stay the same from one
// refresh to the next, and a string assignment of equal text still copies.
void Put(std::string& cell, const std::string& text)
{
    if (cell != text)
        cell = text;
}

// Under station k's channel lock; link is its link object, null while it has none.
void ConnectionRow(TServiceContext& ctx, int k, const TClient104Frm* link, std::vector<std::string>& row)
{
    const T_KP& kp = ctx.Stations.KpTable[static_cast<std::size_t>(k)];
    Put(row[3], kp.Connected.Get() ? texts::Connected : texts::NotConnected);
    if (!kp.Passive) {
        if (kp.Port_tek > 0)
            Put(row[4], kp.IP_tek + ":" + std::to_string(kp.Port_tek));
        return;
    }
    // The listening server is the link's port: it holds at most one station connection.
    const TLinkPort* server = link ? link->pcl()->PSocket().port : nullptr;
    if (!ctx.Channels.PassiveServers[static_cast<std::size_t>(k)].Opened || !server)
        return;
    Put(row[4], texts::PortPrefix + std::to_string(kp.Port));
    Put(row[5], texts::ConnectionsPrefix + std::to_string(server->IsConnected() ? 1 : 0));
}

struct TReading {
    int iValue = 0, quality = 0, alt = 0;
    double fValue = 0;
    TDateTime stamp = 0;
};

void PointRow(const T_KP& kp, const TTagSignal& tag, const TReading& r, std::vector<std::string>& row)
{
    Put(row[1], tag.Name());
    Put(row[2], Address(tag.AsduAddress(), tag.ObjAddress()));
    Put(row[3], std::to_string(tag.double_ts_val2() == 1 ? r.alt : r.iValue));
    Put(row[4], std::to_string(r.quality));
    if (r.stamp > 1.0)
        Put(row[5], GridTime(r.stamp, kp.Popravka_Time));
}

void MeasuredRow(const T_KP& kp, int m, const TTagSignal& tag, const TArmRec& rec, const TReading& r,
                 std::vector<std::string>& row)
{
    double v = r.fValue;
    double e = kp.PereschetTI ? rec.RawToEng(std::trunc(v)) : v;
    if (kp.TI_arr[static_cast<std::size_t>(m)].Znak_for_norm == 1) {
        v = r.alt;
        e = rec.RawToEng(r.alt);
    }
    Put(row[1], tag.Name());
    Put(row[2], Address(tag.AsduAddress(), tag.ObjAddress()));
    Put(row[3], FloatToText(v));
    Put(row[4], std::to_string(r.quality));
    Put(row[5], EngText(e));
    if (r.stamp > 1.0)
        Put(row[6], GridTime(r.stamp, kp.Popravka_Time));
}

void TagRows(const TServiceRun& run, const T_KP& kp, int k, TValueGrids& grids)
{
    if (static_cast<std::size_t>(k) >= run.StationTags.size())
        return;
    const auto [first, end] = run.StationTags[static_cast<std::size_t>(k)];
    int p = 0, m = 0;
    for (int t = first; t < end; ++t) {
        const TTagSignal* tag = run.TagSignalList.GetTag(t);
        const TArmRec* rec = tag ? run.ArmSignals.GetRec(tag->IndArm()) : nullptr;
        if (!rec || rec->sstID() != k + StationIdBase)
            continue;
        // Fresh for every tag: a tag never stored leaves them untouched.
        TReading r;
        tag->GetArmValue(r.iValue, r.quality, r.alt, r.fValue, r.stamp);
        if (rec->st() == SignalType::stTS) {
            ++p;
            if (p <= kp.Kol_TS && static_cast<std::size_t>(p + 1) < grids.ts.size())
                PointRow(kp, *tag, r, grids.ts[static_cast<std::size_t>(p + 1)]);
        } else if (rec->st() == SignalType::stTIT) {
            ++m;
            if (m <= kp.Kol_TI && static_cast<std::size_t>(m) < grids.ti.size())
                MeasuredRow(kp, m, *tag, *rec, r, grids.ti[static_cast<std::size_t>(m)]);
        }
    }
}

} // namespace

TValueGrids StationGrids(const TServiceContext& ctx, int k)
{
    TValueGrids grids;
    grids.ts.push_back(Row(texts::TsHeaders));
    grids.ti.push_back(Row(texts::TiHeaders));
    const T_KP* const station = ctx.Stations.Kp(k); // the list's selection, none at all included
    if (!station)
        return grids;
    const T_KP& kp = *station;
    grids.ts.resize(static_cast<std::size_t>(kp.Kol_TS) + 3, std::vector<std::string>(TsColumns));
    grids.ti.resize(static_cast<std::size_t>(kp.Kol_TI) + 2, std::vector<std::string>(TiColumns));
    grids.ts[1][1] = texts::ConnectionCaption;
    for (int i = 1; i <= kp.Kol_TS; ++i) {
        const T_TS& s = kp.TS_arr[static_cast<std::size_t>(i)];
        auto& row = grids.ts[static_cast<std::size_t>(i + 1)];
        row[0] = std::to_string(i);
        row[1] = s.NameTS;
        row[2] = Address(s.AdrASDU, s.AdrIOA);
    }
    for (int i = 1; i <= kp.Kol_TI; ++i) {
        const T_TI& s = kp.TI_arr[static_cast<std::size_t>(i)];
        auto& row = grids.ti[static_cast<std::size_t>(i)];
        row[0] = std::to_string(i);
        row[1] = s.NameTI;
        row[2] = Address(s.AdrASDU, s.AdrIOA);
    }
    return grids;
}

void RefreshValueGrids(TServiceContext& ctx, int k, TValueGrids& grids)
{
    if (!ctx.Stations.IsKpIndex(k) || grids.ts.size() < 2)
        return;
    WithRun(ctx, [&](const TServiceRun* run) {
        if (!run)
            return;
        ctx.Channels.WithChannel(k, [&](const TClient104Frm* link) {
            const T_KP& kp = ctx.Stations.KpTable[static_cast<std::size_t>(k)];
            ConnectionRow(ctx, k, link, grids.ts[1]);
            TagRows(*run, kp, k, grids);
        });
    });
}

std::string GridTime(TDateTime stamp, int hours)
{
    if (!(stamp > 1.0))
        return {};
    TDateTimeParts p;
    if (!TryDecodeDateTime(stamp + hours / 24.0, p))
        return {};
    char text[32];
    std::snprintf(text, sizeof text, "%02d.%02d.%04d %02d:%02d:%02d.%03d", p.day, p.month, p.year, p.hour, p.minute,
                  p.second, p.millisecond);
    return text;
}

std::string EngText(double e)
{
    char digits[64];
    const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, e, std::chars_format::fixed, 3);
    if (ec != std::errc())
        return {};
    std::string text(digits, end);
    if (text.size() < 12)
        text.insert(0, 12 - text.size(), ' ');
    return text;
}

} // namespace gw::desktop
