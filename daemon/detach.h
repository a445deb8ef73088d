#pragma once
// Detaching the service from the terminal that started it: fork, a new
// session, SIGCHLD ignored, standard input and output on /dev/null, a second
// fork so that the service can never acquire a terminal again, file mode
// mask 033 and "/" as the working directory.

#include <stdexcept>

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

class TSystemDetacher final : public TDetacher {
public:
    TForkSide Detach() override;
};

} // namespace gw
