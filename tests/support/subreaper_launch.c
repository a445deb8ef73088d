/* Starts a test program as a child subreaper. qemu-user refuses the prctl to
 * the programs it emulates, so the aarch64 build's daemon tests, which must
 * collect the processes fieldgate detaches, run through this native launcher:
 * the attribute stays with the process across the exec into the emulator. */
#include <stdio.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc < 2 || prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) {
        perror("subreaper_launch");
        return 2;
    }
    setenv("GATEWAY_TEST_SUBREAPER", "1", 1);
    execv(argv[1], argv + 1);
    perror(argv[1]);
    return 127;
}
