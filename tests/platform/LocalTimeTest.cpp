#include "platform/LocalTime.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

namespace qrv::platform {
namespace {

// Monday 25 January 2010, 14:03:07.250
const TLocalTime kAfternoon{2010, 1, 25, 14, 3, 7, 250, 1};

TEST(LocalTime, FormatsPatterns) {
    const TDateNames names = RegionalFormatsOf("C").Names;
    struct TRow {
        const char* Pattern;
        TLocalTime Time;
        const char* Expected;
    };
    for (const auto& row : std::vector<TRow>{
             {"d.M.yyyy", kAfternoon, "25.1.2010"},
             {"H:mm:ss", kAfternoon, "14:03:07"},
             {"dd/MM/yy", {2009, 3, 5, 9, 4, 1, 0, 4}, "05/03/09"},
             {"d.M.y", {2005, 3, 5, 9, 4, 1, 0, 6}, "5.3.5"},
             {"yyyy-MM-dd", {987, 12, 31, 0, 0, 0, 0, 0}, "0987-12-31"},
             {"h:mm:ss tt", kAfternoon, "2:03:07 PM"},
             {"hh:mm t", {2010, 1, 25, 0, 5, 0, 0, 1}, "12:05 A"},
             {"hh:mm tt", {2010, 1, 25, 12, 0, 0, 0, 1}, "12:00 PM"},
             {"HH:m:s", {2010, 1, 25, 7, 8, 9, 0, 1}, "07:8:9"},
             {"ddd dddd MMM MMMM", kAfternoon, "Mon Monday Jan January"},
             {"dddd", {2010, 1, 31, 0, 0, 0, 0, 0}, "Sunday"},
             {"'at' H 'o''clock', d.", kAfternoon, "at 14 o'clock, 25."},
             {"'unterminated", kAfternoon, "unterminated"},
             {"[yyyy] x", kAfternoon, "[2010] x"},
         }) {
        EXPECT_EQ(FormatDateTime(row.Pattern, row.Time, names), row.Expected) << row.Pattern;
    }
}

TEST(LocalTime, MapsStrftimeFormats) {
    struct TRow {
        const char* Format;
        const char* Pattern;
    };
    for (const auto& row : std::vector<TRow>{
             {"%m/%d/%y", "MM/dd/yy"},
             {"%-d.%-m.%Y", "d.M.yyyy"},
             {"%d.%m.%Y", "dd.MM.yyyy"},
             {"%H:%M:%S", "HH:mm:ss"},
             {"%-H:%M:%S", "H:mm:ss"},
             {"%T", "HH:mm:ss"},
             {"%r", "hh:mm:ss tt"},
             {"%I:%M:%S %p", "hh:mm:ss tt"},
             {"%l:%M %P", "h:mm tt"},
             {"%k.%M", "H.mm"},
             {"%e %B %Y", "d MMMM yyyy"},
             {"%a %d %b %Y", "ddd dd MMM yyyy"},
             {"%D", "MM/dd/yy"},
             {"%F", "yyyy-MM-dd"},
             {"%H:%M:%S %Z", "HH:mm:ss"},
             {"%Ey %OH", "yy HH"},
             {"%d de %B", "dd 'de' MMMM"},
             {"it's %H", "'it''s' HH"},
             {"%Y年%m月%d日", "yyyy年MM月dd日"},
             {"100%% %", "100%"},
         }) {
        EXPECT_EQ(PatternFromStrftime(row.Format), row.Pattern) << row.Format;
    }
}

TEST(LocalTime, MappedPatternsFormatLikeStrftime) {
    const TRegionalFormats c = RegionalFormatsOf("C");
    std::tm parts{};
    parts.tm_year = 2010 - 1900;
    parts.tm_mon = 0;
    parts.tm_mday = 25;
    parts.tm_hour = 14;
    parts.tm_min = 3;
    parts.tm_sec = 7;
    parts.tm_wday = 1;
    for (const char* format : {"%m/%d/%y", "%H:%M:%S", "%r", "%a %b %d %Y", "%A, %B %d, %Y",
                               "%F %T", "%I:%M %p", "%D %R", "%-m/%-d/%Y", "%y-%m-%d"}) {
        char expected[128];
        ASSERT_GT(std::strftime(expected, sizeof expected, format, &parts), 0u);
        EXPECT_EQ(FormatDateTime(PatternFromStrftime(format), kAfternoon, c.Names), expected)
            << format;
    }
}

TEST(LocalTime, LocaleFormatsFallBackToTheCLocale) {
    for (const char* name : {"C", "POSIX", "xx_NOWHERE.UTF-8"}) {
        const TRegionalFormats formats = RegionalFormatsOf(name);
        EXPECT_EQ(formats.ShortDate, "MM/dd/yy") << name;
        EXPECT_EQ(formats.LongTime, "HH:mm:ss") << name;
        EXPECT_EQ(formats.Names.LongMonths[11], "December") << name;
        EXPECT_EQ(formats.Names.ShortDays[0], "Sun") << name;
        EXPECT_EQ(formats.Names.Pm, "PM") << name;
    }
}

TEST(LocalTime, NowIsAPlausibleLocalTime) {
    const TLocalTime now = LocalNow();
    std::time_t raw = std::time(nullptr);
    std::tm parts{};
    ::localtime_r(&raw, &parts);
    EXPECT_EQ(now.Year, parts.tm_year + 1900);
    EXPECT_GE(now.Month, 1);
    EXPECT_LE(now.Month, 12);
    EXPECT_GE(now.Millisecond, 0);
    EXPECT_LT(now.Millisecond, 1000);
    EXPECT_GE(now.DayOfWeek, 0);
    EXPECT_LT(now.DayOfWeek, 7);
}

} // namespace
} // namespace qrv::platform
