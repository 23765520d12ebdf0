#include "DialogTestSupport.h"

#include "dialogs/Settings.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "shell/AppConfig.h"
#include "shell/window/MessageBox.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <memory>

namespace qrv::test {
namespace {

using gui::TformSettings;
using gui::MessageBoxSeam::TakeShown;
using platform::TRegistryKey;
using platform::TRegValue;

constexpr char kExe[] = "/opt/Quorvane/quorvane";

TRegValue Sz(const std::string& text) {
    return {platform::REG_SZ, platform::EncodeRegString(text)};
}
TRegValue Dword(std::uint32_t v) {
    return {platform::REG_DWORD,
            {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
             static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)}};
}

class SettingsDialog : public ::testing::Test {
protected:
    void SetUp() override {
        gui::MessageBoxSeam::Reset();
        gui::MessageBoxSeam::SetUnattended(true);
        UseTestCatalogues(catalogues, {});
        shell::SetExecutablePathForTesting(kExe);
        shell::WriteDefaultConfig();
        mainForm.resize(570, 305);
        mainForm.show();
        form = std::make_unique<TformSettings>([this] { ++applied; }, &mainForm);
    }
    void TearDown() override {
        form.reset();
        TakeShown();
        shell::SetExecutablePathForTesting("");
    }

    void Store(const std::vector<std::pair<std::string, TRegValue>>& values) {
        auto key = TRegistryKey::Create(shell::kConfigKey, true);
        ASSERT_NE(key, nullptr);
        for (const auto& [name, value] : values) {
            ASSERT_TRUE(key->SetValue(name, value)) << name;
        }
    }
    std::optional<TRegValue> Stored(const std::string& name) const {
        auto key = TRegistryKey::Create(shell::kConfigKey, false);
        return key ? key->QueryValue(name) : std::nullopt;
    }
    void Open() {
        mainForm.setEnabled(false);
        form->show();
        EXPECT_TRUE(form->isVisible());
        EXPECT_FALSE(mainForm.isEnabled());
    }
    void ExpectClosed() const {
        EXPECT_FALSE(form->isVisible());
        EXPECT_TRUE(mainForm.isEnabled());
    }
    std::string Selected(QComboBox* combo) const {
        return combo->currentIndex() < 0 ? "<none>" : combo->currentText().toStdString();
    }

    TScopedConfigDir config;
    TTempDir catalogues;
    QWidget mainForm;
    int applied = 0;
    std::unique_ptr<TformSettings> form;
};

TEST_F(SettingsDialog, WindowHasTheDesignedControlsEntriesAndKeyboardOrder) {
    EXPECT_EQ(form->size(), QSize(383, 508));
    EXPECT_EQ(form->minimumSize(), form->maximumSize());
    EXPECT_FALSE(form->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(form->parentWidget(), nullptr);

    // The catalogue's "Save && use" shows a single "&" and gives the button no mnemonic.
    EXPECT_EQ(form->buttonSave->text(), QStringLiteral("Save && use"));
    EXPECT_TRUE(QKeySequence::mnemonic(form->buttonSave->text()).isEmpty());
    for (QPushButton* button : {form->buttonSave, form->buttonCancel}) {
        EXPECT_FALSE(button->isDefault());
        EXPECT_FALSE(button->autoDefault());
    }

    QStringList levels;
    for (int i = 0; i < form->comboBalloonLevel->count(); ++i) {
        levels << form->comboBalloonLevel->itemText(i);
    }
    EXPECT_EQ(
        levels,
        (QStringList{QStringLiteral("0 - Never"), QStringLiteral("1 - On load error "),
                     QStringLiteral("2 - On wrong response"), QStringLiteral("3 - On slow load"),
                     QStringLiteral("4 - On offline station"), QString(), QString(), QString(),
                     QString()}));
    EXPECT_FALSE(form->comboBalloonLevel->isEditable() || form->comboLanguage->isEditable());
    QStringList languages;
    for (int i = 0; i < form->comboLanguage->count(); ++i) {
        languages << form->comboLanguage->itemText(i);
    }
    EXPECT_EQ(languages, (QStringList{QStringLiteral("cs"), QStringLiteral("en")}));

    Open();
    const std::vector<QWidget*> expected = {
        form->editVerifyURL,         form->editLogFile,       form->editCheckInterval,
        form->checkboxLogEnabled,    form->buttonSave,        form->buttonCancel,
        form->checkboxAfterStart,    form->comboBalloonLevel, form->checkboxHotkeyEnabled,
        form->checkboxVerifyEnabled, form->comboLanguage,     form->checkboxUpdate};
    EXPECT_EQ(TabOrder(form->editVerifyURL), expected);
}

// The balloon-level list opens five rows high (its five levels; the four empty entries below
// them are scrolled to), and the language list two; whatever the style's own habit.
TEST_F(SettingsDialog, DropDownListsOpenWithTheirDesignedNumberOfRows) {
    Open();
    for (const auto& [combo, rows] :
         {std::pair{form->comboBalloonLevel, 5}, std::pair{form->comboLanguage, 2}}) {
        SCOPED_TRACE(combo->objectName().toStdString());
        combo->setCurrentIndex(0);
        combo->showPopup();
        QAbstractItemView* list = combo->view();
        ASSERT_TRUE(list->isVisible());
        const int rowHeight = list->sizeHintForRow(0);
        ASSERT_GT(rowHeight, 0);
        EXPECT_EQ(list->viewport()->height() / rowHeight, rows);
        EXPECT_EQ(list->indexAt(QPoint(2, list->viewport()->height() - 2)).row(), rows - 1);
        combo->hidePopup();
    }
}

TEST_F(SettingsDialog, LanguageListIsBuiltOnceAtCreation) {
    // A catalogue that appears later is not offered until the next start.
    WriteText(catalogues.Path() / "locale" / "de" / "LC_MESSAGES" / "default.mo",
              ReadText(catalogues.Path() / "locale" / "en" / "LC_MESSAGES" / "default.mo"));
    Open();
    EXPECT_EQ(form->comboLanguage->count(), 2);
    EXPECT_EQ(form->comboLanguage->findText(QStringLiteral("de")), -1);
    form->buttonCancel->click();

    TformSettings later([] {}, &mainForm);
    EXPECT_EQ(later.comboLanguage->count(), 3);
    EXPECT_EQ(later.comboLanguage->itemText(0), QStringLiteral("cs"));
    EXPECT_EQ(later.comboLanguage->itemText(1), QStringLiteral("de"));
}

TEST_F(SettingsDialog, ControlsKeepTheirDesignTextsWhenTheKeyCannotBeOpened) {
    std::filesystem::remove(config.KeyFile());
    std::filesystem::create_directories(config.KeyFile()); // a folder where the file should be
    Open();
    EXPECT_EQ(form->editVerifyURL->text(), QStringLiteral("http://"));
    EXPECT_EQ(form->editCheckInterval->text(), QStringLiteral("60"));
    EXPECT_EQ(form->editLogFile->text(), QStringLiteral("./Quorvane.log"));
    EXPECT_FALSE(form->checkboxAfterStart->isChecked());
    EXPECT_TRUE(TakeShown().empty());
}

TEST_F(SettingsDialog, EveryShowingLoadsTheControlsFromTheRegistry) {
    Open(); // the defaults
    EXPECT_EQ(form->editVerifyURL->text(), QStringLiteral("http://"));
    EXPECT_FALSE(form->checkboxVerifyEnabled->isChecked() || form->editVerifyURL->isEnabled());
    // That folder does not exist here, so the log goes to the user's data folder.
    EXPECT_EQ(form->editLogFile->text().toStdString(),
              platform::ResolveProgramDataDir("/opt/Quorvane") + "/QRV.log");
    EXPECT_TRUE(form->checkboxLogEnabled->isChecked() && form->editLogFile->isEnabled());
    EXPECT_FALSE(form->checkboxHotkeyEnabled->isChecked() || form->checkboxAfterStart->isChecked());
    EXPECT_TRUE(form->checkboxUpdate->isChecked());
    form->buttonCancel->click();

    Store({{"VerifyEnabled", Dword(1)},
           {"LogEnabled", Dword(0)},
           {"HotkeyEnabled", Dword(7)},
           {"CheckUpdate", Dword(0)},
           {"VerifyURL", Sz("http://verify.example/")},
           {"LogFile", {platform::REG_EXPAND_SZ, platform::EncodeRegString("%TEMP%\\q.log")}}});
    Open();
    EXPECT_TRUE(form->checkboxVerifyEnabled->isChecked() && form->editVerifyURL->isEnabled());
    EXPECT_EQ(form->editVerifyURL->text(), QStringLiteral("http://verify.example/"));
    EXPECT_FALSE(form->checkboxLogEnabled->isChecked() || form->editLogFile->isEnabled());
    EXPECT_EQ(form->editLogFile->text(), QStringLiteral("%TEMP%\\q.log")); // not expanded
    EXPECT_TRUE(form->checkboxHotkeyEnabled->isChecked());
    EXPECT_FALSE(form->checkboxUpdate->isChecked());
    form->buttonCancel->click();

    struct TRow {
        std::string Interval, Level, Language;
        int LevelShown;
        std::string LanguageShown;
    };
    const std::vector<TRow> rows = {
        {"300", "3", "en", 3, "en"},  {" 0x1F", "7", "CS", 7, "cs"}, {"-4", "8", "de", 8, "<none>"},
        {"0", "9", "", -1, "<none>"}, {"x", "-1", "En", -1, "en"},   {"", "$4", "cs", 4, "cs"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Interval + "/" + row.Level + "/" + row.Language);
        Store({{"CheckInterval", Sz(row.Interval)},
               {"BalloonLevel", Sz(row.Level)},
               {"Language", Sz(row.Language)}});
        Open();
        EXPECT_EQ(form->editCheckInterval->text().toStdString(), row.Interval); // as stored
        EXPECT_EQ(form->comboBalloonLevel->currentIndex(), row.LevelShown);
        EXPECT_EQ(Selected(form->comboLanguage), row.LanguageShown);
        form->buttonCancel->click();
        ExpectClosed();
    }
    EXPECT_EQ(applied, 0);
    EXPECT_TRUE(TakeShown().empty());
}

TEST_F(SettingsDialog, SaveWritesEveryValueInOrderAndFormThenReloadsAndApplies) {
    // Only Version stored: every other value is written afresh, so the file shows the order.
    std::filesystem::remove(config.KeyFile());
    Store({{"Version", Sz("0.9.18")}});
    Open(); // loading stops at the first missing flag; the user fills in the rest
    form->editVerifyURL->setText(QStringLiteral("not validated"));
    form->editCheckInterval->setText(QStringLiteral("  0012"));
    form->editLogFile->setText(QStringLiteral("/var/log/q\u00e9.log"));
    form->checkboxLogEnabled->setChecked(true);
    form->comboBalloonLevel->setCurrentIndex(-1);
    form->checkboxHotkeyEnabled->setChecked(true);
    form->comboLanguage->setCurrentIndex(form->comboLanguage->findText(QStringLiteral("cs")));
    form->checkboxUpdate->setChecked(false);
    form->buttonSave->click();

    EXPECT_TRUE(TakeShown().empty());
    ExpectClosed();
    EXPECT_EQ(applied, 1);
    auto key = TRegistryKey::Create(shell::kConfigKey, false);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->ValueNames(),
              (std::vector<std::string>{"Version", "VerifyURL", "VerifyEnabled", "CheckInterval",
                                        "LogFile", "LogEnabled", "BalloonLevel", "HotkeyEnabled",
                                        "Language", "CheckUpdate"}));
    const std::vector<std::pair<std::string, TRegValue>> expected = {
        {"VerifyURL", Sz("not validated")}, {"VerifyEnabled", Dword(0)},
        {"CheckInterval", Sz("  0012")},    {"LogFile", Sz("/var/log/q\u00e9.log")},
        {"LogEnabled", Dword(1)},           {"BalloonLevel", Sz("-1")},
        {"HotkeyEnabled", Dword(1)},        {"Language", Sz("cs")},
        {"CheckUpdate", Dword(0)},
    };
    for (const auto& [name, value] : expected) {
        EXPECT_EQ(key->QueryValue(name), value) << name;
    }
    // The configuration in memory is what was just written.
    const shell::TAppConfig now = shell::AppConfig();
    EXPECT_EQ(now.CheckInterval, 12);
    EXPECT_EQ(now.BalloonLevel, -1);
    EXPECT_EQ(now.Language, "cs");
    EXPECT_TRUE(now.HotkeyEnabled);
    EXPECT_FALSE(now.CheckUpdate);
}

TEST_F(SettingsDialog, SelectionsThatCameFromTheRegistryAreSavedBackInTheirListedForm) {
    const std::vector<std::tuple<const char*, std::string, std::string, std::string, std::string>>
        rows = {
            // case, stored level, stored language, saved level, saved language
            {"empty entry and capitals", "7", "CS", "7", "cs"},
            {"out of range and unknown", "12", "de", "-1", ""},
            {"hexadecimal level", "0x2", "En", "2", "en"},
        };
    for (const auto& [what, level, language, savedLevel, savedLanguage] : rows) {
        SCOPED_TRACE(what);
        Store({{"BalloonLevel", Sz(level)}, {"Language", Sz(language)}});
        Open();
        form->buttonSave->click();
        ExpectClosed();
        EXPECT_EQ(Stored("BalloonLevel"), Sz(savedLevel));
        EXPECT_EQ(Stored("Language"), Sz(savedLanguage));
    }
}

struct TValidationRow {
    const char* Case;
    bool VerifyOn;
    const char* VerifyURL;
    const char* Interval;
    std::vector<std::string> Errors;
};

TEST_F(SettingsDialog, ValidationNamesEveryFailedRuleAndWritesNothing) {
    const std::vector<TValidationRow> rows = {
        {"verify off skips the address", false, "", "60", {}},
        {"verify off, malformed address", false, "ftp:", "60", {}},
        {"verify on, https", true, "https://x", "60", {"Enter valid URL for verify"}},
        {"verify on, short", true, "http:/", "60", {"Enter valid URL for verify"}},
        {"verify on, bare scheme", true, "http://", "60", {}},
        {"interval empty", false, "", "", {"Enter valid interval value"}},
        {"interval not a number", false, "", "5 min", {"Enter valid interval value"}},
        {"interval zero", false, "", "0", {}},
        {"interval negative", false, "", "-5", {}},
        {"interval hexadecimal", false, "", "$A", {}},
        {"both fail, verify first",
         true,
         "HTTP://x",
         "x",
         {"Enter valid URL for verify", "Enter valid interval value"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Case);
        shell::WriteDefaultConfig();
        const std::string before = ReadText(config.KeyFile());
        Open();
        form->checkboxVerifyEnabled->setChecked(row.VerifyOn);
        form->editVerifyURL->setText(QString::fromUtf8(row.VerifyURL));
        form->editCheckInterval->setText(QString::fromUtf8(row.Interval));
        const int appliedBefore = applied;
        form->buttonSave->click();
        const auto shown = TakeShown();
        if (row.Errors.empty()) {
            EXPECT_TRUE(shown.empty());
            ExpectClosed();
            EXPECT_EQ(applied, appliedBefore + 1);
            EXPECT_EQ(Stored("CheckInterval"), Sz(row.Interval));
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
        EXPECT_TRUE(form->isVisible());
        EXPECT_FALSE(mainForm.isEnabled());
        EXPECT_EQ(applied, appliedBefore);
        EXPECT_EQ(ReadText(config.KeyFile()), before);
        EXPECT_EQ(form->editCheckInterval->text(), QString::fromUtf8(row.Interval));
        form->buttonCancel->click();
    }
}

// The https switch lives in the same key, outside the dialog: a save leaves it as it was, and
// the verify rule takes https:// exactly while the configuration in force has it on.
TEST_F(SettingsDialog, TheHttpsSwitchIsKeptBySavesAndWidensTheVerifyRule) {
    const auto save = [this](const char* url) {
        Open();
        form->checkboxVerifyEnabled->setChecked(true);
        form->editVerifyURL->setText(QString::fromUtf8(url));
        form->buttonSave->click();
        const auto shown = TakeShown();
        if (shown.empty()) {
            ExpectClosed();
            EXPECT_EQ(Stored("VerifyURL"), Sz(url));
            return std::string();
        }
        form->buttonCancel->click();
        return shown[0].Text;
    };
    const std::string refused = "Correct the following errors:\rEnter valid URL for verify\r";

    Store({{shell::kHttpsEnabled, Dword(2)}});
    shell::LoadConfig();
    EXPECT_EQ(save("https://v.example/"), "");
    EXPECT_EQ(Stored(shell::kHttpsEnabled), Dword(2));
    EXPECT_TRUE(shell::AppConfig().HttpsEnabled); // reloaded by the save
    EXPECT_EQ(save("HTTPS://v.example/"), refused);
    EXPECT_EQ(save("https:/v.example/"), refused);

    auto key = TRegistryKey::Create(shell::kConfigKey, true);
    ASSERT_TRUE(key && key->SetValue(shell::kHttpsEnabled, Sz("1")));
    shell::LoadConfig();
    EXPECT_EQ(save("https://v.example/"), refused);
    EXPECT_EQ(save("http://v.example/"), "");
    EXPECT_EQ(Stored(shell::kHttpsEnabled), Sz("1"));
    EXPECT_FALSE(shell::AppConfig().HttpsEnabled);
}

TEST_F(SettingsDialog, AutostartEntryIsWrittenQuotedReadBackAndRemoved) {
    const std::filesystem::path entry = shell::UserAutostartFilePath();
    Open();
    EXPECT_FALSE(form->checkboxAfterStart->isChecked());
    form->checkboxAfterStart->setChecked(true);
    form->buttonSave->click();
    ExpectClosed();
    EXPECT_NE(ReadText(entry).find("Exec=\"/opt/Quorvane/quorvane\""), std::string::npos);

    Open();
    EXPECT_TRUE(form->checkboxAfterStart->isChecked());
    form->checkboxAfterStart->setChecked(false);
    form->buttonSave->click();
    EXPECT_FALSE(std::filesystem::exists(entry));

    // The same path in other letter case is somebody else's entry: shown cleared, and saving
    // with the box cleared removes it.
    WriteText(entry, "[Desktop Entry]\nType=Application\nName=Quorvane\n"
                     "Exec=\"/opt/quorvane/quorvane\"\n");
    Open();
    EXPECT_FALSE(form->checkboxAfterStart->isChecked());
    form->buttonSave->click();
    EXPECT_FALSE(std::filesystem::exists(entry));
}

TEST_F(SettingsDialog, CancelWritesNothingAndTheNextShowingReloads) {
    const std::string before = ReadText(config.KeyFile());
    Open();
    form->editCheckInterval->setText(QStringLiteral("5"));
    form->checkboxAfterStart->setChecked(true);
    form->comboLanguage->setCurrentIndex(0);
    form->buttonCancel->click();
    ExpectClosed();
    EXPECT_EQ(applied, 0);
    EXPECT_EQ(ReadText(config.KeyFile()), before);
    EXPECT_FALSE(std::filesystem::exists(shell::UserAutostartFilePath()));

    Open();
    EXPECT_EQ(form->editCheckInterval->text(), QStringLiteral("300"));
    EXPECT_FALSE(form->checkboxAfterStart->isChecked());
    EXPECT_EQ(Selected(form->comboLanguage), "en");
}

// Sets or clears the immutable attribute of a folder; even root cannot create files in an
// immutable folder. Returns false where the file system does not support it.
bool SetImmutable(const std::filesystem::path& dir, bool on) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) {
        return false;
    }
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
}

TEST_F(SettingsDialog, AKeyThatCannotBeWrittenIsSkippedWithoutAWord) {
    // A regular file where the folder of the user's key should be: the key neither opens for
    // writing nor holds anything to read back.
    const std::filesystem::path userFolder = config.KeyFile().parent_path();
    {
        std::filesystem::remove_all(userFolder);
        WriteText(userFolder, "not a folder");
        Open();
        form->editCheckInterval->setText(QStringLiteral("42"));
        form->checkboxAfterStart->setChecked(true);
        form->buttonSave->click();
        EXPECT_TRUE(TakeShown().empty());
        EXPECT_EQ(ReadText(userFolder), "not a folder");
        EXPECT_FALSE(std::filesystem::exists(config.Path() / "Ostrelle"));
        // The autostart step runs all the same.
        EXPECT_TRUE(shell::AutostartState());
        form->buttonCancel->click();
        std::filesystem::remove(userFolder);
        shell::SetAutostart(false);
    }
    // A key that can be read but not written: the previous configuration stays in force, it is
    // reloaded and re-applied, and the dialog closes.
    shell::WriteDefaultConfig();
    shell::LoadConfig();
    const std::string before = ReadText(config.KeyFile());
    const std::filesystem::path folder = config.KeyFile().parent_path();
    if (!SetImmutable(folder, true)) {
        GTEST_SKIP() << "the file system cannot make a folder immutable";
    }
    struct TUndo {
        std::filesystem::path Folder;
        ~TUndo() { SetImmutable(Folder, false); }
    } undo{folder};
    Open();
    form->editCheckInterval->setText(QStringLiteral("42"));
    form->buttonSave->click();
    EXPECT_TRUE(TakeShown().empty());
    ExpectClosed();
    EXPECT_EQ(applied, 1);
    EXPECT_EQ(ReadText(config.KeyFile()), before);
    EXPECT_EQ(shell::AppConfig().CheckInterval, 300);
}

TEST_F(SettingsDialog, AStoredValueThatCannotBeReadStopsLoadingThere) {
    Store({{"VerifyURL", Sz("http://first.example/")}, {"HotkeyEnabled", Dword(1)}});
    shell::SetAutostart(true);
    Open();
    EXPECT_TRUE(form->checkboxHotkeyEnabled->isChecked());
    EXPECT_TRUE(form->checkboxAfterStart->isChecked());
    form->buttonCancel->click();

    Store({{"VerifyURL", Sz("http://second.example/")},
           {"CheckInterval", Sz("77")},
           {"BalloonLevel", Sz("three")},
           {"HotkeyEnabled", Dword(0)}});
    shell::SetAutostart(false);
    Open();
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(form->editVerifyURL->text(), QStringLiteral("http://second.example/"));
    EXPECT_EQ(form->editCheckInterval->text(), QStringLiteral("77"));
    // Not reached: they keep what they showed before.
    EXPECT_TRUE(form->checkboxHotkeyEnabled->isChecked());
    EXPECT_TRUE(form->checkboxAfterStart->isChecked());
    EXPECT_TRUE(TakeShown().empty());
}

} // namespace
} // namespace qrv::test
