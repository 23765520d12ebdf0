#include "platform/qt/ShortcutPortal.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMetaType>
#include <QDBusVariant>

// One shortcut as the portal takes it: an id and its properties.
struct TPortalShortcut {
    QString Id;
    QVariantMap Properties;
};
using TPortalShortcuts = QList<TPortalShortcut>;
Q_DECLARE_METATYPE(TPortalShortcut)

QDBusArgument& operator<<(QDBusArgument& out, const TPortalShortcut& shortcut) {
    out.beginStructure();
    out << shortcut.Id << shortcut.Properties;
    out.endStructure();
    return out;
}
const QDBusArgument& operator>>(const QDBusArgument& in, TPortalShortcut& shortcut) {
    in.beginStructure();
    in >> shortcut.Id >> shortcut.Properties;
    in.endStructure();
    return in;
}

namespace qrv::platform {

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
constexpr int kAskMs = 1000;

// The shortcut's id on the portal for our id.
QString ShortcutId(int id) {
    return QStringLiteral("hotkey-%1").arg(id);
}

// The portal's object paths embed the caller's unique name: ":1.42" becomes "1_42".
QString Sender() {
    QString name = QDBusConnection::sessionBus().baseService();
    name.remove(0, name.startsWith(QLatin1Char(':')) ? 1 : 0);
    return name.replace(QLatin1Char('.'), QLatin1Char('_'));
}

} // namespace

TShortcutPortal::TShortcutPortal(QObject* parent) : QObject(parent) {
    qDBusRegisterMetaType<TPortalShortcut>();
    qDBusRegisterMetaType<TPortalShortcuts>();
    QDBusConnection::sessionBus().connect(kService, kPath, kInterface, QStringLiteral("Activated"),
                                          this, SLOT(ShortcutActivated(QDBusMessage)));
}

TShortcutPortal::~TShortcutPortal() {
    while (!sessions_.empty()) {
        Unbind(sessions_.begin()->first);
    }
}

bool TShortcutPortal::Available() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return false;
    }
    QDBusMessage ask = QDBusMessage::createMethodCall(
        kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    ask << kInterface << QStringLiteral("version");
    const QDBusMessage reply = bus.call(ask, QDBus::Block, kAskMs);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
           reply.arguments().constFirst().value<QDBusVariant>().variant().toUInt() >= 1;
}

QString TShortcutPortal::Token() {
    return QStringLiteral("quorvane%1").arg(++tokens_);
}

void TShortcutPortal::Ask(const QString& method, QVariantList arguments, QVariantMap options,
                          TDone done) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString token = Token();
    options.insert(QStringLiteral("handle_token"), token);
    const QString request =
        kPath + QStringLiteral("/request/") + Sender() + QLatin1Char('/') + token;
    // Listen before asking: the response may come before the call's own reply.
    bus.connect(kService, request, QStringLiteral("org.freedesktop.portal.Request"),
                QStringLiteral("Response"), this, SLOT(Response(uint, QVariantMap, QDBusMessage)));
    pending_[request] = std::move(done);
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    arguments.append(options);
    call.setArguments(arguments);
    bus.send(call); // its reply only names the request, which we know already
}

void TShortcutPortal::Response(uint response, const QVariantMap& results,
                               const QDBusMessage& message) {
    const auto it = pending_.find(message.path());
    if (it == pending_.end()) {
        return;
    }
    const TDone done = std::move(it->second);
    pending_.erase(it);
    QDBusConnection::sessionBus().disconnect(
        kService, message.path(), QStringLiteral("org.freedesktop.portal.Request"),
        QStringLiteral("Response"), this, SLOT(Response(uint, QVariantMap, QDBusMessage)));
    done(response, results);
}

void TShortcutPortal::Bind(int id, const QString& trigger, const QString& description) {
    Unbind(id);
    QVariantMap options;
    options.insert(QStringLiteral("session_handle_token"), Token());
    Ask(QStringLiteral("CreateSession"), {}, options,
        [this, id, trigger, description](uint response, const QVariantMap& results) {
            // An object path in the portal's description, a string in older portals.
            const QVariant handle = results.value(QStringLiteral("session_handle"));
            const QString session = handle.metaType() == QMetaType::fromType<QDBusObjectPath>()
                                        ? handle.value<QDBusObjectPath>().path()
                                        : handle.toString();
            if (response != 0 || session.isEmpty()) {
                return; // refused or cancelled: the hot key stays off
            }
            sessions_[id] = session;
            TPortalShortcut shortcut{ShortcutId(id), {}};
            shortcut.Properties.insert(QStringLiteral("description"), description);
            shortcut.Properties.insert(QStringLiteral("preferred_trigger"), trigger);
            Ask(QStringLiteral("BindShortcuts"),
                {QVariant::fromValue(QDBusObjectPath(session)),
                 QVariant::fromValue(TPortalShortcuts{shortcut}), QString()},
                {}, [](uint, const QVariantMap&) {});
        });
}

void TShortcutPortal::Unbind(int id) {
    const auto it = sessions_.find(id);
    if (it == sessions_.end()) {
        return;
    }
    const QDBusMessage close = QDBusMessage::createMethodCall(
        kService, it->second, QStringLiteral("org.freedesktop.portal.Session"),
        QStringLiteral("Close"));
    QDBusConnection::sessionBus().send(close);
    sessions_.erase(it);
}

void TShortcutPortal::ShortcutActivated(const QDBusMessage& message) {
    // (o session, s shortcut, t timestamp, a{sv} options)
    const QVariantList arguments = message.arguments();
    if (arguments.size() < 2) {
        return;
    }
    const QDBusObjectPath session = arguments[0].value<QDBusObjectPath>();
    const QString shortcut = arguments[1].toString();
    for (const auto& [id, path] : sessions_) {
        if (path == session.path() && shortcut == ShortcutId(id)) {
            Q_EMIT Activated(id);
        }
    }
}

} // namespace qrv::platform
