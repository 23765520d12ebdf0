#include "DialogTestSupport.h"

#include "dialogs/Servers.h"
#include "engine/ServerList.h"
#include "shell/window/MessageBox.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <memory>

namespace qrv::test {
namespace {

using engine::TField;
using gui::MessageBoxSeam::TakeShown;

// A server as the tests set it up and read it back.
struct TRecord {
    std::string Name, Status, Result, Url;
    bool Active = true;
    int LoadTime = -1;
    std::optional<int> Timeout;
    bool TimeoutEnabled = false;
    std::string Response;
    bool ResponseEnabled = false;

    bool operator==(const TRecord&) const = default;
};

void PrintTo(const TRecord& r, std::ostream* out) {
    *out << r.Name << "|" << r.Status << "|" << r.Result << "|" << r.Url << "|" << r.Active << "|"
         << r.LoadTime << "|" << (r.Timeout ? std::to_string(*r.Timeout) : "null") << "|"
         << r.TimeoutEnabled << "|" << r.Response << "|" << r.ResponseEnabled;
}

class ServerEditor : public ::testing::Test {
protected:
    void SetUp() override {
        gui::MessageBoxSeam::Reset();
        gui::MessageBoxSeam::SetUnattended(true);
        list.CreateEmpty();
        list.OnAfterInsert = [this] { ++inserts; };
        mainForm.show();
        timerCheck.setInterval(3600 * 1000);
        timerCheck.start();
        form = std::make_unique<gui::TFormServers>(list, timerCheck, &mainForm);
    }

    void Add(const TRecord& r) {
        list.Append();
        list.SetString(TField::Name, r.Name);
        list.SetString(TField::Status, r.Status);
        list.SetString(TField::Result, r.Result);
        list.SetString(TField::Url, r.Url);
        list.SetBoolean(TField::Active, r.Active);
        list.SetInteger(TField::LoadTime, r.LoadTime);
        if (r.Timeout) {
            list.SetInteger(TField::Timeout, *r.Timeout);
        }
        list.SetBoolean(TField::TimeoutEnabled, r.TimeoutEnabled);
        list.SetString(TField::Response, r.Response);
        list.SetBoolean(TField::ResponseEnabled, r.ResponseEnabled);
        list.Post();
        inserts = 0;
    }

    TRecord Current() const {
        TRecord r{list.AsString(TField::Name),
                  list.AsString(TField::Status),
                  list.AsString(TField::Result),
                  list.AsString(TField::Url),
                  list.AsBoolean(TField::Active),
                  list.AsInteger(TField::LoadTime),
                  std::nullopt,
                  list.AsBoolean(TField::TimeoutEnabled),
                  list.AsString(TField::Response),
                  list.AsBoolean(TField::ResponseEnabled)};
        if (!list.IsNull(TField::Timeout)) {
            r.Timeout = list.AsInteger(TField::Timeout);
        }
        return r;
    }

    // Open: the main window is off and the timer stopped. Left: both resumed, a full interval.
    void ExpectHeld() const {
        EXPECT_TRUE(form->isVisible());
        EXPECT_FALSE(mainForm.isEnabled());
        EXPECT_FALSE(timerCheck.isActive());
    }
    void ExpectResumed() const {
        EXPECT_FALSE(form->isVisible());
        EXPECT_TRUE(mainForm.isEnabled());
        EXPECT_TRUE(timerCheck.isActive());
        EXPECT_EQ(timerCheck.interval(), 3600 * 1000);
    }

    engine::TServerList list;
    int inserts = 0;
    QWidget mainForm;
    QTimer timerCheck;
    std::unique_ptr<gui::TFormServers> form;
};

TEST_F(ServerEditor, FixedWindowWithItsKeyboardOrderAndNoDefaultOrCancelButton) {
    EXPECT_EQ(form->size(), QSize(383, 327));
    EXPECT_EQ(form->minimumSize(), form->maximumSize());
    EXPECT_FALSE(form->windowFlags() & (Qt::WindowCloseButtonHint | Qt::WindowSystemMenuHint));
    // Not a Qt child of the main window: disabling that must leave the editor usable.
    EXPECT_EQ(form->parentWidget(), nullptr);

    form->PrepareAdd();
    EXPECT_TRUE(form->isEnabled());
    EXPECT_EQ(TabOrder(form->editName),
              (std::vector<QWidget*>{form->editName, form->editURL, form->editTimeout,
                                     form->checkboxTimeout, form->checkboxResponse,
                                     form->buttonCancel, form->buttonOK, form->memoResponse}));
    for (QWidget* target : std::vector<QWidget*>{form->editName, form->checkboxTimeout}) {
        for (const int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
            QApplication::sendEvent(target, &press);
        }
    }
    form->close(); // there is no close button; other close requests are refused
    ExpectHeld();
    EXPECT_EQ(list.RecordCount(), 0);
    EXPECT_TRUE(TakeShown().empty());
}

TEST_F(ServerEditor, AddStartsFromTheDefaultsAndStoresANewWaitingServer) {
    form->PrepareAdd();
    ExpectHeld();
    EXPECT_EQ(form->EditorMode(), "add");
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Add new server"));
    EXPECT_EQ(form->labelTitle->text(), QStringLiteral("Add new server"));
    EXPECT_EQ(form->editName->text(), QStringLiteral("New server name"));
    EXPECT_EQ(form->editURL->text(), QStringLiteral("http://"));
    EXPECT_EQ(form->editTimeout->text(), QStringLiteral("500"));
    EXPECT_TRUE(form->checkboxTimeout->isChecked() && form->editTimeout->isEnabled());
    EXPECT_EQ(form->memoResponse->toPlainText(), QStringLiteral("OK"));
    EXPECT_FALSE(form->checkboxResponse->isChecked() || form->memoResponse->isEnabled());

    form->editName->setText(QStringLiteral("Intranet"));
    form->editURL->setText(QStringLiteral("http://intranet.example/ping"));
    form->editTimeout->setText(QStringLiteral(" 750"));
    form->checkboxTimeout->click(); // cleared: the timeout is stored all the same
    form->memoResponse->setPlainText(QStringLiteral("first line\nsecond\u00a0line"));
    form->buttonOK->click();

    EXPECT_TRUE(TakeShown().empty());
    ExpectResumed();
    EXPECT_EQ(inserts, 1);
    ASSERT_EQ(list.RecordCount(), 1);
    list.First();
    EXPECT_EQ(Current(), (TRecord{"Intranet", "", "Waiting...", "http://intranet.example/ping",
                                  true, -1, 750, false, "first line\r\nsecond\u00a0line", false}));
}

TEST_F(ServerEditor, EditChangesOnlyTheSixEditedFields) {
    Add({"Alpha", "ERR_SLOW", "Slow", "http://alpha.example/", false, 912, 300, true, "a\r\nb",
         true});
    const TRecord beta{"Beta", "OK", "Fine", "http://beta.example/", true, 20, 100,
                       false,  "",   false};
    Add(beta);
    list.First();

    form->PrepareEdit();
    ExpectHeld();
    EXPECT_EQ(form->EditorMode(), "edit");
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Edit server"));
    EXPECT_EQ(form->editName->text(), QStringLiteral("Alpha"));
    EXPECT_EQ(form->editURL->text(), QStringLiteral("http://alpha.example/"));
    EXPECT_EQ(form->editTimeout->text(), QStringLiteral("300"));
    EXPECT_EQ(form->memoResponse->toPlainText(), QStringLiteral("a\nb"));
    EXPECT_TRUE(form->editTimeout->isEnabled() && form->memoResponse->isEnabled());

    form->editName->setText(QStringLiteral("Alpha 2"));
    form->editURL->setText(QStringLiteral("http://"));
    form->editTimeout->setText(QStringLiteral("$1F"));
    form->checkboxTimeout->click();
    form->checkboxResponse->click();
    form->memoResponse->setPlainText(QStringLiteral("only"));
    form->buttonOK->click();

    ExpectResumed();
    EXPECT_EQ(inserts, 0);
    ASSERT_EQ(list.RecordCount(), 2);
    list.First();
    EXPECT_EQ(Current(), (TRecord{"Alpha 2", "ERR_SLOW", "Slow", "http://", false, 912, 31, false,
                                  "only", false}));
    list.Next();
    EXPECT_EQ(Current(), beta);
}

TEST_F(ServerEditor, CancelLeavesTheListAsItWasAndRestartsTheTimer) {
    const TRecord alpha{"Alpha", "OK", "Fine", "http://a.example/", true, 5, 300, true, "x", true};
    Add(alpha);
    list.First();
    form->PrepareEdit();
    form->editName->setText(QStringLiteral("changed"));
    form->editTimeout->setText(QStringLiteral("nonsense"));
    form->checkboxResponse->click();
    form->buttonCancel->click();
    ExpectResumed();
    list.First();
    EXPECT_EQ(Current(), alpha);

    form->PrepareAdd();
    form->editName->setText(QStringLiteral("typed"));
    form->buttonCancel->click();
    ExpectResumed();
    EXPECT_EQ(list.RecordCount(), 1);
    EXPECT_EQ(inserts, 0);
    EXPECT_TRUE(TakeShown().empty());
    form->PrepareAdd(); // nothing typed in an earlier opening survives
    EXPECT_EQ(form->editName->text(), QStringLiteral("New server name"));
}

TEST_F(ServerEditor, ValidationCollectsEveryFailedRuleIntoOneBox) {
    struct TRow {
        const char *Case, *Name, *Url, *Timeout;
        std::vector<std::string> Errors; // empty: accepted
    };
    const std::vector<TRow> rows = {
        {"all three fail",
         "",
         "ftp://x",
         "0",
         {"Enter server name", "Enter valid URL", "Enter valid timeout value"}},
        {"blank name passes", "   ", "http://x", "1", {}},
        {"bare scheme passes", "n", "http://", "1", {}},
        {"scheme in capitals", "n", "HTTP://x", "1", {"Enter valid URL"}},
        {"https", "n", "https://x", "1", {"Enter valid URL"}},
        {"too short", "n", "http:/", "1", {"Enter valid URL"}},
        {"timeout zero", "n", "http://x", "0", {"Enter valid timeout value"}},
        {"timeout negative", "n", "http://x", "-5", {"Enter valid timeout value"}},
        {"timeout empty", "n", "http://x", "", {"Enter valid timeout value"}},
        {"timeout with letters", "n", "http://x", "12a", {"Enter valid timeout value"}},
        {"timeout too large", "n", "http://x", "2147483648", {"Enter valid timeout value"}},
        {"timeout hexadecimal", "n", "http://x", "0x10", {}},
        {"name and timeout",
         "",
         "http://x",
         "x",
         {"Enter server name", "Enter valid timeout value"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Case);
        form->PrepareAdd();
        form->editName->setText(QString::fromUtf8(row.Name));
        form->editURL->setText(QString::fromUtf8(row.Url));
        form->editTimeout->setText(QString::fromUtf8(row.Timeout));
        const int before = list.RecordCount();
        form->buttonOK->click();
        const auto shown = TakeShown();
        if (row.Errors.empty()) {
            EXPECT_TRUE(shown.empty());
            ExpectResumed();
            EXPECT_EQ(list.RecordCount(), before + 1);
            continue;
        }
        std::string text = "Correct the following errors:\r";
        for (const auto& error : row.Errors) {
            text += error + "\r";
        }
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].Caption, "Form error");
        EXPECT_EQ(shown[0].Text, text);
        EXPECT_EQ(shown[0].Icon, gui::TMessageIcon::Warning);
        EXPECT_EQ(shown[0].Buttons, gui::TMessageButtons::Ok);
        ExpectHeld();
        EXPECT_EQ(list.RecordCount(), before);
        EXPECT_EQ(form->editTimeout->text(), QString::fromUtf8(row.Timeout));
        form->buttonCancel->click();
    }
}

TEST_F(ServerEditor, AnEmptyTimeoutFailsWithItsBoxClearedUntilTheUserTicksAndFillsIt) {
    Add({"Old", "", "Waiting...", "http://old.example/", true, -1, std::nullopt, false, "", false});
    list.First();
    form->PrepareEdit();
    EXPECT_EQ(form->editTimeout->text(), QString());
    EXPECT_FALSE(form->checkboxTimeout->isChecked() || form->editTimeout->isEnabled());
    form->buttonOK->click();
    auto shown = TakeShown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Text, "Correct the following errors:\rEnter valid timeout value\r");
    ExpectHeld();

    // By key as well as by mouse, each box switches its field.
    form->checkboxTimeout->setFocus();
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    QApplication::sendEvent(form->checkboxTimeout, &press);
    QApplication::sendEvent(form->checkboxTimeout, &release);
    EXPECT_TRUE(form->checkboxTimeout->isChecked() && form->editTimeout->isEnabled());
    form->checkboxResponse->click();
    EXPECT_TRUE(form->memoResponse->isEnabled());
    form->checkboxResponse->click();
    EXPECT_FALSE(form->memoResponse->isEnabled());

    form->editTimeout->setText(QStringLiteral("100"));
    form->buttonOK->click();
    ExpectResumed();
    list.First();
    EXPECT_EQ(list.AsInteger(TField::Timeout), 100);
    EXPECT_TRUE(list.AsBoolean(TField::TimeoutEnabled));
}

// The editor is hidden, not destroyed, between openings: whatever had the focus when it was left
// (OK after a click on it) must not have it at the next opening, or typing presses it.
TEST_F(ServerEditor, EachOpeningStartsInTheNameFieldWithItsTextSelected) {
    Add({"Alpha", "OK", "Fine", "http://a.example/", true, 5, 300, true, "", false});
    for (const bool add : {true, false}) {
        for (QPushButton* leave : {form->buttonOK, form->buttonCancel}) {
            SCOPED_TRACE(std::string(add ? "add" : "edit") + " after " +
                         leave->objectName().toStdString());
            list.First();
            form->PrepareEdit();
            leave->setFocus(Qt::MouseFocusReason); // where a click leaves it
            leave->click();
            ExpectResumed();
            ASSERT_EQ(form->focusWidget(), leave);
            mainForm.activateWindow(); // back to the main window, as after a real editor
            ASSERT_TRUE(WaitFor([&] { return mainForm.isActiveWindow(); }, 5000));

            list.First();
            add ? form->PrepareAdd() : form->PrepareEdit();
            form->activateWindow();
            ASSERT_TRUE(WaitFor([&] { return form->isActiveWindow(); }, 5000));
            ASSERT_EQ(QApplication::focusWidget(), form->editName);
            EXPECT_EQ(form->editName->selectedText(), form->editName->text());
            // A space typed now replaces the name; it presses nothing.
            QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
            QKeyEvent spaceUp(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier,
                              QStringLiteral(" "));
            QApplication::sendEvent(QApplication::focusWidget(), &space);
            QApplication::sendEvent(QApplication::focusWidget(), &spaceUp);
            EXPECT_EQ(form->editName->text(), QStringLiteral(" "));
            ExpectHeld();
            form->buttonCancel->click();
            EXPECT_EQ(list.RecordCount(), 1);
        }
    }
    EXPECT_TRUE(TakeShown().empty());
}

} // namespace
} // namespace qrv::test
