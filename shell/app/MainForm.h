#pragma once

#include "engine/CheckRun.h"
#include "engine/CheckView.h"
#include "engine/ServerList.h"
#include "shell/app/StartUp.h"

#include <QMainWindow>
#include <QPixmap>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QAction;
class QLabel;
class QMenu;
class QStatusBar;
class QTableView;
class QTimer;
class QToolButton;

namespace qrv::engine {
class TIdHTTP;
}
namespace qrv::platform {
class TGlobalHotKey;
}

namespace qrv::gui {

class TFormAbout;
class TFormServers;
class TFormUpdate;
class TUpdateCheck;
class TformSettings;
class TGridColumn;
class TServerGridDelegate;
class TServerTableModel;
class TTrayIcon;
class TUiDispatcher;

// Thrown after a fatal start-up stop, once its box has been answered: the program entry ends
// with status 0 when it comes out of the main window's creation.
struct TFatalStop {};

// The check run's connect limit, the same as the update check's: a server that drops packets
// fails with "Connect timed out." instead of waiting for the system's own give-up.
inline constexpr int kRunConnectTimeout = 120000;

struct TMainFormOptions {
    // The server list file; empty: "QRV.xml" in the program folder (platform::ProgramDataDir).
    std::string ServerListPath;
    // The check run's pause; empty: a real sleep.
    std::function<void(int milliseconds)> Pause;
    // Called after a fatal start-up error, before TFatalStop is thrown; may be empty.
    std::function<void()> FatalStop;
    // Start the update check at the end of start-up.
    bool UpdateCheck = true;
    // The check run's connect limit in milliseconds (tests shorten it).
    int ConnectTimeout = kRunConnectTimeout;
};

// The main window `TMainForm`. Its creation runs the start-up sequence; it owns the server
// list, the check timer, the HTTP client, the tray icon and the shell's state, and it is the
// check run's view (every call of the run is carried out here on the user-interface thread).
class TMainForm : public QMainWindow, private IStartUpWindow {
    Q_OBJECT
public:
    explicit TMainForm(TMainFormOptions options = {});
    ~TMainForm() override;

    // The four other windows, created after this one; the actions open them.
    void SetDialogs(TformSettings* settings, TFormServers* servers, TFormAbout* about,
                    TFormUpdate* update);

    // Shell operations.
    void StartUp();
    void timerCheckTimer();
    void StartCheckRun();
    void ApplySettings();
    void actionQuitExecute();

    // Actions of the window (each does nothing while its action is disabled).
    void actionShowExecute();
    void actionHideExecute();
    void actionLogExecute();
    void actionLogClearExecute();
    void actionSettingsExecute();
    void actionServerAddExecute();
    void actionServerEditExecute();
    void actionServerDeleteExecute();
    void actionServerActivateExecute();
    void actionServerDeactivateExecute();
    void actionServerActivateAllExecute();
    void actionHelpContextExecute();
    void actionHelpAboutExecute();
    void TrayIconDblClick();
    // A second start of the program: the window comes back (and to the front).
    void SecondStart();
    void HotKeyPressed(int id);
    void buttonWarningClick();

    // The end of the session or of the display: nobody can answer a box any more, so the end
    // reports on stderr only.
    void SetUnattendedEnd() { unattendedEnd_ = true; }
    // The session manager's request to save (it may still cancel the log-out): the list goes
    // to its file now and stays open. A list that cannot be written goes to a copy, as below.
    void CommitData();
    // The list to its file as the program ends (the save at closing). When that fails, the
    // list is written where it still can be (a copy beside it, else in $XDG_STATE_HOME, else
    // the temporary folder), and the user is told which file failed, why, and where the copy
    // is: in a box, and on stderr.
    void SaveListAtEnd();
    // The display is gone and the toolkit is ending the process: the run is broken off and the
    // list saved, without waiting for anything.
    void EndWithoutDisplay();

    // State read by tests and the program entry.
    bool Quitting() const { return quitting_; }
    std::int32_t HotkeyId() const { return hotkeyId_; }
    bool StartUpFinished() const { return !startingUp_; }
    bool RunInProgress() const;
    std::string StatusText() const;
    std::string SemaforHint() const;
    int SemaforImage() const { return semaforImage_; }
    const std::string& ServerListPath() const { return listPath_; }
    engine::ICheckView& View();
    TServerTableModel& GridModel() { return *gridModel_; }

    // Components, named as in the window's design.
    engine::TServerList setServer;
    std::shared_ptr<engine::TIdHTTP> IdHTTP;
    QTimer* timerCheck = nullptr;
    TTrayIcon* TrayIcon = nullptr;
    QWidget* panelHeader = nullptr;
    QLabel* imageHeader = nullptr;
    QLabel* imageMode = nullptr;
    QToolButton* buttonWarning = nullptr;
    QLabel* imageSemafor = nullptr;
    QTableView* gridLink = nullptr;
    QStatusBar* StatusBar = nullptr;
    QMenu* popupTray = nullptr;
    QMenu* menuApplication = nullptr;
    QMenu* menuServers = nullptr;
    QMenu* menuStats = nullptr;
    QMenu* menuHelp = nullptr;
    QAction* actionQuit = nullptr;
    QAction* actionShow = nullptr;
    QAction* actionHide = nullptr;
    QAction* actionLog = nullptr;
    QAction* actionLogClear = nullptr;
    QAction* actionSettings = nullptr;
    QAction* actionServerAdd = nullptr;
    QAction* actionServerEdit = nullptr;
    QAction* actionServerDelete = nullptr;
    QAction* actionServerActivate = nullptr;
    QAction* actionServerDeactivate = nullptr;
    QAction* actionServerActivateAll = nullptr;
    QAction* actionHelpContext = nullptr;
    QAction* actionHelpAbout = nullptr;
    QAction* actionGenerate = nullptr;

Q_SIGNALS:
    // The window has closed for good (quit); the program entry ends the event loop.
    void Closed();

protected:
    void closeEvent(QCloseEvent* event) override; // FormCloseQuery
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override; // gridLinkKeyDown

private:
    class TView;

    // On screen and not minimised, nor its open dialog: what the toggles of the tray and the
    // hot key test.
    bool Shown() const;
    // The editor or the settings while open (they hold this window disabled); else nullptr.
    QWidget* BlockingDialog() const;
    void SyncShowHide(); // Show offered exactly while the window is not Shown()
    // The window back on screen, un-minimised, raised and active, with the dialog that holds
    // it disabled (or a box open over it) above it and active instead.
    void BringToFront();
    // The open dialog above this window, and a box open over everything, back on screen; the
    // one that takes the input, or nullptr when neither is open.
    QWidget* RestoreDialogs();
    void CreateComponents();
    void CreateActions();
    void CreateMenus();
    void CreateFieldObjects();
    void FormCreate();
    void ConnectList();
    void SyncSelection();
    void UpdateServerActions(); // the rule at the end of a run
    void setServerAfterInsert();
    void setServerAfterDelete();
    void ListChanged();
    // What the start-up sequence and the settings' application do to this window.
    void ShowNotice(const std::string& caption, const std::string& text) override;
    [[noreturn]] void FatalStop(const std::string& text) override;
    void SetCheckInterval(std::int32_t seconds) override;
    void ArmCheckTimer() override;
    void ShowModePicture() override;
    void RegisterHotKey() override;
    void UnregisterHotKey() override;
    engine::TServerList& ServerList() override { return setServer; }
    const std::string& ListPath() const override { return listPath_; }
    void PreserveUnreadableList() override;
    void DisableRecordActions() override;
    void StartUpdateCheck() override;
    void RetranslateWindows() override;
    void SetHttpsEnabled(bool on) override;
    engine::TCheckContext CheckContext();
    QAction* ServerAction(engine::TServerAction action) const;

    // Effects of the check run, carried out on the user-interface thread.
    void SetStatusText(const std::string& text);
    void SetSemaforImage(int index);
    void SetSemaforHint(const std::string& hint);
    void SetGridEnabled(bool enabled);
    void SetTimerEnabled(bool enabled);

    // The record that the Delete question named: its place in Name order and its name. Only
    // Add, Delete and renaming change places, and none of them can run while the question is
    // open or a run is under way.
    struct TNamedRecord {
        int Position = -1;
        std::string Name;
    };
    void DeleteNamed(const TNamedRecord& named);
    // The log cannot be written: the user is told once (the log says when), and runs go on.
    void LogFailed(const std::string& path, const std::string& error);
    void ReportUnsavedList(const std::string& error);
    std::string WriteListCopy();

    TMainFormOptions options_;
    std::string listPath_;
    TUiDispatcher* dispatcher_ = nullptr;
    std::unique_ptr<TView> view_;
    platform::TGlobalHotKey* hotKey_ = nullptr;
    TServerTableModel* gridModel_ = nullptr;
    TServerGridDelegate* gridDelegate_ = nullptr;
    QLabel* statusLabel_ = nullptr;
    int semaforImage_ = -1;

    TformSettings* formSettings_ = nullptr;
    TFormServers* formServers_ = nullptr;
    TFormAbout* formAbout_ = nullptr;
    TFormUpdate* formUpdate_ = nullptr;

    // Shell state.
    bool quitting_ = false;
    bool quitWaiting_ = false; // Quit waits for the run to end
    std::int32_t hotkeyId_ = 0;
    std::unique_ptr<engine::TQRVCheck> checkThread_;
    std::unique_ptr<TUpdateCheck> updateCheck_;
    std::atomic<std::int32_t> runErrorCount_{0};
    bool startingUp_ = true;
    bool tickPending_ = false;
    bool intervalValid_ = false;
    bool bulk_ = false;    // a walk over the whole list: the grid catches up afterwards
    bool syncing_ = false; // the selection is being moved to the list's cursor
    bool unattendedEnd_ = false;
    // A Delete answered while a run held the list: carried out when the run lets go of it.
    std::optional<TNamedRecord> pendingDelete_;
};

} // namespace qrv::gui
