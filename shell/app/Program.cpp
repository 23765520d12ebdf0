#include "shell/app/Program.h"

#include "dialogs/About.h"
#include "dialogs/Servers.h"
#include "dialogs/Settings.h"
#include "dialogs/Update.h"

namespace qrv::gui {

TProgram::TProgram(TMainFormOptions options) {
    main_ = std::make_unique<TMainForm>(std::move(options));
    TMainForm* mainForm = main_.get();
    settings_ =
        std::make_unique<TformSettings>([mainForm] { mainForm->ApplySettings(); }, mainForm);
    servers_ = std::make_unique<TFormServers>(mainForm->setServer, *mainForm->timerCheck, mainForm);
    about_ = std::make_unique<TFormAbout>(mainForm);
    update_ = std::make_unique<TFormUpdate>(mainForm);
    mainForm->SetDialogs(settings_.get(), servers_.get(), about_.get(), update_.get());
}

TProgram::~TProgram() {
    main_->SetDialogs(nullptr, nullptr, nullptr, nullptr);
    update_.reset();
    about_.reset();
    servers_.reset();
    settings_.reset();
    main_.reset();
}

} // namespace qrv::gui
