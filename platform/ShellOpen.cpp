#include "platform/ShellOpen.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace qrv::platform {

void ShellOpen(const std::string& pathOrUrl) {
    if (pathOrUrl.empty())
        return;
    const char* opener = std::getenv("QRV_OPENER");
    std::string program = (opener != nullptr && *opener != '\0') ? opener : "xdg-open";

    std::string argument = pathOrUrl;
    char* argv[] = {program.data(), argument.data(), nullptr};

    posix_spawnattr_t attr;
    if (::posix_spawnattr_init(&attr) != 0)
        return;
    // The opener must not inherit signals we block or handle on other threads.
    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigfillset(&all);
    ::posix_spawnattr_setsigmask(&attr, &none);
    ::posix_spawnattr_setsigdefault(&attr, &all);
    ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, program.c_str(), nullptr, &attr, argv, environ);
    ::posix_spawnattr_destroy(&attr);
    if (rc != 0 || pid <= 0)
        return;

    // Reap this one child only, so that nothing else's children are disturbed.
    try {
        std::thread([pid] {
            int status = 0;
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (...) {
        // Without a thread the finished opener stays a zombie until we end; harmless.
    }
}

} // namespace qrv::platform
