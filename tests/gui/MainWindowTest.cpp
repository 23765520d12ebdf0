// The main window's actions: enabling rules, deleting with its question, showing and hiding,
// activating, and the keys the list swallows.

#include "GuiTestSupport.h"

#include "TestHttpServer.h"
#include "dialogs/Servers.h"
#include "engine/CheckView.h"
#include "shell/app/TrayIcon.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QtTest/QTest>

#include <atomic>
#include <functional>

namespace qrv::test {
namespace {

using engine::TField;
using gui::TMessageAnswer;

using MainWindowTest = TGuiTest;

// "A" enabled, "-" disabled, for Add, Edit, Delete, Activate, Deactivate, Activate all, and
// then the grid.
std::string ActionStates(gui::TMainForm& form) {
    std::string states;
    for (QAction* action :
         {form.actionServerAdd, form.actionServerEdit, form.actionServerDelete,
          form.actionServerActivate, form.actionServerDeactivate, form.actionServerActivateAll}) {
        states += action->isEnabled() ? 'A' : '-';
    }
    states += form.gridLink->isEnabled() ? " grid" : " -";
    return states;
}

// Adds a server the way the server editor does.
void AddThroughEditor(TGuiTest& test, gui::TMainForm& form, const std::string& name,
                      const std::string& url) {
    gui::TFormServers& editor = test.Program().FormServers();
    form.actionServerAdd->trigger();
    editor.editName->setText(QString::fromStdString(name));
    editor.editURL->setText(QString::fromStdString(url));
    editor.buttonOK->click();
}

TEST_F(MainWindowTest, ServerActionsFollowTheEnablingRules) {
    TTestHttpServer server;
    std::atomic<bool> release{false};
    server.Route("/hold", [&](const TRecordedRequest&, TTestConnection& connection) {
        while (!release) {
            connection.Pause(5);
        }
        connection.Send(Response(200, "fine"));
    });
    WriteConfig();
    WriteList({});
    gui::TMainForm& form = Start();
    struct TStep {
        const char* What;
        std::function<void()> Do;
        const char* Expected;
    };
    const std::vector<TStep> steps = {
        {"start-up with an empty list", [] {}, "A----A grid"},
        {"the first server added: the new row did not count yet",
         [&] { AddThroughEditor(*this, form, "b", server.Url("/hold")); }, "A----A grid"},
        {"a second server added", [&] { AddThroughEditor(*this, form, "a", server.Url("/hold")); },
         "AAAAAA grid"},
        {"a run is under way",
         [&] {
             form.StartCheckRun();
             ASSERT_TRUE(WaitUntil([&] { return server.RequestCount() == 1; }));
         },
         "------ -"},
        {"the run ends",
         [&] {
             release = true;
             ASSERT_TRUE(WaitUntil([&] { return !form.RunInProgress(); }));
         },
         "AAAAAA grid"},
        {"one deleted",
         [&] {
             gui::MessageBoxSeam::SetNextAnswer(TMessageAnswer::Yes);
             form.actionServerDelete->trigger();
         },
         "AAAAAA grid"},
        {"the last deleted",
         [&] {
             gui::MessageBoxSeam::SetNextAnswer(TMessageAnswer::Yes);
             form.actionServerDelete->trigger();
         },
         "A----A grid"},
        {"a run on the empty list", [&] { RunCheck(); }, "A----A grid"},
    };
    for (const TStep& step : steps) {
        step.Do();
        EXPECT_EQ(ActionStates(form), step.Expected) << step.What;
    }
    // Always available, whatever the list holds.
    for (QAction* action : {form.actionQuit, form.actionLog, form.actionLogClear,
                            form.actionSettings, form.actionHelpContext, form.actionHelpAbout}) {
        EXPECT_TRUE(action->isEnabled()) << action->objectName().toStdString();
    }
}

TEST_F(MainWindowTest, DeleteAsksFirstAndOnlyYesDeletes) {
    WriteConfig();
    WriteList({{"alpha"}, {"beta"}});
    gui::TMainForm& form = Start();
    form.setServer.First();
    Boxes();

    gui::MessageBoxSeam::SetNextAnswer(TMessageAnswer::No);
    form.actionServerDelete->trigger();
    EXPECT_EQ(form.setServer.RecordCount(), 2);
    auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Caption, "Delete");
    EXPECT_EQ(boxes[0].Text, "Do you wish to delete  alpha?");
    EXPECT_EQ(boxes[0].Icon, gui::TMessageIcon::Question);
    EXPECT_EQ(boxes[0].Buttons, gui::TMessageButtons::YesNo);
    const bool timerBefore = form.timerCheck->isActive();

    gui::MessageBoxSeam::SetNextAnswer(TMessageAnswer::Yes);
    form.actionServerDelete->trigger();
    EXPECT_EQ(ListRows(), std::vector<std::string>{"beta||Waiting...|-1|on"});
    EXPECT_EQ(form.timerCheck->isActive(), timerBefore);

    // A name that looks like a placeholder is shown as it is.
    form.setServer.Edit();
    form.setServer.SetString(TField::Name, "%s 100%");
    form.setServer.Post();
    gui::MessageBoxSeam::SetNextAnswer(TMessageAnswer::No);
    Boxes();
    form.actionServerDelete->trigger();
    boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Text, "Do you wish to delete  %s 100%?");
}

// Keys typed into the editor go where the keyboard focus is, as a user's do. The editor is only
// hidden between openings: it must not come back with the focus on the button last clicked.
TEST_F(MainWindowTest, EachOpeningOfTheEditorTakesTypingIntoTheNameField) {
    WriteConfig();
    WriteList({{"alpha"}});
    gui::TMainForm& form = Start();
    gui::TFormServers& editor = Program().FormServers();
    const auto openAndType = [&](const char* typed) {
        form.actionServerAdd->trigger();
        editor.activateWindow();
        if (!QTest::qWaitForWindowActive(&editor)) {
            return false;
        }
        QTest::keyClicks(nullptr, QString::fromLatin1(typed));
        return true;
    };

    ASSERT_TRUE(openAndType("first"));
    QTest::mouseClick(editor.buttonOK, Qt::LeftButton); // the focus stays on OK
    ASSERT_FALSE(editor.isVisible());
    ASSERT_EQ(ListRows(),
              (std::vector<std::string>{"alpha||Waiting...|-1|on", "first||Waiting...|-1|on"}));
    for (QPushButton* leave : {editor.buttonOK, editor.buttonCancel}) {
        SCOPED_TRACE(leave->objectName().toStdString());
        const int before = form.setServer.RecordCount();
        ASSERT_TRUE(openAndType("My server"));
        EXPECT_EQ(editor.editName->text(), QStringLiteral("My server"));
        EXPECT_TRUE(editor.isVisible()) << "a key pressed a button";
        EXPECT_EQ(form.setServer.RecordCount(), before);
        editor.editName->setText(QStringLiteral("second"));
        QTest::mouseClick(leave, Qt::LeftButton);
        ASSERT_FALSE(editor.isVisible());
    }
    EXPECT_EQ(ListRows(),
              (std::vector<std::string>{"alpha||Waiting...|-1|on", "first||Waiting...|-1|on",
                                        "second||Waiting...|-1|on"}));
}

TEST_F(MainWindowTest, ShowAndHideAreExclusiveAndToggle) {
    WriteConfig();
    gui::TMainForm& form = Start();
    form.show();
    auto check = [&](bool visible, const char* what) {
        EXPECT_EQ(form.isVisible(), visible) << what;
        EXPECT_EQ(form.actionShow->isEnabled(), !visible) << what;
        EXPECT_EQ(form.actionHide->isEnabled(), visible) << what;
    };
    check(true, "shown at start");
    form.actionHide->trigger();
    check(false, "hidden");
    form.actionHide->trigger();
    check(false, "hiding again does nothing");
    form.actionShow->trigger();
    check(true, "shown");
    Q_EMIT form.TrayIcon->DoubleClicked(); // as the tray reports a double-click
    check(false, "tray double-click hides");
    Q_EMIT form.TrayIcon->DoubleClicked(); // as the tray reports a double-click
    check(true, "tray double-click shows");
    form.close();
    check(false, "closing only hides");
    EXPECT_FALSE(form.Quitting());
    // The hot key is off by default: its message changes nothing.
    EXPECT_EQ(form.HotkeyId(), 0);
    form.HotKeyPressed(0);
    form.HotKeyPressed(0xC000);
    check(false, "no hot key registered");

    // While a dialog has the main window disabled, the tray menu still opens and works.
    form.setEnabled(false);
    form.popupTray->popup(QPoint(20, 20));
    EXPECT_TRUE(form.popupTray->isVisible() && form.popupTray->isEnabled());
    form.popupTray->hide();
    form.actionShow->trigger();
    check(true, "shown from the tray menu of a disabled window");
    form.setEnabled(true);
}

TEST_F(MainWindowTest, HotKeyMessagesToggleOnlyWithTheirOwnId) {
    WriteConfig({{"HotkeyEnabled", {}, 1u}});
    gui::TMainForm& form = Start();
    form.show();
    const int id = form.HotkeyId();
    EXPECT_GT(id, 0);
    form.HotKeyPressed(id + 1);
    EXPECT_TRUE(form.isVisible());
    form.HotKeyPressed(id);
    EXPECT_FALSE(form.isVisible());
    form.HotKeyPressed(id);
    EXPECT_TRUE(form.isVisible());
}

// Each way of asking for the window brings a minimised one back, raised and active, and the
// editor that holds it disabled with it, above it.
TEST_F(MainWindowTest, EveryWayBackRestoresAMinimisedWindowAndItsDialog) {
    WriteConfig({{"HotkeyEnabled", {}, 1u}});
    gui::TMainForm& form = Start();
    form.show();
    ASSERT_TRUE(WaitUntil([&] { return QApplication::activeWindow() == &form; }));
    gui::TFormServers& editor = Program().FormServers();
    const std::pair<const char*, std::function<void()>> ways[] = {
        {"second start", [&] { form.SecondStart(); }},
        {"tray Show", [&] { form.actionShow->trigger(); }},
        {"tray activation", [&] { Q_EMIT form.TrayIcon->DoubleClicked(); }},
        {"hot key", [&] { form.HotKeyPressed(form.HotkeyId()); }},
    };
    const struct {
        const char* label;
        bool window, editor; // minimised
    } cases[] = {
        {"window", true, false}, {"window and editor", true, true}, {"editor", false, true}};
    for (const auto& c : cases) {
        if (c.editor && !editor.isVisible()) {
            form.actionServerAdd->trigger();
            ASSERT_TRUE(editor.isVisible());
        }
        QWidget* const front = c.editor ? static_cast<QWidget*>(&editor) : &form;
        for (const auto& [way, run] : ways) {
            SCOPED_TRACE(std::string(way) + ", minimised: " + c.label);
            if (c.window) {
                form.setWindowState(Qt::WindowMinimized);
            }
            if (c.editor) {
                editor.setWindowState(Qt::WindowMinimized);
            }
            // The tray menu offers Show, as for a hidden window.
            EXPECT_TRUE(form.actionShow->isEnabled());
            EXPECT_FALSE(form.actionHide->isEnabled());
            run();
            EXPECT_TRUE(form.isVisible());
            EXPECT_FALSE(form.isMinimized());
            EXPECT_FALSE(editor.isMinimized());
            EXPECT_EQ(editor.isVisible(), c.editor);
            EXPECT_FALSE(form.actionShow->isEnabled());
            EXPECT_TRUE(form.actionHide->isEnabled());
            EXPECT_TRUE(WaitUntil([&] { return QApplication::activeWindow() == front; }, 2000));
        }
    }
    // Activating the disabled window (its taskbar button) brings its minimised editor back.
    editor.setWindowState(Qt::WindowMinimized);
    form.activateWindow();
    EXPECT_TRUE(WaitUntil(
        [&] { return !editor.isMinimized() && QApplication::activeWindow() == &editor; }, 2000));
    editor.buttonCancel->click();
    EXPECT_TRUE(form.isEnabled());
    // A shown window still toggles: the tray activation and the hot key hide it.
    Q_EMIT form.TrayIcon->DoubleClicked();
    EXPECT_FALSE(form.isVisible());
    form.SecondStart();
    EXPECT_TRUE(form.isVisible());
    form.HotKeyPressed(form.HotkeyId());
    EXPECT_FALSE(form.isVisible());
}

TEST_F(MainWindowTest, ActivateDeactivateAndActivateAll) {
    WriteConfig();
    WriteList({{"a"}, {"b", "http://x/", false}, {"c", "http://x/", false}});
    gui::TMainForm& form = Start();
    form.setServer.Edit();
    form.setServer.SetString(TField::Status, "OK");
    form.setServer.SetString(TField::Result, "OK");
    form.setServer.Post(); // the cursor rests on "c"

    form.actionServerActivate->trigger();
    form.setServer.First();
    form.actionServerDeactivate->trigger();
    // Deactivating keeps the last status, description and load time.
    EXPECT_EQ(ListRows(), (std::vector<std::string>{"a||Waiting...|-1|off", "b||Waiting...|-1|off",
                                                    "c|OK|OK|-1|on"}));

    form.timerCheck->stop();
    form.actionServerActivateAll->trigger();
    EXPECT_EQ(ListRows(), (std::vector<std::string>{"a||Waiting...|-1|on", "b||Waiting...|-1|on",
                                                    "c|OK|OK|-1|on"}));
    EXPECT_TRUE(form.timerCheck->isActive());
    EXPECT_EQ(form.setServer.RecNo(), 2);
    EXPECT_EQ(form.gridLink->currentIndex().row(), 2);
}

TEST_F(MainWindowTest, GridKeysFollowTheListAndCtrlDeleteDoesNothing) {
    WriteConfig();
    WriteList({{"a"}, {"b"}, {"c"}});
    gui::TMainForm& form = Start();
    form.show();
    form.setServer.First();
    QApplication::processEvents();
    EXPECT_EQ(form.gridLink->currentIndex().row(), 0);

    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QApplication::sendEvent(form.gridLink, &down);
    EXPECT_EQ(form.setServer.RecNo(), 1);

    Boxes();
    QKeyEvent ctrlDelete(QEvent::KeyPress, Qt::Key_Delete, Qt::ControlModifier);
    QApplication::sendEvent(form.gridLink, &ctrlDelete);
    EXPECT_EQ(form.setServer.RecordCount(), 3);
    EXPECT_TRUE(Boxes().empty());

    // A click on the blank part of the grid, or a Ctrl+click on the selected row, leaves the
    // current record selected.
    QWidget* blank = form.gridLink->viewport();
    const QPoint below(5, blank->height() - 2);
    for (const Qt::KeyboardModifiers mods : {Qt::NoModifier, Qt::ControlModifier}) {
        const QPoint at = mods == Qt::NoModifier
                              ? below
                              : form.gridLink->visualRect(form.gridLink->currentIndex()).center();
        QMouseEvent press(QEvent::MouseButtonPress, at, blank->mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, mods);
        QMouseEvent release(QEvent::MouseButtonRelease, at, blank->mapToGlobal(at), Qt::LeftButton,
                            Qt::NoButton, mods);
        QApplication::sendEvent(blank, &press);
        QApplication::sendEvent(blank, &release);
        const QModelIndexList selected = form.gridLink->selectionModel()->selectedRows();
        ASSERT_EQ(selected.size(), 1) << "modifiers " << mods.toInt();
        EXPECT_EQ(selected.front().row(), form.setServer.RecNo());
    }

    // During a run the grid takes no key.
    form.View().SetGridEnabled(false);
    QKeyEvent up(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier);
    QApplication::sendEvent(form.gridLink, &up);
    EXPECT_EQ(form.setServer.RecNo(), 1);
}

} // namespace
} // namespace qrv::test
