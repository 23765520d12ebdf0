#include "i18n/Archive.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

namespace qrv::test {
namespace {

using i18n::TArchive;
using i18n::TMemorySource;

TEST(ArchiveAppender, WritesTheLayoutTheReaderWalks) {
    TTempDir dir;
    const std::string exe = dir / "program";
    const std::string image = FakeExecutable();
    WriteFile(exe, image);
    WriteFile(dir / "a.mo", "first file");
    WriteFile(dir / "b.mo", std::string(300, 'b'));
    WriteFile(dir / "empty", "");
    const std::string longName = "locale\\" + std::string(232 - 7, 'x');
    ASSERT_EQ(Embed(exe, {{"locale\\cs\\LC_MESSAGES\\default.mo", dir / "a.mo"},
                          {"Locale\\EN\\lc_messages\\default.mo", dir / "b.mo"},
                          {"empty", dir / "empty"},
                          {longName, dir / "a.mo"}}),
              0);

    const std::string bytes = ReadFile(exe);
    const std::int64_t table = ArchiveOffsetIn(exe);
    // The image stays as it was apart from the offset; files follow it directly; the table
    // starts on a multiple of 256 and ends with 8 zero bytes, the last of the file.
    const std::size_t slot = image.find("6637DB2E-62E1-4A60-AC19-C23867046A89") + 36;
    EXPECT_EQ(bytes.compare(0, slot, image, 0, slot), 0);
    EXPECT_EQ(bytes.compare(slot + 8, image.size() - slot - 8, image, slot + 8), 0);
    EXPECT_EQ(bytes.compare(image.size(), 10, "first file"), 0);
    EXPECT_EQ(table % 256, 0);
    EXPECT_EQ(static_cast<std::size_t>(table),
              image.size() + 10 + 300 + 0 + 10 + (256 - (image.size() + 320) % 256) % 256);
    EXPECT_EQ(bytes.size(), static_cast<std::size_t>(table) + 4 * 256 + 8);
    EXPECT_EQ(bytes.substr(bytes.size() - 8), std::string(8, '\0'));
    EXPECT_EQ(bytes.substr(static_cast<std::size_t>(table) + 24 + 32, 200), std::string(200, ' '));

    const TArchive archive = TArchive::ReadFile(exe, table);
    ASSERT_EQ(archive.Entries().size(), 4u);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"locale\\cs\\LC_MESSAGES\\default.mo", "first file"},
        {"Locale\\EN\\lc_messages\\default.mo", std::string(300, 'b')},
        {"empty", ""},
        {longName, "first file"}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const auto& entry = archive.Entries()[i];
        EXPECT_EQ(entry.Name, expected[i].first);
        std::string content;
        ASSERT_TRUE(i18n::ReadArchiveEntry(exe, entry, content));
        EXPECT_EQ(content, expected[i].second);
    }
    // Names are found in any letter case, with either kind of separator.
    EXPECT_EQ(archive.Find("LOCALE/en/LC_MESSAGES/DEFAULT.MO"), &archive.Entries()[1]);
    EXPECT_EQ(archive.Find("locale\\cs\\LC_MESSAGES\\default.mo"), &archive.Entries()[0]);
    EXPECT_EQ(archive.Find("locale/de/LC_MESSAGES/default.mo"), nullptr);
}

TEST(ArchiveAppender, RefusesImagesItCannotMarkUnambiguously) {
    const std::string sig = "6637DB2E-62E1-4A60-AC19-C23867046A89";
    struct TRow {
        const char* Name;
        std::string Image;
    };
    for (const auto& [name, image] : std::vector<TRow>{
             {"NoSignature", "just bytes"},
             {"SignatureCutShort", "xx" + sig + std::string(7, '\0')},
             {"TwoSignatures", sig + std::string(8, '\0') + sig + std::string(8, '\0')},
             {"AlreadyEmbedded", sig + "\x10" + std::string(7, '\0')},
         }) {
        TTempDir dir;
        WriteFile(dir / "program", image);
        WriteFile(dir / "a.mo", "abc");
        EXPECT_NE(Embed(dir / "program", {{"a", dir / "a.mo"}}), 0) << name;
        EXPECT_EQ(ReadFile(dir / "program"), image) << name;
    }
    TTempDir dir;
    WriteFile(dir / "program", FakeExecutable());
    EXPECT_NE(Embed(dir / "program", {{"a", dir / "missing.mo"}}), 0);
    EXPECT_NE(Embed(dir / "program", {{std::string(233, 'n'), dir / "program"}}), 0);
    EXPECT_EQ(ReadFile(dir / "program"), FakeExecutable());
}

// Builds a table in memory: 256 bytes of file content, then entries at 256, 512, ...
struct TRawEntry {
    std::int64_t Next, Data, Size;
    std::string Name;
};

std::string RawArchive(const std::vector<TRawEntry>& entries, bool closed = true) {
    std::string bytes(256, 'F');
    const auto put = [&bytes](std::int64_t v) {
        for (int i = 0; i < 8; ++i) {
            bytes.push_back(static_cast<char>((static_cast<std::uint64_t>(v) >> (8 * i)) & 0xff));
        }
    };
    for (const auto& e : entries) {
        put(e.Next);
        put(e.Data);
        put(e.Size);
        std::string name = e.Name;
        name.resize(232, ' ');
        bytes += name;
    }
    if (closed) {
        put(0);
    }
    return bytes;
}

struct TWalkCase {
    const char* Name;
    std::vector<TRawEntry> Entries;
    std::int64_t First;
    std::vector<std::string> Expected; // names recorded
    bool Closed = true;
};

void PrintTo(const TWalkCase& c, std::ostream* os) {
    *os << c.Name;
}

class ArchiveWalk : public ::testing::TestWithParam<TWalkCase> {};

// A broken link ends the walk; an entry whose data lies outside the file is skipped alone.
TEST_P(ArchiveWalk, KeepsEveryEntryThatTheTableReachesWithItsDataInTheFile) {
    const TWalkCase& c = GetParam();
    const std::string bytes = RawArchive(c.Entries, c.Closed);
    const TArchive archive = TArchive::Read(TMemorySource(bytes), c.First);
    std::vector<std::string> names;
    for (const auto& e : archive.Entries()) {
        names.push_back(e.Name);
    }
    EXPECT_EQ(names, c.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Tables, ArchiveWalk,
    ::testing::Values(
        TWalkCase{"Good", {{512, 0, 10, "one"}, {768, 10, 20, "two"}}, 256, {"one", "two"}},
        TWalkCase{"NoArchive", {{512, 0, 10, "one"}}, 0, {}},
        TWalkCase{"NamesTrimmed",
                  {{512, 0, 1, "  \t\x01spaced\r\n"},
                   {768, 1, 1,
                    "\x7f"
                    "x y"}},
                  256,
                  {"spaced", "x y"}},
        TWalkCase{"NextBackwards", {{512, 0, 1, "one"}, {256, 0, 1, "two"}}, 256, {"one"}},
        TWalkCase{"NextToItself", {{256, 0, 1, "one"}}, 256, {}},
        TWalkCase{"NextInsideNumbers", {{256 + 23, 0, 1, "one"}}, 256, {}},
        TWalkCase{"NextPastFile", {{512, 0, 1, "one"}, {1 << 20, 0, 1, "two"}}, 256, {"one"}},
        TWalkCase{"NextNegative", {{-256, 0, 1, "one"}}, 256, {}},
        TWalkCase{"DataNegative",
                  {{512, 0, 1, "one"}, {768, -1, 1, "two"}, {1024, 2, 1, "three"}},
                  256,
                  {"one", "three"}},
        TWalkCase{"SizeNegative", {{512, 0, -5, "one"}, {768, 0, 1, "two"}}, 256, {"two"}},
        TWalkCase{"DataPastFile",
                  {{512, 0, 1, "one"}, {768, 5000, 1, "two"}, {1024, 2, 1, "three"}},
                  256,
                  {"one", "three"}},
        TWalkCase{"RangeWraps", {{512, 8, INT64_MAX, "one"}, {768, 0, 1, "two"}}, 256, {"two"}},
        TWalkCase{"FirstNegative", {{512, 0, 1, "one"}}, -256, {}},
        TWalkCase{"FirstPastFile", {{512, 0, 1, "one"}}, 4096, {}},
        TWalkCase{"FirstInsideLastEightBytes", {{512, 0, 1, "one"}}, 512 + 4, {}},
        TWalkCase{
            "UnclosedTable", {{512, 0, 1, "one"}, {768, 0, 1, "two"}}, 256, {"one", "two"}, false}),
    [](const auto& param) { return std::string(param.param.Name); });

TEST(Archive, MissingOrUnreadableFileGivesAnEmptyArchive) {
    TTempDir dir;
    EXPECT_TRUE(TArchive::ReadFile(dir / "missing", 256).Empty());
    EXPECT_TRUE(TArchive::ReadFile(dir.Path(), 256).Empty());
    WriteFile(dir / "short", "tiny");
    EXPECT_TRUE(TArchive::ReadFile(dir / "short", 256).Empty());
}

TEST(Archive, EntryReadFailsWhenTheFileShrankUnderIt) {
    TTempDir dir;
    WriteFile(dir / "program", FakeExecutable());
    WriteFile(dir / "a.mo", std::string(100, 'a'));
    ASSERT_EQ(Embed(dir / "program", {{"a", dir / "a.mo"}}), 0);
    const TArchive archive = TArchive::ReadFile(dir / "program", ArchiveOffsetIn(dir / "program"));
    ASSERT_EQ(archive.Entries().size(), 1u);
    std::filesystem::resize_file(dir / "program", FakeExecutable().size() + 50);
    std::string content;
    EXPECT_FALSE(i18n::ReadArchiveEntry(dir / "program", archive.Entries()[0], content));
}

TEST(Archive, ThisProgramCarriesNoArchive) {
    EXPECT_EQ(i18n::EmbeddedArchiveOffset(), 0);
}

} // namespace
} // namespace qrv::test
