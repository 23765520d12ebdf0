#pragma once

#include "shell/app/MainForm.h"

#include <memory>

namespace qrv::gui {

class TFormAbout;
class TFormServers;
class TFormUpdate;
class TformSettings;

// The five windows of the program, created once in their order (main window, settings dialog,
// server editor, about dialog, update notice) and kept until the end.
class TProgram {
public:
    explicit TProgram(TMainFormOptions options = {});
    ~TProgram(); // the dialogs go first; the main window then closes the list (its save)
    TProgram(const TProgram&) = delete;
    TProgram& operator=(const TProgram&) = delete;

    TMainForm& MainForm() { return *main_; }
    TformSettings& FormSettings() { return *settings_; }
    TFormServers& FormServers() { return *servers_; }
    TFormAbout& FormAbout() { return *about_; }
    TFormUpdate& FormUpdate() { return *update_; }

private:
    std::unique_ptr<TMainForm> main_;
    std::unique_ptr<TformSettings> settings_;
    std::unique_ptr<TFormServers> servers_;
    std::unique_ptr<TFormAbout> about_;
    std::unique_ptr<TFormUpdate> update_;
};

} // namespace qrv::gui
