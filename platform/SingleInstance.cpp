#include "platform/SingleInstance.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace qrv::platform {

namespace {

constexpr const char* LockName = "Ostrelle.Quorvane." QRV_VERSION_SHORT;

std::mutex LockMutex;
int LockFd = -1; // kept open (and locked) until the process ends

} // namespace

std::vector<std::string> SingleInstanceLockPaths() {
    std::vector<std::string> paths;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && *runtime != '\0') {
        paths.push_back(std::string(runtime) + "/" + LockName + ".lock");
    }
    // A fixed folder rather than TMPDIR: two sessions of the same user must meet at one file.
    paths.push_back(std::string("/tmp/") + LockName + "-" + std::to_string(::getuid()) + ".lock");
    return paths;
}

namespace {

enum class TLock { Taken, Held, Unusable };

TLock TryLockFile(const std::string& path, int& fdOut) {
    // No symlink following: in a shared temporary folder the name could be planted by others.
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    }
    if (fd < 0) {
        return TLock::Unusable;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid()) {
        // Someone else's file would let that user keep us from ever starting.
        ::close(fd);
        return TLock::Unusable;
    }
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const bool held = errno == EWOULDBLOCK;
        ::close(fd);
        return held ? TLock::Held : TLock::Unusable;
    }
    fdOut = fd;
    return TLock::Taken;
}

} // namespace

bool AcquireSingleInstance() {
    std::lock_guard guard(LockMutex);
    if (LockFd >= 0) {
        return true;
    }
    const std::vector<std::string> paths = SingleInstanceLockPaths();
    for (const std::string& path : paths) {
        switch (TryLockFile(path, LockFd)) {
        case TLock::Taken:
            return true;
        case TLock::Held:
            return false;
        case TLock::Unusable:
            break; // the next place
        }
    }
    // Running beats refusing to start, but a second instance is then possible: say so.
    std::fprintf(stderr, "Quorvane: no instance lock could be taken (%s); running without one.\n",
                 paths.front().c_str());
    return true;
}

} // namespace qrv::platform
