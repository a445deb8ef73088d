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

// "/name", "-name" or "--name", in any case.
bool IsSwitch(const std::string& arg, const char* name)
{
    const std::string lower = Lower(arg);
    return lower == std::string("/") + name || lower == std::string("-") + name || lower == std::string("--") + name;
}

struct TStartSwitch {
    const char* name;
    TStartMode mode;
};

constexpr TStartSwitch StartSwitches[] = {
    {"regserver", TStartMode::RegServer},
    {"unregserver", TStartMode::UnRegServer},
    {"embedding", TStartMode::ForClient},
    {"automation", TStartMode::ForClient},
};

// The start mode arg names, if it is one of the object runtime's switches.
const TStartSwitch* StartSwitch(const std::string& arg)
{
    for (const TStartSwitch& s : StartSwitches)
        if (IsSwitch(arg, s.name))
            return &s;
    return nullptr;
}

} // namespace

TAppOptions ParseAppOptions(const std::vector<std::string>& args, const std::string& exeDir)
{
    TAppOptions options;
    options.dir = exeDir;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (IsSwitch(args[i], "configurator")) {
            options.configurator = true;
        } else if (const TStartSwitch* start = StartSwitch(args[i])) {
            options.startMode = start->mode;
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
