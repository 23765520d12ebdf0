#include "DialogTestSupport.h"

#include "dialogs/About.h"
#include "dialogs/Servers.h"
#include "dialogs/Settings.h"
#include "dialogs/Update.h"
#include "engine/ServerList.h"
#include "i18n/Translate.h"
#include "i18n/qt/WindowTranslation.h"
#include "platform/Registry.h"
#include "shell/AppConfig.h"
#include "shell/window/MessageBox.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace qrv::test {
namespace {

const std::vector<std::pair<std::string, std::string>> kCzech = {
    {"Server name", "Název serveru"},
    {"Cancel", "Storno"},
    {"Application settings", "Nastavení aplikace"},
    {"Save && use", "Uložit && použít"},
    {"1 - On load error ", "1 - Při chybě načtení "},
    {"Check for update", "Kontrolovat aktualizace"},
    {"About", "O aplikaci"},
    {"New version available", "K dispozici je nová verze"},
    {"Download now", "Stáhnout"},
    {"Add new server", "Přidat nový server"},
    {"Enter server name", "Zadejte název serveru"},
    {"Form error", "Chyba formuláře"},
    {"Correct the following errors:", "Opravte následující chyby:"},
};

// Saving the settings with another language re-translates every window, open or not, and a
// second change brings back the English texts remembered at creation.
TEST(DialogTranslation, ALanguageSavedInTheSettingsRetranslatesEveryWindow) {
    TScopedConfigDir config;
    TTempDir catalogues;
    UseTestCatalogues(catalogues, kCzech);
    gui::MessageBoxSeam::Reset();
    gui::MessageBoxSeam::SetUnattended(true);
    shell::WriteDefaultConfig();
    shell::LoadConfig();

    engine::TServerList list;
    list.CreateEmpty();
    QTimer timerCheck;
    QWidget mainForm;
    mainForm.show();
    gui::TFormServers servers(list, timerCheck, &mainForm);
    std::unique_ptr<gui::TformSettings> settings;
    gui::TFormAbout about(&mainForm);
    gui::TFormUpdate update(&mainForm);
    const auto applySettings = [&] {
        i18n::SelectLanguage(shell::AppConfig().Language);
        for (QObject* window :
             std::initializer_list<QObject*>{&servers, settings.get(), &about, &update}) {
            i18n::RetranslateComponent(window);
        }
    };
    settings = std::make_unique<gui::TformSettings>(applySettings, &mainForm);
    about.show();
    update.ShowNewVersion("2.0");

    const auto saveLanguage = [&](const char* code) {
        settings->show();
        settings->comboLanguage->setCurrentIndex(
            settings->comboLanguage->findText(QString::fromLatin1(code)));
        settings->buttonSave->click();
        ASSERT_FALSE(settings->isVisible());
        ASSERT_EQ(i18n::CurrentLanguage(), code);
    };

    saveLanguage("cs");
    EXPECT_EQ(servers.labelName->text(), QStringLiteral("Název serveru"));
    EXPECT_EQ(servers.buttonCancel->text(), QStringLiteral("Storno"));
    EXPECT_EQ(settings->windowTitle(), QStringLiteral("Nastavení aplikace"));
    EXPECT_EQ(settings->labelTitle->text(), QStringLiteral("Nastavení aplikace"));
    EXPECT_EQ(settings->buttonSave->text(), QStringLiteral("Uložit && použít"));
    EXPECT_EQ(settings->labelUpdate->text(), QStringLiteral("Kontrolovat aktualizace"));
    EXPECT_EQ(settings->comboBalloonLevel->itemText(1), QStringLiteral("1 - Při chybě načtení "));
    EXPECT_EQ(settings->comboBalloonLevel->count(), 9);
    EXPECT_EQ(settings->comboLanguage->count(), 2); // codes are not texts
    EXPECT_EQ(about.windowTitle(), QStringLiteral("O aplikaci"));
    EXPECT_EQ(update.windowTitle(), QStringLiteral("K dispozici je nová verze"));
    EXPECT_EQ(update.buttonDownload->text(), QStringLiteral("Stáhnout"));
    // Re-translation restores the remembered design texts, version labels included.
    EXPECT_EQ(update.labelVersionLastest->text(), QStringLiteral("labelVersionLastest"));

    // Texts set at run time are looked up when they are set.
    servers.PrepareAdd();
    EXPECT_EQ(servers.windowTitle(), QStringLiteral("Přidat nový server"));
    servers.editName->clear();
    servers.buttonOK->click();
    const auto shown = gui::MessageBoxSeam::TakeShown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Caption, "Chyba formuláře");
    EXPECT_EQ(shown[0].Text, "Opravte následující chyby:\rZadejte název serveru\r");
    servers.buttonCancel->click();

    saveLanguage("en");
    EXPECT_EQ(servers.labelName->text(), QStringLiteral("Server name"));
    EXPECT_EQ(settings->buttonSave->text(), QStringLiteral("Save && use"));
    EXPECT_EQ(settings->comboBalloonLevel->itemText(1), QStringLiteral("1 - On load error "));
    EXPECT_EQ(about.windowTitle(), QStringLiteral("About"));
    EXPECT_EQ(update.buttonDownload->text(), QStringLiteral("Download now"));
}

} // namespace
} // namespace qrv::test
