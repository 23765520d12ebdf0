#include "platform/SingleInstance.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qrv::platform {

namespace {

constexpr const char* LockName = "Ostrelle.Quorvane.0.9";

std::mutex LockMutex;
int LockFd = -1; // kept open (and locked) until the process ends

} // namespace

std::string SingleInstanceLockPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && *runtime != '\0')
        return std::string(runtime) + "/" + LockName + ".lock";
    // A fixed folder rather than TMPDIR: two sessions of the same user must meet at one file.
    return std::string("/tmp/") + LockName + "-" + std::to_string(::getuid()) + ".lock";
}

bool AcquireSingleInstance() {
    std::lock_guard guard(LockMutex);
    if (LockFd >= 0)
        return true;

    const std::string path = SingleInstanceLockPath();
    // No symlink following: in a shared temporary folder the name could be planted by others.
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return true; // nothing to lock on; running beats refusing to start

    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid()) {
        // Someone else's file would let that user keep us from ever starting.
        ::close(fd);
        return true;
    }

    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const bool held = errno == EWOULDBLOCK;
        ::close(fd);
        return !held;
    }
    LockFd = fd;
    return true;
}

} // namespace qrv::platform
