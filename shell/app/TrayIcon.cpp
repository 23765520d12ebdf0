#include "shell/app/TrayIcon.h"

#include "platform/CodePage.h"

#include <QApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QString>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVBoxLayout>

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

// The balloon of a tray icon in an XEmbed notification area. Qt draws such balloons in a new
// window for every message and never gives all of that window's memory back (about 3 kB a
// balloon with Qt 6.4), so a station that shows balloons every run grew for as long as it ran.
// This one window is made once and reused: a new balloon replaces the old one in place.
class TTrayIcon::TBalloonWindow : public QWidget {
public:
    TBalloonWindow()
        : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
        setObjectName(QStringLiteral("TrayBalloon"));
        setAttribute(Qt::WA_ShowWithoutActivating);
        auto* row = new QHBoxLayout(this);
        picture_ = new QLabel(this);
        picture_->setAlignment(Qt::AlignTop);
        auto* texts = new QVBoxLayout;
        title_ = new QLabel(this);
        QFont bold = title_->font();
        bold.setBold(true);
        title_->setFont(bold);
        text_ = new QLabel(this);
        text_->setWordWrap(true);
        text_->setMaximumWidth(320);
        for (QLabel* label : {title_, text_}) {
            label->setTextFormat(Qt::PlainText); // server names are no markup
        }
        texts->addWidget(title_);
        texts->addWidget(text_);
        row->addWidget(picture_);
        row->addLayout(texts);
        timer_.setSingleShot(true);
        connect(&timer_, &QTimer::timeout, this, &QWidget::hide);
    }

    void Show(const QString& title, const QString& text, QStyle::StandardPixmap kind, bool picture,
              int timeoutMs, const QRect& anchor) {
        title_->setText(title);
        title_->setVisible(!title.isEmpty());
        text_->setText(text);
        picture_->setVisible(picture);
        if (picture) {
            picture_->setPixmap(style()->standardIcon(kind).pixmap(32, 32));
        }
        adjustSize();
        Place(anchor);
        show();
        raise();
        timer_.start(timeoutMs);
    }

protected:
    void mousePressEvent(QMouseEvent* event) override {
        // A click dismisses the balloon, as the notification area's own do.
        timer_.stop();
        hide();
        event->accept();
    }

private:
    // Beside the tray icon, inside the screen: above an icon in the lower half, else below.
    void Place(const QRect& anchor) {
        const QScreen* screen = QGuiApplication::screenAt(anchor.center());
        const QRect area = screen != nullptr ? screen->availableGeometry()
                                             : QGuiApplication::primaryScreen()->availableGeometry();
        QPoint at(anchor.right() - width(), anchor.bottom() + 4);
        if (anchor.center().y() > area.center().y()) {
            at.setY(anchor.top() - height() - 4);
        }
        at.setX(std::clamp(at.x(), area.left(), std::max(area.left(), area.right() - width())));
        at.setY(std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() - height())));
        move(at);
    }

    QLabel* picture_ = nullptr;
    QLabel* title_ = nullptr;
    QLabel* text_ = nullptr;
    QTimer timer_;
};

const QWidget* TTrayIcon::BalloonWindow() const { return balloonWindow_.get(); }

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
    // An icon in an XEmbed notification area has a place on the screen (a status-notifier one
    // has none, and its messages become desktop notifications): there the balloon is ours.
    const QRect anchor = icon_->geometry();
    if (QGuiApplication::platformName() == QStringLiteral("xcb") && anchor.isValid()) {
        if (!balloonWindow_) {
            balloonWindow_ = std::make_unique<TBalloonWindow>();
        }
        const QStyle::StandardPixmap kinds[] = {QStyle::SP_MessageBoxInformation,
                                                QStyle::SP_MessageBoxInformation,
                                                QStyle::SP_MessageBoxWarning,
                                                QStyle::SP_MessageBoxCritical};
        balloonWindow_->Show(QString::fromStdString(balloon.Title),
                             QString::fromStdString(balloon.Text),
                             kinds[static_cast<int>(icon)], icon != engine::TBalloonIcon::None,
                             std::max(timeoutMs, kBalloonMinMs), anchor);
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
