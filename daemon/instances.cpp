#include "daemon/instances.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace gw {

namespace {

// Linux keeps 16 bytes of a process name, the terminating NUL included.
constexpr std::size_t ProcessNameLength = 15;

bool IsNameChar(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_'
           || c == '-';
}

void CheckProgramName(const std::string& name)
{
    if (name.empty() || name.front() == '-')
        throw std::invalid_argument("program name for pgrep is empty or starts with '-': " + name);
    for (char c : name) {
        if (!IsNameChar(c))
            throw std::invalid_argument("program name for pgrep holds a character other than A-Z a-z 0-9 . _ -: "
                                        + name);
    }
}

// pgrep takes an extended regular expression: a '.' must stand for itself.
std::string LiteralPattern(const std::string& name)
{
    std::string pattern;
    for (char c : name.substr(0, ProcessNameLength)) {
        if (c == '.')
            pattern += '\\';
        pattern += c;
    }
    return pattern;
}

// A process that has ended but is not yet reaped (a zombie, state 'Z' in
// /proc/<pid>/stat, after the last ')' of the name), or that has gone since
// pgrep listed it, is no running instance.
bool HasEnded(const std::string& pid)
{
    std::ifstream in("/proc/" + pid + "/stat");
    const std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t nameEnd = stat.rfind(')');
    if (nameEnd == std::string::npos || nameEnd + 2 >= stat.size())
        return true;
    return stat[nameEnd + 2] == 'Z' || stat[nameEnd + 2] == 'X';
}

} // namespace

TPgrepLister::TPgrepLister(const std::string& programName)
{
    CheckProgramName(programName);
    pattern_ = LiteralPattern(programName);
}

void TPgrepLister::List(TStringList& lines)
{
    // The status is of no interest: "no process" and "pgrep missing" both
    // leave no lines, and the watcher then does nothing.
    // Whole names only: another program whose name merely contains this one
    // would count as an instance, and a lasting crowd reboots the machine.
    call_external_prog_argv({SystemProgram("pgrep"), "-x", pattern_}, lines);
    // pgrep lists zombies too: under an init that does not reap orphans, a
    // service that has ended would count as running for ever.
    lines.erase(std::remove_if(lines.begin(), lines.end(), HasEnded), lines.end());
}

} // namespace gw
