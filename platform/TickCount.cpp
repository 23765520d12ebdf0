#include "platform/TickCount.h"

#include <ctime>

namespace qrv::platform {

std::uint32_t GetTickCount() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    const auto ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000U +
                    static_cast<std::uint64_t>(ts.tv_nsec) / 1000000U;
    return static_cast<std::uint32_t>(ms);
}

} // namespace qrv::platform
