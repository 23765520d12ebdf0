#include "platform/IntConv.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using qrv::platform::StrToInt;

namespace {

struct Case {
    const char* text;
    std::optional<int> expected;
};

TEST(StrToInt, FollowsTheOneConversionRule) {
    const Case cases[] = {
        {"300", 300},
        {"  300", 300}, // leading blanks are skipped
        {"+7", 7},
        {"-7", -7},
        {"$12C", 300}, // hexadecimal after "$"
        {"x12c", 300},
        {"X12C", 300},
        {"0x12C", 300},
        {"0X12c", 300},
        {"-$10", -16},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"$7FFFFFFF", 2147483647},
        {"007", 7},
        {"0", 0},
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"-", std::nullopt},
        {"$", std::nullopt},
        {"0x", std::nullopt},
        {"300x", std::nullopt}, // nothing may follow the digits
        {"300 ", std::nullopt},
        {"3 00", std::nullopt},
        {"abc", std::nullopt},
        {"12.5", std::nullopt},
        {"\t300", std::nullopt},
        {"+-3", std::nullopt},
        {"2147483648", std::nullopt},
        {"-2147483649", std::nullopt},
        {"$80000000", std::nullopt},
        {"99999999999999999999999", std::nullopt},
        {"$G", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(StrToInt(c.text), c.expected) << "text: \"" << c.text << "\"";
    }
}

} // namespace
