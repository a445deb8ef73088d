#pragma once
// The real kpsim program as a child process: its standard input takes
// control lines, its standard output is read line by line with time-outs.

#include "testkit/child_lines.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace gw::test {

class KpsimProcess {
public:
    // Starts kpsim with `args` (and --exit-on-eof, so it ends with the test)
    // and waits for its "ready" line. Throws when it does not come.
    explicit KpsimProcess(const std::vector<std::string>& args);
    ~KpsimProcess();
    KpsimProcess(const KpsimProcess&) = delete;
    KpsimProcess& operator=(const KpsimProcess&) = delete;

    // The port printed in the "listening station=N" line.
    int ListenPort(int station) const;

    void Control(const std::string& line) { child_.Write(line); }
    // The next output line that starts with `prefix`; earlier lines are kept
    // in Lines() but skipped. Nothing after the time-out or at the end; the
    // default one only a failing kpsim reaches, however slow the machine.
    std::optional<std::string> WaitFor(const std::string& prefix,
                                       std::chrono::milliseconds timeout = std::chrono::seconds(60))
    {
        return child_.WaitFor(prefix, timeout);
    }
    const std::vector<std::string>& Lines() const { return child_.Lines(); }

    // Ends the program with "quit" and returns its exit code.
    int Quit();
    // Ends the program by SIGKILL, as a station whose process dies: no
    // close of its own, the system closes its sockets.
    void Kill();

private:
    ChildLines child_;
    bool running_ = true;
};

// Runs kpsim with arguments it must reject and returns its exit code.
int RunKpsimExpectingExit(const std::vector<std::string>& args);

} // namespace gw::test
