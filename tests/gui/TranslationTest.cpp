// The windows in Czech and back to English, with the catalogues embedded into this program as
// into the real one; the names that bind the list's fields never translated.

#include "GuiTestSupport.h"

#include "TestHttpServer.h"

#include "dialogs/About.h"
#include "dialogs/Servers.h"
#include "dialogs/Settings.h"
#include "dialogs/Update.h"
#include "i18n/Translate.h"
#include "platform/CodePage.h"
#include "platform/Registry.h"
#include "resources/Pictures.h"
#include "shell/AppConfig.h"
#include "shell/app/ServerGrid.h"
#include "shell/app/TrayIcon.h"
#include "shell/window/WindowFonts.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QFontDatabase>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTableView>

namespace qrv::test {
namespace {

using TranslationTest = TGuiTest;

void SaveLanguage(gui::TMainForm& form, const std::string& language) {
    auto key = platform::TRegistryKey::Create(shell::kConfigKey, true);
    ASSERT_TRUE(key && key->SetString("Language", language));
    shell::LoadConfig();
    form.ApplySettings();
}

struct TTexts {
    std::vector<std::string> Titles;
    std::string Quit, Add, ActivateAll, ServersMenu, StatsMenu, Caption, EditorCancel,
        SettingsCaption, AboutOk, UpdateClose;
};

TTexts Read(TGuiTest& test, gui::TMainForm& form) {
    TTexts texts;
    for (int column = 1; column < 4; ++column) {
        texts.Titles.push_back(form.GridModel()
                                   .headerData(column, Qt::Horizontal, Qt::DisplayRole)
                                   .toString()
                                   .toStdString());
    }
    texts.Quit = form.actionQuit->text().toStdString();
    texts.Add = form.actionServerAdd->text().toStdString();
    texts.ActivateAll = form.actionServerActivateAll->text().toStdString();
    texts.ServersMenu = form.menuServers->title().toStdString();
    texts.StatsMenu = form.menuStats->title().toStdString();
    texts.Caption = form.windowTitle().toStdString();
    texts.EditorCancel = test.Program().FormServers().buttonCancel->text().toStdString();
    texts.SettingsCaption = test.Program().FormSettings().windowTitle().toStdString();
    texts.AboutOk = test.Program().FormAbout().Button1->text().toStdString();
    texts.UpdateClose = test.Program().FormUpdate().buttonClose->text().toStdString();
    return texts;
}

TEST_F(TranslationTest, CzechAndBackToTheRememberedEnglish) {
    WriteConfig();
    WriteList({{"a"}});
    gui::TMainForm& form = Start();
    const TTexts english = Read(*this, form);
    EXPECT_EQ(english.Titles,
              (std::vector<std::string>{"  Server", "  Load time", "  Description"}));
    EXPECT_EQ(english.Quit, "Quit");
    EXPECT_EQ(english.ServersMenu, "Servers");

    SaveLanguage(form, "cs");
    const TTexts czech = Read(*this, form);
    EXPECT_EQ(czech.Titles, (std::vector<std::string>{"Server", "Doba načtení", " Popis stavu"}));
    EXPECT_EQ(czech.Quit, "Ukončit");
    EXPECT_EQ(czech.Add, "Přidat nový");
    EXPECT_EQ(czech.ActivateAll, "Aktivovat vše");
    EXPECT_EQ(czech.ServersMenu, "Servery");
    EXPECT_EQ(czech.StatsMenu, "Statistiky");
    EXPECT_EQ(czech.Caption, "Quorvane " QRV_VERSION);
    EXPECT_EQ(czech.EditorCancel, "Zrušit");
    EXPECT_EQ(czech.SettingsCaption, "Nastavení aplikace");
    EXPECT_EQ(czech.UpdateClose, "Zavřít");

    SaveLanguage(form, "en");
    const TTexts back = Read(*this, form);
    EXPECT_EQ(back.Titles, english.Titles);
    EXPECT_EQ(back.Quit, english.Quit);
    EXPECT_EQ(back.Add, english.Add);
    EXPECT_EQ(back.ServersMenu, english.ServersMenu);
    EXPECT_EQ(back.EditorCancel, english.EditorCancel);
    EXPECT_EQ(back.SettingsCaption, english.SettingsCaption);
    EXPECT_EQ(back.AboutOk, english.AboutOk);
}

TEST_F(TranslationTest, StartingInCzechTranslatesAtCreationAndTheRuntimeTexts) {
    // Under a western locale (code page 1252) the grid still holds every Czech letter.
    const int codePage = platform::AnsiCodePage();
    platform::SetAnsiCodePage(1252);
    struct TRestore {
        int CodePage;
        ~TRestore() { platform::SetAnsiCodePage(CodePage); }
    } restore{codePage};
    WriteConfig({{"Language", std::string("cs"), {}}});
    WriteList({{"a"}});
    gui::TMainForm& form = Start();
    EXPECT_EQ(form.actionQuit->text().toStdString(), "Ukončit");
    // Start-up looked the waiting text up after selecting the configured language.
    EXPECT_EQ(form.setServer.AsStringAt(0, engine::TField::Result), "Čekám...");
}

TEST_F(TranslationTest, FieldNamesStayBoundInCzech) {
    WriteConfig();
    WriteList({{"a"}});
    gui::TMainForm& form = Start();
    form.setServer.First();
    form.setServer.Edit();
    form.setServer.SetString(engine::TField::Status, "OK");
    form.setServer.SetBoolean(engine::TField::Active, false);
    form.setServer.Post();
    SaveLanguage(form, "cs");
    ASSERT_EQ(i18n::TranslateText("Url"), "Adresa"); // or this test proves nothing

    std::vector<std::string> names;
    for (const gui::TField* field : form.findChildren<gui::TField*>()) {
        names.push_back(field->FieldName().toStdString());
    }
    std::vector<std::string> defs;
    for (const gui::TFieldDef* def : form.findChildren<gui::TFieldDef*>()) {
        defs.push_back(def->Name().toStdString());
    }
    const std::vector<std::string> expected = {
        "Name",     "Status",  "Result",         "Url",      "Active",
        "LoadTime", "Timeout", "TimeoutEnabled", "Response", "ResponseEnabled"};
    EXPECT_EQ(names, expected);
    EXPECT_EQ(defs, expected);
    // The grid still reads its fields: the name, the grey of the inactive row, the icon.
    EXPECT_EQ(form.GridModel().CellText(0, 1), "a");
    EXPECT_FALSE(form.GridModel().RowActive(0));
    EXPECT_EQ(form.GridModel().RowStatus(0), "OK");
}

TEST_F(TranslationTest, TrayHintKeepsTheLastOutcomeAcrossLanguageChanges) {
    TTestHttpServer server;
    server.Route("/ok", Reply(200, "OK"));
    WriteConfig();
    WriteList({{"good", server.Url("/ok")}});
    gui::TMainForm& form = Start();
    RunCheck();
    const std::string outcome = "Response of all websites OK. There was no problem.";
    ASSERT_EQ(form.TrayIcon->Hint(), outcome);
    EXPECT_EQ(form.TrayIcon->ShownHint(), outcome);

    // The start-up hint (the program's title) must not come back with either language.
    for (const char* language : {"cs", "en"}) {
        SaveLanguage(form, language);
        EXPECT_EQ(form.TrayIcon->Hint(), outcome) << language;
        EXPECT_EQ(form.TrayIcon->ShownHint(), outcome) << language;
    }
}

// Where a text of `window` is cut off, runs into a control beside it or past the window's edge.
std::vector<std::string> Collisions(QWidget* window) {
    std::vector<std::string> found;
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        QString text;
        if (auto* label = qobject_cast<QLabel*>(widget); label != nullptr && !label->wordWrap()) {
            text = label->text();
        } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            text = button->text();
        }
        QWidget* parent = widget->parentWidget();
        if (text.isEmpty() || widget->isHidden() || parent == nullptr || parent->isHidden() ||
            widget->isWindow()) {
            continue;
        }
        const std::string what = widget->objectName().toStdString() + " \"" + text.toStdString() +
                                 "\" (" + window->objectName().toStdString() + ")";
        const QRect at = widget->geometry();
        // A push button's size hint has a style minimum; its text needs only itself and a frame.
        const int needs = qobject_cast<QPushButton*>(widget) != nullptr
                              ? widget->fontMetrics().size(Qt::TextShowMnemonic, text).width() + 8
                              : widget->sizeHint().width();
        if (needs > at.width()) {
            found.push_back(what + " cut off: needs " + std::to_string(needs) + " px, has " +
                            std::to_string(at.width()));
        }
        if (at.right() >= parent->width()) {
            found.push_back(what + " runs past the edge");
        }
        for (QObject* child : parent->children()) {
            auto* other = qobject_cast<QWidget*>(child);
            if (other != nullptr && other != widget && !other->isHidden() && !other->isWindow() &&
                other->geometry().intersects(at) && other->geometry().left() > at.left()) {
                found.push_back(what + " runs into " + other->objectName().toStdString());
            }
        }
    }
    return found;
}

// In every shipped language, with the Tahoma the windows were laid out for and with the wider
// font that stands in for it where fonts-wine is missing.
TEST_F(TranslationTest, EveryTextFitsBesideItsControlInEveryLanguage) {
    WriteList({{"a"}});
    for (const bool tahoma : {false, true}) {
        const std::vector<int> fonts = tahoma ? gui::LoadWindowFonts() : std::vector<int>();
        if (tahoma && fonts.empty()) {
            GTEST_SKIP() << "fonts-wine is not installed";
        }
        for (const std::string& language : i18n::ListLanguages()) {
            SCOPED_TRACE(language + (tahoma ? " with Tahoma" : " without Tahoma"));
            WriteConfig({{"Language", language, {}}});
            gui::TMainForm& form = Start();
            form.show();
            std::vector<QWidget*> windows{&form, &Program().FormSettings(),
                                          &Program().FormServers(), &Program().FormAbout(),
                                          &Program().FormUpdate()};
            for (QWidget* window : windows) {
                window->show();
                QApplication::processEvents();
                EXPECT_EQ(Collisions(window), std::vector<std::string>());
                window->hide();
            }
            Stop();
        }
        for (const int id : fonts) {
            QFontDatabase::removeApplicationFont(id);
        }
    }
}

} // namespace
} // namespace qrv::test
