#include "web/websnapshot.h"

#include "core/clients104.h"
#include "core/signals.h"
#include "core/tags.h"
#include "service/tables.h"

#include <cmath>
#include <mutex>

namespace gw {

namespace {

TWebStation StationRow(TServiceContext& ctx, int i, const TLinkPrmnOf& linkPrmnOf)
{
    const T_KP& kp = ctx.Stations.KpTable[i];
    TWebStation row;
    row.NameKP = kp.NameKP;
    row.IP = kp.IP;
    row.ASDU_Adr = kp.ASDU_Adr;
    row.Kol_TI = kp.Kol_TI;
    row.Kol_TS = kp.Kol_TS;
    row.PereschetTI = kp.PereschetTI;
    row.Time_To_OPC = kp.Time_To_OPC;
    row.Popravka_Time = kp.Popravka_Time;
    row.Passive = kp.Passive;
    if (linkPrmnOf)
        row.Link = linkPrmnOf(i - 1);
    ctx.Channels.WithChannel(i, [&](const TClient104Frm*) {
        row.Connected = kp.Connected;
        row.IP_tek = kp.IP_tek;
        row.Port_tek = kp.Port_tek;
    });
    return row;
}

TWebSignalKind KindOf(SignalType st)
{
    if (st == SignalType::stTIT)
        return TWebSignalKind::TIT;
    if (st == SignalType::stTS)
        return TWebSignalKind::TS;
    return TWebSignalKind::Other;
}

} // namespace

TLinkPrmnOf LinkPrmnOf(TServiceContext& ctx)
{
    return [&ctx](int channel) -> std::optional<TPrmn> {
        std::optional<TPrmn> prm;
        ctx.Channels.WithLink(channel + 1, [&](TClient104Frm& link) { prm = link.pcl()->prm; });
        return prm;
    };
}

TWebSnapshot TakeWebSnapshot(TServiceContext& ctx, TTagSignalList* tags, const TArmSignals* arms,
                             const TLinkPrmnOf& linkPrmnOf)
{
    TWebSnapshot snap;
    // Station rows first: the receive path takes a channel lock before the
    // tag lock, so the two are never held here at once.
    for (int i = 1; i <= ctx.Stations.KpCount; ++i)
        snap.Stations.push_back(StationRow(ctx, i, linkPrmnOf));
    if (!tags || !arms)
        return snap;

    const auto lock = tags->Lock();
    snap.Tags.reserve(static_cast<std::size_t>(tags->Count()));
    for (int ind = 0; ind < tags->Count(); ++ind) {
        const TTagSignal& tag = *tags->GetTag(ind);
        const TArmRec* rec = arms->GetRec(tag.IndArm());
        TWebTag row;
        row.FName = tag.Name();
        row.FAsduAddress = tag.AsduAddress();
        row.FObjAddress = tag.ObjAddress();
        if (rec) {
            row.FsstID = rec->sstID();
            row.Kind = KindOf(rec->st());
        }
        int doubleTs = 0;
        tag.GetArmValue(row.IValue, row.Quality, doubleTs, row.FValue, row.Stamp);
        if (rec)
            row.EngValue = rec->RawToEng(std::trunc(row.FValue));
        snap.Tags.push_back(std::move(row));
    }
    return snap;
}

} // namespace gw
