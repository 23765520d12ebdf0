#include "dialogs/Settings.h"

#include "i18n/Translate.h"
#include "platform/Error.h"
#include "platform/IntConv.h"
#include "platform/Registry.h"
#include "shell/AppConfig.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <string>

namespace qrv::gui {

namespace {

constexpr int kLabelLeft = 32;
constexpr int kInputLeft = 152;
constexpr int kInputWidth = 193;
constexpr int kEditHeight = 21;
constexpr int kBalloonEntries = 9;

QLineEdit* MakeEdit(QWidget* parent, const char* name, const char* text, int top) {
    auto* edit = new QLineEdit(QString::fromUtf8(text), parent);
    edit->setObjectName(QString::fromUtf8(name));
    edit->setGeometry(kInputLeft, top, kInputWidth, kEditHeight);
    return edit;
}

QCheckBox* MakeCheckBox(QWidget* parent, const char* name, int top) {
    auto* box = new QCheckBox(parent);
    box->setObjectName(QString::fromUtf8(name));
    box->setGeometry(kInputLeft, top, 17, 17);
    return box;
}

QComboBox* MakeCombo(QWidget* parent, const char* name, int top, int visibleRows) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QString::fromUtf8(name));
    combo->setEditable(false);
    combo->setGeometry(kInputLeft, top, kInputWidth, kEditHeight);
    combo->setMaxVisibleItems(visibleRows);
    // Styles that open a drop-down list as a menu of every entry (Fusion among them) ignore
    // the number of rows; the list form keeps it.
    combo->setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
    return combo;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* text, int left) {
    auto* button = new QPushButton(QString::fromUtf8(text), parent);
    button->setObjectName(QString::fromUtf8(name));
    button->setGeometry(left, 464, 75, 25);
    button->setAutoDefault(false);
    return button;
}

void Write(bool written, const shell::TConfigValue& value) {
    if (!written) {
        throw Error("Failed to set data for '" + std::string(value.Name) + "'");
    }
}

} // namespace

TformSettings::TformSettings(std::function<void()> applySettings, QWidget* mainForm)
    : TFixedDialog(mainForm, 383, 508), applySettings_(std::move(applySettings)),
      mainForm_(mainForm) {
    setObjectName(QStringLiteral("formSettings"));
    setWindowTitle(QStringLiteral("Application settings"));

    labelTitle = AddLabel("labelTitle", "Application settings", QRect(144, 8, 200, 23));
    QFont titleFont(QStringLiteral("Tahoma"));
    titleFont.setPixelSize(19);
    labelTitle->setFont(titleFont);

    const auto label = [this](const char* name, const char* text, int top) {
        return AddLabel(name, text, QRect(kLabelLeft, top, 100, 13));
    };
    labelVerifyURL = label("labelVerifyURL", "Verify URL", 68);
    labelVerifyEnabled = label("labelVerifyEnabled", "Verify enabled", 93);
    labelCheckInterval = label("labelCheckInterval", "Check interval", 135);
    labelLogFile = label("labelLogFile", "Log file", 175);
    labelLogEnabled = label("labelLogEnabled", "Log enabled", 200);
    labelBalloonLevel = label("labelBalloonLevel", "Balloon level", 242);
    labelAfterStart = label("labelAfterStart", "Start after run", 280);
    labelHotkeyEnabled = label("labelHotkeyEnabled", "Hotkey enabled", 320);
    labelHotkey = AddLabel("labelHotkey", "CTRL + ALT + W", QRect(196, 320, 90, 13));
    labelLanguage = label("labelLanguage", "Language", 362);
    labelUpdate = label("labelUpdate", "Check for update", 400);

    editVerifyURL = MakeEdit(this, "editVerifyURL", "http://", 64);
    checkboxVerifyEnabled = MakeCheckBox(this, "checkboxVerifyEnabled", 91);
    editCheckInterval = MakeEdit(this, "editCheckInterval", "60", 131);
    editLogFile = MakeEdit(this, "editLogFile", "./Quorvane.log", 171);
    checkboxLogEnabled = MakeCheckBox(this, "checkboxLogEnabled", 198);
    comboBalloonLevel = MakeCombo(this, "comboBalloonLevel", 238, 5);
    checkboxAfterStart = MakeCheckBox(this, "checkboxAfterStart", 278);
    checkboxHotkeyEnabled = MakeCheckBox(this, "checkboxHotkeyEnabled", 318);
    comboLanguage = MakeCombo(this, "comboLanguage", 358, 2);
    checkboxUpdate = MakeCheckBox(this, "checkboxUpdate", 398);
    buttonCancel = MakeButton(this, "buttonCancel", "Cancel", kInputLeft);
    // "&&" is the catalogue's form and shows as a single "&".
    buttonSave = MakeButton(this, "buttonSave", "Save && use", 270);

    // The position of an entry is the stored level; the last four are empty on purpose.
    comboBalloonLevel->addItems(
        {QStringLiteral("0 - Never"), QStringLiteral("1 - On load error "),
         QStringLiteral("2 - On wrong response"), QStringLiteral("3 - On slow load"),
         QStringLiteral("4 - On offline station"), QString(), QString(), QString(), QString()});

    setTabOrder(editVerifyURL, editLogFile);
    setTabOrder(editLogFile, editCheckInterval);
    setTabOrder(editCheckInterval, checkboxLogEnabled);
    setTabOrder(checkboxLogEnabled, buttonSave);
    setTabOrder(buttonSave, buttonCancel);
    setTabOrder(buttonCancel, checkboxAfterStart);
    setTabOrder(checkboxAfterStart, comboBalloonLevel);
    setTabOrder(comboBalloonLevel, checkboxHotkeyEnabled);
    setTabOrder(checkboxHotkeyEnabled, checkboxVerifyEnabled);
    setTabOrder(checkboxVerifyEnabled, comboLanguage);
    setTabOrder(comboLanguage, checkboxUpdate);

    connect(checkboxVerifyEnabled, &QCheckBox::toggled, this,
            [this] { checkboxVerifyEnabledClick(); });
    connect(checkboxLogEnabled, &QCheckBox::toggled, this, [this] { checkboxLogEnabledClick(); });
    connect(buttonSave, &QPushButton::clicked, this, [this] { buttonSaveClick(); });
    connect(buttonCancel, &QPushButton::clicked, this, [this] { buttonCancelClick(); });

    TranslateWindow(this);

    // Language codes are not translated: the list is filled after the translation, once.
    comboLanguage->clear();
    std::vector<std::string> languages;
    Guarded([&] { languages = i18n::ListLanguages(); });
    std::sort(languages.begin(), languages.end(), [](const std::string& a, const std::string& b) {
        return QString::fromStdString(a).compare(QString::fromStdString(b), Qt::CaseInsensitive) <
               0;
    });
    for (const std::string& code : languages) {
        comboLanguage->addItem(QString::fromStdString(code));
    }
    comboLanguage->setCurrentIndex(-1);
    comboBalloonLevel->setCurrentIndex(-1);
}

TformSettings::~TformSettings() = default;

void TformSettings::FormShow() {
    if (mainForm_ != nullptr) {
        mainForm_->setEnabled(false);
    }
    Guarded([this] { LoadSettings(); });
}

void TformSettings::LoadSettings() {
    using shell::ReadConfigFlag;
    using shell::ReadConfigNumber;
    using shell::ReadConfigText;
    namespace config = shell::config;

    if (auto key = platform::TRegistryKey::Create(shell::kConfigKey, false)) {
        editVerifyURL->setText(
            QString::fromStdString(ReadConfigText(key.get(), config::VerifyURL)));
        checkboxVerifyEnabled->setChecked(ReadConfigFlag(key.get(), config::VerifyEnabled));
        checkboxVerifyEnabledClick();

        editCheckInterval->setText(
            QString::fromStdString(ReadConfigText(key.get(), config::CheckInterval)));

        editLogFile->setText(QString::fromStdString(ReadConfigText(key.get(), config::LogFile)));
        checkboxLogEnabled->setChecked(ReadConfigFlag(key.get(), config::LogEnabled));
        checkboxLogEnabledClick();

        const std::int32_t level = ReadConfigNumber(key.get(), config::BalloonLevel);
        comboBalloonLevel->setCurrentIndex(level >= 0 && level < kBalloonEntries ? level : -1);

        checkboxHotkeyEnabled->setChecked(ReadConfigFlag(key.get(), config::HotkeyEnabled));

        const QString language =
            QString::fromStdString(ReadConfigText(key.get(), config::Language));
        int found = -1;
        for (int i = 0; i < comboLanguage->count(); ++i) {
            if (comboLanguage->itemText(i).compare(language, Qt::CaseInsensitive) == 0) {
                found = i;
                break;
            }
        }
        comboLanguage->setCurrentIndex(found);

        checkboxUpdate->setChecked(ReadConfigFlag(key.get(), config::CheckUpdate));
        key->Close();
    }
    checkboxAfterStart->setChecked(shell::AutostartState());
}

void TformSettings::checkboxVerifyEnabledClick() {
    editVerifyURL->setEnabled(checkboxVerifyEnabled->isChecked());
}

void TformSettings::checkboxLogEnabledClick() {
    editLogFile->setEnabled(checkboxLogEnabled->isChecked());
}

void TformSettings::buttonSaveClick() {
    Guarded([this] {
        std::string errors;
        if (checkboxVerifyEnabled->isChecked() &&
            !shell::AcceptsAddress(editVerifyURL->text().toStdString(),
                                   shell::AppConfig().HttpsEnabled)) {
            errors += i18n::TranslateText("Enter valid URL for verify") + "\r";
        }
        const std::string interval = editCheckInterval->text().toStdString();
        if (!platform::StrToInt(interval)) {
            errors += i18n::TranslateText("Enter valid interval value") + "\r";
        }
        if (!errors.empty()) {
            ShowFormError(this, errors);
            return;
        }

        // A key that cannot be opened for writing (no rights) is skipped without a word.
        if (auto key = platform::TRegistryKey::Create(shell::kConfigKey, true)) {
            const int language = comboLanguage->currentIndex();
            namespace config = shell::config;
            using shell::SetConfigFlag;
            using shell::SetConfigText;
            platform::TRegistryKey& k = *key;
            Write(SetConfigText(k, config::VerifyURL, editVerifyURL->text().toStdString()),
                  config::VerifyURL);
            Write(SetConfigFlag(k, config::VerifyEnabled, checkboxVerifyEnabled->isChecked()),
                  config::VerifyEnabled);
            Write(SetConfigText(k, config::CheckInterval, interval), config::CheckInterval);
            Write(SetConfigText(k, config::LogFile, editLogFile->text().toStdString()),
                  config::LogFile);
            Write(SetConfigFlag(k, config::LogEnabled, checkboxLogEnabled->isChecked()),
                  config::LogEnabled);
            Write(SetConfigText(k, config::BalloonLevel,
                                std::to_string(comboBalloonLevel->currentIndex())),
                  config::BalloonLevel);
            Write(SetConfigFlag(k, config::HotkeyEnabled, checkboxHotkeyEnabled->isChecked()),
                  config::HotkeyEnabled);
            Write(SetConfigText(k, config::Language,
                                language >= 0 ? comboLanguage->itemText(language).toStdString()
                                              : std::string()),
                  config::Language);
            Write(SetConfigFlag(k, config::CheckUpdate, checkboxUpdate->isChecked()),
                  config::CheckUpdate);
            key->Close();
        }
        shell::SetAutostart(checkboxAfterStart->isChecked());

        shell::LoadConfig();
        if (applySettings_) {
            applySettings_();
        }
        Resume();
    });
}

void TformSettings::buttonCancelClick() {
    Guarded([this] { Resume(); });
}

void TformSettings::Resume() {
    if (mainForm_ != nullptr) {
        mainForm_->setEnabled(true);
    }
    hide();
}

} // namespace qrv::gui
