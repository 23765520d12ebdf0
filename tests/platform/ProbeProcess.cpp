#include "ProbeProcess.h"

#include "platform/Paths.h"
#include "platform/SingleInstance.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace qrv::probe {

namespace {

void Say(const std::string& text) {
    if (::write(1, text.data(), text.size()) < 0)
        ::_exit(98);
}

// lock-try: exit 0 when the instance lock was taken, 1 when refused. lock-knock: refused, exit 0
// when the running instance took the knock, 1 when not. lock-hold: take it, say 1 or 0, with
// QRV_PROBE_SPAWN start "<that> 60" and say its pid, with QRV_PROBE_DOOR open the second-start
// door and say "door" or "shut", then "knock" for every knock, until standard input closes. argv:
// once QRV_PROBE_WAITFOR exists (when set), write our pid and arguments to QRV_PROBE_OUT.
[[noreturn]] void RunProbe(const std::string& mode) {
    if (mode == "lock-try")
        ::_exit(platform::AcquireSingleInstance() ? 0 : 1);
    if (mode == "lock-knock")
        ::_exit(!platform::AcquireSingleInstance() && platform::KnockOnRunningInstance() ? 0 : 1);
    if (mode == "lock-hold") {
        Say(platform::AcquireSingleInstance() ? "1\n" : "0\n");
        const int door =
            std::getenv("QRV_PROBE_DOOR") != nullptr ? platform::ListenForSecondStarts() : -2;
        if (door != -2)
            Say(door >= 0 ? "door\n" : "shut\n");
        if (const char* prog = std::getenv("QRV_PROBE_SPAWN")) {
            std::string p = prog, arg = "60";
            char* argv[] = {p.data(), arg.data(), nullptr};
            pid_t pid = -1;
            ::posix_spawnp(&pid, prog, nullptr, nullptr, argv, environ);
            Say(std::to_string(pid) + "\n");
        }
        for (;;) {
            pollfd fds[] = {{0, POLLIN, 0}, {door, POLLIN, 0}};
            if (::poll(fds, door >= 0 ? 2 : 1, -1) < 0) {
                if (errno == EINTR)
                    continue;
                break;
            }
            if (door >= 0 && (fds[1].revents & POLLIN) && platform::AcceptSecondStarts(door))
                Say("knock\n");
            char c;
            if ((fds[0].revents & (POLLIN | POLLHUP)) && ::read(0, &c, 1) <= 0)
                break;
        }
        ::_exit(0);
    }
    if (mode == "argv") {
        const char* wait = std::getenv("QRV_PROBE_WAITFOR");
        for (int i = 0; wait != nullptr && i < 3000 && ::access(wait, F_OK) != 0; ++i)
            ::usleep(10000);
        std::string args;
        platform::ReadWholeFile("/proc/self/cmdline", args);
        args.erase(0, args.find('\0') + 1); // argv[0]
        platform::WriteFileAtomically(std::getenv("QRV_PROBE_OUT"),
                                      std::to_string(::getpid()) + "\n" + args);
        ::_exit(0);
    }
    ::_exit(99);
}

const bool ProbeChecked = [] {
    if (const char* mode = std::getenv("QRV_PROBE"))
        RunProbe(mode);
    return true;
}();

} // namespace

TProbe::TProbe(const std::vector<std::string>& env) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    posix_spawn_file_actions_t fa;
    ::posix_spawn_file_actions_init(&fa);
    ::posix_spawn_file_actions_adddup2(&fa, in[0], 0);
    ::posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    // The extra entries come first, so they win over inherited ones of the same name.
    std::vector<std::string> text(env);
    for (char** e = environ; *e != nullptr; ++e)
        text.emplace_back(*e);
    std::vector<char*> envp;
    for (auto& e : text)
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
    if (Status < 0)
        ::kill(ChildPid, SIGKILL);
    Finish();
    ::close(Out);
}

std::string TProbe::ReadLine() {
    std::string line;
    char c;
    while (::read(Out, &c, 1) == 1 && c != '\n')
        line += c;
    return line;
}

int TProbe::Finish() {
    if (In >= 0)
        ::close(In);
    In = -1;
    if (Status < 0) {
        int st = 0;
        while (::waitpid(ChildPid, &st, 0) < 0 && errno == EINTR) {
        }
        Status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    }
    return Status;
}

std::string MakeTempDir(const std::string& stem) {
    std::string tmpl = ::testing::TempDir() + stem + "-XXXXXX";
    if (::mkdtemp(tmpl.data()) == nullptr)
        throw std::runtime_error("mkdtemp");
    return tmpl;
}

} // namespace qrv::probe
