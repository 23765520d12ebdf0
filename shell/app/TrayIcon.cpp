#include "shell/app/TrayIcon.h"

#include "platform/CodePage.h"
#include "platform/qt/DesktopNotifier.h"
#include "platform/qt/StatusNotifierItem.h"
#include "shell/app/TrayBalloon.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QString>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolButton>
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

// The tray menu where the host draws none and the platform cannot open a menu at a point of the
// screen (Wayland places only windows): a small window of the menu's commands instead.
class TTrayIcon::TMenuWindow : public QWidget {
public:
    explicit TMenuWindow(QMenu* menu) : QWidget(nullptr, Qt::Dialog | Qt::WindowStaysOnTopHint) {
        setObjectName(QStringLiteral("TrayMenuWindow"));
        setWindowTitle(QString::fromLatin1(platform::kDesktopAppName));
        auto* column = new QVBoxLayout(this);
        for (QAction* action : menu->actions()) {
            if (action->isSeparator()) {
                continue;
            }
            auto* button = new QToolButton(this);
            button->setDefaultAction(action);
            button->setToolButtonStyle(Qt::ToolButtonTextOnly);
            button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
            connect(action, &QAction::triggered, this, &QWidget::hide);
            column->addWidget(button);
        }
        // A window of fixed size floats on tiling compositors, as a menu should.
        setFixedSize(sizeHint());
    }

protected:
    void changeEvent(QEvent* event) override {
        if (event->type() == QEvent::ActivationChange && !isActiveWindow()) {
            hide();
        }
        QWidget::changeEvent(event);
    }
};

const QWidget* TTrayIcon::BalloonWindow() const {
    return balloonWindow_.get();
}

namespace {

bool OnXcb() {
    return QGuiApplication::platformName() == QStringLiteral("xcb");
}

platform::TNoticeKind NoticeKind(engine::TBalloonIcon icon) {
    switch (icon) {
    case engine::TBalloonIcon::Info:
        return platform::TNoticeKind::Info;
    case engine::TBalloonIcon::Warning:
        return platform::TNoticeKind::Warning;
    case engine::TBalloonIcon::Error:
        return platform::TNoticeKind::Error;
    case engine::TBalloonIcon::None:
        break;
    }
    return platform::TNoticeKind::None;
}

} // namespace

TTrayIcon::TTrayIcon(std::vector<QIcon> images, QObject* parent)
    : QObject(parent), images_(std::move(images)) {
    // The offscreen platform never has a notification area (and Qt warns when asked for one);
    // the icon still keeps its picture and hint there.
    if (QGuiApplication::platformName() == QStringLiteral("offscreen")) {
        MakeXEmbedIcon();
        return;
    }
    notifier_ = new platform::TDesktopNotifier(this);
    sni_ = new platform::TStatusNotifierItem(this);
    if (!images_.empty()) {
        sni_->SetIcon(images_.front());
    }
    // A status-notifier host activates the item with a click (each click of a double-click):
    // that is what the system's double-click on the icon means there.
    connect(sni_, &platform::TStatusNotifierItem::Activated, this, &TTrayIcon::DoubleClicked);
    connect(sni_, &platform::TStatusNotifierItem::ContextMenuRequested, this,
            &TTrayIcon::ShowMenuAt);
    connect(sni_, &platform::TStatusNotifierItem::HostChanged, this, &TTrayIcon::HostChanged);
    // The toolkit's own icon only where no status-notifier host runs at this moment: made while
    // one runs, it would become a second status-notifier item. An XEmbed tray that starts later
    // is found by the toolkit's icon itself (it follows the tray's selection).
    if (OnXcb() && !platform::TStatusNotifierItem::HostPresent()) {
        MakeXEmbedIcon();
        icon_->show();
    }
}

TTrayIcon::~TTrayIcon() {
    if (icon_ != nullptr) {
        icon_->hide();
        delete icon_;
    }
}

void TTrayIcon::MakeXEmbedIcon() {
    // Not a child: the window translation must not remember (and on a language change
    // restore) the hint it had at start-up; the hint is ours to keep.
    icon_ = new QSystemTrayIcon();
    const std::size_t index = static_cast<std::size_t>(imageIndex_);
    if (index < images_.size()) {
        icon_->setIcon(images_[index]);
    }
    icon_->setToolTip(QString::fromStdString(hint_));
    if (menu_ != nullptr) {
        icon_->setContextMenu(menu_);
    }
    if (QGuiApplication::platformName() == QStringLiteral("offscreen")) {
        return;
    }
    connect(icon_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::DoubleClick) {
                    Q_EMIT DoubleClicked();
                }
            });
}

void TTrayIcon::HostChanged(bool hosted) {
    // One icon at a time: the status-notifier item while a host shows it, else the XEmbed one.
    if (hosted) {
        if (icon_ != nullptr) {
            icon_->hide();
        }
        return;
    }
    if (icon_ == nullptr && OnXcb() && !platform::TStatusNotifierItem::HostPresent()) {
        MakeXEmbedIcon();
    }
    if (icon_ != nullptr) {
        icon_->show();
    }
}

void TTrayIcon::ShowMenuAt(QPoint at) {
    if (menu_ == nullptr) {
        return;
    }
    if (OnXcb()) {
        menu_->popup(at);
        return;
    }
    if (!menuWindow_) {
        menuWindow_ = std::make_unique<TMenuWindow>(menu_);
    }
    menuWindow_->show();
    menuWindow_->raise();
    menuWindow_->activateWindow();
}

void TTrayIcon::SetPopupMenu(QMenu* menu) {
    menu_ = menu;
    menuWindow_.reset();
    if (icon_ != nullptr) {
        icon_->setContextMenu(menu);
    }
    // Hosts that draw the item's menu themselves (and never ask us for one) get it exported.
    if (sni_ != nullptr) {
        sni_->SetMenu(menu);
    }
}

void TTrayIcon::SetImageIndex(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= images_.size()) {
        return;
    }
    imageIndex_ = index;
    const QIcon& image = images_[static_cast<std::size_t>(index)];
    if (icon_ != nullptr) {
        icon_->setIcon(image);
    }
    if (sni_ != nullptr) {
        sni_->SetIcon(image);
    }
}

void TTrayIcon::SetHint(const std::string& hint) {
    hint_ = std::string(platform::Utf8Prefix(hint, kTrayHintMax));
    const QString text = QString::fromStdString(hint_);
    if (icon_ != nullptr) {
        icon_->setToolTip(text);
    }
    if (sni_ != nullptr) {
        sni_->SetToolTip(text);
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

    const QString shownTitle = QString::fromStdString(balloon.Title);
    const QString shownText = QString::fromStdString(balloon.Text);
    const int shownMs = std::max(timeoutMs, kBalloonMinMs);
    // An icon in an XEmbed notification area has a place on the screen: there the balloon is
    // ours, beside it.
    const bool xembed = (sni_ == nullptr || !sni_->Hosted()) && icon_ != nullptr &&
                        icon_->isVisible() && OnXcb() && QSystemTrayIcon::isSystemTrayAvailable();
    const QRect anchor = xembed ? icon_->geometry() : QRect();
    if (anchor.isValid()) {
        if (!balloonWindow_) {
            balloonWindow_ = std::make_unique<TTrayBalloon>();
        }
        const QStyle::StandardPixmap kinds[] = {
            QStyle::SP_MessageBoxInformation, QStyle::SP_MessageBoxInformation,
            QStyle::SP_MessageBoxWarning, QStyle::SP_MessageBoxCritical};
        balloonWindow_->Show(shownTitle, shownText, kinds[static_cast<int>(icon)],
                             icon != engine::TBalloonIcon::None, shownMs, anchor);
        return;
    }
    // A status-notifier tray, or no tray at all: the desktop's notifications.
    if (notifier_ != nullptr) {
        notifier_->Show(shownTitle, shownText, shownMs, NoticeKind(icon));
    }
}

bool TTrayIcon::Available() const {
    if (sni_ != nullptr && sni_->Hosted()) {
        return true;
    }
    return icon_ != nullptr && OnXcb() && QSystemTrayIcon::isSystemTrayAvailable();
}

bool TTrayIcon::Visible() const {
    return (sni_ != nullptr && sni_->Hosted()) || (icon_ != nullptr && icon_->isVisible());
}

std::string TTrayIcon::ShownHint() const {
    if (sni_ != nullptr && sni_->Hosted()) {
        return sni_->ToolTip().toStdString();
    }
    return icon_ != nullptr ? icon_->toolTip().toStdString() : std::string();
}

} // namespace qrv::gui
