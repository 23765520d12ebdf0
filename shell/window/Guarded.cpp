#include "shell/window/Guarded.h"

#ifndef NDEBUG
#include <cstdio>
#endif

namespace qrv::gui {

void ApplicationEventsException(std::exception_ptr error) {
    // Discarded on purpose: the operation that raised it has ended, the program goes on.
#ifndef NDEBUG
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "Quorvane (debug): a handler ended with: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "Quorvane (debug): a handler ended with an unknown error\n");
    }
#else
    static_cast<void>(error);
#endif
}

void Guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (...) {
        ApplicationEventsException(std::current_exception());
    }
}

} // namespace qrv::gui
