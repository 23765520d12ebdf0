#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <optional>

namespace qrv::platform {

// What a balloon's icon kind becomes on the desktop.
enum class TNoticeKind { None, Info, Warning, Error };

// The notification's icon for a kind (an icon name of the desktop's theme), and its
// `category` hint (empty: none).
QString NoticeIcon(TNoticeKind kind);
QString NoticeCategory(TNoticeKind kind);

// Balloons as freedesktop desktop notifications (org.freedesktop.Notifications on the session
// bus), for a status-notifier tray or no tray at all. Each notice replaces the one before, as a
// balloon replaces the last balloon, and carries the program's name and desktop entry so that
// the desktop groups it with the program, and an icon and category after its kind. Without a
// session bus it does nothing.
class TDesktopNotifier : public QObject {
    Q_OBJECT
public:
    explicit TDesktopNotifier(QObject* parent = nullptr);

    // Whether a session bus is there to send to (a notification server may be started on demand).
    bool Connected() const { return connected_; }
    // Shown for `timeoutMs`; title and text are plain text (markup is escaped where the server
    // would read it).
    void Show(const QString& title, const QString& text, int timeoutMs, TNoticeKind kind);

private:
    struct TNotice {
        QString Title;
        QString Text;
        int TimeoutMs = 0;
        TNoticeKind Kind = TNoticeKind::None;
    };
    void SendPending();
    void SendNotice();

    bool connected_ = false;
    bool busy_ = false;
    std::optional<TNotice> pending_;
    bool capabilitiesKnown_ = false;
    bool bodyMarkup_ = false;
    std::uint32_t lastId_ = 0;
};

// The names the desktop knows the program by: the desktop entry's file name without ".desktop",
// which is also the icon's name.
inline constexpr const char* kDesktopEntryName = "example.ostrelle.Quorvane";
inline constexpr const char* kDesktopAppName = "Quorvane";

} // namespace qrv::platform
