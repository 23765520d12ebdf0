// The desktop's side of the session bus for the end-to-end tests: a status-notifier watcher with a
// host behind it, a notification server and the global-shortcuts portal, each only when asked for.
// It records what the program sends and reads the program's item as a panel would; the tests ask it
// through qrv.test.DesktopPeer (with dbus-send).
//
//   qrv_desktop_peer [--watcher] [--watcher-after-ms N] [--notifications] [--portal]

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>

#include <cstdio>
#include <cstring>

// One shortcut the portal is asked to bind. Outside the anonymous namespace: the bus finds a
// slot's argument types by their names.
struct TShortcut {
    QString Id;
    QVariantMap Properties;
};
using TShortcuts = QList<TShortcut>;
Q_DECLARE_METATYPE(TShortcut)

QDBusArgument& operator<<(QDBusArgument& out, const TShortcut& shortcut) {
    out.beginStructure();
    out << shortcut.Id << shortcut.Properties;
    out.endStructure();
    return out;
}
const QDBusArgument& operator>>(const QDBusArgument& in, TShortcut& shortcut) {
    in.beginStructure();
    in >> shortcut.Id >> shortcut.Properties;
    in.endStructure();
    return in;
}

namespace {

constexpr int kAskMs = 5000;

class TWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ Items)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ HostRegistered)
    Q_PROPERTY(int ProtocolVersion READ ProtocolVersion)
public:
    QStringList Items() const { return items_; }
    bool HostRegistered() const { return true; }
    int ProtocolVersion() const { return 0; }

public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString& service, const QDBusMessage& message) {
        // Items name their bus name, or only an object path on the caller's connection.
        const QString item =
            service.startsWith(QLatin1Char('/')) ? message.service() + service : service;
        if (!items_.contains(item)) {
            items_.append(item);
            // An item leaves with its bus name, as a panel's watcher forgets it.
            auto* gone = new QDBusServiceWatcher(message.service(), QDBusConnection::sessionBus(),
                                                 QDBusServiceWatcher::WatchForUnregistration, this);
            connect(gone, &QDBusServiceWatcher::serviceUnregistered, this, [this, item, gone] {
                items_.removeAll(item);
                gone->deleteLater();
                Q_EMIT StatusNotifierItemUnregistered(item);
            });
        }
        Q_EMIT StatusNotifierItemRegistered(item);
    }
    void RegisterStatusNotifierHost(const QString&) {}

Q_SIGNALS:
    void StatusNotifierItemRegistered(const QString& service);
    void StatusNotifierItemUnregistered(const QString& service);
    void StatusNotifierHostRegistered();

private:
    QStringList items_;
};

class TNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList Log;

public Q_SLOTS:
    QStringList GetCapabilities() {
        return {QStringLiteral("body"), QStringLiteral("body-markup")};
    }
    uint Notify(const QString& app, uint replaces, const QString& icon, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints,
                int timeout) {
        const uint id = replaces != 0 ? replaces : ++lastId_;
        Log.append(QStringLiteral("app=%1|replaces=%2|icon=%3|summary=%4|body=%5|actions=%6|"
                                  "desktop-entry=%7|urgency=%8|timeout=%9|id=%10")
                       .arg(app)
                       .arg(replaces)
                       .arg(icon, summary, body)
                       .arg(actions.size())
                       .arg(hints.value(QStringLiteral("desktop-entry")).toString())
                       .arg(hints.value(QStringLiteral("urgency")).toInt())
                       .arg(timeout)
                       .arg(id) +
                   QStringLiteral("|category=") +
                   hints.value(QStringLiteral("category")).toString());
        return id;
    }
    void CloseNotification(uint) {}
    QString GetServerInformation(QString& vendor, QString& version, QString& protocol) {
        vendor = QStringLiteral("test");
        version = QStringLiteral("1");
        protocol = QStringLiteral("1.2");
        return QStringLiteral("qrv-test-notifications");
    }

private:
    uint lastId_ = 0;
};

class TPortal;

// A portal session; closing it releases its shortcuts.
class TPortalSession : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Session")
public:
    TPortalSession(TPortal* portal, QString path);

public Q_SLOTS:
    void Close();

private:
    TPortal* portal_;
    QString path_;
};

// The desktop portal's global shortcuts: every request is granted at once.
class TPortal : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.GlobalShortcuts")
    Q_PROPERTY(uint version READ Version)
public:
    QStringList Log;
    QString Session;
    QString Shortcut;

    uint Version() const { return 1; }

public Q_SLOTS:
    QDBusObjectPath CreateSession(const QVariantMap& options, const QDBusMessage& message) {
        const QString session = Path(QStringLiteral("session"), message,
                                     options.value(QStringLiteral("session_handle_token")));
        auto* closer = new TPortalSession(this, session);
        QDBusConnection::sessionBus().registerObject(session, closer,
                                                     QDBusConnection::ExportAllSlots);
        return Respond(
            message, options,
            {{QStringLiteral("session_handle"), QVariant::fromValue(QDBusObjectPath(session))}});
    }
    // Spelled out: the bus knows the list's type by this name, not by the alias.
    QDBusObjectPath BindShortcuts(const QDBusObjectPath& session, const QList<TShortcut>& shortcuts,
                                  const QString&, const QVariantMap& options,
                                  const QDBusMessage& message) {
        for (const TShortcut& shortcut : shortcuts) {
            Session = session.path();
            Shortcut = shortcut.Id;
            Log.append(
                QStringLiteral("bind|id=%1|trigger=%2")
                    .arg(
                        shortcut.Id,
                        shortcut.Properties.value(QStringLiteral("preferred_trigger")).toString()));
        }
        return Respond(message, options, {});
    }

private:
    static QString Path(const QString& kind, const QDBusMessage& message, const QVariant& token) {
        QString sender = message.service().mid(1);
        sender.replace(QLatin1Char('.'), QLatin1Char('_'));
        return QStringLiteral("/org/freedesktop/portal/desktop/%1/%2/%3")
            .arg(kind, sender, token.toString());
    }
    QDBusObjectPath Respond(const QDBusMessage& message, const QVariantMap& options,
                            const QVariantMap& results) {
        const QString request =
            Path(QStringLiteral("request"), message, options.value(QStringLiteral("handle_token")));
        // After the reply, as a portal answers once the user has decided.
        QTimer::singleShot(0, this, [request, results] {
            QDBusMessage response = QDBusMessage::createSignal(
                request, QStringLiteral("org.freedesktop.portal.Request"),
                QStringLiteral("Response"));
            response << 0u << results;
            QDBusConnection::sessionBus().send(response);
        });
        return QDBusObjectPath(request);
    }
};

TPortalSession::TPortalSession(TPortal* portal, QString path)
    : QObject(portal), portal_(portal), path_(std::move(path)) {}

void TPortalSession::Close() {
    portal_->Log.append(QStringLiteral("close"));
    if (portal_->Session == path_) {
        portal_->Session.clear();
    }
}

struct TPixmap {
    int Width = 0;
    int Height = 0;
    QByteArray Bytes;
};

const QDBusArgument& operator>>(const QDBusArgument& in, TPixmap& pixmap) {
    in.beginStructure();
    in >> pixmap.Width >> pixmap.Height >> pixmap.Bytes;
    in.endStructure();
    return in;
}

class TPeer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "qrv.test.DesktopPeer")
public:
    TWatcher* Watcher = nullptr;
    TNotifications* Notifications = nullptr;
    TPortal* Portal = nullptr;

public Q_SLOTS:
    // The items registered, one per line.
    QString Items() {
        return Watcher != nullptr ? Watcher->Items().join(QLatin1Char('\n')) : QString();
    }
    // The first item as a panel shows it: "status=…|tooltip=…|pixel=RRGGBB|id=…|title=…|menu=…".
    QString Inspect() {
        QDBusMessage reply =
            Ask(QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("GetAll"),
                {QStringLiteral("org.kde.StatusNotifierItem")});
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
            return QStringLiteral("error=") + reply.errorMessage();
        }
        const QVariantMap all = qdbus_cast<QVariantMap>(reply.arguments().constFirst());
        QString tip;
        {
            const QDBusArgument arg = all.value(QStringLiteral("ToolTip")).value<QDBusArgument>();
            QString iconName;
            QString text;
            arg.beginStructure();
            arg >> iconName;
            arg.beginArray();
            while (!arg.atEnd()) {
                TPixmap ignored;
                arg >> ignored;
            }
            arg.endArray();
            arg >> tip >> text;
            arg.endStructure();
        }
        QString pixel = QStringLiteral("none");
        {
            const QDBusArgument arg =
                all.value(QStringLiteral("IconPixmap")).value<QDBusArgument>();
            arg.beginArray();
            while (!arg.atEnd()) {
                TPixmap pixmap;
                arg >> pixmap;
                // The middle of the largest picture, ARGB in network order.
                const qsizetype at =
                    (static_cast<qsizetype>(pixmap.Height / 2) * pixmap.Width + pixmap.Width / 2) *
                    4;
                if (at + 4 <= pixmap.Bytes.size()) {
                    pixel = QString::fromLatin1(pixmap.Bytes.mid(at + 1, 3).toHex());
                }
            }
            arg.endArray();
        }
        return QStringLiteral("status=%1|tooltip=%2|pixel=%3|id=%4|title=%5|itemismenu=%6")
            .arg(all.value(QStringLiteral("Status")).toString(), tip, pixel,
                 all.value(QStringLiteral("Id")).toString(),
                 all.value(QStringLiteral("Title")).toString(),
                 all.value(QStringLiteral("ItemIsMenu")).toBool() ? QStringLiteral("true")
                                                                  : QStringLiteral("false"));
    }
    // The first item's exported menu as a host draws it: "label:enabled|…" (enabled 1 or 0).
    // From the first call on, the menu's property updates are counted (MenuUpdates).
    QString Menu() {
        const QDBusMessage reply =
            Ask(QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                {QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("Menu")});
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
            return QStringLiteral("error=") + reply.errorMessage();
        }
        const QString path = qdbus_cast<QDBusObjectPath>(
                                 reply.arguments().constFirst().value<QDBusVariant>().variant())
                                 .path();
        const QString service = Watcher->Items().constFirst().section(QLatin1Char('/'), 0, 0);
        const QString menu = QStringLiteral("com.canonical.dbusmenu");
        if (!listening_) {
            listening_ = QDBusConnection::sessionBus().connect(
                service, path, menu, QStringLiteral("ItemsPropertiesUpdated"), this,
                SLOT(MenuUpdated(QDBusMessage)));
        }
        QDBusMessage call =
            QDBusMessage::createMethodCall(service, path, menu, QStringLiteral("GetLayout"));
        call << 0 << -1 << QStringList();
        const QDBusMessage layout = QDBusConnection::sessionBus().call(call, QDBus::Block, kAskMs);
        if (layout.type() != QDBusMessage::ReplyMessage || layout.arguments().size() != 2) {
            return QStringLiteral("error=") + layout.errorMessage();
        }
        QStringList items;
        const QDBusArgument root = layout.arguments()[1].value<QDBusArgument>();
        int id = 0;
        QVariantMap properties;
        root.beginStructure();
        root >> id >> properties;
        root.beginArray();
        while (!root.atEnd()) {
            QDBusVariant child;
            root >> child;
            const QDBusArgument item = child.variant().value<QDBusArgument>();
            item.beginStructure();
            item >> id >> properties;
            item.endStructure();
            items << properties.value(QStringLiteral("label")).toString() + QLatin1Char(':') +
                         (properties.value(QStringLiteral("enabled"), true).toBool()
                              ? QLatin1Char('1')
                              : QLatin1Char('0'));
        }
        root.endArray();
        root.endStructure();
        return items.join(QLatin1Char('|'));
    }
    QString MenuUpdates() { return QString::number(menuUpdates_); }
    // Clicks the first item (as a status-notifier host does, once per click).
    QString Activate() { return Call(QStringLiteral("Activate")); }
    QString ContextMenu() { return Call(QStringLiteral("ContextMenu")); }
    // What the portal was asked, one per line.
    QString Shortcuts() {
        return Portal != nullptr ? Portal->Log.join(QLatin1Char('\n')) : QString();
    }
    // The user presses the shortcut bound last (while its session is open).
    QString PressShortcut() {
        if (Portal == nullptr || Portal->Session.isEmpty()) {
            return QStringLiteral("no shortcut bound");
        }
        QDBusMessage activated = QDBusMessage::createSignal(
            QStringLiteral("/org/freedesktop/portal/desktop"),
            QStringLiteral("org.freedesktop.portal.GlobalShortcuts"), QStringLiteral("Activated"));
        activated << QVariant::fromValue(QDBusObjectPath(Portal->Session)) << Portal->Shortcut
                  << qulonglong(0) << QVariantMap();
        QDBusConnection::sessionBus().send(activated);
        return QStringLiteral("ok");
    }
    // Every Notify call so far, one per line.
    QString Notices() {
        return Notifications != nullptr ? Notifications->Log.join(QLatin1Char('\n')) : QString();
    }

private Q_SLOTS:
    void MenuUpdated(const QDBusMessage&) { ++menuUpdates_; }

private:
    bool listening_ = false;
    int menuUpdates_ = 0;

    QString Call(const QString& method) {
        const QDBusMessage reply =
            Ask(QStringLiteral("org.kde.StatusNotifierItem"), method, {100, 100});
        return reply.type() == QDBusMessage::ReplyMessage ? QStringLiteral("ok")
                                                          : reply.errorMessage();
    }
    QDBusMessage Ask(const QString& interface, const QString& method, const QVariantList& args) {
        if (Watcher == nullptr || Watcher->Items().isEmpty()) {
            return QDBusMessage::createError(QStringLiteral("qrv.test.NoItem"),
                                             QStringLiteral("no item registered"));
        }
        QString service = Watcher->Items().constFirst();
        QString path = QStringLiteral("/StatusNotifierItem");
        const qsizetype slash = service.indexOf(QLatin1Char('/'));
        if (slash >= 0) {
            path = service.mid(slash);
            service = service.left(slash);
        }
        QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, method);
        call.setArguments(args);
        return QDBusConnection::sessionBus().call(call, QDBus::Block, kAskMs);
    }
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    bool watcher = false;
    bool notifications = false;
    bool portal = false;
    int watcherAfterMs = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--watcher") == 0) {
            watcher = true;
        } else if (std::strcmp(argv[i], "--notifications") == 0) {
            notifications = true;
        } else if (std::strcmp(argv[i], "--portal") == 0) {
            portal = true;
        } else if (std::strcmp(argv[i], "--watcher-after-ms") == 0 && i + 1 < argc) {
            watcher = true;
            watcherAfterMs = std::atoi(argv[++i]);
        }
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        std::fprintf(stderr, "qrv_desktop_peer: no session bus\n");
        return 1;
    }
    TPeer peer;
    constexpr auto kExport = QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                             QDBusConnection::ExportAllProperties;
    if (notifications) {
        peer.Notifications = new TNotifications;
        bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), peer.Notifications,
                           kExport);
        bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
    }
    if (portal) {
        qDBusRegisterMetaType<TShortcut>();
        qDBusRegisterMetaType<TShortcuts>();
        peer.Portal = new TPortal;
        bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), peer.Portal, kExport);
        bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop"));
    }
    bus.registerObject(QStringLiteral("/Peer"), &peer, kExport);
    const auto startWatcher = [&peer, &bus] {
        peer.Watcher = new TWatcher;
        bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), peer.Watcher, kExport);
        bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
    };
    if (watcher) {
        QTimer::singleShot(watcherAfterMs, &app, startWatcher);
    }
    // Ready once the tests can reach us.
    bus.registerService(QStringLiteral("qrv.test.DesktopPeer"));
    return QCoreApplication::exec();
}

#include "DesktopPeer.moc"
