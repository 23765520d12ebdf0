#include "i18n/MoFile.h"

#include "TestSupport.h"
#include "platform/Error.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace qrv::test {
namespace {

using i18n::TMoFile;

const std::vector<std::pair<std::string, std::string>> kEntries = {
    {"Waiting...", "Čekám..."},
    {"  Server", "Server"},
    {"1 - On load error ", "1 - Při chybě načtení"},
    {"Line one\nLine two", "Řádek jedna\nŘádek dva"},
    {"Save && use", "Uložit"},
    {"Žluťoučký", "kůň"},
};

std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const Error& e) {
        return e.what();
    }
    return "no error";
}

class MoFileByteOrder : public ::testing::TestWithParam<bool> {};

TEST_P(MoFileByteOrder, ReadsEveryEntryOfAMsgfmtCatalogue) {
    TTempDir dir;
    const std::string mo = dir / "default.mo";
    CompileCatalogue(PoText({"Project-Id-Version: QRV 09", "content-type:  text/plain; "
                                                           "charset=UTF-8  "},
                            kEntries) +
                         "\nmsgid \"%s error\"\nmsgid_plural \"%s errors\"\n"
                         "msgstr[0] \"%s chyba\"\nmsgstr[1] \"%s chyby\"\nmsgstr[2] \"%s chyb\"\n",
                     mo, GetParam());
    const TMoFile file = TMoFile::Load(mo);
    EXPECT_EQ(file.Count(), kEntries.size() + 2); // with the header and the plural entry
    for (const auto& [id, tr] : kEntries) {
        EXPECT_EQ(file.Lookup(id), std::optional<std::string_view>(tr)) << id;
    }
    EXPECT_EQ(file.Lookup(std::string("%s error\0%s errors", 18)),
              std::optional<std::string_view>(std::string("%s chyba\0%s chyby\0%s chyb", 25)));
    for (const char* missing : {"waiting...", "Waiting", "Waiting... ", " Server", "Zz", "\x01"}) {
        EXPECT_EQ(file.Lookup(missing), std::nullopt) << missing;
    }
    EXPECT_EQ(file.HeaderField("Project-Id-Version"), "QRV 09");
    EXPECT_EQ(file.HeaderField("CONTENT-TYPE"), "text/plain; charset=UTF-8");
    EXPECT_EQ(file.HeaderField("Language"), std::nullopt);
    EXPECT_TRUE(file.HasUtf8Charset());
}

INSTANTIATE_TEST_SUITE_P(Endianness, MoFileByteOrder, ::testing::Values(false, true),
                         [](const auto& param) { return param.param ? "Big" : "Little"; });

TEST(MoFile, EveryTruncationFailsCleanlyOrKeepsWhatIsWhole) {
    TTempDir dir;
    const std::string mo = dir / "default.mo";
    CompileCatalogue(PoText(kUtf8Header, kEntries), mo);
    const std::string whole = ReadFile(mo);
    const TMoFile full = TMoFile::Parse(whole, "full");
    const std::string invalid = "This file is not a valid GNU gettext mo file: cut";
    for (std::size_t len = 0; len < whole.size(); ++len) {
        try {
            const TMoFile cut = TMoFile::Parse(whole.substr(0, len), "cut");
            // Only the trailing zero bytes may be missing: every string is still whole.
            for (const auto& [id, tr] : kEntries) {
                EXPECT_EQ(cut.Lookup(id), full.Lookup(id)) << len;
            }
        } catch (const Error& e) {
            EXPECT_EQ(e.what(), invalid) << len;
        }
    }
}

struct THostileCase {
    const char* Name;
    std::size_t Offset; // byte position of the 32-bit field to overwrite
    std::uint32_t Value;
};

void PrintTo(const THostileCase& c, std::ostream* os) {
    *os << c.Name;
}

class MoFileHostile : public ::testing::TestWithParam<THostileCase> {};

// Fields of a two-entry catalogue laid out by MakeMo: header at 0, originals table at 28,
// translations table at 44, strings from 60.
TEST_P(MoFileHostile, IsRejectedAsInvalid) {
    std::string bytes = MakeMo({{"", "Content-Type: text/plain; charset=UTF-8\n"}, {"a", "b"}});
    const THostileCase& c = GetParam();
    std::memcpy(bytes.data() + c.Offset, &c.Value, 4);
    EXPECT_EQ(ErrorOf([&] { TMoFile::Parse(bytes, "/x/default.mo"); }),
              "This file is not a valid GNU gettext mo file: /x/default.mo");
}

INSTANTIATE_TEST_SUITE_P(Fields, MoFileHostile,
                         ::testing::Values(THostileCase{"BadMagic", 0, 0x950412df},
                                           THostileCase{"HugeCount", 8, 0xffffffff},
                                           THostileCase{"CountPastTables", 8, 12},
                                           THostileCase{"OriginalsPastEnd", 12, 0xfffffff0},
                                           THostileCase{"OriginalsTableCut", 12, 100},
                                           THostileCase{"TranslationsPastEnd", 16, 0xffffffff},
                                           THostileCase{"LengthWraps", 28 + 8, 0xffffffff},
                                           THostileCase{"OffsetWraps", 28 + 12, 0xfffffffe},
                                           THostileCase{"LengthPastEnd", 44 + 8, 200},
                                           THostileCase{"OffsetPastEnd", 44 + 12, 120},
                                           THostileCase{"LengthPlusOffsetPastEnd", 44 + 0, 60}),
                         [](const auto& param) { return std::string(param.param.Name); });

TEST(MoFile, TooShortOrForeignFilesAreInvalid) {
    for (const std::string& bytes :
         {std::string(), std::string("\xde\x12\x04\x95", 4), std::string(19, '\0'),
          std::string("msgid \"\"\nmsgstr \"\"\n")}) {
        EXPECT_EQ(ErrorOf([&] { TMoFile::Parse(bytes, "p"); }),
                  "This file is not a valid GNU gettext mo file: p");
    }
}

TEST(MoFile, UnsortedTablesStillFindEveryEntryFirstDuplicateWins) {
    for (const bool big : {false, true}) {
        const TMoFile file =
            TMoFile::Parse(MakeMo({{"zebra", "Z"},
                                   {"", "Content-Type: text/plain; charset=utf-8\n"},
                                   {"apple", "A"},
                                   {"mango", "M1"},
                                   {"Mango", "M0"},
                                   {"mango", "M2"}},
                                  big),
                           "u");
        EXPECT_EQ(file.Lookup("zebra"), "Z");
        EXPECT_EQ(file.Lookup("apple"), "A");
        EXPECT_EQ(file.Lookup("mango"), "M1");
        EXPECT_EQ(file.Lookup("Mango"), "M0");
        EXPECT_TRUE(file.HasUtf8Charset());
    }
}

TEST(MoFile, OriginalsCompareByUnsignedBytes) {
    // msgfmt sorts "\xc3..." after ASCII; a signed comparison would miss one of these.
    const TMoFile file =
        TMoFile::Parse(MakeMo({{"A", "1"}, {"z", "2"}, {"\xc3\x81", "3"}, {"\xff", "4"}}), "b");
    EXPECT_EQ(file.Lookup("A"), "1");
    EXPECT_EQ(file.Lookup("z"), "2");
    EXPECT_EQ(file.Lookup("\xc3\x81"), "3");
    EXPECT_EQ(file.Lookup("\xff"), "4");
}

TEST(MoFile, TranslationsComeOutAsUtf8) {
    const TMoFile file = TMoFile::Parse(MakeMo({{"bad", "a\xff"
                                                        "b\xc3"},
                                                {"good", "Čekám"},
                                                {"\xff", "key may be anything"}}),
                                        "u");
    EXPECT_EQ(file.Lookup("bad"), "a\xef\xbf\xbd"
                                  "b\xef\xbf\xbd");
    EXPECT_EQ(file.Lookup("good"), "Čekám");
    EXPECT_EQ(file.Lookup("\xff"), "key may be anything");
}

TEST(MoFile, CharsetCheckReadsTheContentTypeLine) {
    struct TRow {
        std::string Header;
        bool Utf8;
    };
    for (const auto& [header, utf8] : std::vector<TRow>{
             {"Content-Type: text/plain; charset=UTF-8\n", true},
             {"MIME-Version: 1.0\ncontent-TYPE: text/plain; CHARSET=utf-8", true},
             {"Content-Type: text/plain; charset=ISO-8859-2\n", false},
             {"Content-Type: text/plain; charset=utf8\n", false},
             {"X-Note: charset=UTF-8\nContent-Type: text/plain\n", false},
             {"", false},
         }) {
        EXPECT_EQ(TMoFile::Parse(MakeMo({{"", header}}), "h").HasUtf8Charset(), utf8) << header;
    }
    EXPECT_FALSE(TMoFile::Parse(MakeMo({{"a", "b"}}), "h").HasUtf8Charset());
}

TEST(MoFile, LoadNamesThePathInItsFailures) {
    TTempDir dir;
    WriteFile(dir / "text.mo", "not a catalogue at all, just some text");
    std::filesystem::create_directories(dir / "folder.mo");
    EXPECT_EQ(ErrorOf([&] { TMoFile::Load(dir / "missing.mo"); }),
              "Cannot open file " + (dir / "missing.mo"));
    EXPECT_EQ(ErrorOf([&] { TMoFile::Load(dir / "folder.mo"); }),
              "Cannot open file " + (dir / "folder.mo"));
    EXPECT_EQ(ErrorOf([&] { TMoFile::Load(dir / "text.mo"); }),
              "This file is not a valid GNU gettext mo file: " + (dir / "text.mo"));
}

} // namespace
} // namespace qrv::test
