#pragma once
// Detaching the service from the terminal that started it: fork, a new
// session, SIGCHLD ignored, standard input and output on /dev/null, a second
// fork so that the service can never acquire a terminal again, file mode
// mask 033 and "/" as the working directory. Standard error goes to a log of
// the service directory: what the loaded libraries report there (a port
// already in use, say) would otherwise reach a terminal long closed.

#include <stdexcept>
#include <string>

namespace gw {

// A failure of the start that ends the program with status 217.
class TStartFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class TForkSide { Parent, Child };

class TDetacher {
public:
    virtual ~TDetacher() = default;
    // Parent: the calling process, which is to end with status 0 once the
    // watcher has been launched. Child: the detached service. Throws
    // TStartFailure when a fork or the new session fails. Call it only while
    // the process runs a single thread.
    virtual TForkSide Detach() = 0;
};

// In the service directory, appended; /dev/null when it cannot be opened.
inline constexpr const char* StderrLogFile = "log_stderr.txt";

class TSystemDetacher final : public TDetacher {
public:
    // stderrLog: the full path of the file standard error is appended to.
    explicit TSystemDetacher(std::string stderrLog) : stderrLog_(std::move(stderrLog)) {}
    TForkSide Detach() override;

private:
    std::string stderrLog_;
};

} // namespace gw
