// The real program under openbox, which minimises windows, dialogs included, as a desktop does:
// a second start and the tray's click bring a minimised window back, and the dialog that holds
// it disabled with it.

#include "E2eSupport.h"

#include <csignal>
#include <memory>
#include <string>

namespace qrv::e2e {
namespace {

class MinimiseTest : public ::testing::Test {
protected:
    // A display managed by openbox. No XEmbed tray: none of this goes through one, and its
    // start is what takes long on a busy machine.
    void SetUp() override {
        session_ = std::make_unique<TXSession>(false);
        ASSERT_TRUE(session_->Ok()) << session_->Problem();
        install_ = std::make_unique<TInstall>(*session_);
        openbox_ =
            TProcess({"openbox"}, session_->Environment(), (install_->Dir() / "wm.txt").string());
        // Managing the screen: it has named itself on the root window.
        ASSERT_TRUE(WaitUntil(
            [&] {
                return RunCommand({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"},
                                  session_->Environment())
                           .Output.find("window id") != std::string::npos;
            },
            20000))
            << ReadFile(install_->Dir() / "wm.txt");
        App().WriteConfig({});
        WriteServerList(App().ListFile(), {{"a", "http://127.0.0.1:1/"}});
    }

    bool Minimise(unsigned long id) {
        return X().Xdotool({"windowminimize", "--sync", std::to_string(id)}).Status == 0;
    }
    // Minimised, as the window manager says.
    bool Hidden(unsigned long id) {
        return RunCommand({"xprop", "-id", std::to_string(id), "_NET_WM_STATE"}, X().Environment())
                   .Output.find("_NET_WM_STATE_HIDDEN") != std::string::npos;
    }
    // `id` on screen and the active window.
    bool Back(unsigned long id) {
        return App().MainWindowVisible() && !Hidden(id) &&
               X().Xdotool({"getactivewindow"}).Output == std::to_string(id) + "\n";
    }

    TXSession& X() { return *session_; }
    TInstall& App() { return *install_; }

    std::unique_ptr<TXSession> session_;
    std::unique_ptr<TInstall> install_;
    TProcess openbox_;
};

TEST_F(MinimiseTest, ASecondStartBringsBackAMinimisedWindowAndItsDialog) {
    TProcess first = App().Start();
    const unsigned long window = App().WaitForMainWindow();
    ASSERT_NE(window, 0u) << ReadFile(App().Dir() / "output.txt");

    // Minimising the dialog takes its owner along (openbox does so): both are out of reach.
    for (const bool settings : {false, true}) {
        SCOPED_TRACE(settings ? "the settings minimised" : "the window minimised");
        unsigned long front = window;
        if (settings) {
            ASSERT_TRUE(X().Keys(window, {"ctrl+s"}));
            front = X().WaitForWindow("^Application settings$");
            ASSERT_NE(front, 0u);
        }
        ASSERT_TRUE(Minimise(front));
        ASSERT_TRUE(WaitUntil(
            [&] { return !App().MainWindowVisible() && Hidden(window) && Hidden(front); }, 10000));

        TProcess second = App().Start();
        EXPECT_EQ(second.WaitExit(10000), 0);
        EXPECT_TRUE(WaitUntil([&] { return !Hidden(window) && Back(front); }, 10000));
        EXPECT_EQ(X().WindowVisible("^Application settings$"), settings);
    }
    first.Signal(SIGTERM);
    EXPECT_EQ(first.WaitExit(20000), 0);
}

// A status-notifier tray's click (Xfce's panel, waybar) on a minimised window brings it back
// instead of hiding it.
TEST_F(MinimiseTest, TheTraysActivationRestoresAMinimisedWindow) {
    TBusSession bus({"--watcher"});
    ASSERT_TRUE(bus.Ok());
    TProcess program = App().Start({bus.Environment()});
    const unsigned long window = App().WaitForMainWindow();
    ASSERT_NE(window, 0u) << ReadFile(App().Dir() / "output.txt");
    ASSERT_TRUE(WaitUntil([&] { return Back(window); }, 10000));
    ASSERT_TRUE(Minimise(window));
    ASSERT_TRUE(WaitUntil([&] { return Hidden(window); }, 10000));
    EXPECT_EQ(bus.Peer("Activate"), "ok");
    EXPECT_TRUE(WaitUntil([&] { return Back(window); }, 10000));
    // Shown, the next click hides it.
    EXPECT_EQ(bus.Peer("Activate"), "ok");
    EXPECT_TRUE(WaitUntil([&] { return !App().MainWindowVisible() && !Hidden(window); }, 10000));
    program.Signal(SIGTERM);
    EXPECT_EQ(program.WaitExit(20000), 0);
}

} // namespace
} // namespace qrv::e2e
