#include "engine/TextFormat.h"

#include "platform/Error.h"

#include <gtest/gtest.h>

#include <string>

using qrv::engine::FormatText;

namespace {

TEST(FormatText, FillsPlaceholdersInOrderAndCopiesArgumentsAsTheyStand) {
    struct Case {
        const char* format;
        std::initializer_list<std::string_view> args;
        const char* expected;
    };
    const Case cases[] = {
        {"Checking...", {}, "Checking..."},
        {"Processing %s...", {"alpha"}, "Processing alpha..."},
        {"Unable to load '%s'. Error: %s",
         {"a", "HTTP/1.1 404 Not Found"},
         "Unable to load 'a'. Error: HTTP/1.1 404 Not Found"},
        {"Unable to load '%s'. Error: %s", {"a", ""}, "Unable to load 'a'. Error: "},
        {"Slow load '%s'. Load time %sms.", {"b", "1001"}, "Slow load 'b'. Load time 1001ms."},
        {"%s%s", {"x", "y"}, "xy"},
        {"100%% %s", {"sure"}, "100% sure"},
        {"%%s", {}, "%s"},
        // Arguments holding placeholders are never expanded again.
        {"Wrong response '%s': %s", {"%s", "50%% off %d"}, "Wrong response '%s': 50%% off %d"},
        {"%s", {"line\r\nbreak"}, "line\r\nbreak"},
        {"Zpracov\xc3\xa1v\xc3\xa1m %s\xe2\x80\xa6",
         {"\xc5\xa1"},
         "Zpracov\xc3\xa1v\xc3\xa1m \xc5\xa1\xe2\x80\xa6"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatText(c.format, c.args), c.expected) << "format: " << c.format;
    }
}

TEST(FormatText, RejectsTextsThatDoNotMatchTheirArguments) {
    struct Case {
        const char* format;
        std::initializer_list<std::string_view> args;
    };
    const Case cases[] = {
        {"Processing %s...", {}},     // too few arguments
        {"Processing...", {"alpha"}}, // too many
        {"%s %s %s", {"a", "b"}},
        {"Load time %dms.", {"1"}}, // another conversion
        {"Load time %ims.", {"1"}},
        {"%-10s", {"a"}},
        {"%0:s", {"a"}},
        {"50% off", {}}, // a lone percent sign
        {"trailing %", {}},
        {"%s trailing %", {"a"}},
    };
    for (const Case& c : cases) {
        EXPECT_THROW(FormatText(c.format, c.args), qrv::Error) << "format: " << c.format;
    }
}

} // namespace
