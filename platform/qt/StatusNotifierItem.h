#pragma once

#include <QIcon>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QString>

class QDBusServiceWatcher;
class QMenu;

namespace qrv::platform {

class TDBusMenu;

// A tray icon for the desktops that host tray icons as status-notifier items over the session
// bus (KDE, Xfce, Cinnamon, GNOME with its AppIndicator extension, the Wayland bars). Our own
// rather than the toolkit's, because the toolkit's decides once at start whether such a host
// exists, turns every balloon into a "needs attention" state that replaces the picture and the
// hint, and reports the host's activation as a single click.
//
// The item follows the host: it registers whenever a status-notifier watcher is (or comes) on
// the bus and a host is behind it, and reports each change through HostChanged.
// The icon's pictures as the item sends them: 16 to 64 device pixels square, whatever the
// program's own scale (a host asks for device pixels).
QList<QImage> StatusNotifierImages(const QIcon& icon);

class TStatusNotifierItem : public QObject {
    Q_OBJECT
public:
    explicit TStatusNotifierItem(QObject* parent = nullptr);
    ~TStatusNotifierItem() override;

    // A host shows the item now.
    bool Hosted() const { return hosted_; }
    // Whether a watcher with a host is on the bus at this moment (asked of the bus, not of our
    // registration, which follows a little later).
    static bool HostPresent();

    void SetIcon(const QIcon& icon);
    void SetToolTip(const QString& text);
    // The menu that hosts draw themselves on a right click (exported at MenuPath()).
    void SetMenu(QMenu* menu);
    // The object path of the exported menu; empty when the bus has none.
    QString MenuPath() const;
    const QString& ToolTip() const { return toolTip_; }

    // What the host reads (for the adaptor).
    const QIcon& Icon() const { return icon_; }
    QString ServiceName() const { return serviceName_; }

Q_SIGNALS:
    void HostChanged(bool hosted);
    // The host's activation (a click, or each click of a double-click).
    void Activated();
    // The host asks for our menu at a point of the screen (a host that does not draw the
    // exported menu itself).
    void ContextMenuRequested(QPoint at);
    // For the adaptor: the item's properties changed.
    void NewIcon();
    void NewToolTip();

private Q_SLOTS:
    void HostRegistered();

private:
    void Register();
    void SetHosted(bool hosted);

    QIcon icon_;
    QString toolTip_;
    QString serviceName_;
    QDBusServiceWatcher* watcher_ = nullptr;
    TDBusMenu* menu_ = nullptr;
    bool exported_ = false;
    bool hosted_ = false;
    int registration_ = 0; // counts registrations, so that a stale reply is ignored
};

} // namespace qrv::platform
