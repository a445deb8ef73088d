#pragma once
// Runs the system commands the watcher needs ("pgrep", "reboot") and hands
// back what they print. Children get stdin and stderr on /dev/null and only
// their stdout on a pipe; every descriptor this code opens is close-on-exec,
// so calls on several threads at once never leak pipes into each other's
// children.

#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace gw {

using TStringList = std::vector<std::string>;

// Runs the command line through "/bin/sh" "-c", so it may use the shell's
// syntax. On return `output` holds the command's standard output split into
// lines. Returns the exit status of the shell (0 on success; 128 + the
// signal number when a signal ended it; -1 when the status could not be
// collected), or -1 without running anything when the command line is empty,
// in which case `output` is left as it was. Throws std::system_error when the
// process cannot be created at all. Blocks until the command has ended and
// its output has been read.
int call_external_prog(const std::string& commandLine, TStringList& output);

// The same without a shell: argv[0] is looked up on PATH and receives argv as
// its arguments, untouched by any shell. A program that cannot be found or
// executed gives 127 (126 for no permission) and no lines, as the shell
// would report it. An empty argv returns -1 and leaves `output` as it was.
int call_external_prog_argv(const std::vector<std::string>& argv, TStringList& output);

// Starts argv[0] (looked up on PATH) with stdin, stdout and stderr on
// /dev/null, in the caller's session and process group, and does not wait for
// it. Returns the child's pid, or -1 with errno set when it could not be
// started. Reaping the child is the caller's business (the watcher's parents
// end soon after, so the system reaps it).
pid_t StartDetachedProgram(const std::vector<std::string>& argv);

// The system program of that name in the system's own directories
// ("/usr/bin", "/bin", "/usr/sbin", "/sbin", in that order), never in the
// inherited PATH, where a writable directory would let anyone plant one; ""
// when none is there.
std::string SystemProgram(std::string_view name);

// Replaces `lines` by the lines of text: a line ends at CR, LF or CR LF; a
// last line without an end counts; a final line end adds no empty line.
void SplitOutputLines(std::string_view text, TStringList& lines);

} // namespace gw
