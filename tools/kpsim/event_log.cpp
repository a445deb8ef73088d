#include "event_log.h"

#include <cstdio>

namespace kpsim {

void EventLog::Line(const std::string& text)
{
    std::lock_guard lock(mutex_);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace kpsim
