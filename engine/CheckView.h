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

// Everything a check run changes in the window. The main window implements each call by
// running it on the user-interface thread, in order, and waiting for it; tests record them.
class ICheckView {
public:
    virtual ~ICheckView() = default;

    virtual void SetStatusText(const std::string& text) = 0;
    virtual void ShowBalloon(const std::string& title, const std::string& text, int timeoutMs,
                             TBalloonIcon icon) = 0;
    virtual void SetTrayImage(int index) = 0;           // 0 green, 1 red, 2 yellow
    virtual void SetTrayHint(const std::string& hint) = 0;
    virtual void SetSemafor(int index, const std::string& hint) = 0;  // traffic light + hint
    virtual void ShowWarningButton() = 0;
    virtual void SetActionEnabled(TServerAction action, bool enabled) = 0;
    virtual void SetGridEnabled(bool enabled) = 0;      // and repaint
    virtual void SetTimerEnabled(bool enabled) = 0;

    // Runs `work` on the thread that owns the server list and waits for it; an error thrown
    // by `work` is rethrown on the caller's thread.
    virtual void Synchronize(const std::function<void()>& work) = 0;
};

} // namespace qrv::engine
