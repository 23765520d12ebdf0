// Real check runs against a loopback server, as the window shows them: statuses, status bar,
// tray, traffic light, warning button, balloons; quitting while a run is under way; the timer
// after saving the settings.

#include "GuiTestSupport.h"

#include "TestHttpServer.h"
#include "dialogs/Servers.h"
#include "dialogs/Settings.h"
#include "platform/Registry.h"
#include "shell/AppConfig.h"
#include "shell/app/TrayIcon.h"

#include <QAction>
#include <QEvent>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <QToolButton>

#include <atomic>

namespace qrv::test {
namespace {

using CheckRunWindowTest = TGuiTest;

constexpr char kAllOk[] = "Response of all websites OK. There was no problem.";
constexpr char kProblems[] = "One or more websites problem. Unable to load or wrong response.";
constexpr char kOffline[] =
    "Unable to load verifying server. Websites monitoring stopped due to offline station.";

TEST_F(CheckRunWindowTest, OutcomeIndicatorsAfterEachKindOfRun) {
    TTestHttpServer server;
    server.Route("/ok", Reply(200, "OK"));
    server.Route("/missing", Reply(404, "gone"));
    server.Route("/verify", Reply(200, "up"));
    server.Route("/down", Reply(500, "down"));
    WriteConfig({{"BalloonLevel", std::string("4"), {}},
                 {"VerifyEnabled", {}, 1u},
                 {"VerifyURL", server.Url("/verify"), {}}});
    WriteList({{"good", server.Url("/ok")}, {"bad", server.Url("/missing"), false}});
    gui::TMainForm& form = Start();
    auto setVerify = [&](const std::string& path) {
        auto key = platform::TRegistryKey::Create(shell::kConfigKey, true);
        ASSERT_TRUE(key && key->SetString("VerifyURL", server.Url(path)));
        shell::LoadConfig();
    };

    // All OK (the failing server is inactive).
    RunCheck();
    EXPECT_EQ(
        ListRows(),
        (std::vector<std::string>{
            "bad||Waiting...|-1|off",
            "good|OK|OK|" +
                std::to_string(form.setServer.AsIntegerAt(1, engine::TField::LoadTime)) + "|on"}));
    EXPECT_GE(form.setServer.AsIntegerAt(1, engine::TField::LoadTime), 0);
    EXPECT_EQ(form.StatusText(), "Completed");
    EXPECT_EQ(form.TrayIcon->ImageIndex(), 0);
    EXPECT_EQ(form.TrayIcon->Hint(), kAllOk);
    EXPECT_EQ(form.SemaforImage(), 0);
    EXPECT_EQ(form.SemaforHint(), kAllOk);
    EXPECT_FALSE(form.buttonWarning->isVisible());
    EXPECT_FALSE(form.TrayIcon->LastBalloon());
    EXPECT_TRUE(form.timerCheck->isActive());

    // A problem: the warning button appears, with a load-error balloon for the server.
    form.setServer.First();
    form.actionServerActivate->trigger();
    RunCheck();
    EXPECT_EQ(form.setServer.AsStringAt(0, engine::TField::Status), "ERR_LOAD");
    EXPECT_EQ(form.StatusText(), "Completed with 1 error!");
    EXPECT_EQ(form.TrayIcon->ImageIndex(), 1);
    EXPECT_EQ(form.TrayIcon->Hint(), kProblems);
    EXPECT_EQ(form.SemaforImage(), 1);
    EXPECT_EQ(form.SemaforHint(), kProblems);
    EXPECT_FALSE(form.buttonWarning->isHidden());
    ASSERT_TRUE(form.TrayIcon->LastBalloon());
    EXPECT_EQ(form.TrayIcon->LastBalloon()->Title, "Load error");
    EXPECT_EQ(form.TrayIcon->LastBalloon()->Text, "Unable to load 'bad'");

    // Offline: every row OFFLINE, the warning button stays, the offline balloon at level 4.
    setVerify("/down");
    RunCheck();
    EXPECT_EQ(form.setServer.AsStringAt(0, engine::TField::Status), "OFFLINE");
    EXPECT_EQ(form.setServer.AsStringAt(1, engine::TField::Status), "OFFLINE");
    EXPECT_EQ(form.setServer.AsStringAt(1, engine::TField::Result), "Unable to check server.");
    EXPECT_EQ(form.StatusText(), "Offline!");
    EXPECT_EQ(form.TrayIcon->ImageIndex(), 2);
    EXPECT_EQ(form.TrayIcon->Hint(), kOffline);
    EXPECT_EQ(form.SemaforImage(), 2);
    EXPECT_EQ(form.SemaforHint(), kOffline);
    EXPECT_FALSE(form.buttonWarning->isHidden());
    ASSERT_TRUE(form.TrayIcon->LastBalloon());
    EXPECT_EQ(form.TrayIcon->LastBalloon()->Title, "Offline");
    EXPECT_EQ(form.TrayIcon->LastBalloon()->Icon, engine::TBalloonIcon::Warning);

    // Back online and all OK: green again, the warning stays until it is clicked.
    setVerify("/verify");
    form.setServer.First();
    form.actionServerDeactivate->trigger();
    RunCheck();
    EXPECT_EQ(form.StatusText(), "Completed");
    EXPECT_EQ(form.TrayIcon->ImageIndex(), 0);
    EXPECT_FALSE(form.buttonWarning->isHidden());
    form.buttonWarning->click();
    EXPECT_TRUE(form.buttonWarning->isHidden());

    // The log has the run's lines.
    const std::string log = ReadLog();
    for (const char* line :
         {"SYSTEM Checking...", "OK Completed with no errors.",
          "ERROR Unable to load 'bad'. Error: ", "ERROR Completed with problems detected.",
          "ERROR Stopped! Probably offline."}) {
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
    }
}

// Runs go on behind an open dialog, so the header and the status bar keep showing them in
// colour while the dialog holds the window disabled.
TEST_F(CheckRunWindowTest, HeaderAndStatusBarKeepTheirColoursWhileADialogIsOpen) {
    WriteConfig();
    WriteList({"unreachable"}); // a problem: red light and the warning button
    gui::TMainForm& form = Start();
    form.show();
    RunCheck();
    ASSERT_TRUE(form.buttonWarning->isVisible());
    ASSERT_EQ(form.SemaforImage(), 1);
    const auto grab = [&] {
        return std::pair(form.panelHeader->grab().toImage(), form.StatusBar->grab().toImage());
    };
    const auto enabled = grab();
    const std::pair<QAction*, QPushButton*> dialogs[] = {
        {form.actionSettings, Program().FormSettings().buttonCancel},
        {form.actionServerAdd, Program().FormServers().buttonCancel},
    };
    for (const auto& [open, cancel] : dialogs) {
        SCOPED_TRACE(open->objectName().toStdString());
        open->trigger();
        ASSERT_FALSE(form.isEnabled());
        const auto disabled = grab();
        EXPECT_TRUE(disabled.first == enabled.first);
        EXPECT_TRUE(disabled.second == enabled.second);
        cancel->click();
        ASSERT_TRUE(form.isEnabled());
    }
}

TEST_F(CheckRunWindowTest, OfflineBelowLevelFourKeepsTheTrayHint) {
    TTestHttpServer server;
    server.Route("/down", Reply(503, "no"));
    WriteConfig({{"VerifyEnabled", {}, 1u}, {"VerifyURL", server.Url("/down"), {}}});
    WriteList({{"a", server.Url("/ok")}});
    gui::TMainForm& form = Start();
    const std::string startHint = form.TrayIcon->Hint();
    RunCheck();
    EXPECT_EQ(form.StatusText(), "Offline!");
    EXPECT_EQ(form.TrayIcon->ImageIndex(), 2);
    EXPECT_EQ(form.TrayIcon->Hint(), startHint);
    EXPECT_EQ(form.SemaforHint(), kOffline);
    EXPECT_FALSE(form.TrayIcon->LastBalloon());
}

TEST_F(CheckRunWindowTest, QuitDuringARunBreaksTheFetchOffAndStartsNoOther) {
    TTestHttpServer server;
    std::atomic<bool> release{false};
    // Accepts, reads the request and never answers (until the test ends).
    server.Route("/stall", [&](const TRecordedRequest&, TTestConnection& connection) {
        while (!release) {
            connection.Pause(5);
        }
    });
    WriteConfig();
    WriteList({{"a", server.Url("/stall")}, {"b", server.Url("/stall")}});
    gui::TMainForm& form = Start();
    bool closed = false;
    QObject::connect(&form, &gui::TMainForm::Closed, [&] { closed = true; });
    form.StartCheckRun();
    ASSERT_TRUE(WaitUntil([&] { return server.RequestCount() == 1; }));
    const std::vector<std::string> before = {"a||Waiting...|-1|on", "b||Waiting...|-1|on"};
    const std::size_t logBefore = ReadLog().size();

    form.actionQuit->trigger();
    EXPECT_FALSE(form.RunInProgress());
    EXPECT_TRUE(form.Quitting());
    EXPECT_TRUE(closed);
    // The run re-armed the timer in its closing steps; quitting ignored that.
    EXPECT_FALSE(form.timerCheck->isActive());
    EXPECT_TRUE(form.gridLink->isEnabled());
    // The record being checked got back what it held; nothing was said of the broken fetch.
    EXPECT_EQ(ListRows(), before);
    EXPECT_EQ(ReadLog().size(), logBefore);
    EXPECT_FALSE(form.TrayIcon->LastBalloon());
    form.timerCheckTimer();
    EXPECT_FALSE(form.RunInProgress());
    EXPECT_EQ(server.RequestCount(), 1u);
    release = true;
}

// Counts the events of one type that reach an object.
class TEventCounter : public QObject {
public:
    TEventCounter(QObject* watched, QEvent::Type type, int& count) : type_(type), count_(count) {
        watched->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        count_ += event->type() == type_ ? 1 : 0;
        return false;
    }

private:
    QEvent::Type type_;
    int& count_;
};

// While the user-interface thread waits for a run (here a tick disposing of a run that a
// server stalls), the window still paints and the tray menu still opens.
TEST_F(CheckRunWindowTest, TheWindowStaysAliveWhileItWaitsForAStalledRun) {
    TTestHttpServer server;
    std::atomic<bool> release{false};
    server.Route("/stall", [&](const TRecordedRequest&, TTestConnection& connection) {
        for (int i = 0; i < 2000 && !release; ++i) {
            connection.Pause(5);
        }
        connection.Send(Response(200, "OK"));
    });
    WriteConfig();
    WriteList({{"a", server.Url("/stall")}});
    gui::TMainForm& form = Start();
    form.show();
    form.StartCheckRun();
    ASSERT_TRUE(WaitUntil([&] { return server.RequestCount() == 1; }));

    auto* status = form.findChild<QLabel*>(QStringLiteral("StatusBarText"));
    ASSERT_NE(status, nullptr);
    int paints = 0;
    TEventCounter counter(status, QEvent::Paint, paints);
    QImage before, after;
    int paintsBefore = -1;
    bool menuShown = false;
    QTimer::singleShot(50, &form, [&] {
        before = form.grab().toImage();
        paintsBefore = paints;
        status->setText(QStringLiteral("Changed while the window waits"));
        QTimer::singleShot(200, &form, [&] {
            after = form.grab().toImage();
            form.popupTray->popup(QPoint(20, 20));
            menuShown = form.popupTray->isVisible();
            form.popupTray->hide();
            release = true;
        });
    });
    form.StartCheckRun(); // waits for the stalled run, then starts the next one
    EXPECT_TRUE(release) << "the wait ended before the window had its turn";
    EXPECT_GT(paints, paintsBefore) << "no repaint during the wait";
    EXPECT_NE(before, after);
    EXPECT_TRUE(menuShown);
    release = true;
}

TEST_F(CheckRunWindowTest, SavedSettingsKeepOrRestartTheCountdown) {
    WriteConfig();
    gui::TMainForm& form = Start();
    QThread::msleep(30);
    const int left = form.timerCheck->remainingTime();
    ASSERT_LT(left, 300000);

    // The same interval: the countdown goes on.
    shell::LoadConfig();
    form.ApplySettings();
    EXPECT_LE(form.timerCheck->remainingTime(), left);

    // A new interval starts it anew; a disarmed timer only takes the value.
    auto key = platform::TRegistryKey::Create(shell::kConfigKey, true);
    ASSERT_TRUE(key && key->SetString("CheckInterval", "600"));
    shell::LoadConfig();
    form.ApplySettings();
    EXPECT_GT(form.timerCheck->remainingTime(), 500000);
    form.timerCheck->stop();
    ASSERT_TRUE(key->SetString("CheckInterval", "60"));
    shell::LoadConfig();
    form.ApplySettings();
    EXPECT_FALSE(form.timerCheck->isActive());
    EXPECT_EQ(form.timerCheck->interval(), 60000);
}

TEST_F(CheckRunWindowTest, HotKeySettingIsAppliedUnderTheSameId) {
    WriteConfig({{"HotkeyEnabled", {}, 1u}});
    gui::TMainForm& form = Start();
    const int id = form.HotkeyId();
    ASSERT_GT(id, 0);
    auto key = platform::TRegistryKey::Create(shell::kConfigKey, true);
    ASSERT_TRUE(key && key->SetDword("HotkeyEnabled", 0));
    shell::LoadConfig();
    form.ApplySettings();
    EXPECT_EQ(form.HotkeyId(), id); // kept after unregistering
    ASSERT_TRUE(key->SetDword("HotkeyEnabled", 1));
    shell::LoadConfig();
    form.ApplySettings();
    EXPECT_EQ(form.HotkeyId(), id);
}

} // namespace
} // namespace qrv::test
