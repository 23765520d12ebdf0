#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QKeySequence>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QVariantMap>

class QAction;
class QMenu;

namespace qrv::platform {

// A flat menu of actions exported over the session bus as com.canonical.dbusmenu, for the
// status-notifier hosts that draw an item's menu themselves (Xfce, KDE, GNOME's AppIndicator
// extension, waybar) and never ask the item to show one. The host's clicks run the actions;
// captions and enabled states follow the actions as they change.
class TDBusMenu : public QObject, public QDBusContext {
    Q_OBJECT
public:
    // Exports a menu at `path` on `bus` at once (empty until SetMenu), so that a host which
    // reads it as soon as the item registers finds it; Exported() says whether the bus took it.
    TDBusMenu(const QString& path, QDBusConnection bus, QObject* parent = nullptr);
    ~TDBusMenu() override;

    void SetMenu(QMenu* menu);

    bool Exported() const { return exported_; }
    const QString& Path() const { return path_; }

    // The items as the host reads them: id 0 is the root, 1..n the menu's actions in order.
    QAction* Action(int id) const;
    int Count() const;
    QVariantMap Properties(int id) const;
    unsigned Revision() const { return revision_; }

    // A caption with its "&" accelerator in the "_" form that the hosts read ("&&" is a plain
    // "&", a plain "_" is doubled).
    static QString Label(const QString& text);
    // A short-cut as the hosts show it: one list of names per key press ("Control", "h").
    static QList<QStringList> Shortcut(const QKeySequence& keys);

    // Runs the action of `id` later from the event loop, so the host's call is answered first.
    bool Click(int id);
    // Answers the host's call that is being served with an unknown-item error.
    void UnknownId(int id);

Q_SIGNALS:
    // For the adaptor.
    void ItemsChanged(const QList<int>& ids);
    void LayoutChanged(unsigned revision);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Watch(QAction* action);
    void Changed(QAction* action);
    void Flush();

    QPointer<QMenu> menu_;
    // The same menu as a plain object, for the event filter: it also sees the menu's events
    // while the menu is being destroyed, when it may no longer be read as a QMenu.
    const QObject* filtered_ = nullptr;
    QString path_;
    QDBusConnection bus_;
    bool exported_ = false;
    unsigned revision_ = 1;
    QSet<QAction*> watched_;
    QList<QVariantMap> shown_; // what the host was told last, per item (index id - 1)
    QList<int> changed_;
    bool layoutChanged_ = false;
    bool flushPending_ = false;
};

} // namespace qrv::platform
