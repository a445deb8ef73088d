#include "kpsim_process.h"

#include <poll.h>
#include <unistd.h>

#include <stdexcept>

namespace gw::test {

KpsimProcess::KpsimProcess(const std::vector<std::string>& args)
{
    std::vector<std::string> all{"--exit-on-eof"};
    all.insert(all.end(), args.begin(), args.end());
    handle_ = std::make_unique<Poco::ProcessHandle>(
        Poco::Process::launch(KPSIM_PROGRAM, all, &input_, &output_, nullptr));
    if (!WaitFor("ready"))
        throw std::runtime_error("kpsim did not get ready");
    // A connecting station may have printed its first events before "ready".
    consumed_ = 0;
}

KpsimProcess::~KpsimProcess()
{
    if (handle_)
        Quit();
}

int KpsimProcess::ListenPort(int station) const
{
    const std::string prefix = "listening station=" + std::to_string(station) + " ";
    for (const std::string& line : lines_)
        if (line.rfind(prefix, 0) == 0)
            return std::stoi(line.substr(line.find("port=") + 5));
    throw std::runtime_error("no listening line for station " + std::to_string(station));
}

void KpsimProcess::Control(const std::string& line)
{
    const std::string text = line + "\n";
    input_.writeBytes(text.data(), static_cast<int>(text.size()));
}

std::optional<std::string> KpsimProcess::NextLine(std::chrono::steady_clock::time_point deadline)
{
    if (consumed_ < lines_.size())
        return lines_[consumed_++];
    for (;;) {
        const auto newline = pending_.find('\n');
        if (newline != std::string::npos) {
            lines_.push_back(pending_.substr(0, newline));
            pending_.erase(0, newline + 1);
            return lines_[consumed_++];
        }
        if (ended_)
            return std::nullopt;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return std::nullopt;
        pollfd fd{output_.readHandle(), POLLIN, 0};
        if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0)
            continue;
        char chunk[4096];
        const ssize_t n = ::read(output_.readHandle(), chunk, sizeof chunk);
        if (n <= 0)
            ended_ = true;
        else
            pending_.append(chunk, static_cast<std::size_t>(n));
    }
}

std::optional<std::string> KpsimProcess::WaitFor(const std::string& prefix, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (const auto line = NextLine(deadline))
        if (line->rfind(prefix, 0) == 0)
            return line;
    return std::nullopt;
}

int KpsimProcess::Quit()
{
    Control("quit");
    input_.close(Poco::Pipe::CLOSE_WRITE);
    const int code = handle_->wait();
    handle_.reset();
    return code;
}

int RunKpsimExpectingExit(const std::vector<std::string>& args)
{
    Poco::Pipe input;
    Poco::Pipe errors;
    Poco::ProcessHandle handle = Poco::Process::launch(KPSIM_PROGRAM, args, &input, nullptr, &errors);
    input.close(Poco::Pipe::CLOSE_WRITE);
    return handle.wait();
}

}  // namespace gw::test
