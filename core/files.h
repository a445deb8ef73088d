#pragma once
// File path and text-file helpers, and the whole-file writer that never
// leaves a half-written file in place.

#include <fstream>
#include <string>
#include <string_view>

namespace gw {

class TMessBuff;

// dir + name when dir is empty or ends with '/' or '\', else dir + "/" + name.
std::string MakePath(std::string_view dir, std::string_view name);

class TSubDir {
public:
    TSubDir(std::string_view aDir, std::string_view aSdir) : FPath(MakePath(aDir, aSdir)) {}
    const std::string& path() const { return FPath; }

private:
    std::string FPath;
};

// True when dir is empty or an existing directory; fullname := MakePath of
// the trimmed dir and fname. A missing directory is put into messages
// (category 1) when hint is not empty and prSilent is false.
bool CheckDirForFile(const std::string& dir, const std::string& fname, std::string& fullname, bool prSilent,
                     const std::string& hint, TMessBuff& messages);

// Opens name for reading (mode 'r', the only mode the system uses). On
// failure false and errText "ERROR:Не открывается файл:<name> mode=<mode>".
bool OpenTextFile(std::ifstream& f, const std::string& name, char mode, std::string& errText);

// Writes content to a temporary file beside path and renames it into place;
// false (and no file left behind) when any step fails.
bool WriteWholeFile(const std::string& path, std::string_view content);

// The same for a file that replaces one in place: the new file keeps the
// mode of the old one (0644 when there is none), and the rename is flushed
// to the directory. False when path names something other than a file.
bool ReplaceWholeFile(const std::string& path, std::string_view content);

// The same for a file that holds a secret: the new file is the owner's
// alone (0600), whatever mode the old one had.
bool ReplacePrivateFile(const std::string& path, std::string_view content);

} // namespace gw
