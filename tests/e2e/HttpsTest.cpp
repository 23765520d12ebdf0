// The https switch of the settings key in the real program: off, an https server fails its check
// and the editor refuses the address; on, the editor takes it and a check over TLS passes.

#include "E2eSupport.h"

#include "TestHttpServer.h"
#include "TestTls.h"

#include <string>
#include <vector>

namespace qrv::e2e {
namespace {

// Points inside the editor's fields and buttons (window coordinates; no frames).
constexpr int kFieldX = 248;
constexpr int kUrlY = 86;
constexpr int kButtonY = 293;
constexpr int kOkX = 307;
constexpr int kCancelX = 189;

bool LogHas(TInstall& app, const std::string& text) {
    return ReadFile(app.LogFile()).find(text) != std::string::npos;
}

// Opens the editor from the main window, types `url` over the suggested address and presses
// OK. True when the editor took it (it closed), false when it showed the form error, which is
// then dismissed and the editor cancelled.
bool AddressAccepted(TXSession& x, unsigned long window, const std::string& url) {
    EXPECT_TRUE(x.Keys(window, {"ctrl+n"}));
    const unsigned long editor = x.WaitForWindow("^Add new server$");
    EXPECT_NE(editor, 0u);
    EXPECT_TRUE(x.Click(editor, kFieldX, kUrlY));
    EXPECT_TRUE(x.Keys(editor, {"ctrl+a"}));
    EXPECT_TRUE(x.Type(editor, url));
    EXPECT_TRUE(x.Click(editor, kOkX, kButtonY));
    unsigned long box = 0;
    EXPECT_TRUE(WaitUntil(
        [&] {
            const auto boxes = x.Search({"--onlyvisible", "--name", "^Form error$"});
            box = boxes.empty() ? 0 : boxes.front();
            return box != 0 || !x.WindowVisible("^Add new server$");
        },
        15000));
    if (box == 0) {
        return true;
    }
    EXPECT_TRUE(x.Keys(box, {"Return"}));
    EXPECT_TRUE(WaitUntil([&] { return !x.WindowVisible("^Form error$"); }, 10000));
    EXPECT_TRUE(x.Click(editor, kCancelX, kButtonY));
    EXPECT_TRUE(WaitUntil([&] { return !x.WindowVisible("^Add new server$"); }, 10000));
    return false;
}

TEST_F(E2eTest, HttpsSwitchedOffFailsTheCheckAndTheEditorRefusesTheAddress) {
    // Nothing may be sent: a port where nothing listens would fail differently.
    const std::string url = "https://127.0.0.1:" + std::to_string(test::UnusedLoopbackPort()) + "/";
    App().WriteConfig({{"CheckInterval", "3600"}});
    WriteServerList(App().ListFile(), {{"tls", url}});
    TProcess program = App().Start();
    const unsigned long window = App().WaitForMainWindow();
    ASSERT_NE(window, 0u) << ReadFile(App().Dir() / "output.txt");

    // The editor first, with no run due (a run disables the editor's action), then a start
    // whose first run comes a second later.
    EXPECT_FALSE(AddressAccepted(X(), window, "https://127.0.0.1/"));
    EXPECT_EQ(Terminate(program), 0);

    App().WriteConfig({{"CheckInterval", "1"}});
    TProcess again = App().Start();
    ASSERT_NE(App().WaitForMainWindow(), 0u);
    ASSERT_TRUE(WaitUntil([&] { return LogHas(App(), "Completed"); }, 30000))
        << ReadFile(App().LogFile());
    EXPECT_TRUE(LogHas(App(), "ERROR Unable to load 'tls'. Error: IOHandler value is not valid"))
        << ReadFile(App().LogFile());
    EXPECT_EQ(Terminate(again), 0);
    const std::string list = ReadFile(App().ListFile());
    EXPECT_NE(list.find("Name=\"tls\" Status=\"ERR_LOAD\" Result=\"Unable to load: IOHandler "
                        "value is not valid\""),
              std::string::npos)
        << list;
}

TEST_F(E2eTest, HttpsSwitchedOnTheEditorTakesTheAddressAndTheCheckPasses) {
    // The program trusts the test's CA as every OpenSSL program does, through SSL_CERT_FILE.
    const test::TTestCa& ca = test::SharedTestCa();
    test::TTestHttpServer http;
    http.Route("/ok", test::Reply(200, "fine"));
    test::TTlsServerOptions options;
    options.Certificate = ca.Issue({"127.0.0.1"});
    options.BackendPort = http.Port();
    test::TTestTlsServer tls(options);
    const std::vector<std::string> env = {"SSL_CERT_FILE=" + ca.CaFile()};

    App().WriteConfig({{"CheckInterval", "3600"}}, {{"HttpsEnabled", 1}});
    WriteServerList(App().ListFile(), {{"first", "http://127.0.0.1:1/", false}});
    TProcess program = App().Start(env);
    const unsigned long window = App().WaitForMainWindow();
    ASSERT_NE(window, 0u) << ReadFile(App().Dir() / "output.txt");
    EXPECT_TRUE(AddressAccepted(X(), window, "https://127.0.0.1:8/shop"));
    EXPECT_EQ(Terminate(program), 0);
    EXPECT_NE(ReadFile(App().ListFile()).find("Url=\"https://127.0.0.1:8/shop\""),
              std::string::npos)
        << ReadFile(App().ListFile());

    App().WriteConfig({{"CheckInterval", "1"}}, {{"HttpsEnabled", 1}});
    WriteServerList(App().ListFile(), {{"tls", tls.Url("/ok"), true, "fine"}});
    TProcess again = App().Start(env);
    ASSERT_NE(App().WaitForMainWindow(), 0u);
    ASSERT_TRUE(WaitUntil([&] { return LogHas(App(), "Completed"); }, 30000))
        << ReadFile(App().LogFile());
    EXPECT_TRUE(LogHas(App(), "Completed with no errors.")) << ReadFile(App().LogFile());
    EXPECT_GE(tls.HandshakeCount(), 1);
    EXPECT_EQ(Terminate(again), 0);
    const std::string list = ReadFile(App().ListFile());
    EXPECT_NE(list.find("Name=\"tls\" Status=\"OK\" Result=\"OK\""), std::string::npos) << list;
}

} // namespace
} // namespace qrv::e2e
