#pragma once
// The resident memory of this process, for tests and benchmarks that watch
// what a long run costs.

#include <unistd.h>

#include <cstdio>

namespace gw::test {

// VmRSS in MiB, from /proc/self/statm; 0 when it cannot be read.
inline double ResidentMiB()
{
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

} // namespace gw::test
