#include "support/tshark.h"

#include "testkit/temp_dir.h"

#include <cstdio>
#include <sstream>
#include <stdexcept>

namespace gw::test {

namespace {

// text2pcap's input: each frame a hex dump starting at offset 0000.
std::string HexDump(const std::vector<TApdu>& apdus)
{
    std::string dump;
    char hex[4];
    for (const TApdu& apdu : apdus) {
        dump += "0000";
        for (const std::uint8_t b : apdu) {
            std::snprintf(hex, sizeof hex, " %02x", b);
            dump += hex;
        }
        dump += "\n";
    }
    return dump;
}

std::string Run(const std::string& command, const TempDir& dir)
{
    const std::string errFile = dir.File("stderr.txt");
    std::FILE* pipe = ::popen((command + " 2>" + errFile).c_str(), "r");
    if (pipe == nullptr)
        throw std::runtime_error("cannot run " + command);
    std::string out;
    char chunk[4096];
    std::size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0)
        out.append(chunk, n);
    if (::pclose(pipe) != 0)
        throw std::runtime_error(command + " failed: " + dir.Read("stderr.txt"));
    return out;
}

// Writes the capture and returns the tshark command prefix that reads it.
std::string Capture(const std::vector<TApdu>& apdus, TApduDirection dir, const TempDir& tmp)
{
    if (apdus.empty())
        throw std::runtime_error("no APDU to decode");
    tmp.Write("frames.txt", HexDump(apdus));
    const char* ports = dir == TApduDirection::ToStation ? "40000,2404" : "2404,40000";
    Run(std::string("text2pcap -q -4 127.0.0.1,127.0.0.2 -T ") + ports + " '" + tmp.File("frames.txt") + "' '"
            + tmp.File("frames.pcap") + "'",
        tmp);
    return "tshark -n -r '" + tmp.File("frames.pcap") + "' -d tcp.port==2404,iec60870_104";
}

} // namespace

std::string TsharkDecode(const std::vector<TApdu>& apdus, TApduDirection dir)
{
    TempDir tmp;
    return Run(Capture(apdus, dir, tmp) + " -V -O iec60870_104,iec60870_asdu", tmp);
}

std::vector<std::vector<std::string>> TsharkFields(const std::vector<TApdu>& apdus,
                                                   const std::vector<std::string>& fields, TApduDirection dir)
{
    TempDir tmp;
    std::string command = Capture(apdus, dir, tmp) + " -T fields -E separator=/t -E occurrence=a -E aggregator=';'";
    for (const std::string& field : fields)
        command += " -e " + field;
    std::istringstream lines(Run(command, tmp));
    std::vector<std::vector<std::string>> rows;
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> row;
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, '\t');)
            row.push_back(cell);
        row.resize(fields.size());
        rows.push_back(std::move(row));
    }
    if (rows.size() != apdus.size())
        throw std::runtime_error("tshark decoded " + std::to_string(rows.size()) + " frames of "
                                 + std::to_string(apdus.size()));
    return rows;
}

} // namespace gw::test
