// An exception that escapes a slot anywhere in the program is written to
// "error_iec104.log" and the program goes on: the timer keeps firing, the
// button keeps answering.

#include "desktop/guarded_application.h"
#include "testkit/temp_dir.h"

#include <QEventLoop>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <regex>
#include <stdexcept>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace gw::test {
namespace {

struct TickFault : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The log goes to a test's folder while it runs.
class GuardedApplication : public ::testing::Test {
protected:
    void SetUp() override { App().SetLogDir(temp.path()); }
    void TearDown() override { App().SetLogDir({}); }
    static desktop::TGuardedApplication& App() { return *static_cast<desktop::TGuardedApplication*>(qApp); }

    TempDir temp;
};

// An exception that crosses Qt Widgets' frames (built without exception
// support) skips their clean-ups and leaks what they held; the slots of the
// program guard themselves for that reason. Here the leak is the price of the
// test, not a finding.
struct QtFramesLeak {
#if defined(__SANITIZE_ADDRESS__)
    QtFramesLeak() { __lsan_disable(); }
    ~QtFramesLeak() { __lsan_enable(); }
#endif
};

const std::string Stamp = R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d: )";

TEST_F(GuardedApplication, ATimerSlotThatThrowsIsLoggedAndTheTimerGoesOn)
{
    QEventLoop loop;
    QTimer timer;
    timer.setInterval(0);
    int ticks = 0;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (++ticks == 3)
            loop.quit();
        else
            throw TickFault("число вне диапазона");
    });
    // Only a timer that stopped meets the deadline.
    QTimer::singleShot(10000, &loop, [&loop] { loop.exit(1); });
    timer.start();
    EXPECT_EQ(loop.exec(), 0);
    EXPECT_EQ(ticks, 3);
    // The message in Windows-1251, then the demangled type name.
    const std::string line = Stamp
                             + "\xF7\xE8\xF1\xEB\xEE \xE2\xED\xE5 \xE4\xE8\xE0\xEF\xE0\xE7\xEE\xED\xE0"
                               R"( \. Class Name = gw::test::\(anonymous namespace\)::TickFault\r\n)";
    const std::string log = temp.Read("error_iec104.log");
    EXPECT_TRUE(std::regex_match(log, std::regex("(" + line + "){2}"))) << log;
}

TEST_F(GuardedApplication, AButtonSlotThatThrowsIsLoggedAndTheButtonStillWorks)
{
    [[maybe_unused]] const QtFramesLeak leak;
    QPushButton button("x");
    button.show();
    int clicks = 0;
    QObject::connect(&button, &QPushButton::clicked, [&clicks] {
        if (++clicks == 1)
            throw std::out_of_range("строка 7");
        if (clicks == 2)
            throw 42; // not a std::exception at all
    });
    for (int i = 0; i < 3; ++i)
        QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_EQ(clicks, 3);
    const std::string log = temp.Read("error_iec104.log");
    EXPECT_TRUE(std::regex_match(
        log,
        std::regex(Stamp + "\xF1\xF2\xF0\xEE\xEA\xE0 7 \\. Class Name = std::out_of_range\r\n" + Stamp + "[^\r]+\r\n")))
        << log;
}

} // namespace
} // namespace gw::test
