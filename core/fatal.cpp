#include "core/fatal.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace gw {

namespace {

struct TFatalSetup {
    std::mutex lock;
    std::string logPath;
    TFatalStopHandler handler;
};

TFatalSetup& Setup()
{
    static TFatalSetup setup;
    return setup;
}

} // namespace

void SetFatalStopLog(const std::string& path)
{
    std::lock_guard guard(Setup().lock);
    Setup().logPath = path;
}

void SetFatalStopHandler(TFatalStopHandler handler)
{
    std::lock_guard guard(Setup().lock);
    Setup().handler = std::move(handler);
}

void FatalStop(const std::string& text)
{
    TFatalStopHandler handler;
    std::string logPath;
    {
        std::lock_guard guard(Setup().lock);
        handler = Setup().handler;
        logPath = Setup().logPath;
    }
    if (handler) {
        handler(text);
        std::exit(1);
    }
    std::fprintf(stderr, "%s\n", text.c_str());
    if (!logPath.empty()) {
        if (std::FILE* log = std::fopen(logPath.c_str(), "a")) {
            std::fprintf(log, "%s\n", text.c_str());
            std::fclose(log);
        }
    }
    std::exit(1);
}

} // namespace gw
