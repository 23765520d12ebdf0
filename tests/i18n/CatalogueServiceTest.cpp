#include "i18n/CatalogueService.h"

#include "TestSupport.h"
#include "platform/Error.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <thread>

namespace qrv::test {
namespace {

using i18n::TCatalogueService;
using i18n::TCatalogueSetup;

using TEntries = std::vector<std::pair<std::string, std::string>>;

std::string CataloguePath(const std::string& exeDir, const std::string& lang) {
    return exeDir + "/locale/" + lang + "/LC_MESSAGES/default.mo";
}

void DiskCatalogue(const std::string& exeDir, const std::string& lang, const TEntries& entries,
                   const std::vector<std::string>& header = kUtf8Header) {
    CompileCatalogue(PoText(header, entries), CataloguePath(exeDir, lang));
}

// A fake program beside exeDir carrying the given catalogues; returns the setup to read it.
TCatalogueSetup WithArchive(const TTempDir& work, const std::string& exeDir,
                            const std::vector<std::pair<std::string, TEntries>>& catalogues) {
    const std::string exe = work / "program";
    WriteFile(exe, FakeExecutable());
    std::vector<std::pair<std::string, std::string>> files;
    for (const auto& [name, entries] : catalogues) {
        const std::string mo = work / ("mo/" + std::to_string(files.size()) + ".mo");
        CompileCatalogue(PoText(kUtf8Header, entries), mo);
        files.emplace_back(name, mo);
    }
    if (Embed(exe, files) != 0) {
        throw std::runtime_error("qrv-embed failed");
    }
    return {exeDir, exe, ArchiveOffsetIn(exe), "C", ""};
}

std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const Error& e) {
        return e.what();
    }
    return "no error";
}

struct TLookupCase {
    const char* Name;
    const char* Language;
    std::string Text;
    std::string Expected;
};

void PrintTo(const TLookupCase& c, std::ostream* os) {
    *os << c.Name;
}

class CatalogueLookup : public ::testing::TestWithParam<TLookupCase> {
protected:
    static void SetUpTestSuite() {
        dir_ = new TTempDir;
        DiskCatalogue(dir_->Path(), "cs",
                      {{"Waiting...", "Čekám..."},
                       {"Line one\nLine two", "Řádek jedna\nŘádek dva"},
                       {"Kept", "a\r\nb"}});
        DiskCatalogue(dir_->Path(), "pt_BR", {{"Waiting...", "Aguardando (BR)..."}});
        DiskCatalogue(dir_->Path(), "pt", {{"Waiting...", "A aguardar..."}});
        // msgfmt refuses bytes that are not UTF-8; a catalogue from elsewhere may hold them.
        WriteFile(CataloguePath(dir_->Path(), "hu"),
                  MakeMo({{"", "Content-Type: text/plain; charset=UTF-8\n"},
                          {"Bad bytes", "ok \xff end"}}));
    }
    static void TearDownTestSuite() { delete dir_; }
    static TTempDir* dir_;
};

TTempDir* CatalogueLookup::dir_ = nullptr;

TEST_P(CatalogueLookup, FindsTheTranslation) {
    const TLookupCase& c = GetParam();
    TCatalogueService service({dir_->Path(), "", 0, "cs_CZ", ""});
    service.SelectLanguage(c.Language);
    EXPECT_EQ(service.TranslateText(c.Text), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CatalogueLookup,
    ::testing::Values(
        TLookupCase{"Exact", "cs", "Waiting...", "Čekám..."},
        TLookupCase{"CountryPartFallsBack", "cs_CZ", "Waiting...", "Čekám..."},
        TLookupCase{"StartUpLanguage", "", "Waiting...", "Čekám..."},
        TLookupCase{"WholeCodeFirst", "pt_BR", "Waiting...", "Aguardando (BR)..."},
        TLookupCase{"OtherCountry", "pt_PT", "Waiting...", "A aguardar..."},
        // Folder names on disk match without regard to case, as on the catalogues' own platform.
        TLookupCase{"DiskNamesIgnoreCase", "PT_BR", "Waiting...", "Aguardando (BR)..."},
        TLookupCase{"ListedNameFindsItsFolder", "pt_br", "Waiting...", "Aguardando (BR)..."},
        TLookupCase{"NoCatalogue", "de", "Waiting...", "Waiting..."},
        TLookupCase{"NoEntry", "cs", "Missing", "Missing"},
        TLookupCase{"NotCaseFolded", "cs", "waiting...", "waiting..."},
        TLookupCase{"CrLfFoundUnderLf", "cs", "Line one\r\nLine two", "Řádek jedna\r\nŘádek dva"},
        TLookupCase{"LfGetsCrLf", "cs", "Line one\nLine two", "Řádek jedna\r\nŘádek dva"},
        TLookupCase{"UntranslatedGetsCrLf", "cs", "Not\nhere\r\n", "Not\r\nhere\r\n"},
        TLookupCase{"StrayCrsRemoved", "cs", "Wait\ring...", "Čekám..."},
        TLookupCase{"CatalogueCrLfNotDoubled", "cs", "Kept", "a\r\nb"},
        TLookupCase{"InvalidUtf8Replaced", "hu", "Bad bytes", "ok \xef\xbf\xbd end"}),
    [](const auto& param) { return std::string(param.param.Name); });

TEST(CatalogueService, EmbeddedCatalogueWinsAndNamesIgnoreCase) {
    TTempDir work;
    const std::string exeDir = work / "bin";
    DiskCatalogue(exeDir, "cs", {{"Waiting...", "disk"}, {"Only on disk", "disk only"}});
    TCatalogueService service(
        WithArchive(work, exeDir,
                    {{"locale\\cs\\LC_MESSAGES\\default.mo", {{"Waiting...", "embedded"}}},
                     {"LOCALE\\PT_BR\\lc_messages\\Default.mo", {{"Waiting...", "embedded BR"}}}}));
    service.SelectLanguage("cs");
    EXPECT_EQ(service.TranslateText("Waiting..."), "embedded");
    EXPECT_EQ(service.TranslateText("Only on disk"), "Only on disk");
    service.SelectLanguage("pt_br");
    EXPECT_EQ(service.TranslateText("Waiting..."), "embedded BR");
    service.SelectLanguage("cs_CZ");
    EXPECT_EQ(service.TranslateText("Waiting..."), "embedded");
}

TEST(CatalogueService, OpensAtTheFirstLookupAfterEachSelection) {
    TTempDir dir;
    TCatalogueService service({dir.Path(), "", 0, "C", ""});
    service.SelectLanguage("de");
    DiskCatalogue(dir.Path(), "de", {{"Quit", "Beenden"}}); // arrives before the first lookup
    EXPECT_EQ(service.TranslateText("Quit"), "Beenden");
    DiskCatalogue(dir.Path(), "de", {{"Quit", "Ende"}}); // the open catalogue stays in use
    EXPECT_EQ(service.TranslateText("Quit"), "Beenden");

    service.SelectLanguage("fr");
    EXPECT_EQ(service.TranslateText("Quit"), "Quit");
    DiskCatalogue(dir.Path(), "fr", {{"Quit", "Quitter"}}); // failed: no new attempt...
    EXPECT_EQ(service.TranslateText("Quit"), "Quit");
    service.SelectLanguage("fr"); // ...until the language is selected again
    EXPECT_EQ(service.TranslateText("Quit"), "Quitter");
    service.SelectLanguage("de");
    EXPECT_EQ(service.TranslateText("Quit"), "Ende");
    EXPECT_EQ(service.CurrentLanguage(), "de");
}

TEST(CatalogueService, DamagedCatalogueFailsTheLookupThatOpensIt) {
    TTempDir work;
    const std::string exeDir = work / "bin";
    WriteFile(CataloguePath(exeDir, "de"), "this is no catalogue");
    TCatalogueService service(
        WithArchive(work, exeDir, {{"locale\\cs\\LC_MESSAGES\\default.mo", {{"a", "b"}}}}));

    service.SelectLanguage("de");
    EXPECT_EQ(ErrorOf([&] { service.TranslateText("Quit"); }),
              "This file is not a valid GNU gettext mo file: " + CataloguePath(exeDir, "de"));
    EXPECT_EQ(service.TranslateText("Quit"), "Quit");
    service.SelectLanguage("de_AT");
    EXPECT_EQ(ErrorOf([&] { service.TranslateText("Quit"); }),
              "This file is not a valid GNU gettext mo file: " + CataloguePath(exeDir, "de"));

    // The program file lost its appended part after the archive was read.
    std::filesystem::resize_file(work / "program", FakeExecutable().size());
    service.SelectLanguage("cs");
    EXPECT_EQ(ErrorOf([&] { service.TranslateText("a"); }),
              "Cannot open file " + CataloguePath(exeDir, "cs"));
    EXPECT_EQ(service.TranslateText("a"), "a");
    EXPECT_FALSE(service.TranslationOff());
}

TEST(CatalogueService, CatalogueWithoutUtf8TurnsTranslationOffForGood) {
    TTempDir dir;
    DiskCatalogue(dir.Path(), "cs", {{"Quit", "Ukončit"}});
    DiskCatalogue(dir.Path(), "sk", {{"Quit", "Koniec"}},
                  {"Content-Type: text/plain; charset=ISO-8859-2"});
    TCatalogueService service({dir.Path(), "", 0, "C", ""});
    std::vector<std::pair<std::string, std::string>> notices;
    service.SetNotifier([&](const std::string& caption, const std::string& text) {
        notices.emplace_back(caption, text);
    });
    service.SelectLanguage("cs");
    EXPECT_EQ(service.TranslateText("Quit"), "Ukončit");
    service.SelectLanguage("sk_SK");
    EXPECT_EQ(service.TranslateText("Quit\r\n"), "Quit\r\n");
    EXPECT_TRUE(service.TranslationOff());
    service.SelectLanguage("cs");
    EXPECT_EQ(service.TranslateText("Quit"), "Quit");
    EXPECT_EQ(service.TranslatePlural("Quit", "Quits", 2), "Quits");
    service.SelectLanguage("sk");
    EXPECT_EQ(service.TranslateText("Quit\n"), "Quit\n"); // untouched while off
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"Localization problem",
         "The translation for the language code sk_SK (in " + CataloguePath(dir.Path(), "sk") +
             ") does not have charset=utf-8 in its Content-Type. Translations are turned off."}};
    EXPECT_EQ(notices, expected);
}

TEST(CatalogueService, PluralFormsFollowTheLanguageRule) {
    TTempDir dir;
    const std::string forms = "\nmsgid \"%s error\"\nmsgid_plural \"%s errors\"\n"
                              "msgstr[0] \"%s chyba\"\nmsgstr[1] \"%s chyby\"\n"
                              "msgstr[2] \"%s chyb\"\n"
                              "\nmsgid \"day\"\nmsgid_plural \"days\"\n"
                              "msgstr[0] \"den\"\nmsgstr[1] \"dny\"\n";
    CompileCatalogue(PoText(kUtf8Header, {}) + forms, CataloguePath(dir.Path(), "cs"));
    CompileCatalogue(PoText(kUtf8Header, {}) + forms, CataloguePath(dir.Path(), "de"));
    TCatalogueService service({dir.Path(), "", 0, "C", ""});
    struct TRow {
        const char* Language;
        std::string Singular, Plural;
        std::int32_t N;
        std::string Expected;
    };
    for (const auto& row : std::vector<TRow>{
             {"cs", "%s error", "%s errors", 1, "%s chyba"},
             {"cs", "%s error", "%s errors", 3, "%s chyby"},
             {"cs", "%s error", "%s errors", 5, "%s chyb"},
             {"cs", "%s error", "%s errors", 0, "%s chyb"},
             {"cs", "%s error", "%s errors", -4, "%s chyby"},
             {"cs", "%s error", "%s errors", INT32_MIN, "%s chyb"},
             {"cs", "day", "days", 7, "dny"}, // fewer forms than the rule: the last one
             {"cs", "Completed with %s error!", "Completed with %s errors!", 3,
              "Completed with %s errors!"},
             {"cs", "Completed with %s error!", "Completed with %s errors!", -1,
              "Completed with %s error!"},
             {"cs", "Completed with %s error!", "Completed with %s errors!", 0,
              "Completed with %s errors!"},
             {"de", "%s error", "%s errors", 1, "%s chyba"},
             {"de", "%s error", "%s errors", 4, "%s chyby"},
             {"de", "%s error", "%s errors", 0, "%s chyby"},
         }) {
        service.SelectLanguage(row.Language);
        EXPECT_EQ(service.TranslatePlural(row.Singular, row.Plural, row.N), row.Expected)
            << row.Language << " " << row.Singular << " " << row.N;
    }
}

TEST(CatalogueService, ListsDiskFoldersThenArchiveNames) {
    TTempDir work;
    const std::string exeDir = work / "bin";
    DiskCatalogue(exeDir, "de", {{"a", "b"}});
    DiskCatalogue(exeDir, "FR", {{"a", "b"}});
    DiskCatalogue(exeDir, "cs", {{"a", "b"}});
    std::filesystem::create_directories(exeDir + "/locale/it/LC_MESSAGES"); // no catalogue
    // The per-user data folder of an installed copy adds its own; beside the executable wins.
    const std::string dataDir = work / "data";
    DiskCatalogue(dataDir, "nl", {{"a", "nl-b"}});
    DiskCatalogue(dataDir, "cs", {{"a", "data-b"}});
    TCatalogueSetup setup = WithArchive(work, exeDir,
                                        {{"LOCALE\\SK\\lc_messages\\DEFAULT.MO", {{"a", "b"}}},
                                         {"locale\\pt_br\\LC_MESSAGES\\default.mo", {{"a", "b"}}},
                                         {"locale\\cs\\LC_MESSAGES\\default.mo", {{"a", "b"}}},
                                         {"locale\\LC_MESSAGES\\default.mo", {{"a", "b"}}},
                                         {"resources\\cs\\LC_MESSAGES\\default.mo", {{"a", "b"}}},
                                         {"locale\\en\\LC_MESSAGES\\other.mo", {{"a", "b"}}}});
    setup.DataDir = dataDir;
    TCatalogueService service(setup);
    const std::vector<std::string> list = service.ListLanguages();
    ASSERT_EQ(list.size(), 6u);
    EXPECT_EQ(std::set<std::string>(list.begin(), list.begin() + 3),
              (std::set<std::string>{"cs", "de", "fr"}));
    EXPECT_EQ(std::vector<std::string>(list.begin() + 3, list.end()),
              (std::vector<std::string>{"nl", "pt_BR", "sk"}));
    service.SelectLanguage("nl");
    EXPECT_EQ(service.TranslateText("a"), "nl-b");
    service.SelectLanguage("cs");
    EXPECT_EQ(service.TranslateText("a"), "b");

    TTempDir empty;
    EXPECT_TRUE(TCatalogueService({empty.Path(), "", 0, "C", ""}).ListLanguages().empty());
}

TEST(CatalogueService, StartUpLanguageFromTheEnvironment) {
    struct TRow {
        const char *Lang, *LcAll, *LcMessages, *Expected;
    };
    for (const auto& row : std::vector<TRow>{
             {"cs_CZ.UTF-8", "de_DE.UTF-8", "", "cs_CZ"},
             {"de", "", "", "de"},
             {"C.UTF-8", "", "", "C"},
             {"sr_RS@latin", "", "", "sr_RS@latin"},
             {"", "de_AT.UTF-8@euro", "fr_FR", "de_AT"},
             {"", "POSIX", "fr_FR", "C"},
             {"", "", "no_NO.UTF-8", "nb_NO"},
             {"", "", "sr_RS@latin", "sr_RS"},
             {"", "", "ast_ES.UTF-8", "ast_ES"},
             {"", "", "en", "en"},
             {"", "", "english", "C"},
             {"", "", "de_de", "C"},
             {"", "", "", "C"},
         }) {
        EXPECT_EQ(i18n::StartupLanguage(row.Lang, row.LcAll, row.LcMessages), row.Expected)
            << row.Lang << "|" << row.LcAll << "|" << row.LcMessages;
    }
}

TEST(CatalogueService, LookupsRaceWithLanguageChanges) {
    TTempDir dir;
    DiskCatalogue(dir.Path(), "cs", {{"Waiting...", "Čekám..."}});
    DiskCatalogue(dir.Path(), "de", {{"Waiting...", "Warte..."}});
    TCatalogueService service({dir.Path(), "", 0, "C", ""});
    std::atomic<bool> done{false};
    std::atomic<int> bad{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < 2; ++t) {
        workers.emplace_back([&] {
            const std::set<std::string> valid = {"Čekám...", "Warte...", "Waiting..."};
            while (!done.load()) {
                if (!valid.count(service.TranslateText("Waiting...")) ||
                    service.TranslatePlural("Waiting...", "x", 1).empty()) {
                    ++bad;
                }
            }
        });
    }
    const char* languages[] = {"cs", "de", "fr", "cs_CZ", ""};
    for (int i = 0; i < 2000; ++i) {
        service.SelectLanguage(languages[i % 5]);
        service.TranslateText("Waiting...");
    }
    done = true;
    for (auto& w : workers) {
        w.join();
    }
    EXPECT_EQ(bad.load(), 0);
    service.SelectLanguage("de");
    EXPECT_EQ(service.TranslateText("Waiting..."), "Warte...");
}

} // namespace
} // namespace qrv::test
