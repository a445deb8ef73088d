#include "core/fatal.h"

#include <mutex>
#include <unistd.h>

namespace gw {

namespace {

struct TFatalSetup {
    std::mutex lock;
    TFatalStopHandler handler;
};

TFatalSetup& Setup()
{
    static TFatalSetup setup;
    return setup;
}

} // namespace

void SetFatalStopHandler(TFatalStopHandler handler)
{
    std::lock_guard guard(Setup().lock);
    Setup().handler = std::move(handler);
}

void FatalStop(const std::string& text)
{
    TFatalStopHandler handler;
    {
        std::lock_guard guard(Setup().lock);
        handler = Setup().handler;
    }
    // Straight to descriptor 2: no stream buffer that another thread may hold.
    const std::string line = text + "\n";
    [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, line.data(), line.size());
    if (handler)
        handler(text);
    ::_exit(1);
}

} // namespace gw
