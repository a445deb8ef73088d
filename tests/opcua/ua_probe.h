#pragma once
// A real OPC UA client for the bridge tests: tests/npm/bridge_probe.js run
// with node-opcua-client, and helpers to read what it printed.

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>

namespace gw::test {

inline const std::string NpmDir = std::string(GATEWAY_SOURCE_DIR) + "/tests/npm";

inline bool HasUaClient() { return std::filesystem::exists(NpmDir + "/node_modules/node-opcua-client"); }

// What the probe printed against the server on port, one finding a line; its
// exit status in status. The client keeps its certificates under xdgDir.
inline std::string RunUaProbe(const std::string& xdgDir, int port, const std::string& args, int& status)
{
    const std::string command = "XDG_CONFIG_HOME='" + xdgDir + "' node '" + NpmDir
                                + "/bridge_probe.js' opc.tcp://127.0.0.1:" + std::to_string(port) + " " + args
                                + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        status = -1;
        return {};
    }
    std::string out;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        out.append(buffer, n);
    status = ::pclose(pipe);
    return out;
}

// The probe printed exactly this line.
inline bool Has(const std::string& out, const std::string& line)
{
    std::istringstream in(out);
    for (std::string l; std::getline(in, l);)
        if (l == line)
            return true;
    return false;
}

} // namespace gw::test
