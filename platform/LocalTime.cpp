#include "platform/LocalTime.h"

#include "platform/CodePage.h"

#include <ctime>
#include <langinfo.h>
#include <locale.h>

namespace qrv::platform {

namespace {

TDateNames EnglishNames() {
    return {{"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"},
            {"January", "February", "March", "April", "May", "June", "July", "August", "September",
             "October", "November", "December"},
            {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"},
            {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"},
            "AM",
            "PM"};
}

bool IsPatternLetter(char c) {
    return c == 'd' || c == 'M' || c == 'y' || c == 'h' || c == 'H' || c == 'm' || c == 's' ||
           c == 't' || c == '\'';
}

void AppendNumber(std::string& out, int value, int width) {
    std::string digits = std::to_string(value < 0 ? -value : value);
    while (static_cast<int>(digits.size()) < width) {
        digits.insert(digits.begin(), '0');
    }
    out += digits;
}

// Pattern for one strftime conversion; `unpadded` for the "-" and "_" flags.
std::string Conversion(char c, bool unpadded) {
    const auto pad = [unpadded](const char* padded, const char* plain) {
        return std::string(unpadded ? plain : padded);
    };
    switch (c) {
    case 'a':
        return "ddd";
    case 'A':
        return "dddd";
    case 'b':
    case 'h':
        return "MMM";
    case 'B':
        return "MMMM";
    case 'd':
        return pad("dd", "d");
    case 'e':
        return "d";
    case 'm':
        return pad("MM", "M");
    case 'y':
        return pad("yy", "y");
    case 'Y':
    case 'G':
        return "yyyy";
    case 'H':
        return pad("HH", "H");
    case 'k':
        return "H";
    case 'I':
        return pad("hh", "h");
    case 'l':
        return "h";
    case 'M':
        return pad("mm", "m");
    case 'S':
        return pad("ss", "s");
    case 'p':
    case 'P':
        return "tt";
    case 'D':
        return "MM/dd/yy";
    case 'F':
        return "yyyy-MM-dd";
    case 'T':
        return "HH:mm:ss";
    case 'R':
        return "HH:mm";
    case 'r':
        return "hh:mm:ss tt";
    case 'n':
    case 't':
        return " ";
    case '%':
        return "%";
    default:
        return {}; // time zones, week numbers, ...: no equivalent
    }
}

std::string Names(locale_t loc, nl_item item) {
    return SanitizeUtf8(nl_langinfo_l(item, loc));
}

} // namespace

TLocalTime LocalNow() {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    tm parts{};
    ::localtime_r(&ts.tv_sec, &parts);
    return {parts.tm_year + 1900,
            parts.tm_mon + 1,
            parts.tm_mday,
            parts.tm_hour,
            parts.tm_min,
            parts.tm_sec,
            static_cast<int>(ts.tv_nsec / 1000000),
            parts.tm_wday};
}

std::string PatternFromStrftime(std::string_view format) {
    std::string out;
    std::string literal;
    const auto flushLiteral = [&]() {
        if (!literal.empty()) {
            out += "'" + literal + "'";
            literal.clear();
        }
    };
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if (c != '%') {
            if (IsPatternLetter(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
                literal += c == '\'' ? std::string("''") : std::string(1, c);
            } else {
                flushLiteral();
                out += c;
            }
            continue;
        }
        bool unpadded = false;
        ++i;
        while (i < format.size() &&
               std::string_view("-_0^#").find(format[i]) != std::string_view::npos) {
            unpadded = unpadded || format[i] == '-' || format[i] == '_';
            ++i;
        }
        while (i < format.size() && format[i] >= '0' && format[i] <= '9') {
            ++i; // field widths
        }
        if (i < format.size() && (format[i] == 'E' || format[i] == 'O')) {
            ++i;
        }
        if (i >= format.size()) {
            break;
        }
        flushLiteral();
        out += Conversion(format[i], unpadded);
    }
    flushLiteral();
    // Dropped conversions leave their separators behind ("%H:%M:%S %Z").
    while (!out.empty() && out.back() == ' ') {
        out.pop_back();
    }
    return out;
}

std::string FormatDateTime(std::string_view pattern, const TLocalTime& t, const TDateNames& names) {
    std::string out;
    for (std::size_t i = 0; i < pattern.size();) {
        const char c = pattern[i];
        if (c == '\'') {
            ++i;
            while (i < pattern.size()) {
                if (pattern[i] == '\'') {
                    if (i + 1 < pattern.size() && pattern[i + 1] == '\'') {
                        out += '\'';
                        i += 2;
                        continue;
                    }
                    break;
                }
                out += pattern[i++];
            }
            ++i;
            continue;
        }
        std::size_t run = 1;
        while (i + run < pattern.size() && pattern[i + run] == c) {
            ++run;
        }
        const int n = static_cast<int>(run);
        const int hour12 = t.Hour % 12 == 0 ? 12 : t.Hour % 12;
        const std::size_t dow = static_cast<std::size_t>((t.DayOfWeek % 7 + 7) % 7);
        const std::size_t month = static_cast<std::size_t>((t.Month - 1) % 12);
        switch (c) {
        case 'd':
            if (n <= 2) {
                AppendNumber(out, t.Day, n);
            } else {
                out += n == 3 ? names.ShortDays[dow] : names.LongDays[dow];
            }
            break;
        case 'M':
            if (n <= 2) {
                AppendNumber(out, t.Month, n);
            } else {
                out += n == 3 ? names.ShortMonths[month] : names.LongMonths[month];
            }
            break;
        case 'y':
            if (n <= 2) {
                AppendNumber(out, t.Year % 100, n);
            } else {
                AppendNumber(out, t.Year, 4);
            }
            break;
        case 'h':
            AppendNumber(out, hour12, n >= 2 ? 2 : 1);
            break;
        case 'H':
            AppendNumber(out, t.Hour, n >= 2 ? 2 : 1);
            break;
        case 'm':
            AppendNumber(out, t.Minute, n >= 2 ? 2 : 1);
            break;
        case 's':
            AppendNumber(out, t.Second, n >= 2 ? 2 : 1);
            break;
        case 't': {
            const std::string& marker = t.Hour < 12 ? names.Am : names.Pm;
            out += n >= 2 ? marker : marker.substr(0, 1);
            break;
        }
        default:
            out.append(run, c);
            break;
        }
        i += run;
    }
    return out;
}

TRegionalFormats RegionalFormatsOf(const char* localeName) {
    locale_t loc = ::newlocale(LC_TIME_MASK, localeName, static_cast<locale_t>(nullptr));
    if (loc == static_cast<locale_t>(nullptr)) {
        loc = ::newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(nullptr));
    }
    TRegionalFormats formats;
    formats.Names = EnglishNames();
    if (loc == static_cast<locale_t>(nullptr)) {
        return formats;
    }
    formats.ShortDate = PatternFromStrftime(nl_langinfo_l(D_FMT, loc));
    formats.LongTime = PatternFromStrftime(nl_langinfo_l(T_FMT, loc));
    for (int i = 0; i < 12; ++i) {
        const auto k = static_cast<std::size_t>(i);
        formats.Names.ShortMonths[k] = Names(loc, static_cast<nl_item>(ABMON_1 + i));
        formats.Names.LongMonths[k] = Names(loc, static_cast<nl_item>(MON_1 + i));
    }
    for (int i = 0; i < 7; ++i) {
        const auto k = static_cast<std::size_t>(i);
        formats.Names.ShortDays[k] = Names(loc, static_cast<nl_item>(ABDAY_1 + i));
        formats.Names.LongDays[k] = Names(loc, static_cast<nl_item>(DAY_1 + i));
    }
    formats.Names.Am = Names(loc, AM_STR);
    formats.Names.Pm = Names(loc, PM_STR);
    ::freelocale(loc);
    return formats;
}

const TRegionalFormats& UserRegionalFormats() {
    static const TRegionalFormats formats = RegionalFormatsOf("");
    return formats;
}

} // namespace qrv::platform
