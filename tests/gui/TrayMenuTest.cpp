// The tray menu as a status-notifier host reads it over a session bus of its own (a real
// dbus-daemon): the host's side is a second connection of this process.

#include "platform/qt/DBusMenu.h"

#include <QAction>
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QMenu>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using qrv::platform::TDBusMenu;

const QString kPath = QStringLiteral("/MenuBar");
const QString kInterface = QStringLiteral("com.canonical.dbusmenu");

// What the host hears: the menu's signals, counted with their arguments.
class THostEars : public QObject {
    Q_OBJECT
public:
    QList<QVariantList> Layouts;
    QList<QDBusMessage> Items;

public Q_SLOTS:
    void LayoutUpdated(uint revision, int parent) { Layouts.append({revision, parent}); }
    void ItemsPropertiesUpdated(const QDBusMessage& message) { Items.append(message); }
};

struct TItem {
    int Id = 0;
    QVariantMap Properties;
};

// (ia{sv}av) read back by hand, as a host reads it.
TItem ReadItem(const QDBusArgument& in, QList<TItem>* children) {
    TItem item;
    in.beginStructure();
    in >> item.Id >> item.Properties;
    in.beginArray();
    while (!in.atEnd()) {
        QDBusVariant child;
        in >> child;
        if (children != nullptr) {
            children->append(ReadItem(child.variant().value<QDBusArgument>(), nullptr));
        }
    }
    in.endArray();
    in.endStructure();
    return item;
}

class TrayMenu : public ::testing::Test {
protected:
    void SetUp() override {
        daemon_.start(QStringLiteral("dbus-daemon"),
                      {QStringLiteral("--session"), QStringLiteral("--nofork"),
                       QStringLiteral("--print-address=1"),
                       QStringLiteral("--address=unix:tmpdir=/tmp")});
        if (!daemon_.waitForStarted(5000)) {
            GTEST_SKIP() << "dbus-daemon is not installed";
        }
        ASSERT_TRUE(QTest::qWaitFor([this] { return daemon_.canReadLine(); }, 5000));
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
        server_ = QDBusConnection::connectToBus(address_, QStringLiteral("menu-server"));
        host_ = QDBusConnection::connectToBus(address_, QStringLiteral("menu-host"));
        ASSERT_TRUE(server_.isConnected() && host_.isConnected());

        show_ = menu_.addAction(QStringLiteral("Show"));
        show_->setEnabled(false);
        hide_ = menu_.addAction(QStringLiteral("Hide"));
        hide_->setShortcut(QKeySequence(QStringLiteral("Ctrl+H")));
        log_ = menu_.addAction(QStringLiteral("&Log"));
        quit_ = menu_.addAction(QStringLiteral("Quit"));
        exported_ = std::make_unique<TDBusMenu>(kPath, server_);
        ASSERT_TRUE(exported_->Exported());
        exported_->SetMenu(&menu_);
        host_.connect(server_.baseService(), kPath, kInterface, QStringLiteral("LayoutUpdated"),
                      &ears_, SLOT(LayoutUpdated(uint, int)));
        host_.connect(server_.baseService(), kPath, kInterface,
                      QStringLiteral("ItemsPropertiesUpdated"), &ears_,
                      SLOT(ItemsPropertiesUpdated(QDBusMessage)));
        // Whatever the menu told hosts before these ears listened may still be on its way: a
        // round trip to the menu's connection comes back after every message it sent before,
        // and then the ears start empty.
        const QDBusMessage ping = host_.call(QDBusMessage::createMethodCall(
            server_.baseService(), kPath, QStringLiteral("org.freedesktop.DBus.Peer"),
            QStringLiteral("Ping")));
        ASSERT_EQ(ping.type(), QDBusMessage::ReplyMessage) << ping.errorMessage().toStdString();
        QCoreApplication::processEvents();
        ears_.Layouts.clear();
        ears_.Items.clear();
    }
    void TearDown() override {
        exported_.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("menu-server"));
        QDBusConnection::disconnectFromBus(QStringLiteral("menu-host"));
        daemon_.kill();
        daemon_.waitForFinished(5000);
    }

    // A call from the host, answered while this thread keeps serving the menu.
    QDBusMessage Call(const QString& method, const QVariantList& arguments) {
        QDBusMessage call =
            QDBusMessage::createMethodCall(server_.baseService(), kPath, kInterface, method);
        call.setArguments(arguments);
        QDBusPendingCallWatcher watcher(host_.asyncCall(call, 5000));
        EXPECT_TRUE(QTest::qWaitFor([&] { return watcher.isFinished(); }, 6000));
        return watcher.reply();
    }

    QList<TItem> Layout(TItem* root = nullptr) {
        const QDBusMessage reply = Call(QStringLiteral("GetLayout"), {0, -1, QStringList()});
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        QList<TItem> children;
        if (reply.arguments().size() == 2) {
            const TItem top = ReadItem(reply.arguments()[1].value<QDBusArgument>(), &children);
            if (root != nullptr) {
                *root = top;
            }
        }
        return children;
    }

    static QVariant Event() { return QVariant::fromValue(QDBusVariant(QVariant(0))); }

    QProcess daemon_;
    QString address_;
    QDBusConnection server_{QString()};
    QDBusConnection host_{QString()};
    QMenu menu_;
    QAction* show_ = nullptr;
    QAction* hide_ = nullptr;
    QAction* log_ = nullptr;
    QAction* quit_ = nullptr;
    std::unique_ptr<TDBusMenu> exported_;
    THostEars ears_;
};

TEST_F(TrayMenu, TheHostReadsTheCommandsTheirCaptionsAndStates) {
    TItem root;
    const QList<TItem> items = Layout(&root);
    EXPECT_EQ(root.Id, 0);
    EXPECT_EQ(root.Properties.value(QStringLiteral("children-display")).toString(),
              QStringLiteral("submenu"));
    ASSERT_EQ(items.size(), 4);
    const QStringList labels{QStringLiteral("Show"), QStringLiteral("Hide"), QStringLiteral("_Log"),
                             QStringLiteral("Quit")};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(items[i].Id, i + 1);
        EXPECT_EQ(items[i].Properties.value(QStringLiteral("label")).toString(), labels[i]);
        EXPECT_EQ(items[i].Properties.value(QStringLiteral("enabled")).toBool(), i != 0);
        EXPECT_TRUE(items[i].Properties.value(QStringLiteral("visible")).toBool());
    }
    // The short-cut the window's menu shows, as the hosts read one.
    QList<QStringList> shortcut;
    items[1].Properties.value(QStringLiteral("shortcut")).value<QDBusArgument>() >> shortcut;
    EXPECT_EQ(shortcut, (QList<QStringList>{{QStringLiteral("Control"), QStringLiteral("h")}}));
    EXPECT_FALSE(items[0].Properties.contains(QStringLiteral("shortcut")));
    // Only the properties asked for; an unknown item is an error, not an empty answer.
    const QDBusMessage some =
        Call(QStringLiteral("GetGroupProperties"),
             {QVariant::fromValue(QList<int>{2}), QStringList{QStringLiteral("enabled")}});
    ASSERT_EQ(some.type(), QDBusMessage::ReplyMessage) << some.errorMessage().toStdString();
    EXPECT_EQ(Call(QStringLiteral("GetLayout"), {9, -1, QStringList()}).type(),
              QDBusMessage::ErrorMessage);
    const QDBusMessage shown = Call(QStringLiteral("AboutToShow"), {0});
    ASSERT_EQ(shown.arguments().size(), 1);
    EXPECT_FALSE(shown.arguments()[0].toBool());
    const QDBusMessage version =
        host_.call(QDBusMessage::createMethodCall(server_.baseService(), kPath,
                                                  QStringLiteral("org.freedesktop.DBus.Properties"),
                                                  QStringLiteral("Get"))
                       << kInterface << QStringLiteral("Version"),
                   QDBus::BlockWithGui);
    ASSERT_EQ(version.arguments().size(), 1);
    EXPECT_EQ(version.arguments()[0].value<QDBusVariant>().variant().toUInt(), 3u);
}

TEST(TrayMenuLabel, AmpersandsBecomeTheHostsUnderscores) {
    const std::pair<const char*, const char*> rows[] = {
        {"Hide", "Hide"}, {"&Hide", "_Hide"}, {"Sa&ve && use", "Sa_ve & use"}, {"a_b", "a__b"},
        {"end&", "end"},  {"&&&x", "&_x"},    {"Zobrazit", "Zobrazit"},        {"", ""},
    };
    for (const auto& [text, label] : rows) {
        EXPECT_EQ(TDBusMenu::Label(QString::fromUtf8(text)).toStdString(), label) << text;
    }
}

TEST_F(TrayMenu, AClickRunsAnEnabledCommandOnlyAndAfterTheAnswer) {
    QSignalSpy hidden(hide_, &QAction::triggered);
    QSignalSpy shown(show_, &QAction::triggered);
    QSignalSpy quit(quit_, &QAction::triggered);
    EXPECT_EQ(Call(QStringLiteral("Event"), {2, QStringLiteral("clicked"), Event(), 0u}).type(),
              QDBusMessage::ReplyMessage);
    EXPECT_TRUE(QTest::qWaitFor([&] { return hidden.count() == 1; }, 2000));
    // A disabled command and events other than a click do nothing.
    Call(QStringLiteral("Event"), {1, QStringLiteral("clicked"), Event(), 0u});
    Call(QStringLiteral("Event"), {4, QStringLiteral("hovered"), Event(), 0u});
    // The grouped form that Xfce's tray sends, from a host of another make.
    QSignalSpy logged(log_, &QAction::triggered);
    QProcess gdbus;
    gdbus.start(QStringLiteral("gdbus"),
                {QStringLiteral("call"), QStringLiteral("-a"), address_, QStringLiteral("-d"),
                 server_.baseService(), QStringLiteral("-o"), kPath, QStringLiteral("-m"),
                 kInterface + QStringLiteral(".EventGroup"),
                 QStringLiteral("[(3, 'clicked', <0>, uint32 0), (7, 'clicked', <0>, uint32 0)]")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return gdbus.state() == QProcess::NotRunning; }, 5000));
    EXPECT_EQ(QString::fromUtf8(gdbus.readAllStandardOutput()).trimmed().toStdString(), "([7],)")
        << gdbus.readAllStandardError().toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return logged.count() == 1; }, 2000));
    QTest::qWait(100);
    EXPECT_EQ(hidden.count(), 1);
    EXPECT_EQ(shown.count(), 0);
    EXPECT_EQ(quit.count(), 0);
}

TEST_F(TrayMenu, StatesAndCaptionsThatChangeReachTheHost) {
    const unsigned before = exported_->Revision();
    // Hide, as the window does it: Hide off, Show on.
    hide_->setEnabled(false);
    show_->setEnabled(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !ears_.Items.isEmpty(); }, 3000));
    QTest::qWait(100);
    ASSERT_EQ(ears_.Items.size(), 1) << "one signal for the changes of one moment";
    ASSERT_EQ(ears_.Items[0].signature(), QStringLiteral("a(ia{sv})a(ias)"));
    QList<TItem> updated;
    const QDBusArgument changed = ears_.Items[0].arguments()[0].value<QDBusArgument>();
    changed.beginArray();
    while (!changed.atEnd()) {
        TItem item;
        changed.beginStructure();
        changed >> item.Id >> item.Properties;
        changed.endStructure();
        updated.append(item);
    }
    changed.endArray();
    ASSERT_EQ(updated.size(), 2);
    EXPECT_EQ(updated[0].Id, 2);
    EXPECT_FALSE(updated[0].Properties.value(QStringLiteral("enabled")).toBool());
    EXPECT_EQ(updated[1].Id, 1);
    EXPECT_TRUE(updated[1].Properties.value(QStringLiteral("enabled")).toBool());
    EXPECT_TRUE(ears_.Layouts.isEmpty()) << "states alone leave the layout";

    // A language change: every caption anew, one layout update, the new captions read back.
    const QStringList czech{QStringLiteral("Zobrazit"), QStringLiteral("Skrýt"),
                            QStringLiteral("Záznam"), QStringLiteral("Konec")};
    for (int i = 0; i < 4; ++i) {
        menu_.actions()[i]->setText(czech[i]);
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return !ears_.Layouts.isEmpty(); }, 3000));
    QTest::qWait(100);
    ASSERT_EQ(ears_.Layouts.size(), 1);
    EXPECT_GT(ears_.Layouts[0][0].toUInt(), before);
    EXPECT_EQ(ears_.Layouts[0][1].toInt(), 0);
    const QList<TItem> items = Layout();
    ASSERT_EQ(items.size(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(items[i].Properties.value(QStringLiteral("label")).toString(), czech[i]);
    }
    EXPECT_TRUE(items[0].Properties.value(QStringLiteral("enabled")).toBool());
    EXPECT_FALSE(items[1].Properties.value(QStringLiteral("enabled")).toBool());
}

} // namespace

#include "TrayMenuTest.moc"
