// The real program under Xvfb with a tray host: first start, single instance, tray icon, hot
// key, close-to-tray, end signals, and a check run against a loopback server.

#include "E2eSupport.h"

#include "TestHttpServer.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace qrv::e2e {
namespace {

// The visible windows of ours other than `main`, with their widths: the tray icon (at most
// 32 pixels), a balloon, a menu.
std::vector<std::pair<unsigned long, int>> OtherWindowsOfOurs(TXSession& x, unsigned long main) {
    std::vector<std::pair<unsigned long, int>> found;
    for (unsigned long id :
         x.Search({"--onlyvisible", "--class", "^Ostrelle\\.Quorvane\\.0\\.9$"})) {
        const std::string geometry = x.Xdotool({"getwindowgeometry", std::to_string(id)}).Output;
        const auto at = geometry.find("Geometry: ");
        if (id != main && at != std::string::npos) {
            found.emplace_back(id, std::atoi(geometry.c_str() + at + 10));
        }
    }
    return found;
}

TEST_F(E2eTest, FirstStartWritesTheDefaultsAndTheSeedList) {
    TProcess program = App().Start();
    ASSERT_NE(App().WaitForMainWindow(), 0u) << ReadFile(App().Dir() / "output.txt");
    const std::string config = ReadFile(App().ConfigFile());
    EXPECT_EQ(config.rfind("Windows Registry Editor Version 5.00", 0), 0u) << config;
    for (const char* line : {"\"Version\"=\"" QRV_VERSION "\"", "\"CheckUpdate\"=dword:00000001",
                             "\"CheckInterval\"=\"300\"", "\"BalloonLevel\"=\"3\"",
                             "\"Language\"=\"en\"", "\"LogEnabled\"=dword:00000001"}) {
        EXPECT_NE(config.find(line), std::string::npos) << line << "\n" << config;
    }
    // The re-created list holds the metadata only until the program ends.
    EXPECT_EQ(ReadFile(App().ListFile()).find("<ROW "), std::string::npos);
    EXPECT_NE(ReadFile(App().LogFile()).find("SYSTEM Dataset does not exist. File recreated: "),
              std::string::npos);

    EXPECT_EQ(Terminate(program), 0);
    const std::string list = ReadFile(App().ListFile());
    EXPECT_NE(list.find("<ROW RowState=\"4\" Name=\"Ostrelle\" Status=\"\" Result=\"Waiting...\""),
              std::string::npos)
        << list;

    // The next start shows no box and keeps the configuration.
    TProcess again = App().Start();
    ASSERT_NE(App().WaitForMainWindow(), 0u);
    EXPECT_EQ(ReadFile(App().ConfigFile()), config);
    EXPECT_EQ(Terminate(again), 0);
}

TEST_F(E2eTest, SecondStartEndsAtOnceAndTheHiddenWindowComesBack) {
    App().WriteConfig({});
    WriteServerList(App().ListFile(), {{"a", "http://127.0.0.1:1/"}});
    TProcess first = App().Start();
    const unsigned long window = App().WaitForMainWindow();
    ASSERT_NE(window, 0u);
    // A close request that arrives while the window is still being mapped can be lost, so
    // it is repeated until the window has gone.
    ASSERT_TRUE(
        WaitUntil([&] { return X().RequestClose(window) && !App().MainWindowVisible(); }, 15000));

    TProcess second = App().Start();
    EXPECT_EQ(second.WaitExit(10000), 0);
    EXPECT_TRUE(first.Running());
    EXPECT_TRUE(WaitUntil([&] { return App().MainWindowVisible(); }, 10000));
    EXPECT_EQ(Terminate(first), 0);
}

TEST_F(E2eTest, TrayMenuWorksWhileADialogHasTheWindowDisabled) {
    App().WriteConfig({});
    WriteServerList(App().ListFile(), {{"a", "http://127.0.0.1:1/"}});
    TProcess program = App().Start();
    const unsigned long window = App().WaitForMainWindow();
    ASSERT_NE(window, 0u);

    // A small window of ours inside the tray host's panel: the tray icon.
    unsigned long trayIcon = 0;
    const auto ours = [&] { return OtherWindowsOfOurs(X(), window); };
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (const auto& [id, width] : ours()) {
                trayIcon = width > 0 && width <= 32 ? id : trayIcon;
            }
            return trayIcon != 0;
        },
        20000));

    // While the settings window has the main window disabled, the tray menu opens and its
    // Hide works.
    ASSERT_TRUE(X().Keys(window, {"ctrl+s"}));
    const unsigned long settings = X().WaitForWindow("^Application settings$");
    ASSERT_NE(settings, 0u);
    const std::size_t before = ours().size();
    ASSERT_EQ(
        X().Xdotool({"mousemove", "--window", std::to_string(trayIcon), "8", "8", "click", "3"})
            .Status,
        0);
    ASSERT_TRUE(WaitUntil([&] { return ours().size() > before; }, 10000)) << "no tray menu";
    ASSERT_EQ(X().Xdotool({"key", "Down", "Return"}).Status, 0); // Show is off: Hide is first
    ASSERT_TRUE(WaitUntil([&] { return !App().MainWindowVisible(); }, 10000));
    EXPECT_TRUE(X().WindowVisible("^Application settings$"));
    EXPECT_EQ(Terminate(program), 0);
}

// Every balloon is drawn in one window of ours, reused: the toolkit's own balloon made a new
// window for each and kept part of its memory.
TEST_F(E2eTest, BalloonsReuseOneWindow) {
    App().WriteConfig({{"CheckInterval", "1"}, {"BalloonLevel", "4"}});
    WriteServerList(App().ListFile(), {{"refused", "http://127.0.0.1:1/"}});
    TProcess program = App().Start();
    const unsigned long window = App().WaitForMainWindow();
    ASSERT_NE(window, 0u);
    std::set<unsigned long> balloons;
    for (int run = 1; run <= 3; ++run) {
        const auto completed = [&] {
            const std::string log = ReadFile(App().LogFile());
            int n = 0;
            for (auto at = log.find("Completed"); at != std::string::npos;
                 at = log.find("Completed", at + 1)) {
                ++n;
            }
            return n;
        };
        ASSERT_TRUE(WaitUntil([&] { return completed() >= run; }, 30000));
        // The balloon: a window of ours wider than a tray icon.
        ASSERT_TRUE(WaitUntil(
            [&] {
                for (const auto& [id, width] : OtherWindowsOfOurs(X(), window)) {
                    if (width > 32) {
                        balloons.insert(id);
                        return true;
                    }
                }
                return false;
            },
            15000))
            << "no balloon after run " << run;
    }
    EXPECT_EQ(balloons.size(), 1u) << "a new window for a balloon";
    EXPECT_EQ(Terminate(program), 0);
}

TEST_F(E2eTest, ClosingTheWindowHidesItToTheTray) {
    App().WriteConfig({});
    WriteServerList(App().ListFile(), {{"a", "http://127.0.0.1:1/"}});
    TProcess program = App().Start();
    const unsigned long window = App().WaitForMainWindow();
    ASSERT_NE(window, 0u);

    // Closing the window hides it; the process and the tray icon stay.
    ASSERT_TRUE(X().RequestClose(window));
    ASSERT_TRUE(WaitUntil([&] { return !App().MainWindowVisible(); }, 15000));
    EXPECT_TRUE(program.Running());
    EXPECT_EQ(Terminate(program), 0);
}

TEST_F(E2eTest, HotKeyTogglesTheWindowWhenEnabled) {
    App().WriteConfig({}, {{"HotkeyEnabled", 1}});
    WriteServerList(App().ListFile(), {{"a", "http://127.0.0.1:1/"}});
    TProcess program = App().Start();
    ASSERT_NE(App().WaitForMainWindow(), 0u);
    X().Xdotool({"key", "ctrl+alt+w"});
    EXPECT_TRUE(WaitUntil([&] { return !App().MainWindowVisible(); }, 15000));
    X().Xdotool({"key", "ctrl+alt+w"});
    EXPECT_TRUE(WaitUntil([&] { return App().MainWindowVisible(); }, 15000));
    EXPECT_EQ(Terminate(program), 0);

    // Without the setting the keys do nothing.
    App().WriteConfig({}, {{"HotkeyEnabled", 0}});
    TProcess plain = App().Start();
    ASSERT_NE(App().WaitForMainWindow(), 0u);
    X().Xdotool({"key", "ctrl+alt+w"});
    EXPECT_FALSE(WaitUntil([&] { return !App().MainWindowVisible(); }, 1500));
    EXPECT_EQ(Terminate(plain), 0);
}

TEST_F(E2eTest, EndSignalsSaveTheList) {
    for (int number : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(number);
        App().WriteConfig({});
        WriteServerList(App().ListFile(),
                        {{"b", "http://127.0.0.1:1/"}, {"a", "http://x/", false}});
        TProcess program = App().Start();
        ASSERT_NE(App().WaitForMainWindow(), 0u);
        program.Signal(number);
        EXPECT_EQ(program.WaitExit(20000), 0);
        // Start-up reset every row; the save at the end wrote that back.
        const std::string list = ReadFile(App().ListFile());
        EXPECT_NE(list.find("Name=\"b\" Status=\"\" Result=\"Waiting...\""), std::string::npos)
            << list;
        EXPECT_NE(list.find("Name=\"a\" Status=\"\" Result=\"Waiting...\""), std::string::npos);
        EXPECT_NE(list.find("LoadTime=\"-1\""), std::string::npos);
    }
}

TEST_F(E2eTest, ADisplayThatCannotBeReachedLeavesTheProgramMonitoringOffscreen) {
    App().WriteConfig({});
    WriteServerList(App().ListFile(), {{"b", "http://127.0.0.1:1/"}});
    TProcess program = App().Start({"DISPLAY=:249"});
    ASSERT_TRUE(WaitUntil(
        [&] {
            return ReadFile(App().Dir() / "output.txt").find("without windows (offscreen)") !=
                   std::string::npos;
        },
        20000))
        << ReadFile(App().Dir() / "output.txt");
    EXPECT_TRUE(program.Running());
    EXPECT_EQ(Terminate(program), 0);
    EXPECT_NE(ReadFile(App().ListFile()).find("Name=\"b\""), std::string::npos);
}

// Quit comes promptly whatever the servers do: a fetch or an update post that waits for a
// server is broken off, the record being checked keeps what it held, the list is saved.
TEST_F(E2eTest, EndSignalsArePromptWhateverTheServersDo) {
    test::TTestHttpServer server;
    const auto silent = [](const test::TRecordedRequest&, test::TTestConnection& c) {
        c.WaitForClientClose();
    };
    server.Route("/silent", silent);
    server.Route("/update", silent);
    server.Route("/head-then-silent", [](const test::TRecordedRequest&, test::TTestConnection& c) {
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nabc");
        c.WaitForClientClose();
    });
    server.Route("/dribble", [](const test::TRecordedRequest&, test::TTestConnection& c) {
        c.Dribble(test::Response(200, std::string(100000, 'x')), 1, 50);
    });
    server.Route("/fast", test::Reply(200, "fine"));
    const auto asked = [&server](const std::string& target) {
        for (const auto& request : server.Requests()) {
            if (request.Target == target) {
                return true;
            }
        }
        return false;
    };
    for (const char* path : {"/silent", "/head-then-silent", "/dribble", "/fast"}) {
        SCOPED_TRACE(path);
        App().WriteConfig({{"CheckInterval", "1"}});
        WriteServerList(App().ListFile(), {{"x", server.Url(path)}});
        TProcess program = App().Start({"QRV_UPDATE_URL=" + server.Url("/update")});
        ASSERT_NE(App().WaitForMainWindow(), 0u) << ReadFile(App().Dir() / "output.txt");
        ASSERT_TRUE(WaitUntil([&] { return asked("/update") && asked(path); }, 20000));
        if (std::string_view(path) == "/fast") {
            // The stalled update post delays nothing: the run ends with the true load time.
            ASSERT_TRUE(WaitUntil(
                [&] { return ReadFile(App().LogFile()).find("Completed") != std::string::npos; },
                20000));
        }
        const auto signalled = std::chrono::steady_clock::now();
        program.Signal(SIGTERM);
        EXPECT_EQ(program.WaitExit(20000), 0);
        const auto took = std::chrono::steady_clock::now() - signalled;
        EXPECT_LT(took, std::chrono::seconds(2));
        std::printf("%s: SIGTERM to exit %lld ms\n", path,
                    static_cast<long long>(
                        std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
        const std::string list = ReadFile(App().ListFile());
        if (std::string_view(path) == "/fast") {
            EXPECT_NE(list.find("Name=\"x\" Status=\"OK\" Result=\"OK\""), std::string::npos)
                << list;
            const auto at = list.find("LoadTime=\"");
            ASSERT_NE(at, std::string::npos);
            EXPECT_LT(std::atoi(list.c_str() + at + 10), 1000) << list;
            EXPECT_EQ(ReadFile(App().LogFile()).find("Slow load"), std::string::npos);
        } else {
            EXPECT_NE(list.find("Name=\"x\" Status=\"\" Result=\"Waiting...\""), std::string::npos)
                << list;
        }
    }
}

// A mixed run against a loopback server, in English and in Czech; the window is photographed
// for the documentation.
void MixedRun(TXSession& x, TInstall& app, const std::string& language,
              const std::vector<std::string>& env) {
    test::TTestHttpServer server;
    server.Route("/ok", test::Reply(200, "fine"));
    server.Route("/missing", test::Reply(404, "gone"));
    server.Route("/wrong", test::Reply(200, "bad"));
    app.WriteConfig({{"CheckInterval", "1"}, {"Language", language}});
    WriteServerList(
        app.ListFile(),
        {{"ok", server.Url("/ok")},
         {"missing", server.Url("/missing")},
         {"wrong", server.Url("/wrong"), true, "good"},
         {"refused", "http://127.0.0.1:" + std::to_string(test::UnusedLoopbackPort()) + "/"},
         {"resting", server.Url("/ok"), false}});
    TProcess program = app.Start(env);
    const unsigned long window = app.WaitForMainWindow();
    ASSERT_NE(window, 0u);
    ASSERT_TRUE(WaitUntil(
        [&] {
            const std::string log = ReadFile(app.LogFile());
            return log.find("ERROR Completed with problems detected.") != std::string::npos ||
                   log.find("ERROR Dokončeno s problémy.") != std::string::npos;
        },
        60000))
        << ReadFile(app.LogFile());
    // The closing steps follow the last log line; the next run begins a second later.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    x.Screenshot(window,
                 fs::path(QRV_BINARY_DIR) / "tests" / "e2e" / ("main-window-" + language + ".png"));
    EXPECT_EQ(E2eTest::Terminate(program), 0);

    const std::string list = ReadFile(app.ListFile());
    for (const char* row : {"Name=\"ok\" Status=\"OK\" Result=\"OK\"",
                            "Name=\"missing\" Status=\"ERR_LOAD\" Result=\"Unable to load: ",
                            "Name=\"wrong\" Status=\"ERR_RESP\" Result=\"Wrong response: bad\"",
                            "Name=\"refused\" Status=\"ERR_LOAD\" Result=\"Unable to load: ",
                            "Name=\"resting\" Status=\"\""}) {
        EXPECT_NE(list.find(row), std::string::npos) << row << "\n" << list;
    }
    const std::string log = ReadFile(app.LogFile());
    const std::vector<std::string> lines =
        language == "cs" ? std::vector<std::string>{"SYSTEM Kontroluji...",
                                                    "ERROR Nepovedlo se načíst 'missing'. Chyba: ",
                                                    "ERROR Špatná odpověď 'wrong': bad",
                                                    "ERROR Nepovedlo se načíst 'refused'. Chyba: "}
                         : std::vector<std::string>{"SYSTEM Checking...",
                                                    "ERROR Unable to load 'missing'. Error: ",
                                                    "ERROR Wrong response 'wrong': bad",
                                                    "ERROR Unable to load 'refused'. Error: "};
    for (const std::string& line : lines) {
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
    }
    EXPECT_EQ(log.find("'ok'"), std::string::npos);
    EXPECT_EQ(log.find("'resting'"), std::string::npos);
}

TEST_F(E2eTest, CheckRunWritesStatusesAndLogLines) {
    MixedRun(X(), App(), "en", {});
}

TEST_F(E2eTest, CheckRunInCzech) {
    // A Czech desktop: the log is in its character set (UTF-8), so an editor shows it as written.
    MixedRun(X(), App(), "cs", {"LANG=cs_CZ.UTF-8"});
}

} // namespace
} // namespace qrv::e2e
