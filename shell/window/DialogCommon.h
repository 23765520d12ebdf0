#pragma once

#include "shell/window/Guarded.h"

#include <QDialog>
#include <QRect>
#include <QString>

#include <algorithm>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class QLabel;
class QWidget;

namespace qrv::gui {

// What every window of this folder shares: a fixed client area, a title bar without buttons,
// Tahoma 8 point, an owner window that is not the Qt parent, labels that grow to their text,
// and keys that never press a button by themselves.
class TFixedDialog : public QDialog {
    Q_OBJECT

public:
    TFixedDialog(QWidget* owner, int clientWidth, int clientHeight);
    ~TFixedDialog() override;

protected:
    // Runs once for every showing, before the window appears (not for the platform's own
    // re-exposures of a shown window).
    virtual void FormShow() {}

    // A label at a designed place that widens (never narrows) to fit its text, as the designed
    // labels size themselves to their text, up to the control beside it (FitLabel).
    QLabel* AddLabel(const char* name, const char* text, QRect designed);
    void FitLabels();

    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;

    QWidget* owner_;

private:
    std::vector<std::pair<QLabel*, QRect>> labels_;
};

// The catalogue text of `text` as a QString.
QString Tr(std::string_view text);

// The "Form error" box owned by `owner`: "Correct the following errors:", CR, then `errors`
// (each message already followed by its CR); warning icon, one OK button.
void ShowFormError(QWidget* owner, const std::string& errors);

// Translates a window at its creation; a catalogue failure leaves it in English.
void TranslateWindow(QWidget* window);

} // namespace qrv::gui
