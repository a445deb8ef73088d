#pragma once
// The OPC UA bridge: at each service start it loads the OPC UA library from
// the service directory, builds the library's address space from the
// station table (a group per station and one for the "lifebit", a
// "Connected" variable per station and one variable per point and measured
// value, with the ids of the OPC items), and runs the library's blocking
// server call on a thread of its own. The value publication pushes through
// it; a client's write of a point comes back on the library's thread and
// becomes an On or Off command through the command entry. A point without
// command addresses is read-only whatever OPC_UA_writable says. Where the
// library has the write status addition, the client's write is answered
// with the command entry's decision; a library with only the 13 entry
// points answers Good to every write it takes.
//
// The library keeps one server per process and calls back with the variable
// id alone, so one bridge at a time holds it; a second one is refused.
//
// How the bridge fails: Start returns false and every other call returns
// quietly; what went wrong (a library that does not load, a server that
// ends or does not stop, a write that cannot become a command) is written
// to "log_iec104.txt". Nothing throws into the service, and nothing unwinds
// into the library from its callbacks.

#include "core/command.h"
#include "service/cfgfile.h"
#include "service/commandentry.h"
#include "service/serviceparts.h"
#include "service/thread.h"
#include "opcua/opcualibrary.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace gw {

class TServiceContext;

// One group of the address space.
struct TAll_groups_OPC_UA {
    std::string Name; // the filtered name
    std::string comment;
    std::int32_t index1 = 0; // the group id
};

// Library type codes of the variables.
constexpr int UaTypeBoolean = 0, UaTypeInt32 = 5, UaTypeDouble = 10;
// Kinds of a point's variable.
constexpr std::uint16_t UaKindDoublePoint = 3, UaKindSinglePoint = 11;
constexpr std::int32_t UaGroupBase = 80000; // station i has group 80000 + i
// How long the stop waits for the server call to return.
constexpr std::int64_t OpcUaJoinMs = 3000;

// The command a client's written integer v asks of a point of kind:
// a single point On for v > 0, else Off; a double point On for 2, Off for 1,
// none otherwise.
std::optional<TTUCommand> UaWrittenCommand(std::uint16_t kind, std::int32_t v);

// The OPC UA status a write gets for the command entry's decision: Good for
// accepted, BadNoCommunication, BadTooManyOperations, BadOutOfRange (the
// value gives no command), BadNotWritable.
std::uint32_t UaWriteStatus(TTuDecision decision);

class TOpcUaLibraryBridge final : public TOpcUaBridge {
public:
    // settings are read at every Start: the service start has just read them
    // with "iec104.cfg". They must outlive the bridge. opcstation's dialog
    // may change them while the server runs: the server thread has its own
    // copy, taken at the start.
    explicit TOpcUaLibraryBridge(const TOpcUaSettings& settings);
    ~TOpcUaLibraryBridge() override;
    TOpcUaLibraryBridge(const TOpcUaLibraryBridge&) = delete;
    TOpcUaLibraryBridge& operator=(const TOpcUaLibraryBridge&) = delete;

    // False when OPC_UA_use is off, or (with a line in "log_iec104.txt") when
    // the library cannot be loaded or another bridge holds it.
    bool Start(TServiceContext& ctx) override;
    // setrunning_bool(0), then joins the server thread within OpcUaJoinMs and
    // unloads the library.
    void Stop() override;
    int LifebitId() const override { return OpcUaLifebitId; }
    void SetValue(int type, int id, int iValue, double dValue, std::uint32_t status, TDateTime source,
                  TDateTime server) override;
    void SetQuality(int id, std::uint32_t status, TDateTime source, TDateTime server) override;

    const std::vector<TAll_groups_OPC_UA>& Groups() const { return OpcUaGroups; }
    // A client wrote v to variable id: the command of that point, if any, and
    // what the command entry decided about it. A write that gives no command
    // is logged with its station and signal; so is one the entry did not
    // accept when answeredGood (the library without the write status
    // addition has told the client Good). The variable goes on showing the
    // station's state, since a write does not change it.
    TTuDecision OpcUaWriteToCommand(int id, std::int32_t v, bool answeredGood);

private:
    // What a writable variable commands.
    struct TUaPoint {
        std::uint16_t kind = 0; // 0: not a point of this build
        std::int32_t tag = 0;
        std::string who; // station and signal, for the log lines
    };

    bool LoadOpcUaLibrary(TServiceContext& ctx);
    void StartOpcUa(TServiceContext& ctx);
    void AddStation(TServiceContext& ctx, int i, std::int32_t& tag);
    void Execute(const TOpcUaSettings& settings); // the server thread (TOPCUAThread)
    static void OpcUaWriteCallback(std::int32_t id);
    static std::uint32_t OpcUaWriteStatusCallback(std::int32_t id);
    void Release(); // after the thread has ended

    const TOpcUaSettings& settings_;
    TOpcUaLibrary lib_;
    TServiceContext* ctx_ = nullptr;
    std::int32_t OpcUaKpCount = 0;
    std::vector<TAll_groups_OPC_UA> OpcUaGroups;
    int OpcUaLifebitId = 0;
    std::vector<TUaPoint> points_; // by variable id; fixed while the thread runs

    TThread thread_; // the server thread; asked to stop through setrunning_bool(0)
};

} // namespace gw
