// One application, as the program has it, for the whole test program, headless unless the caller
// chose a platform, and numbers in the C locale as the program has them.

#include "desktop/guarded_application.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <memory>

namespace {

class QtEnvironment final : public ::testing::Environment {
public:
    void SetUp() override
    {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        static int argc = 1;
        static char name[] = "desktop_tests";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<gw::desktop::TGuardedApplication>(argc, argv);
        std::setlocale(LC_NUMERIC, "C");
    }
    void TearDown() override { app_.reset(); }

private:
    std::unique_ptr<gw::desktop::TGuardedApplication> app_;
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

} // namespace
