#include "testkit/child_lines.h"

#include <poll.h>
#include <unistd.h>

namespace gw::test {

ChildLines::ChildLines(const std::string& program, const std::vector<std::string>& args, const Poco::Process::Env& env,
                       Stderr err)
    : handle_(std::make_unique<Poco::ProcessHandle>(Poco::Process::launch(
        program, args, std::string(), &input_, &output_, err == Stderr::InOutput ? &output_ : nullptr, env)))
{
}

ChildLines::~ChildLines()
{
    if (handle_)
        Close();
}

void ChildLines::Write(const std::string& line)
{
    const std::string text = line + "\n";
    input_.writeBytes(text.data(), static_cast<int>(text.size()));
}

std::optional<std::string> ChildLines::NextLine(std::chrono::steady_clock::time_point deadline)
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
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
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

std::optional<std::string> ChildLines::WaitFor(const std::string& prefix, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (const auto line = NextLine(deadline))
        if (line->rfind(prefix, 0) == 0)
            return line;
    return std::nullopt;
}

bool ChildLines::WaitForEnd(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (NextLine(deadline)) {
    }
    return ended_;
}

int ChildLines::Close()
{
    input_.close(Poco::Pipe::CLOSE_WRITE);
    const int code = handle_->wait();
    handle_.reset();
    return code;
}

} // namespace gw::test
