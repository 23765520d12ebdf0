#include "platform/Paths.h"

#include "platform/Error.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <string_view>
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

std::string ErrnoText(int err) {
    return std::strerror(err);
}

// An absolute value of an environment variable, without trailing slashes; "" otherwise.
std::string AbsoluteEnv(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/') {
        return {};
    }
    std::string dir = value;
    while (dir.size() > 1 && dir.back() == '/') {
        dir.pop_back();
    }
    return dir;
}

std::string BelowHome(const char* xdgName, const char* fallback) {
    std::string dir = AbsoluteEnv(xdgName);
    if (!dir.empty()) {
        return dir;
    }
    const std::string home = HomeDir();
    return home.empty() ? std::string() : (home == "/" ? "" : home) + fallback;
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

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

std::string HomeDir() {
    std::string home = AbsoluteEnv("HOME");
    if (!home.empty()) {
        return home;
    }
    const long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::string buf(size > 0 ? static_cast<std::size_t>(size) : 16384, '\0');
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buf.data(), buf.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/') {
        home = found->pw_dir;
    }
    return home;
}

std::string UserConfigDir() {
    return BelowHome("XDG_CONFIG_HOME", "/.config");
}

std::string UserDataDir() {
    return BelowHome("XDG_DATA_HOME", "/.local/share");
}

bool CreateDirectories(const std::string& dir, mode_t mode) {
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
    if (!parent.empty() && parent != dir && !CreateDirectories(parent, mode)) {
        return false;
    }
    if (::mkdir(dir.c_str(), mode) != 0 && errno != EEXIST) {
        return false;
    }
    return true;
}

namespace {

// The file a path finally names, through every symbolic link (at most 40, as the kernel
// allows); the path itself when it is no link. A dangling link gives the missing target.
std::string FollowLinks(const std::string& path) {
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            return current;
        }
        std::string link(PATH_MAX, '\0');
        const ssize_t n = ::readlink(current.c_str(), link.data(), link.size());
        if (n <= 0 || static_cast<size_t>(n) >= link.size()) {
            return current;
        }
        link.resize(static_cast<size_t>(n));
        if (link[0] != '/') {
            const std::string dir = DirectoryOf(current);
            std::string absolute = dir.empty() ? std::string(".") : dir;
            absolute.append("/").append(link);
            link = std::move(absolute);
        }
        current = std::move(link);
    }
    return current;
}

// 0, or the errno of the write that failed.
int WriteAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        done += static_cast<size_t>(n);
    }
    return 0;
}

// Where no temporary file can be made beside it, an existing file that may be written is
// rewritten in place, flushed: not atomic, but saved.
bool WriteInPlace(const std::string& target, const std::string& data) {
    const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return false;
    }
    int err = WriteAll(fd, data);
    if (err == 0 && (::ftruncate(fd, static_cast<off_t>(data.size())) != 0 || ::fsync(fd) != 0)) {
        err = errno;
    }
    if (::close(fd) != 0 && err == 0) {
        err = errno;
    }
    errno = err;
    return err == 0;
}

} // namespace

void WriteFileAtomically(const std::string& path, const std::string& data, mode_t newFileMode) {
    // Through a symbolic link to its target: the link stays and keeps naming the file.
    const std::string target = FollowLinks(path);
    const std::string dir = DirectoryOf(target);
    struct stat old {};
    const bool existed = ::stat(target.c_str(), &old) == 0;
    std::string tmpl = (dir.empty() ? std::string(".") : dir) + "/" + kTemporaryPrefix + "XXXXXX";
    const int fd = ::mkstemp(tmpl.data());
    if (fd < 0) {
        const int err = errno;
        if (existed && (err == EACCES || err == EPERM || err == EROFS) &&
            WriteInPlace(target, data)) {
            return;
        }
        throw Error("Unable to write file '" + path + "': " + ErrnoText(err));
    }
    auto fail = [&](int err) {
        ::close(fd);
        ::unlink(tmpl.c_str());
        throw Error("Unable to write file '" + path + "': " + ErrnoText(err));
    };
    if (const int err = WriteAll(fd, data); err != 0) {
        fail(err);
    }
    // Keep the permissions and, where this user may, the owner of the file being replaced;
    // new files get theirs less the umask.
    if (existed) {
        ::fchmod(fd, old.st_mode & 07777);
        if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
            [[maybe_unused]] const int kept = ::fchown(fd, old.st_uid, old.st_gid);
            ::fchmod(fd, old.st_mode & 07777); // fchown may clear set-id bits
        }
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, newFileMode & ~mask & 07777);
    }
    if (::fsync(fd) != 0) {
        fail(errno);
    }
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(tmpl.c_str());
        throw Error("Unable to write file '" + path + "': " + ErrnoText(err));
    }
    if (::rename(tmpl.c_str(), target.c_str()) != 0) {
        const int err = errno;
        ::unlink(tmpl.c_str());
        throw Error("Unable to write file '" + path + "': " + ErrnoText(err));
    }
}

int RemoveLeftoverTemporaries(const std::string& dir) {
    DIR* folder = ::opendir(dir.c_str());
    if (folder == nullptr) {
        return 0;
    }
    const std::string_view prefix = kTemporaryPrefix;
    int removed = 0;
    while (const dirent* item = ::readdir(folder)) {
        const std::string_view name = item->d_name;
        if (name.size() != prefix.size() + 6 || name.substr(0, prefix.size()) != prefix) {
            continue;
        }
        struct stat st {};
        if (::fstatat(::dirfd(folder), item->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
            ::unlinkat(::dirfd(folder), item->d_name, 0) == 0) {
            ++removed;
        }
    }
    ::closedir(folder);
    return removed;
}

bool IsInstalledCopy(const std::string& exeDir) {
    const std::string prefix = DirectoryOf(exeDir);
    if (prefix.empty() || exeDir.substr(prefix.size()) != (prefix == "/" ? "bin" : "/bin")) {
        return false;
    }
    const std::string entry =
        (prefix == "/" ? "" : prefix) + "/share/applications/" + kDesktopEntryId + ".desktop";
    return ::access(entry.c_str(), F_OK) == 0;
}

std::string ResolveProgramDataDir(const std::string& exeDir) {
    if (!exeDir.empty() && !IsInstalledCopy(exeDir) && IsDirectory(exeDir) &&
        ::access(exeDir.c_str(), W_OK | X_OK) == 0) {
        return exeDir;
    }
    const std::string base = UserDataDir();
    if (base.empty()) {
        // Without a home there is no folder of the user's own; writes there fail with a reason.
        return exeDir;
    }
    std::string dir = base + "/" + kProgramSubdir;
    // A failure shows later, when the list or the log cannot be written there.
    CreateDirectories(dir, 0700);
    return dir;
}

const std::string& ProgramDataDir() {
    static const std::string dir = ResolveProgramDataDir(ExecutableDir());
    return dir;
}

bool ReadWholeFile(const std::string& path, std::string& out, std::size_t maxBytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const auto fail = [fd](int err) {
        ::close(fd);
        errno = err;
        return false;
    };
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return fail(errno);
    }
    if (S_ISDIR(st.st_mode)) {
        return fail(EISDIR);
    }
    if (st.st_size > 0 && static_cast<std::uint64_t>(st.st_size) > maxBytes) {
        return fail(EFBIG);
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
            return fail(errno);
        }
        if (n == 0) {
            break;
        }
        if (static_cast<size_t>(n) > maxBytes - out.size()) {
            out.clear();
            out.shrink_to_fit();
            return fail(EFBIG);
        }
        out.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return true;
}

} // namespace qrv::platform
