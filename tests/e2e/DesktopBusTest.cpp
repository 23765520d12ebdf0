// The program on a desktop that speaks over the session bus: a status-notifier tray (with no
// XEmbed tray on the display), desktop notifications, and no tray at all.

#include "E2eSupport.h"
#include "TestHttpServer.h"

#include <atomic>
#include <map>
#include <sstream>

namespace qrv::e2e {
namespace {

// A display without an XEmbed tray; each test brings its own bus.
class DesktopBusTest : public ::testing::Test {
public:
    static void SetUpTestSuite() { session_ = std::make_unique<TXSession>(false); }
    static void TearDownTestSuite() { session_.reset(); }

protected:
    void SetUp() override {
        ASSERT_TRUE(session_->Ok()) << session_->Problem();
        install_ = std::make_unique<TInstall>(*session_);
    }

    // Starts the program on `bus`, its window up.
    TProcess Start(TBusSession& bus) {
        EXPECT_TRUE(bus.Ok());
        TProcess program = install_->Start({bus.Environment()});
        EXPECT_NE(install_->WaitForMainWindow(), 0u) << ReadFile(install_->Dir() / "output.txt");
        return program;
    }

    static std::unique_ptr<TXSession> session_;
    std::unique_ptr<TInstall> install_;
};

std::unique_ptr<TXSession> DesktopBusTest::session_;

using TFields = std::map<std::string, std::string>;

// "a=1|b=2" as fields.
TFields Fields(const std::string& line) {
    TFields fields;
    std::istringstream in(line);
    std::string field;
    while (std::getline(in, field, '|')) {
        const std::size_t eq = field.find('=');
        if (eq != std::string::npos) {
            fields[field.substr(0, eq)] = field.substr(eq + 1);
        }
    }
    return fields;
}

std::vector<TFields> Notices(TBusSession& bus) {
    std::vector<TFields> notices;
    std::istringstream in(bus.Peer("Notices"));
    std::string line;
    while (std::getline(in, line)) {
        if (line.find("app=") != std::string::npos) {
            notices.push_back(Fields(line));
        }
    }
    return notices;
}

// The paw's colour from the middle pixel the panel would draw ("rrggbb").
std::string Colour(const std::string& hex) {
    if (hex.size() != 6) {
        return "none";
    }
    const long rgb = std::strtol(hex.c_str(), nullptr, 16);
    const long r = (rgb >> 16) & 0xff;
    const long g = (rgb >> 8) & 0xff;
    const long b = rgb & 0xff;
    if (r > 2 * b && g > 2 * b && r > g / 2 && g > r / 2) {
        return "yellow";
    }
    return g > r ? "green" : r > g ? "red" : "other";
}

// A site and a verifying server whose answers the test switches.
struct TSites {
    enum TState { AllOk, Problem, Offline };
    TSites() {
        server.Route("/site", [this](const test::TRecordedRequest&, test::TTestConnection& c) {
            c.Send(state == AllOk ? test::Response(200, "fine") : test::Response(404, "gone"));
        });
        server.Route("/verify", [this](const test::TRecordedRequest&, test::TTestConnection& c) {
            c.Send(state == Offline ? test::Response(404, "gone") : test::Response(200, "up"));
        });
    }
    test::TTestHttpServer server;
    std::atomic<TState> state{AllOk};
};

const char* const kAllOkHint = "Response of all websites OK. There was no problem.";
const char* const kProblemHint = "One or more websites problem. Unable to load or wrong response.";
const char* const kOfflineHint =
    "Unable to load verifying server. Websites monitoring stopped due to offline station.";

TEST_F(DesktopBusTest, StatusNotifierItemShowsEachOutcomeAndTogglesTheWindow) {
    TBusSession bus({"--watcher", "--notifications"});
    TSites sites;
    install_->WriteConfig(
        {{"CheckInterval", "1"}, {"BalloonLevel", "4"}, {"VerifyURL", sites.server.Url("/verify")}},
        {{"VerifyEnabled", 1}});
    // A name that is markup to a notification server that reads markup.
    WriteServerList(install_->ListFile(), {{"a&b <i>", sites.server.Url("/site")}});
    TProcess program = Start(bus);

    std::string item;
    const auto shows = [&](const char* hint, const char* colour) {
        return WaitUntil(
            [&] {
                item = bus.Peer("Inspect");
                const TFields fields = Fields(item);
                return fields.count("tooltip") != 0 && fields.at("tooltip") == hint &&
                       Colour(fields.at("pixel")) == colour;
            },
            30000);
    };
    ASSERT_TRUE(shows(kAllOkHint, "green")) << item;
    const TFields fields = Fields(item);
    EXPECT_EQ(fields.at("id"), "example.ostrelle.Quorvane");
    EXPECT_EQ(fields.at("title"), "Quorvane");
    EXPECT_EQ(fields.at("itemismenu"), "false");
    EXPECT_TRUE(Notices(bus).empty()) << bus.Peer("Notices");

    sites.state = TSites::Problem;
    ASSERT_TRUE(shows(kProblemHint, "red")) << item;
    // Two runs, two balloons: the second replaces the first.
    ASSERT_TRUE(WaitUntil([&] { return Notices(bus).size() >= 2; }, 30000));
    // The balloon leaves the picture and the hint as the run left them.
    EXPECT_EQ(Fields(bus.Peer("Inspect")).at("status"), "Active");
    EXPECT_TRUE(shows(kProblemHint, "red")) << item;
    const std::vector<TFields> notices = Notices(bus);
    const TFields& first = notices[0];
    EXPECT_EQ(first.at("app"), "Quorvane");
    EXPECT_EQ(first.at("replaces"), "0");
    // The balloon's icon kind: an error for a server that failed.
    EXPECT_EQ(first.at("icon"), "dialog-error");
    EXPECT_EQ(first.at("category"), "network.error");
    EXPECT_EQ(first.at("desktop-entry"), "example.ostrelle.Quorvane");
    EXPECT_EQ(first.at("summary"), "Load error");
    EXPECT_EQ(first.at("body"), "Unable to load 'a&amp;b &lt;i&gt;'");
    EXPECT_EQ(first.at("urgency"), "1");
    EXPECT_EQ(first.at("actions"), "0");
    EXPECT_EQ(first.at("timeout"), "10000");
    EXPECT_EQ(notices[1].at("replaces"), first.at("id"));

    sites.state = TSites::Offline;
    ASSERT_TRUE(shows(kOfflineHint, "yellow")) << item;
    ASSERT_TRUE(WaitUntil(
        [&] {
            const std::vector<TFields> now = Notices(bus);
            return !now.empty() && now.back().at("summary") == "Offline";
        },
        30000))
        << bus.Peer("Notices");
    const TFields offline = Notices(bus).back();
    EXPECT_EQ(offline.at("replaces"), first.at("id"));
    // A warning for the station that went offline, not the servers' error.
    EXPECT_EQ(offline.at("icon"), "dialog-warning");
    EXPECT_EQ(offline.at("category"), "network.disconnected");
    EXPECT_EQ(offline.at("urgency"), "1");

    // A click on the icon hides the window, the next one brings it back.
    EXPECT_EQ(bus.Peer("Activate"), "ok");
    EXPECT_TRUE(WaitUntil([&] { return !install_->MainWindowVisible(); }, 10000));
    EXPECT_EQ(bus.Peer("Activate"), "ok");
    EXPECT_TRUE(WaitUntil([&] { return install_->MainWindowVisible(); }, 10000));
    EXPECT_EQ(E2eTest::Terminate(program), 0);
}

// What a host that draws the item's menu itself reads (Xfce, KDE, waybar): the tray commands
// in the program's language, whose states follow the window.
TEST_F(DesktopBusTest, ExportedMenuSpeaksTheProgramsLanguageAndFollowsTheWindow) {
    TBusSession bus({"--watcher"});
    install_->WriteConfig({{"Language", "cs"}});
    WriteServerList(install_->ListFile(), {{"a", "http://127.0.0.1:1/", false}});
    TProcess program = Start(bus);
    std::string menu;
    ASSERT_TRUE(WaitUntil(
        [&] {
            menu = bus.Peer("Menu");
            return menu.find("error") == std::string::npos && !menu.empty();
        },
        20000))
        << menu;
    EXPECT_EQ(menu, "Zobrazit:0|Skrýt:1|Log:1|Ukončit:1");
    EXPECT_EQ(bus.Peer("Activate"), "ok");
    ASSERT_TRUE(WaitUntil([&] { return !install_->MainWindowVisible(); }, 10000));
    EXPECT_TRUE(WaitUntil([&] { return bus.Peer("MenuUpdates") != "0"; }, 5000));
    EXPECT_EQ(bus.Peer("Menu"), "Zobrazit:1|Skrýt:0|Log:1|Ukončit:1");
    EXPECT_EQ(E2eTest::Terminate(program), 0);
}

TEST_F(DesktopBusTest, ItemRegistersWithAWatcherThatComesAfterTheProgram) {
    // The usual autostart race: the panel's watcher appears a few seconds after us.
    TBusSession bus({"--watcher-after-ms", "3000"});
    install_->WriteConfig({});
    WriteServerList(install_->ListFile(), {{"a", "http://127.0.0.1:1/", false}});
    TProcess program = Start(bus);
    EXPECT_EQ(bus.Peer("Items"), "");
    std::string items;
    ASSERT_TRUE(WaitUntil(
        [&] {
            items = bus.Peer("Items");
            return items.rfind("org.kde.StatusNotifierItem-", 0) == 0;
        },
        20000))
        << items;
    EXPECT_EQ(Fields(bus.Peer("Inspect")).at("tooltip"), "quorvane");
    EXPECT_EQ(bus.Peer("Activate"), "ok");
    EXPECT_TRUE(WaitUntil([&] { return !install_->MainWindowVisible(); }, 10000));
    EXPECT_EQ(E2eTest::Terminate(program), 0);
}

TEST_F(DesktopBusTest, WithoutATrayBalloonsAreNotificationsAndASecondStartShowsTheWindow) {
    TBusSession bus({"--notifications"});
    install_->WriteConfig({{"CheckInterval", "1"}, {"BalloonLevel", "1"}});
    WriteServerList(install_->ListFile(), {{"gone", "http://127.0.0.1:1/"}});
    TProcess program = Start(bus);
    ASSERT_TRUE(WaitUntil([&] { return !Notices(bus).empty(); }, 30000));
    EXPECT_EQ(Notices(bus).front().at("body"), "Unable to load 'gone'");

    // Closed, the window has no tray icon to come back by: a second start brings it.
    const unsigned long window = session_->WaitForWindow("^Quorvane ", 5000);
    ASSERT_TRUE(WaitUntil(
        [&] { return session_->RequestClose(window) && !install_->MainWindowVisible(); }, 15000));
    TProcess second = install_->Start({bus.Environment()});
    EXPECT_EQ(second.WaitExit(10000), 0);
    EXPECT_TRUE(WaitUntil([&] { return install_->MainWindowVisible(); }, 10000));
    EXPECT_TRUE(program.Running());
    EXPECT_EQ(E2eTest::Terminate(program), 0);
}

} // namespace
} // namespace qrv::e2e
