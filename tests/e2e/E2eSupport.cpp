#include "E2eSupport.h"

#include "engine/ServerList.h"
#include "platform/Registry.h"
#include "shell/AppConfig.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <pwd.h>
#include <sstream>
#include <string_view>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace qrv::e2e {

namespace {

// The main window's title as an xdotool pattern: "Quorvane <version>", the dots escaped.
std::string MainWindowPattern() {
    std::string pattern = "^Quorvane ";
    for (const char c : std::string_view(QRV_VERSION)) {
        if (c == '.') {
            pattern += '\\';
        }
        pattern += c;
    }
    return pattern + "$";
}

// Everything the child needs is built before fork: between fork and exec only system calls.
struct TExecArgs {
    std::vector<std::string> Storage;
    std::vector<char*> Argv;
    std::vector<char*> Envp;

    TExecArgs(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
        Storage.reserve(argv.size() + env.size());
        for (const std::string& a : argv) {
            Storage.push_back(a);
        }
        for (const std::string& e : env) {
            Storage.push_back(e);
        }
        for (std::size_t i = 0; i < argv.size(); ++i) {
            Argv.push_back(Storage[i].data());
        }
        Argv.push_back(nullptr);
        for (std::size_t i = argv.size(); i < Storage.size(); ++i) {
            Envp.push_back(Storage[i].data());
        }
        Envp.push_back(nullptr);
    }
};

// Looks a program up in PATH before fork (execve does not search).
std::string Resolve(const std::string& name) {
    if (name.find('/') != std::string::npos) {
        return name;
    }
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        const std::string candidate = dir + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return name;
}

pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            int stdoutFd) {
    std::vector<std::string> resolved = argv;
    resolved[0] = Resolve(argv[0]);
    TExecArgs args(resolved, env);
    const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Whatever happens to the test, nothing it started outlives it.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::dup2(devNull, 0);
        ::dup2(stdoutFd >= 0 ? stdoutFd : devNull, 1);
        ::dup2(stdoutFd >= 0 ? stdoutFd : devNull, 2);
        ::execve(args.Argv[0], args.Argv.data(), args.Envp.data());
        ::_exit(127);
    }
    ::close(devNull);
    return pid;
}

int DecodeStatus(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return -1;
}

xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection,
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
        nullptr);
    const xcb_atom_t atom = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return atom;
}

bool TrayOwned(const std::string& display) {
    xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
    if (xcb_connection_has_error(connection) != 0) {
        xcb_disconnect(connection);
        return false;
    }
    const xcb_atom_t selection = Atom(connection, "_NET_SYSTEM_TRAY_S0");
    xcb_get_selection_owner_reply_t* reply = xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, selection), nullptr);
    const bool owned = reply != nullptr && reply->owner != XCB_WINDOW_NONE;
    std::free(reply);
    xcb_disconnect(connection);
    return owned;
}

} // namespace

// ---------------------------------------------------------------------------------------------

TProcess::TProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                   const std::string& outputFile) {
    int out = -1;
    if (!outputFile.empty()) {
        out = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    }
    pid_ = Spawn(argv, env, out);
    if (out >= 0) {
        ::close(out);
    }
}

TProcess::~TProcess() {
    Kill();
}

TProcess::TProcess(TProcess&& other) noexcept : pid_(other.pid_), status_(other.status_) {
    other.pid_ = -1;
}

TProcess& TProcess::operator=(TProcess&& other) noexcept {
    if (this != &other) {
        Kill();
        pid_ = other.pid_;
        status_ = other.status_;
        other.pid_ = -1;
    }
    return *this;
}

bool TProcess::Running() {
    return pid_ > 0 && !WaitExit(0);
}

std::optional<int> TProcess::WaitExit(int ms) {
    if (status_ || pid_ <= 0) {
        return status_;
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            status_ = DecodeStatus(status);
            return status_;
        }
        if (done < 0 || std::chrono::steady_clock::now() >= end) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void TProcess::Signal(int number) {
    if (pid_ > 0 && !status_) {
        ::kill(pid_, number);
    }
}

void TProcess::Kill() {
    if (pid_ > 0 && !status_) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        status_ = DecodeStatus(status);
    }
}

TRunResult RunCommand(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                      int ms) {
    int fds[2];
    TRunResult result;
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return result;
    }
    const pid_t pid = Spawn(argv, env, fds[1]);
    ::close(fds[1]);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    char buffer[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              end - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            break;
        }
        pollfd pfd{fds[0], POLLIN, 0};
        if (::poll(&pfd, 1, static_cast<int>(left)) <= 0) {
            break;
        }
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        result.Output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= end) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return result;
        }
        ::waitpid(pid, &status, 0);
    }
    result.Status = DecodeStatus(status);
    return result;
}

bool WaitUntil(const std::function<bool()>& done, int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

std::string StartXvfb(TProcess& server, const std::vector<std::string>& extra) {
    int fds[2];
    if (::pipe(fds) != 0) {
        return {};
    }
    // Xvfb picks a free display number and writes it to the descriptor we name.
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        env.emplace_back(*e);
    }
    std::vector<std::string> argv = {"Xvfb",      "-displayfd", std::to_string(fds[1]),
                                     "-screen",   "0",          "1024x768x24",
                                     "-nolisten", "tcp"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    server = TProcess(argv, env);
    ::close(fds[1]);
    std::string number;
    char c = 0;
    pollfd pfd{fds[0], POLLIN, 0};
    while (::poll(&pfd, 1, 20000) > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n') {
        number += c;
    }
    ::close(fds[0]);
    return number.empty() ? std::string() : ":" + number;
}

// ---------------------------------------------------------------------------------------------

TXSession::TXSession(bool trayHost) : trayHost_(trayHost) {
    // Other X servers may be starting at the same moment; try again on a collision.
    for (int attempt = 0; attempt < 3 && !Ok(); ++attempt) {
        trayer_.Kill();
        xvfb_.Kill();
        display_ = -1;
        Launch();
    }
}

void TXSession::Launch() {
    // No key repeat: a busy machine can hold a key down between xdotool's press and release
    // for longer than the repeat delay, and the repeated presses would toggle the window again.
    const std::string name = StartXvfb(xvfb_, {"-r"});
    if (name.empty()) {
        problem_ = "Xvfb gave no display number";
        return;
    }
    display_ = std::atoi(name.c_str() + 1);
    if (!trayHost_) {
        trayReady_ = true;
        return;
    }
    // The tray host's first start on a busy machine can be slow (its toolkit builds caches), and
    // killing it half-way only makes the next start as slow: it gets one long bound, and is
    // started again only when it has ended.
    const std::string trayerLog =
        (fs::temp_directory_path() / ("qrv-e2e-trayer-" + std::to_string(::getpid()) + ".txt"))
            .string();
    const auto startTrayer = [&] {
        trayer_ =
            TProcess({"trayer", "--edge", "bottom", "--align", "right", "--SetDockType", "true"},
                     Environment(), trayerLog);
    };
    startTrayer();
    int starts = 1;
    trayReady_ = WaitUntil(
        [&] {
            if (TrayOwned(Display())) {
                return true;
            }
            if (!trayer_.Running() && starts < 3) {
                ++starts;
                startTrayer();
            }
            return false;
        },
        60000);
    if (!trayReady_) {
        problem_ = "no tray host on " + Display() + " (" + std::to_string(starts) +
                   " starts; Xvfb " + (xvfb_.Running() ? "running" : "gone") +
                   "): " + ReadFile(trayerLog);
    }
    std::error_code ignored;
    fs::remove(trayerLog, ignored);
}

TXSession::~TXSession() {
    trayer_.Kill();
    xvfb_.Signal(SIGTERM);
    if (!xvfb_.WaitExit(5000)) {
        xvfb_.Kill();
    }
}

std::vector<std::string> SanitizerOptions() {
    std::vector<std::string> env;
    for (const char* keep : {"ASAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS", "UBSAN_OPTIONS"}) {
        if (const char* value = std::getenv(keep)) {
            env.push_back(std::string(keep) + "=" + value);
        }
    }
    return env;
}

std::vector<std::string> TXSession::Environment() const {
    std::vector<std::string> env = SanitizerOptions();
    env.push_back("DISPLAY=" + Display());
    for (const char* keep : {"PATH", "HOME"}) {
        if (const char* value = std::getenv(keep)) {
            env.push_back(std::string(keep) + "=" + value);
        }
    }
    return env;
}

TRunResult TXSession::Xdotool(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"xdotool"};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunCommand(argv, Environment(), 10000);
}

std::vector<unsigned long> TXSession::Search(const std::vector<std::string>& args) {
    std::vector<std::string> all = {"search"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<unsigned long> ids;
    std::stringstream lines(Xdotool(all).Output);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0]))) {
            ids.push_back(std::stoul(line));
        }
    }
    return ids;
}

unsigned long TXSession::WaitForWindow(const std::string& pattern, int ms) {
    unsigned long found = 0;
    WaitUntil(
        [&] {
            const auto ids = Search({"--onlyvisible", "--name", pattern});
            found = ids.empty() ? 0 : ids.front();
            return found != 0;
        },
        ms);
    return found;
}

bool TXSession::WindowVisible(const std::string& pattern) {
    return !Search({"--onlyvisible", "--name", pattern}).empty();
}

bool TXSession::Keys(unsigned long window, const std::vector<std::string>& keys) {
    std::vector<std::string> args = {"windowfocus", "--sync", std::to_string(window), "key",
                                     "--clearmodifiers"};
    args.insert(args.end(), keys.begin(), keys.end());
    return Xdotool(args).Status == 0;
}

bool TXSession::Type(unsigned long window, const std::string& text) {
    return Xdotool({"windowfocus", "--sync", std::to_string(window), "type", "--delay", "20",
                    "--clearmodifiers", text})
               .Status == 0;
}

bool TXSession::Click(unsigned long window, int x, int y) {
    return Xdotool({"mousemove", "--window", std::to_string(window), "--sync", std::to_string(x),
                    std::to_string(y), "click", "1"})
               .Status == 0;
}

bool TXSession::RequestClose(unsigned long window) {
    xcb_connection_t* connection = xcb_connect(Display().c_str(), nullptr);
    if (xcb_connection_has_error(connection) != 0) {
        xcb_disconnect(connection);
        return false;
    }
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = static_cast<xcb_window_t>(window);
    event.type = Atom(connection, "WM_PROTOCOLS");
    event.data.data32[0] = Atom(connection, "WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    // A checked request waits for the server's answer: a message merely flushed before the
    // disconnect was now and then lost.
    xcb_generic_error_t* error = xcb_request_check(
        connection,
        xcb_send_event_checked(connection, 0, static_cast<xcb_window_t>(window),
                               XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event)));
    const bool ok = error == nullptr;
    std::free(error);
    xcb_disconnect(connection);
    return ok;
}

bool TXSession::Screenshot(unsigned long window, const fs::path& png) {
    fs::create_directories(png.parent_path());
    return RunCommand({"import", "-window", std::to_string(window), png.string()}, Environment(),
                      20000)
               .Status == 0;
}

// ---------------------------------------------------------------------------------------------

TBusSession::TBusSession(const std::vector<std::string>& peerArgs, const TUser* user)
    : user_(user) {
    std::string pattern = (fs::temp_directory_path() / "qrv-e2e-bus-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        return;
    }
    dir_ = pattern;
    if (user_ != nullptr && ::chown(dir_.c_str(), user_->Uid, user_->Gid) != 0) {
        return;
    }
    const fs::path socket = dir_ / "bus";
    std::vector<std::string> env = SanitizerOptions();
    env.push_back("PATH=" + std::string(std::getenv("PATH") != nullptr ? std::getenv("PATH") : ""));
    daemon_ = TProcess(As({"dbus-daemon", "--session", "--nofork", "--nopidfile",
                           "--address=unix:path=" + socket.string()}),
                       env, (dir_ / "daemon.txt").string());
    if (!WaitUntil([&] { return fs::exists(socket); }, 20000)) {
        return;
    }
    address_ = "unix:path=" + socket.string();
    std::vector<std::string> argv{QRV_DESKTOP_PEER};
    argv.insert(argv.end(), peerArgs.begin(), peerArgs.end());
    env.push_back(Environment());
    peer_ = TProcess(As(argv), env, (dir_ / "peer.txt").string());
    peerReady_ = WaitUntil(
        [&] {
            return RunCommand(
                       As({"dbus-send", "--session", "--print-reply", "--dest=qrv.test.DesktopPeer",
                           "/Peer", "qrv.test.DesktopPeer.Items"}),
                       {Environment()}, 5000)
                       .Status == 0;
        },
        20000);
}

std::vector<std::string> TBusSession::As(const std::vector<std::string>& argv) const {
    return user_ != nullptr ? user_->As(argv) : argv;
}

TBusSession::~TBusSession() {
    peer_.Kill();
    daemon_.Kill();
    std::error_code ignored;
    if (!dir_.empty()) {
        fs::remove_all(dir_, ignored);
    }
}

std::string TBusSession::Peer(const std::string& method) {
    const TRunResult result =
        RunCommand(As({"dbus-send", "--session", "--print-reply=literal",
                       "--dest=qrv.test.DesktopPeer", "/Peer", "qrv.test.DesktopPeer." + method}),
                   {Environment()}, 10000);
    if (result.Status != 0) {
        return "dbus-send failed: " + result.Output;
    }
    // "   text\n": the literal reply, indented.
    std::string text = result.Output;
    text.erase(0, std::min(text.find_first_not_of(' '), text.size()));
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

TInstall::TInstall(TXSession& session) : session_(session) {
    std::string pattern = (fs::temp_directory_path() / "qrv-e2e-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    dir_ = pattern;
    fs::create_directories(dir_ / "config");
    fs::create_directories(dir_ / "runtime");
    ::chmod((dir_ / "runtime").c_str(), 0700);
    fs::copy_file(QRV_PROGRAM_PATH, Program());
}

TInstall::~TInstall() {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
}

void WriteConfig(const fs::path& configDir, const fs::path& program,
                 const std::vector<std::pair<std::string, std::string>>& texts,
                 const std::vector<std::pair<std::string, unsigned>>& dwords) {
    // Written as the key file of that folder, by the program's own code, which writes only a
    // user's copy: with both places on that folder, the copy is that file.
    ::setenv("XDG_CONFIG_DIRS", configDir.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", configDir.c_str(), 1);
    shell::SetExecutablePathForTesting(program.string());
    shell::WriteDefaultConfig();
    shell::SetExecutablePathForTesting("");
    auto key = platform::TRegistryKey::Create(shell::kConfigKey, true);
    ASSERT_TRUE(key);
    // No update query to the vendor from a test.
    ASSERT_TRUE(key->SetDword("CheckUpdate", 0));
    for (const auto& [name, value] : texts) {
        ASSERT_TRUE(key->SetString(name, value));
    }
    for (const auto& [name, value] : dwords) {
        ASSERT_TRUE(key->SetDword(name, value));
    }
    // Readable by everyone, as an administrator's key is, for a program run by another user.
    ::chmod(key->FilePath().c_str(), 0644);
    ::chmod(fs::path(key->FilePath()).parent_path().c_str(), 0755);
}

TProcess TInstall::Start(const std::vector<std::string>& extraEnv) {
    std::vector<std::string> env = session_.Environment();
    // The program's own copy of the key is the file WriteConfig writes (ConfigFile()).
    env.push_back("XDG_CONFIG_DIRS=" + (dir_ / "config").string());
    env.push_back("XDG_CONFIG_HOME=" + (dir_ / "config").string());
    env.push_back("XDG_DATA_HOME=" + (dir_ / "home-data").string());
    env.push_back("XDG_RUNTIME_DIR=" + (dir_ / "runtime").string());
    bool lang = false;
    for (const std::string& extra : extraEnv) {
        lang = lang || extra.rfind("LANG=", 0) == 0;
        // An extra entry replaces one of the same name.
        const std::string name = extra.substr(0, extra.find('=') + 1);
        std::erase_if(env, [&name](const std::string& e) { return e.rfind(name, 0) == 0; });
        env.push_back(extra);
    }
    if (!lang) {
        env.push_back("LANG=C.UTF-8");
    }
    return TProcess({Program().string()}, env, (dir_ / "output.txt").string());
}

unsigned long TInstall::WaitForMainWindow(int ms) {
    return e2e::WaitForMainWindow(session_, ms);
}

unsigned long WaitForMainWindow(TXSession& session, int ms, std::vector<unsigned long>* boxes) {
    unsigned long found = 0;
    WaitUntil(
        [&] {
            for (unsigned long box :
                 session.Search({"--onlyvisible", "--name", "^Application notification$"})) {
                if (boxes != nullptr &&
                    std::find(boxes->begin(), boxes->end(), box) == boxes->end()) {
                    boxes->push_back(box);
                }
                session.Xdotool({"windowfocus", std::to_string(box)});
                session.Xdotool({"key", "Return"});
            }
            const auto main = session.Search({"--onlyvisible", "--name", MainWindowPattern()});
            if (!main.empty()) {
                found = main.front();
            }
            return found != 0;
        },
        ms);
    return found;
}

bool TInstall::MainWindowVisible() {
    return !session_.Search({"--onlyvisible", "--name", MainWindowPattern()}).empty();
}

std::unique_ptr<TXSession> E2eTest::session_;

void E2eTest::SetUpTestSuite() {
    session_ = std::make_unique<TXSession>();
}

void E2eTest::TearDownTestSuite() {
    session_.reset();
}

std::optional<int> E2eTest::Terminate(TProcess& program) {
    program.Signal(SIGTERM);
    return program.WaitExit(20000);
}

void E2eTest::SetUp() {
    ASSERT_TRUE(session_ && session_->Ok()) << session_->Problem();
    install_ = std::make_unique<TInstall>(*session_);
}

void E2eTest::TearDown() {
    install_.reset();
}

void WriteServerList(const fs::path& path, const std::vector<TListServer>& servers) {
    engine::TServerList list;
    list.SetFileName(path.string());
    list.CreateEmpty();
    list.SwitchOffJournal();
    for (const TListServer& server : servers) {
        list.Append();
        list.SetString(engine::TField::Name, server.Name);
        list.SetString(engine::TField::Url, server.Url);
        list.SetBoolean(engine::TField::Active, server.Active);
        list.SetInteger(engine::TField::Timeout, 5000);
        list.SetBoolean(engine::TField::TimeoutEnabled, true);
        if (!server.Response.empty()) {
            list.SetString(engine::TField::Response, server.Response);
            list.SetBoolean(engine::TField::ResponseEnabled, true);
        }
        list.Post();
    }
    list.SaveToFile(path.string());
}

std::vector<std::string> Plain() {
    return {"PATH=/usr/sbin:/usr/bin:/sbin:/bin"};
}

TUser OrdinaryUser(const std::string& name) {
    if (::getpwnam(name.c_str()) == nullptr) {
        RunCommand({"useradd", "--create-home", "--shell", "/bin/sh", name}, Plain());
    }
    const passwd* entry = ::getpwnam(name.c_str());
    if (entry == nullptr) {
        return {};
    }
    TUser user{name, entry->pw_uid, entry->pw_gid, entry->pw_dir, {}};
    for (const fs::path& gone :
         {user.Home / ".config/Ostrelle", user.Home / ".local/share/Ostrelle",
          user.Home / ".config/autostart"}) {
        fs::remove_all(gone);
    }
    user.Runtime = fs::temp_directory_path() / ("qrv-e2e-runtime-" + std::to_string(user.Uid));
    fs::remove_all(user.Runtime);
    fs::create_directories(user.Runtime);
    ::chown(user.Runtime.c_str(), user.Uid, user.Gid);
    ::chmod(user.Runtime.c_str(), 0700);
    return user;
}

std::vector<std::string> TUser::As(const std::vector<std::string>& argv) const {
    std::vector<std::string> all{"/usr/bin/setpriv", "--reuid=" + std::to_string(Uid),
                                 "--regid=" + std::to_string(Gid), "--init-groups"};
    all.insert(all.end(), argv.begin(), argv.end());
    return all;
}

unsigned FileMode(const fs::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 0;
}

} // namespace qrv::e2e
