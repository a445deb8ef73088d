#pragma once
// One unit of a group's work: an asynchronous read, write or refresh that
// waits in the group's queue, or the periodic refresh of the tick. Running
// it reads or writes the items under the group's lock and then answers the
// client's data callback outside it. sTimer times the periodic refresh.

#include "core/clock.h"
#include "opcda/opc_defs.h"

#include <atomic>
#include <vector>

namespace opcda {

class sOPCGroup;

enum class sOPCMode { omRead, omWrite, omRefresh, omTimerRefresh };

class sOPCAsyncIO2 {
public:
    sOPCAsyncIO2(sOPCMode aOPCMode, com::DWORD adwTransactionID, com::DWORD adwCount, com::DWORD aDataSource,
                 com::DWORD cancelId);
    ~sOPCAsyncIO2();
    sOPCAsyncIO2(const sOPCAsyncIO2&) = delete;
    sOPCAsyncIO2& operator=(const sOPCAsyncIO2&) = delete;

    void Copy_phServer(const OPCHANDLE* aphServer);
    void Copy_pItemValues(const com::VARIANT* apItemValues);
    bool Init();
    void Done();
    // Runs the request, or closes a cancelled one with its cancel completion.
    void ProcessRequest(sOPCGroup& group);

    const sOPCMode OPCMode;
    const com::DWORD dwTransactionID;
    com::DWORD dwCount;
    const com::DWORD DataSource;
    std::atomic<bool> FCancelFlag{false};
    const com::DWORD pdwCancelID;

private:
    void Read(sOPCGroup& group);
    void Write(sOPCGroup& group);
    void Refresh(sOPCGroup& group);
    void CancelComplete(sOPCGroup& group);

    OPCHANDLE* mClientID = nullptr;
    com::VARIANT* mVariant = nullptr;
    com::WORD* mQuality = nullptr;
    com::FILETIME* mTime = nullptr;
    com::HRESULT* mError = nullptr;
    std::vector<OPCHANDLE> hServer;
    std::vector<com::Variant> ItemValues;
};

// A millisecond stopwatch over the monotonic clock.
class sTimer {
public:
    explicit sTimer(gw::TClock& clock, bool autoStart = false);
    void Start();
    void Stop();
    bool isRunning() const { return FRunning; }
    double msTime() const;

private:
    gw::TClock& clock_;
    std::int64_t Time = 0;
    std::int64_t FStopTime = 0;
    bool FRunning = false;
};

} // namespace opcda
