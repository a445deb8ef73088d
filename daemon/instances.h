#pragma once
// Counting the running instances of the program: one line per process id.
// The watcher asks every few seconds and compares the count with the two
// processes (service and watcher) that should run.

#include "daemon/extprog.h"

#include <string>

namespace gw {

class TInstanceLister {
public:
    virtual ~TInstanceLister() = default;
    // Replaces `lines` by the ids of the running instances, the caller's own
    // process included; no lines when they cannot be counted.
    virtual void List(TStringList& lines) = 0;
};

// Runs "pgrep -x <name>" without a shell: every process of exactly the
// program's name counts, not another program whose name contains it. The
// name is checked, so nothing but a plain file name reaches pgrep: letters,
// digits, '.', '_' and '-', not starting with '-'; anything else throws
// std::invalid_argument. A '.' is matched literally, and only the first 15
// characters are looked for, as the kernel keeps no more of a process name.
// Processes that have ended but are not yet reaped (zombies) are left out.
class TPgrepLister final : public TInstanceLister {
public:
    explicit TPgrepLister(const std::string& programName);
    void List(TStringList& lines) override;
    const std::string& Pattern() const { return pattern_; }

private:
    std::string pattern_;
};

} // namespace gw
