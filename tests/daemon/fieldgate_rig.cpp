#include "fieldgate_rig.h"

#include "daemon/fieldgatehome.h"
#include "daemon/instances.h"
#include "named_child.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace gw::test {

namespace {

// The program file a process runs. Under qemu-user's binfmt entry /proc/PID/exe
// names the emulator, which was given the program's path as its first argument.
std::string ExeOf(pid_t pid)
{
    const std::string proc = "/proc/" + std::to_string(pid);
    std::error_code error;
    const std::string exe = std::filesystem::read_symlink(proc + "/exe", error).string();
    if (std::filesystem::path(exe).filename().string().rfind("qemu-", 0) != 0)
        return exe;
    std::ifstream in(proc + "/cmdline");
    std::string emulator, program;
    std::getline(in, emulator, '\0');
    std::getline(in, program, '\0');
    return program;
}

// The process name (at most 15 characters); a zombie keeps it.
std::string CommOf(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
    std::string comm;
    std::getline(in, comm);
    return comm;
}

// This process's children of that name, as every one of its threads has them
// (a child belongs to the thread that started it, an orphan it took over to
// any of them).
std::vector<pid_t> ChildrenNamed(const std::string& comm)
{
    std::vector<pid_t> found;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream in(task.path() / "children");
        for (pid_t pid = 0; in >> pid;)
            if (CommOf(pid) == comm)
                found.push_back(pid);
    }
    return found;
}

} // namespace

FieldgateRig::FieldgateRig() : name_(UniqueName("fg")), program_(home_.File(name_))
{
    // qemu-user refuses this prctl; the aarch64 build's launcher has done it.
    if (::prctl(PR_SET_CHILD_SUBREAPER, 1) != 0 && std::getenv("GATEWAY_TEST_SUBREAPER") == nullptr)
        throw std::runtime_error("cannot become a subreaper");
    std::filesystem::copy_file(FIELDGATE_PROGRAM, program_);
    std::filesystem::copy(std::string(GATEWAY_SOURCE_DIR) + "/examples/web", home_.File("web"),
                          std::filesystem::copy_options::recursive);
    reaper_ = std::thread([this] { Reap(); });
}

FieldgateRig::~FieldgateRig()
{
    // The watcher first, so it cannot take over from a service being ended;
    // a few rounds, for a launch that was under way.
    for (int round = 0; round < 50; ++round) {
        const std::vector<pid_t> running = Running();
        if (running.empty())
            break;
        for (pid_t pid : running)
            ::kill(pid, SIGKILL);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    // And reaped, so that none is left to the next test of this process.
    for (int round = 0; round < 50 && !ChildrenNamed(name_.substr(0, 15)).empty(); ++round)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    reaping_ = false;
    reaper_.join();
}

std::string FieldgateRig::CnfIni(int port, const std::string& pwd)
{
    return "[UseWebServer]\nUseWebServer=1\n[Port_WebServ]\nPort_WebServ=" + std::to_string(port)
           + "\n[Save_Obmen_v_File]\nSave_Obmen_v_File=0\n[pwd]\npwd=" + pwd + "\n";
}

void FieldgateRig::Start()
{
    const std::string home = std::string(HomeVariable) + "=" + home_.path();
    const std::string noReboot = std::string(NoRebootVariable) + "=1";
    std::vector<std::string> env = {home, noReboot};
    for (char** e = environ; *e != nullptr; ++e)
        if (std::string(*e).rfind("FIELDGATE_", 0) != 0)
            env.emplace_back(*e);
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string path = program_;
    char* argv[] = {path.data(), nullptr};
    pid_t first = 0;
    if (::posix_spawn(&first, path.c_str(), nullptr, nullptr, argv, envp.data()) != 0)
        throw std::runtime_error("cannot start " + path);
    const int status = WaitExit(first, std::chrono::seconds(60));
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("the first process did not end with status 0");
}

std::vector<pid_t> FieldgateRig::Running() const
{
    TStringList lines;
    TPgrepLister(name_).List(lines);
    std::vector<pid_t> pids;
    for (const std::string& line : lines) {
        const pid_t pid = static_cast<pid_t>(std::stol(line));
        if (ExeOf(pid) == program_) // this test's copy, nothing else
            pids.push_back(pid);
    }
    return pids;
}

FieldgateInstances FieldgateRig::WaitInstances(std::chrono::seconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        FieldgateInstances found;
        int services = 0, watchers = 0;
        for (pid_t pid : Running()) {
            if (::getsid(pid) == ::getsid(0)) {
                found.watcher = pid;
                ++watchers;
            } else {
                found.service = pid;
                ++services;
            }
        }
        if (services == 1 && watchers == 1)
            return found;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return {};
}

// Reaps the program's ended processes and keeps their statuses; other
// children of the test (kpsim, pgrep) are left to their own owners. Each
// child of the program's name is asked by its id: an ended child of another
// owner, not yet reaped, must not hide them.
void FieldgateRig::Reap()
{
    while (reaping_) {
        for (pid_t pid : ChildrenNamed(name_.substr(0, 15))) {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                std::lock_guard lock(statusLock_);
                statuses_[pid] = status;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

int FieldgateRig::WaitExit(pid_t pid, std::chrono::seconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        {
            std::lock_guard lock(statusLock_);
            const auto found = statuses_.find(pid);
            if (found != statuses_.end())
                return found->second;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    throw std::runtime_error("process " + std::to_string(pid) + " did not end");
}

} // namespace gw::test
