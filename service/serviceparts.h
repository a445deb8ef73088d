#pragma once
// What a program plugs into the service: the socket side of the channels,
// the OPC UA bridge and (fieldgate) the web server. The service start opens
// and starts them, the stop stops and joins them before it frees anything
// they read.

#include "core/datetime.h"
#include "core/linkport.h"

#include <cstdint>
#include <memory>
#include <string>

namespace gw {

class TServiceContext;
class TClient104Frm;
struct TCnfIni;

// The socket side of one station's channel: an active station's thread that
// connects, or a passive station's listening thread. It hands what it sees
// to its link object through the service's channel hand-over, always through
// the station's channel slot (TChannelSlots::WithLink).
class TChannel {
public:
    virtual ~TChannel() = default;

    // What the link object of the channel sends through and asks for.
    virtual TLinkPort& Port() = 0;
    // Starts the thread, once the channel's link object is in its slot.
    virtual void Start() = 0;
    // Asks the thread to end and interrupts every wait of it (a connect in
    // progress included); does not wait.
    virtual void RequestStop() = 0;
    // Waits at most timeoutMs for the thread to end; true once it has ended.
    virtual bool Join(std::int64_t timeoutMs) = 0;
};

// An active station's channel as the service start sets it up.
struct TActiveChannelParams {
    int Number_of_Thread = 0; // channel number, 1-based (= station index)
    std::string Host_Thread;  // primary address
    int Port_Thread = 0;
    std::string Host_Thread2; // reserve address, empty = none
    int Port_Thread2 = 0;     // 0 = none
    int T0 = 0;               // silence time-out, ms
};

class TChannelFactory {
public:
    virtual ~TChannelFactory() = default;
    // Station kpIndex of ctx is active. Not started yet. Throws when the
    // channel cannot be built (no memory, no thread): the start fails.
    virtual std::unique_ptr<TChannel> OpenActive(TServiceContext& ctx, int kpIndex,
                                                 const TActiveChannelParams& params) = 0;
    // Station kpIndex listens on 0.0.0.0:port (the service has already set
    // the row's Port and IP). Null, never an exception, when it cannot
    // listen (a port in use is the configuration's doing, not the
    // program's): the service then writes the line of "error_iec104.txt" and
    // starts the other stations. Bound, not started yet.
    virtual std::unique_ptr<TChannel> OpenPassive(TServiceContext& ctx, int kpIndex, int port) = 0;
};

// The OPC UA library's server as the service starts it and the value
// publication feeds it. Statuses are OPC UA status codes: 0 good,
// 0x80000000 bad, and the few below that tell a client more.
class TOpcUaBridge {
public:
    static constexpr std::uint32_t StatusBad = 0x80000000u;
    static constexpr std::uint32_t StatusUncertain = 0x40000000u;
    static constexpr std::uint32_t StatusUncertainLastUsableValue = 0x40900000u;
    static constexpr std::uint32_t StatusUncertainEngineeringUnitsExceeded = 0x40940000u;
    static constexpr std::uint32_t StatusGoodLocalOverride = 0x00960000u;

    virtual ~TOpcUaBridge() = default;
    // Builds the address space on the OPC items that the start has just
    // numbered and starts the server thread; false when OPC UA is off or its
    // library cannot be loaded.
    virtual bool Start(TServiceContext& ctx) = 0;
    // Ends the server run and joins its thread; harmless when not running.
    virtual void Stop() = 0;
    // The "lifebit" variable, 0 when there is none.
    virtual int LifebitId() const = 0;
    // type: 0 Boolean, 5 Int32, 10 Double.
    virtual void SetValue(int type, int id, int iValue, double dValue, std::uint32_t status, TDateTime source,
                          TDateTime server) = 0;
    virtual void SetQuality(int id, std::uint32_t status, TDateTime source, TDateTime server) = 0;
};

// fieldgate's web server, started by the service start with the settings of
// "cnf.ini".
class TServiceWebServer {
public:
    virtual ~TServiceWebServer() = default;
    // Throws (std::exception) when it cannot listen.
    virtual void Start(const TCnfIni& settings) = 0;
    // Stops serving and joins every request thread; harmless when not running.
    virtual void Stop() = 0;
};

} // namespace gw
