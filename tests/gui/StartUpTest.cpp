// Start-up: configuration, list file, boxes, log line, the waiting state and the timer.

#include "GuiTestSupport.h"

#include "platform/Registry.h"
#include "shell/AppConfig.h"
#include "shell/app/TrayIcon.h"

#include <QAction>
#include <QTimer>

#include <fstream>

namespace qrv::test {
namespace {

using gui::TMessageIcon;

std::string BoxText(const gui::TMessageRecord& box) {
    return box.Caption + " / " + box.Text;
}

std::vector<std::string> BoxTexts() {
    std::vector<std::string> texts;
    for (const auto& box : TGuiTest::Boxes()) {
        texts.push_back(BoxText(box));
    }
    return texts;
}

using StartUpTest = TGuiTest;

struct TStartCase {
    const char* Name;
    std::function<void(TGuiTest&)> Prepare;
    std::vector<std::string> Boxes; // caption / text, in order
    std::vector<std::string> Rows;  // after start-up
    bool RecreatedLogLine;          // "Dataset does not exist. File recreated: " logged
    bool DamagedCopyKept;
};

const std::string kSeedRow = "Ostrelle||Waiting...|-1|on";
const std::string kDefaultBox = "Application notification / Default configuration used";
const std::string kRecreatedBox =
    "Application notification / Dataset does not exist. File recreated.";

TEST_F(StartUpTest, StartSituations) {
    const std::vector<TStartCase> cases = {
        {"first start", [](TGuiTest&) {}, {kDefaultBox, kRecreatedBox}, {kSeedRow}, true, false},
        {"valid configuration, missing list",
         [](TGuiTest& t) { t.WriteConfig(); },
         {kRecreatedBox},
         {kSeedRow},
         true,
         false},
        {"a malformed interval resets the configuration",
         [](TGuiTest& t) {
             t.WriteConfig({{"CheckInterval", std::string("abc"), {}}});
             t.WriteList({{"a"}});
         },
         {kDefaultBox},
         {"a||Waiting...|-1|on"},
         false,
         false},
        {"a flag stored as text resets the configuration",
         [](TGuiTest& t) {
             t.WriteConfig({{"LogEnabled", std::string("1"), {}}});
             t.WriteList({{"a"}});
         },
         {kDefaultBox},
         {"a||Waiting...|-1|on"},
         false,
         false},
        {"existing list: every row reset, active or not",
         [](TGuiTest& t) {
             t.WriteConfig();
             t.WriteList({{"b"}, {"a", "http://x/", false}, {"c"}});
         },
         {},
         {"a||Waiting...|-1|off", "b||Waiting...|-1|on", "c||Waiting...|-1|on"},
         false,
         false},
        {"damaged list is kept aside and re-created",
         [](TGuiTest& t) {
             t.WriteConfig();
             std::ofstream(t.ListPath()) << "<?xml version=\"1.0\"?><DATAPACKET";
         },
         {kRecreatedBox},
         {kSeedRow},
         true,
         true},
        {"empty list file opens without a seed",
         [](TGuiTest& t) {
             t.WriteConfig();
             t.WriteList({});
         },
         {},
         {},
         false,
         false},
    };
    for (const TStartCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TearDown();
        SetUp();
        c.Prepare(*this);
        Boxes();
        gui::TMainForm& form = Start();
        EXPECT_EQ(BoxTexts(), c.Boxes);
        EXPECT_EQ(ListRows(), c.Rows);
        EXPECT_TRUE(form.StartUpFinished());
        EXPECT_FALSE(fatalStop_);
        // Armed with the configured interval; no run at start-up.
        EXPECT_TRUE(form.timerCheck->isActive());
        EXPECT_EQ(form.timerCheck->interval(), 300000);
        EXPECT_FALSE(form.RunInProgress());
        EXPECT_EQ(shell::AppConfig().CheckInterval, 300);

        const std::string log = ReadLog();
        EXPECT_EQ(log.find("SYSTEM Dataset does not exist. File recreated: setServer: ") !=
                      std::string::npos,
                  c.RecreatedLogLine)
            << log;
        bool damagedCopy = false;
        for (const auto& entry : fs::directory_iterator(Dir())) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("QRV.xml.damaged-", 0) == 0) {
                damagedCopy = true;
                std::ifstream in(entry.path());
                std::string kept((std::istreambuf_iterator<char>(in)), {});
                EXPECT_EQ(kept, "<?xml version=\"1.0\"?><DATAPACKET");
            }
        }
        EXPECT_EQ(damagedCopy, c.DamagedCopyKept);
    }
}

TEST_F(StartUpTest, SeedRecordReachesTheFileAtTheEnd) {
    Start();
    Stop();
    std::ifstream in(ListPath(), std::ios::binary);
    const std::string file((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(file.find("<PARAMS CHANGE_LOG=\"1 0 4\"/>"), std::string::npos) << file;
    EXPECT_NE(file.find("<ROW RowState=\"4\" Name=\"Ostrelle\" Status=\"\" Result=\"Waiting...\" "
                        "Url=\"" QRV_VENDOR_URL "/\" Active=\"TRUE\" LoadTime=\"-1\" "
                        "Timeout=\"300\"/>"),
              std::string::npos)
        << file;
}

TEST_F(StartUpTest, ConfigurationThatCannotBeWrittenStopsTheProgram) {
    // A regular file where the configuration folder must go, machine-wide and in the user's
    // configuration: the defaults cannot be written.
    std::ofstream(Dir() / "config" / "Ostrelle") << "not a folder";
    std::ofstream(Dir() / "home") << "not a folder";
    Boxes();
    EXPECT_THROW(Start(), gui::TFatalStop);
    EXPECT_TRUE(fatalStop_);
    const auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(BoxText(boxes[0]), kDefaultBox);
    EXPECT_EQ(boxes[0].Icon, TMessageIcon::Information);
    EXPECT_EQ(BoxText(boxes[1]),
              "Application error / Unabled to write default configuration. Application stopped!");
    EXPECT_EQ(boxes[1].Icon, TMessageIcon::Error);
    EXPECT_FALSE(fs::exists(ListPath()));
}

TEST_F(StartUpTest, ListThatCannotBeCreatedStopsTheProgram) {
    WriteConfig();
    options_.ServerListPath = (Dir() / "no-such-folder" / "QRV.xml").string();
    Boxes();
    EXPECT_THROW(Start(), gui::TFatalStop);
    EXPECT_TRUE(fatalStop_);
    const auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(BoxText(boxes[0]),
              "Application error / Unabled to create URL list. Application stopped!");
}

TEST_F(StartUpTest, OutOfRangeIntervalNeverStartsARun) {
    for (const char* interval : {"0", "-5", "2147484"}) {
        SCOPED_TRACE(interval);
        TearDown();
        SetUp();
        WriteConfig({{"CheckInterval", std::string(interval), {}}});
        WriteList({{"a"}});
        gui::TMainForm& form = Start();
        EXPECT_TRUE(form.timerCheck->isActive());
        form.timerCheckTimer();
        EXPECT_FALSE(form.RunInProgress());
        EXPECT_TRUE(form.timerCheck->isActive());
        EXPECT_EQ(ListRows(), std::vector<std::string>{"a||Waiting...|-1|on"});
    }
}

TEST_F(StartUpTest, TrayStartsGreenWithTheApplicationTitle) {
    WriteConfig();
    gui::TMainForm& form = Start();
    EXPECT_EQ(form.TrayIcon->ImageIndex(), 0);
    EXPECT_EQ(form.TrayIcon->Hint(), "test_gui");
    EXPECT_FALSE(form.actionShow->isEnabled());
    EXPECT_TRUE(form.actionHide->isEnabled());
    EXPECT_EQ(form.windowTitle().toStdString(), "Quorvane " QRV_VERSION);
    EXPECT_EQ(form.centralWidget()->size(), QSize(570, 305));
}

TEST(ApplicationTitleTest, FileNameUpToItsFirstDotWithTheRestInLowerCase) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/opt/quorvane/quorvane", "quorvane"},
        {"/opt/QUORVANE.EXE", "Quorvane"},
        {"/a.b/my.prog.bin", "my"},
        {"relative", "relative"},
        {"/x/ČEŠTINA", "Čeština"},
        {"/x/" + std::string(200, 'A'), "A" + std::string(126, 'a')},
    };
    for (const auto& [path, title] : cases) {
        EXPECT_EQ(gui::ApplicationTitle(path), title) << path;
    }
}

} // namespace
} // namespace qrv::test
