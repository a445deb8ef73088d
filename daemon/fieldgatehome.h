#pragma once
// Where fieldgate lives. Installed, the program is "/etc/fieldgated/fieldgate"
// and that directory holds every file of the service. FIELDGATE_HOME in the
// environment names another directory (tests, the bundled example): the
// program is then expected in it under the file name it runs as, so its
// watcher is started from there and "pgrep" counts that name.
//
// FIELDGATE_TEST_NO_REBOOT=1 makes the watcher's reboot a logged no-op. It
// is honoured only together with FIELDGATE_HOME: an installed service, which
// runs on the default directory, never looks at it.

#include <string>

namespace gw {

inline constexpr const char* DefaultServiceDir = "/etc/fieldgated/";
inline constexpr const char* DefaultProgramName = "fieldgate";
inline constexpr const char* HomeVariable = "FIELDGATE_HOME";
inline constexpr const char* NoRebootVariable = "FIELDGATE_TEST_NO_REBOOT";

struct TFieldgateHome {
    std::string BasePath;   // the program's full path, as the watcher is started
    std::string ServiceDir; // the directory part of BasePath, with its trailing "/"
    bool RebootIsNoOp = false;

    // The file name part of BasePath: what "pgrep" looks for.
    std::string ProgramName() const;
};

// home and noReboot are the variables' values, null when unset; programFile
// is the file name the program runs as (used only with a home).
TFieldgateHome FieldgateHomeFrom(const char* home, const char* noReboot, const std::string& programFile);

// From this process's environment and /proc/self/exe.
TFieldgateHome FieldgateHomeFromEnvironment();

} // namespace gw
