#include "shell/app/TrayIcon.h"

#include "platform/CodePage.h"

#include <QGuiApplication>
#include <QMenu>
#include <QString>
#include <QSystemTrayIcon>
#include <QTimer>

#include <algorithm>
#include <cctype>

namespace qrv::gui {

std::string ApplicationTitle(const std::string& executablePath) {
    std::string name = executablePath;
    const std::size_t slash = name.find_last_of('/');
    if (slash != std::string::npos) {
        name.erase(0, slash + 1);
    }
    const std::size_t dot = name.find('.');
    if (dot != std::string::npos) {
        name.erase(dot);
    }
    if (name.empty()) {
        return name;
    }
    // First character as it is, the rest in lower case (done on QString so that non-ASCII
    // letters fold as well).
    const QString text = QString::fromStdString(name);
    const QString title = text.left(1) + text.mid(1).toLower();
    return std::string(platform::Utf8Prefix(title.toStdString(), kTrayHintMax));
}

TTrayIcon::TTrayIcon(std::vector<QIcon> images, QObject* parent)
    : QObject(parent), images_(std::move(images)) {
    // Not a child: the window translation must not remember (and on a language change
    // restore) the hint it had at start-up; the hint is ours to keep.
    icon_ = new QSystemTrayIcon();
    if (!images_.empty()) {
        icon_->setIcon(images_.front());
    }
    // The offscreen platform never has a notification area (and Qt warns when asked for one);
    // the icon still keeps its picture and hint there.
    if (QGuiApplication::platformName() == QStringLiteral("offscreen")) {
        return;
    }
    connect(icon_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::DoubleClick) {
                    Q_EMIT DoubleClicked();
                }
            });
    available_ = QSystemTrayIcon::isSystemTrayAvailable();
    icon_->show();
    if (!available_) {
        // A tray host may come up after us (a session that starts us early); look again now
        // and then, and show the icon as soon as there is a place for it.
        poll_ = new QTimer(this);
        poll_->setInterval(1000);
        connect(poll_, &QTimer::timeout, this, &TTrayIcon::PollTray);
        poll_->start();
    }
}

TTrayIcon::~TTrayIcon() {
    if (icon_ != nullptr) {
        icon_->hide();
        delete icon_;
    }
}

void TTrayIcon::PollTray() {
    if (icon_ == nullptr || !QSystemTrayIcon::isSystemTrayAvailable()) {
        return;
    }
    available_ = true;
    poll_->stop();
    icon_->hide();
    icon_->show();
}

void TTrayIcon::SetPopupMenu(QMenu* menu) {
    if (icon_ != nullptr) {
        icon_->setContextMenu(menu);
    }
}

void TTrayIcon::SetImageIndex(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= images_.size()) {
        return;
    }
    imageIndex_ = index;
    if (icon_ != nullptr) {
        icon_->setIcon(images_[static_cast<std::size_t>(index)]);
    }
}

void TTrayIcon::SetHint(const std::string& hint) {
    hint_ = std::string(platform::Utf8Prefix(hint, kTrayHintMax));
    if (icon_ != nullptr) {
        icon_->setToolTip(QString::fromStdString(hint_));
    }
}

void TTrayIcon::ShowBalloon(const std::string& title, const std::string& text, int timeoutMs,
                            engine::TBalloonIcon icon) {
    TBalloon balloon;
    balloon.Title = std::string(platform::Utf8Prefix(title, kBalloonTitleMax));
    balloon.Text = std::string(platform::Utf8Prefix(text, kBalloonTextMax));
    balloon.TimeoutMs = timeoutMs;
    balloon.Icon = icon;
    lastBalloon_ = balloon;

    if (icon_ == nullptr || !available_ || !QSystemTrayIcon::supportsMessages()) {
        return;
    }
    QSystemTrayIcon::MessageIcon kind = QSystemTrayIcon::NoIcon;
    switch (icon) {
    case engine::TBalloonIcon::None:
        kind = QSystemTrayIcon::NoIcon;
        break;
    case engine::TBalloonIcon::Info:
        kind = QSystemTrayIcon::Information;
        break;
    case engine::TBalloonIcon::Warning:
        kind = QSystemTrayIcon::Warning;
        break;
    case engine::TBalloonIcon::Error:
        kind = QSystemTrayIcon::Critical;
        break;
    }
    icon_->showMessage(QString::fromStdString(balloon.Title), QString::fromStdString(balloon.Text),
                       kind, std::max(timeoutMs, kBalloonMinMs));
}

bool TTrayIcon::Available() const { return available_; }

bool TTrayIcon::Visible() const { return icon_ != nullptr && icon_->isVisible(); }

std::string TTrayIcon::ShownHint() const {
    return icon_ != nullptr ? icon_->toolTip().toStdString() : std::string();
}

} // namespace qrv::gui
