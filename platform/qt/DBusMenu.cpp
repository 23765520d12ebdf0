#include "platform/qt/DBusMenu.h"

#include <QAction>
#include <QActionEvent>
#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QMenu>
#include <QTimer>

// The wire types of the menu protocol. An item of the layout carries its children as variants,
// which is what lets the type nest.
struct TDBusMenuLayout {
    int Id = 0;
    QVariantMap Properties;
    QList<TDBusMenuLayout> Children;
};
struct TDBusMenuItem {
    int Id = 0;
    QVariantMap Properties;
};
using TDBusMenuItems = QList<TDBusMenuItem>;
struct TDBusMenuItemKeys {
    int Id = 0;
    QStringList Names;
};
using TDBusMenuItemKeysList = QList<TDBusMenuItemKeys>;
struct TDBusMenuEvent {
    int Id = 0;
    QString EventId;
    QDBusVariant Data{QVariant(0)}; // never null: the wire type is worked out from this
    uint Timestamp = 0;
};
using TDBusMenuEvents = QList<TDBusMenuEvent>;
Q_DECLARE_METATYPE(TDBusMenuLayout)
Q_DECLARE_METATYPE(TDBusMenuItem)
Q_DECLARE_METATYPE(TDBusMenuItemKeys)
Q_DECLARE_METATYPE(TDBusMenuEvent)

QDBusArgument& operator<<(QDBusArgument& out, const TDBusMenuLayout& item) {
    out.beginStructure();
    out << item.Id << item.Properties;
    out.beginArray(qMetaTypeId<QDBusVariant>());
    for (const TDBusMenuLayout& child : item.Children) {
        out << QDBusVariant(QVariant::fromValue(child));
    }
    out.endArray();
    out.endStructure();
    return out;
}
const QDBusArgument& operator>>(const QDBusArgument& in, TDBusMenuLayout& item) {
    in.beginStructure();
    in >> item.Id >> item.Properties;
    in.beginArray();
    item.Children.clear();
    while (!in.atEnd()) {
        QDBusVariant child;
        in >> child;
        TDBusMenuLayout read;
        child.variant().value<QDBusArgument>() >> read;
        item.Children.append(read);
    }
    in.endArray();
    in.endStructure();
    return in;
}
QDBusArgument& operator<<(QDBusArgument& out, const TDBusMenuItem& item) {
    out.beginStructure();
    out << item.Id << item.Properties;
    out.endStructure();
    return out;
}
const QDBusArgument& operator>>(const QDBusArgument& in, TDBusMenuItem& item) {
    in.beginStructure();
    in >> item.Id >> item.Properties;
    in.endStructure();
    return in;
}
QDBusArgument& operator<<(QDBusArgument& out, const TDBusMenuItemKeys& item) {
    out.beginStructure();
    out << item.Id << item.Names;
    out.endStructure();
    return out;
}
const QDBusArgument& operator>>(const QDBusArgument& in, TDBusMenuItemKeys& item) {
    in.beginStructure();
    in >> item.Id >> item.Names;
    in.endStructure();
    return in;
}
QDBusArgument& operator<<(QDBusArgument& out, const TDBusMenuEvent& event) {
    out.beginStructure();
    out << event.Id << event.EventId << event.Data << event.Timestamp;
    out.endStructure();
    return out;
}
const QDBusArgument& operator>>(const QDBusArgument& in, TDBusMenuEvent& event) {
    in.beginStructure();
    in >> event.Id >> event.EventId >> event.Data >> event.Timestamp;
    in.endStructure();
    return in;
}

namespace qrv::platform {

namespace {

QVariantMap Only(const QVariantMap& properties, const QStringList& names) {
    if (names.isEmpty()) {
        return properties;
    }
    QVariantMap out;
    for (const QString& name : names) {
        const auto at = properties.constFind(name);
        if (at != properties.constEnd()) {
            out.insert(name, *at);
        }
    }
    return out;
}

} // namespace

class TDBusMenuAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ Version)
    Q_PROPERTY(QString TextDirection READ TextDirection)
    Q_PROPERTY(QString Status READ Status)
    Q_PROPERTY(QStringList IconThemePath READ IconThemePath)
public:
    explicit TDBusMenuAdaptor(TDBusMenu* menu) : QDBusAbstractAdaptor(menu), menu_(menu) {
        connect(menu, &TDBusMenu::LayoutChanged, this,
                [this](unsigned revision) { Q_EMIT LayoutUpdated(revision, 0); });
        connect(menu, &TDBusMenu::ItemsChanged, this, [this](const QList<int>& ids) {
            TDBusMenuItems items;
            for (const int id : ids) {
                items.append({id, menu_->Properties(id)});
            }
            Q_EMIT ItemsPropertiesUpdated(items, {});
        });
    }

    uint Version() const { return 3; }
    QString TextDirection() const { return QStringLiteral("ltr"); }
    QString Status() const { return QStringLiteral("normal"); }
    QStringList IconThemePath() const { return {}; }

public Q_SLOTS:
    uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                   TDBusMenuLayout& layout) {
        if (!Known(parentId)) {
            return menu_->Revision();
        }
        layout.Id = parentId;
        layout.Properties = Only(menu_->Properties(parentId), propertyNames);
        // The menu is flat: only the root has children.
        if (parentId == 0 && recursionDepth != 0) {
            for (int id = 1; id <= menu_->Count(); ++id) {
                layout.Children.append({id, Only(menu_->Properties(id), propertyNames), {}});
            }
        }
        return menu_->Revision();
    }
    TDBusMenuItems GetGroupProperties(const QList<int>& ids, const QStringList& propertyNames) {
        TDBusMenuItems items;
        for (const int id : ids) {
            if (id >= 0 && id <= menu_->Count()) {
                items.append({id, Only(menu_->Properties(id), propertyNames)});
            }
        }
        return items;
    }
    QDBusVariant GetProperty(int id, const QString& name) {
        if (!Known(id)) {
            return QDBusVariant(QVariant(0));
        }
        return QDBusVariant(menu_->Properties(id).value(name));
    }
    void Event(int id, const QString& eventId, const QDBusVariant&, uint) {
        if (eventId == QStringLiteral("clicked")) {
            menu_->Click(id);
        }
    }
    QList<int> EventGroup(const QList<TDBusMenuEvent>& events) {
        QList<int> unknown;
        for (const TDBusMenuEvent& event : events) {
            if (event.Id < 0 || event.Id > menu_->Count()) {
                unknown.append(event.Id);
            } else if (event.EventId == QStringLiteral("clicked")) {
                menu_->Click(event.Id);
            }
        }
        return unknown;
    }
    // The menu is always up to date when it opens: nothing to refresh first.
    bool AboutToShow(int) { return false; }
    QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors) {
        for (const int id : ids) {
            if (id < 0 || id > menu_->Count()) {
                idErrors.append(id);
            }
        }
        return {};
    }

Q_SIGNALS:
    void ItemsPropertiesUpdated(const QList<TDBusMenuItem>& updatedProps,
                                const QList<TDBusMenuItemKeys>& removedProps);
    void LayoutUpdated(uint revision, int parent);
    void ItemActivationRequested(int id, uint timestamp);

private:
    bool Known(int id) {
        if (id >= 0 && id <= menu_->Count()) {
            return true;
        }
        menu_->UnknownId(id);
        return false;
    }

    TDBusMenu* menu_;
};

TDBusMenu::TDBusMenu(const QString& path, QDBusConnection bus, QObject* parent)
    : QObject(parent), path_(path), bus_(std::move(bus)) {
    qDBusRegisterMetaType<TDBusMenuLayout>();
    qDBusRegisterMetaType<TDBusMenuItem>();
    qDBusRegisterMetaType<TDBusMenuItems>();
    qDBusRegisterMetaType<TDBusMenuItemKeys>();
    qDBusRegisterMetaType<TDBusMenuItemKeysList>();
    qDBusRegisterMetaType<TDBusMenuEvent>();
    qDBusRegisterMetaType<TDBusMenuEvents>();
    qDBusRegisterMetaType<QList<QStringList>>();
    if (!bus_.isConnected()) {
        return;
    }
    new TDBusMenuAdaptor(this);
    exported_ = bus_.registerObject(path_, this, QDBusConnection::ExportAdaptors);
}

TDBusMenu::~TDBusMenu() {
    if (exported_) {
        bus_.unregisterObject(path_);
    }
}

void TDBusMenu::SetMenu(QMenu* menu) {
    if (menu_ != nullptr) {
        menu_->removeEventFilter(this);
        disconnect(menu_, nullptr, this, nullptr);
        for (QAction* action : std::as_const(watched_)) {
            disconnect(action, nullptr, this, nullptr);
        }
        watched_.clear();
    }
    menu_ = menu;
    filtered_ = menu;
    if (menu_ != nullptr) {
        menu_->installEventFilter(this);
        for (QAction* action : menu_->actions()) {
            Watch(action);
        }
        // The menu going away empties ours.
        connect(menu_, &QObject::destroyed, this, [this] {
            // Emitted from ~QWidget: the pointer is not cleared yet, and reading it as a QMenu
            // now would be reading a destroyed object.
            menu_ = nullptr;
            filtered_ = nullptr;
            layoutChanged_ = true;
            Flush();
        });
    }
    layoutChanged_ = true;
    Flush();
}

QAction* TDBusMenu::Action(int id) const {
    if (menu_ == nullptr || id < 1) {
        return nullptr;
    }
    const QList<QAction*> actions = menu_->actions();
    return id <= actions.size() ? actions[id - 1] : nullptr;
}

int TDBusMenu::Count() const {
    return menu_ != nullptr ? static_cast<int>(menu_->actions().size()) : 0;
}

QVariantMap TDBusMenu::Properties(int id) const {
    if (id == 0) {
        return {{QStringLiteral("children-display"), QStringLiteral("submenu")}};
    }
    const QAction* action = Action(id);
    if (action == nullptr) {
        return {};
    }
    if (action->isSeparator()) {
        return {{QStringLiteral("type"), QStringLiteral("separator")},
                {QStringLiteral("visible"), action->isVisible()}};
    }
    QVariantMap properties{{QStringLiteral("label"), Label(action->text())},
                           {QStringLiteral("enabled"), action->isEnabled()},
                           {QStringLiteral("visible"), action->isVisible()}};
    const QList<QStringList> shortcut = Shortcut(action->shortcut());
    if (!shortcut.isEmpty()) {
        properties.insert(QStringLiteral("shortcut"), QVariant::fromValue(shortcut));
    }
    return properties;
}

QString TDBusMenu::Label(const QString& text) {
    QString label;
    label.reserve(text.size() + 2);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('&')) {
            // "&&" is a literal ampersand; "&x" marks x; a trailing "&" is dropped.
            if (i + 1 < text.size() && text[i + 1] == QLatin1Char('&')) {
                label += QLatin1Char('&');
                ++i;
            } else if (i + 1 < text.size()) {
                label += QLatin1Char('_');
            }
        } else if (c == QLatin1Char('_')) {
            label += QStringLiteral("__");
        } else {
            label += c;
        }
    }
    return label;
}

QList<QStringList> TDBusMenu::Shortcut(const QKeySequence& keys) {
    QList<QStringList> out;
    for (int i = 0; i < keys.count(); ++i) {
        const QKeyCombination combination = keys[static_cast<uint>(i)];
        QStringList parts;
        const Qt::KeyboardModifiers modifiers = combination.keyboardModifiers();
        if (modifiers & Qt::ControlModifier) {
            parts << QStringLiteral("Control");
        }
        if (modifiers & Qt::AltModifier) {
            parts << QStringLiteral("Alt");
        }
        if (modifiers & Qt::ShiftModifier) {
            parts << QStringLiteral("Shift");
        }
        if (modifiers & Qt::MetaModifier) {
            parts << QStringLiteral("Super");
        }
        // The hosts name keys as the X key names do: letters in lower case, F1 as it is.
        QString key = QKeySequence(combination.key()).toString(QKeySequence::PortableText);
        if (key.size() == 1) {
            key = key.toLower();
        }
        parts << key;
        out << parts;
    }
    return out;
}

void TDBusMenu::UnknownId(int id) {
    if (calledFromDBus()) {
        sendErrorReply(QStringLiteral("com.canonical.dbusmenu.UnknownId"),
                       QStringLiteral("No menu item %1").arg(id));
    }
}

bool TDBusMenu::Click(int id) {
    QAction* action = Action(id);
    if (action == nullptr || action->isSeparator()) {
        return false;
    }
    QTimer::singleShot(0, action, [action] {
        // The state when it runs counts: a disabled command does nothing.
        if (action->isEnabled() && action->isVisible()) {
            action->trigger();
        }
    });
    return true;
}

bool TDBusMenu::eventFilter(QObject* watched, QEvent* event) {
    if (watched == filtered_ &&
        (event->type() == QEvent::ActionAdded || event->type() == QEvent::ActionRemoved)) {
        if (event->type() == QEvent::ActionAdded) {
            Watch(static_cast<QActionEvent*>(event)->action());
        }
        layoutChanged_ = true;
        if (!flushPending_) {
            flushPending_ = true;
            QTimer::singleShot(0, this, &TDBusMenu::Flush);
        }
    }
    return QObject::eventFilter(watched, event);
}

void TDBusMenu::Watch(QAction* action) {
    if (watched_.contains(action)) {
        return;
    }
    watched_.insert(action);
    connect(action, &QAction::changed, this, [this, action] { Changed(action); });
    connect(action, &QObject::destroyed, this, [this, action] { watched_.remove(action); });
}

void TDBusMenu::Changed(QAction* action) {
    if (menu_ == nullptr) {
        return;
    }
    const int id = static_cast<int>(menu_->actions().indexOf(action)) + 1;
    if (id < 1) {
        return;
    }
    if (!changed_.contains(id)) {
        changed_.append(id);
    }
    // A language change touches every caption one after the other: the host hears of it once.
    if (!flushPending_) {
        flushPending_ = true;
        QTimer::singleShot(0, this, &TDBusMenu::Flush);
    }
}

void TDBusMenu::Flush() {
    flushPending_ = false;
    QList<QVariantMap> now;
    for (int id = 1; id <= Count(); ++id) {
        now.append(Properties(id));
    }
    bool captions = false;
    QList<int> ids;
    if (!layoutChanged_) {
        for (const int id : std::as_const(changed_)) {
            const qsizetype at = id - 1;
            if (at >= now.size() || at >= shown_.size() || now[at] == shown_[at]) {
                continue;
            }
            ids.append(id);
            captions = captions || now[at].value(QStringLiteral("label")) !=
                                       shown_[at].value(QStringLiteral("label"));
        }
    }
    changed_.clear();
    shown_ = now;
    if (!ids.isEmpty()) {
        Q_EMIT ItemsChanged(ids);
    }
    // New captions, or other items: hosts that keep the menu built read it again.
    if (layoutChanged_ || captions) {
        layoutChanged_ = false;
        ++revision_;
        Q_EMIT LayoutChanged(revision_);
    }
}

} // namespace qrv::platform

#include "DBusMenu.moc"
