#pragma once
// The command line of opcstation: "--configurator" (or "/CONFIGURATOR", any
// case) selects configurator mode for the whole run; "--dir DIR" names the
// program folder, where every file of the program lives (default: the
// folder of the executable).

#include <string>
#include <vector>

namespace gw::desktop {

struct TAppOptions {
    bool configurator = false;
    std::string dir;
    std::string error; // not empty: the command line was not understood
};

TAppOptions ParseAppOptions(const std::vector<std::string>& args, const std::string& exeDir);

} // namespace gw::desktop
