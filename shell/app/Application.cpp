#include "shell/app/Application.h"

namespace qrv::gui {

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
