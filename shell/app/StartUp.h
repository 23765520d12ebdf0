#pragma once

#include "engine/ServerList.h"

#include <cstdint>
#include <string>

namespace qrv::gui {

// What the start-up sequence and the application of saved settings need of the main window.
class IStartUpWindow {
public:
    virtual ~IStartUpWindow() = default;

    // An information box owned by the window.
    virtual void ShowNotice(const std::string& caption, const std::string& text) = 0;
    // The "Application error" box, then the end of start-up (throws TFatalStop).
    [[noreturn]] virtual void FatalStop(const std::string& text) = 0;
    virtual void SetCheckInterval(std::int32_t seconds) = 0;
    // The window is not quitting and its check timer runs.
    virtual void ArmCheckTimer() = 0;
    virtual void ShowModePicture() = 0;
    virtual void RegisterHotKey() = 0;
    virtual void UnregisterHotKey() = 0; // nothing when none is registered
    virtual engine::TServerList& ServerList() = 0;
    virtual const std::string& ListPath() const = 0;
    // Keeps an unreadable list file beside itself as "<list>.damaged-<stamp>".
    virtual void PreserveUnreadableList() = 0;
    // Edit, Delete, Activate and Deactivate, for an empty list.
    virtual void DisableRecordActions() = 0;
    // The update check, when the window's options ask for it.
    virtual void StartUpdateCheck() = 0;
    // The main window and the four others in the selected language.
    virtual void RetranslateWindows() = 0;
    // Whether the check run's client fetches https addresses (the update check's client is
    // not affected).
    virtual void SetHttpsEnabled(bool on) = 0;
};

// The start-up sequence, in its order: the configuration (the defaults and their notice when
// there is none), the language, the check timer and the run client's https switch, the mode
// picture, the log, the hot key, the server list (a new one with the vendor's record and its notice
// when it cannot be read), its "Waiting..." state, and the update check. A step that cannot go on
// ends the program through FatalStop; any other error ends the sequence at that step.
void StartUp(IStartUpWindow& window);

// Carries out the saved settings: the hot key, the check interval, the language and the https
// switch of the check run's client.
void ApplySettings(IStartUpWindow& window);

} // namespace qrv::gui
