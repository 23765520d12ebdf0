#include "platform/qt/DesktopNotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace qrv::platform {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

} // namespace

QString NoticeIcon(TNoticeKind kind) {
    // Names of the freedesktop icon naming scheme, present in every icon theme: the servers
    // draw the notification's icon from this name, so the kind shows as the balloon's does.
    // The program itself is still named by the application name and the desktop entry.
    switch (kind) {
    case TNoticeKind::Info:
        return QStringLiteral("dialog-information");
    case TNoticeKind::Warning:
        return QStringLiteral("dialog-warning");
    case TNoticeKind::Error:
        return QStringLiteral("dialog-error");
    case TNoticeKind::None:
        break;
    }
    return QString::fromLatin1(kDesktopEntryName);
}

QString NoticeCategory(TNoticeKind kind) {
    // The only warning is the offline one (the station lost its connection); errors are
    // servers that failed to answer as expected.
    switch (kind) {
    case TNoticeKind::Info:
        return QStringLiteral("network");
    case TNoticeKind::Warning:
        return QStringLiteral("network.disconnected");
    case TNoticeKind::Error:
        return QStringLiteral("network.error");
    case TNoticeKind::None:
        break;
    }
    return {};
}

TDesktopNotifier::TDesktopNotifier(QObject* parent)
    : QObject(parent), connected_(QDBusConnection::sessionBus().isConnected()) {}

void TDesktopNotifier::Show(const QString& title, const QString& text, int timeoutMs,
                            TNoticeKind kind) {
    if (!connected_) {
        return;
    }
    pending_ = TNotice{title, text, timeoutMs, kind};
    if (busy_) {
        // One call at a time: the next notice must know the id of this one to replace it, and
        // only the newest notice waiting is worth showing.
        return;
    }
    SendPending();
}

void TDesktopNotifier::SendPending() {
    if (!pending_) {
        return;
    }
    busy_ = true;
    if (!capabilitiesKnown_) {
        // Whether the server reads markup in the text decides how server names are escaped.
        const QDBusMessage ask = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                                QStringLiteral("GetCapabilities"));
        auto* watcher =
            new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(ask), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [this](QDBusPendingCallWatcher* call) {
                    call->deleteLater();
                    const QDBusPendingReply<QStringList> reply = *call;
                    capabilitiesKnown_ = true;
                    bodyMarkup_ =
                        reply.isValid() && reply.value().contains(QStringLiteral("body-markup"));
                    SendNotice();
                });
        return;
    }
    SendNotice();
}

void TDesktopNotifier::SendNotice() {
    const TNotice notice = *pending_;
    pending_.reset();
    QString body = notice.Text;
    if (bodyMarkup_) {
        body = body.toHtmlEscaped();
    }
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QString::fromLatin1(kDesktopEntryName));
    // Normal urgency throughout: a critical notice would stay until dismissed, and a monitor's
    // notices are news, not alarms that must be acknowledged.
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(1));
    if (const QString category = NoticeCategory(notice.Kind); !category.isEmpty()) {
        hints.insert(QStringLiteral("category"), category);
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    call << QString::fromLatin1(kDesktopAppName) << lastId_ << NoticeIcon(notice.Kind)
         << notice.Title << body << QStringList() << hints << notice.TimeoutMs;
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* done) {
                done->deleteLater();
                const QDBusPendingReply<uint> reply = *done;
                if (reply.isValid()) {
                    lastId_ = reply.value();
                }
                busy_ = false;
                SendPending();
            });
}

} // namespace qrv::platform
