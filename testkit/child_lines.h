#pragma once
// A child process whose standard input the test writes and whose standard
// output it reads line by line, with time-outs.

#include <Poco/Pipe.h>
#include <Poco/Process.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace gw::test {

class ChildLines {
public:
    enum class Stderr { Inherited, InOutput };
    ChildLines(const std::string& program, const std::vector<std::string>& args, const Poco::Process::Env& env = {},
               Stderr err = Stderr::Inherited);
    // Ends the input and waits for the program, unless Close() did so.
    ~ChildLines();
    ChildLines(const ChildLines&) = delete;
    ChildLines& operator=(const ChildLines&) = delete;

    void Write(const std::string& line);
    // The next output line that starts with `prefix`; earlier lines are kept
    // in Lines() but skipped. Nothing after the time-out or at the end; the
    // default one only a failing program reaches, however slow the machine.
    std::optional<std::string> WaitFor(const std::string& prefix,
                                       std::chrono::milliseconds timeout = std::chrono::seconds(60));
    const std::vector<std::string>& Lines() const { return lines_; }
    // True when the program closed its output (it ended) before the time-out;
    // the lines up to there are kept in Lines().
    bool WaitForEnd(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // The process id, until Close().
    Poco::ProcessHandle::PID Pid() const { return handle_->id(); }
    bool Closed() const { return !handle_; }
    // Lines already read count as not yet waited for.
    void Rewind() { consumed_ = 0; }

    // Ends the input and returns the exit code.
    int Close();

private:
    std::optional<std::string> NextLine(std::chrono::steady_clock::time_point deadline);

    Poco::Pipe input_;
    Poco::Pipe output_;
    std::unique_ptr<Poco::ProcessHandle> handle_;
    std::string pending_;
    std::vector<std::string> lines_;
    std::size_t consumed_ = 0;
    bool ended_ = false;
};

} // namespace gw::test
