#pragma once

#include <QObject>

class QSocketNotifier;

namespace qrv::gui {

// SIGTERM, SIGINT and SIGHUP (a session log-out, a service stop, Ctrl+C) become a Qt signal on
// the user-interface thread, so that they can run the quit action and nothing is lost. The
// handler only writes one byte to a pipe; the event loop reads it.
class TEndSignals : public QObject {
    Q_OBJECT
public:
    explicit TEndSignals(QObject* parent = nullptr);
    ~TEndSignals() override;

    bool Installed() const { return notifier_ != nullptr; }

Q_SIGNALS:
    void EndRequested(int signalNumber);

private:
    void Read();

    QSocketNotifier* notifier_ = nullptr;
};

} // namespace qrv::gui
