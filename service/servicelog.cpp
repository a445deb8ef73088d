#include "service/servicelog.h"

#include <Poco/TextConverter.h>
#include <Poco/UTF8Encoding.h>
#include <Poco/Windows1251Encoding.h>

#include <fcntl.h>
#include <unistd.h>

namespace gw {

TServiceLog::TServiceLog(std::string dir) : dir_(std::move(dir))
{
    if (!dir_.empty() && dir_.back() != '/')
        dir_ += '/';
}

std::mutex& TServiceLog::FileLock(const std::string& path)
{
    std::lock_guard<std::mutex> guard(locksLock_);
    auto& slot = fileLocks_[path];
    if (!slot)
        slot = std::make_unique<std::mutex>();
    return *slot;
}

void TServiceLog::AppendLogLine(const std::string& line, const std::string& fileName)
{
    const std::string path = dir_ + fileName;
    std::string bytes = ToCp1251(line);
    bytes += '\n';
    std::lock_guard<std::mutex> guard(FileLock(path));
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    // One write per line: with O_APPEND the line lands whole at the end.
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
}

void TTuEndLog::TuEnded(const TTuOrder& order, TTuOutcome outcome, const std::string& why)
{
    const char* ended = outcome == TTuOutcome::Executed   ? "команда выполнена"
                        : outcome == TTuOutcome::Refused  ? "команда отклонена КП"
                        : outcome == TTuOutcome::NoAnswer ? "команда без ответа"
                                                          : "команда снята";
    const char* value = order.command == TTUCommand::tuCommand_On ? "Вкл" : "Откл";
    log_.AppendLogLine(" ExecuteTU - " + std::string(ended) + ", sstID=" + std::to_string(order.sstID) + ": "
                           + (why.empty() ? "" : why + " ") + order.who + ", команда " + value,
                       "log_iec104.txt");
}

std::string ToCp1251(const std::string& utf8)
{
    Poco::UTF8Encoding from;
    Poco::Windows1251Encoding to;
    Poco::TextConverter converter(from, to);
    std::string out;
    converter.convert(utf8, out);
    return out;
}

} // namespace gw
