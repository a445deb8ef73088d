#include "opcda/framework.h"

#include "core/cp1251.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <iostream>

namespace opcda {

void DateTimeToFileTime(com::FILETIME& ft, TDateTime dt, const com::LocalZone& zone)
{
    ft = com::localDateToFileTime(dt, zone);
}

namespace {

std::mutex reporterLock;
MessageReporter reporter;

std::mutex logLock;
std::shared_ptr<TLogging> theLog;

std::string stamp(const char* fmt)
{
    gw::TDateTimeParts p;
    if (!gw::TryDecodeDateTime(gw::WallNow(), p))
        return "";
    return formatText(fmt, p.day, p.month, p.year, p.hour, p.minute, p.second);
}

} // namespace

std::string formatText(const char* fmt, ...)
{
    char buf[1024];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, args);
    va_end(args);
    return buf;
}

void setMessageReporter(MessageReporter r)
{
    std::lock_guard<std::mutex> guard(reporterLock);
    reporter = std::move(r);
}

void reportMessage(const std::string& message)
{
    MessageReporter r;
    {
        std::lock_guard<std::mutex> guard(reporterLock);
        r = reporter;
    }
    if (r)
        r(message);
    else
        std::cerr << message << '\n';
}

TLogging::TLogging(std::string aFileName) : mFileName(std::move(aFileName)) {}

void TLogging::Init()
{
    std::lock_guard<std::mutex> guard(lock_);
    mWriteInterval = 1;
    mUseTimeStamp = false;
}

void TLogging::SetWriteIntervall(int aNumber)
{
    std::lock_guard<std::mutex> guard(lock_);
    mWriteInterval = aNumber < 1 ? 1 : aNumber;
}

void TLogging::WriteWithTimeStamp(bool aTrue)
{
    std::lock_guard<std::mutex> guard(lock_);
    mUseTimeStamp = aTrue;
}

std::string TLogging::formatLine(const std::string& text) const
{
    const std::string line = mUseTimeStamp ? stamp("%02d.%02d.%04d %02d:%02d:%02d") + "->" + text : text;
    return gw::Utf8ToCp1251(line) + "\r\n";
}

bool TLogging::WriteIntoFile(const std::string& aText)
{
    std::unique_lock<std::mutex> guard(lock_);
    if (static_cast<int>(mWriteBuffer.size()) < mWriteInterval - 1) {
        mWriteBuffer.push_back(formatLine(aText));
        return true;
    }
    std::vector<std::string> errors;
    std::FILE* f = std::fopen(mFileName.c_str(), "ab");
    if (!f) {
        errors.push_back(formatText("WriteToLogFile 4 Error: %d", errno));
    } else {
        for (const std::string& line : mWriteBuffer)
            if (std::fwrite(line.data(), 1, line.size(), f) != line.size())
                errors.push_back(formatText("WriteToLogFile 1 Error: %d", errno));
        mWriteBuffer.clear();
        const std::string line = formatLine(aText);
        if (std::fwrite(line.data(), 1, line.size(), f) != line.size())
            errors.push_back(formatText("WriteToLogFile 2 Error: %d", errno));
        if (std::fclose(f) != 0)
            errors.push_back(formatText("WriteToLogFile 3 Error: %d", errno));
    }
    guard.unlock();
    for (const std::string& e : errors)
        reportMessage(e);
    return false;
}

void setFrameworkLog(std::shared_ptr<TLogging> log)
{
    std::lock_guard<std::mutex> guard(logLock);
    theLog = std::move(log);
}

std::shared_ptr<TLogging> frameworkLog()
{
    std::lock_guard<std::mutex> guard(logLock);
    return theLog;
}

void LogLine(const std::string& text)
{
    if (auto log = frameworkLog())
        log->WriteIntoFile(text);
}

void LogException(const std::string& context, const std::string& message)
{
    auto log = frameworkLog();
    if (!log)
        return;
    // No code address exists for an error here; the field keeps its width.
    log->WriteIntoFile(stamp("%02d.%02d.%04d %02d:%02d:%02d") + " 00000000 " + context + " - " + message);
}

} // namespace opcda
