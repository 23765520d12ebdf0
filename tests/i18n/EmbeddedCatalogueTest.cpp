// Runs a copy of a program that carries the shipped catalogues, with and without catalogues on
// disk beside it.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <sstream>

namespace qrv::test {
namespace {

enum class TProgram { Plain, StrippedAtLink, StrippedAfterEmbedding };

struct TProbeCase {
    const char* Name;
    TProgram Program;
    // Catalogues placed on disk beside the copy: language folder and .po header charset.
    std::vector<std::pair<std::string, std::string>> DiskCatalogues;
    std::vector<std::string> Args;
    std::vector<std::string> Expected;
};

void PrintTo(const TProbeCase& c, std::ostream* os) {
    *os << c.Name;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

class EmbeddedCatalogue : public ::testing::TestWithParam<TProbeCase> {};

TEST_P(EmbeddedCatalogue, Behaves) {
    const TProbeCase& c = GetParam();
    TTempDir dir;
    const std::string probe = dir / "probe";
    std::filesystem::copy_file(c.Program == TProgram::StrippedAtLink ? QRV_CATALOGUE_PROBE_STRIPPED
                                                                     : QRV_CATALOGUE_PROBE,
                               probe);
    std::filesystem::permissions(probe, std::filesystem::perms::owner_all);
    if (c.Program == TProgram::StrippedAfterEmbedding) {
        int stripped = -1;
        RunProgram(QRV_STRIP, {probe}, &stripped);
        ASSERT_EQ(stripped, 0);
    }
    for (const auto& [lang, charset] : c.DiskCatalogues) {
        CompileCatalogue(PoText({"Content-Type: text/plain; charset=" + charset},
                                {{"Waiting...", "disk " + lang}}),
                         dir / ("locale/" + lang + "/LC_MESSAGES/default.mo"));
    }
    int status = -1;
    const std::string out = RunProgram(probe, c.Args, &status);
    EXPECT_EQ(status, 0) << out;
    std::vector<std::string> expected = c.Expected;
    for (auto& line : expected) {
        if (const auto at = line.find("$DIR"); at != std::string::npos) {
            line.replace(at, 4, dir.Path());
        }
    }
    EXPECT_EQ(Lines(out), expected);
}

const std::string kCharsetNotice =
    "notice Localization problem: The translation for the language code de (in "
    "$DIR/locale/de/LC_MESSAGES/default.mo) does not have charset=utf-8 in its Content-Type. "
    "Translations are turned off.";

INSTANTIATE_TEST_SUITE_P(
    Probe, EmbeddedCatalogue,
    ::testing::Values(
        TProbeCase{"ListsShippedLanguages",
                   TProgram::Plain,
                   {},
                   {"--list"},
                   {"language cs", "language en"}},
        TProbeCase{"StrippedAtLinkStillCarriesThem",
                   TProgram::StrippedAtLink,
                   {},
                   {"--list", "--select", "cs", "Waiting..."},
                   {"language cs", "language en", "text Čekám..."}},
        // strip drops the appended part: the offset then points past the file's end.
        TProbeCase{"StrippedAfterEmbeddingLosesThemQuietly",
                   TProgram::StrippedAfterEmbedding,
                   {{"de", "UTF-8"}},
                   {"--list", "--select", "cs", "Waiting..."},
                   {"language de", "text Waiting..."}},
        TProbeCase{"Czech",
                   TProgram::Plain,
                   {},
                   {"--select", "cs", "Waiting...", "Processing %s...", "Completed with %s errors!",
                    "Save && use", "1 - On load error ", "Name"},
                   {"text Čekám...", "text Kontroluji %s...", "text Completed with %s errors!",
                    "text Uložit", "text 1 - Při chybě načtení", "text Name"}},
        TProbeCase{"CountryPartFallsBackToLanguage",
                   TProgram::Plain,
                   {},
                   // Archive names are compared without regard to letter case.
                   {"--select", "cs_CZ", "Waiting...", "--select", "CS", "Waiting..."},
                   {"text Čekám...", "text Čekám..."}},
        TProbeCase{"EnglishHoldsOnlyItsEntries",
                   TProgram::Plain,
                   {},
                   {"--select", "en", "Checking...", "Cancel", "--select", "cs", "Cancel"},
                   {"text Checking...", "text Cancel", "text Zrušit"}},
        TProbeCase{"LanguageWithoutCatalogueStaysEnglish",
                   TProgram::Plain,
                   {},
                   {"--select", "de", "Waiting...", "Cancel"},
                   {"text Waiting...", "text Cancel"}},
        TProbeCase{"DiskCatalogueListedFirst",
                   TProgram::Plain,
                   {{"de", "UTF-8"}},
                   {"--list", "--select", "de", "Waiting..."},
                   {"language de", "language cs", "language en", "text disk de"}},
        TProbeCase{"EmbeddedWinsOverDisk",
                   TProgram::Plain,
                   {{"cs", "UTF-8"}},
                   {"--list", "--select", "cs", "Waiting..."},
                   {"language cs", "language en", "text Čekám..."}},
        TProbeCase{"WrongCharsetTurnsTranslationOffForTheRun",
                   TProgram::Plain,
                   {{"de", "ISO-8859-1"}},
                   {"--select", "cs", "Waiting...", "--select", "de", "Waiting...", "--select",
                    "cs", "Waiting..."},
                   {"text Čekám...", kCharsetNotice, "text Waiting...", "text Waiting..."}}),
    [](const auto& param) { return std::string(param.param.Name); });

// A package upgrade replaces the program file while it runs; a language chosen afterwards still
// comes from the catalogues of the program that runs.
TEST(EmbeddedCatalogueUpgrade, ReplacedProgramFileKeepsTheCatalogues) {
    TTempDir dir;
    const std::string probe = dir / "probe";
    const std::string next = dir / "next";
    std::filesystem::copy_file(QRV_CATALOGUE_PROBE, probe);
    // The next version: another file whose archive lies elsewhere.
    std::filesystem::copy_file(QRV_CATALOGUE_PROBE_STRIPPED, next);
    std::filesystem::permissions(probe, std::filesystem::perms::owner_all);
    int status = -1;
    const std::string out = RunProgram(probe,
                                       {"--select", "en", "Waiting...", "--replace-self", next,
                                        "--select", "cs", "Waiting...", "Cancel", "--list"},
                                       &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(Lines(out), (std::vector<std::string>{"text Waiting...", "text Čekám...",
                                                    "text Zrušit", "language cs", "language en"}));
    EXPECT_FALSE(std::filesystem::exists(next)); // it did take the program's place
}

} // namespace
} // namespace qrv::test
