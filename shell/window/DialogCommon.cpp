#include "shell/window/DialogCommon.h"

#include "i18n/Translate.h"
#include "i18n/qt/WindowTranslation.h"
#include "shell/window/MessageBox.h"
#include "shell/window/WindowFonts.h"

#include <QCloseEvent>
#include <QFont>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QWindow>

#include <exception>

namespace qrv::gui {

TFixedDialog::TFixedDialog(QWidget* owner, int clientWidth, int clientHeight)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), owner_(owner) {
    setFixedSize(clientWidth, clientHeight);
    setFont(QFont(QStringLiteral("Tahoma"), 8));
    setSizeGripEnabled(false);
}

TFixedDialog::~TFixedDialog() = default;

QLabel* TFixedDialog::AddLabel(const char* name, const char* text, QRect designed) {
    auto* label = new QLabel(QString::fromUtf8(text), this);
    label->setObjectName(QString::fromUtf8(name));
    label->setGeometry(designed);
    labels_.emplace_back(label, designed);
    return label;
}

void TFixedDialog::FitLabels() {
    for (const auto& [label, designed] : labels_) {
        FitLabel(label, designed);
    }
}

void TFixedDialog::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Escape:
        // No cancel button: Escape leaves the window open.
        event->accept();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // No default button: Enter presses only a button that has the focus itself.
        if (auto* button = qobject_cast<QPushButton*>(focusWidget());
            button != nullptr && button->window() == this && button->isEnabled()) {
            button->click();
        }
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void TFixedDialog::closeEvent(QCloseEvent* event) {
    // The window has no close button; it is left only through its own buttons, which also
    // resume whatever it stopped. A close asked for by other means is refused.
    event->ignore();
}

void TFixedDialog::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        // Keep the owner relation for the window manager without making the owner a Qt parent.
        if (owner_ != nullptr && owner_->isVisible() && owner_->windowHandle() != nullptr) {
            winId();
            if (QWindow* handle = windowHandle()) {
                handle->setTransientParent(owner_->windowHandle());
            }
        }
        FitLabels();
        FormShow();
    }
    QDialog::showEvent(event);
}

bool TFixedDialog::event(QEvent* event) {
    if (event->type() == QEvent::LayoutRequest) {
        // A label's text changed while shown (a translation, a filled-in version).
        FitLabels();
    }
    return QDialog::event(event);
}

QString Tr(std::string_view text) {
    return QString::fromStdString(i18n::TranslateText(text));
}

void ShowFormError(QWidget* owner, const std::string& errors) {
    ShowMessageBox(owner, i18n::TranslateText("Form error"),
                   i18n::TranslateText("Correct the following errors:") + "\r" + errors,
                   TMessageIcon::Warning, TMessageButtons::Ok);
}

void TranslateWindow(QWidget* window) {
    try {
        i18n::TranslateComponent(window);
    } catch (const std::exception&) {
        // A damaged catalogue must not keep the window from existing.
    }
}

} // namespace qrv::gui
