#pragma once

#include "platform/LocalTime.h"

#include <functional>
#include <string>
#include <string_view>

namespace qrv::shell {

// The label of a log category: exact, case-sensitive; anything unknown is "OTHER".
std::string LogLabel(std::string_view category);

// The short date, then, unless the time is 00:00:00 (milliseconds do not count), a blank and
// the long time.
std::string LogTimestamp(const platform::TLocalTime& time,
                         const platform::TRegionalFormats& formats);

// Where WriteLog takes the moment and the formats from. An empty Now means the local time and
// the user's formats; tests fix both.
struct TLogClock {
    std::function<platform::TLocalTime()> Now;
    platform::TRegionalFormats Formats;
};
void SetLogClock(TLogClock clock);

} // namespace qrv::shell
