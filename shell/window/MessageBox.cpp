#include "shell/window/MessageBox.h"

#include <QMessageBox>
#include <QString>

#include <cstdio>
#include <deque>
#include <mutex>
#include <utility>

namespace qrv::gui {

namespace {

struct TSeamState {
    std::mutex Lock;
    std::deque<TMessageAnswer> Queued;
    std::vector<TMessageRecord> Shown;
    bool Unattended = false;
    std::function<void(const TMessageRecord&)> OnShow;
};

TSeamState& Seam() {
    static TSeamState state;
    return state;
}

TMessageAnswer SafeAnswer(TMessageButtons buttons) {
    return buttons == TMessageButtons::YesNo ? TMessageAnswer::No : TMessageAnswer::Ok;
}

QMessageBox::Icon ToQt(TMessageIcon icon) {
    switch (icon) {
    case TMessageIcon::Information:
        return QMessageBox::Information;
    case TMessageIcon::Warning:
        return QMessageBox::Warning;
    case TMessageIcon::Error:
        return QMessageBox::Critical;
    case TMessageIcon::Question:
        return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

} // namespace

TMessageAnswer ShowMessageBox(QWidget* owner, const std::string& caption, const std::string& text,
                              TMessageIcon icon, TMessageButtons buttons) {
    std::optional<TMessageAnswer> preset;
    std::function<void(const TMessageRecord&)> onShow;
    {
        TSeamState& seam = Seam();
        std::lock_guard<std::mutex> guard(seam.Lock);
        seam.Shown.push_back({caption, text, icon, buttons});
        if (!seam.Queued.empty()) {
            preset = seam.Queued.front();
            seam.Queued.pop_front();
        } else if (seam.Unattended) {
            preset = SafeAnswer(buttons);
            // Nobody can see the box; keep its words somewhere a person can find them.
            std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
        }
        onShow = seam.OnShow;
    }
    if (onShow) {
        onShow({caption, text, icon, buttons});
    }
    if (preset) {
        return *preset;
    }

    // Texts break their lines with CR (and CR LF), which a Qt label would not show as a break.
    QString shown = QString::fromStdString(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QMessageBox box(ToQt(icon), QString::fromStdString(caption), shown, QMessageBox::NoButton,
                    owner);
    box.setTextFormat(Qt::PlainText);
    if (buttons == TMessageButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
    }
    const int pressed = box.exec();
    if (buttons == TMessageButtons::YesNo) {
        return pressed == QMessageBox::Yes ? TMessageAnswer::Yes : TMessageAnswer::No;
    }
    return TMessageAnswer::Ok;
}

namespace MessageBoxSeam {

void SetOnShow(std::function<void(const TMessageRecord&)> hook) {
    TSeamState& seam = Seam();
    std::lock_guard<std::mutex> guard(seam.Lock);
    seam.OnShow = std::move(hook);
}

void SetNextAnswer(TMessageAnswer answer) {
    TSeamState& seam = Seam();
    std::lock_guard<std::mutex> guard(seam.Lock);
    seam.Queued.push_back(answer);
}

void SetUnattended(bool on) {
    TSeamState& seam = Seam();
    std::lock_guard<std::mutex> guard(seam.Lock);
    seam.Unattended = on;
}

bool Unattended() {
    TSeamState& seam = Seam();
    std::lock_guard<std::mutex> guard(seam.Lock);
    return seam.Unattended;
}

std::vector<TMessageRecord> TakeShown() {
    TSeamState& seam = Seam();
    std::lock_guard<std::mutex> guard(seam.Lock);
    std::vector<TMessageRecord> out;
    out.swap(seam.Shown);
    return out;
}

void Reset() {
    TSeamState& seam = Seam();
    std::lock_guard<std::mutex> guard(seam.Lock);
    seam.Queued.clear();
    seam.Shown.clear();
    seam.Unattended = false;
    seam.OnShow = nullptr;
}

} // namespace MessageBoxSeam

} // namespace qrv::gui
