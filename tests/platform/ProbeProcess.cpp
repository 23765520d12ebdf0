#include "ProbeProcess.h"

#include "platform/Paths.h"
#include "platform/SingleInstance.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace qrv::probe {

namespace {

void WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

// QRV_PROBE=lock-try: exit 0 when the instance lock was taken, 1 when it was refused.
// QRV_PROBE=lock-hold: take the lock, print 1 or 0; with QRV_PROBE_SPAWN start that program
// with argument "60" and print its pid; then hold on until standard input closes.
// QRV_PROBE=argv: write the arguments (count, then each ended by NUL) to QRV_PROBE_OUT, after
// waiting for the file QRV_PROBE_WAITFOR to exist when that is set.
[[noreturn]] void RunProbeMode(const std::string& mode) {
    if (mode == "lock-try")
        ::_exit(platform::AcquireSingleInstance() ? 0 : 1);
    if (mode == "lock-hold") {
        WriteAll(1, platform::AcquireSingleInstance() ? "1\n" : "0\n");
        if (const char* prog = std::getenv("QRV_PROBE_SPAWN")) {
            std::string p = prog, arg = "60";
            char* argv[] = {p.data(), arg.data(), nullptr};
            pid_t pid = -1;
            if (::posix_spawnp(&pid, prog, nullptr, nullptr, argv, environ) != 0)
                pid = -1;
            WriteAll(1, std::to_string(pid) + "\n");
        }
        char c;
        while (::read(0, &c, 1) > 0 || errno == EINTR) {
        }
        ::_exit(0);
    }
    if (mode == "argv") {
        const char* out = std::getenv("QRV_PROBE_OUT");
        if (const char* wait = std::getenv("QRV_PROBE_WAITFOR")) {
            for (int i = 0; i < 3000 && ::access(wait, F_OK) != 0; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::string args;
        std::string text;
        std::FILE* f = std::fopen("/proc/self/cmdline", "rb");
        if (f != nullptr) {
            char buf[4096];
            size_t n;
            while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
                args.append(buf, n);
            std::fclose(f);
        }
        // Drop argv[0]; count what is left.
        const size_t first = args.find('\0');
        args = first == std::string::npos ? std::string() : args.substr(first + 1);
        int count = 0;
        for (char ch : args)
            count += ch == '\0' ? 1 : 0;
        text = std::to_string(count) + "\n" + args;
        if (out != nullptr)
            platform::WriteFileAtomically(out, text);
        ::_exit(0);
    }
    ::_exit(99);
}

const bool ProbeChecked = [] {
    if (const char* mode = std::getenv("QRV_PROBE"))
        RunProbeMode(mode);
    return true;
}();

} // namespace

TProbe::TProbe(const TEnv& env) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    posix_spawn_file_actions_t fa;
    ::posix_spawn_file_actions_init(&fa);
    ::posix_spawn_file_actions_adddup2(&fa, in[0], 0);
    ::posix_spawn_file_actions_adddup2(&fa, out[1], 1);

    std::vector<std::string> envText;
    for (char** e = environ; *e != nullptr; ++e) {
        std::string entry = *e;
        bool replaced = false;
        for (const auto& [k, v] : env)
            replaced = replaced || entry.rfind(k + "=", 0) == 0;
        if (!replaced && entry.rfind("QRV_PROBE", 0) != 0)
            envText.push_back(entry);
    }
    for (const auto& [k, v] : env)
        envText.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& e : envText)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    std::string self = platform::ExecutablePath();
    char* argv[] = {self.data(), nullptr};

    const int rc = ::posix_spawn(&ChildPid, self.c_str(), &fa, nullptr, argv, envp.data());
    ::posix_spawn_file_actions_destroy(&fa);
    ::close(in[0]);
    ::close(out[1]);
    In = in[1];
    Out = out[0];
    if (rc != 0)
        throw std::runtime_error("posix_spawn");
}

TProbe::~TProbe() {
    CloseInput();
    if (!Reaped && ChildPid > 0) {
        ::kill(ChildPid, SIGKILL);
        Wait();
    }
    if (Out >= 0)
        ::close(Out);
}

std::string TProbe::ReadLine() {
    std::string line;
    char c;
    for (;;) {
        const ssize_t n = ::read(Out, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || c == '\n')
            return line;
        line += c;
    }
}

void TProbe::CloseInput() {
    if (In >= 0)
        ::close(In);
    In = -1;
}

int TProbe::Wait() {
    if (!Reaped) {
        int st = 0;
        while (::waitpid(ChildPid, &st, 0) < 0 && errno == EINTR) {
        }
        Reaped = true;
        Status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    }
    return Status;
}

int RunProbe(const TEnv& env) {
    TProbe probe(env);
    probe.CloseInput();
    return probe.Wait();
}

std::string MakeTempDir(const std::string& stem) {
    std::string tmpl = ::testing::TempDir() + stem + "-XXXXXX";
    const char* made = ::mkdtemp(tmpl.data());
    if (made == nullptr)
        throw std::runtime_error("mkdtemp");
    return made;
}

} // namespace qrv::probe
