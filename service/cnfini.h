#pragma once
// "cnf.ini": the settings beside the station configuration. Each key stands
// in a section of its own name:
//   [UseWebServer]       UseWebServer=1        start the web server
//   [Port_WebServ]       Port_WebServ=80       its TCP port
//   [Save_Obmen_v_File]  Save_Obmen_v_File=0   write the exchange and event logs
//   [pwd]                pwd=...               password of the remote configuration transfer

#include "service/cfgtext.h"

#include <filesystem>
#include <string>
#include <string_view>

namespace gw {

inline constexpr const char* CnfIniFileName = "cnf.ini";

struct TCnfIni {
    bool UseWebServer = false;
    int Port_WebServ = 80;
    bool Save_Obmen_v_File = false;
    std::string pwd;
};

// Reads dir/"cnf.ini" into settings. A missing file or key gives the defaults.
// Lines may end in CR LF or LF, keys and values may have blanks around them,
// names compare without regard to case, and a UTF-8 byte-order mark is
// accepted. Booleans are 0 or 1, the port 1..65535; an empty value is the
// default. A line the reader cannot use (another value, a line that is
// neither a section, a key nor a comment, a key it does not know, one outside
// its own section, a repeated one) goes to complain, naming file, line and
// key, and is skipped: the rest of the file still counts. A file that exists
// but cannot be read is a TConfigError, and settings are left as they were.
void ReadCnfIni(const std::filesystem::path& dir, TCnfIni& settings, const TConfigComplaint& complain = {});

// The check of a "cnf.ini" that is to replace the stored one: a TConfigError
// for the first line that ReadCnfIni would skip; else the settings read.
TCnfIni CheckCnfIni(std::string_view bytes);

// The station dialog's OK: the three switches. Other lines of the file stay
// byte for byte; a missing file is created. The file is written through a
// temporary file renamed into place, and is the owner's alone (0600): it
// holds the transfer password.
void WriteCnfIniOptions(const std::filesystem::path& dir, bool UseWebServer, int Port_WebServ, bool Save_Obmen_v_File);

// The password command. A password that would not read back the same
// (control characters, blanks at either end, a character the file's encoding
// lacks) is refused with a TConfigError and the file is not touched.
void WriteCnfIniPwd(const std::filesystem::path& dir, const std::string& pwd);

} // namespace gw
