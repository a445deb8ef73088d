#pragma once
// The service's plain text logs: every line opens its file under the service
// directory, appends one whole line and closes it again. Lines are UTF-8
// inside the program and Windows-1251 in the file. A log that cannot be
// written never disturbs its caller.

#include "core/commandqueue.h"
#include "core/linkport.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace gw {

class TServiceLog {
public:
    explicit TServiceLog(std::string dir);

    const std::string& Dir() const { return dir_; }
    // Appends line and a line end to fileName in the service directory. Safe
    // from several threads: appends to one file never interleave or get lost.
    void AppendLogLine(const std::string& line, const std::string& fileName);
    // The channel threads' "Thread" files; they live in the same directory.
    void AppendThreadLog(const std::string& line, const std::string& fileName) { AppendLogLine(line, fileName); }

private:
    std::mutex& FileLock(const std::string& path);

    std::string dir_;
    std::mutex locksLock_;
    std::map<std::string, std::unique_ptr<std::mutex>> fileLocks_;
};

// The link objects' exchange traces: "Socket" + channel number + ".txt".
class TSocketTrace final : public TLinkTrace {
public:
    explicit TSocketTrace(TServiceLog& log) : log_(log) {}
    void TraceLine(int nomer_socket, const std::string& line) override
    {
        log_.AppendLogLine(line, "Socket" + std::to_string(nomer_socket) + ".txt");
    }

private:
    TServiceLog& log_;
};

// The end of every command the command entry accepted: a line in
// "log_iec104.txt" each, naming how it ended, its station, signal and value.
class TTuEndLog final : public TTuQueueLog {
public:
    explicit TTuEndLog(TServiceLog& log) : log_(log) {}
    void TuEnded(const TTuOrder& order, TTuOutcome outcome, const std::string& why) override;

private:
    TServiceLog& log_;
};

// UTF-8 to the single-byte Windows-1251 of the files; '?' for what it lacks.
std::string ToCp1251(const std::string& utf8);

} // namespace gw
