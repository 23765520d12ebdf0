// Figures of the real program, reported and never asserted. Run by hand:
//   test_e2e --gtest_also_run_disabled_tests --gtest_filter='*Measure*'

#include "E2eSupport.h"

#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace qrv::e2e {
namespace {

using Clock = std::chrono::steady_clock;

long ProcKilobytes(pid_t pid, const std::string& field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/smaps_rollup");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(field + ":", 0) == 0) {
            return std::atol(line.c_str() + field.size() + 1);
        }
    }
    return -1;
}

// User plus system time of a process, in seconds.
double CpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(in)), {});
    std::istringstream fields(all.substr(all.rfind(')') + 2));
    std::string field;
    long utime = 0;
    long stime = 0;
    for (int i = 3; fields >> field; ++i) {
        if (i == 14) {
            utime = std::stol(field);
        } else if (i == 15) {
            stime = std::stol(field);
            break;
        }
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

std::vector<TListServer> Servers(int count) {
    std::vector<TListServer> servers;
    for (int i = 0; i < count; ++i) {
        servers.emplace_back("server " + std::to_string(100000 + i),
                             "http://127.0.0.1:1/" + std::to_string(i));
    }
    return servers;
}

TEST(MeasureTest, DISABLED_MemoryCpuAndLargeLists) {
    TXSession session;
    ASSERT_TRUE(session.Ok()) << session.Problem();
    {
        TInstall app(session);
        app.WriteConfig({});
        WriteServerList(app.ListFile(), Servers(100));
        TProcess program = app.Start();
        ASSERT_NE(app.WaitForMainWindow(), 0u);
        std::this_thread::sleep_for(std::chrono::seconds(2));
        std::printf("100 servers: Rss %ld kB, Anonymous %ld kB, Pss %ld kB\n",
                    ProcKilobytes(program.Pid(), "Rss"), ProcKilobytes(program.Pid(), "Anonymous"),
                    ProcKilobytes(program.Pid(), "Pss"));
        const double before = CpuSeconds(program.Pid());
        std::this_thread::sleep_for(std::chrono::seconds(30));
        const double after = CpuSeconds(program.Pid());
        std::printf("idle 30 s: %.2f s of CPU (%.3f %%)\n", after - before,
                    100.0 * (after - before) / 30.0);
        program.Signal(SIGTERM);
        program.WaitExit(20000);
    }
    {
        TInstall app(session);
        app.WriteConfig({});
        WriteServerList(app.ListFile(), Servers(10000));
        const Clock::time_point start = Clock::now();
        TProcess program = app.Start();
        ASSERT_NE(app.WaitForMainWindow(60000), 0u);
        const Clock::time_point shown = Clock::now();
        std::printf("10000 servers: window shown %.0f ms after the start (xdotool polling "
                    "included)\n",
                    Ms(shown - start));
        std::printf("10000 servers: Rss %ld kB, Anonymous %ld kB\n",
                    ProcKilobytes(program.Pid(), "Rss"), ProcKilobytes(program.Pid(), "Anonymous"));
        const Clock::time_point quit = Clock::now();
        program.Signal(SIGTERM);
        const auto status = program.WaitExit(60000);
        const Clock::time_point ended = Clock::now();
        const std::string list = ReadFile(app.ListFile());
        std::size_t rows = 0;
        for (std::size_t at = list.find("<ROW "); at != std::string::npos;
             at = list.find("<ROW ", at + 1)) {
            ++rows;
        }
        std::printf("10000 servers: quit (save included) %.0f ms, exit status %d, %zu rows, "
                    "%zu bytes\n",
                    Ms(ended - quit), status.value_or(-1), rows, list.size());
    }
}

} // namespace
} // namespace qrv::e2e
