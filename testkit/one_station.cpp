#include "testkit/one_station.h"

#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace gw::test {
namespace {

constexpr const char* Eol = "\r\n";
constexpr int StationIdentifier = 1001; // of the file's first station
constexpr int ExampleFirstPort = 24041;

// The link profile's defaults, as the configurator writes them, on the
// station's port and common address.
std::string PrmTLine(const TOneStation& s)
{
    return "PRM_T," + std::to_string(s.port) + ",30000,15000,10000,20000,12,8,100,0,0,0,0,5000,30000,3,20000,"
           + std::to_string(s.commonAddress) + ",2,3,2,30";
}

void OptionLines(std::ostringstream& cfg, const TOneStation& s)
{
    cfg << "PER,0" << Eol << "TIM," << s.timeToOpc << Eol << "POPR,0" << Eol << "OPROS," << s.interrogationMinutes
        << Eol << "OPROS_101,0" << Eol << "CLOCK_SYNC_103," << s.clockSyncMinutes << Eol << "IP2," << s.ip2 << Eol
        << "PORT2," << s.port2 << Eol << "PASSIV," << s.passive << Eol << "send_start_DT," << s.startDt << Eol;
}

void OpcUaLines(std::ostringstream& cfg, const TCfgOpcUa& u)
{
    cfg << "OPC_UA_use," << u.use << Eol << "OPC_UA_writable," << u.writable << Eol << "OPC_UA_by_pwd,0" << Eol
        << "OPC_UA_Port," << u.port << Eol;
}

void SignalLines(std::ostringstream& cfg, const TOneStation& s)
{
    const std::string head = std::to_string(StationIdentifier) + "," + std::to_string(s.commonAddress) + ",,\"";
    const std::string ca = std::to_string(s.commonAddress);
    for (const TCfgPoint& p : s.points)
        cfg << "TS," << head << p.name << "\",8272," << ca << "," << p.ioa << "," << (p.commandIoa ? ca : "0") << ","
            << p.commandIoa << "," << p.commandType << "," << p.kind << Eol;
    for (const TCfgValue& v : s.values)
        cfg << "TIT," << head << v.name << "\",8280," << ca << "," << v.ioa << ",0,0,0,0,0,0,0,0,0" << Eol;
}

std::string ReadExample()
{
    std::ifstream in(EXAMPLE_IEC104_CFG, std::ios::binary);
    if (!in)
        throw std::runtime_error(std::string("cannot read ") + EXAMPLE_IEC104_CFG);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Where the example's station n begins: at its "KP" line, which gives it the
// common address n. npos past the last station.
std::size_t StationStart(const std::string& cfg, std::size_t n)
{
    const std::string line = "KP," + std::to_string(n) + ",";
    if (cfg.compare(0, line.size(), line) == 0)
        return 0;
    const std::size_t at = cfg.find("\n" + line);
    return at == std::string::npos ? at : at + 1;
}

// The lines before the first station, with the station count of the comment
// line ";kol," made the given one.
std::string HeadFor(const std::string& example, std::size_t stations)
{
    const std::size_t first = StationStart(example, 1);
    if (first == std::string::npos)
        throw std::runtime_error("the example has no stations");
    std::string head = example.substr(0, first);
    const std::size_t kol = head.find(";kol,");
    if (kol != std::string::npos)
        head.replace(kol, head.find(Eol, kol) - kol, ";kol," + std::to_string(stations));
    return head;
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to)
{
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
}

} // namespace

std::string OneStationCfg(const TOneStation& station)
{
    std::ostringstream cfg;
    cfg << ";kol,1" << Eol << "KP," << station.commonAddress << ",1," << station.name << "," << station.ip << Eol
        << PrmTLine(station) << Eol;
    OptionLines(cfg, station);
    if (station.opcUa)
        OpcUaLines(cfg, *station.opcUa);
    SignalLines(cfg, station);
    return cfg.str();
}

std::string ExampleStations(const std::vector<int>& ports)
{
    const std::string example = ReadExample();
    std::string cfg = HeadFor(example, ports.size());
    for (std::size_t n = 1; n <= ports.size(); ++n) {
        const std::size_t begin = StationStart(example, n);
        if (begin == std::string::npos)
            throw std::runtime_error("the example has no station " + std::to_string(n));
        // Station by station, so that a port given to one station that is
        // the example's port of another is not replaced again.
        std::string station = example.substr(begin, StationStart(example, n + 1) - begin);
        ReplaceAll(station, std::to_string(ExampleFirstPort + static_cast<int>(n) - 1), std::to_string(ports[n - 1]));
        cfg += station;
    }
    return cfg;
}

} // namespace gw::test
