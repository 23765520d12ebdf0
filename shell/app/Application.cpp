#include "shell/app/Application.h"

#include <QEvent>

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

bool TQRVApplication::event(QEvent* event) {
    if (event->type() == QEvent::Quit && OnQuitRequested) {
        OnQuitRequested();
        return true;
    }
    return QApplication::event(event);
}

} // namespace qrv::gui
