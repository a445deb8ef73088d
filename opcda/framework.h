#pragma once
// What every part of the OPC DA server leans on: task-memory release, local
// time stamps as UTC FILETIMEs, and the framework log "OPCLog.txt" with its
// two entry points. The log is off unless the program switches it on; its own
// write errors go to a reporter that never blocks the writing thread.

#include "compat/com/filetime.h"
#include "compat/com/taskmem.h"
#include "core/datetime.h"

#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace opcda {

using gw::TDateTime;

inline void FreeTaskMem(void* p) { com::CoTaskMemFree(p); }

// dt is local wall time; 0 gives 1899-12-30 00:00 local.
void DateTimeToFileTime(com::FILETIME& ft, TDateTime dt, const com::LocalZone& zone = com::systemLocalZone());

// Told of the log's own write errors; the default writes one line to stderr.
using MessageReporter = std::function<void(const std::string& message)>;
void setMessageReporter(MessageReporter reporter);
void reportMessage(const std::string& message);

class TLogging {
public:
    explicit TLogging(std::string aFileName);
    void Init();
    void SetWriteIntervall(int aNumber);
    void WriteWithTimeStamp(bool aTrue);
    // True when the line was only buffered.
    bool WriteIntoFile(const std::string& aText);

private:
    std::string formatLine(const std::string& text) const;

    std::mutex lock_; // lines come from every thread of the server
    std::string mFileName;
    bool mUseTimeStamp = false;
    std::vector<std::string> mWriteBuffer;
    int mWriteInterval = 1;
};

// The process's framework log: none until a server switches it on.
void setFrameworkLog(std::shared_ptr<TLogging> log);
std::shared_ptr<TLogging> frameworkLog();

void LogLine(const std::string& text);
void LogException(const std::string& context, const std::string& message);

// printf-style text for trace lines (%d, %s).
std::string formatText(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

} // namespace opcda

namespace opcda {

// Runs an interface method's body; an error inside becomes E_UNEXPECTED with
// a line under `context`, so nothing escapes into a caller across the interface.
template <class Fn>
com::HRESULT guarded(const char* context, Fn&& body) noexcept
{
    try {
        return body();
    } catch (const std::exception& e) {
        LogException(context, e.what());
    } catch (...) {
        LogException(context, "unknown error");
    }
    return com::E_UNEXPECTED;
}

} // namespace opcda
