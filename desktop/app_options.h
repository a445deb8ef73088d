#pragma once
// The command line of opcstation: "--configurator" (or "/CONFIGURATOR", any
// case) selects configurator mode for the whole run; "--dir DIR" names the
// program folder, where every file of the program lives (default: the
// folder of the executable). The object-runtime switches "REGSERVER",
// "UNREGSERVER", "EMBEDDING" and "AUTOMATION" come with "/" or "-" (or "--"),
// in any case: the first two register or unregister the OPC DA server and
// end the program, the others mark a start made for a client.

#include <string>
#include <vector>

namespace gw::desktop {

enum class TStartMode { Normal, RegServer, UnRegServer, ForClient };

struct TAppOptions {
    bool configurator = false;
    TStartMode startMode = TStartMode::Normal;
    std::string dir;
    std::string error; // not empty: the command line was not understood
};

TAppOptions ParseAppOptions(const std::vector<std::string>& args, const std::string& exeDir);

} // namespace gw::desktop
