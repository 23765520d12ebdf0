// Check runs under a msgfmt-built catalogue: which texts are looked up, which stay as they
// are, and what a damaged translation does to a run.

#include "CheckRunFixture.h"

#include "i18n/CatalogueService.h"
#include "i18n/Translate.h"
#include "platform/CodePage.h"
#include "platform/Paths.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <utility>

namespace qrv::engine::testing {
namespace {

// Makes a catalogue of the given entries the process's current language ("xq") for the life
// of the object, then goes back to the catalogues beside the test program (none: English).
class TTestCatalogue {
public:
    explicit TTestCatalogue(const std::string& entries) {
        std::string tmpl = (std::filesystem::temp_directory_path() / "qrv-check-XXXXXX").string();
        if (::mkdtemp(tmpl.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        dir_ = tmpl;
        const std::string po = dir_ + "/default.po";
        const std::string moDir = dir_ + "/locale/xq/LC_MESSAGES";
        std::filesystem::create_directories(moDir);
        std::ofstream(po, std::ios::binary)
            << "msgid \"\"\nmsgstr \"\"\n"
               "\"Content-Type: text/plain; charset=UTF-8\\n\"\n"
               "\"Plural-Forms: nplurals=2; plural=(n != 1);\\n\"\n\n"
            << entries;
        const std::string command = "msgfmt -o '" + moDir + "/default.mo' '" + po + "' 2>&1";
        if (std::system(command.c_str()) != 0) {
            throw std::runtime_error("msgfmt failed");
        }
        i18n::ReplaceCatalogueService({dir_, "", 0, "en", ""});
        i18n::SelectLanguage("xq");
    }

    ~TTestCatalogue() {
        i18n::ReplaceCatalogueService({platform::ExecutableDir(), "", 0, "en", ""});
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    TTestCatalogue(const TTestCatalogue&) = delete;
    TTestCatalogue& operator=(const TTestCatalogue&) = delete;

private:
    std::string dir_;
};

std::string Entry(const std::string& id, const std::string& text) {
    return "msgid \"" + id + "\"\nmsgstr \"" + text + "\"\n\n";
}

std::string PluralEntry(const std::string& one, const std::string& other) {
    return "msgid \"Completed with %s error!\"\nmsgid_plural \"Completed with %s errors!\"\n"
           "msgstr[0] \"" +
           one + "\"\nmsgstr[1] \"" + other + "\"\n\n";
}

TEST(CheckRunTranslation, MarkedTextsAreLookedUpAndTheOthersStayAsTheyAre) {
    const TTestCatalogue catalogue(
        Entry("Checking...", "Kontroluji...") +
        Entry("Verifying connection...", "Ov\xc4\x9b\xc5\x99uji spojen\xc3\xad...") +
        Entry("Processing %s...", "Zpracov\xc3\xa1v\xc3\xa1m %s...") +
        Entry("Unable to load '%s'. Error: %s", "Nelze na\xc4\x8d\xc3\xadst '%s'. Chyba: %s") +
        Entry("Load error", "Chyba na\xc4\x8dten\xc3\xad") +
        Entry("Unable to load '%s'", "Nelze na\xc4\x8d\xc3\xadst '%s'") +
        Entry("Wrong response '%s': %s", "\xc5\xa0patn\xc3\xa1 odpov\xc4\x9b\xc4\x8f '%s': %s") +
        Entry("Response error", "Chyba odpov\xc4\x9b"
                                "di") +
        Entry("Slow load", "Pomal\xc3\xa9 na\xc4\x8dten\xc3\xad") +
        Entry("Slow load '%s'. Load time %sms.", "Pomal\xc3\xa9 '%s'. Doba %sms.") +
        Entry("Slow load '%s'", "Pomal\xc3\xa9 '%s'") +
        Entry("Completed with problems detected.", "Dokon\xc4\x8d"
                                                   "eno s probl\xc3\xa9my.") +
        PluralEntry("Hotovo s %s chybou!", "Hotovo s %s chybami!") +
        // Never looked up: prefixes, "OK", status codes and categories.
        Entry("OK", "V po\xc5\x99\xc3\xa1"
                    "dku") +
        Entry("Unable to load: ", "Nelze: ") + Entry("Wrong response: ", "\xc5\xa0patn\xc4\x9b: ") +
        Entry("CHECK", "KONTROLA") + Entry("ERR_LOAD", "CHYBA") + Entry("error", "chyba") +
        Entry("system", "syst\xc3\xa9m"));

    // A western locale's code page (1252): the list holds the Czech texts whole all the same.
    const int codePage = platform::AnsiCodePage();
    platform::SetAnsiCodePage(1252);
    TCheckBench t;
    t.Page("/ok", 200, "hello");
    t.Page("/wrong", 200, "other");
    t.Page("/slow", 200, "page");
    t.AddServers({{"a", t.server.Url("/ok")},
                  {"b", t.server.Url("/missing")},
                  {"c", t.server.Url("/slow"), true, true, -1},
                  {"d", t.server.Url("/wrong"), true, false, 0, true, "hello"}});
    t.SetConfig([](TRunConfig& c) { c.BalloonLevel = 3; });
    t.Watch();
    t.RunOnce();

    EXPECT_EQ(t.view.EventsStartingWith("post "),
              (TEvents{"post a CHECK | Kontroluji... | -1", "post a OK | OK | 7",
                       "post b CHECK | Kontroluji... | -1",
                       "post b ERR_LOAD | Unable to load: HTTP/1.1 404 Not Found | -1",
                       "post c CHECK | Kontroluji... | -1",
                       "post c ERR_SLOW | Pomal\xc3\xa9 na\xc4\x8dten\xc3\xad | 7",
                       "post d CHECK | Kontroluji... | -1",
                       "post d ERR_RESP | Wrong response: other | 7"}));
    EXPECT_EQ(t.view.EventsStartingWith("log "),
              (TEvents{"log system Kontroluji...",
                       "log error Nelze na\xc4\x8d\xc3\xadst 'b'. Chyba: HTTP/1.1 404 Not Found",
                       "log error Pomal\xc3\xa9 'c'. Doba 7ms.",
                       "log error \xc5\xa0patn\xc3\xa1 odpov\xc4\x9b\xc4\x8f 'd': other",
                       "log error Dokon\xc4\x8d"
                       "eno s probl\xc3\xa9my."}));
    EXPECT_EQ(
        t.view.EventsStartingWith("balloon "),
        (TEvents{"balloon Chyba na\xc4\x8dten\xc3\xad | Nelze na\xc4\x8d\xc3\xadst 'b' | 5 | "
                 "error",
                 "balloon Pomal\xc3\xa9 na\xc4\x8dten\xc3\xad | Pomal\xc3\xa9 'c' | 5 | error",
                 "balloon Chyba odpov\xc4\x9b"
                 "di | \xc5\xa0patn\xc3\xa1 odpov\xc4\x9b\xc4\x8f "
                 "'d': other | 5 | error"}));
    EXPECT_EQ(
        t.view.EventsStartingWith("status "),
        (TEvents{"status Ov\xc4\x9b\xc5\x99uji spojen\xc3\xad...",
                 "status Zpracov\xc3\xa1v\xc3\xa1m a...", "status Zpracov\xc3\xa1v\xc3\xa1m b...",
                 "status Zpracov\xc3\xa1v\xc3\xa1m c...", "status Zpracov\xc3\xa1v\xc3\xa1m d...",
                 "status Hotovo s 3 chybami!"}));
    platform::SetAnsiCodePage(codePage);
}

TEST(CheckRunTranslation, DamagedTranslationBreaksTheRunOffQuietly) {
    struct Case {
        const char* name;
        std::string entry;
        const char* statusA; // "a" fails to load, "b" is slow
        const char* statusB;
        bool bFetched;
        bool outcomeBegun;
    };
    const Case cases[] = {
        {"two placeholders for one name",
         Entry("Processing %s...", "Zpracov\xc3\xa1v\xc3\xa1m %s a %s..."), "", "", false, false},
        {"another conversion", Entry("Unable to load '%s'. Error: %s", "Chyba %d: %s"), "", "",
         false, false},
        {"a placeholder too few", Entry("Slow load '%s'. Load time %sms.", "Pomal\xc3\xa9 '%s'."),
         "ERR_LOAD", "", true, false},
        {"a lone percent sign", Entry("Unable to load '%s'", "100% '%s'"), "", "", false, false},
        {"count text", PluralEntry("Hotovo %d", "Hotovo %d"), "ERR_LOAD", "ERR_SLOW", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TTestCatalogue catalogue(c.entry);
        TCheckBench t;
        t.Page("/b", 200, "page");
        t.AddServers({{"a", t.server.Url("/missing")}, {"b", t.server.Url("/b"), true, true, -1}});
        t.SetConfig([](TRunConfig& cfg) { cfg.BalloonLevel = 3; });
        t.Watch();
        t.RunOnce();

        const TEvents events = t.view.Events();
        ASSERT_GE(events.size(), 8u);
        EXPECT_EQ(TEvents(events.end() - 8, events.end()), RunClose(true));
        EXPECT_EQ(t.Record("a").Status, c.statusA);
        EXPECT_EQ(t.Record("b").Status, c.statusB);
        EXPECT_EQ(t.view.EventsStartingWith("fetch /b").size(), c.bFetched ? 1u : 0u);
        EXPECT_EQ(t.view.EventsStartingWith("warning").size(), c.outcomeBegun ? 1u : 0u);
        EXPECT_TRUE(t.view.EventsStartingWith("semafor ").empty()) << "the outcome never ends";
        EXPECT_EQ(t.ListState(), TServerList::TState::Browse);
    }
}

} // namespace
} // namespace qrv::engine::testing
