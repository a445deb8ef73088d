#include "service/tables.h"

#include "core/clients104.h"
#include "core/files.h"
#include "core/typeident.h"
#include "service/serviceinit.h"
#include "service/servicelog.h"
#include "core/userarm.h"

namespace gw {

TServiceContext::TServiceContext() = default;
// A context left started is stopped first, so no thread outlives what it
// reads. Its plugged parts have been stopped already, by their handle.
TServiceContext::~TServiceContext() { ServiceStop(*this); }

TPlugged::TPlugged(TServiceContext& ctx, TPlugs plugs) : ctx_(ctx), before_(std::move(ctx.Parts.plugs_))
{
    ctx_.Parts.plugs_ = std::move(plugs);
}

TPlugged::~TPlugged()
{
    ServiceStop(ctx_);
    ctx_.Parts.plugs_ = std::move(before_);
}

TPlugged Plug(TServiceContext& ctx, TPlugs plugs) { return TPlugged(ctx, std::move(plugs)); }

void TStationTables::Reset()
{
    KpTable.assign(1, T_KP{});
    KpCount = 0;
    KeptCfgLines.clear();
}

void TChannelSlots::SetLink(int kpIndex, std::shared_ptr<TClient104Frm> link)
{
    TSlot& slot = slots_.at(static_cast<std::size_t>(kpIndex));
    std::lock_guard<std::mutex> lock(slot.lock);
    slot.link.swap(link);
}

std::string TProcessObjects::FilePath(std::string_view name) const
{
    if (ExePath.empty())
        return std::string(name);
    const auto slash = ExePath.find_last_of("/\\");
    if (slash == std::string::npos)
        return std::string(name);
    return MakePath(std::string_view(ExePath).substr(0, slash + 1), name);
}

} // namespace gw
