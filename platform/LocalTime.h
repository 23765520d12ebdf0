#pragma once

#include <array>
#include <string>
#include <string_view>

namespace qrv::platform {

// A moment of local wall-clock time.
struct TLocalTime {
    int Year = 1970;
    int Month = 1; // 1..12
    int Day = 1;   // 1..31
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    int Millisecond = 0;
    int DayOfWeek = 4; // 0 = Sunday
};

TLocalTime LocalNow();

struct TDateNames {
    std::array<std::string, 12> ShortMonths, LongMonths;
    std::array<std::string, 7> ShortDays, LongDays; // from Sunday
    std::string Am = "AM", Pm = "PM";
};

// The user's short date and long time formats as Windows-style patterns:
//   d dd ddd dddd  day, two digits, short and long day name
//   M MM MMM MMMM  month, two digits, short and long month name
//   y yy yyyy      year modulo 100, two digits, whole year
//   h hh H HH      hour on the 12- or 24-hour clock, two digits
//   m mm s ss      minute, second
//   t tt           first letter of AM/PM, whole AM/PM
//   '...'          literal text ('' is a quote); any other character stands for itself
struct TRegionalFormats {
    std::string ShortDate = "M/d/yyyy";
    std::string LongTime = "h:mm:ss tt";
    TDateNames Names;
};

// The formats and names of a locale's LC_TIME category (nl_langinfo D_FMT and T_FMT), "" for
// the one the environment names; the "C" locale's when that locale is not installed.
TRegionalFormats RegionalFormatsOf(const char* localeName);

// The environment's formats, decided once.
const TRegionalFormats& UserRegionalFormats();

// A strftime format (as nl_langinfo gives it) as a pattern of the kind above. Time zones and
// conversions without an equivalent are left out.
std::string PatternFromStrftime(std::string_view format);

std::string FormatDateTime(std::string_view pattern, const TLocalTime& time,
                           const TDateNames& names);

} // namespace qrv::platform
