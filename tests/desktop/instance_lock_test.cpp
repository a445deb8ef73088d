// One opcstation per session: a second holder is refused, a dead one is not.

#include "desktop/instance_lock.h"
#include "testkit/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

namespace gw::test {
namespace {

TEST(InstanceLock, SecondInstanceIsRefusedUntilTheFirstEnds)
{
    TempDir temp;
    auto first = std::make_unique<desktop::TInstanceLock>(temp.path());
    ASSERT_TRUE(first->TryTake());
    desktop::TInstanceLock second(temp.path());
    EXPECT_FALSE(second.TryTake());
    first.reset();
    EXPECT_TRUE(second.TryTake());
}

TEST(InstanceLock, AHolderThatDiedLeavesTheLockFree)
{
    TempDir temp;
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        desktop::TInstanceLock lock(temp.path());
        const char ok = lock.TryTake() ? 'y' : 'n';
        static_cast<void>(write(ready[1], &ok, 1));
        pause(); // killed holding the lock, as a crash would leave it
        _exit(0);
    }
    char ok = 0;
    ASSERT_EQ(read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, 'y');
    desktop::TInstanceLock mine(temp.path());
    EXPECT_FALSE(mine.TryTake());
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(mine.TryTake());
    close(ready[0]);
    close(ready[1]);
}

} // namespace
} // namespace gw::test
