#pragma once

#include "shell/window/DialogCommon.h"

#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace qrv::gui {

// The settings dialog `formSettings`. Every showing loads the controls from the registry store
// (not from the configuration in memory); "Save && use" writes them back, sets or removes the
// autostart entry, reloads the configuration with shell::LoadConfig() and calls
// `applySettings` (the main window's ApplySettings).
//
// Showing the dialog disables `mainForm`; either button enables it again. As with the server
// editor, `mainForm` is the owner window for placement only, not the Qt parent; the caller owns
// the dialog.
class TformSettings : public TFixedDialog {
    Q_OBJECT

public:
    TformSettings(std::function<void()> applySettings, QWidget* mainForm);
    ~TformSettings() override;

    // Loads every control from the registry and the autostart entry; runs at every showing.
    // Throws qrv::Error when a stored value cannot be read (controls not reached keep their
    // contents).
    void LoadSettings();

    void buttonSaveClick();
    void buttonCancelClick();
    void checkboxVerifyEnabledClick();
    void checkboxLogEnabledClick();

    QLabel* labelTitle = nullptr;
    QLabel* labelVerifyURL = nullptr;
    QLabel* labelVerifyEnabled = nullptr;
    QLabel* labelCheckInterval = nullptr;
    QLabel* labelLogFile = nullptr;
    QLabel* labelLogEnabled = nullptr;
    QLabel* labelBalloonLevel = nullptr;
    QLabel* labelAfterStart = nullptr;
    QLabel* labelHotkeyEnabled = nullptr;
    QLabel* labelHotkey = nullptr;
    QLabel* labelLanguage = nullptr;
    QLabel* labelUpdate = nullptr;
    QLineEdit* editVerifyURL = nullptr;
    QCheckBox* checkboxVerifyEnabled = nullptr;
    QLineEdit* editCheckInterval = nullptr;
    QLineEdit* editLogFile = nullptr;
    QCheckBox* checkboxLogEnabled = nullptr;
    QComboBox* comboBalloonLevel = nullptr;
    QCheckBox* checkboxAfterStart = nullptr;
    QCheckBox* checkboxHotkeyEnabled = nullptr;
    QComboBox* comboLanguage = nullptr;
    QCheckBox* checkboxUpdate = nullptr;
    QPushButton* buttonCancel = nullptr;
    QPushButton* buttonSave = nullptr;

protected:
    void FormShow() override;

private:
    void Resume();

    std::function<void()> applySettings_;
    QWidget* mainForm_;
};

} // namespace qrv::gui
