#include "daemon/serviceevents.h"

#include "service/servicelog.h"

#include <cstdio>

namespace gw {

std::string ServiceEventStamp(TDateTime now)
{
    TDateTimeParts p;
    if (!TryDecodeDateTime(now, p))
        return "0-0-00 00:00:00";
    char buf[40];
    std::snprintf(buf, sizeof buf, "%d-%d-%02d %02d:%02d:%02d", p.day, p.month, p.year % 100, p.hour, p.minute,
                  p.second);
    return buf;
}

void LogServiceEvent(TServiceLog& log, const TClock& clock, const std::string& text)
{
    log.AppendLogLine(ServiceEventStamp(clock.Now()) + text, ServiceEventsFile);
}

TFatalStopHandler LogFatalStop(TServiceLog& log, const TClock& clock)
{
    return [&log, &clock](const std::string& text) { LogServiceEvent(log, clock, " " + text + " "); };
}

} // namespace gw
