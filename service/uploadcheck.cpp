#include "service/uploadcheck.h"

#include "service/cfgfile.h"
#include "service/cnfini.h"

#include <filesystem>

namespace gw {

namespace {

void CheckText(const std::string& file, std::string_view body)
{
    const std::size_t nul = body.find('\0');
    if (nul != std::string_view::npos)
        throw TConfigError(file, 0, "", "a NUL byte at offset " + std::to_string(nul) + ": not a text file");
}

void CheckUploadedCnfIni(std::string_view body)
{
    CheckText(CnfIniFileName, body);
    if (CheckCnfIni(body).pwd.empty())
        throw TConfigError(CnfIniFileName, 0, "pwd", "no transfer password: every later transfer would be refused");
}

void CheckUploadedIec104Cfg(std::string_view body)
{
    CheckText(Iec104CfgFileName, body);
    if (CheckIec104Cfg(body) == 0)
        throw TConfigError(Iec104CfgFileName, 0, "", "no station (no KP line): the device would run without any");
}

} // namespace

std::string UploadRefusal(std::string_view fileName, std::string_view body)
{
    // "./cnf.ini" and "/cnf.ini" (below the service directory) are the
    // stored file too.
    const std::filesystem::path name = std::filesystem::path(fileName).lexically_normal().relative_path();
    try {
        if (name == CnfIniFileName)
            CheckUploadedCnfIni(body);
        else if (name == Iec104CfgFileName)
            CheckUploadedIec104Cfg(body);
    } catch (const TConfigError& e) {
        return e.what();
    }
    return "";
}

} // namespace gw
