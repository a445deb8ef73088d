#pragma once
// An OPC group: a client's items, its synchronous reads and writes, its
// queue of asynchronous requests and its tick, which works the queue off and
// sends changed values at the update rate.
//
// One mutex guards the items, the group's state, the queue and the callback;
// calls into the client are made after it is released. The server object's
// shared state is held weakly: a group the client keeps after releasing its
// server still works, but can no longer be cloned or made public.

#include "compat/com/connpoint.h"
#include "opcda/async_io.h"
#include "opcda/item.h"
#include "opcda/opc_core.h"

#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace opcda {

struct DataAccessState;

class sOPCGroup final : public com::ComObject<IOPCAsyncIO2, com::IConnectionPointContainer, IOPCSyncIO,
                                              IOPCPublicGroupStateMgt, IOPCGroupStateMgt, IOPCItemMgt, IOPCGroup> {
public:
    sOPCGroup(std::shared_ptr<sOPC> core, std::weak_ptr<DataAccessState> server);
    ~sOPCGroup() override;

    void Init(const std::u16string& szName, com::BOOL bActive, com::DWORD dwRequestedUpdateRate, OPCHANDLE hClientGroup,
              const com::LONG* pTimeBias, const float* pPercentDeadband, com::DWORD dwLCID);
    OPCHANDLE handle() const { return handle_; }
    std::u16string name() const;
    void setName(const std::u16string& n);
    bool isPublic() const { return FPublicGroupFlag.load(); }
    void makePublic() { FPublicGroupFlag = true; }
    com::DWORD updateRate();
    // The tick: queued requests, then the periodic refresh when it is due.
    void Timer();

    // IOPCItemMgt
    com::HRESULT AddItems(com::DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                          com::HRESULT** ppErrors) override;
    com::HRESULT ValidateItems(com::DWORD dwCount, OPCITEMDEF* pItemArray, com::BOOL bBlobUpdate,
                               OPCITEMRESULT** ppValidationResults, com::HRESULT** ppErrors) override;
    com::HRESULT RemoveItems(com::DWORD dwCount, OPCHANDLE* phServer, com::HRESULT** ppErrors) override;
    com::HRESULT SetActiveState(com::DWORD dwCount, OPCHANDLE* phServer, com::BOOL bActive,
                                com::HRESULT** ppErrors) override;
    com::HRESULT SetClientHandles(com::DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient,
                                  com::HRESULT** ppErrors) override;
    com::HRESULT SetDatatypes(com::DWORD dwCount, OPCHANDLE* phServer, com::VARTYPE* pRequestedDatatypes,
                              com::HRESULT** ppErrors) override;
    com::HRESULT CreateEnumerator(com::REFIID riid, com::IUnknown** ppUnk) override;

    // IOPCGroupStateMgt
    com::HRESULT GetState(com::DWORD* pUpdateRate, com::BOOL* pActive, com::LPWSTR* ppName, com::LONG* pTimeBias,
                          float* pPercentDeadband, com::DWORD* pLCID, OPCHANDLE* phClientGroup,
                          OPCHANDLE* phServerGroup) override;
    com::HRESULT SetState(com::DWORD* pRequestedUpdateRate, com::DWORD* pRevisedUpdateRate, com::BOOL* pActive,
                          com::LONG* pTimeBias, float* pPercentDeadband, com::DWORD* pLCID,
                          OPCHANDLE* phClientGroup) override;
    com::HRESULT SetName(com::LPCWSTR szName) override;
    com::HRESULT CloneGroup(com::LPCWSTR szName, com::REFIID riid, com::IUnknown** ppUnk) override;

    // IOPCPublicGroupStateMgt
    com::HRESULT GetState(com::BOOL* pPublic) override;
    com::HRESULT MoveToPublic() override;

    // IOPCSyncIO
    com::HRESULT Read(com::DWORD dwSource, com::DWORD dwCount, OPCHANDLE* phServer, OPCITEMSTATE** ppItemValues,
                      com::HRESULT** ppErrors) override;
    com::HRESULT Write(com::DWORD dwCount, OPCHANDLE* phServer, com::VARIANT* pItemValues,
                       com::HRESULT** ppErrors) override;

    // IOPCAsyncIO2
    com::HRESULT Read(com::DWORD dwCount, OPCHANDLE* phServer, com::DWORD dwTransactionID, com::DWORD* pdwCancelID,
                      com::HRESULT** ppErrors) override;
    com::HRESULT Write(com::DWORD dwCount, OPCHANDLE* phServer, com::VARIANT* pItemValues, com::DWORD dwTransactionID,
                       com::DWORD* pdwCancelID, com::HRESULT** ppErrors) override;
    com::HRESULT Refresh2(com::DWORD dwSource, com::DWORD dwTransactionID, com::DWORD* pdwCancelID) override;
    com::HRESULT Cancel2(com::DWORD dwCancelID) override;
    com::HRESULT SetEnable(com::BOOL bEnable) override;
    com::HRESULT GetEnable(com::BOOL* pbEnable) override;

    // IConnectionPointContainer
    com::HRESULT EnumConnectionPoints(com::IEnumConnectionPoints** ppEnum) override;
    com::HRESULT FindConnectionPoint(com::REFIID riid, com::IConnectionPoint** ppCP) override;

    // For the item enumerator: the live list, read under the lock.
    std::size_t itemCount();
    // False at the end of the list; attributes filled otherwise.
    bool itemAttributes(std::size_t index, OPCITEMATTRIBUTES& oia);

private:
    friend class sOPCAsyncIO2;

    sOPCItem* GetOPCItem(OPCHANDLE h); // with lock_ held
    void SetUpdateRate(com::DWORD rate);
    void ConnectEvent(com::IUnknown* sink);
    sOPCItem& appendItem(sOPCNode& node); // with lock_ held
    void itemsChanged();                  // with lock_ held: the stopwatch runs while items exist
    com::HRESULT queue(std::unique_ptr<sOPCAsyncIO2> request, com::DWORD* pdwCancelID);
    void touchLastUpdate();
    void forgetReported(); // with lock_ held: the next update sends every active item
    template <class Apply>
    com::HRESULT forEachHandle(com::DWORD dwCount, const OPCHANDLE* phServer, com::HRESULT** ppErrors, bool argsGiven,
                               Apply apply);
    // The checks and the error array every call over server handles starts
    // with: S_OK with *ppErrors allocated, or what to answer instead, with
    // *ppErrors null. argsGiven: the call's per-item array is there.
    static com::HRESULT allocHandleErrors(com::DWORD dwCount, const OPCHANDLE* phServer, com::HRESULT** ppErrors,
                                          bool argsGiven);

    const std::shared_ptr<sOPC> core_;
    const std::weak_ptr<DataAccessState> FDataAccess;
    const OPCHANDLE handle_;
    std::mutex lock_;
    mutable std::mutex nameLock_; // leaf lock: the server reads names under its own lock
    std::u16string FName;
    bool FActive = false;
    com::DWORD FRequestedUpdateRate = 0;
    OPCHANDLE FClientGroup = 0;
    com::LONG FTimeBias = 0;
    float FPercentDeadband = 0;
    com::DWORD FLCID = 0;
    std::atomic<bool> FPublicGroupFlag{false};
    std::vector<std::unique_ptr<sOPCItem>> FOPCItemList;
    std::unordered_map<OPCHANDLE, sOPCItem*> itemsByHandle_;
    OPCHANDLE lastItemHandle_ = 0;
    std::deque<std::unique_ptr<sOPCAsyncIO2>> AsyncIOList;
    bool CallBackEnabled = true;
    com::ComPtr<IOPCDataCallback> FDataCallback;
    bool sinkConnected_ = false;
    std::atomic<bool> tickEnabled_{false};
    sTimer FTimer;
    com::SingleSinkConnectionPoint FConnectionPoint;
};

// Group handles and cancel ids: 32-bit, from counters, never 0, never reused.
OPCHANDLE nextGroupHandle();
com::DWORD nextCancelId();

} // namespace opcda
