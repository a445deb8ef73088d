// Control lines read from standard input: misbehaviour and value changes
// asked for by a test or a person at the terminal.
#pragma once

#include "asdu.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kpsim {

// clang-format off
enum class Action {
    Close, Reset, Silent, Talk, Garbage, Set, Rate, Refuse, Repeat, BadAck, StopDt, EndOfInit, Hold, Stats, Quit
};
// clang-format on

struct ControlRequest {
    Action action = Action::Quit;
    int station = 0; // 0 = every station
    std::uint32_t ioa = 0;
    std::string value;              // "set": the value text, checked against the point's kind
    std::vector<std::string> flags; // "set": quality flag names, checked likewise
    std::optional<LocalTime> time;  // "set": the time tag to send
    bool timeInvalid = false;       // "set": the time tag goes with its IV bit set
    std::optional<int> sequence;    // "set": a total's sequence number 0..31
    double rate = 0;
    bool on = false;
    int back = 0; // "repeat": the I-frame sent this many frames ago
};

// Fills `request` or returns what is wrong with the line.
std::string ParseControlLine(const std::string& line, ControlRequest& request);

const char* ActionName(Action action);

} // namespace kpsim
