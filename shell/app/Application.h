#pragma once

#include "shell/window/Guarded.h"

#include <QApplication>

#include <functional>

namespace qrv::gui {

// The application object: hands every error that escapes event delivery to the hook.
class TQRVApplication : public QApplication {
public:
    TQRVApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;

    // The toolkit's request to end the application (an X11 session manager's "die" at log-out):
    // the windows would only hide, and the display going away next would end the process with
    // nothing saved, so the program's own Quit runs instead. Empty: the toolkit's handling.
    std::function<void()> OnQuitRequested;

protected:
    bool event(QEvent* event) override;
};

} // namespace qrv::gui
