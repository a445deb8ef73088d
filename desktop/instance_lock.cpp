#include "desktop/instance_lock.h"

#include "desktop/texts.h"

#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace gw::desktop {

std::string DefaultLockPath(const std::string& dir)
{
    if (!dir.empty())
        return dir + "/" + texts::InstanceMutexName + ".lock";
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
        return std::string(runtime) + "/" + texts::InstanceMutexName + ".lock";
    return std::string("/tmp/") + texts::InstanceMutexName + "-" + std::to_string(getuid()) + ".lock";
}

TInstanceLock::TInstanceLock(std::string dir) : path_(DefaultLockPath(dir)) {}

TInstanceLock::~TInstanceLock()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool TInstanceLock::TryTake()
{
    if (fd_ >= 0)
        return true;
    const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    // A lock file that cannot be made must not keep the program from running.
    if (fd < 0)
        return true;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

} // namespace gw::desktop
