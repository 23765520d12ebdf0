// The program in Debian's own Xfce panel: its status tray is the status-notifier watcher and
// host, draws an item's menu from the item's dbusmenu and never asks the item for one. Run
// under its window manager on a display and session bus of the test's own, with Debian's
// default panel reduced to a task list, the status tray and a clock.

#include "E2eSupport.h"

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace qrv::e2e {
namespace {

bool Installed(const char* program) {
    return RunCommand({"sh", "-c", std::string("command -v ") + program}, Plain()).Status == 0;
}

const char* const kPanelConfig = R"(<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="icon-size" type="uint" value="16"/>
      <property name="size" type="uint" value="26"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="2"/>
        <value type="int" value="3"/>
        <value type="int" value="6"/>
        <value type="int" value="12"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-2" type="string" value="tasklist">
      <property name="grouping" type="uint" value="1"/>
    </property>
    <property name="plugin-3" type="string" value="separator">
      <property name="expand" type="bool" value="true"/>
      <property name="style" type="uint" value="0"/>
    </property>
    <property name="plugin-6" type="string" value="systray">
      <property name="square-icons" type="bool" value="true"/>
    </property>
    <property name="plugin-12" type="string" value="clock"/>
  </property>
</channel>
)";

struct TBox {
    unsigned long Window = 0;
    int X = 0, Y = 0, Width = 0, Height = 0;
};

// An Xfce desktop of the test's own: session bus (which starts the panel's settings store),
// window manager and panel, for the life of the object.
class TXfceDesktop {
public:
    explicit TXfceDesktop(TXSession& x) : x_(x) {
        char name[] = "/tmp/qrv-xfce-XXXXXX";
        dir_ = ::mkdtemp(name);
        fs::create_directories(dir_ / "runtime");
        fs::permissions(dir_ / "runtime", fs::perms::owner_all);
        const fs::path channels = dir_ / "home/.config/xfce4/xfconf/xfce-perchannel-xml";
        fs::create_directories(channels);
        std::ofstream(channels / "xfce4-panel.xml") << kPanelConfig;
        env_ = x_.Environment();
        for (const std::string& e :
             {"HOME=" + (dir_ / "home").string(),
              "XDG_CONFIG_HOME=" + (dir_ / "home/.config").string(),
              "XDG_RUNTIME_DIR=" + (dir_ / "runtime").string(), std::string("NO_AT_BRIDGE=1")}) {
            std::erase_if(env_, [&](const std::string& have) {
                return have.rfind(e.substr(0, e.find('=') + 1), 0) == 0;
            });
            env_.push_back(e);
        }
        const fs::path socket = dir_ / "runtime/bus";
        bus_ = TProcess(
            {"dbus-daemon", "--session", "--nofork", "--address=unix:path=" + socket.string()},
            env_, (dir_ / "bus.txt").string());
        if (!WaitUntil([&] { return fs::exists(socket); }, 10000)) {
            problem_ = "no session bus";
            return;
        }
        address_ = "DBUS_SESSION_BUS_ADDRESS=unix:path=" + socket.string();
        env_.push_back(address_);
        wm_ = TProcess({"xfwm4"}, env_, (dir_ / "xfwm4.txt").string());
        panel_ = TProcess({"xfce4-panel"}, env_, (dir_ / "panel.txt").string());
        if (!WaitUntil([&] { return HasOwner("org.kde.StatusNotifierWatcher"); }, 20000)) {
            problem_ = "the panel's status tray did not start: " + ReadFile(dir_ / "panel.txt");
        }
    }
    ~TXfceDesktop() {
        for (TProcess* p : {&panel_, &wm_, &bus_}) {
            p->Signal(SIGTERM);
            if (!p->WaitExit(5000)) {
                p->Kill();
            }
        }
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    bool Ok() const { return problem_.empty(); }
    const std::string& Problem() const { return problem_; }
    const std::string& BusEnvironment() const { return address_; }

    bool HasOwner(const std::string& name) {
        const TRunResult r = RunCommand({"dbus-send", "--session", "--print-reply",
                                         "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                                         "org.freedesktop.DBus.NameHasOwner", "string:" + name},
                                        env_);
        return r.Status == 0 && r.Output.find("boolean true") != std::string::npos;
    }
    std::string Items() {
        return RunCommand({"dbus-send", "--session", "--print-reply",
                           "--dest=org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                           "org.freedesktop.DBus.Properties.Get",
                           "string:org.kde.StatusNotifierWatcher",
                           "string:RegisteredStatusNotifierItems"},
                          env_)
            .Output;
    }

    // The visible windows of the status tray's process (its part of the panel, its menus).
    std::vector<TBox> TrayWindows() {
        std::vector<TBox> boxes;
        for (const unsigned long w : x_.Search({"--onlyvisible", "--class", "^wrapper-2.0$"})) {
            const TRunResult r = x_.Xdotool({"getwindowgeometry", "--shell", std::to_string(w)});
            std::istringstream in(r.Output);
            TBox box{w};
            for (std::string line; std::getline(in, line);) {
                const std::size_t eq = line.find('=');
                if (eq == std::string::npos) {
                    continue;
                }
                const std::string key = line.substr(0, eq);
                const int value = std::atoi(line.c_str() + eq + 1);
                if (key == "X") {
                    box.X = value;
                } else if (key == "Y") {
                    box.Y = value;
                } else if (key == "WIDTH") {
                    box.Width = value;
                } else if (key == "HEIGHT") {
                    box.Height = value;
                }
            }
            boxes.push_back(box);
        }
        return boxes;
    }

    void Shot(const fs::path& png) {
        fs::create_directories(png.parent_path());
        RunCommand({"import", "-window", "root", png.string()}, env_, 20000);
    }

private:
    TXSession& x_;
    fs::path dir_;
    std::vector<std::string> env_;
    std::string address_;
    std::string problem_;
    TProcess bus_, wm_, panel_;
};

class XfcePanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Installed("xfce4-panel") || !Installed("xfwm4")) {
            GTEST_SKIP() << "xfce4-panel and xfwm4 are not installed "
                            "(scripts/install-deps.sh installs them)";
        }
        x_ = std::make_unique<TXSession>(false);
        ASSERT_TRUE(x_->Ok()) << x_->Problem();
        desktop_ = std::make_unique<TXfceDesktop>(*x_);
        ASSERT_TRUE(desktop_->Ok()) << desktop_->Problem();
        install_ = std::make_unique<TInstall>(*x_);
    }

    // A click as a hand makes it: onto the point, a pause for the toolkit to see the pointer
    // there, then the button.
    void ClickAt(int x, int y, const char* button) {
        x_->Xdotool({"mousemove", std::to_string(x), std::to_string(y)});
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        x_->Xdotool({"mousemove", std::to_string(x + 1), std::to_string(y)});
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        x_->Xdotool({"click", button});
    }

    // The item's button in the panel's status tray, and the menu that a right click opens.
    std::optional<TBox> TrayPart(bool menu) {
        for (const TBox& box : desktop_->TrayWindows()) {
            if (menu ? box.Height > 3 * 26 : box.Y < 30 && box.Height <= 30 && box.Width > 0) {
                return box;
            }
        }
        return std::nullopt;
    }
    std::optional<TBox> OpenMenu() {
        const std::optional<TBox> icon = TrayPart(false);
        if (!icon) {
            return std::nullopt;
        }
        ClickAt(icon->X + icon->Width / 2, icon->Y + icon->Height / 2, "3");
        std::optional<TBox> menu;
        WaitUntil([&] { return (menu = TrayPart(true)).has_value(); }, 5000);
        return menu;
    }

    std::unique_ptr<TXSession> x_;
    std::unique_ptr<TXfceDesktop> desktop_;
    std::unique_ptr<TInstall> install_;
};

TEST_F(XfcePanelTest, ARightClickShowsTheProgramsCommandsAndAClickRestoresAMinimisedWindow) {
    install_->WriteConfig({});
    WriteServerList(install_->ListFile(), {{"a", "http://127.0.0.1:1/", false}});
    TProcess program = install_->Start({desktop_->BusEnvironment()});
    ASSERT_NE(install_->WaitForMainWindow(), 0u) << ReadFile(install_->Dir() / "output.txt");
    ASSERT_TRUE(WaitUntil(
        [&] { return desktop_->Items().find("org.kde.StatusNotifierItem-") != std::string::npos; },
        15000));
    ASSERT_TRUE(WaitUntil([&] { return TrayPart(false).has_value(); }, 10000));

    // The program's four commands, not the panel's own plug-in menu (which has seven items
    // and would let a user remove the tray): the menu is as tall as four items.
    std::optional<TBox> menu = OpenMenu();
    ASSERT_TRUE(menu.has_value()) << "no menu on a right click";
    desktop_->Shot(fs::path(QRV_BINARY_DIR) / "tests/e2e/shots/xfce-tray-menu.png");
    EXPECT_LT(menu->Height, 4 * 40) << "the menu holds more than four commands";
    EXPECT_TRUE(install_->MainWindowVisible());

    // Hide, the second command.
    ClickAt(menu->X + menu->Width / 2, menu->Y + menu->Height * 3 / 8, "1");
    EXPECT_TRUE(WaitUntil([&] { return !install_->MainWindowVisible(); }, 10000));
    EXPECT_TRUE(WaitUntil([&] { return !TrayPart(true).has_value(); }, 5000));

    // The menu follows the window: Show, the first command, is enabled now and brings it back.
    menu = OpenMenu();
    ASSERT_TRUE(menu.has_value()) << "no menu on the second right click";
    ClickAt(menu->X + menu->Width / 2, menu->Y + menu->Height / 8, "1");
    EXPECT_TRUE(WaitUntil([&] { return install_->MainWindowVisible(); }, 10000));

    // A left click is the item's activation: a window the panel's window manager minimised
    // comes back, instead of being hidden.
    const unsigned long window = install_->WaitForMainWindow();
    const auto minimised = [&] {
        return RunCommand({"xprop", "-id", std::to_string(window), "_NET_WM_STATE"},
                          x_->Environment())
                   .Output.find("_NET_WM_STATE_HIDDEN") != std::string::npos;
    };
    ASSERT_EQ(x_->Xdotool({"windowminimize", "--sync", std::to_string(window)}).Status, 0);
    ASSERT_TRUE(WaitUntil(minimised, 5000));
    const std::optional<TBox> icon = TrayPart(false);
    ASSERT_TRUE(icon.has_value());
    ClickAt(icon->X + icon->Width / 2, icon->Y + icon->Height / 2, "1");
    EXPECT_TRUE(WaitUntil([&] { return !minimised() && install_->MainWindowVisible(); }, 10000));
    EXPECT_TRUE(program.Running());
    EXPECT_EQ(E2eTest::Terminate(program), 0);
}

} // namespace
} // namespace qrv::e2e
