#pragma once
// The immediate stop of the program on a fault it cannot go on from.

#include <functional>
#include <string>

namespace gw {

// Writes text to stderr and appends it to the error log (when one is set),
// then ends the process with exit code 1.
[[noreturn]] void FatalStop(const std::string& text);

// The file FatalStop appends its line to; "" (the start) for none.
void SetFatalStopLog(const std::string& path);

// Tests put a handler in place of the stop (one that throws, typically);
// an empty handler brings the stop back. Should the handler return, the
// process still ends.
using TFatalStopHandler = std::function<void(const std::string& text)>;
void SetFatalStopHandler(TFatalStopHandler handler);

} // namespace gw
