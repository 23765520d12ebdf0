// The desktop's side of the session bus for the end-to-end tests: a status-notifier watcher with a
// host behind it, and a notification server, each only when asked for. It records what the
// program sends and reads the program's item as a panel would; the tests ask it through
// qrv.test.DesktopPeer (with dbus-send).
//
//   qrv_desktop_peer [--watcher] [--watcher-after-ms N] [--notifications]

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>

#include <cstdio>
#include <cstring>

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
        const QString item = service.startsWith(QLatin1Char('/')) ? message.service() + service
                                                                  : service;
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
    QStringList GetCapabilities() { return {QStringLiteral("body"), QStringLiteral("body-markup")}; }
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
                       .arg(id));
        return id;
    }
    void CloseNotification(uint) {}
    QString GetServerInformation(QString& vendor, QString& version, QString& spec) {
        vendor = QStringLiteral("test");
        version = QStringLiteral("1");
        spec = QStringLiteral("1.2");
        return QStringLiteral("qrv-test-notifications");
    }

private:
    uint lastId_ = 0;
};

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

public Q_SLOTS:
    // The items registered, one per line.
    QString Items() { return Watcher != nullptr ? Watcher->Items().join(QLatin1Char('\n')) : QString(); }
    // The first item as a panel shows it: "status=…|tooltip=…|pixel=RRGGBB|id=…|title=…|menu=…".
    QString Inspect() {
        QDBusMessage reply = Ask(QStringLiteral("org.freedesktop.DBus.Properties"),
                                 QStringLiteral("GetAll"),
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
            const QDBusArgument arg = all.value(QStringLiteral("IconPixmap")).value<QDBusArgument>();
            arg.beginArray();
            while (!arg.atEnd()) {
                TPixmap pixmap;
                arg >> pixmap;
                // The middle of the largest picture, ARGB in network order.
                const qsizetype at =
                    (static_cast<qsizetype>(pixmap.Height / 2) * pixmap.Width + pixmap.Width / 2) * 4;
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
    // Clicks the first item (as a status-notifier host does, once per click).
    QString Activate() { return Call(QStringLiteral("Activate")); }
    QString ContextMenu() { return Call(QStringLiteral("ContextMenu")); }
    // Every Notify call so far, one per line.
    QString Notices() {
        return Notifications != nullptr ? Notifications->Log.join(QLatin1Char('\n')) : QString();
    }

private:
    QString Call(const QString& method) {
        const QDBusMessage reply = Ask(QStringLiteral("org.kde.StatusNotifierItem"), method, {100, 100});
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
    int watcherAfterMs = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--watcher") == 0) {
            watcher = true;
        } else if (std::strcmp(argv[i], "--notifications") == 0) {
            notifications = true;
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
