#pragma once

#include <cstdint>

namespace qrv::platform {

// A 32-bit millisecond counter from the monotonic clock; it wraps after about 49.7 days,
// so durations are taken as unsigned differences modulo 2^32.
std::uint32_t GetTickCount();

} // namespace qrv::platform
