#pragma once
// What the aarch64 build's tests cannot see under qemu-user. qemu runs the
// vfork-style clone that glibc's posix_spawn uses as a plain fork, so a spawn
// whose exec fails still succeeds and its child exits with 127; on the device
// and in the native builds the failure is reported as it should be.

#include <gtest/gtest.h>

#ifdef GATEWAY_CROSS_BUILD
#define SKIP_UNDER_EMULATION_WHERE_SPAWN_HIDES_EXEC_FAILURES()                                                         \
    GTEST_SKIP() << "under qemu-user posix_spawn does not report a failed exec"
#else
#define SKIP_UNDER_EMULATION_WHERE_SPAWN_HIDES_EXEC_FAILURES() static_cast<void>(0)
#endif
