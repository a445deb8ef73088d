#include <gtest/gtest.h>

#include <csignal>

int main(int argc, char** argv)
{
    // Tests write to sockets whose peer may already be gone.
    std::signal(SIGPIPE, SIG_IGN);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
