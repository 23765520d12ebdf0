#include "i18n/qt/WindowTranslation.h"
#include "i18n/Translate.h"
#include "platform/Error.h"
#include "platform/Paths.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QStringList>
#include <QTabWidget>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

using namespace qrv::i18n;

// Stand-ins for the objects that bind data: field objects with their binding names and a
// caption, a class derived from them, and parameter objects.
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
    Q_PROPERTY(QString value MEMBER Value)
public:
    using QObject::QObject;
    QString Name, Value;
};

// An object with a list of texts, like a memo's lines.
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

class WindowTranslation : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_EQ(
            ::access((qrv::platform::ExecutableDir() + "/locale/cs/LC_MESSAGES/default.mo").c_str(),
                     R_OK),
            0)
            << "the test catalogue was not built beside the test binary";
    }
    void SetUp() override { SelectLanguage("en"); }
    void TearDown() override { SelectLanguage("en"); }
};

// One designed window covering every kind of text; `Checks` reads each back.
struct TDesignedWindow {
    std::unique_ptr<QWidget> Window = std::make_unique<QWidget>();
    QLabel* Label;
    QPushButton* Button;
    QGroupBox* Group;
    QMenu* MenuServers;
    QAction* ActionAdd;      // owned by the window, shown in the menu
    QAction* ActionQuit;     // created by the menu
    QAction* ActionSettings; // tool tip derived from the text
    QTabWidget* Tabs;
    QComboBox* Combo;
    TTestLines* Lines;
    QObject* ColumnTitle;
    QMenu* Popup; // a popup menu owned by the window, reached through its children

    struct TCheck {
        const char* What;
        std::function<QString()> Read;
        QString English;
        QString Czech;
    };
    std::vector<TCheck> Checks;

    TDesignedWindow() {
        QWidget* w = Window.get();
        w->setWindowTitle(Q("Settings"));
        Label = new QLabel(Q("Server name"), w);
        Button = new QPushButton(Q("Add"), w);
        Button->setToolTip(Q("Hide the window"));
        Group = new QGroupBox(Q("Language"), w);
        auto* nested = new QLabel(Q("Line one\nLine two"), Group);
        auto* crlf = new QLabel(Q("Line one\r\nLine two"), Group);
        auto* bar = new QMenuBar(w);
        MenuServers = bar->addMenu(Q("Servers"));
        ActionAdd = new QAction(Q("Add"), w);
        MenuServers->addAction(ActionAdd);
        ActionQuit = MenuServers->addAction(Q("Quit"));
        ActionSettings = new QAction(Q("Settings..."), w);
        ActionSettings->setStatusTip(Q("Hide the window"));
        MenuServers->addAction(ActionSettings);
        Tabs = new QTabWidget(w);
        Tabs->addTab(new QWidget, Q("General"));
        Tabs->addTab(new QWidget, Q("Advanced"));
        Tabs->setTabToolTip(1, Q("Language"));
        auto* onPage = new QLabel(Q("Waiting..."), Tabs->widget(0));
        Combo = new QComboBox(w);
        Combo->addItems({Q("One"), Q(""), Q("Two"), Q("Unknown")});
        Combo->setCurrentIndex(2);
        Lines = new TTestLines(w);
        Lines->Lines = {Q("One"), Q(""), Q("Two"), Q("Unknown")};
        ColumnTitle = new QObject(w);
        ColumnTitle->setProperty("title", Q("  Load time"));
        std::vector<QObject*> titles;
        for (const char* title : {"  Server", "  Description"}) {
            titles.push_back(new QObject(w));
            titles.back()->setProperty("title", Q(title));
        }
        Popup = new QMenu(w);
        auto* popupShow = Popup->addAction(Q("Quit"));
        auto* edit = new QLineEdit(w);
        edit->setPlaceholderText(Q("Url"));

        Checks = {
            {"window title", [=, this] { return w->windowTitle(); }, Q("Settings"), Q("Nastavení")},
            {"label", [=, this] { return Label->text(); }, Q("Server name"), Q("Název serveru")},
            {"button", [=, this] { return Button->text(); }, Q("Add"), Q("Přidat")},
            {"tool tip", [=, this] { return Button->toolTip(); }, Q("Hide the window"),
             Q("Skrýt okno")},
            {"group box", [=, this] { return Group->title(); }, Q("Language"), Q("Jazyk")},
            {"multi-line label", [=, this] { return nested->text(); }, Q("Line one\nLine two"),
             Q("Řádek jedna\nŘádek dva")},
            {"label designed with CR LF", [=, this] { return crlf->text(); },
             Q("Line one\r\nLine two"), Q("Řádek jedna\r\nŘádek dva")},
            {"menu title", [=, this] { return MenuServers->title(); }, Q("Servers"), Q("Servery")},
            {"menu's own action", [=, this] { return MenuServers->menuAction()->text(); },
             Q("Servers"), Q("Servery")},
            {"window action in menu", [=, this] { return ActionAdd->text(); }, Q("Add"),
             Q("Přidat")},
            {"menu-made action", [=, this] { return ActionQuit->text(); }, Q("Quit"), Q("Konec")},
            {"derived action tool tip", [=, this] { return ActionSettings->toolTip(); },
             Q("Settings"), Q("Nastavení")},
            {"action status tip", [=, this] { return ActionSettings->statusTip(); },
             Q("Hide the window"), Q("Skrýt okno")},
            {"tab 0", [=, this] { return Tabs->tabText(0); }, Q("General"), Q("Obecné")},
            {"tab 1", [=, this] { return Tabs->tabText(1); }, Q("Advanced"), Q("Rozšířené")},
            {"tab tool tip", [=, this] { return Tabs->tabToolTip(1); }, Q("Language"), Q("Jazyk")},
            {"label on a tab page", [=, this] { return onPage->text(); }, Q("Waiting..."),
             Q("Čekám...")},
            {"combo entries",
             [=, this] {
                 QStringList items;
                 for (int i = 0; i < Combo->count(); ++i)
                     items << Combo->itemText(i);
                 return items.join(QLatin1Char('|'));
             },
             Q("One||Two|Unknown"), Q("Jedna||Dvě|Unknown")},
            {"combo selection", [=, this] { return QString::number(Combo->currentIndex()); },
             Q("2"), Q("2")},
            {"string list lines", [=, this] { return Lines->Lines.join(QLatin1Char('|')); },
             Q("One||Two|Unknown"), Q("Jedna||Dvě|Unknown")},
            {"column title object", [=, this] { return ColumnTitle->property("title").toString(); },
             Q("  Load time"), Q("Doba načtení")},
            {"server column title", [=, this] { return titles[0]->property("title").toString(); },
             Q("  Server"), Q("Server")},
            {"description column title",
             [=, this] { return titles[1]->property("title").toString(); }, Q("  Description"),
             Q(" Popis stavu")},
            {"popup menu action", [=, this] { return popupShow->text(); }, Q("Quit"), Q("Konec")},
            {"placeholder", [=, this] { return edit->placeholderText(); }, Q("Url"), Q("Adresa")},
        };
    }

    void Expect(bool czech, const char* stage) const {
        for (const auto& check : Checks)
            EXPECT_EQ(check.Read(), czech ? check.Czech : check.English)
                << stage << ": " << check.What;
    }
};

TEST_F(WindowTranslation, CzechAndBackFromTheRememberedEnglishTexts) {
    TDesignedWindow d;
    d.Expect(false, "designed");
    SelectLanguage("cs");
    TranslateComponent(d.Window.get());
    d.Expect(true, "translated");
    SelectLanguage("en");
    RetranslateComponent(d.Window.get());
    d.Expect(false, "back in English");
    SelectLanguage("cs");
    RetranslateComponent(d.Window.get());
    d.Expect(true, "Czech again");
}

TEST_F(WindowTranslation, RetranslationRestoresTextsTheProgramChanged) {
    auto window = std::make_unique<QWidget>();
    auto* current = new QLabel(Q("labelVersionCurrent"), window.get());
    auto* status = new QLabel(Q("Waiting..."), window.get());
    auto* empty = new QLabel(window.get());
    auto* combo = new QComboBox(window.get());
    combo->addItems({Q("One"), Q("Two")});
    SelectLanguage("cs");
    TranslateComponent(window.get());
    EXPECT_EQ(current->text(), Q("labelVersionCurrent"));
    EXPECT_EQ(status->text(), Q("Čekám..."));

    // The update notice fills its labels at run time; a language change puts the design back.
    current->setText(Q("0.9.18"));
    status->setText(Q("Completed"));
    empty->setText(Q("Set later"));
    combo->addItem(Q("Added later"));
    combo->setCurrentIndex(1);
    SelectLanguage("en");
    RetranslateComponent(window.get());
    EXPECT_EQ(current->text(), Q("labelVersionCurrent"));
    EXPECT_EQ(status->text(), Q("Waiting..."));
    EXPECT_EQ(empty->text(), Q("Set later")) << "a text empty at design time is not remembered";
    ASSERT_EQ(combo->count(), 2);
    EXPECT_EQ(combo->itemText(1), Q("Two"));
    EXPECT_EQ(combo->currentIndex(), 1);
}

TEST_F(WindowTranslation, SameLanguageChangesNothingAndSecondTranslateOnlyNotesIt) {
    auto window = std::make_unique<QWidget>();
    auto* label = new QLabel(Q("Add"), window.get());
    SelectLanguage("cs");
    TranslateComponent(window.get());
    label->setText(Q("0.9.18"));
    SelectLanguage("cs");
    RetranslateComponent(window.get());
    EXPECT_EQ(label->text(), Q("0.9.18"));

    // Translating again does not walk the window; it notes the language it is now in.
    SelectLanguage("en");
    TranslateComponent(window.get());
    EXPECT_EQ(label->text(), Q("0.9.18"));
    RetranslateComponent(window.get());
    EXPECT_EQ(label->text(), Q("0.9.18"));
    SelectLanguage("cs");
    RetranslateComponent(window.get());
    EXPECT_EQ(label->text(), Q("Přidat"));
    EXPECT_EQ(window->findChildren<QObject*>(Q("GNUgettextMarker")).size(), 1);
}

TEST_F(WindowTranslation, ExclusionsKeepBindingNamesWhateverTheCatalogueHolds) {
    TP_GlobalIgnoreClassProperty("TTestField", "fieldName");
    TP_GlobalIgnoreClassProperty("TTestField", "origin");
    TP_GlobalIgnoreClass("TTestParam");

    auto window = std::make_unique<QWidget>();
    auto* field = new TTestField(window.get());
    field->setObjectName(Q("Url"));
    field->FieldName = field->Origin = Q("Url");
    field->DisplayLabel = Q("Active");
    auto* derived = new TTestStringField(window.get());
    derived->FieldName = Q("Status");
    derived->DisplayLabel = Q("Status");
    auto* param = new TTestParam(window.get());
    param->Name = param->Value = Q("Url");
    auto* underParam = new QLabel(Q("Url"));
    underParam->setParent(nullptr);
    auto* paramChild = new TTestLines(param);
    paramChild->Lines = {Q("Active")};

    SelectLanguage("cs");
    TranslateComponent(window.get());
    delete underParam;
    struct {
        const char* What;
        QString Got;
        QString Expected;
    } const rows[] = {
        {"objectName is never translated", field->objectName(), Q("Url")},
        {"excluded property", field->FieldName, Q("Url")},
        {"second excluded property", field->Origin, Q("Url")},
        {"other property of the class", field->DisplayLabel, Q("Aktivní")},
        {"excluded property of a derived class", derived->FieldName, Q("Status")},
        {"other property of a derived class", derived->DisplayLabel, Q("Stav")},
        {"class excluded whole", param->Name, Q("Url")},
        {"class excluded whole, second property", param->Value, Q("Url")},
        {"child of an excluded object", paramChild->Lines.join(QLatin1Char('|')), Q("Aktivní")},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.Got, row.Expected) << row.What;

    SelectLanguage("en");
    RetranslateComponent(window.get());
    EXPECT_EQ(derived->DisplayLabel, Q("Status"));
    EXPECT_EQ(field->FieldName, Q("Url"));
}

TEST_F(WindowTranslation, WindowsWithTheirOwnTranslationAreLeftToThemselves) {
    auto main = std::make_unique<QWidget>();
    auto* mainLabel = new QLabel(Q("Add"), main.get());
    auto* dialog = new QDialog(main.get());
    auto* dialogLabel = new QLabel(Q("Quit"), dialog);
    SelectLanguage("en");
    TranslateComponent(dialog); // the dialog was translated on its own, in English

    SelectLanguage("cs");
    TranslateComponent(main.get());
    EXPECT_EQ(mainLabel->text(), Q("Přidat"));
    EXPECT_EQ(dialogLabel->text(), Q("Quit"));
    SelectLanguage("en");
    RetranslateComponent(main.get());
    SelectLanguage("cs");
    RetranslateComponent(main.get());
    EXPECT_EQ(dialogLabel->text(), Q("Quit")) << "the main window's memory took the dialog's text";
    RetranslateComponent(dialog);
    EXPECT_EQ(dialogLabel->text(), Q("Konec"));
}

TEST_F(WindowTranslation, StateShownByTheWidgetsIsNotRemembered) {
    auto window = std::make_unique<QWidget>();
    auto* spin = new QSpinBox(window.get());
    spin->setValue(5);
    auto* editable = new QComboBox(window.get());
    editable->setEditable(true);
    editable->addItems({Q("One"), Q("Two")});
    auto* action = new QAction(Q("Settings"), window.get());
    SelectLanguage("cs");
    TranslateComponent(window.get());
    spin->setValue(7);
    editable->setCurrentIndex(1);
    SelectLanguage("en");
    RetranslateComponent(window.get());
    EXPECT_EQ(spin->text(), Q("7"));
    EXPECT_EQ(editable->currentText(), Q("Two"));
    // The derived tool tip keeps following the text after a later change of it.
    action->setText(Q("Quit"));
    EXPECT_EQ(action->toolTip(), Q("Quit"));
    EXPECT_EQ(action->iconText(), Q("Quit"));
}

TEST_F(WindowTranslation, ObjectsDestroyedSinceAreSkipped) {
    auto window = std::make_unique<QWidget>();
    QPointer<QLabel> gone = new QLabel(Q("Add"), window.get());
    auto* kept = new QLabel(Q("Quit"), window.get());
    SelectLanguage("cs");
    TranslateComponent(window.get());
    delete gone.data();
    SelectLanguage("en");
    RetranslateComponent(window.get());
    EXPECT_EQ(kept->text(), Q("Quit"));
}

TEST_F(WindowTranslation, RetranslateBeforeTranslateFails) {
    auto never = std::make_unique<QWidget>();
    new QLabel(Q("Add"), never.get());
    try {
        RetranslateComponent(never.get());
        ADD_FAILURE() << "no error";
    } catch (const qrv::Error& e) {
        EXPECT_STREQ(e.what(), "Retranslate was called on an object that has not been "
                               "translated before. Please use TranslateComponent() before "
                               "RetranslateComponent().");
    }
    EXPECT_THROW(RetranslateComponent(nullptr), qrv::Error);
}

} // namespace

#include "WindowTranslationTest.moc"
