#include "service/uploadcheck.h"

#include "service/cfgfile.h"
#include "service/cnfini.h"

#include <filesystem>

namespace gw {

std::string UploadRefusal(std::string_view fileName, std::string_view body)
{
    // "./cnf.ini" and "/cnf.ini" (below the service directory) are the
    // stored file too.
    const std::filesystem::path name = std::filesystem::path(fileName).lexically_normal().relative_path();
    try {
        if (name == CnfIniFileName)
            CheckCnfIni(body);
        else if (name == Iec104CfgFileName)
            CheckIec104Cfg(body);
    } catch (const TConfigError& e) {
        return e.what();
    }
    return "";
}

} // namespace gw
