#pragma once

#include <QApplication>

#include <exception>
#include <functional>

namespace qrv::gui {

// The application-wide exception hook: an error that escapes a handler of the user-interface
// thread ends that handler and is discarded here (no dialog, no log line); the event loop goes
// on.
void ApplicationEventsException(std::exception_ptr error);

// Runs a handler so that whatever it throws reaches ApplicationEventsException.
void Guarded(const std::function<void()>& handler);

// The application object: hands every error that escapes event delivery to the hook.
class TQRVApplication : public QApplication {
public:
    TQRVApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace qrv::gui
