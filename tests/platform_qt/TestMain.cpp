#include <gtest/gtest.h>

#include <QApplication>

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

// Starts a private X server; its display number, or -1. Xvfb picks a free number and writes
// it to the descriptor named by -displayfd. Still one thread here, so fork is safe, and the
// server dies with us even on a crash.
int StartXvfb(pid_t& server) {
    int fds[2];
    if (::pipe(fds) != 0 || (server = ::fork()) < 0)
        return -1;
    if (server == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::dup2(::open("/dev/null", O_WRONLY), 2);
        ::execlp("Xvfb", "Xvfb", "-displayfd", std::to_string(fds[1]).c_str(), "-screen", "0",
                 "640x480x24", "-nolisten", "tcp", nullptr);
        ::_exit(127);
    }
    ::close(fds[1]);
    std::string number;
    char c;
    pollfd pfd{fds[0], POLLIN, 0};
    while (::poll(&pfd, 1, 20000) > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    ::close(fds[0]);
    return number.empty() ? -1 : std::atoi(number.c_str());
}

} // namespace

// With a display the hot key tests grab keys on it (QRV_TEST_X11 tells them); without Xvfb,
// or with QRV_NO_XVFB set, everything runs offscreen.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    std::string runtime = std::filesystem::temp_directory_path().string() + "/qrv-xdg-XXXXXX";
    if (::mkdtemp(runtime.data()) != nullptr)
        ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    pid_t server = -1;
    const bool wanted = !GTEST_FLAG_GET(list_tests) && std::getenv("QRV_NO_XVFB") == nullptr;
    const int display = wanted ? StartXvfb(server) : -1;
    ::unsetenv("QRV_TEST_X11");
    if (display >= 0) {
        ::setenv("DISPLAY", (":" + std::to_string(display)).c_str(), 1);
        ::setenv("QRV_TEST_X11", "1", 1);
    }
    ::setenv("QT_QPA_PLATFORM", display >= 0 ? "xcb" : "offscreen", 1);
    int result = 0;
    {
        QApplication app(argc, argv);
        result = RUN_ALL_TESTS();
    }
    if (server > 0) {
        ::kill(server, SIGTERM);
        ::waitpid(server, nullptr, 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(runtime, ignored);
    return result;
}
