// The command line: the program's own options, the object runtime's start
// switches in every form it writes them, and what is refused.

#include "desktop/app_options.h"

#include <gtest/gtest.h>

namespace gw::desktop {
namespace {

struct TCase {
    std::vector<std::string> args;
    bool configurator;
    TStartMode mode;
    std::string dir;
    bool refused;
};

TEST(AppOptions, SwitchesInEveryFormAndWhatIsRefused)
{
    using M = TStartMode;
    const TCase cases[] = {
        {{}, false, M::Normal, "/opt/gw", false},
        {{"--configurator"}, true, M::Normal, "/opt/gw", false},
        {{"/CONFIGURATOR"}, true, M::Normal, "/opt/gw", false},
        {{"/RegServer"}, false, M::RegServer, "/opt/gw", false},
        {{"-regserver"}, false, M::RegServer, "/opt/gw", false},
        {{"/UNREGSERVER"}, false, M::UnRegServer, "/opt/gw", false},
        {{"-Embedding"}, false, M::ForClient, "/opt/gw", false},
        {{"/Automation"}, false, M::ForClient, "/opt/gw", false},
        {{"--dir", "/tmp/x//", "/regserver"}, false, M::RegServer, "/tmp/x", false},
        {{"--dir", "/"}, false, M::Normal, "/", false},
        {{"regserver"}, false, M::Normal, "/opt/gw", true},   // a switch needs its mark
        {{"/regserverx"}, false, M::Normal, "/opt/gw", true}, // and its whole name
        {{"--dir"}, false, M::Normal, "/opt/gw", true},
        {{"--dir", ""}, false, M::Normal, "/opt/gw", true},
        {{"--DIR", "/tmp"}, false, M::Normal, "/opt/gw", true}, // the folder option is written as it stands
    };
    for (const TCase& c : cases) {
        std::string line;
        for (const std::string& a : c.args)
            line += a + " ";
        SCOPED_TRACE(line);
        const TAppOptions options = ParseAppOptions(c.args, "/opt/gw");
        EXPECT_EQ(!options.error.empty(), c.refused);
        if (c.refused)
            continue;
        EXPECT_EQ(options.configurator, c.configurator);
        EXPECT_EQ(options.startMode, c.mode);
        EXPECT_EQ(options.dir, c.dir);
    }
}

} // namespace
} // namespace gw::desktop
