#include "X11Session.h"

#include <gtest/gtest.h>

#include <QApplication>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

pid_t ServerPid = -1;

// Starts a private X server and returns its display number, or -1. Xvfb picks a free number and
// writes it to the descriptor given with -displayfd.
int StartXvfb() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    std::string args[] = {"Xvfb", "-displayfd", "3",         "-screen",
                          "0",    "640x480x24", "-nolisten", "tcp"};
    char* argv[std::size(args) + 1] = {};
    for (size_t i = 0; i < std::size(args); ++i)
        argv[i] = args[i].data();
    // Still a single thread here, so fork is safe; the server dies with us even on a crash.
    ServerPid = ::fork();
    if (ServerPid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (fds[1] == 3)
            ::fcntl(3, F_SETFD, 0);
        else
            ::dup2(fds[1], 3);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 2);
        ::execvp("Xvfb", argv);
        ::_exit(127);
    }
    ::close(fds[1]);
    if (ServerPid < 0) {
        ::close(fds[0]);
        return -1;
    }
    std::string number;
    pollfd pfd{fds[0], POLLIN, 0};
    while (::poll(&pfd, 1, 20000) > 0) {
        char c;
        if (::read(fds[0], &c, 1) != 1 || c == '\n')
            break;
        number += c;
    }
    ::close(fds[0]);
    if (number.empty()) {
        ::kill(ServerPid, SIGKILL);
        ::waitpid(ServerPid, nullptr, 0);
        ServerPid = -1;
        return -1;
    }
    return std::atoi(number.c_str());
}

} // namespace

namespace qrv::test {
bool X11Available() {
    return ServerPid > 0;
}
} // namespace qrv::test

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    std::string runtime = std::filesystem::temp_directory_path().string() + "/qrv-xdg-XXXXXX";
    if (::mkdtemp(runtime.data()) != nullptr)
        ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);

    const bool listing = GTEST_FLAG_GET(list_tests);
    const int display = listing || std::getenv("QRV_NO_XVFB") != nullptr ? -1 : StartXvfb();
    if (display >= 0) {
        ::setenv("DISPLAY", (":" + std::to_string(display)).c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    } else {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    int result = 0;
    {
        QApplication app(argc, argv);
        result = RUN_ALL_TESTS();
    }
    if (ServerPid > 0) {
        ::kill(ServerPid, SIGTERM);
        ::waitpid(ServerPid, nullptr, 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(runtime, ignored);
    return result;
}
