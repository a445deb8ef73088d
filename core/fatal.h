#pragma once
// The immediate stop of the program on a fault it cannot go on from.

#include <functional>
#include <string>

namespace gw {

// Writes text to stderr and hands it to the handler (when one is set), then
// ends the process at once with exit code 1. No destructor runs: other
// threads may still use what they would free.
[[noreturn]] void FatalStop(const std::string& text);

// What hears the text besides stderr, which may lead nowhere (fieldgate puts
// it into "log_service.txt"). Tests put one that throws, so that the stop
// does not come; an empty handler is none.
using TFatalStopHandler = std::function<void(const std::string& text)>;
void SetFatalStopHandler(TFatalStopHandler handler);

} // namespace gw
