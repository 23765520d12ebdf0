#pragma once

#include "engine/CheckView.h"

#include <QIcon>
#include <QObject>
#include <QPoint>

#include <memory>
#include <optional>
#include <string>
#include <vector>

class QLabel;
class QMenu;
class QSystemTrayIcon;
class QWidget;

namespace qrv::platform {
class TDesktopNotifier;
class TStatusNotifierItem;
} // namespace qrv::platform

namespace qrv::gui {

class TTrayBalloon;

// The notification-area limits, in characters.
inline constexpr int kTrayHintMax = 127;
inline constexpr int kBalloonTitleMax = 63;
inline constexpr int kBalloonTextMax = 255;
// The notification area keeps a balloon at least this long, whatever time-out is asked for.
inline constexpr int kBalloonMinMs = 10000;

// The application title shown as the first tray hint: the executable's file name without its
// folder and without everything from its first "." on, every character after the first in
// lower case.
std::string ApplicationTitle(const std::string& executablePath);

// Owner of the tray icon `TrayIcon`. It keeps its picture, hint and last balloon whether or not
// a notification area exists. It shows them as a status-notifier item where such a host runs
// (now or later), else in an XEmbed notification area; balloons become desktop notifications
// wherever no XEmbed area shows them, so that they reach the user even with no tray at all.
class TTrayIcon : public QObject {
    Q_OBJECT
public:
    struct TBalloon {
        std::string Title;
        std::string Text;
        int TimeoutMs = 0;
        engine::TBalloonIcon Icon = engine::TBalloonIcon::None;
    };

    TTrayIcon(std::vector<QIcon> images, QObject* parent = nullptr);
    ~TTrayIcon() override;

    void SetPopupMenu(QMenu* menu);
    void SetImageIndex(int index); // out-of-range indices are ignored
    int ImageIndex() const { return imageIndex_; }
    void SetHint(const std::string& hint); // cut to kTrayHintMax characters
    const std::string& Hint() const { return hint_; }
    // Replaces the balloon shown before; title and text cut to the notification-area limits.
    void ShowBalloon(const std::string& title, const std::string& text, int timeoutMs,
                     engine::TBalloonIcon icon);
    const std::optional<TBalloon>& LastBalloon() const { return lastBalloon_; }
    // The window in which the balloons of an XEmbed notification area are drawn (one, reused);
    // nullptr before the first such balloon.
    const QWidget* BalloonWindow() const;

    bool Available() const;
    bool Visible() const;
    // The hint the icon itself carries (what the notification area shows).
    std::string ShownHint() const;

Q_SIGNALS:
    // The system's double-click on the icon: an XEmbed icon's double-click, or a status-notifier
    // host's activation of the item.
    void DoubleClicked();

private:
    class TMenuWindow;

    void MakeXEmbedIcon();
    void HostChanged(bool hosted);
    void ShowMenuAt(QPoint at);

    std::vector<QIcon> images_;
    // The toolkit's icon, used for an XEmbed notification area (and, never shown, offscreen).
    QSystemTrayIcon* icon_ = nullptr;
    platform::TStatusNotifierItem* sni_ = nullptr;
    platform::TDesktopNotifier* notifier_ = nullptr;
    QMenu* menu_ = nullptr;
    std::unique_ptr<TTrayBalloon> balloonWindow_;
    std::unique_ptr<TMenuWindow> menuWindow_;
    int imageIndex_ = 0;
    std::string hint_;
    std::optional<TBalloon> lastBalloon_;
};

} // namespace qrv::gui
