#include "opcda/data_access.h"

#include "opcda/string_enum.h"
#include "opcda/wide.h"

#include <unordered_set>

namespace opcda {

using namespace com;

// ---- the shared state ------------------------------------------------------

int DataAccessState::GroupCount(bool publicFlag)
{
    std::lock_guard<std::mutex> guard(FCS);
    int n = 0;
    for (const auto& g : FOPCGroup)
        n += g->isPublic() == publicFlag ? 1 : 0;
    return n;
}

std::vector<std::u16string> DataAccessState::GetGroupNames(int scope)
{
    std::lock_guard<std::mutex> guard(FCS);
    std::vector<std::u16string> names;
    for (const auto& g : FOPCGroup)
        if (scope == 2 || g->isPublic() == (scope == 1))
            names.push_back(g->name());
    return names;
}

ComPtr<sOPCGroup> DataAccessState::FindGroupByName(const std::u16string& name, int& index)
{
    std::lock_guard<std::mutex> guard(FCS);
    for (std::size_t i = 0; i < FOPCGroup.size(); ++i)
        if (FOPCGroup[i]->name() == name) {
            index = static_cast<int>(i);
            return FOPCGroup[i];
        }
    index = -1;
    return nullptr;
}

bool DataAccessState::GenerateUniqueGroupName(std::u16string& name)
{
    std::unordered_set<std::u16string> taken;
    for (const auto& g : FOPCGroup)
        taken.insert(g->name());
    if (!taken.count(name))
        return true;
    for (int i = 1; i <= 9998; ++i) {
        std::u16string candidate = name + u"_" + toWide(std::to_string(i));
        if (!taken.count(candidate)) {
            name = std::move(candidate);
            return true;
        }
    }
    return false;
}

bool DataAccessState::AddOPCGroup(const ComPtr<sOPCGroup>& group, std::u16string& name)
{
    std::lock_guard<std::mutex> guard(FCS);
    if (!GenerateUniqueGroupName(name))
        return false;
    group->setName(name);
    FOPCGroup.push_back(group);
    return true;
}

HRESULT DataAccessState::ChangeGroupToPublic(sOPCGroup* group)
{
    std::lock_guard<std::mutex> guard(FCS);
    for (const auto& g : FOPCGroup)
        if (g.get() == group) {
            if (g->isPublic())
                return E_FAIL;
            g->makePublic();
            return S_OK;
        }
    return E_FAIL;
}

ComPtr<sOPCGroup> DataAccessState::DeleteGroup(OPCHANDLE hServerGroup)
{
    std::lock_guard<std::mutex> guard(FCS);
    for (auto it = FOPCGroup.begin(); it != FOPCGroup.end(); ++it)
        if ((*it)->handle() == hServerGroup) {
            ComPtr<sOPCGroup> removed = std::move(*it);
            FOPCGroup.erase(it);
            return removed;
        }
    return nullptr;
}

std::vector<ComPtr<sOPCGroup>> DataAccessState::takeAll()
{
    std::lock_guard<std::mutex> guard(FCS);
    return std::exchange(FOPCGroup, {});
}

// ---- life ------------------------------------------------------------------

sOPCDataAccess::sOPCDataAccess(std::shared_ptr<sOPC> core)
    : core_(std::move(core)), FOPCBrowse(*core_),
      FShutdown(*this, IOPCShutdown::iid, [this](IUnknown* sink) { ConnectEvent(sink); })
{
    LogLine("sOPCDataAccess.Initialize - " + std::to_string(reinterpret_cast<std::uintptr_t>(this)));
    core_->waitCanStart();
    FStartTime = core_->now();
    core_->InitAddressSpace();
    core_->AddDataAccessServer(this);
    core_->UpAndDown(true);
}

sOPCDataAccess::~sOPCDataAccess()
{
    LogLine("sOPCDataAccess.Destroy - " + std::to_string(reinterpret_cast<std::uintptr_t>(this)));
    core_->RemoveDataAccessServer(this);
    // The list's references go; groups the client still holds live on.
    state_->takeAll();
    FShutdown.disconnect();
}

void* sOPCDataAccess::findExtra(REFIID riid)
{
    if (riid == IPersist::iid)
        return static_cast<IPersist*>(static_cast<IPersistFile*>(this));
    if (riid == IDispatch::iid)
        return static_cast<IDispatch*>(static_cast<IOPCDataAccess20*>(this));
    return nullptr;
}

void sOPCDataAccess::ConnectEvent(IUnknown* sink)
{
    LogLine(formatText("sOPCDataAccess.ConnectEvent - %d", sink ? 1 : 0));
    {
        std::lock_guard<std::mutex> guard(clientLock_);
        // A withdrawn sink is asked nothing any more.
        FClientIUnknown = ComPtr<IUnknown>(sink);
    }
    if (!sink)
        core_->UpAndDown(false);
}

bool sOPCDataAccess::ShutDown()
{
    ComPtr<IUnknown> sink;
    {
        std::lock_guard<std::mutex> guard(clientLock_);
        sink = FClientIUnknown;
    }
    auto shutdown = sink.as<IOPCShutdown>();
    if (!shutdown)
        return false;
    guarded("sOPCDataAccess.ShutDown", [&] { return shutdown->ShutdownRequest(u"Terminated by User."); });
    return true;
}

// ---- IOPCServer ------------------------------------------------------------

HRESULT sOPCDataAccess::AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate, OPCHANDLE hClientGroup,
                                 LONG* pTimeBias, float* pPercentDeadband, DWORD dwLCID, OPCHANDLE* phServerGroup,
                                 DWORD* pRevisedUpdateRate, REFIID riid, IUnknown** ppUnk)
{
    std::u16string name = fromClient(szName);
    LogLine("sOPCDataAccess.AddGroup - " + toUtf8(name));
    return guarded("sOPCDataAccess.AddGroup - Exception", [&]() -> HRESULT {
        if (!ppUnk || !phServerGroup || !pRevisedUpdateRate)
            return E_INVALIDARG;
        *ppUnk = nullptr;
        auto group = makeCom<sOPCGroup>(core_, state_);
        group->Init(name, bActive, dwRequestedUpdateRate, hClientGroup, pTimeBias, pPercentDeadband, dwLCID);
        if (!state_->AddOPCGroup(group, name))
            return OPC_E_DUPLICATENAME;
        const HRESULT hr = group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
        if (FAILED(hr)) {
            state_->DeleteGroup(group->handle());
            return hr;
        }
        *phServerGroup = group->handle();
        *pRevisedUpdateRate = group->updateRate();
        return S_OK;
    });
}

HRESULT sOPCDataAccess::GetErrorString(HRESULT dwError, LCID, LPWSTR* ppString)
{
    LogLine(formatText("sOPCDataAccess.GetErrorString 1 - %d", dwError));
    if (!ppString)
        return E_INVALIDARG;
    *ppString = taskStrDup(toWide(formatText("Error %d", dwError)));
    return *ppString ? S_OK : E_OUTOFMEMORY;
}

HRESULT sOPCDataAccess::groupInterface(const std::u16string& name, REFIID riid, IUnknown** ppUnk)
{
    if (!ppUnk)
        return E_INVALIDARG;
    *ppUnk = nullptr;
    int index = -1;
    auto group = state_->FindGroupByName(name, index);
    if (!group)
        return E_INVALIDARG;
    return group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
}

HRESULT sOPCDataAccess::GetGroupByName(LPCWSTR szName, REFIID riid, IUnknown** ppUnk)
{
    const std::u16string name = fromClient(szName);
    LogLine("sOPCDataAccess.GetGroupByName - " + toUtf8(name));
    return guarded("sOPCDataAccess.GetGroupByName - Exception", [&] { return groupInterface(name, riid, ppUnk); });
}

HRESULT sOPCDataAccess::GetStatus(OPCSERVERSTATUS** ppServerStatus)
{
    LogLine("sOPCDataAccess.GetStatus");
    return guarded("sOPCDataAccess.GetStatus - Exception", [&]() -> HRESULT {
        if (!ppServerStatus)
            return E_INVALIDARG;
        HRESULT hr = S_OK;
        auto* status = taskAlloc<OPCSERVERSTATUS>(1, hr);
        *ppServerStatus = status;
        if (!status)
            return hr;
        status->ftStartTime = core_->fileTime(FStartTime);
        status->ftCurrentTime = core_->fileTime(core_->now());
        status->ftLastUpdateTime = core_->fileTime(state_->FLastDataUpdateToClient.load());
        status->dwServerState = OPC_STATUS_RUNNING;
        status->dwGroupCount = static_cast<DWORD>(GroupCount(false) + GroupCount(true));
        status->dwBandWidth = 0xFFFFFFFF;
        status->wMajorVersion = 1;
        status->wMinorVersion = 1;
        status->wBuildNumber = 1;
        status->szVendorInfo = taskStrDup(VendorInfo);
        return S_OK;
    });
}

HRESULT sOPCDataAccess::RemoveGroup(OPCHANDLE hServerGroup, BOOL)
{
    LogLine("sOPCDataAccess.RemoveGroup");
    state_->DeleteGroup(hServerGroup);
    return S_OK;
}

HRESULT sOPCDataAccess::CreateGroupEnumerator(DWORD dwScope, REFIID riid, IUnknown** ppUnk)
{
    LogLine(formatText("sOPCDataAccess.CreateGroupEnumerator - %d", static_cast<int>(dwScope)));
    return guarded("sOPCDataAccess.CreateGroupEnumerator - Exception", [&]() -> HRESULT {
        if (!ppUnk)
            return E_INVALIDARG;
        *ppUnk = nullptr;
        // Group objects are not enumerated: only their names.
        if (riid != IEnumString::iid && riid != IUnknown::iid)
            return E_NOINTERFACE;
        int scope = 0;
        if (dwScope == OPC_ENUM_PUBLIC_CONNECTIONS || dwScope == OPC_ENUM_PUBLIC)
            scope = 1;
        else if (dwScope == OPC_ENUM_ALL_CONNECTIONS || dwScope == OPC_ENUM_ALL)
            scope = 2;
        auto names = std::make_shared<const std::vector<std::u16string>>(state_->GetGroupNames(scope));
        auto en = makeCom<sOPCStringEnumerator>(std::move(names));
        return en->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
    });
}

// ---- IOPCCommon ------------------------------------------------------------

HRESULT sOPCDataAccess::SetLocaleID(LCID dwLcid)
{
    LogLine("sOPCDataAccess.SetLocaleID");
    FLcid = dwLcid;
    return S_OK;
}

HRESULT sOPCDataAccess::GetLocaleID(LCID* pdwLcid)
{
    LogLine("sOPCDataAccess.GetLocaleID");
    if (!pdwLcid)
        return E_INVALIDARG;
    *pdwLcid = FLcid;
    return S_OK;
}

HRESULT sOPCDataAccess::QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid)
{
    LogLine("sOPCDataAccess.QueryAvailableLocaleIDs");
    if (pdwCount)
        *pdwCount = 0;
    if (pdwLcid)
        *pdwLcid = nullptr;
    return S_FALSE;
}

HRESULT sOPCDataAccess::GetErrorString(HRESULT dwError, LPWSTR* ppString)
{
    LogLine(formatText("sOPCDataAccess.GetErrorString 2 - %d", dwError));
    if (!ppString)
        return E_INVALIDARG;
    *ppString = taskStrDup(toWide(formatText("Data Access Error %d ", dwError)));
    return *ppString ? S_OK : E_OUTOFMEMORY;
}

HRESULT sOPCDataAccess::SetClientName(LPCWSTR szName)
{
    LogLine("sOPCDataAccess.SetClientName - " + toUtf8(fromClient(szName)));
    std::lock_guard<std::mutex> guard(clientLock_);
    FClientName = fromClient(szName);
    return S_OK;
}

// ---- IOPCServerPublicGroups ------------------------------------------------

HRESULT sOPCDataAccess::GetPublicGroupByName(LPCWSTR szName, REFIID riid, IUnknown** ppUnk)
{
    const std::u16string name = fromClient(szName);
    return guarded("sOPCDataAccess.GetPublicGroupByName - Exception", [&] {
        const HRESULT hr = groupInterface(name, riid, ppUnk);
        LogLine(hr == E_INVALIDARG ? std::string("sOPCDataAccess.GetPublicGroupByName - Invalid Argument")
                                   : "sOPCDataAccess.GetPublicGroupByName - " + toUtf8(name));
        return hr;
    });
}

HRESULT sOPCDataAccess::RemovePublicGroup(OPCHANDLE hServerGroup, BOOL)
{
    LogLine("sOPCDataAccess.RemovePublicGroup");
    state_->DeleteGroup(hServerGroup);
    return S_OK;
}

// ---- IOPCBrowseServerAddressSpace --------------------------------------------

HRESULT sOPCDataAccess::QueryOrganization(DWORD* pNameSpaceType)
{
    LogLine("sOPCDataAccess.QueryOrganization");
    if (!pNameSpaceType)
        return E_INVALIDARG;
    *pNameSpaceType = OPC_NS_HIERARCHIAL;
    return S_OK;
}

HRESULT sOPCDataAccess::ChangeBrowsePosition(DWORD dwBrowseDirection, LPCWSTR szString)
{
    LogLine(formatText("sOPCDataAccess.ChangeBrowsePosition - %d - s", static_cast<int>(dwBrowseDirection)));
    return guarded("sOPCDataAccess.ChangeBrowsePosition - Exception", [&] {
        const std::u16string s = fromClient(szString);
        switch (dwBrowseDirection) {
        case OPC_BROWSE_UP: return FOPCBrowse.BrowseUp() ? S_OK : E_FAIL;
        case OPC_BROWSE_DOWN: return FOPCBrowse.BrowseDown(s) ? S_OK : E_FAIL;
        case OPC_BROWSE_TO: return FOPCBrowse.BrowseTo(s) ? S_OK : E_INVALIDARG;
        default: return S_OK;
        }
    });
}

HRESULT sOPCDataAccess::BrowseOPCItemIDs(DWORD dwBrowseFilterType, LPCWSTR, VARTYPE, DWORD, IEnumString** ppIEnumString)
{
    LogLine(formatText("sOPCDataAccess.BrowseOPCItemIDs - %d", static_cast<int>(dwBrowseFilterType)));
    return guarded("sOPCDataAccess.BrowseOPCItemIDs - Exception", [&]() -> HRESULT {
        if (!ppIEnumString)
            return E_INVALIDARG;
        *ppIEnumString = nullptr;
        auto names = std::make_shared<const std::vector<std::u16string>>(FOPCBrowse.BrowseOPCItems(dwBrowseFilterType));
        *ppIEnumString = new sOPCStringEnumerator(std::move(names));
        return S_OK;
    });
}

HRESULT sOPCDataAccess::GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID)
{
    const std::u16string id = fromClient(szItemDataID);
    LogLine("sOPCDataAccess.GetItemID - " + toUtf8(id));
    return guarded("sOPCDataAccess.GetItemID - Exception", [&]() -> HRESULT {
        if (!szItemID)
            return E_INVALIDARG;
        *szItemID = taskStrDup(FOPCBrowse.GetItemID(id));
        return *szItemID ? S_OK : E_OUTOFMEMORY;
    });
}

HRESULT sOPCDataAccess::BrowseAccessPaths(LPCWSTR szItemID, IEnumString** ppIEnumString)
{
    const std::u16string id = fromClient(szItemID);
    LogLine("sOPCDataAccess.BrowseAccessPaths - " + toUtf8(id));
    if (!ppIEnumString)
        return E_INVALIDARG;
    *ppIEnumString = nullptr;
    const sOPCNode* node = core_->GetOPCNode(id, -1);
    if (!node) {
        LogException("sOPCDataAccess.BrowseAccessPaths - Exception", "unknown item ID");
        return E_UNEXPECTED;
    }
    if (!node->slAddressPathList)
        return S_FALSE;
    *ppIEnumString = new sOPCStringEnumerator(node->slAddressPathList);
    return S_OK;
}

// ---- IOPCItemProperties ------------------------------------------------------

HRESULT sOPCDataAccess::QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount, DWORD** ppPropertyIDs,
                                                 LPWSTR** ppDescriptions, VARTYPE** ppvtDataTypes)
{
    const std::u16string id = fromClient(szItemID);
    LogLine("sOPCDataAccess.QueryAvailableProperties - " + toUtf8(id));
    return guarded("sOPCDataAccess.QueryAvailableProperties - Exception", [&]() -> HRESULT {
        if (!pdwCount || !ppPropertyIDs || !ppDescriptions || !ppvtDataTypes)
            return E_INVALIDARG;
        *pdwCount = 0;
        *ppPropertyIDs = nullptr;
        *ppDescriptions = nullptr;
        *ppvtDataTypes = nullptr;
        if (!core_->GetOPCNode(id, -1))
            return OPC_E_INVALIDITEMID;
        const int count = FOPCBrowse.GetPropertyCount(id);
        if (count == 0)
            return S_OK;
        HRESULT hr = S_OK;
        const auto n = static_cast<std::size_t>(count);
        auto* ids = taskAlloc<DWORD>(n, hr);
        auto* descriptions = taskAlloc<LPWSTR>(n, hr);
        auto* types = taskAlloc<VARTYPE>(n, hr);
        if (FAILED(hr)) {
            CoTaskMemFree(ids);
            CoTaskMemFree(descriptions);
            CoTaskMemFree(types);
            return hr;
        }
        for (int i = 0; i < count; ++i) {
            const sOPCNode* p = FOPCBrowse.GetProperty(id, i);
            const auto k = static_cast<std::size_t>(i);
            ids[k] = p->dwPropertyID;
            descriptions[k] = taskStrDup(p->stDescription);
            types[k] = p->vtPropertyDataType;
        }
        *pdwCount = static_cast<DWORD>(count);
        *ppPropertyIDs = ids;
        *ppDescriptions = descriptions;
        *ppvtDataTypes = types;
        return S_OK;
    });
}

HRESULT sOPCDataAccess::GetItemProperties(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs, VARIANT** ppvData,
                                          HRESULT** ppErrors)
{
    const std::u16string id = fromClient(szItemID);
    LogLine("sOPCDataAccess.GetItemProperties - " + toUtf8(id));
    return guarded("sOPCDataAccess.GetItemProperties - Exception", [&]() -> HRESULT {
        if (!ppvData || !ppErrors)
            return E_INVALIDARG;
        *ppvData = nullptr;
        *ppErrors = nullptr;
        if (!core_->GetOPCNode(id, -1))
            return OPC_E_INVALIDITEMID;
        if (dwCount > 0 && !pdwPropertyIDs)
            return E_INVALIDARG;
        HRESULT hr = S_OK;
        auto* data = taskAlloc<VARIANT>(dwCount, hr);
        auto* errors = taskAlloc<HRESULT>(dwCount, hr);
        if (FAILED(hr)) {
            CoTaskMemFree(data);
            CoTaskMemFree(errors);
            return hr;
        }
        // An id the item has no property for fails in its entry, never as an empty success.
        HRESULT result = S_OK;
        for (DWORD i = 0; i < dwCount; ++i) {
            if (const sOPCNode* p = FOPCBrowse.FindProperty(id, pdwPropertyIDs[i])) {
                VariantCopy(&data[i], p->vPropertyData.get());
            } else {
                errors[i] = OPC_E_INVALID_PID;
                result = S_FALSE;
            }
        }
        *ppvData = data;
        *ppErrors = errors;
        return result;
    });
}

HRESULT sOPCDataAccess::LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs, LPWSTR** ppszNewItemIDs,
                                      HRESULT** ppErrors)
{
    const std::u16string id = fromClient(szItemID);
    LogLine(formatText("sOPCDataAccess.LookupItemIDs - %s - %d", toUtf8(id).c_str(), static_cast<int>(dwCount)));
    return guarded("sOPCDataAccess.LookupItemIDs - Exception", [&]() -> HRESULT {
        if (!ppszNewItemIDs || !ppErrors)
            return E_INVALIDARG;
        *ppszNewItemIDs = nullptr;
        *ppErrors = nullptr;
        if (!core_->GetOPCNode(id, -1))
            return OPC_E_INVALIDITEMID;
        if (dwCount == 0 || !pdwPropertyIDs)
            return E_INVALIDARG;
        HRESULT hr = S_OK;
        auto* errors = taskAlloc<HRESULT>(dwCount, hr);
        auto* ids = taskAlloc<LPWSTR>(dwCount, hr);
        if (FAILED(hr)) {
            CoTaskMemFree(errors);
            CoTaskMemFree(ids);
            return hr;
        }
        // Only a property that has an item ID of its own answers one.
        HRESULT result = S_OK;
        for (DWORD i = 0; i < dwCount; ++i) {
            const sOPCNode* p = FOPCBrowse.FindProperty(id, pdwPropertyIDs[i]);
            if (p && !p->stItemDataID.empty()) {
                ids[i] = taskStrDup(p->stItemID);
                errors[i] = ids[i] ? S_OK : E_OUTOFMEMORY;
            } else {
                errors[i] = OPC_E_INVALID_PID;
            }
            if (errors[i] != S_OK)
                result = S_FALSE;
        }
        *ppErrors = errors;
        *ppszNewItemIDs = ids;
        return result;
    });
}

// ---- IPersistFile: nothing to persist ----------------------------------------

HRESULT sOPCDataAccess::GetClassID(CLSID* pClassID)
{
    LogLine("sOPCDataAccess.GetClassID - not implemented");
    if (pClassID)
        *pClassID = GUID_NULL;
    return S_FALSE;
}

HRESULT sOPCDataAccess::IsDirty()
{
    LogLine("sOPCDataAccess.IsDirty - not implemented");
    return S_FALSE;
}

HRESULT sOPCDataAccess::Load(LPCOLESTR, DWORD)
{
    LogLine("sOPCDataAccess.Load - not implemented");
    return S_FALSE;
}

HRESULT sOPCDataAccess::Save(LPCOLESTR, BOOL)
{
    LogLine("sOPCDataAccess.Save - not implemented");
    return S_FALSE;
}

HRESULT sOPCDataAccess::SaveCompleted(LPCOLESTR)
{
    LogLine("sOPCDataAccess.SaveCompleted - not implemented");
    return S_FALSE;
}

HRESULT sOPCDataAccess::GetCurFile(LPOLESTR* ppszFileName)
{
    LogLine("sOPCDataAccess.GetCurFile - not implemented");
    if (ppszFileName)
        *ppszFileName = nullptr;
    return S_FALSE;
}

// ---- IConnectionPointContainer -----------------------------------------------

HRESULT sOPCDataAccess::EnumConnectionPoints(IEnumConnectionPoints** ppEnum)
{
    LogLine("sOPCDataAccess.EnumConnectionPoints - not implemented");
    if (ppEnum)
        *ppEnum = nullptr;
    return E_NOTIMPL;
}

HRESULT sOPCDataAccess::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP)
{
    LogLine("sOPCDataAccess.FindConnectionPoint");
    if (!ppCP)
        return E_INVALIDARG;
    *ppCP = nullptr;
    if (riid != IOPCShutdown::iid)
        return E_NOINTERFACE;
    FShutdown.AddRef();
    *ppCP = &FShutdown;
    return S_OK;
}

// ---- IDispatch ---------------------------------------------------------------

HRESULT sOPCDataAccess::GetTypeInfoCount(UINT* pctinfo)
{
    if (!pctinfo)
        return E_INVALIDARG;
    *pctinfo = 0;
    return S_OK;
}

HRESULT sOPCDataAccess::GetTypeInfo(UINT, LCID, void** ppTInfo)
{
    if (ppTInfo)
        *ppTInfo = nullptr;
    return E_NOTIMPL;
}

HRESULT sOPCDataAccess::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, LONG*) { return E_NOTIMPL; }

HRESULT sOPCDataAccess::Invoke(LONG, REFIID, LCID, WORD, void*, void*, void*, UINT*) { return E_NOTIMPL; }

} // namespace opcda
