#include "daemon/fieldgatehome.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace gw {

std::string TFieldgateHome::ProgramName() const { return BasePath.substr(BasePath.find_last_of('/') + 1); }

TFieldgateHome FieldgateHomeFrom(const char* home, const char* noReboot, const std::string& programFile)
{
    TFieldgateHome result;
    if (home == nullptr || *home == '\0') {
        result.ServiceDir = DefaultServiceDir;
        result.BasePath = result.ServiceDir + DefaultProgramName;
        return result;
    }
    // Absolute, since the detached service works from "/".
    result.ServiceDir = std::filesystem::absolute(home).lexically_normal().string();
    if (result.ServiceDir.back() != '/')
        result.ServiceDir += '/';
    result.BasePath = result.ServiceDir + (programFile.empty() ? DefaultProgramName : programFile);
    result.RebootIsNoOp = noReboot != nullptr && std::string(noReboot) == "1";
    return result;
}

TFieldgateHome FieldgateHomeFromEnvironment()
{
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return FieldgateHomeFrom(std::getenv(HomeVariable), std::getenv(NoRebootVariable),
                             error ? std::string() : exe.filename().string());
}

} // namespace gw
