// What escapes a timer or a button becomes one line of "error_iec104.log",
// and the program goes on.

#include "desktop/exception_log.h"
#include "testkit/temp_dir.h"

#include <gtest/gtest.h>

#include <regex>
#include <stdexcept>

namespace gw::test {
namespace {

struct TickFault : std::runtime_error {
    using std::runtime_error::runtime_error;
};

TEST(ExceptionLog, OneLinePerFailureWithMessageAndClass)
{
    TempDir temp;
    int ticks = 0;
    for (int i = 0; i < 3; ++i)
        desktop::Guarded(temp.path(), [&] {
            ++ticks;
            if (i != 1)
                throw TickFault("число вне диапазона");
        });
    EXPECT_EQ(ticks, 3);
    const std::string log = temp.Read("error_iec104.log");
    const std::regex line(
        R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d: \xF7\xE8\xF1\xEB\xEE \xE2\xED\xE5 \xE4\xE8\xE0\xEF\xE0\xE7\xEE\xED\xE0 \. Class Name = gw::test::\(anonymous namespace\)::TickFault\r\n)");
    EXPECT_TRUE(std::regex_match(
        log, std::regex("(" + std::string(R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d: )") + "[^\r]*\r\n){2}")))
        << log;
    EXPECT_TRUE(std::regex_match(log.substr(0, log.find('\n') + 1), line)) << log;
    // A log that cannot be written is no new failure.
    EXPECT_FALSE(desktop::Guarded("/nonexistent/dir", [] { throw std::logic_error("x"); }));
}

} // namespace
} // namespace gw::test
