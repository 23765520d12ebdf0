#include "platform/SingleInstance.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace qrv::platform {

namespace {

constexpr const char* LockName = "Ostrelle.Quorvane." QRV_VERSION_SHORT;

std::mutex LockMutex;
int LockFd = -1;      // kept open (and locked) until the process ends
std::string LockPath; // the lock file we hold, or the one another instance holds

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
            LockPath = path;
            return true;
        case TLock::Held:
            LockPath = path;
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

namespace {

std::string SocketPath() {
    std::lock_guard guard(LockMutex);
    if (LockPath.size() < 5) {
        return {};
    }
    return LockPath.substr(0, LockPath.size() - 5) + ".sock";
}

bool SocketAddress(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(address.sun_path)) {
        return false;
    }
    path.copy(address.sun_path, path.size());
    return true;
}

} // namespace

int ListenForSecondStarts() {
    const std::string path = SocketPath();
    sockaddr_un address{};
    if (!SocketAddress(path, address)) {
        return -1;
    }
    // We hold the lock, so a socket of ours found there is an ended instance's; anything else
    // (another user's file in a shared folder) is left alone and the door stays shut.
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode) || st.st_uid != ::getuid() || ::unlink(path.c_str()) != 0) {
            return -1;
        }
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    // Made 0600 from the start: fchmod does not apply to a socket's file.
    const mode_t old = ::umask(0177);
    const int bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    ::umask(old);
    if (bound != 0 || ::listen(fd, 4) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void CloseSecondStartDoor(int fd) {
    if (fd < 0) {
        return;
    }
    ::close(fd);
    ::unlink(SocketPath().c_str());
}

bool AcceptSecondStarts(int fd) {
    bool knocked = false;
    for (;;) {
        const int peer = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (peer < 0) {
            if (errno == EINTR) {
                continue;
            }
            return knocked; // EAGAIN: none waiting any more
        }
        ucred credentials{};
        socklen_t size = sizeof(credentials);
        if (::getsockopt(peer, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0 &&
            credentials.uid == ::getuid()) {
            knocked = true;
        }
        ::close(peer);
    }
}

bool KnockOnRunningInstance() {
    const std::string path = SocketPath();
    sockaddr_un address{};
    struct stat st {};
    if (!SocketAddress(path, address) || ::lstat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode) ||
        st.st_uid != ::getuid()) {
        return false;
    }
    // Non-blocking: an instance too busy to take knocks must not hold the second start up.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    int rc;
    do {
        rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    } while (rc != 0 && errno == EINTR);
    ::close(fd);
    return rc == 0;
}

} // namespace qrv::platform
