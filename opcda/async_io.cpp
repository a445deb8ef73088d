#include "opcda/async_io.h"

#include "opcda/framework.h"
#include "opcda/group.h"

namespace opcda {

using namespace com;

namespace {

constexpr HRESULT MasterQuality = 192;

} // namespace

sOPCAsyncIO2::sOPCAsyncIO2(sOPCMode aOPCMode, DWORD adwTransactionID, DWORD adwCount, DWORD aDataSource, DWORD cancelId)
    : OPCMode(aOPCMode), dwTransactionID(adwTransactionID), dwCount(adwCount), DataSource(aDataSource),
      pdwCancelID(cancelId)
{
}

sOPCAsyncIO2::~sOPCAsyncIO2() { Done(); }

void sOPCAsyncIO2::Copy_phServer(const OPCHANDLE* aphServer) { hServer.assign(aphServer, aphServer + dwCount); }

void sOPCAsyncIO2::Copy_pItemValues(const VARIANT* apItemValues)
{
    ItemValues.resize(dwCount);
    for (DWORD i = 0; i < dwCount; ++i)
        VariantCopy(ItemValues[i].get(), &apItemValues[i]);
}

bool sOPCAsyncIO2::Init()
{
    HRESULT hr = S_OK;
    mClientID = taskAlloc<OPCHANDLE>(dwCount, hr);
    mError = taskAlloc<HRESULT>(dwCount, hr);
    if (OPCMode != sOPCMode::omWrite) {
        mVariant = taskAlloc<VARIANT>(dwCount, hr);
        mQuality = taskAlloc<WORD>(dwCount, hr);
        mTime = taskAlloc<FILETIME>(dwCount, hr);
    }
    if (SUCCEEDED(hr))
        return true;
    Done();
    return false;
}

void sOPCAsyncIO2::Done()
{
    if (mVariant)
        for (DWORD i = 0; i < dwCount; ++i)
            VariantClear(&mVariant[i]);
    CoTaskMemFree(std::exchange(mClientID, nullptr));
    CoTaskMemFree(std::exchange(mVariant, nullptr));
    CoTaskMemFree(std::exchange(mQuality, nullptr));
    CoTaskMemFree(std::exchange(mTime, nullptr));
    CoTaskMemFree(std::exchange(mError, nullptr));
}

void sOPCAsyncIO2::ProcessRequest(sOPCGroup& group)
{
    if (FCancelFlag) {
        CancelComplete(group);
        return;
    }
    switch (OPCMode) {
    case sOPCMode::omRead: Read(group); break;
    case sOPCMode::omWrite: Write(group); break;
    case sOPCMode::omRefresh:
    case sOPCMode::omTimerRefresh: Refresh(group); break;
    }
}

// A cancelled transaction is closed like any other, once: the client that
// waits for one completion per transaction gets this one instead of the
// read, write or refresh it cancelled.
void sOPCAsyncIO2::CancelComplete(sOPCGroup& group)
{
    ComPtr<IOPCDataCallback> callback;
    OPCHANDLE hGroup = 0;
    {
        std::lock_guard<std::mutex> guard(group.lock_);
        callback = group.FDataCallback;
        hGroup = group.FClientGroup;
    }
    if (callback)
        guarded("sOPCAsyncIO2.CancelComplete", [&] { return callback->OnCancelComplete(dwTransactionID, hGroup); });
}

// Every accepted read is answered, failed entries included: otherwise the
// client's transaction would never complete.
void sOPCAsyncIO2::Read(sOPCGroup& group)
{
    if (!Init())
        return;
    ComPtr<IOPCDataCallback> callback;
    OPCHANDLE hGroup = 0;
    bool failed = false;
    {
        std::lock_guard<std::mutex> guard(group.lock_);
        for (DWORD j = 0; j < dwCount; ++j) {
            sOPCItem* item = group.GetOPCItem(hServer[j]);
            if (!item) {
                mError[j] = OPC_E_INVALIDHANDLE;
            } else if (!item->bActive) {
                mClientID[j] = item->hClient;
                mQuality[j] = OPC_QUALITY_OUT_OF_SERVICE;
                mError[j] = E_FAIL;
            } else if (!item->ReadAble()) {
                mClientID[j] = item->hClient;
                mError[j] = OPC_E_BADRIGHTS;
            } else {
                NodeSnapshot s = item->Read(DataSource, *group.core_);
                mClientID[j] = item->hClient;
                mVariant[j] = *s.value.get();
                VariantInit(s.value.get()); // handed over, not copied
                mQuality[j] = item->FQuality;
                mTime[j] = group.core_->fileTime(s.time);
            }
            failed = failed || mError[j] != S_OK;
        }
        callback = group.FDataCallback;
        hGroup = group.FClientGroup;
    }
    if (callback) {
        group.touchLastUpdate();
        guarded("sOPCAsyncIO2.Read", [&] {
            return callback->OnReadComplete(dwTransactionID, hGroup, MasterQuality, failed ? S_FALSE : S_OK, dwCount,
                                            mClientID, mVariant, mQuality, mTime, mError);
        });
    }
    Done();
}

void sOPCAsyncIO2::Write(sOPCGroup& group)
{
    if (!Init())
        return;
    ComPtr<IOPCDataCallback> callback;
    OPCHANDLE hGroup = 0;
    bool failed = false;
    {
        std::lock_guard<std::mutex> guard(group.lock_);
        for (DWORD j = 0; j < dwCount; ++j) {
            sOPCItem* item = group.GetOPCItem(hServer[j]);
            if (!item) {
                mError[j] = OPC_E_INVALIDHANDLE;
            } else {
                mClientID[j] = item->hClient;
                if (!item->bActive)
                    mError[j] = E_FAIL;
                else if (!item->WriteAble())
                    mError[j] = OPC_E_BADRIGHTS;
                else
                    mError[j] = item->Write(*ItemValues[j].get(), *group.core_);
            }
            failed = failed || mError[j] != S_OK;
        }
        callback = group.FDataCallback;
        hGroup = group.FClientGroup;
    }
    if (callback) {
        group.touchLastUpdate();
        guarded("sOPCAsyncIO2.Write", [&] {
            return callback->OnWriteComplete(dwTransactionID, hGroup, failed ? S_FALSE : S_OK, dwCount, mClientID,
                                             mError);
        });
    }
    Done();
}

// The periodic refresh sends the items whose node stamp moved since their
// last report; a Refresh2 sends every active readable item. Each entry is
// one snapshot of its node. In a periodic refresh that snapshot's stamp
// becomes the item's reported stamp; a Refresh2 leaves the reported stamps
// alone, as it answers the client's own transaction: a change it carried is
// still sent once by the periodic data changes.
// An accepted Refresh2 whose items went away before it ran is answered
// empty, with E_FAIL as at the call: its transaction must complete.
//
// SetEnable gates the periodic callbacks only. While they are off, or no
// callback is connected, the periodic refresh still reads the nodes (the
// cache stays current) but marks nothing as reported, so what changed in the
// meantime goes out once a callback can take it.
void sOPCAsyncIO2::Refresh(sOPCGroup& group)
{
    const bool periodic = OPCMode == sOPCMode::omTimerRefresh;
    const DWORD source = periodic || DataSource == OPC_DS_DEVICE ? OPC_DS_DEVICE : OPC_DS_CACHE;
    ComPtr<IOPCDataCallback> callback;
    OPCHANDLE hGroup = 0;
    DWORD reported = 0;
    DWORD marked = 0;
    {
        std::lock_guard<std::mutex> guard(group.lock_);
        for (const auto& item : group.FOPCItemList) {
            item->FTag = item->bActive && item->ReadAble() ? 1 : 0;
            marked += static_cast<DWORD>(item->FTag);
        }
        if (marked == 0 && periodic)
            return;
        sOPC& core = *group.core_;
        if (periodic && (!group.FDataCallback || !group.CallBackEnabled)) {
            for (const auto& item : group.FOPCItemList)
                if (item->FTag != 0)
                    item->Read(source, core);
            return;
        }
        dwCount = marked;
        if (!Init())
            return;
        for (const auto& item : group.FOPCItemList) {
            if (item->FTag == 0)
                continue;
            NodeSnapshot s = item->Read(source, core);
            if (periodic && item->FCallBackTime == s.time)
                continue;
            item->FTag = 2;
            if (periodic)
                item->FCallBackTime = s.time;
            const DWORD k = reported++;
            mClientID[k] = item->hClient;
            mVariant[k] = *s.value.get();
            VariantInit(s.value.get());
            mQuality[k] = item->FQuality;
            mTime[k] = core.fileTime(s.time);
        }
        callback = group.FDataCallback;
        hGroup = group.FClientGroup;
    }
    if ((reported > 0 || !periodic) && callback) {
        group.touchLastUpdate();
        const HRESULT masterError = marked > 0 ? S_OK : E_FAIL;
        guarded("sOPCAsyncIO2.Refresh", [&] {
            return callback->OnDataChange(dwTransactionID, hGroup, MasterQuality, masterError, reported, mClientID,
                                          mVariant, mQuality, mTime, mError);
        });
    }
    Done();
}

sTimer::sTimer(gw::TClock& clock, bool autoStart) : clock_(clock)
{
    if (autoStart)
        Start();
}

void sTimer::Start()
{
    FRunning = true;
    Time = clock_.MonotonicMs();
}

void sTimer::Stop()
{
    if (!FRunning)
        return;
    FStopTime = clock_.MonotonicMs();
    FRunning = false;
}

double sTimer::msTime() const
{
    const std::int64_t elapsed = (FRunning ? clock_.MonotonicMs() : FStopTime) - Time;
    return elapsed > 0 ? static_cast<double>(elapsed) : 0.0;
}

} // namespace opcda
