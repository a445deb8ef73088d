#include "log.h"

#include "clock.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace tagserve {

namespace {

constexpr int kLinesPerMinute = 20;

struct Budget {
    std::atomic<int64_t> minute{-1};
    std::atomic<int> lines{0};
};

Budget budgets[static_cast<int>(LogKind::Count)];

} // namespace

void Log(LogKind kind, const char* format, ...)
{
    Budget& b = budgets[static_cast<int>(kind)];
    int64_t minute = MonotonicMs() / 60000;
    if (b.minute.exchange(minute) != minute)
        b.lines = 0;
    if (b.lines++ >= kLinesPerMinute)
        return;
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    std::fprintf(stderr, "tagserve: %s\n", line);
}

} // namespace tagserve
