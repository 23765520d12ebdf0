#pragma once

#include "shell/window/Guarded.h"

#include <QApplication>

namespace qrv::gui {

// The application object: hands every error that escapes event delivery to the hook.
class TQRVApplication : public QApplication {
public:
    TQRVApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace qrv::gui
