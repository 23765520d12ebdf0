#include "platform/CodePage.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

using namespace qrv::platform;

namespace {

TEST(CodePage, LocaleLanguageChoosesThePage) {
    EXPECT_EQ(CodePageForLocale("cs_CZ.UTF-8"), 1250);
    EXPECT_EQ(CodePageForLocale("pl"), 1250);
    EXPECT_EQ(CodePageForLocale("ru_RU"), 1251);
    EXPECT_EQ(CodePageForLocale("el_GR.UTF-8"), 1253);
    EXPECT_EQ(CodePageForLocale("tr_TR"), 1254);
    EXPECT_EQ(CodePageForLocale("he_IL"), 1255);
    EXPECT_EQ(CodePageForLocale("fa_IR"), 1256);
    EXPECT_EQ(CodePageForLocale("lt_LT"), 1257);
    EXPECT_EQ(CodePageForLocale("vi_VN"), 1258);
    EXPECT_EQ(CodePageForLocale("en_US.UTF-8"), 1252);
    EXPECT_EQ(CodePageForLocale("C"), 1252);
    EXPECT_EQ(CodePageForLocale(""), 1252);
}

TEST(CodePage, RoundTripsWhatThePageHoldsAndMarksTheRest) {
    // Czech letters exist in 1250, not in 1252.
    const std::string czech = "\xC4\x8C"
                              "ek\xC3\xA1m"; // "Čekám"
    const std::string in1250 = Utf8ToAnsi(czech, 1250);
    EXPECT_EQ(in1250, "\xC8"
                      "ek\xE1m");
    EXPECT_EQ(AnsiToUtf8(in1250, 1250), czech);
    EXPECT_EQ(Utf8ToAnsi(czech, 1252), "?ek\xE1m");
    // The euro sign sits at 0x80 in 1252; a character no page holds becomes '?'.
    EXPECT_EQ(Utf8ToAnsi("\xE2\x82\xAC", 1252), "\x80");
    EXPECT_EQ(Utf8ToAnsi("\xE6\x97\xA5", 1252), "?");
    // Invalid UTF-8 is one replacement character, hence one '?'.
    EXPECT_EQ(Utf8ToAnsi("a\xFF"
                         "b",
                         1252),
              "a?b");
}

TEST(CodePage, EveryDefinedByteOfEveryPageSurvivesARoundTrip) {
    for (int page : {1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258}) {
        std::set<std::string> seen;
        std::string all;
        // A byte the page leaves undefined decodes to the code point of its own number,
        // which may be a defined character elsewhere in the page (1255 has U+00F7 at 0xBA).
        for (int b = 1; b < 256; ++b) {
            const std::string one(1, static_cast<char>(b));
            if (seen.insert(AnsiToUtf8(one, page)).second) {
                all += one;
            }
        }
        EXPECT_GT(all.size(), 240U) << "page " << page;
        EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(all, page), page), all) << "page " << page;
    }
}

TEST(CodePage, Utf8Helpers) {
    EXPECT_EQ(Latin1ToUtf8("a\xE9\xFF"), "a\xC3\xA9\xC3\xBF");
    EXPECT_EQ(Utf8Length("a\xC3\xA9\xE2\x82\xAC"), 3U);
    EXPECT_EQ(Utf8Prefix("a\xC3\xA9\xE2\x82\xAC", 2), "a\xC3\xA9");
    EXPECT_EQ(Utf8Prefix("ab", 5), "ab");
    EXPECT_EQ(SanitizeUtf8("ok\xC3"), "ok\xEF\xBF\xBD");
    EXPECT_EQ(SanitizeUtf8("\xEF\xBB\xBF"
                           "x"),
              "\xEF\xBB\xBF"
              "x"); // a BOM is kept
    EXPECT_EQ(SanitizeUtf8("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
}

} // namespace
