// The command line of kpsim: global switches and one block of options per
// simulated station, each block opened by --listen or --connect. A --config
// file holds more of the same options, one station per line.
#pragma once

#include "asdu.h"
#include "signal_set.h"

#include <string>
#include <vector>

namespace kpsim {

struct StationConfig {
    enum class Mode { Listen, Connect };
    Mode mode = Mode::Listen;
    std::string host = "127.0.0.1";
    int port = 2404;
    int reconnectMs = 1000;

    std::uint32_t ca = 1;
    std::vector<PointRange> ranges;
    double rate = 0;       // spontaneous changes per second
    bool timeTags = false; // spontaneous changes with CP56Time2a
    int maxObjects = 0;    // objects in one spontaneous ASDU at most, 0: as many as fit
    Widths widths;
    int k = 12;
    int w = 8;
    int t1Ms = 15000;
    int t2Ms = 10000;
    bool startedAtConnect = false; // data transfer on without STARTDT
    std::uint32_t cmdOffset = 0;   // command address = point address + offset
    bool silent = false;
    bool ignoreClockSync = false; // a clock synchronisation gets no act con
};

struct Options {
    std::vector<StationConfig> stations;
    bool exitOnEof = false;
    bool help = false;
};

// Fills `options` or returns the reason the command line is wrong.
std::string ParseCommandLine(const std::vector<std::string>& args, Options& options);

// Spontaneous changes per second: 0 .. 1e6.
bool ParseRate(const std::string& text, double& rate);

const char* HelpText();

} // namespace kpsim
