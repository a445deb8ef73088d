#include "opcda/group.h"

#include "opcda/data_access.h"
#include "opcda/group_ticker.h"
#include "opcda/item_enum.h"
#include "opcda/wide.h"

#include <algorithm>

namespace opcda {

using namespace com;

namespace {

std::atomic<OPCHANDLE> lastGroupHandle{0};
std::atomic<DWORD> lastCancelId{0};

template <class T>
T next(std::atomic<T>& counter)
{
    T v = ++counter;
    while (v == 0)
        v = ++counter;
    return v;
}

// Both result arrays of a call, or neither.
template <class A>
bool allocPair(DWORD count, A** results, HRESULT** errors)
{
    HRESULT hr = S_OK;
    *results = taskAlloc<A>(count, hr);
    *errors = taskAlloc<HRESULT>(count, hr);
    if (*results && *errors)
        return true;
    CoTaskMemFree(*results);
    CoTaskMemFree(*errors);
    *results = nullptr;
    *errors = nullptr;
    return false;
}

} // namespace

OPCHANDLE nextGroupHandle() { return next(lastGroupHandle); }

DWORD nextCancelId() { return next(lastCancelId); }

sOPCGroup::sOPCGroup(std::shared_ptr<sOPC> core, std::weak_ptr<DataAccessState> server)
    : core_(std::move(core)), FDataAccess(std::move(server)), handle_(nextGroupHandle()), FTimer(core_->clock()),
      FConnectionPoint(*this, IOPCDataCallback::iid, [this](IUnknown* sink) { ConnectEvent(sink); })
{
    LogLine("sOPCGroup.Create");
    core_->ticker().add(this);
}

sOPCGroup::~sOPCGroup()
{
    LogLine("sOPCGroup.Destroy");
    core_->ticker().remove(this);
}

void sOPCGroup::Init(const std::u16string& szName, BOOL bActive, DWORD dwRequestedUpdateRate, OPCHANDLE hClientGroup,
                     const LONG* pTimeBias, const float* pPercentDeadband, DWORD dwLCID)
{
    setName(szName);
    std::lock_guard<std::mutex> guard(lock_);
    FActive = bActive != FALSE;
    SetUpdateRate(dwRequestedUpdateRate);
    FClientGroup = hClientGroup;
    if (pTimeBias)
        FTimeBias = *pTimeBias;
    if (pPercentDeadband)
        FPercentDeadband = *pPercentDeadband;
    FLCID = dwLCID;
}

std::u16string sOPCGroup::name() const
{
    std::lock_guard<std::mutex> guard(nameLock_);
    return FName;
}

void sOPCGroup::setName(const std::u16string& n)
{
    std::lock_guard<std::mutex> guard(nameLock_);
    FName = n;
}

DWORD sOPCGroup::updateRate()
{
    std::lock_guard<std::mutex> guard(lock_);
    return FRequestedUpdateRate;
}

void sOPCGroup::SetUpdateRate(DWORD rate)
{
    FRequestedUpdateRate = rate < 100 ? 100 : rate;
    tickEnabled_ = true;
}

sOPCItem* sOPCGroup::GetOPCItem(OPCHANDLE h)
{
    auto it = itemsByHandle_.find(h);
    return it == itemsByHandle_.end() ? nullptr : it->second;
}

sOPCItem& sOPCGroup::appendItem(sOPCNode& node)
{
    if (++lastItemHandle_ == 0)
        ++lastItemHandle_;
    const OPCHANDLE h = lastItemHandle_;
    FOPCItemList.push_back(std::make_unique<sOPCItem>(node, h));
    itemsByHandle_[h] = FOPCItemList.back().get();
    return *FOPCItemList.back();
}

void sOPCGroup::itemsChanged()
{
    if (FOPCItemList.empty())
        FTimer.Stop();
    else if (!FTimer.isRunning())
        FTimer.Start();
}

void sOPCGroup::touchLastUpdate()
{
    if (auto server = FDataAccess.lock())
        server->FLastDataUpdateToClient = core_->now();
}

void sOPCGroup::Timer()
{
    if (!tickEnabled_)
        return;
    for (;;) {
        std::unique_ptr<sOPCAsyncIO2> request;
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (AsyncIOList.empty())
                break;
            // Taken off before it runs: Cancel2 cannot claim a request whose answer is coming.
            request = std::move(AsyncIOList.front());
            AsyncIOList.pop_front();
        }
        guarded("sOPCGroup.Timer 1", [&] {
            request->ProcessRequest(*this);
            return S_OK;
        });
    }
    bool refresh = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (FTimer.isRunning() && FTimer.msTime() > static_cast<double>(FRequestedUpdateRate)) {
            FTimer.Start();
            refresh = FActive && !FOPCItemList.empty();
        }
    }
    if (refresh)
        guarded("sOPCGroup.Timer 2", [&] {
            sOPCAsyncIO2 periodic(sOPCMode::omTimerRefresh, 0, 0, 0, 0);
            periodic.ProcessRequest(*this);
            return S_OK;
        });
}

// ---- IOPCItemMgt ---------------------------------------------------------

HRESULT sOPCGroup::AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults, HRESULT** ppErrors)
{
    LogLine(formatText("sOPCGroup.AddItems - %d", static_cast<int>(dwCount)));
    return guarded("sOPCGroup.AddItems - Exception", [&]() -> HRESULT {
        if (!ppAddResults || !ppErrors)
            return E_INVALIDARG;
        *ppAddResults = nullptr;
        *ppErrors = nullptr;
        if (dwCount == 0 || !pItemArray)
            return E_INVALIDARG;
        if (!allocPair(dwCount, ppAddResults, ppErrors))
            return E_OUTOFMEMORY;
        HRESULT result = S_OK;
        std::lock_guard<std::mutex> guard(lock_);
        for (DWORD i = 0; i < dwCount; ++i) {
            const OPCITEMDEF& def = pItemArray[i];
            sOPCNode* node = core_->GetOPCNode(fromClient(def.szItemID), -1);
            if (!node) {
                (*ppErrors)[i] = OPC_E_UNKNOWNITEMID;
                result = S_FALSE;
                continue;
            }
            sOPCItem& item = appendItem(*node);
            item.stAccessPath = fromClient(def.szAccessPath);
            item.bActive = def.bActive != FALSE;
            item.hClient = def.hClient;
            item.SetRequestedDataType(def.vtRequestedDataType);
            OPCITEMRESULT& r = (*ppAddResults)[i];
            r.hServer = item.hServer;
            r.vtCanonicalDataType = node->vtCanonicalDataType;
            r.dwAccessRights = node->dwAccessRights;
            (*ppErrors)[i] = S_OK;
        }
        itemsChanged();
        return result;
    });
}

HRESULT sOPCGroup::ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL, OPCITEMRESULT** ppValidationResults,
                                 HRESULT** ppErrors)
{
    LogLine(formatText("sOPCGroup.ValidateItems - %d", static_cast<int>(dwCount)));
    return guarded("sOPCGroup.ValidateItems - Exception", [&]() -> HRESULT {
        if (!ppValidationResults || !ppErrors)
            return E_INVALIDARG;
        *ppValidationResults = nullptr;
        *ppErrors = nullptr;
        if (dwCount == 0 || !pItemArray)
            return E_INVALIDARG;
        if (!allocPair(dwCount, ppValidationResults, ppErrors))
            return E_OUTOFMEMORY;
        HRESULT result = S_OK;
        for (DWORD i = 0; i < dwCount; ++i) {
            const sOPCNode* node = core_->GetOPCNode(fromClient(pItemArray[i].szItemID), -1);
            if (!node) {
                (*ppErrors)[i] = OPC_E_UNKNOWNITEMID;
                result = S_FALSE;
                continue;
            }
            (*ppValidationResults)[i].vtCanonicalDataType = node->vtCanonicalDataType;
            (*ppValidationResults)[i].dwAccessRights = node->dwAccessRights;
        }
        return result;
    });
}

HRESULT sOPCGroup::allocHandleErrors(DWORD dwCount, const OPCHANDLE* phServer, HRESULT** ppErrors, bool argsGiven)
{
    if (!ppErrors)
        return E_INVALIDARG;
    *ppErrors = nullptr;
    if (dwCount == 0 || !phServer || !argsGiven)
        return E_INVALIDARG;
    HRESULT hr = S_OK;
    *ppErrors = taskAlloc<HRESULT>(dwCount, hr);
    return *ppErrors ? S_OK : hr;
}

template <class Apply>
HRESULT sOPCGroup::forEachHandle(DWORD dwCount, const OPCHANDLE* phServer, HRESULT** ppErrors, bool argsGiven,
                                 Apply apply)
{
    if (const HRESULT hr = allocHandleErrors(dwCount, phServer, ppErrors, argsGiven); hr != S_OK)
        return hr;
    HRESULT result = S_OK;
    std::lock_guard<std::mutex> guard(lock_);
    for (DWORD i = 0; i < dwCount; ++i) {
        sOPCItem* item = GetOPCItem(phServer[i]);
        (*ppErrors)[i] = item ? apply(*item, i) : OPC_E_INVALIDHANDLE;
        if ((*ppErrors)[i] != S_OK)
            result = S_FALSE;
    }
    return result;
}

HRESULT sOPCGroup::RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors)
{
    LogLine(formatText("sOPCGroup.RemoveItems - %d", static_cast<int>(dwCount)));
    return guarded("sOPCGroup.RemoveItems - Exception", [&]() -> HRESULT {
        if (const HRESULT hr = allocHandleErrors(dwCount, phServer, ppErrors, true); hr != S_OK)
            return hr;
        HRESULT result = S_OK;
        std::lock_guard<std::mutex> guard(lock_);
        for (DWORD i = 0; i < dwCount; ++i) {
            const bool known = itemsByHandle_.erase(phServer[i]) != 0;
            (*ppErrors)[i] = known ? S_OK : OPC_E_INVALIDHANDLE;
            if (!known)
                result = S_FALSE;
        }
        auto& list = FOPCItemList;
        list.erase(std::remove_if(list.begin(), list.end(),
                                  [this](const auto& item) { return itemsByHandle_.count(item->hServer) == 0; }),
                   list.end());
        itemsChanged();
        return result;
    });
}

HRESULT sOPCGroup::SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive, HRESULT** ppErrors)
{
    LogLine(formatText("sOPCGroup.SetActiveState - %d", static_cast<int>(dwCount)));
    return guarded("sOPCGroup.SetActiveState - Exception", [&] {
        return forEachHandle(dwCount, phServer, ppErrors, true, [&](sOPCItem& item, DWORD) {
            // Switched on, the item is sent at the next update as if it had changed.
            if (bActive != FALSE && !item.bActive)
                item.FCallBackTime.reset();
            item.bActive = bActive != FALSE;
            return S_OK;
        });
    });
}

HRESULT sOPCGroup::SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient, HRESULT** ppErrors)
{
    LogLine(formatText("sOPCGroup.SetClientHandles - %d", static_cast<int>(dwCount)));
    return guarded("sOPCGroup.SetClientHandles - Exception", [&] {
        return forEachHandle(dwCount, phServer, ppErrors, phClient != nullptr, [&](sOPCItem& item, DWORD i) {
            item.hClient = phClient[i];
            return S_OK;
        });
    });
}

HRESULT sOPCGroup::SetDatatypes(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes, HRESULT** ppErrors)
{
    LogLine(formatText("sOPCGroup.SetDatatypes - %d", static_cast<int>(dwCount)));
    return guarded("sOPCGroup.SetDatatypes - Exception", [&] {
        return forEachHandle(dwCount, phServer, ppErrors, pRequestedDatatypes != nullptr, [&](sOPCItem& item, DWORD i) {
            item.SetRequestedDataType(pRequestedDatatypes[i]);
            return S_OK;
        });
    });
}

HRESULT sOPCGroup::CreateEnumerator(REFIID riid, IUnknown** ppUnk)
{
    LogLine("sOPCGroup.CreateEnumerator");
    return guarded("sOPCGroup.CreateEnumerator - Exception", [&]() -> HRESULT {
        if (!ppUnk)
            return E_INVALIDARG;
        *ppUnk = nullptr;
        if (itemCount() == 0)
            return S_FALSE;
        auto en = makeCom<sOPCItemEnumerator>(ComPtr<sOPCGroup>(this));
        return en->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
    });
}

std::size_t sOPCGroup::itemCount()
{
    std::lock_guard<std::mutex> guard(lock_);
    return FOPCItemList.size();
}

bool sOPCGroup::itemAttributes(std::size_t index, OPCITEMATTRIBUTES& oia)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (index >= FOPCItemList.size())
        return false;
    FOPCItemList[index]->GetOPCItemAttributes(oia);
    return true;
}

// ---- IOPCGroupStateMgt and IOPCPublicGroupStateMgt -------------------------

HRESULT sOPCGroup::GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias, float* pPercentDeadband,
                            DWORD* pLCID, OPCHANDLE* phClientGroup, OPCHANDLE* phServerGroup)
{
    LogLine("sOPCGroup.GetState");
    return guarded("sOPCGroup.GetState - Exception", [&]() -> HRESULT {
        if (!pUpdateRate || !pActive || !ppName || !pTimeBias || !pPercentDeadband || !pLCID || !phClientGroup
            || !phServerGroup)
            return E_INVALIDARG;
        *ppName = taskStrDup(name());
        if (!*ppName)
            return E_OUTOFMEMORY;
        std::lock_guard<std::mutex> guard(lock_);
        *pUpdateRate = FRequestedUpdateRate;
        *pActive = FActive ? -1 : 0;
        *pTimeBias = FTimeBias;
        *pPercentDeadband = FPercentDeadband;
        *pLCID = FLCID;
        *phClientGroup = FClientGroup;
        *phServerGroup = handle_;
        return S_OK;
    });
}

HRESULT sOPCGroup::SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive, LONG* pTimeBias,
                            float* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup)
{
    LogLine("sOPCGroup.SetState");
    return guarded("sOPCGroup.SetState - Exception", [&] {
        std::lock_guard<std::mutex> guard(lock_);
        if (pRequestedUpdateRate)
            SetUpdateRate(*pRequestedUpdateRate);
        if (pActive) {
            // Switched on, the group sends every active item at its next update.
            if (*pActive != FALSE && !FActive)
                forgetReported();
            FActive = *pActive != FALSE;
        }
        if (pTimeBias)
            FTimeBias = *pTimeBias;
        if (pPercentDeadband)
            FPercentDeadband = *pPercentDeadband;
        if (pLCID)
            FLCID = *pLCID;
        if (phClientGroup)
            FClientGroup = *phClientGroup;
        if (pRevisedUpdateRate)
            *pRevisedUpdateRate = FRequestedUpdateRate;
        return S_OK;
    });
}

HRESULT sOPCGroup::SetName(LPCWSTR szName)
{
    LogLine("sOPCGroup.SetName - " + toUtf8(fromClient(szName)));
    if (!szName)
        return E_INVALIDARG;
    setName(szName);
    return S_OK;
}

HRESULT sOPCGroup::CloneGroup(LPCWSTR szName, REFIID riid, IUnknown** ppUnk)
{
    LogLine("sOPCGroup.CloneGroup - " + toUtf8(fromClient(szName)));
    return guarded("sOPCGroup.CloneGroup - Exception", [&]() -> HRESULT {
        if (!ppUnk)
            return E_INVALIDARG;
        *ppUnk = nullptr;
        if (riid != IOPCItemMgt::iid && riid != IUnknown::iid)
            return E_NOINTERFACE;
        auto server = FDataAccess.lock();
        if (!server)
            return E_FAIL;
        auto clone = makeCom<sOPCGroup>(core_, FDataAccess);
        {
            std::scoped_lock both(lock_, clone->lock_);
            clone->SetUpdateRate(FRequestedUpdateRate);
            clone->FClientGroup = FClientGroup;
            clone->FTimeBias = FTimeBias;
            clone->FPercentDeadband = FPercentDeadband;
            clone->FLCID = FLCID;
            clone->CallBackEnabled = CallBackEnabled;
            for (const auto& item : FOPCItemList)
                item->Copy(clone->appendItem(item->FOPCNode));
            clone->itemsChanged();
        }
        std::u16string cloneName = fromClient(szName);
        if (!server->AddOPCGroup(clone, cloneName))
            return OPC_E_DUPLICATENAME;
        return clone->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
    });
}

HRESULT sOPCGroup::GetState(BOOL* pPublic)
{
    LogLine("sOPCGroup.GetState");
    if (!pPublic)
        return E_INVALIDARG;
    *pPublic = FPublicGroupFlag ? -1 : 0;
    return S_OK;
}

HRESULT sOPCGroup::MoveToPublic()
{
    LogLine("sOPCGroup.MoveToPublic");
    return guarded("sOPCGroup.MoveToPublic - Exception", [&] {
        auto server = FDataAccess.lock();
        return server ? server->ChangeGroupToPublic(this) : E_FAIL;
    });
}

// ---- IOPCSyncIO ------------------------------------------------------------

HRESULT sOPCGroup::Read(DWORD dwSource, DWORD dwCount, OPCHANDLE* phServer, OPCITEMSTATE** ppItemValues,
                        HRESULT** ppErrors)
{
    LogLine(formatText("sOPCGroup.Read - %d - %d", static_cast<int>(dwSource), static_cast<int>(dwCount)));
    return guarded("sOPCGroup.Read - Exception", [&]() -> HRESULT {
        if (!ppItemValues || !ppErrors)
            return E_INVALIDARG;
        *ppItemValues = nullptr;
        *ppErrors = nullptr;
        if (dwCount == 0 || !phServer)
            return E_INVALIDARG;
        if (!allocPair(dwCount, ppItemValues, ppErrors))
            return E_OUTOFMEMORY;
        HRESULT result = S_OK;
        bool delivered = false;
        {
            std::lock_guard<std::mutex> guard(lock_);
            for (DWORD i = 0; i < dwCount; ++i) {
                OPCITEMSTATE& state = (*ppItemValues)[i];
                HRESULT& error = (*ppErrors)[i];
                sOPCItem* item = GetOPCItem(phServer[i]);
                if (!item) {
                    error = OPC_E_INVALIDHANDLE;
                } else if (!item->ReadAble()) {
                    state.wQuality = OPC_QUALITY_BAD;
                    error = OPC_E_BADRIGHTS;
                } else if (dwSource == OPC_DS_DEVICE || FActive) {
                    item->GetOPCItemState(dwSource, state, *core_);
                    delivered = true;
                } else {
                    state.wQuality = OPC_QUALITY_OUT_OF_SERVICE;
                }
                if (error != S_OK)
                    result = S_FALSE;
            }
        }
        if (delivered)
            touchLastUpdate();
        return result;
    });
}

HRESULT sOPCGroup::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, HRESULT** ppErrors)
{
    LogLine(formatText("sOPCGroup.Write - %d", static_cast<int>(dwCount)));
    return guarded("sOPCGroup.Write - Exception", [&] {
        return forEachHandle(dwCount, phServer, ppErrors, pItemValues != nullptr, [&](sOPCItem& item, DWORD i) {
            if (!item.WriteAble())
                return OPC_E_BADRIGHTS;
            return item.Write(pItemValues[i], *core_);
        });
    });
}

// ---- IOPCAsyncIO2 ----------------------------------------------------------

HRESULT sOPCGroup::queue(std::unique_ptr<sOPCAsyncIO2> request, DWORD* pdwCancelID)
{
    *pdwCancelID = request->pdwCancelID;
    std::lock_guard<std::mutex> guard(lock_);
    AsyncIOList.push_back(std::move(request));
    return S_OK;
}

HRESULT sOPCGroup::Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID, DWORD* pdwCancelID,
                        HRESULT** ppErrors)
{
    LogLine(formatText("sOPCGroup.Read - %d", static_cast<int>(dwCount)));
    return guarded("sOPCGroup.Read - Exception", [&]() -> HRESULT {
        if (ppErrors)
            *ppErrors = nullptr;
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (!sinkConnected_)
                return CONNECT_E_NOCONNECTION;
        }
        if (dwCount == 0 || dwTransactionID == 0 || !phServer || !pdwCancelID || !ppErrors)
            return E_INVALIDARG;
        HRESULT hr = S_OK;
        *ppErrors = taskAlloc<HRESULT>(dwCount, hr);
        if (!*ppErrors)
            return hr;
        auto request =
            std::make_unique<sOPCAsyncIO2>(sOPCMode::omRead, dwTransactionID, dwCount, OPC_DS_DEVICE, nextCancelId());
        request->Copy_phServer(phServer);
        return queue(std::move(request), pdwCancelID);
    });
}

HRESULT sOPCGroup::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, DWORD dwTransactionID,
                         DWORD* pdwCancelID, HRESULT** ppErrors)
{
    LogLine(formatText("sOPCGroup.Write - %d", static_cast<int>(dwCount)));
    return guarded("sOPCGroup.Write - Exception", [&]() -> HRESULT {
        if (ppErrors)
            *ppErrors = nullptr;
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (!sinkConnected_)
                return CONNECT_E_NOCONNECTION;
        }
        if (dwCount == 0 || dwTransactionID == 0 || !phServer || !pItemValues || !pdwCancelID || !ppErrors)
            return E_INVALIDARG;
        HRESULT hr = S_OK;
        *ppErrors = taskAlloc<HRESULT>(dwCount, hr);
        if (!*ppErrors)
            return hr;
        auto request =
            std::make_unique<sOPCAsyncIO2>(sOPCMode::omWrite, dwTransactionID, dwCount, OPC_DS_DEVICE, nextCancelId());
        request->Copy_phServer(phServer);
        request->Copy_pItemValues(pItemValues);
        return queue(std::move(request), pdwCancelID);
    });
}

HRESULT sOPCGroup::Refresh2(DWORD dwSource, DWORD dwTransactionID, DWORD* pdwCancelID)
{
    LogLine(formatText("sOPCGroup.Refresh2 - %d", static_cast<int>(dwSource)));
    return guarded("sOPCGroup.Refresh2 - Exception", [&]() -> HRESULT {
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (!sinkConnected_)
                return CONNECT_E_NOCONNECTION;
            if (dwTransactionID == 0 || !pdwCancelID)
                return E_INVALIDARG;
            // Only what the refresh would send counts: an active branch has nothing to read.
            const bool anyActive = std::any_of(FOPCItemList.begin(), FOPCItemList.end(),
                                               [](const auto& i) { return i->bActive && i->ReadAble(); });
            if (!FActive || !anyActive)
                return E_FAIL;
        }
        return queue(std::make_unique<sOPCAsyncIO2>(sOPCMode::omRefresh, dwTransactionID, 0, dwSource, nextCancelId()),
                     pdwCancelID);
    });
}

HRESULT sOPCGroup::Cancel2(DWORD dwCancelID)
{
    LogLine(formatText("sOPCGroup.Cancel2 - %d", static_cast<int>(dwCancelID)));
    std::lock_guard<std::mutex> guard(lock_);
    for (auto& r : AsyncIOList)
        if (r->pdwCancelID == dwCancelID) {
            r->FCancelFlag = true;
            return S_OK;
        }
    return E_FAIL;
}

HRESULT sOPCGroup::SetEnable(BOOL bEnable)
{
    LogLine(formatText("sOPCGroup.SetEnable - %d", bEnable));
    std::lock_guard<std::mutex> guard(lock_);
    CallBackEnabled = bEnable != FALSE;
    return S_OK;
}

HRESULT sOPCGroup::GetEnable(BOOL* pbEnable)
{
    LogLine("sOPCGroup.GetEnable");
    if (!pbEnable)
        return E_INVALIDARG;
    std::lock_guard<std::mutex> guard(lock_);
    *pbEnable = CallBackEnabled ? -1 : 0;
    return S_OK;
}

void sOPCGroup::forgetReported()
{
    for (const auto& item : FOPCItemList)
        item->FCallBackTime.reset();
}

// ---- connection point ------------------------------------------------------

HRESULT sOPCGroup::EnumConnectionPoints(IEnumConnectionPoints** ppEnum)
{
    LogLine("sOPCGroup.EnumConnectionPoints - not implemented");
    if (ppEnum)
        *ppEnum = nullptr;
    return E_NOTIMPL;
}

HRESULT sOPCGroup::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP)
{
    LogLine("sOPCGroup.FindConnectionPoint");
    if (!ppCP)
        return E_INVALIDARG;
    *ppCP = nullptr;
    if (riid != IOPCDataCallback::iid)
        return E_NOINTERFACE;
    FConnectionPoint.AddRef();
    *ppCP = &FConnectionPoint;
    return S_OK;
}

void sOPCGroup::ConnectEvent(IUnknown* sink)
{
    ComPtr<IOPCDataCallback> callback;
    if (sink)
        sink->QueryInterface(IOPCDataCallback::iid, callback.putVoid());
    {
        std::lock_guard<std::mutex> guard(lock_);
        sinkConnected_ = sink != nullptr;
        std::swap(FDataCallback, callback);
        // A new callback knows nothing yet: the next update sends every active item.
        if (sink)
            forgetReported();
    }
    // The withdrawn callback is released here, outside the lock.
}

} // namespace opcda
