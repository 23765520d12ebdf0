#pragma once

// The end-to-end tests drive the real program: a copy of the built executable in a folder of
// its own, its own machine-wide configuration folder, on a private Xvfb display with a tray
// host, driven by xdotool. Every wait is bounded and every process started is killed.

#include <gtest/gtest.h>

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qrv::e2e {

namespace fs = std::filesystem;

// A started process; killed (and reaped) when the object goes, unless it has ended.
class TProcess {
public:
    TProcess() = default;
    TProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
             const std::string& outputFile = {});
    ~TProcess();
    TProcess(TProcess&& other) noexcept;
    TProcess& operator=(TProcess&& other) noexcept;
    TProcess(const TProcess&) = delete;
    TProcess& operator=(const TProcess&) = delete;

    pid_t Pid() const { return pid_; }
    bool Running();
    // The exit status once ended within `ms` (a signal gives 128 + its number); none otherwise.
    std::optional<int> WaitExit(int ms);
    void Signal(int number);
    void Kill();

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

struct TRunResult {
    int Status = -1; // -1 when the command was cut off
    std::string Output;
};

// The sanitizers' options of the test's own environment ("NAME=value"), for the programs it
// starts: a sanitized build's program must run with the preset's options too.
std::vector<std::string> SanitizerOptions();

// Starts Xvfb (1024x768x24, no TCP, plus `extra` arguments) on a display number it picks itself
// and returns ":N"; empty when it gave no number within 20 s.
std::string StartXvfb(TProcess& server, const std::vector<std::string>& extra = {});

// Runs a command to its end (at most `ms`), with its standard output captured.
TRunResult RunCommand(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                      int ms = 10000);

// Polls `done` every 20 ms until it holds or `ms` pass.
bool WaitUntil(const std::function<bool()>& done, int ms);

std::string ReadFile(const fs::path& path);

// An X display of our own, with an XEmbed tray host on it unless told otherwise, for the life of
// the object.
class TXSession {
public:
    explicit TXSession(bool trayHost = true);
    ~TXSession();
    bool Ok() const { return display_ >= 0 && trayReady_; }
    const std::string& Problem() const { return problem_; }
    std::string Display() const { return ":" + std::to_string(display_); }

    // xdotool with the session's display; the window ids it prints.
    std::vector<unsigned long> Search(const std::vector<std::string>& args);
    TRunResult Xdotool(const std::vector<std::string>& args);
    // The first visible window whose name matches `pattern`, within `ms`; 0 when none.
    unsigned long WaitForWindow(const std::string& pattern, int ms = 30000);
    bool WindowVisible(const std::string& pattern);
    // Gives a window the keyboard focus, then presses keys or types text there. There is no
    // window manager, so the focus is set directly and waited for.
    bool Keys(unsigned long window, const std::vector<std::string>& keys);
    bool Type(unsigned long window, const std::string& text);
    // A left click at a point of a window (window coordinates; there are no frames).
    bool Click(unsigned long window, int x, int y);
    // Asks a window to close as a window manager would (WM_DELETE_WINDOW).
    bool RequestClose(unsigned long window);
    // A PNG of one window.
    bool Screenshot(unsigned long window, const fs::path& png);
    std::vector<std::string> Environment() const;

private:
    void Launch();

    int display_ = -1;
    bool trayHost_ = true;
    bool trayReady_ = false;
    std::string problem_;
    TProcess xvfb_;
    TProcess trayer_;
};

struct TUser;

// A session bus of our own (dbus-daemon) with the desktop's side of it (qrv_desktop_peer: a
// status-notifier watcher and host, a notification server, as asked), for the life of the
// object.
class TBusSession {
public:
    // `peerArgs`: "--watcher", "--watcher-after-ms N", "--notifications", "--portal". With a
    // `user`, the bus and the peer are that user's (a session bus admits its own user only).
    explicit TBusSession(const std::vector<std::string>& peerArgs, const TUser* user = nullptr);
    ~TBusSession();
    bool Ok() const { return !address_.empty() && peerReady_; }
    // "DBUS_SESSION_BUS_ADDRESS=…", for the program's environment.
    std::string Environment() const { return "DBUS_SESSION_BUS_ADDRESS=" + address_; }
    // Calls a method of the peer (Items, Inspect, Activate, ContextMenu, Notices); its answer.
    std::string Peer(const std::string& method);

private:
    std::vector<std::string> As(const std::vector<std::string>& argv) const;

    const TUser* user_;
    fs::path dir_;
    std::string address_;
    bool peerReady_ = false;
    TProcess daemon_;
    TProcess peer_;
};

// The settings key in the configuration folder `configDir` (`<configDir>/Ostrelle/Quorvane.reg`):
// the defaults a first start of `program` writes, then the given values (texts or DWORDs).
void WriteConfig(const fs::path& configDir, const fs::path& program,
                 const std::vector<std::pair<std::string, std::string>>& texts,
                 const std::vector<std::pair<std::string, unsigned>>& dwords = {});

// One installation of the program: a folder holding a copy of the executable, its list and its
// log, plus a machine-wide configuration folder.
class TInstall {
public:
    explicit TInstall(TXSession& session);
    ~TInstall();

    fs::path Dir() const { return dir_; }
    fs::path Program() const { return dir_ / "quorvane"; }
    fs::path ConfigFile() const { return dir_ / "config" / "Ostrelle" / "Quorvane.reg"; }
    fs::path ListFile() const { return dir_ / "QRV.xml"; }
    fs::path LogFile() const { return dir_ / "QRV.log"; }

    // The defaults a first start writes, then the given values (texts or DWORDs).
    void WriteConfig(const std::vector<std::pair<std::string, std::string>>& texts,
                     const std::vector<std::pair<std::string, unsigned>>& dwords = {}) {
        e2e::WriteConfig(dir_ / "config", Program(), texts, dwords);
    }

    // Starts the program; extra environment entries ("NAME=value") are added or replace.
    TProcess Start(const std::vector<std::string>& extraEnv = {});

    // Answers every start-up box with Return until the main window is shown; its id or 0.
    unsigned long WaitForMainWindow(int ms = 30000);
    bool MainWindowVisible();

private:
    TXSession& session_;
    fs::path dir_;
};

// A server for the list file written by the test (through the real list code).
struct TListServer {
    TListServer(std::string name, std::string url, bool active = true, std::string response = {})
        : Name(std::move(name)), Url(std::move(url)), Active(active),
          Response(std::move(response)) {}
    std::string Name;
    std::string Url;
    bool Active;
    std::string Response; // empty: no response test
};
// Each test gets an installation of its own on the suite's display.
class E2eTest : public ::testing::Test {
public:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    // Ends the program with SIGTERM and returns its exit status (none when it did not end).
    static std::optional<int> Terminate(TProcess& program);

protected:
    void SetUp() override;
    void TearDown() override;

    TXSession& X() { return *session_; }
    TInstall& App() { return *install_; }

    static std::unique_ptr<TXSession> session_;
    std::unique_ptr<TInstall> install_;
};

void WriteServerList(const fs::path& path, const std::vector<TListServer>& servers);

// An ordinary user made for the tests (needs root to make), with a private runtime folder.
struct TUser {
    std::string Name;
    uid_t Uid = 0;
    gid_t Gid = 0;
    fs::path Home;
    fs::path Runtime;

    fs::path Settings() const { return Home / ".config/Ostrelle/Quorvane.reg"; }
    fs::path Data() const { return Home / ".local/share/Ostrelle/Quorvane"; }
    fs::path Autostart() const { return Home / ".config/autostart/Quorvane.desktop"; }
    // `argv` run as this user (through setpriv).
    std::vector<std::string> As(const std::vector<std::string>& argv) const;
};

// PATH and nothing else.
std::vector<std::string> Plain();
// The user `name`, made when missing, with the program's files removed from its home and an
// empty runtime folder.
TUser OrdinaryUser(const std::string& name);
unsigned FileMode(const fs::path& path);

// Answers every start-up box with Return until the main window is shown; its id or 0. The ids
// of the boxes answered are added to `boxes`.
unsigned long WaitForMainWindow(TXSession& session, int ms,
                                std::vector<unsigned long>* boxes = nullptr);

} // namespace qrv::e2e
