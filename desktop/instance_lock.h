#pragma once
// The single-instance lock of opcstation: an exclusive flock on a file in the
// user's runtime directory. The kernel drops it when its holder dies, so an
// instance that crashed never blocks the next start.

#include <string>

namespace gw::desktop {

class TInstanceLock {
public:
    // dir: where the lock file lives ("" = $XDG_RUNTIME_DIR, else /tmp with
    // the user id in the file name).
    explicit TInstanceLock(std::string dir = {});
    ~TInstanceLock();
    TInstanceLock(const TInstanceLock&) = delete;
    TInstanceLock& operator=(const TInstanceLock&) = delete;

    // False when another holder has it; held until this object ends.
    bool TryTake();
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    int fd_ = -1;
};

std::string DefaultLockPath(const std::string& dir);

} // namespace gw::desktop
