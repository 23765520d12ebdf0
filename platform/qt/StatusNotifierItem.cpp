#include "platform/qt/StatusNotifierItem.h"

#include "platform/qt/DBusMenu.h"
#include "platform/qt/DesktopNotifier.h"

#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QImage>
#include <QPixmap>
#include <QtEndian>

#include <optional>

#include <unistd.h>

// The item's picture as the protocol carries it: width, height and ARGB32 pixels in network
// byte order, one entry per size so that the host picks the sharpest.
struct TSniPixmap {
    int Width = 0;
    int Height = 0;
    QByteArray Bytes;
};
using TSniPixmaps = QList<TSniPixmap>;
struct TSniToolTip {
    QString IconName;
    TSniPixmaps Pixmaps;
    QString Title;
    QString Text;
};
Q_DECLARE_METATYPE(TSniPixmap)
Q_DECLARE_METATYPE(TSniToolTip)

QDBusArgument& operator<<(QDBusArgument& out, const TSniPixmap& pixmap) {
    out.beginStructure();
    out << pixmap.Width << pixmap.Height << pixmap.Bytes;
    out.endStructure();
    return out;
}
const QDBusArgument& operator>>(const QDBusArgument& in, TSniPixmap& pixmap) {
    in.beginStructure();
    in >> pixmap.Width >> pixmap.Height >> pixmap.Bytes;
    in.endStructure();
    return in;
}
QDBusArgument& operator<<(QDBusArgument& out, const TSniToolTip& tip) {
    out.beginStructure();
    out << tip.IconName << tip.Pixmaps << tip.Title << tip.Text;
    out.endStructure();
    return out;
}
const QDBusArgument& operator>>(const QDBusArgument& in, TSniToolTip& tip) {
    in.beginStructure();
    in >> tip.IconName >> tip.Pixmaps >> tip.Title >> tip.Text;
    in.endStructure();
    return in;
}

namespace qrv::platform {

namespace {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString kWatcherInterface = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kItemPath = QStringLiteral("/StatusNotifierItem");
const QString kMenuPath = QStringLiteral("/MenuBar");
// A watcher that does not answer must not hold the window up.
constexpr int kAskMs = 1000;

TSniPixmaps Pixmaps(const QIcon& icon) {
    TSniPixmaps out;
    for (const QImage& image : StatusNotifierImages(icon)) {
        TSniPixmap pixmap{image.width(), image.height(), {}};
        pixmap.Bytes.resize(static_cast<qsizetype>(image.width()) * image.height() * 4);
        char* at = pixmap.Bytes.data();
        for (int y = 0; y < image.height(); ++y) {
            const auto* line = reinterpret_cast<const quint32*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                qToBigEndian(line[x], at);
                at += 4;
            }
        }
        out.append(pixmap);
    }
    return out;
}

} // namespace

QList<QImage> StatusNotifierImages(const QIcon& icon) {
    QList<QImage> images;
    if (icon.isNull()) {
        return images;
    }
    for (const int size : {16, 22, 24, 32, 48, 64}) {
        // Ratio 1: the host asks for device pixels, whatever the program's own scale.
        const QImage image =
            icon.pixmap(QSize(size, size), 1.0).toImage().convertToFormat(QImage::Format_ARGB32);
        if (!image.isNull()) {
            images.append(image);
        }
    }
    return images;
}

// The org.kde.StatusNotifierItem interface of the item.
class TStatusNotifierAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ Category)
    Q_PROPERTY(QString Id READ Id)
    Q_PROPERTY(QString Title READ Title)
    Q_PROPERTY(QString Status READ Status)
    Q_PROPERTY(int WindowId READ WindowId)
    Q_PROPERTY(bool ItemIsMenu READ ItemIsMenu)
    Q_PROPERTY(QString IconThemePath READ Empty)
    Q_PROPERTY(QString IconName READ Empty)
    Q_PROPERTY(TSniPixmaps IconPixmap READ IconPixmap)
    Q_PROPERTY(QString OverlayIconName READ Empty)
    Q_PROPERTY(TSniPixmaps OverlayIconPixmap READ NoPixmaps)
    Q_PROPERTY(QString AttentionIconName READ Empty)
    Q_PROPERTY(TSniPixmaps AttentionIconPixmap READ NoPixmaps)
    Q_PROPERTY(QString AttentionMovieName READ Empty)
    Q_PROPERTY(TSniToolTip ToolTip READ ToolTip)
    Q_PROPERTY(QDBusObjectPath Menu READ Menu)
public:
    explicit TStatusNotifierAdaptor(TStatusNotifierItem* item)
        : QDBusAbstractAdaptor(item), item_(item) {
        connect(item, &TStatusNotifierItem::NewIcon, this, [this] {
            pixmaps_.reset();
            Q_EMIT NewIcon();
        });
        connect(item, &TStatusNotifierItem::NewToolTip, this, &TStatusNotifierAdaptor::NewToolTip);
    }

    QString Category() const { return QStringLiteral("ApplicationStatus"); }
    QString Id() const { return QString::fromLatin1(kDesktopEntryName); }
    QString Title() const { return QString::fromLatin1(kDesktopAppName); }
    // Never "NeedsAttention": the picture is the run's colour code and must stay.
    QString Status() const { return QStringLiteral("Active"); }
    int WindowId() const { return 0; }
    // Not a menu only: a left click activates (toggles the window); the right click's menu is
    // the exported one, or ours at the host's request.
    bool ItemIsMenu() const { return false; }
    QString Empty() const { return {}; }
    TSniPixmaps NoPixmaps() const { return {}; }
    TSniPixmaps IconPixmap() const {
        if (!pixmaps_) {
            pixmaps_ = Pixmaps(item_->Icon());
        }
        return *pixmaps_;
    }
    TSniToolTip ToolTip() const { return TSniToolTip{{}, {}, item_->ToolTip(), {}}; }
    QDBusObjectPath Menu() const {
        const QString path = item_->MenuPath();
        return QDBusObjectPath(path.isEmpty() ? QStringLiteral("/NO_DBUSMENU") : path);
    }

public Q_SLOTS:
    void Activate(int, int) { Q_EMIT item_->Activated(); }
    void SecondaryActivate(int, int) {}
    void ContextMenu(int x, int y) { Q_EMIT item_->ContextMenuRequested(QPoint(x, y)); }
    void Scroll(int, const QString&) {}

Q_SIGNALS:
    void NewTitle();
    void NewIcon();
    void NewAttentionIcon();
    void NewOverlayIcon();
    void NewToolTip();
    void NewStatus(const QString& status);

private:
    TStatusNotifierItem* item_;
    mutable std::optional<TSniPixmaps> pixmaps_; // made once per picture, not per request
};

TStatusNotifierItem::TStatusNotifierItem(QObject* parent) : QObject(parent) {
    qDBusRegisterMetaType<TSniPixmap>();
    qDBusRegisterMetaType<TSniPixmaps>();
    qDBusRegisterMetaType<TSniToolTip>();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return;
    }
    new TStatusNotifierAdaptor(this);
    serviceName_ = QStringLiteral("org.kde.StatusNotifierItem-%1-1").arg(::getpid());
    // The menu is on the bus before any host can read the item's Menu property.
    menu_ = new TDBusMenu(kMenuPath, bus, this);
    exported_ = bus.registerObject(kItemPath, this, QDBusConnection::ExportAdaptors) &&
                bus.registerService(serviceName_);
    if (!exported_) {
        return;
    }
    // A panel that starts after us (or restarts) announces itself by taking the watcher's name.
    watcher_ = new QDBusServiceWatcher(kWatcherService, bus,
                                       QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& owner) {
                if (owner.isEmpty()) {
                    ++registration_;
                    SetHosted(false);
                } else {
                    Register();
                }
            });
    // A host that comes to a watcher already running (the panel's tray plug-in added later).
    bus.connect(kWatcherService, kWatcherPath, kWatcherInterface,
                QStringLiteral("StatusNotifierHostRegistered"), this, SLOT(HostRegistered()));
    bus.connect(kWatcherService, kWatcherPath, kWatcherInterface,
                QStringLiteral("StatusNotifierHostUnregistered"), this, SLOT(HostRegistered()));
    if (bus.interface()->isServiceRegistered(kWatcherService)) {
        Register();
    }
}

TStatusNotifierItem::~TStatusNotifierItem() {
    if (exported_) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterService(serviceName_);
        bus.unregisterObject(kItemPath);
    }
}

bool TStatusNotifierItem::HostPresent() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(kWatcherService)) {
        return false;
    }
    QDBusMessage ask = QDBusMessage::createMethodCall(
        kWatcherService, kWatcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    ask << kWatcherInterface << QStringLiteral("IsStatusNotifierHostRegistered");
    const QDBusMessage reply = bus.call(ask, QDBus::Block, kAskMs);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
           reply.arguments().constFirst().value<QDBusVariant>().variant().toBool();
}

void TStatusNotifierItem::HostRegistered() {
    Register();
}

void TStatusNotifierItem::Register() {
    const int registration = ++registration_;
    QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusMessage call =
        QDBusMessage::createMethodCall(kWatcherService, kWatcherPath, kWatcherInterface,
                                       QStringLiteral("RegisterStatusNotifierItem"));
    call << serviceName_;
    auto* registered = new QDBusPendingCallWatcher(bus.asyncCall(call, kAskMs), this);
    connect(registered, &QDBusPendingCallWatcher::finished, this,
            [this, registration](QDBusPendingCallWatcher* done) {
                done->deleteLater();
                if (registration != registration_) {
                    return;
                }
                if (done->isError()) {
                    SetHosted(false);
                    return;
                }
                // Registered; shown only when a host stands behind the watcher.
                QDBusMessage ask = QDBusMessage::createMethodCall(
                    kWatcherService, kWatcherPath,
                    QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
                ask << kWatcherInterface << QStringLiteral("IsStatusNotifierHostRegistered");
                auto* hosted = new QDBusPendingCallWatcher(
                    QDBusConnection::sessionBus().asyncCall(ask, kAskMs), this);
                connect(hosted, &QDBusPendingCallWatcher::finished, this,
                        [this, registration](QDBusPendingCallWatcher* answer) {
                            answer->deleteLater();
                            if (registration != registration_) {
                                return;
                            }
                            const QDBusPendingReply<QDBusVariant> reply = *answer;
                            SetHosted(reply.isValid() && reply.value().variant().toBool());
                        });
            });
}

void TStatusNotifierItem::SetHosted(bool hosted) {
    if (hosted == hosted_) {
        return;
    }
    hosted_ = hosted;
    Q_EMIT HostChanged(hosted);
}

void TStatusNotifierItem::SetIcon(const QIcon& icon) {
    icon_ = icon;
    Q_EMIT NewIcon();
}

void TStatusNotifierItem::SetMenu(QMenu* menu) {
    if (menu_ != nullptr) {
        menu_->SetMenu(menu);
    }
}

QString TStatusNotifierItem::MenuPath() const {
    return menu_ != nullptr && menu_->Exported() ? menu_->Path() : QString();
}

void TStatusNotifierItem::SetToolTip(const QString& text) {
    if (text == toolTip_) {
        return;
    }
    toolTip_ = text;
    Q_EMIT NewToolTip();
}

} // namespace qrv::platform

#include "StatusNotifierItem.moc"
