#pragma once
// "iec104.cfg" texts for the tests and tools that run the service against
// kpsim: one station with the options a test varies and every other setting
// at the value the configurator gives it, or the bundled example's first
// stations moved to the ports their simulators listen on. The service reads
// them with its own reader, so a test's station is configured as a device's.
//
// The texts are the bytes of the file, which is Windows-1251: names given
// here are to be ASCII.

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace gw::test {

// A "TS" line: a single or double point, commanded at commandIoa (with the
// station's common address) unless that is 0.
struct TCfgPoint {
    TCfgPoint(int objectAddress, std::string pointName = "", int commandAddress = 0, int commandKind = 0,
              int pointKind = 0)
        : ioa(objectAddress), name(std::move(pointName)), commandIoa(commandAddress), commandType(commandKind),
          kind(pointKind)
    {
    }
    int ioa;
    std::string name;
    int commandIoa;
    int commandType; // Type_TU: +1 executed without select, +2 a double command
    int kind;        // Type_Var: 0 single point, 1 double point
};

// A "TIT" line: a measured value with no scaling ranges.
struct TCfgValue {
    int ioa = 0;
    std::string name;
};

// The OPC UA lines; a text without them leaves the reader's settings as
// they were.
struct TCfgOpcUa {
    bool use = true;
    bool writable = false;
    int port = 16670;
};

struct TOneStation {
    std::string name = "KP1";
    std::string ip = "127.0.0.1";
    int commonAddress = 1; // the station's and its link's
    int port = 2404;       // where the active channel connects, or the passive one listens
    std::string ip2;       // the active channel's reserve address, none when empty
    int port2 = 0;
    bool passive = false;
    bool startDt = false;   // "send_start_DT": the gateway starts the transfer on a passive link too
    bool timeToOpc = false; // "TIM": the station's time tags stamp the OPC values
    int interrogationMinutes = 0;
    int clockSyncMinutes = 0;
    std::vector<TCfgPoint> points;
    std::vector<TCfgValue> values;
    std::optional<TCfgOpcUa> opcUa;
};

std::string OneStationCfg(const TOneStation& station);

// The bundled example's stations 1 to ports.size() (their own settings,
// points and values), station n reached at ports[n - 1] instead of the
// example's 24040 + n.
std::string ExampleStations(const std::vector<int>& ports);

} // namespace gw::test
