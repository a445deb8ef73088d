#pragma once
// The application-wide exception log: an exception that escapes an event of
// the main thread (a timer, a button) becomes one line of
// "error_iec104.log" in the program folder and the program goes on.

#include <exception>
#include <functional>
#include <string>

namespace gw::desktop {

// Appends line and CR LF in Windows-1251; every failure is ignored, because
// the callers are logs that must never take the program down.
void AppendLineToFile(const std::string& line, const std::string& path);

// "<dd.MM.yyyy hh:mm:ss>: <message> . Class Name = <class>", local time now.
std::string ExceptionLogLine(const std::string& message, const std::string& className);

// The readable class name of the exception in flight (a demangled name).
std::string ExceptionClassName(const std::exception& e);

// Writes the exception in flight to dir's "error_iec104.log" ("" = the
// current directory); only from inside a catch block.
void LogCurrentException(const std::string& dir);

// Runs fn; an exception it throws is logged to dir's "error_iec104.log".
// True when fn ran through.
bool Guarded(const std::string& dir, const std::function<void()>& fn);

} // namespace gw::desktop
