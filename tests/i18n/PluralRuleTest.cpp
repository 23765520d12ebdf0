#include "i18n/PluralRule.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qrv::test {
namespace {

using i18n::PluralIndex;
using i18n::PluralRuleFor;

struct TRuleCase {
    const char* Code;
    // Expected index for n = 0, 1, 2, 3, 5, 11, 12, 21, 22, 25, 101, 102, 103, 111, 112.
    std::vector<int> Indexes;
};

const std::vector<std::int32_t> kNumbers = {0,  1,  2,   3,   5,   11,  12, 21,
                                            22, 25, 101, 102, 103, 111, 112};

TEST(PluralRule, IndexForEachLanguage) {
    for (const auto& [code, indexes] : std::vector<TRuleCase>{
             {"en", {1, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}},
             {"de_DE", {1, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}},
             {"C", {1, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}},
             {"pt", {1, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}},
             {"HU", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
             {"ja_JP", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
             {"fr", {0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}},
             {"pt_BR", {0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}},
             {"lv", {2, 0, 1, 1, 1, 1, 1, 0, 1, 1, 0, 1, 1, 1, 1}},
             {"ga", {2, 0, 1, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2}},
             {"lt", {2, 0, 1, 1, 1, 2, 2, 0, 1, 1, 0, 1, 1, 2, 2}},
             {"ru", {2, 0, 1, 1, 2, 2, 2, 0, 1, 2, 0, 1, 1, 2, 2}},
             {"uk_UA", {2, 0, 1, 1, 2, 2, 2, 0, 1, 2, 0, 1, 1, 2, 2}},
             {"hr", {2, 0, 1, 1, 2, 2, 2, 0, 1, 2, 0, 1, 1, 2, 2}},
             {"cs", {2, 0, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2}},
             {"sk_SK", {2, 0, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2}},
             {"pl", {2, 0, 1, 1, 2, 2, 2, 2, 1, 2, 2, 1, 1, 2, 2}},
             {"sl", {3, 0, 1, 2, 3, 3, 3, 3, 3, 3, 0, 1, 2, 3, 3}},
         }) {
        const auto rule = PluralRuleFor(code);
        std::vector<int> got;
        for (const auto n : kNumbers) {
            got.push_back(PluralIndex(rule, n));
        }
        EXPECT_EQ(got, indexes) << code;
    }
}

TEST(PluralRule, NegativeNumbersCountAsTheirAbsoluteValue) {
    for (const char* code : {"en", "fr", "lv", "ga", "lt", "ru", "cs", "pl", "sl"}) {
        const auto rule = PluralRuleFor(code);
        for (const auto n : kNumbers) {
            EXPECT_EQ(PluralIndex(rule, -n), PluralIndex(rule, n)) << code << " " << n;
        }
        // 2147483648 ends in 8 and 48: the "many" form wherever there is one.
        EXPECT_EQ(PluralIndex(rule, INT32_MIN), PluralIndex(rule, 2147483647 - 9)) << code;
    }
}

} // namespace
} // namespace qrv::test
