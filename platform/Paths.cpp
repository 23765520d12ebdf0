#include "platform/Paths.h"

#include "platform/Error.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qrv::platform {

namespace {

std::string ReadSelfExe() {
    std::string buf(PATH_MAX, '\0');
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0) {
            return {};
        }
        if (static_cast<size_t>(n) < buf.size()) {
            buf.resize(static_cast<size_t>(n));
            return buf;
        }
        buf.resize(buf.size() * 2);
    }
}

std::string ErrnoText(int err) { return std::strerror(err); }

} // namespace

const std::string& ExecutablePath() {
    static const std::string path = ReadSelfExe();
    return path;
}

const std::string& ExecutableDir() {
    static const std::string dir = DirectoryOf(ExecutablePath());
    return dir;
}

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return {};
    }
    if (slash == 0) {
        return "/";
    }
    return path.substr(0, slash);
}

bool CreateDirectories(const std::string& dir) {
    if (dir.empty()) {
        errno = ENOENT;
        return false;
    }
    struct stat st {};
    if (::stat(dir.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            return true;
        }
        errno = ENOTDIR;
        return false;
    }
    const std::string parent = DirectoryOf(dir);
    if (!parent.empty() && parent != dir && !CreateDirectories(parent)) {
        return false;
    }
    if (::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
        return false;
    }
    return true;
}

void WriteFileAtomically(const std::string& path, const std::string& data) {
    const std::string dir = DirectoryOf(path);
    std::string tmpl = (dir.empty() ? std::string(".") : dir) + "/.qrv-tmp-XXXXXX";
    const int fd = ::mkstemp(tmpl.data());
    if (fd < 0) {
        throw Error("Unable to write file '" + path + "': " + ErrnoText(errno));
    }
    auto fail = [&](int err) {
        ::close(fd);
        ::unlink(tmpl.c_str());
        throw Error("Unable to write file '" + path + "': " + ErrnoText(err));
    };
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail(errno);
        }
        done += static_cast<size_t>(n);
    }
    // Keep the permissions of the file being replaced; new files get the usual 0666 & ~umask.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        ::fchmod(fd, st.st_mode & 07777);
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);
    }
    if (::fsync(fd) != 0) {
        fail(errno);
    }
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(tmpl.c_str());
        throw Error("Unable to write file '" + path + "': " + ErrnoText(err));
    }
    if (::rename(tmpl.c_str(), path.c_str()) != 0) {
        const int err = errno;
        ::unlink(tmpl.c_str());
        throw Error("Unable to write file '" + path + "': " + ErrnoText(err));
    }
}

bool ReadWholeFile(const std::string& path, std::string& out) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        const int err = S_ISDIR(st.st_mode) ? EISDIR : errno;
        ::close(fd);
        errno = err;
        return false;
    }
    out.clear();
    if (st.st_size > 0) {
        out.reserve(static_cast<size_t>(st.st_size));
    }
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int err = errno;
            ::close(fd);
            errno = err;
            return false;
        }
        if (n == 0) {
            break;
        }
        out.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return true;
}

} // namespace qrv::platform
