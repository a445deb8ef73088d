// kpsim: a small IEC 60870-5-104 controlled station. See HelpText() or
// tools/kpsim/README.md for the command line and the control lines.
#include "control.h"
#include "event_log.h"
#include "options.h"
#include "station.h"

#include <Poco/Exception.h>

#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

volatile std::sig_atomic_t gStopSignal = 0;

void OnStopSignal(int) { gStopSignal = 1; }

void InstallSignalHandlers()
{
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: poll() returns at once on a signal
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

// Station threads leave SIGINT and SIGTERM to the main thread, whose poll()
// they interrupt.
void BlockStopSignals(bool block)
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(block ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}

class ControlLoop {
public:
    ControlLoop(std::vector<std::unique_ptr<kpsim::Station>>& stations, kpsim::EventLog& log, bool exitOnEof)
        : stations_(stations), log_(log), exitOnEof_(exitOnEof)
    {
    }

    // Reads control lines from standard input until "quit", a stop signal
    // or, with --exit-on-eof, the end of the input.
    void Run()
    {
        bool inputOpen = true;
        while (!gStopSignal) {
            pollfd fd{STDIN_FILENO, POLLIN, 0};
            const int ready = poll(&fd, inputOpen ? 1 : 0, 200);
            if (ready <= 0 || !inputOpen)
                continue;
            char chunk[512];
            const ssize_t n = read(STDIN_FILENO, chunk, sizeof chunk);
            if (n <= 0) {
                inputOpen = false;
                if (exitOnEof_)
                    return;
                continue;
            }
            pending_.append(chunk, static_cast<std::size_t>(n));
            if (!TakeLines())
                return;
        }
    }

private:
    bool TakeLines()
    {
        for (auto end = pending_.find('\n'); end != std::string::npos; end = pending_.find('\n')) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.find_first_not_of(" \t") == std::string::npos)
                continue;
            kpsim::ControlRequest request;
            const std::string bad = kpsim::ParseControlLine(line, request);
            if (!bad.empty()) {
                log_.Line("error " + bad);
                continue;
            }
            if (request.action == kpsim::Action::Quit)
                return false;
            Dispatch(request);
        }
        return true;
    }

    void Dispatch(const kpsim::ControlRequest& request)
    {
        if (request.station > static_cast<int>(stations_.size())) {
            log_.Line("error no station " + std::to_string(request.station));
            return;
        }
        for (std::size_t i = 0; i < stations_.size(); ++i)
            if (request.station == 0 || request.station == static_cast<int>(i + 1))
                stations_[i]->Post(request);
    }

    std::vector<std::unique_ptr<kpsim::Station>>& stations_;
    kpsim::EventLog& log_;
    const bool exitOnEof_;
    std::string pending_;
};

} // namespace

int main(int argc, char** argv)
{
    kpsim::Options options;
    const std::string bad = kpsim::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), options);
    if (!bad.empty()) {
        std::fprintf(stderr, "kpsim: %s\n(kpsim --help lists the options)\n", bad.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(kpsim::HelpText(), stdout);
        return 0;
    }

    InstallSignalHandlers();
    kpsim::EventLog log;
    std::vector<std::unique_ptr<kpsim::Station>> stations;
    BlockStopSignals(true);
    try {
        for (std::size_t i = 0; i < options.stations.size(); ++i) {
            stations.push_back(std::make_unique<kpsim::Station>(static_cast<int>(i + 1), options.stations[i], log));
            stations.back()->Start();
        }
    } catch (const Poco::Exception& e) {
        std::fprintf(stderr, "kpsim: station %zu: %s\n", stations.size(), e.displayText().c_str());
        return 1;
    }
    BlockStopSignals(false);
    log.Line("ready");

    ControlLoop(stations, log, options.exitOnEof).Run();
    for (auto& station : stations) {
        station->Stop();
        station->LogStats();
    }
    log.Line("stopped");
    return 0;
}
