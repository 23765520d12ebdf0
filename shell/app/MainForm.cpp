#include "shell/app/MainForm.h"

#include "dialogs/About.h"
#include "dialogs/Servers.h"
#include "dialogs/Settings.h"
#include "dialogs/Update.h"
#include "dialogs/VendorLinks.h"
#include "engine/TextFormat.h"
#include "engine/http/HttpClient.h"
#include "i18n/Translate.h"
#include "i18n/qt/WindowTranslation.h"
#include "platform/Paths.h"
#include "platform/ShellOpen.h"
#include "platform/qt/GlobalHotKey.h"
#include "resources/Pictures.h"
#include "shell/AppConfig.h"
#include "shell/EventLog.h"
#include "shell/app/Application.h"
#include "shell/app/ServerGrid.h"
#include "shell/app/StartUp.h"
#include "shell/app/TrayIcon.h"
#include "shell/app/UiDispatcher.h"
#include "shell/window/MessageBox.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPointer>
#include <QStatusBar>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <QToolButton>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <unistd.h>
#include <utility>
#include <vector>

namespace qrv::gui {

using TListField = engine::TField;
using engine::TServerAction;

namespace {

constexpr char kCaption[] = "Quorvane " QRV_VERSION;
constexpr char kHotkeyAtomName[] = "HotkeyShow";
constexpr int kClientWidth = 570;
constexpr int kClientHeight = 305;
constexpr int kRowHeight = 18;
constexpr int kLoadTimeWidth = 75;

std::string T(std::string_view text) {
    return i18n::TranslateText(text);
}

// Keeps a flag set for the length of a scope, whatever leaves it.
class TFlagScope {
public:
    explicit TFlagScope(bool& flag) : flag_(flag), old_(flag) { flag_ = true; }
    ~TFlagScope() { flag_ = old_; }
    TFlagScope(const TFlagScope&) = delete;
    TFlagScope& operator=(const TFlagScope&) = delete;

private:
    bool& flag_;
    bool old_;
};

// Pictures follow their screen's device pixel ratio: each is drawn from its SVG at the ratio of
// the screen it is on, and again when the window moves to a screen with another ratio.
bool IsScreenChange(const QEvent* event) {
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
    if (event->type() == QEvent::DevicePixelRatioChange)
        return true;
#endif
    return event->type() == QEvent::ScreenChangeInternal;
}

// A header picture. The window is disabled while a dialog is open, but the runs go on behind
// it: the picture keeps its colours instead of the toolkit's greyed copy.
class TPictureLabel : public QLabel {
public:
    using QLabel::QLabel;

    void SetPicture(const QString& path, QSize size) {
        path_ = path;
        size_ = size;
        Render();
    }

protected:
    bool event(QEvent* event) override {
        if (IsScreenChange(event) || event->type() == QEvent::PaletteChange)
            Render();
        return QLabel::event(event);
    }

    void paintEvent(QPaintEvent*) override {
        const QPixmap picture = pixmap();
        if (!picture.isNull()) {
            QPainter painter(this);
            style()->drawItemPixmap(&painter, contentsRect(), static_cast<int>(alignment()),
                                    picture);
        }
    }

private:
    void Render() {
        if (!path_.isEmpty())
            setPixmap(RenderPictureOn(path_, size_, devicePixelRatioF(), palette()));
    }

    QString path_;
    QSize size_;
};

// A widget that takes no input while disabled but keeps its colours: its disabled colours are
// the active ones, copied again when the palette changes (a new desktop theme), as the copies
// would otherwise stay those of the old theme.
void KeepColoursWhenDisabled(QWidget* widget, std::initializer_list<QPalette::ColorRole> roles) {
    QPalette palette = widget->palette();
    bool changed = false;
    for (const QPalette::ColorRole role : roles) {
        const QColor active = palette.color(QPalette::Active, role);
        if (palette.color(QPalette::Disabled, role) != active) {
            palette.setColor(QPalette::Disabled, role, active);
            changed = true;
        }
    }
    if (changed)
        widget->setPalette(palette);
}

constexpr std::initializer_list<QPalette::ColorRole> kGridRoles = {
    QPalette::Base,   QPalette::Text,       QPalette::Highlight, QPalette::HighlightedText,
    QPalette::Window, QPalette::WindowText, QPalette::Button,    QPalette::ButtonText};

// The header band in the palette's base colour: white on a light desktop, dark on a dark one.
// Always the active colour, as the header keeps its colours while a dialog disables the window.
class THeaderBand : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter(this).fillRect(rect(), palette().color(QPalette::Active, QPalette::Base));
    }
};

// The warning button's glyph, the same for the enabled and the disabled button (see
// TPictureLabel).
class TPictureButton : public QToolButton {
public:
    TPictureButton(const QString& path, QSize size, QWidget* parent)
        : QToolButton(parent), path_(path) {
        setIconSize(size);
        Render();
    }

protected:
    bool event(QEvent* event) override {
        if (IsScreenChange(event))
            Render();
        return QToolButton::event(event);
    }

private:
    void Render() {
        const QPixmap picture = RenderPictureAt(path_, iconSize(), devicePixelRatioF());
        QIcon icon(picture);
        icon.addPixmap(picture, QIcon::Disabled);
        setIcon(icon);
    }

    QString path_;
};

QIcon TrayImage(int index) {
    QIcon icon;
    // Up to 64 pixels: a tray on a scaled desktop asks for twice its logical size.
    for (int size : {16, 22, 24, 32, 48, 64}) {
        icon.addPixmap(RenderPicture(TrayPicturePath(index), QSize(size, size)));
    }
    return icon;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The check run's view: every call is handed to the user-interface thread and waited for.

class TMainForm::TView : public engine::ICheckView {
public:
    TView(TMainForm& form, TUiDispatcher& dispatcher) : form_(form), dispatcher_(dispatcher) {}

    void SetStatusText(const std::string& text) override {
        dispatcher_.Invoke([&] { form_.SetStatusText(text); });
    }
    void ShowBalloon(const std::string& title, const std::string& text, int timeoutMs,
                     engine::TBalloonIcon icon) override {
        dispatcher_.Invoke([&] { form_.TrayIcon->ShowBalloon(title, text, timeoutMs, icon); });
    }
    void SetTrayImage(int index) override {
        dispatcher_.Invoke([&] { form_.TrayIcon->SetImageIndex(index); });
    }
    void SetTrayHint(const std::string& hint) override {
        dispatcher_.Invoke([&] { form_.TrayIcon->SetHint(hint); });
    }
    void SetSemaforHint(const std::string& hint) override {
        dispatcher_.Invoke([&] { form_.SetSemaforHint(hint); });
    }
    void SetSemaforImage(int index) override {
        dispatcher_.Invoke([&] { form_.SetSemaforImage(index); });
    }
    void ShowWarningButton() override {
        dispatcher_.Invoke([&] { form_.buttonWarning->setVisible(true); });
    }
    void SetActionEnabled(TServerAction action, bool enabled) override {
        dispatcher_.Invoke([&] { form_.ServerAction(action)->setEnabled(enabled); });
    }
    void SetGridEnabled(bool enabled) override {
        dispatcher_.Invoke([&] { form_.SetGridEnabled(enabled); });
    }
    void SetTimerEnabled(bool enabled) override {
        dispatcher_.Invoke([&] { form_.SetTimerEnabled(enabled); });
    }
    void Synchronize(const std::function<void()>& work) override { dispatcher_.Invoke(work); }
    bool ServeUntil(const std::function<bool()>& ended) override {
        if (!dispatcher_.OnUiThread()) {
            return false;
        }
        dispatcher_.WaitUntil(ended);
        return true;
    }
    void RunEnded() override { dispatcher_.Wake(); }

private:
    TMainForm& form_;
    TUiDispatcher& dispatcher_;
};

// ---------------------------------------------------------------------------------------------

TMainForm::TMainForm(TMainFormOptions options) : options_(std::move(options)) {
    listPath_ = options_.ServerListPath.empty() ? platform::ProgramDataDir() + "/QRV.xml"
                                                : options_.ServerListPath;
    IdHTTP = std::make_shared<engine::TIdHTTP>();
    IdHTTP->SetConnectTimeout(options_.ConnectTimeout);
    dispatcher_ = new TUiDispatcher(this);
    view_ = std::make_unique<TView>(*this, *dispatcher_);
    // From start-up on: its own lines may be the first that cannot be written.
    shell::SetLogFailureNotifier([this](const std::string& path, const std::string& error) {
        dispatcher_->Invoke([&] { LogFailed(path, error); });
    });

    CreateActions();
    CreateComponents();
    CreateMenus();
    CreateFieldObjects();
    ConnectList();
    FormCreate();
}

TMainForm::~TMainForm() {
    // A run or an update post still under way is broken off and waited for (the run's
    // hand-overs are served meanwhile); then the list goes to its file (the save at closing).
    quitting_ = true;
    updateCheck_.reset();
    if (checkThread_) {
        checkThread_->Stop();
    }
    checkThread_.reset();
    shell::SetLogFailureNotifier({});
    delete popupTray;
    popupTray = nullptr;
    setServer.OnAfterInsert = nullptr;
    setServer.OnAfterDelete = nullptr;
    setServer.OnAfterPost = nullptr;
    setServer.OnAfterScroll = nullptr;
    SaveListAtEnd();
}

void TMainForm::SaveListAtEnd() {
    if (!setServer.Active()) {
        return;
    }
    try {
        setServer.Close();
    } catch (const std::exception& error) {
        // The list stays open with every record: nothing is lost yet.
        ReportUnsavedList(error.what());
    }
}

void TMainForm::CommitData() {
    if (!setServer.Active() || !setServer.Modified()) {
        return;
    }
    try {
        setServer.SaveToFile(listPath_);
    } catch (const std::exception& error) {
        const TFlagScope unattended(unattendedEnd_);
        ReportUnsavedList(error.what());
    }
}

void TMainForm::EndWithoutDisplay() {
    unattendedEnd_ = true;
    quitting_ = true;
    // The run may be waiting for this thread, which will not serve it again: it is only told
    // to stop, and the list, which it touches through this thread alone, is saved as it is.
    if (checkThread_) {
        checkThread_->Stop();
    }
    if (updateCheck_) {
        updateCheck_->Stop();
    }
    SaveListAtEnd();
}

void TMainForm::ReportUnsavedList(const std::string& error) {
    const std::string copy = WriteListCopy();
    std::string text = engine::FormatText(T("The server list could not be saved: %s"), {error});
    text += '\r';
    text += copy.empty()
                ? T("No copy of the server list could be written either; the changes are lost.")
                : engine::FormatText(T("The server list was saved to '%s' instead."), {copy});
    std::fprintf(stderr, "Quorvane: %s\n", error.c_str());
    if (copy.empty()) {
        std::fprintf(stderr, "Quorvane: no copy of the server list could be written\n");
    } else {
        std::fprintf(stderr, "Quorvane: the server list was saved to '%s' instead\n", copy.c_str());
    }
    std::fflush(stderr);
    if (!unattendedEnd_) {
        ShowMessageBox(isVisible() ? this : nullptr, T("Application error"), text,
                       TMessageIcon::Error);
    }
}

std::string TMainForm::WriteListCopy() {
    char stamp[32] = {};
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::string name =
        std::filesystem::path(listPath_).filename().string() + ".unsaved-" + stamp;

    std::vector<std::string> places{listPath_ + ".unsaved-" + stamp};
    // The user's state folder, private to them.
    std::string state;
    if (const char* value = std::getenv("XDG_STATE_HOME"); value != nullptr && value[0] == '/') {
        state = value;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        state = std::string(home) + "/.local/state";
    }
    if (!state.empty()) {
        const std::string dir = state + "/Ostrelle/Quorvane";
        if (platform::CreateDirectories(dir, 0700)) {
            places.push_back(dir + "/" + name);
        }
    }
    for (const std::string& place : places) {
        try {
            setServer.SaveToFile(place);
            return place;
        } catch (const std::exception&) {
        }
    }
    // Last, a folder of its own in the temporary folder: nobody else can have put a link there.
    std::error_code ignored;
    std::string folder =
        (std::filesystem::temp_directory_path(ignored) / "quorvane-XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr) {
        return {};
    }
    try {
        const std::string place = folder + "/" + name;
        setServer.SaveToFile(place);
        return place;
    } catch (const std::exception&) {
        std::filesystem::remove(folder, ignored);
    }
    return {};
}

void TMainForm::SetDialogs(TformSettings* settings, TFormServers* servers, TFormAbout* about,
                           TFormUpdate* update) {
    formSettings_ = settings;
    formServers_ = servers;
    formAbout_ = about;
    formUpdate_ = update;
    // Their minimising and closing decide whether Show or Hide is offered.
    for (QWidget* dialog : {static_cast<QWidget*>(servers), static_cast<QWidget*>(settings)}) {
        if (dialog != nullptr) {
            dialog->installEventFilter(this);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Design: components, actions, menus.

void TMainForm::CreateActions() {
    auto make = [this](const char* name, const char* caption, const QKeySequence& shortcut,
                       void (TMainForm::*handler)()) {
        auto* action = new QAction(QString::fromUtf8(caption), this);
        action->setObjectName(QString::fromUtf8(name));
        if (!shortcut.isEmpty()) {
            action->setShortcut(shortcut);
            action->setShortcutContext(Qt::WindowShortcut);
        }
        connect(action, &QAction::triggered, this,
                [this, handler] { Guarded([&] { (this->*handler)(); }); });
        addAction(action);
        return action;
    };
    actionQuit = make("actionQuit", "Quit", QKeySequence(Qt::CTRL | Qt::Key_Q),
                      &TMainForm::actionQuitExecute);
    actionShow = make("actionShow", "Show", QKeySequence(), &TMainForm::actionShowExecute);
    actionHide = make("actionHide", "Hide", QKeySequence(Qt::CTRL | Qt::Key_H),
                      &TMainForm::actionHideExecute);
    actionLog =
        make("actionLog", "Log", QKeySequence(Qt::CTRL | Qt::Key_L), &TMainForm::actionLogExecute);
    actionLogClear =
        make("actionLogClear", "Clear log", QKeySequence(), &TMainForm::actionLogClearExecute);
    actionSettings = make("actionSettings", "Settings", QKeySequence(Qt::CTRL | Qt::Key_S),
                          &TMainForm::actionSettingsExecute);
    actionServerAdd = make("actionServerAdd", "Add", QKeySequence(Qt::CTRL | Qt::Key_N),
                           &TMainForm::actionServerAddExecute);
    actionServerEdit = make("actionServerEdit", "Edit", QKeySequence(Qt::CTRL | Qt::Key_E),
                            &TMainForm::actionServerEditExecute);
    actionServerDelete = make("actionServerDelete", "Delete", QKeySequence(Qt::CTRL | Qt::Key_R),
                              &TMainForm::actionServerDeleteExecute);
    actionServerActivate =
        make("actionServerActivate", "Activate", QKeySequence(Qt::CTRL | Qt::Key_A),
             &TMainForm::actionServerActivateExecute);
    actionServerDeactivate =
        make("actionServerDeactivate", "Deactivate", QKeySequence(Qt::CTRL | Qt::Key_D),
             &TMainForm::actionServerDeactivateExecute);
    actionServerActivateAll = make("actionServerActivateAll", "Activate all", QKeySequence(),
                                   &TMainForm::actionServerActivateAllExecute);
    actionHelpContext = make("actionHelpContext", "Online help", QKeySequence(Qt::Key_F1),
                             &TMainForm::actionHelpContextExecute);
    actionHelpAbout =
        make("actionHelpAbout", "About", QKeySequence(), &TMainForm::actionHelpAboutExecute);
    actionShow->setEnabled(false);
}

void TMainForm::CreateComponents() {
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QString::fromUtf8(kCaption));
    setWindowIcon(AppIcon());
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    QFont tahoma(QStringLiteral("Tahoma"));
    tahoma.setPixelSize(11);
    setFont(tahoma);

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("clientArea"));
    client->setFixedSize(kClientWidth, kClientHeight);
    setCentralWidget(client);

    panelHeader = new THeaderBand(client);
    panelHeader->setObjectName(QStringLiteral("panelHeader"));
    panelHeader->setGeometry(0, 0, kClientWidth, 60);

    auto* logo = new TPictureLabel(panelHeader);
    imageHeader = logo;
    imageHeader->setObjectName(QStringLiteral("imageHeader"));
    imageHeader->setGeometry(0, 0, 143, 60);
    logo->SetPicture(QString::fromUtf8(PictureHeaderLogo), QSize(143, 60));

    imageMode = new TPictureLabel(panelHeader);
    imageMode->setObjectName(QStringLiteral("imageMode"));
    imageMode->setGeometry(170, 10, 256, 40);

    buttonWarning =
        new TPictureButton(QString::fromUtf8(PictureWarning), QSize(40, 40), panelHeader);
    buttonWarning->setObjectName(QStringLiteral("buttonWarning"));
    buttonWarning->setGeometry(440, 10, 44, 44);
    buttonWarning->setAutoRaise(true);
    buttonWarning->setVisible(false);
    connect(buttonWarning, &QToolButton::clicked, this,
            [this] { Guarded([this] { buttonWarningClick(); }); });

    imageSemafor = new TPictureLabel(panelHeader);
    imageSemafor->setObjectName(QStringLiteral("imageSemafor"));
    imageSemafor->setGeometry(504, 0, 60, 60);

    gridLink = new QTableView(client);
    gridLink->setObjectName(QStringLiteral("gridLink"));
    gridLink->setGeometry(0, 61, 572, 226);
    gridLink->setSelectionBehavior(QAbstractItemView::SelectRows);
    gridLink->setSelectionMode(QAbstractItemView::SingleSelection);
    gridLink->setEditTriggers(QAbstractItemView::NoEditTriggers);
    gridLink->setShowGrid(true);
    gridLink->setWordWrap(false);
    gridLink->verticalHeader()->setVisible(false);
    gridLink->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    gridLink->verticalHeader()->setDefaultSectionSize(kRowHeight);
    gridLink->horizontalHeader()->setHighlightSections(false);
    gridLink->horizontalHeader()->setMinimumSectionSize(8);
    gridLink->horizontalHeader()->setStretchLastSection(false);
    gridLink->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    gridLink->installEventFilter(this);
    // A disabled grid (during a run) takes no input but keeps its colours.
    KeepColoursWhenDisabled(gridLink, kGridRoles);

    auto* columnIcon = new TGridColumn(QString(), QString(), 16, gridLink);
    columnIcon->setObjectName(QStringLiteral("columnStatus"));
    auto* columnName =
        new TGridColumn(QStringLiteral("  Server"), QStringLiteral("Name"), 203, gridLink);
    columnName->setObjectName(QStringLiteral("columnName"));
    auto* columnLoadTime = new TGridColumn(QStringLiteral("  Load time"),
                                           QStringLiteral("LoadTime"), kLoadTimeWidth, gridLink);
    columnLoadTime->setObjectName(QStringLiteral("columnLoadTime"));
    auto* columnResult =
        new TGridColumn(QStringLiteral("  Description"), QStringLiteral("Result"), 265, gridLink);
    columnResult->setObjectName(QStringLiteral("columnResult"));

    StatusBar = new QStatusBar(client);
    StatusBar->setObjectName(QStringLiteral("StatusBar"));
    StatusBar->setGeometry(0, 286, kClientWidth, 19);
    StatusBar->setSizeGripEnabled(false);
    statusLabel_ = new QLabel(StatusBar);
    statusLabel_->setObjectName(QStringLiteral("StatusBarText"));
    StatusBar->addWidget(statusLabel_, 1);
    // Its text stays as readable as the header's pictures while a dialog disables the window.
    KeepColoursWhenDisabled(StatusBar, {QPalette::WindowText});
    StatusBar->installEventFilter(this);
    StatusBar->raise();

    timerCheck = new QTimer(this);
    timerCheck->setObjectName(QStringLiteral("timerCheck"));
    timerCheck->setSingleShot(false);
    timerCheck->setTimerType(Qt::PreciseTimer);
    connect(timerCheck, &QTimer::timeout, this, [this] { Guarded([this] { timerCheckTimer(); }); });

    std::vector<QIcon> trayImages;
    for (int i = 0; i < TrayPictureCount; ++i) {
        trayImages.push_back(TrayImage(i));
    }
    TrayIcon = new TTrayIcon(std::move(trayImages), this);
    TrayIcon->setObjectName(QStringLiteral("TrayIcon"));
    TrayIcon->SetHint(ApplicationTitle(platform::ExecutablePath()));
    connect(TrayIcon, &TTrayIcon::DoubleClicked, this,
            [this] { Guarded([this] { TrayIconDblClick(); }); });

    hotKey_ = new platform::TGlobalHotKey(this);
    connect(hotKey_, &platform::TGlobalHotKey::HotKeyPressed, this,
            [this](int id) { Guarded([this, id] { HotKeyPressed(id); }); });

    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

void TMainForm::CreateMenus() {
    QMenuBar* MainMenu = menuBar();
    MainMenu->setObjectName(QStringLiteral("MainMenu"));
    menuApplication = MainMenu->addMenu(QStringLiteral("Quorvane"));
    menuApplication->setObjectName(QStringLiteral("menuApplication"));
    menuApplication->addActions(
        {actionLog, actionLogClear, actionSettings, actionHide, actionQuit});
    menuServers = MainMenu->addMenu(QStringLiteral("Servers"));
    menuServers->setObjectName(QStringLiteral("menuServers"));
    menuServers->addActions({actionServerAdd, actionServerEdit, actionServerDelete,
                             actionServerDeactivate, actionServerActivate,
                             actionServerActivateAll});
    menuStats = MainMenu->addMenu(QStringLiteral("Stats"));
    menuStats->setObjectName(QStringLiteral("menuStats"));
    actionGenerate = new QAction(QStringLiteral("Generate"), menuStats);
    actionGenerate->setObjectName(QStringLiteral("actionGenerate"));
    menuStats->addAction(actionGenerate);
    menuStats->setEnabled(false);
    menuStats->menuAction()->setEnabled(false);
    menuHelp = MainMenu->addMenu(QStringLiteral("Help"));
    menuHelp->setObjectName(QStringLiteral("menuHelp"));
    menuHelp->addActions({actionHelpContext, actionHelpAbout});

    // Not a child of the main window: a dialog disables that window, and the tray menu must
    // stay usable meanwhile. Deleted with the window.
    popupTray = new QMenu();
    popupTray->setObjectName(QStringLiteral("popupTray"));
    popupTray->addActions({actionShow, actionHide, actionLog, actionQuit});
    TrayIcon->SetPopupMenu(popupTray);
}

void TMainForm::CreateFieldObjects() {
    auto* table = new QObject(this);
    table->setObjectName(QStringLiteral("setServer"));
    auto* defs = new QObject(table);
    defs->setObjectName(QStringLiteral("FieldDefs"));
    std::vector<gui::TField*> fields;
    for (int i = 0; i < engine::kFieldCount; ++i) {
        const QString name = QString::fromUtf8(
            engine::FieldName(static_cast<TListField>(i)).data(),
            static_cast<qsizetype>(engine::FieldName(static_cast<TListField>(i)).size()));
        auto* field = new gui::TField(name, table);
        field->setObjectName(QStringLiteral("setServer") + name);
        fields.push_back(field);
        auto* def = new TFieldDef(name, defs);
        def->setObjectName(QStringLiteral("FieldDef") + name);
    }
    std::vector<TGridColumn*> columns;
    for (const char* name : {"columnStatus", "columnName", "columnLoadTime", "columnResult"}) {
        columns.push_back(
            gridLink->findChild<TGridColumn*>(QString::fromUtf8(name), Qt::FindDirectChildrenOnly));
    }
    gridModel_ = new TServerTableModel(setServer, fields, columns, gridLink);
    gridDelegate_ = new TServerGridDelegate(*gridModel_, gridLink);
    gridLink->setModel(gridModel_);
    gridLink->setItemDelegate(gridDelegate_);
    for (std::size_t i = 0; i < columns.size(); ++i) {
        gridLink->setColumnWidth(static_cast<int>(i), columns[i]->Width());
    }
    // The selected row is always the current record: a click on the blank part of the grid or
    // a Ctrl+click on the selected row would otherwise clear the selection and leave Delete
    // asking about a row that is not shown as selected.
    connect(gridLink->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (!syncing_ && !gridLink->selectionModel()->hasSelection()) {
            SyncSelection();
        }
    });
    connect(gridLink->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (syncing_ || !current.isValid() || !setServer.Active()) {
                    return;
                }
                Guarded([&] {
                    if (current.row() != setServer.RecNo()) {
                        setServer.MoveTo(current.row());
                    }
                });
            });
}

void TMainForm::ConnectList() {
    setServer.OnAfterInsert = [this] { setServerAfterInsert(); };
    setServer.OnAfterDelete = [this] { setServerAfterDelete(); };
    setServer.OnAfterPost = [this] { ListChanged(); };
    setServer.OnAfterScroll = [this] { SyncSelection(); };
}

void TMainForm::FormCreate() {
    {
        TFlagScope bulk(bulk_);
        try {
            StartUp();
        } catch (const TFatalStop&) {
            throw;
        } catch (...) {
            // The sequence ends at the failing step; the window is still created and shown.
            ApplicationEventsException(std::current_exception());
        }
    }
    startingUp_ = false;
    ListChanged();
    if (tickPending_) {
        // A tick fell due while start-up was still waiting for a box: run it now that start-up
        // is over.
        tickPending_ = false;
        QTimer::singleShot(0, this, [this] {
            Guarded([this] {
                if (!timerCheck->isActive()) {
                    StartCheckRun();
                }
            });
        });
    }

    Guarded([] {
        const char* field = gui::TField::staticMetaObject.className();
        for (const char* property : {"DefaultExpression", "FieldName", "KeyFields",
                                     "LookupKeyFields", "LookupResultField", "Origin"}) {
            i18n::TP_GlobalIgnoreClassProperty(field, property);
        }
        i18n::TP_GlobalIgnoreClass(TParam::staticMetaObject.className());
        i18n::TP_GlobalIgnoreClassProperty(TFieldDef::staticMetaObject.className(), "Name");
    });
    Guarded([this] { i18n::TranslateComponent(this); });
}

// ---------------------------------------------------------------------------------------------
// Start-up sequence.

void TMainForm::StartUp() {
    hotkeyId_ = 0;
    gui::StartUp(*this);
}

void TMainForm::ShowNotice(const std::string& caption, const std::string& text) {
    ShowMessageBox(this, caption, text, TMessageIcon::Information);
}

void TMainForm::ArmCheckTimer() {
    quitting_ = false;
    timerCheck->start();
}

void TMainForm::ShowModePicture() {
    static_cast<TPictureLabel*>(imageMode)->SetPicture(ModePicturePath(0), QSize(256, 40));
    imageMode->repaint();
}

void TMainForm::DisableRecordActions() {
    actionServerDelete->setEnabled(false);
    actionServerEdit->setEnabled(false);
    actionServerDeactivate->setEnabled(false);
    actionServerActivate->setEnabled(false);
}

void TMainForm::StartUpdateCheck() {
    if (!options_.UpdateCheck) {
        return;
    }
    QPointer<TMainForm> self(this);
    TUpdateCheckOptions update;
    // Test seam, as QRV_OPENER: the end-to-end tests point the post at a server of theirs.
    if (const char* url = std::getenv("QRV_UPDATE_URL"); url != nullptr && *url != '\0') {
        update.ServiceUrl = url;
    }
    updateCheck_ = std::make_unique<TUpdateCheck>(
        [self]() -> TFormUpdate* { return self ? self->formUpdate_ : nullptr; }, std::move(update));
    updateCheck_->Start();
}

void TMainForm::PreserveUnreadableList() {
    namespace fs = std::filesystem;
    std::error_code error;
    if (!fs::exists(fs::symlink_status(listPath_, error))) {
        return;
    }
    char stamp[32] = {};
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::string base = listPath_ + ".damaged-" + stamp;
    std::string target = base;
    for (int n = 1; fs::exists(fs::symlink_status(target, error)); ++n) {
        target = base + "-" + std::to_string(n);
    }
    // When it cannot be kept, the file is replaced all the same, as it always was.
    fs::rename(listPath_, target, error);
}

void TMainForm::FatalStop(const std::string& text) {
    ShowMessageBox(this, T("Application error"), text, TMessageIcon::Error);
    if (options_.FatalStop) {
        options_.FatalStop();
    }
    throw TFatalStop{};
}

void TMainForm::SetCheckInterval(std::int32_t seconds) {
    // Out of the timer's range (0 included) the timer stays armed but never starts a run.
    const long long ms = static_cast<long long>(seconds) * 1000;
    intervalValid_ = ms > 0 && ms <= INT_MAX;
    const int interval = intervalValid_ ? static_cast<int>(ms) : INT_MAX;
    // A new value restarts an armed timer's countdown; the same value leaves it running.
    if (timerCheck->interval() != interval) {
        timerCheck->setInterval(interval);
    }
}

void TMainForm::RegisterHotKey() {
    hotkeyId_ = platform::GlobalAddAtom(kHotkeyAtomName);
    // When another program holds Ctrl+Alt+W the program runs without a hot key.
    hotKey_->RegisterHotKey(hotkeyId_, platform::MOD_CONTROL | platform::MOD_ALT, platform::VK_W);
}

// ---------------------------------------------------------------------------------------------
// Scheduling, settings, closing.

void TMainForm::timerCheckTimer() {
    timerCheck->stop();
    if (!intervalValid_) {
        timerCheck->start();
        return;
    }
    if (startingUp_) {
        tickPending_ = true;
        return;
    }
    StartCheckRun();
}

engine::TCheckContext TMainForm::CheckContext() {
    return engine::TCheckContext{
        *view_,
        setServer,
        *IdHTTP,
        runErrorCount_,
        [] {
            const shell::TAppConfig config = shell::AppConfig();
            return engine::TRunConfig{config.VerifyEnabled, config.VerifyURL, config.BalloonLevel};
        },
        [](std::string_view text, std::string_view category) { shell::WriteLog(text, category); },
        options_.Pause,
        {},
    };
}

void TMainForm::StartCheckRun() {
    engine::StartCheckRun(checkThread_, CheckContext(), quitting_);
}

bool TMainForm::RunInProgress() const {
    return checkThread_ && !checkThread_->Finished();
}

engine::ICheckView& TMainForm::View() {
    return *view_;
}

void TMainForm::ApplySettings() {
    gui::ApplySettings(*this);
}

void TMainForm::SetHttpsEnabled(bool on) {
    IdHTTP->SetHttpsEnabled(on);
}

void TMainForm::UnregisterHotKey() {
    if (hotkeyId_ > 0) {
        hotKey_->UnregisterHotKey(hotkeyId_);
    }
}

void TMainForm::RetranslateWindows() {
    i18n::RetranslateComponent(this);
    for (QObject* window :
         std::initializer_list<QObject*>{formServers_, formSettings_, formAbout_, formUpdate_}) {
        if (window != nullptr) {
            i18n::RetranslateComponent(window);
        }
    }
}

void TMainForm::closeEvent(QCloseEvent* event) {
    if (quitting_) {
        event->accept();
        Q_EMIT Closed();
        return;
    }
    event->ignore();
    Guarded([this] { actionHideExecute(); });
}

void TMainForm::actionQuitExecute() {
    // A second request while the first waits (an end signal, the tray menu) changes nothing.
    if (!actionQuit->isEnabled() || quitWaiting_) {
        return;
    }
    quitting_ = true;
    timerCheck->stop();
    // Nothing waits for a server any more: the update post and the fetch under way are broken
    // off, and the run ends with its closing steps, which this wait serves.
    if (updateCheck_) {
        updateCheck_->Stop();
    }
    if (checkThread_) {
        TFlagScope waiting(quitWaiting_);
        checkThread_->Stop();
        checkThread_->WaitFor();
    }
    if (hotkeyId_ > 0) {
        hotKey_->UnregisterHotKey(hotkeyId_);
    }
    close();
}

// ---------------------------------------------------------------------------------------------
// Showing and hiding.

void TMainForm::actionHideExecute() {
    if (!actionHide->isEnabled()) {
        return;
    }
    actionHide->setEnabled(false);
    actionShow->setEnabled(true);
    hide();
}

namespace {

// A top-level window back on screen, un-minimised and above its neighbours.
void Restore(QWidget* window) {
    if (window->isMinimized()) {
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    }
    window->show();
    window->raise();
}

} // namespace

QWidget* TMainForm::BlockingDialog() const {
    for (QWidget* dialog :
         {static_cast<QWidget*>(formServers_), static_cast<QWidget*>(formSettings_)}) {
        if (dialog != nullptr && dialog->isVisible()) {
            return dialog;
        }
    }
    return nullptr;
}

bool TMainForm::Shown() const {
    // With its dialog minimised the window can only be looked at: it counts as out of sight.
    const QWidget* dialog = BlockingDialog();
    return isVisible() && !isMinimized() && (dialog == nullptr || !dialog->isMinimized());
}

void TMainForm::SyncShowHide() {
    if (isVisible() && actionShow != nullptr) {
        // A minimised window is out of sight as a hidden one is: Show is what brings it back.
        const bool shown = Shown();
        actionShow->setEnabled(!shown);
        actionHide->setEnabled(shown);
    }
}

QWidget* TMainForm::RestoreDialogs() {
    // A dialog minimised on its own would leave this window disabled with nothing to answer.
    QWidget* top = BlockingDialog();
    if (top != nullptr) {
        Restore(top);
    }
    if (QWidget* modal = QApplication::activeModalWidget(); modal != nullptr && modal != this) {
        Restore(modal);
        top = modal;
    }
    return top;
}

void TMainForm::BringToFront() {
    Restore(this);
    QWidget* top = RestoreDialogs();
    // Un-minimising maps the window again; the focus is the window manager's to give.
    (top != nullptr ? top : this)->activateWindow();
}

void TMainForm::actionShowExecute() {
    if (!actionShow->isEnabled()) {
        return;
    }
    actionShow->setEnabled(false);
    actionHide->setEnabled(true);
    BringToFront();
}

void TMainForm::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) {
        SyncShowHide();
    } else if (event->type() == QEvent::ActivationChange && isActiveWindow() && !isEnabled()) {
        // Activated from the taskbar while its dialog is open: the dialog is what can be used.
        if (QWidget* top = RestoreDialogs()) {
            top->activateWindow();
        }
    }
}

void TMainForm::TrayIconDblClick() {
    if (Shown()) {
        actionHideExecute();
    } else {
        actionShowExecute();
    }
}

void TMainForm::SecondStart() {
    actionShowExecute(); // nothing while the window is shown
    BringToFront();
}

void TMainForm::HotKeyPressed(int id) {
    if (hotkeyId_ <= 0 || id != hotkeyId_) {
        return;
    }
    if (Shown()) {
        actionHideExecute();
    } else {
        actionShowExecute();
    }
}

void TMainForm::buttonWarningClick() {
    buttonWarning->setVisible(false);
}

// ---------------------------------------------------------------------------------------------
// The other actions.

void TMainForm::actionLogExecute() {
    if (actionLog->isEnabled()) {
        platform::ShellOpen(shell::AppConfig().LogFile);
    }
}

void TMainForm::actionLogClearExecute() {
    if (actionLogClear->isEnabled()) {
        shell::ClearLog();
    }
}

void TMainForm::actionSettingsExecute() {
    if (actionSettings->isEnabled() && formSettings_ != nullptr) {
        setEnabled(false);
        formSettings_->show();
    }
}

void TMainForm::actionServerAddExecute() {
    if (actionServerAdd->isEnabled() && formServers_ != nullptr) {
        timerCheck->stop();
        setEnabled(false);
        formServers_->PrepareAdd();
    }
}

void TMainForm::actionServerEditExecute() {
    if (actionServerEdit->isEnabled() && formServers_ != nullptr) {
        setEnabled(false);
        timerCheck->stop();
        formServers_->PrepareEdit();
    }
}

void TMainForm::actionServerDeleteExecute() {
    if (!actionServerDelete->isEnabled()) {
        return;
    }
    // The record is kept by its place, not by the cursor: a run that starts while the
    // question is open walks the list with that same cursor.
    const TNamedRecord named{setServer.RecNo(), setServer.AsString(TListField::Name)};
    const std::string question = engine::FormatText(T("Do you wish to delete  %s?"), {named.Name});
    if (ShowMessageBox(this, T("Delete"), question, TMessageIcon::Question,
                       TMessageButtons::YesNo) != TMessageAnswer::Yes) {
        return;
    }
    if (named.Position < 0) {
        setServer.Delete(); // no record under the cursor: the list reports it
        return;
    }
    if (RunInProgress()) {
        // The run holds its place in the list; the record goes when the run lets go of it.
        pendingDelete_ = named;
        return;
    }
    DeleteNamed(named);
}

void TMainForm::DeleteNamed(const TNamedRecord& named) {
    if (!setServer.Active() || named.Position >= setServer.RecordCount() ||
        setServer.AsStringAt(named.Position, TListField::Name) != named.Name) {
        return; // no longer there
    }
    setServer.MoveTo(named.Position);
    setServer.Delete();
}

void TMainForm::LogFailed(const std::string& path, const std::string& error) {
    // Shown from the event loop: the writer (a run, perhaps) goes on meanwhile.
    QTimer::singleShot(0, this, [this, path, error] {
        ShowMessageBox(
            this, T("Application notification"),
            engine::FormatText(T("The event log '%s' cannot be written: %s"), {path, error}) +
                "\r" + T("Servers are still checked, but events are not logged."),
            TMessageIcon::Warning);
    });
}

void TMainForm::actionServerActivateExecute() {
    if (actionServerActivate->isEnabled()) {
        setServer.Edit();
        setServer.SetBoolean(TListField::Active, true);
        setServer.Post();
    }
}

void TMainForm::actionServerDeactivateExecute() {
    if (actionServerDeactivate->isEnabled()) {
        setServer.Edit();
        setServer.SetBoolean(TListField::Active, false);
        setServer.Post();
    }
}

void TMainForm::actionServerActivateAllExecute() {
    if (!actionServerActivateAll->isEnabled()) {
        return;
    }
    timerCheck->stop();
    {
        TFlagScope bulk(bulk_);
        setServer.First();
        while (!setServer.Eof()) {
            setServer.Edit();
            setServer.SetBoolean(TListField::Active, true);
            setServer.Post();
            setServer.Next();
        }
    }
    ListChanged();
    timerCheck->start();
}

void TMainForm::actionHelpContextExecute() {
    if (actionHelpContext->isEnabled()) {
        OpenVendorPage("help");
    }
}

void TMainForm::actionHelpAboutExecute() {
    if (actionHelpAbout->isEnabled() && formAbout_ != nullptr) {
        formAbout_->show();
    }
}

// ---------------------------------------------------------------------------------------------
// The list and the grid.

void TMainForm::setServerAfterInsert() {
    // The appended row is not counted yet.
    if (setServer.RecordCount() >= 1) {
        actionServerEdit->setEnabled(true);
        actionServerDelete->setEnabled(true);
        actionServerActivate->setEnabled(true);
        actionServerDeactivate->setEnabled(true);
    }
}

void TMainForm::setServerAfterDelete() {
    if (setServer.RecordCount() == 0) {
        actionServerEdit->setEnabled(false);
        actionServerDelete->setEnabled(false);
        actionServerActivate->setEnabled(false);
        actionServerDeactivate->setEnabled(false);
    }
    ListChanged();
}

void TMainForm::ListChanged() {
    if (bulk_) {
        return;
    }
    gridModel_->ListChanged();
    SyncSelection();
}

void TMainForm::SyncSelection() {
    if (bulk_ || gridModel_ == nullptr) {
        return;
    }
    TFlagScope syncing(syncing_);
    const int row = setServer.Active() ? setServer.RecNo() : -1;
    QItemSelectionModel* selection = gridLink->selectionModel();
    if (row < 0 || row >= gridModel_->rowCount()) {
        selection->clear();
        return;
    }
    const QModelIndex index = gridModel_->index(row, 0);
    selection->setCurrentIndex(index,
                               QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    gridLink->scrollTo(index);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    if ((event->type() == QEvent::WindowStateChange || event->type() == QEvent::Hide) &&
        watched != gridLink && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->isWindow()) {
        SyncShowHide();
    }
    if (event->type() == QEvent::PaletteChange) {
        if (watched == gridLink)
            KeepColoursWhenDisabled(gridLink, kGridRoles);
        else if (watched == StatusBar)
            KeepColoursWhenDisabled(StatusBar, {QPalette::WindowText});
    }
    if (watched == gridLink && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers mods =
            key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
        // The grid's own Ctrl+Delete must not delete a record: deleting asks first.
        if (key->key() == Qt::Key_Delete && mods == Qt::ControlModifier) {
            return true;
        }
        if (!gridLink->isEnabled()) {
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

QAction* TMainForm::ServerAction(TServerAction action) const {
    switch (action) {
    case TServerAction::Add:
        return actionServerAdd;
    case TServerAction::Edit:
        return actionServerEdit;
    case TServerAction::Delete:
        return actionServerDelete;
    case TServerAction::Activate:
        return actionServerActivate;
    case TServerAction::Deactivate:
        return actionServerDeactivate;
    case TServerAction::ActivateAll:
        return actionServerActivateAll;
    }
    return actionServerAdd;
}

// ---------------------------------------------------------------------------------------------
// What a run shows.

void TMainForm::SetStatusText(const std::string& text) {
    statusLabel_->setText(QString::fromStdString(text));
}

std::string TMainForm::StatusText() const {
    return statusLabel_->text().toStdString();
}

void TMainForm::SetSemaforImage(int index) {
    if (index < 0 || index >= SemaforPictureCount) {
        return;
    }
    semaforImage_ = index;
    static_cast<TPictureLabel*>(imageSemafor)->SetPicture(SemaforPicturePath(index), QSize(60, 60));
    imageSemafor->repaint();
}

void TMainForm::SetSemaforHint(const std::string& hint) {
    imageSemafor->setToolTip(QString::fromStdString(hint));
}

std::string TMainForm::SemaforHint() const {
    return imageSemafor->toolTip().toStdString();
}

void TMainForm::SetGridEnabled(bool enabled) {
    // The first closing step of a run: the list is ours again, before the run looks at how
    // many records it holds.
    if (enabled && pendingDelete_) {
        const TNamedRecord named = *std::exchange(pendingDelete_, std::nullopt);
        Guarded([&] { DeleteNamed(named); });
    }
    gridLink->setEnabled(enabled);
    gridLink->viewport()->update();
}

void TMainForm::SetTimerEnabled(bool enabled) {
    if (!enabled) {
        timerCheck->stop();
        return;
    }
    // No new run once quitting: the closing steps of a run that ends during the quit land here.
    if (!quitting_) {
        timerCheck->start();
    }
}

} // namespace qrv::gui
