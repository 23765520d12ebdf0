// The server editor and the settings window of the real program, driven with the keyboard and
// the mouse: what they save reaches the list file and the configuration, and takes effect at
// once.

#include "E2eSupport.h"

#include "TestHttpServer.h"
#include "engine/ServerList.h"

#include <algorithm>
#include <csignal>

namespace qrv::e2e {
namespace {

using engine::TField;

// Points inside the dialogs' fields and buttons (window coordinates; no frames).
constexpr int kFieldX = 248;
constexpr int kButtonX = 307;

struct TSavedServer {
    std::string Name;
    std::string Url;
    bool Active = false;
    int Timeout = 0;
};

std::vector<TSavedServer> ReadServerList(const fs::path& path) {
    engine::TServerList list;
    list.SetFileName(path.string());
    list.Open();
    std::vector<TSavedServer> servers;
    for (list.First(); !list.Eof(); list.Next()) {
        servers.push_back({list.AsString(TField::Name), list.AsString(TField::Url),
                           list.AsBoolean(TField::Active), list.AsInteger(TField::Timeout)});
    }
    return servers;
}

TEST_F(E2eTest, ServerEditorAddsAServerThatTheSavedListKeeps) {
    App().WriteConfig({{"CheckInterval", "3600"}});
    WriteServerList(App().ListFile(), {{"first", "http://127.0.0.1:1/", false}});
    TProcess program = App().Start();
    const unsigned long window = App().WaitForMainWindow();
    ASSERT_NE(window, 0u) << ReadFile(App().Dir() / "output.txt");

    // Servers > Add through its short-cut.
    ASSERT_TRUE(X().Keys(window, {"ctrl+n"}));
    const unsigned long editor = X().WaitForWindow("^Add new server$");
    ASSERT_NE(editor, 0u);
    // The fields hold suggestions ("New server name", "http://"): each is replaced whole.
    ASSERT_TRUE(X().Click(editor, kFieldX, 59));
    ASSERT_TRUE(X().Keys(editor, {"ctrl+a"}));
    ASSERT_TRUE(X().Type(editor, "Shop front"));
    ASSERT_TRUE(X().Click(editor, kFieldX, 86));
    ASSERT_TRUE(X().Keys(editor, {"ctrl+a"}));
    ASSERT_TRUE(X().Type(editor, "http://127.0.0.1:8/shop?x=1"));
    ASSERT_TRUE(X().Click(editor, kButtonX, 293)); // OK
    ASSERT_TRUE(WaitUntil([&] { return !X().WindowVisible("^Add new server$"); }, 15000));

    // Opened again, the editor starts in the name field with its text selected, although the
    // click left the focus on OK: what is typed replaces the name and a space presses nothing.
    ASSERT_TRUE(X().Keys(window, {"ctrl+n"}));
    const unsigned long again = X().WaitForWindow("^Add new server$");
    ASSERT_NE(again, 0u);
    ASSERT_TRUE(X().Type(again, "My server"));
    EXPECT_FALSE(WaitUntil([&] { return !X().WindowVisible("^Add new server$"); }, 1000))
        << "typing pressed a button";
    // The pointer still rests on OK, and a synchronous move to where it is waits for ever.
    ASSERT_EQ(X().Xdotool({"mousemove", "0", "0"}).Status, 0);
    ASSERT_TRUE(X().Click(again, kButtonX, 293)); // OK
    ASSERT_TRUE(WaitUntil([&] { return !X().WindowVisible("^Add new server$"); }, 15000));

    // Application > Quit through its short-cut; the list is saved on the way out.
    ASSERT_TRUE(X().Keys(window, {"ctrl+q"}));
    ASSERT_EQ(program.WaitExit(20000), 0);
    // The list keeps its rows in name order, so the new one is looked up by its name.
    const std::vector<TSavedServer> servers = ReadServerList(App().ListFile());
    ASSERT_EQ(servers.size(), 3u) << ReadFile(App().ListFile());
    EXPECT_TRUE(std::any_of(servers.begin(), servers.end(), [](const TSavedServer& s) {
        return s.Name == "My server";
    })) << ReadFile(App().ListFile());
    const auto added = std::find_if(servers.begin(), servers.end(),
                                    [](const TSavedServer& s) { return s.Name == "Shop front"; });
    ASSERT_NE(added, servers.end()) << ReadFile(App().ListFile());
    EXPECT_EQ(added->Url, "http://127.0.0.1:8/shop?x=1");
    EXPECT_TRUE(added->Active);
    EXPECT_EQ(added->Timeout, 500);
}

TEST_F(E2eTest, SettingsSavedTakeEffectWithoutARestart) {
    test::TTestHttpServer server;
    server.Route("/ok", test::Reply(200, "fine"));
    // An interval of an hour: a run within the test can only come from the new one.
    App().WriteConfig({{"CheckInterval", "3600"}, {"Language", "en"}});
    WriteServerList(App().ListFile(), {{"ok", server.Url("/ok")}});
    TProcess program = App().Start();
    const unsigned long window = App().WaitForMainWindow();
    ASSERT_NE(window, 0u) << ReadFile(App().Dir() / "output.txt");

    ASSERT_TRUE(X().Keys(window, {"ctrl+s"}));
    const unsigned long settings = X().WaitForWindow("^Application settings$");
    ASSERT_NE(settings, 0u);
    ASSERT_TRUE(X().Click(settings, kFieldX, 141)); // check interval
    ASSERT_TRUE(X().Keys(settings, {"ctrl+a"}));
    ASSERT_TRUE(X().Type(settings, "2"));
    // The language list holds "cs" and "en" in that order; one up from "en" is Czech. A click
    // opens the list, which takes the keys (and a list not opened leaves them to the box).
    ASSERT_TRUE(X().Click(settings, kFieldX, 368));
    ASSERT_TRUE(X().Xdotool({"key", "Up", "Return"}).Status == 0);
    ASSERT_TRUE(X().Click(settings, kButtonX, 476)); // Save & use
    ASSERT_TRUE(WaitUntil([&] { return !X().WindowVisible("^Application settings$"); }, 15000))
        << "the settings window stayed open";

    const std::string config = ReadFile(App().ConfigFile());
    EXPECT_NE(config.find("\"CheckInterval\"=\"2\""), std::string::npos) << config;
    EXPECT_NE(config.find("\"Language\"=\"cs\""), std::string::npos) << config;

    // The next run comes at the new interval and speaks Czech.
    EXPECT_TRUE(WaitUntil(
        [&] { return ReadFile(App().LogFile()).find("SYSTEM Kontroluji...") != std::string::npos; },
        30000))
        << ReadFile(App().LogFile());
    EXPECT_EQ(ReadFile(App().LogFile()).find("SYSTEM Checking..."), std::string::npos);
    // The windows speak it too: the settings window opens under its Czech title.
    ASSERT_TRUE(X().Keys(window, {"ctrl+s"}));
    EXPECT_NE(X().WaitForWindow("^Nastaven"), 0u);

    EXPECT_EQ(Terminate(program), 0);
}

} // namespace
} // namespace qrv::e2e
