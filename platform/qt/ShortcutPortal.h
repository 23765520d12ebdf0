#pragma once

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <map>

namespace qrv::platform {

// Global shortcuts through the desktop portal (org.freedesktop.portal.GlobalShortcuts), for the
// sessions where no program may grab keys itself (Wayland). Each shortcut gets a portal session
// of its own, so that releasing it is closing that session. The portal asks the user to confirm
// (or lets the user choose another key); a refusal leaves the shortcut quietly off.
class TShortcutPortal : public QObject {
    Q_OBJECT
public:
    explicit TShortcutPortal(QObject* parent = nullptr);
    ~TShortcutPortal() override;

    // The session offers the portal (asked of the bus, at most a second).
    static bool Available();

    // `trigger` in the portal's notation ("CTRL+ALT+w").
    void Bind(int id, const QString& trigger, const QString& description);
    void Unbind(int id);

Q_SIGNALS:
    void Activated(int id);

private Q_SLOTS:
    void Response(uint response, const QVariantMap& results, const QDBusMessage& message);
    void ShortcutActivated(const QDBusMessage& message);

private:
    using TDone = std::function<void(uint, const QVariantMap&)>;
    // Calls a portal method that answers through a Request object; `done` gets its response.
    void Ask(const QString& method, QVariantList arguments, QVariantMap options, TDone done);
    QString Token();

    std::map<QString, TDone> pending_; // request path → what to do with its response
    std::map<int, QString> sessions_;  // shortcut id → its session's path
    int tokens_ = 0;
};

} // namespace qrv::platform
