// The program in a Wayland session with no X server at all: a headless sway, run by an ordinary
// user made for the test, as are the program and the keys pressed (wtype). Needs root to make
// the user; skipped otherwise.

#include "E2eSupport.h"
#include "TestHttpServer.h"

#include <algorithm>
#include <csignal>
#include <fstream>
#include <regex>
#include <unistd.h>

namespace qrv::e2e {
namespace {

class WaylandTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "making an ordinary user needs root";
        }
        user_ = OrdinaryUser("qrv-wayland");
        ASSERT_NE(user_.Uid, 0u);
        // A copy that is not installed, in a folder of the user's: its list and log go beside it.
        dir_ = fs::temp_directory_path() / ("qrv-wayland-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        fs::copy_file(QRV_PROGRAM_PATH, dir_ / "quorvane", fs::copy_options::overwrite_existing);
        WriteFile(dir_ / "sway.conf", "output HEADLESS-1 resolution 1024x768\n");
        for (const fs::path& path : {dir_, dir_ / "quorvane", dir_ / "sway.conf"}) {
            ASSERT_EQ(::chown(path.c_str(), user_.Uid, user_.Gid), 0);
        }
        std::vector<std::string> env = SanitizerOptions();
        env.insert(env.end(), {"HOME=" + user_.Home.string(), Plain().front(),
                               "XDG_RUNTIME_DIR=" + user_.Runtime.string(), "WLR_BACKENDS=headless",
                               "WLR_LIBINPUT_NO_DEVICES=1", "WLR_RENDERER=pixman"});
        sway_ = TProcess(user_.As({"sway", "-c", (dir_ / "sway.conf").string()}), env,
                         (dir_ / "sway.txt").string());
        ASSERT_TRUE(WaitUntil(
            [&] {
                for (const auto& item : fs::directory_iterator(user_.Runtime)) {
                    const std::string name = item.path().filename().string();
                    if (name.rfind("wayland-", 0) == 0 && item.path().extension() != ".lock") {
                        display_ = name;
                    } else if (name.rfind("sway-ipc.", 0) == 0) {
                        ipc_ = item.path();
                    }
                }
                return !display_.empty() && !ipc_.empty();
            },
            30000))
            << ReadFile(dir_ / "sway.txt");
    }

    void TearDown() override {
        sway_.Kill();
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    static void WriteFile(const fs::path& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }

    // The program with only what a Wayland session gives it (and its bus, where there is one).
    TProcess Start(const TBusSession* bus = nullptr) {
        std::vector<std::string> env = SanitizerOptions();
        env.insert(env.end(), {"HOME=" + user_.Home.string(), "WAYLAND_DISPLAY=" + display_,
                               "XDG_RUNTIME_DIR=" + user_.Runtime.string()});
        if (bus != nullptr) {
            env.push_back(bus->Environment());
        }
        return TProcess(user_.As({(dir_ / "quorvane").string()}), env,
                        (dir_ / "output.txt").string());
    }

    std::vector<std::string> ToolEnv() const {
        return {"HOME=" + user_.Home.string(), Plain().front(),
                "XDG_RUNTIME_DIR=" + user_.Runtime.string(), "WAYLAND_DISPLAY=" + display_,
                "SWAYSOCK=" + ipc_.string()};
    }

    // The titles of the windows sway shows, with their application ids.
    std::vector<std::string> Windows() {
        const TRunResult tree =
            RunCommand(user_.As({"swaymsg", "-t", "get_tree"}), ToolEnv(), 10000);
        std::vector<std::string> windows;
        // Each window node has its title ("name") before its "app_id"; containers have no id.
        static const std::regex kName(R"re("name": "([^"]*)")re");
        static const std::regex kAppId(R"re("app_id": "([^"]*)")re");
        const std::string& json = tree.Output;
        for (std::sregex_iterator id(json.begin(), json.end(), kAppId), end; id != end; ++id) {
            std::string title;
            const auto before = json.begin() + id->position();
            for (std::sregex_iterator name(json.begin(), before, kName); name != end; ++name) {
                title = (*name)[1].str();
            }
            windows.push_back(title + " [" + (*id)[1].str() + "]");
        }
        return windows;
    }

    bool Shows(const std::string& window) {
        const std::vector<std::string> now = Windows();
        return std::find(now.begin(), now.end(), window) != now.end();
    }

    // Return to the focused window. The virtual keyboard lives only while wtype runs, so it
    // waits until the program has taken the new keyboard before pressing.
    void PressReturn() {
        RunCommand(user_.As({"wtype", "-s", "500", "-k", "Return", "-s", "300"}), ToolEnv(), 10000);
    }

    TUser user_;
    fs::path dir_;
    std::string display_;
    fs::path ipc_;
    TProcess sway_;
};

const std::string kMainWindow = "Quorvane " QRV_VERSION " [example.ostrelle.Quorvane]";
const std::string kNotice = "Application notification [example.ostrelle.Quorvane]";

TEST_F(WaylandTest, FirstStartBoxesWindowCheckRunAndEndSignal) {
    // First start: the two notices, answered by keys, then the window, matched to the desktop
    // entry by its application id.
    TProcess first = Start();
    int notices = 0;
    ASSERT_TRUE(WaitUntil(
        [&] {
            if (Shows(kNotice)) {
                ++notices;
                PressReturn();
            }
            return Shows(kMainWindow);
        },
        60000))
        << ReadFile(dir_ / "output.txt") << ReadFile(dir_ / "sway.txt");
    EXPECT_EQ(notices, 2);
    first.Signal(SIGTERM);
    EXPECT_EQ(first.WaitExit(20000), 0) << ReadFile(dir_ / "output.txt");
    EXPECT_NE(ReadFile(dir_ / "QRV.xml").find("<ROW RowState=\"4\" Name=\"Ostrelle\""),
              std::string::npos);

    // Then a check run every second against a loopback server, and SIGTERM saves its outcome.
    test::TTestHttpServer server;
    server.Route("/ok", test::Reply(200, "fine"));
    std::string settings = ReadFile(user_.Settings());
    const std::string interval = "\"CheckInterval\"=\"300\"";
    ASSERT_NE(settings.find(interval), std::string::npos) << settings;
    settings.replace(settings.find(interval), interval.size(), "\"CheckInterval\"=\"1\"");
    WriteFile(user_.Settings(), settings);
    WriteServerList(dir_ / "QRV.xml", {{"local", server.Url("/ok")}});
    ASSERT_EQ(::chown((dir_ / "QRV.xml").c_str(), user_.Uid, user_.Gid), 0);
    TProcess second = Start();
    ASSERT_TRUE(WaitUntil(
        [&] {
            return ReadFile(dir_ / "QRV.log").find("Completed with no errors.") !=
                   std::string::npos;
        },
        60000))
        << ReadFile(dir_ / "output.txt");
    EXPECT_TRUE(Shows(kMainWindow));
    second.Signal(SIGTERM);
    EXPECT_EQ(second.WaitExit(20000), 0) << ReadFile(dir_ / "output.txt");
    EXPECT_NE(ReadFile(dir_ / "QRV.xml").find("Name=\"local\" Status=\"OK\" Result=\"OK\""),
              std::string::npos)
        << ReadFile(dir_ / "QRV.xml");
}

// The session bus of a Wayland desktop: its tray, its notifications, and the hot key through
// the global-shortcuts portal, since no program may grab keys there.
TEST_F(WaylandTest, TrayMenuAndHotKeyThroughTheDesktopsBus) {
    TBusSession bus({"--watcher", "--notifications", "--portal"}, &user_);
    ASSERT_TRUE(bus.Ok());
    WriteConfig(user_.Home / ".config", dir_ / "quorvane", {}, {{"HotkeyEnabled", 1}});
    WriteServerList(dir_ / "QRV.xml", {{"a", "http://127.0.0.1:1/", false}});
    for (const fs::path& path : {user_.Home / ".config", user_.Home / ".config/Ostrelle",
                                 user_.Settings(), dir_ / "QRV.xml"}) {
        ASSERT_EQ(::chown(path.c_str(), user_.Uid, user_.Gid), 0) << path;
    }
    TProcess program = Start(&bus);
    ASSERT_TRUE(WaitUntil([&] { return Shows(kMainWindow); }, 30000))
        << ReadFile(dir_ / "output.txt");

    ASSERT_TRUE(
        WaitUntil([&] { return bus.Peer("Shortcuts").find("bind|") != std::string::npos; }, 10000))
        << bus.Peer("Shortcuts") << ReadFile(dir_ / "output.txt");
    EXPECT_EQ(bus.Peer("Shortcuts"), "bind|id=hotkey-49152|trigger=CTRL+ALT+w");
    EXPECT_EQ(bus.Peer("PressShortcut"), "ok");
    EXPECT_TRUE(WaitUntil([&] { return !Shows(kMainWindow); }, 10000));
    EXPECT_EQ(bus.Peer("PressShortcut"), "ok");
    EXPECT_TRUE(WaitUntil([&] { return Shows(kMainWindow); }, 10000));

    // The tray: a click toggles the window; a context request, which the host does not answer
    // with a menu of its own, opens ours as a small window.
    ASSERT_TRUE(WaitUntil([&] { return !bus.Peer("Items").empty(); }, 10000));
    EXPECT_EQ(bus.Peer("Activate"), "ok");
    EXPECT_TRUE(WaitUntil([&] { return !Shows(kMainWindow); }, 10000));
    EXPECT_EQ(bus.Peer("ContextMenu"), "ok");
    EXPECT_TRUE(WaitUntil([&] { return Shows("Quorvane [example.ostrelle.Quorvane]"); }, 10000))
        << testing::PrintToString(Windows());
    program.Signal(SIGTERM);
    EXPECT_EQ(program.WaitExit(20000), 0) << ReadFile(dir_ / "output.txt");
}

} // namespace
} // namespace qrv::e2e
