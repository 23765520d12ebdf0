#include "shell/app/Application.h"

namespace qrv::gui {

void ApplicationEventsException(std::exception_ptr error) {
    // Discarded on purpose: the operation that raised it has ended, the program goes on.
    static_cast<void>(error);
}

void Guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (...) {
        ApplicationEventsException(std::current_exception());
    }
}

TQRVApplication::TQRVApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TQRVApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ApplicationEventsException(std::current_exception());
        return false;
    }
}

} // namespace qrv::gui
