#include "testkit/kpsim_process.h"

#include <signal.h>

#include <stdexcept>

namespace gw::test {

namespace {

std::vector<std::string> WithExitOnEof(const std::vector<std::string>& args)
{
    std::vector<std::string> all{"--exit-on-eof"};
    all.insert(all.end(), args.begin(), args.end());
    return all;
}

} // namespace

KpsimProcess::KpsimProcess(const std::vector<std::string>& args) : child_(KPSIM_PROGRAM, WithExitOnEof(args))
{
    if (!WaitFor("ready"))
        throw std::runtime_error("kpsim did not get ready");
    // A connecting station may have printed its first events before "ready".
    child_.Rewind();
}

KpsimProcess::~KpsimProcess()
{
    if (running_)
        Quit();
}

int KpsimProcess::ListenPort(int station) const
{
    const std::string prefix = "listening station=" + std::to_string(station) + " ";
    for (const std::string& line : Lines())
        if (line.rfind(prefix, 0) == 0)
            return std::stoi(line.substr(line.find("port=") + 5));
    throw std::runtime_error("no listening line for station " + std::to_string(station));
}

int KpsimProcess::Quit()
{
    Control("quit");
    running_ = false;
    return child_.Close();
}

void KpsimProcess::Kill()
{
    ::kill(child_.Pid(), SIGKILL);
    running_ = false;
    child_.Close();
}

int RunKpsimExpectingExit(const std::vector<std::string>& args)
{
    Poco::Pipe input;
    Poco::Pipe errors;
    Poco::ProcessHandle handle = Poco::Process::launch(KPSIM_PROGRAM, args, &input, nullptr, &errors);
    input.close(Poco::Pipe::CLOSE_WRITE);
    return handle.wait();
}

} // namespace gw::test
