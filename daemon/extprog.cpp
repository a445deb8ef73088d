#include "daemon/extprog.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>

extern char** environ;

namespace gw {

namespace {

constexpr std::size_t ReadChunk = 2048;
constexpr int NotFoundStatus = 127;
constexpr int NotExecutableStatus = 126;

// Owns one end of a pipe.
class TFd {
public:
    explicit TFd(int fd = -1) : fd_(fd) {}
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    ~TFd() { Close(); }
    int Get() const { return fd_; }
    void Close()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

// The file actions and attributes every child gets: stdin and stderr on
// /dev/null, stdout on the given descriptor (or /dev/null), no signals
// blocked, SIGPIPE and SIGCHLD back to their defaults whatever the caller
// ignores.
class TSpawnSetup {
public:
    explicit TSpawnSetup(int stdoutFd)
    {
        posix_spawn_file_actions_init(&actions_);
        posix_spawnattr_init(&attr_);
        sigset_t none;
        sigemptyset(&none);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        sigaddset(&defaults, SIGCHLD);
        const int errors[] = {
            posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0),
            stdoutFd >= 0 ? posix_spawn_file_actions_adddup2(&actions_, stdoutFd, STDOUT_FILENO)
                          : posix_spawn_file_actions_addopen(&actions_, STDOUT_FILENO, "/dev/null", O_WRONLY, 0),
            posix_spawn_file_actions_addopen(&actions_, STDERR_FILENO, "/dev/null", O_WRONLY, 0),
            posix_spawnattr_setsigmask(&attr_, &none),
            posix_spawnattr_setsigdefault(&attr_, &defaults),
            posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF),
        };
        for (int error : errors) {
            if (error != 0 && error_ == 0)
                error_ = error;
        }
    }
    TSpawnSetup(const TSpawnSetup&) = delete;
    TSpawnSetup& operator=(const TSpawnSetup&) = delete;
    ~TSpawnSetup()
    {
        posix_spawnattr_destroy(&attr_);
        posix_spawn_file_actions_destroy(&actions_);
    }

    // 0 and the child's pid, or the error of the start (a program that
    // cannot be found or executed included).
    int Spawn(const std::vector<std::string>& argv, pid_t& pid) const
    {
        if (error_ != 0)
            return error_; // never start a child with the caller's streams
        std::vector<char*> args;
        args.reserve(argv.size() + 1);
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        return posix_spawnp(&pid, args[0], &actions_, &attr_, args.data(), environ);
    }

private:
    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attr_;
    int error_ = 0;
};

std::string ReadAll(int fd)
{
    std::string text;
    char chunk[ReadChunk];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n > 0)
            text.append(chunk, static_cast<std::size_t>(n));
        else if (n == 0 || errno != EINTR)
            return text;
    }
}

// The exit status as a shell reports it; -1 when the child was reaped by
// someone else (SIGCHLD ignored by the process).
int WaitStatus(pid_t pid)
{
    int raw = 0;
    while (::waitpid(pid, &raw, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    if (WIFEXITED(raw))
        return WEXITSTATUS(raw);
    if (WIFSIGNALED(raw))
        return 128 + WTERMSIG(raw);
    return -1;
}

bool IsNotRunnable(int error)
{
    return error == ENOENT || error == ENOTDIR || error == EACCES || error == ENOEXEC || error == EPERM;
}

// Runs argv with its stdout on a pipe and collects it. A program that cannot
// be run gives the status a shell would give when `notRunnableIsStatus`,
// else the failure is thrown.
int RunCollecting(const std::vector<std::string>& argv, bool notRunnableIsStatus, TStringList& output)
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        throw std::system_error(errno, std::generic_category(), "pipe for " + argv[0]);
    TFd readEnd(ends[0]);
    TFd writeEnd(ends[1]);

    pid_t pid = -1;
    const int error = TSpawnSetup(writeEnd.Get()).Spawn(argv, pid);
    writeEnd.Close(); // the child holds its own copy; EOF comes when it ends
    if (error != 0) {
        if (!notRunnableIsStatus || !IsNotRunnable(error))
            throw std::system_error(error, std::generic_category(), "start of " + argv[0]);
        output.clear();
        return error == ENOENT || error == ENOTDIR ? NotFoundStatus : NotExecutableStatus;
    }
    const std::string text = ReadAll(readEnd.Get());
    const int status = WaitStatus(pid);
    SplitOutputLines(text, output);
    return status;
}

} // namespace

int call_external_prog(const std::string& commandLine, TStringList& output)
{
    if (commandLine.empty())
        return -1;
    return RunCollecting({"/bin/sh", "-c", commandLine}, false, output);
}

int call_external_prog_argv(const std::vector<std::string>& argv, TStringList& output)
{
    if (argv.empty() || argv[0].empty())
        return -1;
    return RunCollecting(argv, true, output);
}

pid_t StartDetachedProgram(const std::vector<std::string>& argv)
{
    if (argv.empty() || argv[0].empty()) {
        errno = EINVAL;
        return -1;
    }
    pid_t pid = -1;
    const int error = TSpawnSetup(-1).Spawn(argv, pid);
    if (error != 0) {
        errno = error;
        return -1;
    }
    return pid;
}

std::string SystemProgram(std::string_view name)
{
    for (const char* dir : {"/usr/bin/", "/bin/", "/usr/sbin/", "/sbin/"}) {
        std::string path = dir + std::string(name);
        if (::access(path.c_str(), X_OK) == 0)
            return path;
    }
    return "";
}

void SplitOutputLines(std::string_view text, TStringList& lines)
{
    lines.clear();
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.emplace_back(text.substr(start));
            return;
        }
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n')
            ++start;
    }
}

} // namespace gw
