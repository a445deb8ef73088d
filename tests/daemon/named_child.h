#pragma once
// A sleeping child process with a name no other process has: a copy of
// /bin/sleep under that name in a temporary directory. pgrep then finds this
// test's own processes only. The child is ended (by its pid) and reaped when
// the object goes.

#include "testkit/temp_dir.h"

#include <csignal>
#include <filesystem>
#include <stdexcept>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace gw::test {

// A name of at most 15 characters unique to this test process.
inline std::string UniqueName(const std::string& prefix) { return prefix + std::to_string(::getpid()); }

class NamedChild {
public:
    NamedChild(const TempDir& dir, const std::string& name)
    {
        const std::filesystem::path program = dir.File(name);
        if (!std::filesystem::exists(program))
            std::filesystem::copy_file("/bin/sleep", program);
        std::string path = program.string();
        std::string seconds = "600";
        char* argv[] = {path.data(), seconds.data(), nullptr};
        if (::posix_spawn(&pid_, path.c_str(), nullptr, nullptr, argv, environ) != 0)
            throw std::runtime_error("cannot start " + path);
    }
    NamedChild(const NamedChild&) = delete;
    NamedChild& operator=(const NamedChild&) = delete;
    ~NamedChild()
    {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    pid_t Pid() const { return pid_; }
    std::string PidText() const { return std::to_string(pid_); }

private:
    pid_t pid_ = -1;
};

} // namespace gw::test
