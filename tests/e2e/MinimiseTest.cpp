// The real program under openbox, which minimises windows, dialogs included, as a desktop does:
// a second start brings a minimised window back, and the dialog that holds it disabled with it.

#include "E2eSupport.h"

#include <csignal>
#include <memory>
#include <string>

namespace qrv::e2e {
namespace {

class MinimiseTest : public ::testing::Test {
protected:
    void SetUp() override {
        session_ = std::make_unique<TXSession>();
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
    }

    TXSession& X() { return *session_; }
    TInstall& App() { return *install_; }

    std::unique_ptr<TXSession> session_;
    std::unique_ptr<TInstall> install_;
    TProcess openbox_;
};

TEST_F(MinimiseTest, ASecondStartBringsBackAMinimisedWindowAndItsDialog) {
    App().WriteConfig({});
    WriteServerList(App().ListFile(), {{"a", "http://127.0.0.1:1/"}});
    TProcess first = App().Start();
    const unsigned long window = App().WaitForMainWindow();
    ASSERT_NE(window, 0u) << ReadFile(App().Dir() / "output.txt");
    const auto minimise = [&](unsigned long id) {
        return X().Xdotool({"windowminimize", "--sync", std::to_string(id)}).Status == 0;
    };
    const auto active = [&] { return X().Xdotool({"getactivewindow"}).Output; };
    const auto hidden = [&](unsigned long id) {
        return RunCommand({"xprop", "-id", std::to_string(id), "_NET_WM_STATE"}, X().Environment())
                   .Output.find("_NET_WM_STATE_HIDDEN") != std::string::npos;
    };

    // Minimising the dialog takes its owner along (openbox does so): both are out of reach.
    for (const bool settings : {false, true}) {
        SCOPED_TRACE(settings ? "the settings minimised" : "the window minimised");
        unsigned long front = window;
        if (settings) {
            ASSERT_TRUE(X().Keys(window, {"ctrl+s"}));
            front = X().WaitForWindow("^Application settings$");
            ASSERT_NE(front, 0u);
        }
        ASSERT_TRUE(minimise(front));
        ASSERT_TRUE(WaitUntil(
            [&] { return !App().MainWindowVisible() && hidden(window) && hidden(front); }, 10000));

        TProcess second = App().Start();
        EXPECT_EQ(second.WaitExit(10000), 0);
        EXPECT_TRUE(WaitUntil(
            [&] {
                return App().MainWindowVisible() && !hidden(window) && !hidden(front) &&
                       active() == std::to_string(front) + "\n";
            },
            10000))
            << "active: " << active();
        EXPECT_EQ(X().WindowVisible("^Application settings$"), settings);
    }
    first.Signal(SIGTERM);
    EXPECT_EQ(first.WaitExit(20000), 0);
}

} // namespace
} // namespace qrv::e2e
