#include "desktop/app_options.h"

#include <algorithm>
#include <cctype>

namespace gw::desktop {

namespace {

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

} // namespace

TAppOptions ParseAppOptions(const std::vector<std::string>& args, const std::string& exeDir)
{
    TAppOptions options;
    options.dir = exeDir;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string arg = Lower(args[i]);
        if (arg == "--configurator" || arg == "/configurator" || arg == "-configurator") {
            options.configurator = true;
        } else if (args[i] == "--dir") {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                options.error = "--dir needs a folder";
                return options;
            }
            options.dir = args[++i];
        } else {
            // Qt's own options (-platform, -style, ...) have been taken out
            // by QApplication already; anything else is a mistake.
            options.error = "unknown option " + args[i];
            return options;
        }
    }
    while (options.dir.size() > 1 && options.dir.back() == '/')
        options.dir.pop_back();
    return options;
}

} // namespace gw::desktop
