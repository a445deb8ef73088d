// Standard output of kpsim: one line per event, written whole and flushed,
// so a test reading the pipe sees every event as soon as it happened.
#pragma once

#include <mutex>
#include <string>

namespace kpsim {

class EventLog {
public:
    void Line(const std::string& text);

private:
    std::mutex mutex_;
};

} // namespace kpsim
