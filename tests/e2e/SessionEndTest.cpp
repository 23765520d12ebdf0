// The end of a desktop session, with the real program: the display going away under it, and an
// X11 session manager's log-out (xsm from x11-session-utils). Either way the list reaches its
// file and the process ends with status 0.

#include "E2eSupport.h"

#include "engine/ServerList.h"

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <unistd.h>
#include <utility>

namespace qrv::e2e {
namespace {

using SessionEndTest = E2eTest;

// An X server of the test's own, which the test may take away.
struct TOwnDisplay {
    TProcess Server;
    std::string Name; // ":N"; empty when it did not start
};

TOwnDisplay StartDisplay() {
    TOwnDisplay display;
    display.Name = StartXvfb(display.Server);
    return display;
}

// The main window's id on `display`, once it is shown (0 when it is not within `ms`).
unsigned long WaitForWindowOn(const std::string& display, int ms) {
    unsigned long found = 0;
    WaitUntil(
        [&] {
            const TRunResult r =
                RunCommand({"xdotool", "search", "--onlyvisible", "--name", "^Quorvane 0\\.9"},
                           {"DISPLAY=" + display, "PATH=/usr/bin:/bin"}, 5000);
            found = r.Status == 0 ? std::strtoul(r.Output.c_str(), nullptr, 10) : 0;
            return found != 0;
        },
        ms);
    return found;
}

std::vector<std::string> Names(const fs::path& list) {
    engine::TServerList saved;
    saved.OpenFromBytes(ReadFile(list));
    std::vector<std::string> names;
    for (int i = 0; i < saved.RecordCount(); ++i) {
        names.push_back(saved.AsStringAt(i, engine::TField::Name));
    }
    return names;
}

TEST_F(SessionEndTest, ADisplayThatGoesAwayLeavesTheListSavedAndStatusZero) {
    TOwnDisplay display = StartDisplay();
    ASSERT_FALSE(display.Name.empty()) << "Xvfb did not start";
    App().WriteConfig({});
    WriteServerList(App().ListFile(),
                    {{"alpha", "http://127.0.0.1:1/"}, {"beta", "http://127.0.0.1:1/"}});
    TProcess program = App().Start({"DISPLAY=" + display.Name});
    ASSERT_NE(WaitForWindowOn(display.Name, 30000), 0u) << ReadFile(App().Dir() / "output.txt");
    // Only the program's save at its end can bring the file back.
    fs::remove(App().ListFile());

    display.Server.Kill();
    const std::optional<int> status = program.WaitExit(15000);
    const std::string output = ReadFile(App().Dir() / "output.txt");
    ASSERT_TRUE(status) << "the program did not end: " << output;
    EXPECT_EQ(*status, 0) << output;
    ASSERT_TRUE(fs::exists(App().ListFile())) << output;
    EXPECT_EQ(Names(App().ListFile()), (std::vector<std::string>{"alpha", "beta"}));
}

// xdotool on `display`.
TRunResult XdotoolOn(const std::string& display, const std::vector<std::string>& args) {
    std::vector<std::string> argv{"xdotool"};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunCommand(argv, {"DISPLAY=" + display, "PATH=/usr/bin:/bin"}, 10000);
}

// The position of the first visible window named exactly `name` on `display`.
std::optional<std::pair<int, int>> WindowPosition(const std::string& display,
                                                  const std::string& name) {
    std::optional<std::pair<int, int>> at;
    WaitUntil(
        [&] {
            const TRunResult found =
                XdotoolOn(display, {"search", "--onlyvisible", "--name", name});
            if (found.Status != 0 || found.Output.empty()) {
                return false;
            }
            const std::string id = found.Output.substr(0, found.Output.find('\n'));
            const TRunResult shape = XdotoolOn(display, {"getwindowgeometry", "--shell", id});
            int x = -1;
            int y = -1;
            std::istringstream lines(shape.Output);
            for (std::string line; std::getline(lines, line);) {
                if (line.rfind("X=", 0) == 0) {
                    x = std::atoi(line.c_str() + 2);
                } else if (line.rfind("Y=", 0) == 0) {
                    y = std::atoi(line.c_str() + 2);
                }
            }
            if (x < 0 || y < 0) {
                return false;
            }
            at = std::make_pair(x, y);
            return true;
        },
        10000);
    return at;
}

TEST_F(SessionEndTest, ALogOutUnderAnX11SessionManagerLeavesTheListSavedAndStatusZero) {
    ASSERT_TRUE(fs::exists("/usr/bin/xsm")) << "xsm is missing (Debian: x11-session-utils)";
    TOwnDisplay display = StartDisplay();
    ASSERT_FALSE(display.Name.empty()) << "Xvfb did not start";
    App().WriteConfig({});
    WriteServerList(App().ListFile(), {{"alpha", "http://127.0.0.1:1/"}});
    // xsm starts the program from ~/.xsmstartup, as a desktop's session starts its clients; the
    // session manager and its clients share the runtime folder (where ICE keeps its keys).
    const fs::path home = App().Dir() / "xsm-home";
    const fs::path runtime = App().Dir() / "runtime";
    fs::create_directories(home);
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
    const fs::path status = App().Dir() / "status.txt";
    const fs::path script = App().Dir() / "start.sh";
    std::ofstream(script) << "#!/bin/sh\n"
                          << "export XDG_CONFIG_DIRS='" << (App().Dir() / "config").string()
                          << "' XDG_CONFIG_HOME='" << (App().Dir() / "home-config").string()
                          << "' XDG_DATA_HOME='" << (App().Dir() / "home-data").string()
                          << "' LANG=C.UTF-8\n'" << App().Program().string() << "' > '"
                          << (App().Dir() / "output.txt").string() << "' 2>&1\n"
                          << "echo $? > '" << status.string() << "'\n";
    fs::permissions(script, fs::perms::owner_all);
    std::ofstream(home / ".xsmstartup") << script.string() << "\n";
    std::vector<std::string> xsmEnv = {"HOME=" + home.string(), "DISPLAY=" + display.Name,
                                       "PATH=/usr/bin:/bin", "XDG_RUNTIME_DIR=" + runtime.string()};
    // The sanitizer builds' options reach the program through xsm, as the rest of its session.
    const std::vector<std::string> sanitizer = SanitizerOptions();
    xsmEnv.insert(xsmEnv.end(), sanitizer.begin(), sanitizer.end());
    TProcess xsm({"xsm"}, xsmEnv, (App().Dir() / "xsm.txt").string());
    ASSERT_NE(WaitForWindowOn(display.Name, 30000), 0u) << ReadFile(App().Dir() / "output.txt");
    fs::remove(App().ListFile()); // only the program's save at its end can bring it back

    // Shutdown > With Checkpoint, a session name, then Shutdown: the save-yourself and die
    // requests that a desktop's log-out sends.
    const auto xsmWindow = WindowPosition(display.Name, "^xsm: ");
    ASSERT_TRUE(xsmWindow);
    const TRunResult menu = XdotoolOn(display.Name, {"search",
                                                     "--onlyvisible",
                                                     "--name",
                                                     "^xsm: ",
                                                     "windowraise",
                                                     "%1",
                                                     "mousemove",
                                                     std::to_string(xsmWindow->first + 140),
                                                     std::to_string(xsmWindow->second + 48),
                                                     "mousedown",
                                                     "1",
                                                     "sleep",
                                                     "0.5",
                                                     "mousemove",
                                                     std::to_string(xsmWindow->first + 165),
                                                     std::to_string(xsmWindow->second + 77),
                                                     "sleep",
                                                     "0.2",
                                                     "mouseup",
                                                     "1"});
    ASSERT_EQ(menu.Status, 0) << menu.Output;
    const auto popup = WindowPosition(display.Name, "^Shutdown$");
    ASSERT_TRUE(popup) << "xsm showed no Shutdown dialog";
    XdotoolOn(display.Name,
              {"mousemove", std::to_string(popup->first + 174), std::to_string(popup->second + 19),
               "click", "1", "sleep", "0.3", "type", "qrv"});
    XdotoolOn(display.Name, {"mousemove", std::to_string(popup->first + 49),
                             std::to_string(popup->second + 137), "click", "1"});

    ASSERT_TRUE(WaitUntil([&] { return !ReadFile(status).empty(); }, 20000))
        << "the program did not end: " << ReadFile(App().Dir() / "output.txt")
        << ReadFile(App().Dir() / "xsm.txt");
    EXPECT_EQ(ReadFile(status), "0\n") << ReadFile(App().Dir() / "output.txt");
    ASSERT_TRUE(fs::exists(App().ListFile())) << ReadFile(App().Dir() / "output.txt");
    EXPECT_EQ(Names(App().ListFile()), std::vector<std::string>{"alpha"});
    EXPECT_TRUE(xsm.WaitExit(10000)) << "xsm saw the session end";
}

TEST_F(SessionEndTest, AListThatCannotBeSavedAtQuitIsCopiedAndTheCopyNamed) {
    // An ordinary user (root would write the folder whatever its mode says), on the offscreen
    // platform, where every box goes to stderr.
    const TUser user = OrdinaryUser("qrv-session-end");
    ASSERT_NE(user.Uid, 0u);
    std::string pattern = (fs::temp_directory_path() / "qrv-e2e-ro-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const fs::path dir = pattern;
    const fs::path program = dir / "quorvane";
    fs::copy_file(QRV_PROGRAM_PATH, program);
    WriteConfig(dir / "config", program, {});
    WriteServerList(dir / "QRV.xml", {{"alpha", "http://127.0.0.1:1/"}});
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        ::chown(entry.path().c_str(), user.Uid, user.Gid);
    }
    ::chown(dir.c_str(), user.Uid, user.Gid);
    ::chmod(dir.c_str(), 0755);
    const fs::path states = user.Home / ".local/state/Ostrelle";
    fs::remove_all(states);

    const fs::path output = dir.parent_path() / (dir.filename().string() + ".txt");
    std::vector<std::string> env = {"HOME=" + user.Home.string(),
                                    "PATH=/usr/bin:/bin",
                                    "LANG=C.UTF-8",
                                    "QT_QPA_PLATFORM=offscreen",
                                    "XDG_RUNTIME_DIR=" + user.Runtime.string(),
                                    "XDG_CONFIG_DIRS=" + (dir / "config").string(),
                                    "XDG_CONFIG_HOME=" + (dir / "home-config").string()};
    const std::vector<std::string> sanitizer = SanitizerOptions();
    env.insert(env.end(), sanitizer.begin(), sanitizer.end());
    TProcess running(user.As({program.string()}), env, output.string());
    ASSERT_TRUE(
        WaitUntil([&] { return fs::exists(user.Runtime / "Ostrelle.Quorvane.0.9.sock"); }, 30000))
        << ReadFile(output);
    // The data folder becomes read-only (a lost mount), with a change that must be saved.
    fs::remove(dir / "QRV.xml");
    ::chmod(dir.c_str(), 0555);
    running.Signal(SIGTERM);
    const std::optional<int> status = running.WaitExit(15000);
    ::chmod(dir.c_str(), 0755);
    const std::string err = ReadFile(output);
    ASSERT_TRUE(status) << err;
    EXPECT_EQ(*status, 0) << err;

    const std::string failure = "The server list could not be saved: setServer: Unable to write "
                                "file '" +
                                (dir / "QRV.xml").string() + "': Permission denied";
    EXPECT_NE(err.find("Application error: " + failure), std::string::npos) << err;
    const fs::path copies = states / "Quorvane";
    std::vector<fs::path> found;
    if (fs::exists(copies)) {
        for (const auto& entry : fs::directory_iterator(copies)) {
            found.push_back(entry.path());
        }
    }
    ASSERT_EQ(found.size(), 1u) << err;
    EXPECT_NE(err.find("The server list was saved to '" + found[0].string() + "' instead."),
              std::string::npos)
        << err;
    EXPECT_EQ(Names(found[0]), std::vector<std::string>{"alpha"});
    fs::remove_all(dir);
    fs::remove(output);
}

} // namespace
} // namespace qrv::e2e
