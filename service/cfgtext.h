#pragma once
// What the readers and writers of the service's text files ("iec104.cfg",
// "cnf.ini") share: the file as lines of UTF-8 text, the error that names the
// file, line and field of a bad value, and the write that replaces a file
// whole or not at all.

#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace gw {

// One line of the log that a reader writes its complaints to.
using TConfigLog = std::function<void(const std::string& line)>;

class TConfigError : public std::runtime_error {
public:
    // line 0 and an empty field mean the whole file.
    TConfigError(const std::string& file, int line, const std::string& field, const std::string& what);

    const std::string& file() const { return FFile; }
    int line() const { return FLine; }
    const std::string& field() const { return FField; }

private:
    std::string FFile;
    int FLine;
    std::string FField;
};

// A line that a reader could not take as written (fault), and what it did
// instead (outcome: "the line is skipped", "the default 80 is used"). At
// start-up the service logs it and reads on, since a device that reads
// nothing of a file with one bad line can no longer be reached; a file that
// is to replace the stored one is taken only as it stands.
using TConfigComplaint = std::function<void(const TConfigError& fault, const std::string& outcome)>;

// Each complaint as one line of log: the fault, "; ", the outcome.
TConfigComplaint LogComplaints(TConfigLog log);
// Throws the first fault: the file is not taken at all.
TConfigComplaint RefuseComplaints();

// Files are Windows-1251; a UTF-8 byte-order mark marks a file that an editor
// saved as UTF-8, and it stays so when written back.
enum class TTextEncoding { Cp1251, Utf8Bom };

struct TTextLine {
    std::string text; // UTF-8, without its line end
    std::string eol;  // "\r\n", "\n", or "" for a last line without one
};

struct TTextFile {
    TTextEncoding encoding = TTextEncoding::Cp1251;
    std::vector<TTextLine> lines;
};

// False when the file does not exist. A file that exists but cannot be read,
// or claims UTF-8 and is not, is a TConfigError.
bool LoadTextFile(const std::filesystem::path& path, TTextFile& file);

// The lines of a file's bytes; name is the file's name in the TConfigError
// of a UTF-8 byte-order mark on something else.
void ParseTextFile(std::string_view bytes, const std::string& name, TTextFile& file);

// The file's bytes; false when a line holds a character the encoding cannot
// hold (bytes is left untouched then).
bool EncodeTextFile(const TTextFile& file, std::string& bytes);

// Writes bytes to a temporary file beside path and renames it into place, so
// readers see the old file or the new one, never a part; the new file keeps
// the old one's mode (the files hold passwords, and their owner may have
// narrowed it). A TConfigError when it fails; the old file is then unchanged.
void WriteFileReplacing(const std::filesystem::path& path, std::string_view bytes);

// True when text is UTF-8 that Windows-1251 can hold, so it converts there
// and back unchanged.
bool FitsCp1251(std::string_view text);

// Leading and trailing blanks and control characters (up to U+0020) removed.
std::string_view TrimBlanks(std::string_view s);

} // namespace gw
