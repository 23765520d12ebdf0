#include "shell/app/EndSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace qrv::gui {

namespace {

int gPipe[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

extern "C" void OnEndSignal(int signalNumber) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // A full pipe already holds a request; losing this one changes nothing.
    [[maybe_unused]] const ssize_t written = ::write(gPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

TEndSignals::TEndSignals(QObject* parent) : QObject(parent) {
    if (gPipe[0] < 0) {
        if (::pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
            gPipe[0] = gPipe[1] = -1;
            return;
        }
    }
    notifier_ = new QSocketNotifier(gPipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TEndSignals::Read);
    struct sigaction action {};
    action.sa_handler = OnEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : kSignals) {
        ::sigaction(number, &action, nullptr);
    }
}

TEndSignals::~TEndSignals() {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int number : kSignals) {
        ::sigaction(number, &action, nullptr);
    }
}

void TEndSignals::Read() {
    unsigned char bytes[16];
    const ssize_t count = ::read(gPipe[0], bytes, sizeof bytes);
    for (ssize_t i = 0; i < count; ++i) {
        Q_EMIT EndRequested(bytes[i]);
    }
}

} // namespace qrv::gui
