#pragma once

#include "shell/window/DialogCommon.h"

#include <string>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace qrv::engine {
class TServerList;
}

namespace qrv::gui {

// The server editor `FormServers`: adds a server to `setServer` or changes the one under the
// list's cursor. Created once at program start and only shown and hidden afterwards.
//
// `mainForm` is the main window that the editor disables while it is open; it is the editor's
// owner window for placement only, not its Qt parent (a disabled parent would disable the
// editor too), so the caller owns the editor.
class TFormServers : public TFixedDialog {
    Q_OBJECT

public:
    TFormServers(qrv::engine::TServerList& setServer, QTimer& timerCheck, QWidget* mainForm);
    ~TFormServers() override;

    // Each fills the editor, stops `timerCheck`, disables the main window and shows the editor
    // without waiting. Leaving by either button enables the main window again and restarts
    // `timerCheck` (a full interval).
    void PrepareAdd();
    void PrepareEdit(); // from the row under the list's cursor

    // Handlers, public so that the main window and tests can drive them like the buttons.
    void buttonOKClick();
    void buttonCancelClick();
    void checkboxTimeoutClick();
    void checkboxResponseClick();

    // "add" or "edit"; empty until the editor is first prepared.
    const std::string& EditorMode() const { return editorMode_; }

    // Components, named as in the window's design.
    QLabel* labelTitle = nullptr;
    QLabel* labelName = nullptr;
    QLabel* labelURL = nullptr;
    QLabel* labelTimeout = nullptr;
    QLabel* labelTimeoutEnabled = nullptr;
    QLabel* labelResponse = nullptr;
    QLabel* labelResponseEnabled = nullptr;
    QLineEdit* editName = nullptr;
    QLineEdit* editURL = nullptr;
    QLineEdit* editTimeout = nullptr;
    QCheckBox* checkboxTimeout = nullptr;
    QPlainTextEdit* memoResponse = nullptr;
    QCheckBox* checkboxResponse = nullptr;
    QPushButton* buttonCancel = nullptr;
    QPushButton* buttonOK = nullptr;

private:
    void SetCaption(const std::string& text);
    // Every opening starts in the name field with its text selected, whatever had the focus
    // when the editor was last left.
    void FocusName();
    void Resume();

    qrv::engine::TServerList& setServer_;
    QTimer& timerCheck_;
    QWidget* mainForm_;
    std::string editorMode_;
};

} // namespace qrv::gui
