#pragma once

#include <exception>
#include <functional>

namespace qrv::gui {

// The application-wide exception hook: an error that escapes a handler of the user-interface
// thread ends that handler and is discarded here (no dialog, no log line); the event loop goes
// on. A debug build says on stderr what it discarded, so that a fault does not go unseen.
void ApplicationEventsException(std::exception_ptr error);

// Runs a handler so that whatever it throws reaches ApplicationEventsException, instead of
// unwinding through Qt's event dispatch.
void Guarded(const std::function<void()>& handler);

} // namespace qrv::gui
