#include "i18n/qt/WindowTranslation.h"

#include "i18n/Translate.h"
#include "platform/Error.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QMetaObject>
#include <QMetaProperty>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QToolBox>
#include <QWidget>

#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

namespace qrv::i18n {

namespace {

constexpr char MarkerName[] = "GNUgettextMarker";

// What one remembered text belongs to.
enum class TTextKind {
    Property,     // a QString property
    ListProperty, // a QStringList property, line by line
    ComboItems,   // the entries of a combo box, line by line
    TabText,      // the caption of tab/page `Index`
    TabToolTip,   // the tool tip of tab/page `Index`
};

struct TRemembered {
    QPointer<QObject> Object;
    TTextKind Kind = TTextKind::Property;
    QByteArray Property;
    int Index = -1;
    bool Dynamic = false; // a property set with setProperty() only, not declared

    QString English;
    QStringList EnglishLines;
};

// Carries a window's translation memory; a child of the window, found by its name.
class TTranslationMarker : public QObject {
public:
    explicit TTranslationMarker(QObject* window) : QObject(window) {
        setObjectName(QString::fromLatin1(MarkerName));
    }
    std::vector<TRemembered> Memory;
    std::string Language;
};

struct TExclusions {
    std::mutex Lock;
    std::set<std::pair<std::string, std::string>> ClassProperties{
        // Names bind objects; the rest are formats or markup copies of another property.
        {"QObject", "objectName"},    {"QWidget", "styleSheet"}, {"QWidget", "windowFilePath"},
        {"QComboBox", "currentText"}, {"QTextEdit", "html"},     {"QTextEdit", "markdown"},
        {"QLineEdit", "inputMask"},
    };
    std::set<std::string> Classes;
};

TExclusions& Exclusions() {
    static TExclusions exclusions;
    return exclusions;
}

bool IsClassExcluded(const QMetaObject* meta) {
    TExclusions& ex = Exclusions();
    std::lock_guard guard(ex.Lock);
    for (; meta != nullptr; meta = meta->superClass())
        if (ex.Classes.count(meta->className()) != 0)
            return true;
    return false;
}

bool IsPropertyExcluded(const QMetaObject* meta, const char* property) {
    TExclusions& ex = Exclusions();
    std::lock_guard guard(ex.Lock);
    for (; meta != nullptr; meta = meta->superClass())
        if (ex.ClassProperties.count({meta->className(), property}) != 0)
            return true;
    return false;
}

QString Translated(const QString& english) {
    if (english.isEmpty())
        return english; // an empty lookup would give the catalogue's header
    const QByteArray utf8 = english.toUtf8();
    const std::string text =
        TranslateText(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
    QString result = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    // The lookup hands back CR LF line ends; Qt's widgets break lines at LF and would show
    // the CR. A text designed with CR LF keeps them.
    if (!english.contains(QLatin1Char('\r')))
        result.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return result;
}

QStringList TranslatedLines(const QStringList& lines) {
    QStringList out;
    out.reserve(lines.size());
    for (const QString& line : lines)
        out.push_back(Translated(line));
    return out;
}

TTranslationMarker* MarkerOf(QObject* object) {
    return dynamic_cast<TTranslationMarker*>(
        object->findChild<QObject*>(QString::fromLatin1(MarkerName), Qt::FindDirectChildrenOnly));
}

bool CarriesMarker(QObject* object) {
    return object->findChild<QObject*>(QString::fromLatin1(MarkerName),
                                       Qt::FindDirectChildrenOnly) != nullptr;
}

// Qt's own helper widgets (viewports, spin box editors, tab bars) are named "qt_…"; their
// texts mirror state of the widget they serve.
bool IsInternal(QObject* object) {
    if (object->objectName().startsWith(QLatin1String("qt_")))
        return true;
    if (auto* combo = qobject_cast<QComboBox*>(object->parent()))
        return static_cast<QObject*>(combo->lineEdit()) == object;
    return false;
}

// QAction gives its text, stripped, as icon text and tool tip until they are set; translating
// such a copy would pin it and let it lag behind the text.
bool IsDerivedActionText(QObject* object, const char* property, const QString& value) {
    auto* action = qobject_cast<QAction*>(object);
    if (action == nullptr)
        return false;
    const QByteArray name(property);
    if (name != "iconText" && name != "toolTip")
        return false;
    QAction probe;
    probe.setText(action->text());
    return probe.property(property).toString() == value;
}

std::string ClassAndProperty(QObject* object, const QByteArray& property) {
    return std::string("Class: ") + object->metaObject()->className() +
           ", Property: " + property.toStdString();
}

// Breadth first over everything the window reaches; each object once.
std::vector<TRemembered> CollectTexts(QObject* window) {
    std::vector<TRemembered> memory;
    std::deque<QObject*> queue{window};
    std::unordered_set<QObject*> seen{window};
    auto reach = [&](QObject* object) {
        if (object == nullptr || !seen.insert(object).second)
            return;
        if (object->objectName() == QLatin1String(MarkerName) || CarriesMarker(object))
            return; // a marker, or a window with its own translation
        queue.push_back(object);
    };

    while (!queue.empty()) {
        QObject* object = queue.front();
        queue.pop_front();
        const QMetaObject* meta = object->metaObject();

        for (QObject* child : object->children())
            reach(child);
        if (auto* widget = qobject_cast<QWidget*>(object))
            for (QAction* action : widget->actions())
                reach(action);
        if (auto* action = qobject_cast<QAction*>(object))
            reach(action->menu<QMenu*>());
        if (auto* tray = qobject_cast<QSystemTrayIcon*>(object))
            reach(tray->contextMenu());
        for (int i = 0; i < meta->propertyCount(); ++i) {
            const QMetaProperty property = meta->property(i);
            if (property.metaType().flags().testFlag(QMetaType::PointerToQObject))
                reach(property.read(object).value<QObject*>());
        }

        if (IsClassExcluded(meta) || IsInternal(object))
            continue;

        for (int i = 0; i < meta->propertyCount(); ++i) {
            const QMetaProperty property = meta->property(i);
            const int type = property.metaType().id();
            if (!property.isWritable() ||
                (type != QMetaType::QString && type != QMetaType::QStringList))
                continue;
            if (IsPropertyExcluded(meta, property.name()))
                continue;
            const QVariant value = property.read(object);
            TRemembered entry;
            entry.Object = object;
            entry.Property = property.name();
            if (type == QMetaType::QString) {
                entry.English = value.toString();
                if (entry.English.isEmpty() ||
                    IsDerivedActionText(object, property.name(), entry.English))
                    continue;
            } else {
                entry.Kind = TTextKind::ListProperty;
                entry.EnglishLines = value.toStringList();
                if (entry.EnglishLines.isEmpty())
                    continue;
            }
            memory.push_back(std::move(entry));
        }
        for (const QByteArray& name : object->dynamicPropertyNames()) {
            if (name.startsWith("_q_") || IsPropertyExcluded(meta, name.constData()))
                continue; // Qt keeps its own bookkeeping in "_q_" properties
            const QVariant value = object->property(name.constData());
            TRemembered entry;
            entry.Object = object;
            entry.Property = name;
            entry.Dynamic = true;
            if (value.metaType().id() == QMetaType::QString && !value.toString().isEmpty()) {
                entry.English = value.toString();
                memory.push_back(std::move(entry));
            } else if (value.metaType().id() == QMetaType::QStringList &&
                       !value.toStringList().isEmpty()) {
                entry.Kind = TTextKind::ListProperty;
                entry.EnglishLines = value.toStringList();
                memory.push_back(std::move(entry));
            }
        }

        if (auto* combo = qobject_cast<QComboBox*>(object);
            combo != nullptr && combo->count() > 0) {
            TRemembered entry{object, TTextKind::ComboItems, "items", -1, false, {}, {}};
            for (int i = 0; i < combo->count(); ++i)
                entry.EnglishLines.push_back(combo->itemText(i));
            memory.push_back(std::move(entry));
        }
        auto tabs = [&](int count, auto text, auto tip) {
            for (int i = 0; i < count; ++i) {
                if (QString t = text(i); !t.isEmpty())
                    memory.push_back({object, TTextKind::TabText, "tabText", i, false, t, {}});
                if (QString t = tip(i); !t.isEmpty())
                    memory.push_back(
                        {object, TTextKind::TabToolTip, "tabToolTip", i, false, t, {}});
            }
        };
        if (auto* tab = qobject_cast<QTabWidget*>(object))
            tabs(
                tab->count(), [tab](int i) { return tab->tabText(i); },
                [tab](int i) { return tab->tabToolTip(i); });
        if (auto* box = qobject_cast<QToolBox*>(object))
            tabs(
                box->count(), [box](int i) { return box->itemText(i); },
                [box](int i) { return box->itemToolTip(i); });
    }
    return memory;
}

void SetComboItems(QComboBox* combo, const QStringList& lines) {
    if (combo->count() == lines.size()) {
        for (int i = 0; i < lines.size(); ++i)
            combo->setItemText(i, lines[i]);
        return;
    }
    // The program changed the entries since: the remembered list replaces them.
    const int current = combo->currentIndex();
    combo->clear();
    combo->addItems(lines);
    combo->setCurrentIndex(current < lines.size() ? current : -1);
}

// Sets one remembered text to `text`/`lines`. With `onlyChanges`, a text equal to its English
// original is left alone. Returns false when the object refused the value.
bool Apply(const TRemembered& entry, const QString& text, const QStringList& lines,
           bool onlyChanges) {
    QObject* object = entry.Object.data();
    if (object == nullptr)
        return true; // destroyed since; nothing to show it on
    switch (entry.Kind) {
    case TTextKind::Property:
        if (onlyChanges && text == entry.English)
            return true;
        // setProperty() reports false for a dynamic property even when it took the value.
        return object->setProperty(entry.Property.constData(), text) || entry.Dynamic;
    case TTextKind::ListProperty:
        if (onlyChanges && lines == entry.EnglishLines)
            return true;
        return object->setProperty(entry.Property.constData(), lines) || entry.Dynamic;
    case TTextKind::ComboItems:
        if (auto* combo = qobject_cast<QComboBox*>(object);
            combo != nullptr && !(onlyChanges && lines == entry.EnglishLines))
            SetComboItems(combo, lines);
        return true;
    case TTextKind::TabText:
    case TTextKind::TabToolTip: {
        if (onlyChanges && text == entry.English)
            return true;
        const bool tip = entry.Kind == TTextKind::TabToolTip;
        if (auto* tab = qobject_cast<QTabWidget*>(object);
            tab != nullptr && entry.Index < tab->count())
            tip ? tab->setTabToolTip(entry.Index, text) : tab->setTabText(entry.Index, text);
        if (auto* box = qobject_cast<QToolBox*>(object);
            box != nullptr && entry.Index < box->count())
            tip ? box->setItemToolTip(entry.Index, text) : box->setItemText(entry.Index, text);
        return true;
    }
    }
    return true;
}

void ApplyTranslation(const TRemembered& entry, bool onlyChanges) {
    const bool list = entry.Kind == TTextKind::ListProperty || entry.Kind == TTextKind::ComboItems;
    const QString text = list ? QString() : Translated(entry.English);
    const QStringList lines = list ? TranslatedLines(entry.EnglishLines) : QStringList();
    if (!Apply(entry, text, lines, onlyChanges))
        throw Error("Property cannot be translated.\n" +
                    ClassAndProperty(entry.Object.data(), entry.Property));
}

} // namespace

void TranslateComponent(QObject* window) {
    if (window == nullptr)
        return;
    if (TTranslationMarker* marker = MarkerOf(window)) {
        marker->Language = CurrentLanguage();
        return;
    }
    auto* marker = new TTranslationMarker(window);
    marker->Language = CurrentLanguage();
    // Every text is read before any is set: some properties mirror others (a menu's title is
    // its action's text), and a copy read after the set would be remembered as English.
    std::vector<TRemembered> memory = CollectTexts(window);
    for (size_t i = 0; i < memory.size(); ++i) {
        try {
            ApplyTranslation(memory[i], true);
        } catch (...) {
            memory.resize(i); // remember exactly what was translated
            marker->Memory = std::move(memory);
            throw;
        }
    }
    marker->Memory = std::move(memory);
}

void RetranslateComponent(QObject* window) {
    TTranslationMarker* marker = window != nullptr ? MarkerOf(window) : nullptr;
    if (marker == nullptr)
        throw Error("Retranslate was called on an object that has not been translated before. "
                    "Please use TranslateComponent() before RetranslateComponent().");
    const std::string language = CurrentLanguage();
    if (marker->Language == language)
        return;
    for (const TRemembered& entry : marker->Memory) {
        const bool list =
            entry.Kind == TTextKind::ListProperty || entry.Kind == TTextKind::ComboItems;
        // A refused value here leaves that one text as it is; the rest still follow.
        Apply(entry, list ? QString() : Translated(entry.English),
              list ? TranslatedLines(entry.EnglishLines) : QStringList(), false);
    }
    marker->Language = language;
}

void TP_GlobalIgnoreClassProperty(const char* className, const char* property) {
    if (className == nullptr || property == nullptr)
        return;
    TExclusions& ex = Exclusions();
    std::lock_guard guard(ex.Lock);
    ex.ClassProperties.emplace(className, property);
}

void TP_GlobalIgnoreClass(const char* className) {
    if (className == nullptr)
        return;
    TExclusions& ex = Exclusions();
    std::lock_guard guard(ex.Lock);
    ex.Classes.emplace(className);
}

} // namespace qrv::i18n
