#include "i18n/qt/WindowTranslation.h"
#include "i18n/Translate.h"
#include "i18n/qt/ToolkitTranslation.h"
#include "platform/Error.h"
#include "platform/Paths.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>

#include <functional>
#include <memory>
#include <unistd.h>
#include <vector>

using namespace qrv::i18n;

// Stand-ins for objects that bind data: field objects with binding names and a caption, a
// class derived from them, and parameter objects; plus an object with a list of texts.
class TTestField : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString fieldName MEMBER FieldName)
    Q_PROPERTY(QString origin MEMBER Origin)
    Q_PROPERTY(QString displayLabel MEMBER DisplayLabel)
public:
    using QObject::QObject;
    QString FieldName, Origin, DisplayLabel;
};

class TTestStringField : public TTestField {
    Q_OBJECT
public:
    using TTestField::TTestField;
};

class TTestParam : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString name MEMBER Name)
public:
    using QObject::QObject;
    QString Name;
};

class TTestLines : public QObject {
    Q_OBJECT
    Q_PROPERTY(QStringList lines MEMBER Lines)
public:
    using QObject::QObject;
    QStringList Lines;
};

namespace {

QString Q(const char* utf8) {
    return QString::fromUtf8(utf8);
}

QString Items(const QComboBox* combo) {
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items.join(QLatin1Char('|'));
}

// Each test starts and ends in English; the Czech catalogue is built beside the binary.
class WindowTranslation : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const std::string mo = qrv::platform::ExecutableDir() + "/locale/cs/LC_MESSAGES/default.mo";
        ASSERT_EQ(::access(mo.c_str(), R_OK), 0) << "the test catalogue was not built";
    }
    void SetUp() override { SelectLanguage("en"); }
    void TearDown() override { SelectLanguage("en"); }
    std::unique_ptr<QWidget> Window = std::make_unique<QWidget>();
};

TEST_F(WindowTranslation, CzechAndBackFromTheRememberedEnglishTexts) {
    QWidget* w = Window.get();
    w->setWindowTitle(Q("Settings"));
    auto* button = new QPushButton(Q("Add"), w);
    auto* group = new QGroupBox(Q("Language"), w);
    auto* lf = new QLabel(Q("Line one\nLine two"), group);
    QMenu* menu = (new QMenuBar(w))->addMenu(Q("Servers"));
    auto* windowAction = new QAction(Q("Add"), w);
    menu->addAction(windowAction);
    QAction* menuAction = menu->addAction(Q("Quit"));
    auto* derivedTip = new QAction(Q("Settings..."), w);
    menu->addAction(derivedTip);
    auto* tabs = new QTabWidget(w);
    tabs->addTab(new QWidget, Q("General"));
    tabs->addTab(new QWidget, Q("Advanced"));
    auto* combo = new QComboBox(w);
    combo->addItems({Q("One"), Q(""), Q("Two"), Q("Unknown")});
    auto* lines = new TTestLines(w);
    lines->Lines = {Q("One"), Q(""), Q("Two"), Q("Unknown")};
    auto* title = new QObject(w); // a column title of the grid
    title->setProperty("title", Q("  Description"));

    struct {
        const char* What;
        std::function<QString()> Read;
        QString English, Czech;
    } const rows[] = {
        {"window title", [=] { return w->windowTitle(); }, Q("Settings"), Q("Nastavení")},
        {"button", [=] { return button->text(); }, Q("Add"), Q("Přidat")},
        {"group box", [=] { return group->title(); }, Q("Language"), Q("Jazyk")},
        {"LF lines", [=] { return lf->text(); }, Q("Line one\nLine two"),
         Q("Řádek jedna\nŘádek dva")},
        {"menu title", [=] { return menu->title(); }, Q("Servers"), Q("Servery")},
        {"menu's action", [=] { return menu->menuAction()->text(); }, Q("Servers"), Q("Servery")},
        {"window action in a menu", [=] { return windowAction->text(); }, Q("Add"), Q("Přidat")},
        {"action made by the menu", [=] { return menuAction->text(); }, Q("Quit"), Q("Konec")},
        {"derived tool tip", [=] { return derivedTip->toolTip(); }, Q("Settings"), Q("Nastavení")},
        {"tab", [=] { return tabs->tabText(1); }, Q("Advanced"), Q("Rozšířené")},
        {"combo entries", [=] { return Items(combo); }, Q("One||Two|Unknown"),
         Q("Jedna||Dvě|Unknown")},
        {"string list", [=] { return lines->Lines.join(QLatin1Char('|')); }, Q("One||Two|Unknown"),
         Q("Jedna||Dvě|Unknown")},
        {"column title", [=] { return title->property("title").toString(); }, Q("  Description"),
         Q(" Popis stavu")},
    };
    const auto expect = [&](bool czech, const char* stage) {
        for (const auto& row : rows)
            EXPECT_EQ(row.Read(), czech ? row.Czech : row.English) << stage << ": " << row.What;
    };
    SelectLanguage("cs");
    TranslateComponent(w);
    expect(true, "translated");
    SelectLanguage("en");
    RetranslateComponent(w);
    expect(false, "back in English");
    SelectLanguage("cs");
    RetranslateComponent(w);
    expect(true, "Czech again");
}

TEST_F(WindowTranslation, RetranslationRestoresTheDesignNotWhatTheProgramSetSince) {
    auto* current = new QLabel(Q("labelVersionCurrent"), Window.get());
    auto* status = new QLabel(Q("Waiting..."), Window.get());
    auto* empty = new QLabel(Window.get());
    auto* gone = new QLabel(Q("Add"), Window.get());
    auto* combo = new QComboBox(Window.get());
    combo->addItems({Q("One"), Q("Two")});
    SelectLanguage("cs");
    TranslateComponent(Window.get());
    EXPECT_EQ(current->text(), Q("labelVersionCurrent"));

    // The update notice fills its labels at run time; a language change puts the design back.
    current->setText(Q("0.9.18"));
    status->setText(Q("Completed"));
    empty->setText(Q("Set later"));
    combo->addItem(Q("Added later"));
    combo->setCurrentIndex(1);
    delete gone;
    SelectLanguage("en");
    RetranslateComponent(Window.get());
    EXPECT_EQ(current->text(), Q("labelVersionCurrent"));
    EXPECT_EQ(status->text(), Q("Waiting..."));
    EXPECT_EQ(empty->text(), Q("Set later")) << "a text empty at design time is not remembered";
    EXPECT_EQ(Items(combo), Q("One|Two"));
    EXPECT_EQ(combo->currentIndex(), 1);
}

TEST_F(WindowTranslation, SameLanguageChangesNothingAndASecondTranslateOnlyNotesIt) {
    auto* label = new QLabel(Q("Add"), Window.get());
    SelectLanguage("cs");
    TranslateComponent(Window.get());
    label->setText(Q("0.9.18"));
    RetranslateComponent(Window.get());
    EXPECT_EQ(label->text(), Q("0.9.18"));

    SelectLanguage("en");
    TranslateComponent(Window.get()); // no walk; the window is now "in English"
    RetranslateComponent(Window.get());
    EXPECT_EQ(label->text(), Q("0.9.18"));
    SelectLanguage("cs");
    RetranslateComponent(Window.get());
    EXPECT_EQ(label->text(), Q("Přidat"));
    EXPECT_EQ(Window->findChildren<QObject*>(Q("GNUgettextMarker")).size(), 1);
}

TEST_F(WindowTranslation, ExclusionsKeepBindingNamesWhateverTheCatalogueHolds) {
    TP_GlobalIgnoreClassProperty("TTestField", "fieldName");
    TP_GlobalIgnoreClassProperty("TTestField", "origin");
    TP_GlobalIgnoreClass("TTestParam");
    auto* field = new TTestField(Window.get());
    field->setObjectName(Q("Url"));
    field->FieldName = field->Origin = Q("Url");
    field->DisplayLabel = Q("Active");
    auto* derived = new TTestStringField(Window.get());
    derived->FieldName = derived->DisplayLabel = Q("Status");
    auto* param = new TTestParam(Window.get());
    param->Name = Q("Url");
    auto* underParam = new TTestLines(param);
    underParam->Lines = {Q("Active")};

    SelectLanguage("cs");
    TranslateComponent(Window.get());
    struct {
        const char* What;
        QString Got, Expected;
    } const rows[] = {
        {"objectName, never translated", field->objectName(), Q("Url")},
        {"excluded property", field->FieldName, Q("Url")},
        {"second excluded property", field->Origin, Q("Url")},
        {"other property of the class", field->DisplayLabel, Q("Aktivní")},
        {"excluded property, derived class", derived->FieldName, Q("Status")},
        {"other property, derived class", derived->DisplayLabel, Q("Stav")},
        {"class excluded whole", param->Name, Q("Url")},
        {"child of an excluded object", underParam->Lines.join(QLatin1Char('|')), Q("Aktivní")},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.Got, row.Expected) << row.What;
}

TEST_F(WindowTranslation, WindowsWithTheirOwnTranslationAreLeftToThemselves) {
    auto* mainLabel = new QLabel(Q("Add"), Window.get());
    auto* dialog = new QDialog(Window.get());
    auto* dialogLabel = new QLabel(Q("Quit"), dialog);
    TranslateComponent(dialog); // translated on its own, in English
    SelectLanguage("cs");
    TranslateComponent(Window.get());
    EXPECT_EQ(mainLabel->text(), Q("Přidat"));
    EXPECT_EQ(dialogLabel->text(), Q("Quit"));
    RetranslateComponent(dialog);
    EXPECT_EQ(dialogLabel->text(), Q("Konec"));
    SelectLanguage("en");
    RetranslateComponent(Window.get());
    EXPECT_EQ(dialogLabel->text(), Q("Konec")) << "the main window took the dialog's text";
}

TEST_F(WindowTranslation, StateShownByWidgetsIsNotPinnedByRetranslation) {
    auto* spin = new QSpinBox(Window.get());
    spin->setValue(5);
    auto* editable = new QComboBox(Window.get());
    editable->setEditable(true);
    editable->addItems({Q("One"), Q("Two")});
    auto* action = new QAction(Q("Settings"), Window.get());
    SelectLanguage("cs");
    TranslateComponent(Window.get());
    spin->setValue(7);
    editable->setCurrentIndex(1);
    SelectLanguage("en");
    RetranslateComponent(Window.get());
    EXPECT_EQ(spin->text(), Q("7"));
    EXPECT_EQ(editable->currentText(), Q("Two"));
    action->setText(Q("Quit")); // the derived tool tip still follows the text
    EXPECT_EQ(action->toolTip(), Q("Quit"));
    EXPECT_EQ(action->iconText(), Q("Quit"));
}

TEST_F(WindowTranslation, RetranslateBeforeTranslateFails) {
    new QLabel(Q("Add"), Window.get());
    try {
        RetranslateComponent(Window.get());
        ADD_FAILURE() << "no error";
    } catch (const qrv::Error& e) {
        EXPECT_STREQ(e.what(), "Retranslate was called on an object that has not been "
                               "translated before. Please use TranslateComponent() before "
                               "RetranslateComponent().");
    }
    EXPECT_THROW(RetranslateComponent(nullptr), qrv::Error);
}

// The toolkit's own texts: the catalogue answers what it holds, Qt's translations the rest.
TEST_F(WindowTranslation, ToolkitTextsAskTheCatalogueFirst) {
    SelectLanguage("cs");
    const qrv::i18n::TCatalogueTranslator ours;
    EXPECT_EQ(ours.translate("QPlatformTheme", "Quit", nullptr, -1), Q("Konec"));
    EXPECT_TRUE(ours.translate("QPlatformTheme", "&Yes", nullptr, -1).isEmpty());
    const auto toolkit = qrv::i18n::LoadToolkitTranslations(QLocale(QLocale::Czech));
    ASSERT_NE(toolkit, nullptr) << "qt6-translations-l10n is not installed";
    EXPECT_EQ(toolkit->translate("QPlatformTheme", "&Yes"), Q("&Ano"));
}

} // namespace

#include "WindowTranslationTest.moc"
