#include "core/files.h"

#include "core/datetime.h"
#include "core/logcategories.h"
#include "core/messbuff.h"

#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace gw {

namespace {

std::string_view TrimSpaces(std::string_view s)
{
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return s;
}

bool IsDirectory(const std::string& dir)
{
    struct stat st {};
    return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool WriteAll(int fd, std::string_view content)
{
    while (!content.empty()) {
        const ssize_t n = ::write(fd, content.data(), content.size());
        if (n < 0)
            return false;
        content.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

} // namespace

std::string MakePath(std::string_view dir, std::string_view name)
{
    std::string path(dir);
    if (!dir.empty() && dir.back() != '/' && dir.back() != '\\')
        path += '/';
    path += name;
    return path;
}

bool CheckDirForFile(const std::string& dir, const std::string& fname, std::string& fullname, bool prSilent,
                     const std::string& hint, TMessBuff& messages)
{
    const std::string trimmed(TrimSpaces(dir));
    fullname = MakePath(trimmed, fname);
    const bool exists = dir.empty() || IsDirectory(trimmed);
    if (!exists && !hint.empty() && !prSilent)
        messages.Put(LogError, "ERROR! Нет каталога для файла!\rкаталог:" + dir + "\r" + "файл:" + fname + "\r" + hint,
                     WallNow());
    return exists;
}

bool OpenTextFile(std::ifstream& f, const std::string& name, char mode, std::string& errText)
{
    errText.clear();
    if (mode == 'r') {
        f.open(name, std::ios::in | std::ios::binary);
        if (f.is_open())
            return true;
    }
    errText = "ERROR:Не открывается файл:" + name + " mode=" + mode;
    return false;
}

namespace {

bool WriteWholeFileWithMode(const std::string& path, std::string_view content, mode_t mode)
{
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    // mkostemp makes the file private; the file in place gets the mode asked for.
    const bool written = ::fchmod(fd, mode) == 0 && WriteAll(fd, content) && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (written && closed && ::rename(temp.c_str(), path.c_str()) == 0)
        return true;
    ::unlink(temp.c_str());
    return false;
}

void SyncDirectoryOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

bool WriteWholeFile(const std::string& path, std::string_view content)
{
    return WriteWholeFileWithMode(path, content, 0644);
}

namespace {

bool ReplaceWithMode(const std::string& path, std::string_view content, std::optional<mode_t> forced)
{
    mode_t mode = 0644;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode))
            return false;
        mode = st.st_mode & 07777;
    }
    if (!WriteWholeFileWithMode(path, content, forced.value_or(mode)))
        return false;
    SyncDirectoryOf(path);
    return true;
}

} // namespace

bool ReplaceWholeFile(const std::string& path, std::string_view content)
{
    return ReplaceWithMode(path, content, std::nullopt);
}

bool ReplacePrivateFile(const std::string& path, std::string_view content)
{
    return ReplaceWithMode(path, content, 0600);
}

} // namespace gw
