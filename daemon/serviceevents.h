#pragma once
// "log_service.txt": one line per event of the service's life, the local
// date and time (day-month-two-digit year, hh:nn:ss) followed directly by a
// fixed text: 9-12-26 02:34:11 Reconfigure Service

#include "core/clock.h"
#include "core/fatal.h"

#include <string>

namespace gw {

class TServiceLog;

inline constexpr const char* ServiceEventsFile = "log_service.txt";
inline constexpr const char* ReconfigureText = " Reconfigure Service ";
inline constexpr const char* EndStopText = " End stop ";
// Not among the normal events: a stop that did not end in time, and the
// reboot that tests (FIELDGATE_TEST_NO_REBOOT) leave out.
inline constexpr const char* StopOverdueText = " Stop overdue, process ended ";
inline constexpr const char* RebootSkippedText = " Reboot skipped: FIELDGATE_TEST_NO_REBOOT ";

// Day and month without leading zeros: 9-12-26 02:34:11.
std::string ServiceEventStamp(TDateTime now);

// Appends the stamp of clock.Now() and text as one line; a line that cannot
// be written is lost without a word.
void LogServiceEvent(TServiceLog& log, const TClock& clock, const std::string& text);

// FatalStop's reason as an event line, " " + reason + " ": the stderr of a
// watcher that became the service leads to "/dev/null".
TFatalStopHandler LogFatalStop(TServiceLog& log, const TClock& clock);

} // namespace gw
