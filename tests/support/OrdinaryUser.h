#pragma once

// Runs a check in a child process that has no more rights than an ordinary user, which the
// tests' own root cannot show: as root the child becomes the user "nobody", after the folders
// it is to own have been handed to it.

#include <cerrno>
#include <functional>
#include <grp.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace qrv::test {

inline constexpr uid_t kNobody = 65534;

// `body` returns "" when every expectation held, else what went wrong; so does this call,
// with the child's end added when it did not exit normally.
inline std::string AsOrdinaryUser(const std::vector<std::string>& owned,
                                  const std::function<std::string()>& body) {
    int fds[2];
    if (::pipe(fds) != 0) {
        return "pipe failed";
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        std::string result;
        if (::geteuid() == 0) {
            for (const auto& dir : owned) {
                if (::chown(dir.c_str(), kNobody, kNobody) != 0) {
                    result = "cannot hand " + dir + " over";
                }
            }
            if (::setgroups(0, nullptr) != 0 || ::setresgid(kNobody, kNobody, kNobody) != 0 ||
                ::setresuid(kNobody, kNobody, kNobody) != 0) {
                result = "cannot leave root";
            }
        }
        if (result.empty()) {
            result = body();
        }
        ssize_t done = 0;
        while (done < static_cast<ssize_t>(result.size())) {
            const ssize_t n = ::write(fds[1], result.data() + done,
                                      result.size() - static_cast<std::size_t>(done));
            if (n <= 0) {
                break;
            }
            done += n;
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string out;
    char buf[512];
    for (;;) {
        const ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n > 0) {
            out.append(buf, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        out += " (the child did not exit normally)";
    }
    return out;
}

} // namespace qrv::test
