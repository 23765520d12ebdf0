#pragma once

#include "shell/window/DialogCommon.h"

class QLabel;
class QPushButton;

namespace qrv::gui {

// The about dialog, shown without waiting. `parent` is its owner window for placement only
// (not the Qt parent, so that a disabled main window cannot disable it); the caller owns it.
class TFormAbout : public TFixedDialog {
    Q_OBJECT

public:
    explicit TFormAbout(QWidget* parent);
    ~TFormAbout() override;

    void Label2Click();  // opens the vendor's "about" page
    void Button1Click(); // hides the dialog

    QLabel* Image1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QPushButton* Button1 = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void RenderLogo();  // at the device pixel ratio of the dialog's screen
    void ApplyGround(); // the window colour is the palette's base colour
};

} // namespace qrv::gui
