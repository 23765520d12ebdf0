#include "CheckRunFixture.h"

#include "platform/CodePage.h"
#include "platform/Error.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

namespace qrv::engine::testing {
namespace {

using test::UnusedLoopbackPort;

std::string RefusedUrl() {
    return "http://127.0.0.1:" + std::to_string(UnusedLoopbackPort()) + "/";
}

// The per-server effects up to the judgement: "CHECK" posted before the fetch.
TEvents Check(const std::string& name, const std::string& path, std::int32_t loadTime) {
    TEvents e = {"post " + name + " CHECK | Checking... | " + std::to_string(loadTime),
                 "status Processing " + name + "..."};
    if (!path.empty()) {
        e.push_back("fetch " + path);
    }
    e.push_back("pause 500");
    return e;
}

// A server that loads and is accepted.
TEvents CheckOk(const std::string& name, const std::string& path, std::int32_t before,
                std::int32_t after) {
    TEvents e = Check(name, path, before);
    Append(e, {"pause 500", "post " + name + " OK | OK | " + std::to_string(after)});
    return e;
}

TEST(CheckRun, MixedListHasEveryEffectInOrder) {
    TCheckBench t;
    t.Page("/ok", 200, "hello");
    t.Page("/missing", 404, "gone");
    t.Page("/wrong", 200, "other");
    t.Page("/slow", 200, "slow page");
    t.Page("/inactive", 200, "never fetched");
    // Added out of order: the walk goes by Name.
    t.AddServers({
        {"e-slow", t.server.Url("/slow"), true, true, 6},
        {"a-ok", t.server.Url("/ok"), true, true, 7}, // 7 ms is not more than 7
        {"c-inactive", t.server.Url("/inactive"), false, false, 0, false, "", 42},
        {"b-missing", t.server.Url("/missing"), true, false, 0, false, "", 250},
        {"d-wrong", t.server.Url("/wrong"), true, false, 0, true, "hello"},
        {"f-refused", RefusedUrl()},
    });
    t.SetConfig([](TRunConfig& c) { c.BalloonLevel = 3; });
    t.errors = 99;
    t.Watch();
    t.RunOnce();

    const std::string refused = "Socket Error # 10061\r\nConnection refused.";
    TEvents expected = RunStart(true);
    Append(expected, CheckOk("a-ok", "/ok", -1, 7));
    Append(expected, Check("b-missing", "/missing", 250));
    Append(expected, {"log error Unable to load 'b-missing'. Error: HTTP/1.1 404 Not Found",
                      "balloon Load error | Unable to load 'b-missing' | 5 | error", "pause 500",
                      "post b-missing ERR_LOAD | Unable to load: HTTP/1.1 404 Not Found | 250"});
    Append(expected, Check("d-wrong", "/wrong", -1));
    Append(expected, {"log error Wrong response 'd-wrong': other",
                      "balloon Response error | Wrong response 'd-wrong': other | 5 | error",
                      "pause 500", "post d-wrong ERR_RESP | Wrong response: other | 7"});
    Append(expected, Check("e-slow", "/slow", -1));
    Append(expected, {"log error Slow load 'e-slow'. Load time 7ms.",
                      "balloon Slow load | Slow load 'e-slow' | 5 | error", "pause 500",
                      "post e-slow ERR_SLOW | Slow load | 7"});
    Append(expected, Check("f-refused", "", -1));
    Append(expected, {"log error Unable to load 'f-refused'. Error: " + refused,
                      "balloon Load error | Unable to load 'f-refused' | 5 | error", "pause 500",
                      "post f-refused ERR_LOAD | Unable to load: " + refused + " | -1"});
    expected.push_back("log error Completed with problems detected.");
    Append(expected, OutcomeProblems("Completed with 4 errors!"));
    Append(expected, RunClose(true));
    EXPECT_EQ(t.view.Events(), expected);

    EXPECT_EQ(t.errors, 4);
    EXPECT_EQ(t.Record("c-inactive"), (TRecordState{"", "Waiting...", 42}));
    EXPECT_EQ(t.Record("b-missing").LoadTime, 250); // kept on a load error
    EXPECT_EQ(t.Record("f-refused").LoadTime, -1);  // never loaded
    EXPECT_EQ(t.ListState(), TServerList::TState::Browse);
}

TEST(CheckRun, OfflineStationMarksEveryRecordWithoutFetching) {
    struct Case {
        const char* name;
        std::function<void(TCheckBench&)> arrange;
        bool fetchesVerify;
        std::int32_t balloonLevel;
    };
    const Case cases[] = {
        {"verify answers 500", [](TCheckBench& t) { t.Page("/verify", 500, "down"); }, true, 0},
        {"verify answers an empty page", [](TCheckBench& t) { t.Page("/verify", 200, ""); }, true,
         4},
        {"verify address refuses",
         [](TCheckBench& t) { t.SetConfig([](TRunConfig& c) { c.VerifyURL = RefusedUrl(); }); },
         false, 3},
        {"verify address is not http",
         [](TCheckBench& t) {
             t.SetConfig([](TRunConfig& c) { c.VerifyURL = "https://127.0.0.1/"; });
         },
         false, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TCheckBench t;
        t.Page("/a", 200, "fine");
        t.AddServers({{"a", t.server.Url("/a"), true, false, 0, false, "", 120},
                      {"b", t.server.Url("/a"), false}});
        t.SetConfig([&](TRunConfig& cfg) { cfg.BalloonLevel = c.balloonLevel; });
        c.arrange(t);
        t.errors = 7;
        t.Watch();
        t.RunOnce();

        TEvents expected = RunStart(false);
        expected.push_back("status Verifying connection...");
        if (c.fetchesVerify) {
            expected.push_back("fetch /verify");
        }
        expected.push_back("log error Stopped! Probably offline.");
        Append(expected, {"tray 2", "semaforhint " + kOfflineHint});
        if (c.balloonLevel > 3) {
            Append(expected,
                   {"trayhint " + kOfflineHint,
                    "balloon Offline | Unable to check servers. You are probably offline. | 5 | "
                    "warning"});
        }
        // Inactive records too; load times stay; no pauses.
        Append(expected,
               {"status Offline!", "semafor 2", "post a OFFLINE | Unable to check server. | 120",
                "post b OFFLINE | Unable to check server. | -1"});
        Append(expected, RunClose(true));
        EXPECT_EQ(t.view.Events(), expected);
        EXPECT_EQ(t.errors, 7); // an offline run leaves the count alone
        EXPECT_EQ(t.server.RequestCount(), c.fetchesVerify ? 1u : 0u);
    }
}

TEST(CheckRun, VerifyStepSwitchedOffFetchesNothingAndIsOnline) {
    TCheckBench t;
    t.Page("/a", 200, "fine");
    t.AddServers({{"a", t.server.Url("/a")}});
    t.SetConfig([](TRunConfig& c) {
        c.VerifyEnabled = false;
        c.VerifyURL = RefusedUrl(); // would make the run offline if it were fetched
    });
    t.Watch();
    t.RunOnce();

    TEvents expected = RunStart(false);
    Append(expected, CheckOk("a", "/a", -1, 7));
    Append(expected, OutcomeAllOk());
    expected.push_back("log ok Completed with no errors.");
    Append(expected, RunClose(true));
    EXPECT_EQ(t.view.Events(), expected);
    EXPECT_EQ(t.errors, 0);
}

TEST(CheckRun, ListsWithNothingToCheckEndAllOk) {
    struct Case {
        const char* name;
        std::vector<TServerSetup> servers;
    };
    const Case cases[] = {
        {"empty list", {}},
        {"only inactive servers", {{"x", "http://127.0.0.1:1/", false}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TCheckBench t;
        t.AddServers(c.servers);
        t.errors = 3;
        t.Watch();
        t.RunOnce();

        TEvents expected = RunStart(true);
        Append(expected, OutcomeAllOk());
        expected.push_back("log ok Completed with no errors.");
        // Edit, Delete, Activate and Deactivate only come back when there is a record.
        Append(expected, RunClose(!c.servers.empty()));
        EXPECT_EQ(t.view.Events(), expected);
        EXPECT_EQ(t.errors, 0);
    }
}

TEST(CheckRun, LoadTimeIsTheTickDifferenceComparedWithTheLimit) {
    struct Case {
        std::int32_t timeout;
        bool timeoutEnabled;
        std::uint32_t start;
        std::uint32_t end;
        const char* status;
        std::int32_t loadTime;
    };
    const Case cases[] = {
        {100, true, 1000, 1100, "OK", 100},       // equal to the limit is not slow
        {100, true, 1000, 1101, "ERR_SLOW", 101}, // one more is
        {100, true, 0xFFFFFFC0u, 36, "OK", 100},  // the counter wrapped during the load
        {100, true, 0xFFFFFFC0u, 37, "ERR_SLOW", 101},
        {0, true, 5, 5, "OK", 0},
        {-1, true, 5, 5, "ERR_SLOW", 0}, // a negative limit makes every load slow
        {2147483647, true, 0, 2147483647u, "OK", 2147483647},
        {10, false, 0, 5000000, "OK", 5000000}, // no limit: only recorded
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("timeout " + std::to_string(c.timeout) + ", ticks " + std::to_string(c.start) +
                     " to " + std::to_string(c.end));
        TCheckBench t;
        t.Page("/p", 200, "page");
        t.AddServers({{"s", t.server.Url("/p"), true, c.timeoutEnabled, c.timeout}});
        t.scriptedTicks = {c.start, c.end};
        t.Watch();
        t.RunOnce();
        const TRecordState r = t.Record("s");
        EXPECT_EQ(r.Status, c.status);
        EXPECT_EQ(r.LoadTime, c.loadTime);
        const TEvents slowLines = t.view.EventsStartingWith("log error Slow load");
        if (std::string(c.status) == "ERR_SLOW") {
            EXPECT_EQ(slowLines, TEvents{"log error Slow load 's'. Load time " +
                                         std::to_string(c.end - c.start) + "ms."});
            EXPECT_EQ(r.Result, "Slow load");
        } else {
            EXPECT_TRUE(slowLines.empty());
        }
    }
}

TEST(CheckRun, ResponseIsComparedWholeAndWinsOverTheLimit) {
    platform::SetAnsiCodePage(1252);
    const test::THeaderList utf8 = {{"Content-Type", "text/plain; charset=utf-8"}};
    struct Case {
        const char* name;
        std::string body;
        bool utf8Body;
        bool responseEnabled;
        std::string response;
        bool slow; // the limit is exceeded too
        const char* status;
        bool resultIsPage; // Result is "Wrong response: " and the page as it came
    };
    const std::vector<Case> cases = {
        {"equal", "hello", false, true, "hello", false, "OK", false},
        {"trailing line break", "hello\r\n", false, true, "hello", false, "ERR_RESP", false},
        {"letter case", "Hello", false, true, "hello", false, "ERR_RESP", true},
        {"merely contains", "say hello there", false, true, "hello", false, "ERR_RESP", true},
        {"empty expectation", "hello", false, true, "", false, "ERR_RESP", true},
        {"stored without its trailing blanks", "hello  ", false, true, "hello  ", false, "ERR_RESP",
         false},
        {"two lines", "one\r\ntwo", false, true, "one\r\ntwo", false, "OK", false},
        {"not compared", "anything", false, false, "hello", false, "OK", false},
        {"code page has it", "na\xc3\xafve", true, true, "na\xc3\xafve", false, "OK", false},
        // The list keeps every character whole, whatever the locale's code page (1252 here).
        {"beyond the code page", "\xd0\xb4\xd0\xb0", true, true, "\xd0\xb4\xd0\xb0", false, "OK",
         false},
        {"Czech under a western locale", "P\u0159ihl\u00e1\u0161en\u00ed", true, true,
         "P\u0159ihl\u00e1\u0161en\u00ed", false, "OK", false},
        {"emoji", "ok \U0001F600", true, true, "ok \U0001F600", false, "OK", false},
        {"wrong and slow", "other", false, true, "hello", true, "ERR_RESP", true},
        {"right but slow", "hello", false, true, "hello", true, "ERR_SLOW", false},
    };
    TCheckBench t;
    std::vector<TServerSetup> servers;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const std::string path = "/r" + std::to_string(i);
        t.Page(path, 200, cases[i].body, cases[i].utf8Body ? utf8 : test::THeaderList{});
        servers.push_back({"r" + std::to_string(i + 10), t.server.Url(path), true, cases[i].slow,
                           -1, cases[i].responseEnabled, cases[i].response});
    }
    t.AddServers(servers);
    t.Watch();
    t.RunOnce();

    std::int32_t failed = 0;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const TRecordState r = t.Record("r" + std::to_string(i + 10));
        EXPECT_EQ(r.Status, cases[i].status) << cases[i].name;
        if (cases[i].resultIsPage) {
            EXPECT_EQ(r.Result, "Wrong response: " + cases[i].body) << cases[i].name;
        }
        failed += r.Status != "OK";
    }
    EXPECT_EQ(t.errors, failed); // a server that fails twice counts once
    // A wrong response is not tested against the limit: one slow-load line only.
    EXPECT_EQ(t.view.EventsStartingWith("log error Slow load").size(), 1u);
    EXPECT_EQ(t.view.EventsStartingWith("status Completed with"),
              TEvents{"status Completed with " + std::to_string(failed) + " errors!"});
}

TEST(CheckRun, EmptySuccessfulPageIsALoadErrorWithEmptyText) {
    TCheckBench t;
    t.Page("/empty", 200, "");
    t.AddServers({{"e", t.server.Url("/empty"), true, false, 0, false, "", 33}});
    t.SetConfig([](TRunConfig& c) { c.BalloonLevel = 1; });
    t.Watch();
    t.RunOnce();
    // The list drops a text's trailing blanks when it stores it.
    EXPECT_EQ(t.Record("e"), (TRecordState{"ERR_LOAD", "Unable to load:", 33}));
    EXPECT_EQ(t.view.EventsStartingWith("log error Unable"),
              TEvents{"log error Unable to load 'e'. Error: "});
    EXPECT_EQ(t.view.EventsStartingWith("status Completed with"),
              TEvents{"status Completed with 1 error!"});
}

TEST(CheckRun, BalloonLevelDecidesWhichServerBalloonsAreShown) {
    const std::string load = "balloon Load error | Unable to load 'a' | 5 | error";
    const std::string resp = "balloon Response error | Wrong response 'b': other | 5 | error";
    const std::string slow = "balloon Slow load | Slow load 'c' | 5 | error";
    struct Case {
        std::int32_t level;
        TEvents balloons;
    };
    const Case cases[] = {
        {-1, {}},
        {0, {}},
        {1, {load}},
        {2, {load, resp}},
        {3, {load, resp, slow}},
        {4, {load, resp, slow}},
        {7, {load, resp, slow}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("level " + std::to_string(c.level));
        TCheckBench t;
        t.Page("/b", 200, "other");
        t.Page("/c", 200, "page");
        t.AddServers({{"a", t.server.Url("/missing")},
                      {"b", t.server.Url("/b"), true, false, 0, true, "hello"},
                      {"c", t.server.Url("/c"), true, true, -1}});
        t.SetConfig([&](TRunConfig& cfg) { cfg.BalloonLevel = c.level; });
        t.Watch();
        t.RunOnce();
        EXPECT_EQ(t.view.EventsStartingWith("balloon "), c.balloons);
        EXPECT_EQ(t.view.EventsStartingWith("status Completed with"),
                  TEvents{"status Completed with 3 errors!"});
    }
}

TEST(CheckRun, ConfigurationIsReadAtEachMomentOfUse) {
    TCheckBench t;
    t.AddServers({{"a", t.server.Url("/missing")}, {"b", t.server.Url("/missing")}});
    int pauses = 0;
    // The level is raised while the second server loads: only its balloon shows.
    t.pauseHook = [&] {
        if (++pauses == 3) {
            t.SetConfig([](TRunConfig& c) { c.BalloonLevel = 1; });
        }
    };
    t.Watch();
    t.RunOnce();
    EXPECT_EQ(t.view.EventsStartingWith("balloon "),
              TEvents{"balloon Load error | Unable to load 'b' | 5 | error"});
}

TEST(CheckRun, FailingLogCostsOnlyItsLines) {
    // A log that cannot be written (every line, or one of them) changes nothing but the lines
    // that are lost: every server is judged, and balloons and the outcome show as always.
    const auto runWith = [](int failingLine) {
        TCheckBench t;
        t.Page("/first", 200, "fine");
        t.Page("/second", 404, "");
        t.SetConfig([](TRunConfig& c) { c.BalloonLevel = 4; });
        t.AddServers({{"a", t.server.Url("/first"), true, false, 0, false, "", 5},
                      {"b", t.server.Url("/second")},
                      {"c", t.server.Url("/first"), true, false, 0, true, "other"}});
        int lines = 0;
        t.logHook = [&](std::string_view, std::string_view) {
            ++lines;
            if (failingLine == 0 || lines == failingLine) {
                throw qrv::Error("Unable to create file '/nowhere/QRV.log': Unable to create "
                                 "directory");
            }
        };
        t.Watch();
        t.RunOnce();
        EXPECT_EQ(t.ListState(), TServerList::TState::Browse);
        return std::make_pair(t.view.Events(), std::vector<TRecordState>{
                                                   t.Record("a"), t.Record("b"), t.Record("c")});
    };
    const auto [baseline, judged] = runWith(-1);
    ASSERT_EQ(judged.at(0).Status, "OK");
    ASSERT_EQ(judged.at(1).Status, "ERR_LOAD");
    ASSERT_EQ(judged.at(2).Status, "ERR_RESP");
    ASSERT_EQ(std::count_if(baseline.begin(), baseline.end(),
                            [](const std::string& e) { return e.rfind("log ", 0) == 0; }),
              4);
    for (int failing : {0, 1, 2, 3, 4}) {
        SCOPED_TRACE("failing log line " + std::to_string(failing) + " (0: every line)");
        const auto [events, records] = runWith(failing);
        TEvents expected;
        int line = 0;
        for (const std::string& e : baseline) {
            const bool isLog = e.rfind("log ", 0) == 0;
            line += isLog ? 1 : 0;
            if (!isLog || (failing != 0 && line != failing)) {
                expected.push_back(e);
            }
        }
        EXPECT_EQ(events, expected);
        EXPECT_EQ(records, judged);
    }
}

TEST(CheckRun, RealPausesMakeEachActiveServerCostASecond) {
    TCheckBench t;
    t.Page("/a", 200, "a");
    t.AddServers({{"a", t.server.Url("/a")}, {"b", t.server.Url("/a")}, {"z", "", false}});
    TCheckContext context = t.Context();
    context.Pause = nullptr; // the real 500 ms sleeps
    context.Tick = nullptr;  // the platform's tick count
    const auto begin = std::chrono::steady_clock::now();
    {
        TQRVCheck check(context);
        check.Start();
    } // freeing a running check waits for it
    const auto took = std::chrono::steady_clock::now() - begin;
    EXPECT_GE(took, std::chrono::seconds(2));
    EXPECT_EQ(t.Record("a").Status, "OK");
    EXPECT_EQ(t.Record("b").Status, "OK");
    EXPECT_GE(t.Record("a").LoadTime, 0);
}

// A whole all-OK run over the servers "a" and "b" at "/a".
TEvents AllOkRun(std::int32_t loadTimeBefore) {
    TEvents e = RunStart(true);
    Append(e, CheckOk("a", "/a", loadTimeBefore, 7));
    Append(e, CheckOk("b", "/a", loadTimeBefore, 7));
    Append(e, OutcomeAllOk());
    e.push_back("log ok Completed with no errors.");
    Append(e, RunClose(true));
    return e;
}

TEST(CheckRun, StartCheckRunWaitsForThePreviousRunAndNeverOverlaps) {
    TCheckBench t;
    t.Page("/a", 200, "a");
    t.AddServers({{"a", t.server.Url("/a")}, {"b", t.server.Url("/a")}});
    t.Watch();
    std::unique_ptr<TQRVCheck> CheckThread;
    ASSERT_TRUE(StartCheckRun(CheckThread, t.Context(), false));
    ASSERT_TRUE(StartCheckRun(CheckThread, t.Context(), false));
    CheckThread->WaitFor();

    // Two whole runs one after the other: the second starts after the first has closed.
    TEvents expected = AllOkRun(-1);
    Append(expected, AllOkRun(7));
    EXPECT_EQ(t.view.Events(), expected);

    // Once quitting, no new run starts and the last one is kept.
    const TQRVCheck* last = CheckThread.get();
    t.view.Clear();
    EXPECT_FALSE(StartCheckRun(CheckThread, t.Context(), true));
    EXPECT_EQ(CheckThread.get(), last);
    EXPECT_TRUE(t.view.Events().empty());
}

TEST(CheckRun, WaitingOnTheUiThreadKeepsServingTheRun) {
    // The waiting thread is the one that serves the hand-overs, as in the main window.
    TCheckBench t(TCheckBench::TUiMode::ServedByWaiter);
    t.Page("/a", 200, "a");
    t.AddServers({{"a", t.server.Url("/a")}, {"b", t.server.Url("/a")}});
    t.Watch();
    std::unique_ptr<TQRVCheck> CheckThread;
    ASSERT_TRUE(StartCheckRun(CheckThread, t.Context(), false));
    // Disposing of a running check (the next tick) and freeing one (the quit) both wait here.
    ASSERT_TRUE(StartCheckRun(CheckThread, t.Context(), false));
    CheckThread.reset();
    TEvents expected = AllOkRun(-1);
    Append(expected, AllOkRun(7));
    EXPECT_EQ(t.view.Events(), expected);
}

} // namespace
} // namespace qrv::engine::testing
