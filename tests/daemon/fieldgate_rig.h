#pragma once
// fieldgate as it runs for real: a copy of the program under a name unique to
// this test (so "pgrep" counts only this test's processes) in a temporary
// FIELDGATE_HOME with the bundled web folder, the reboot replaced by a
// logged no-op. The test process is made a subreaper, so every process the
// program leaves behind (its watcher, the detached service) becomes its
// child: they are reaped as they end, and the rig ends those still running
// by their pid when it goes.

#include "testkit/free_port.h"
#include "testkit/http_request.h"
#include "testkit/temp_dir.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace gw::test {

struct FieldgateInstances {
    pid_t service = 0; // detached: in a session of its own
    pid_t watcher = 0; // in this test's session
};

class FieldgateRig {
public:
    FieldgateRig();
    ~FieldgateRig();
    FieldgateRig(const FieldgateRig&) = delete;
    FieldgateRig& operator=(const FieldgateRig&) = delete;

    const TempDir& Home() const { return home_; }
    // The "cnf.ini" of the example with the given web port and password.
    static std::string CnfIni(int port, const std::string& pwd);

    // Runs the program in the service role; the first process must end with
    // status 0 once it has detached.
    void Start();
    // Waits until exactly one service and one watcher run and returns them;
    // both zero when that does not happen in time.
    FieldgateInstances WaitInstances(std::chrono::seconds limit = std::chrono::seconds(60));
    // The ids of the program's running processes.
    std::vector<pid_t> Running() const;

    // The status of an ended process of the program, as waitpid gave it.
    int WaitExit(pid_t pid, std::chrono::seconds limit);

private:
    void Reap();

    TempDir home_;
    std::string name_;
    std::string program_;
    std::mutex statusLock_;
    std::map<pid_t, int> statuses_;
    std::atomic<bool> reaping_{true};
    std::thread reaper_;
};

} // namespace gw::test
