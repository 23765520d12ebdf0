#pragma once

#include <functional>
#include <string>

namespace qrv::engine {

// The six server actions of the main window, in the order a run disables them.
enum class TServerAction {
    Add,
    Edit,
    Delete,
    Activate,
    Deactivate,
    ActivateAll,
};

enum class TBalloonIcon { None, Info, Warning, Error };

enum TRunOutcome : int { roOffline = 1, roAllOk = 2, roProblems = 3 };

// Everything a check run changes in the window. Every call comes from the check run's own
// thread. The main window implements each call by running it on the user-interface thread, in
// order, and waiting for it; tests record them.
//
// Texts arrive at full length. The tray owner cuts them to what the notification area keeps:
// balloon title 63, balloon text 255, tray hint 127 characters (code points: Utf8Prefix), so
// the engine and its tests see whole texts.
//
// While the shell is quitting, SetTimerEnabled(true) must be ignored: a run that ends during
// the quit action re-arms the timer in its closing steps, and no new run may start then.
class ICheckView {
public:
    virtual ~ICheckView() = default;

    virtual void SetStatusText(const std::string& text) = 0;
    // Sets title, text, time-out and icon kind, then shows it; a new balloon replaces the old.
    virtual void ShowBalloon(const std::string& title, const std::string& text, int timeoutMs,
                             TBalloonIcon icon) = 0;
    virtual void SetTrayImage(int index) = 0; // 0 green, 1 red, 2 yellow
    virtual void SetTrayHint(const std::string& hint) = 0;
    virtual void SetSemaforHint(const std::string& hint) = 0; // hint of the traffic light
    virtual void SetSemaforImage(int index) = 0;              // 0 green, 1 red, 2 yellow; repaint
    virtual void ShowWarningButton() = 0;
    virtual void SetActionEnabled(TServerAction action, bool enabled) = 0;
    virtual void SetGridEnabled(bool enabled) = 0;  // and repaint
    virtual void SetTimerEnabled(bool enabled) = 0; // ignored (true) while quitting

    // Runs `work` on the thread that owns the server list and waits for it; an error thrown
    // by `work` is rethrown on the caller's thread. The run touches the server list only in here.
    virtual void Synchronize(const std::function<void()>& work) = 0;

    // The wait of a thread for a run to end (TQRVCheck::WaitFor, also from its destructor and
    // StartCheckRun). On the thread that serves the hand-overs it must go on serving them, as
    // they come, until `ended()` holds, and then return true: otherwise that thread and the
    // run would wait for each other. On any other thread it returns false at once, and the
    // caller waits on its own.
    virtual bool ServeUntil(const std::function<bool()>& ended) = 0;

    // Called on the run's thread as its very last step, once `ended()` holds: wakes a
    // ServeUntil under way, so that it needs no polling.
    virtual void RunEnded() = 0;
};

} // namespace qrv::engine
