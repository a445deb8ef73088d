#include "desktop/opcda_in_process.h"

#include "opcda/group_ticker.h"
#include "opcda/opc_defs.h"

namespace gw::desktop {

TOpcDaInProcess::TOpcDaInProcess(TServiceContext& ctx, std::string programPath)
    : core_(std::make_shared<opcda::sOPC>()),
      model_(ctx), registrar_{.registry = registry_, .categories = categories_, .programPath = std::move(programPath)}
{
    classes_.registerClass(opcda::CLSID_OPCDataAccess20, com::makeCom<opcda::TOPCAutoObjectFactory>(core_, registrar_));
}

TOpcDaInProcess::~TOpcDaInProcess()
{
    classes_.revokeClass(opcda::CLSID_OPCDataAccess20);
    // The ticks read the service's tables through the model, which goes now.
    core_->ticker().stop();
}

void TOpcDaInProcess::Init(const std::string& progId, const std::string& description, bool setExePath, bool logFlag)
{
    core_->Init(progId, description, setExePath, logFlag);
    registrar_.ProgID = progId;
    registrar_.Description = description;
    model_.bind(*core_);
}

void TOpcDaInProcess::Start() { core_->Start(); }

void TOpcDaInProcess::ShutDown() { core_->ShutDown(); }

int TOpcDaInProcess::GetServerCount() const { return core_->GetServerCount(); }

int TOpcDaInProcess::GetGroupCount() const { return core_->GetGroupCount(); }

} // namespace gw::desktop
