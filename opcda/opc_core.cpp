#include "opcda/opc_core.h"

#include "opcda/data_access.h"
#include "opcda/group_ticker.h"
#include "opcda/wide.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <unistd.h>

namespace opcda {

NodeSnapshot sOPCNode::snapshot()
{
    NodeSnapshot s;
    std::lock_guard<std::mutex> guard(valueLock);
    s.value = CurrentValue;
    s.quality = Quality;
    s.time = LastUpdate;
    return s;
}

bool sOPCNode::takeFirstRead()
{
    std::lock_guard<std::mutex> guard(valueLock);
    return !std::exchange(InitCurrent, true);
}

sOPC::sOPC(gw::TClock& clock, const com::LocalZone& zone)
    : clock_(clock), zone_(zone), ticker_(std::make_shared<GroupTicker>())
{
}

sOPC::~sOPC() { ticker_->stop(); }

void sOPC::Init(const std::string& serverName, const std::string& serverDescription, bool setExePath, bool logFlag)
{
    FServerName = serverName;
    FServerDescription = serverDescription;
    if (setExePath) {
        std::error_code ec;
        const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
        if (!ec)
            std::filesystem::current_path(exe.parent_path(), ec);
    }
    if (logFlag && !frameworkLog()) {
        auto log = std::make_shared<TLogging>("OPCLog.txt");
        log->Init();
        log->WriteWithTimeStamp(true);
        setFrameworkLog(log);
        LogLine("Start Log");
    }
}

void sOPC::Start()
{
    {
        std::lock_guard<std::mutex> guard(startLock_);
        FCanStart = true;
    }
    startChanged_.notify_all();
    if (!manualTicks_)
        ticker_->start();
}

void sOPC::waitCanStart()
{
    std::unique_lock<std::mutex> guard(startLock_);
    if (startDelay_.count() > 0)
        startChanged_.wait_for(guard, startDelay_, [] { return false; });
    startChanged_.wait(guard, [this] { return FCanStart; });
}

std::vector<sOPCDataAccess*> sOPC::strongServers()
{
    std::vector<sOPCDataAccess*> held;
    std::lock_guard<std::mutex> guard(FCS);
    for (sOPCDataAccess* s : FDataAccessServers)
        if (s->TryAddRef())
            held.push_back(s);
    return held;
}

void sOPC::ShutDown()
{
    {
        std::lock_guard<std::mutex> guard(FCS);
        FOnConnect = nullptr;
    }
    // References held, and no lock: a client may release its server from
    // inside its shutdown request.
    for (sOPCDataAccess* s : strongServers()) {
        s->ShutDown();
        s->Release();
    }
}

void sOPC::AddBranch(std::int32_t parent, std::int32_t ident, const std::u16string& stItemID)
{
    auto n = std::make_unique<sOPCNode>();
    n->NodeType = ntBranch;
    n->Parent = parent;
    n->Ident = ident;
    n->stItemDataID = stItemID;
    FNodes.push_back(std::move(n));
}

void sOPC::AddLeaf(std::int32_t parent, std::int32_t ident, const std::u16string& stItemID, com::VARTYPE vtDataType,
                   com::DWORD dwAccessRights)
{
    auto n = std::make_unique<sOPCNode>();
    n->NodeType = ntLeaf;
    n->Parent = parent;
    n->Ident = ident;
    n->stItemDataID = stItemID;
    n->vtCanonicalDataType = vtDataType;
    n->dwAccessRights = dwAccessRights;
    FNodes.push_back(std::move(n));
}

void sOPC::AddProperty(std::int32_t parent, com::DWORD dwPropertyID, const std::u16string& stItemID,
                       const std::u16string& stDescription, com::VARTYPE vtDataType, const com::VARIANT& vPropertyData)
{
    auto n = std::make_unique<sOPCNode>();
    n->NodeType = ntProperty;
    n->Parent = parent;
    n->Ident = -1;
    n->stItemDataID = stItemID;
    n->dwPropertyID = dwPropertyID;
    n->stDescription = stDescription;
    n->vtPropertyDataType = vtDataType;
    com::VariantCopy(n->vPropertyData.get(), &vPropertyData);
    FNodes.push_back(std::move(n));
}

void sOPC::InitAddressSpace()
{
    std::call_once(FAddressSpaceInit, [this] { build(); });
}

void sOPC::build()
{
    if (!FOnInitAddressSpace) {
        AddLeaf(0, 1, u"No address space defined!", com::VT_I4, 3);
    } else {
        try {
            FOnInitAddressSpace();
        } catch (const std::exception& e) {
            LogException("InitAddressSpace", e.what());
            AddLeaf(0, 1, u"No address space defined (Exception)!", com::VT_I4, 3);
        } catch (...) {
            LogException("InitAddressSpace", "unknown error");
            AddLeaf(0, 1, u"No address space defined (Exception)!", com::VT_I4, 3);
        }
    }
    // The ident index serves the item ID building, so it comes first.
    indexNodes();
    BuildItemIDs();
    for (int i = 0; i < nodeCount(); ++i) {
        const sOPCNode& n = node(i);
        anyByItemID_.try_emplace(n.stItemID, i);
        if (n.NodeType != ntProperty)
            byItemID_.try_emplace(n.stItemID, i);
    }
}

void sOPC::indexNodes()
{
    for (int i = 0; i < nodeCount(); ++i) {
        const sOPCNode& n = node(i);
        anyByIdent_.try_emplace(n.Ident, i);
        if (n.NodeType != ntProperty)
            byIdent_.try_emplace(n.Ident, i);
    }
}

void sOPC::BuildItemIDs()
{
    // A parent chain that loops is cut after as many steps as there are nodes.
    const int limit = nodeCount();
    for (auto& n : FNodes) {
        n->stItemID = n->stItemDataID;
        std::int32_t parent = n->Parent;
        for (int steps = 0; steps < limit; ++steps) {
            const int p = GetIndexOfNode(parent);
            if (p < 0)
                break;
            const sOPCNode& up = node(p);
            n->stItemID = up.stItemDataID + u"." + n->stItemID;
            parent = up.Parent;
        }
    }
}

sOPCNode* sOPC::GetOPCNode(const std::u16string& stItemID, std::int32_t ident)
{
    if (ident == -1) {
        auto it = anyByItemID_.find(stItemID);
        return it == anyByItemID_.end() ? nullptr : &node(it->second);
    }
    auto it = anyByIdent_.find(ident);
    return it == anyByIdent_.end() ? nullptr : &node(it->second);
}

int sOPC::GetIndexOfNode(std::int32_t ident) const
{
    auto it = byIdent_.find(ident);
    return it == byIdent_.end() ? -1 : it->second;
}

int sOPC::GetIndexOfstItemID(const std::u16string& stItemID) const
{
    auto it = byItemID_.find(stItemID);
    return it == byItemID_.end() ? -1 : it->second;
}

void sOPC::ItemRead(sOPCNode& node, const std::u16string& path, com::VARTYPE dataType)
{
    if (!FOnRead)
        return;
    std::lock_guard<std::mutex> guard(node.valueLock);
    try {
        FOnRead(node, path, dataType);
        return;
    } catch (const std::exception& e) {
        LogException("sOPC.ItemRead", e.what());
    } catch (...) {
        LogException("sOPC.ItemRead", "unknown error");
    }
    com::VariantClear(node.CurrentValue.get());
    node.LastUpdate = now();
    node.Quality = 0x1C;
}

com::HRESULT sOPC::ItemWrite(sOPCNode& node, const com::VARIANT& value, const std::u16string& path,
                             com::VARTYPE dataType)
{
    std::lock_guard<std::mutex> guard(node.valueLock);
    if (!FOnWrite) {
        com::VariantCopy(node.CurrentValue.get(), &value);
        node.LastUpdate = now();
        return com::S_OK;
    }
    try {
        com::Variant copy;
        com::VariantCopy(copy.get(), &value);
        return FOnWrite(node, *copy.get(), path, dataType);
    } catch (const std::exception& e) {
        LogException("sOPC.ItemWrite", e.what());
    } catch (...) {
        LogException("sOPC.ItemWrite", "unknown error");
    }
    return com::E_FAIL;
}

void sOPC::AddDataAccessServer(sOPCDataAccess* server)
{
    std::lock_guard<std::mutex> guard(FCS);
    FDataAccessServers.push_back(server);
}

void sOPC::RemoveDataAccessServer(sOPCDataAccess* server)
{
    std::lock_guard<std::mutex> guard(FCS);
    auto& v = FDataAccessServers;
    v.erase(std::remove(v.begin(), v.end(), server), v.end());
}

int sOPC::GetServerCount() const
{
    std::lock_guard<std::mutex> guard(FCS);
    return static_cast<int>(FDataAccessServers.size());
}

int sOPC::GetGroupCount()
{
    int count = 0;
    for (sOPCDataAccess* s : strongServers()) {
        count += s->GroupCount(false) + s->GroupCount(true);
        s->Release();
    }
    return count;
}

void sOPC::UpAndDown(bool aUp)
{
    sOnConnectEvent report;
    {
        std::lock_guard<std::mutex> guard(FCS);
        if (FDataAccessServers.size() == 1)
            report = FOnConnect;
    }
    if (report)
        report(aUp);
}

} // namespace opcda
