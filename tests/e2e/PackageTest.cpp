// The package as a user gets it: made by cpack from this build, installed with apt-get, and the
// installed program run by ordinary users made for the test, with only the variables that an
// ordinary session has. Needs root (to install and to make users); skipped otherwise.

#include "E2eSupport.h"
#include "TestHttpServer.h"

#include <csignal>
#include <pwd.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace qrv::e2e {
namespace {

constexpr char kProgram[] = "/usr/bin/quorvane";
constexpr char kDesktopEntry[] = "/usr/share/applications/" QRV_APP_ID ".desktop";
constexpr char kMetainfo[] = "/usr/share/metainfo/" QRV_APP_ID ".metainfo.xml";

class PackageTest : public ::testing::Test {
public:
    static void SetUpTestSuite() {
        if (::geteuid() != 0) {
            skip_ = "installing a package needs root";
            return;
        }
        if (RunCommand({"dpkg-query", "-W", "quorvane"}, Plain()).Status == 0) {
            skip_ = "a quorvane package is installed already; the test would replace it";
            return;
        }
        work_ = fs::temp_directory_path() / ("qrv-package-" + std::to_string(::getpid()));
        fs::create_directories(work_);
        const TRunResult made =
            RunCommand({QRV_CPACK_COMMAND, "-G", "DEB", "--config",
                        QRV_BINARY_DIR "/CPackConfig.cmake", "-B", work_.string()},
                       Plain(), 300000);
        for (const auto& item : fs::directory_iterator(work_)) {
            if (item.path().extension() == ".deb") {
                deb_ = item.path();
            }
        }
        if (made.Status != 0 || deb_.empty()) {
            problem_ = "cpack failed:\n" + made.Output;
            return;
        }
        std::vector<std::string> env = Plain();
        env.push_back("DEBIAN_FRONTEND=noninteractive");
        const TRunResult installed = RunCommand(
            {"apt-get", "install", "-y", "--no-install-recommends", deb_.string()}, env, 300000);
        if (installed.Status != 0) {
            problem_ = "apt-get install failed:\n" + installed.Output;
            return;
        }
        installed_ = true;
        session_ = std::make_unique<TXSession>();
    }

    static void TearDownTestSuite() {
        session_.reset();
        if (installed_) {
            RunCommand({"dpkg", "--purge", "quorvane"}, Plain(), 120000);
        }
        if (!work_.empty()) {
            fs::remove_all(work_);
        }
    }

protected:
    void SetUp() override {
        if (!skip_.empty()) {
            GTEST_SKIP() << skip_;
        }
        ASSERT_TRUE(problem_.empty()) << problem_;
        ASSERT_TRUE(session_ && session_->Ok()) << session_->Problem();
    }

    // The installed program as `user`, with what an ordinary session has and nothing else.
    static TProcess StartAs(const TUser& user, const fs::path& output) {
        // A sanitized build's package needs the preset's options as well; nothing else.
        std::vector<std::string> env = SanitizerOptions();
        env.insert(env.end(), {"HOME=" + user.Home.string(), "DISPLAY=" + session_->Display(),
                               "XDG_RUNTIME_DIR=" + user.Runtime.string()});
        return TProcess(user.As({kProgram}), env, output.string());
    }

    static std::optional<int> Terminate(TProcess& program) {
        program.Signal(SIGTERM);
        return program.WaitExit(20000);
    }

    // Settings > tick or clear "Start after run" (and set the check interval) > Save & use.
    static bool SaveSettings(unsigned long window, const std::string& interval) {
        TXSession& x = *session_;
        if (!x.Keys(window, {"ctrl+s"})) {
            return false;
        }
        const unsigned long settings = x.WaitForWindow("^Application settings$");
        return settings != 0 && x.Click(settings, 248, 141) && x.Keys(settings, {"ctrl+a"}) &&
               x.Type(settings, interval) && x.Click(settings, 160, 286) &&
               x.Click(settings, 307, 476) &&
               WaitUntil([&] { return !x.WindowVisible("^Application settings$"); }, 15000);
    }

    static std::string skip_;
    static std::string problem_;
    static fs::path work_;
    static fs::path deb_;
    static bool installed_;
    static std::unique_ptr<TXSession> session_;
};

std::string PackageTest::skip_;
std::string PackageTest::problem_;
fs::path PackageTest::work_;
fs::path PackageTest::deb_;
bool PackageTest::installed_ = false;
std::unique_ptr<TXSession> PackageTest::session_;

TEST_F(PackageTest, HoldsTheDesktopFilesAndPassesTheValidators) {
    const std::string files = RunCommand({"dpkg", "-c", deb_.string()}, Plain()).Output;
    for (const char* path :
         {"./usr/bin/quorvane", kDesktopEntry, kMetainfo, "/usr/share/man/man1/quorvane.1.gz",
          "/usr/share/doc/quorvane/copyright", "/usr/share/doc/quorvane/changelog.gz",
          "/usr/share/icons/hicolor/scalable/apps/" QRV_APP_ID ".svg",
          "/usr/share/icons/hicolor/16x16/apps/" QRV_APP_ID ".png",
          "/usr/share/icons/hicolor/256x256/apps/" QRV_APP_ID ".png"}) {
        EXPECT_NE(files.find(path), std::string::npos) << path << "\n" << files;
    }
    const std::string depends =
        RunCommand({"dpkg-deb", "--field", deb_.string(), "Depends"}, Plain()).Output;
    for (const char* library : {"qt6-qpa-plugins", "libqt6widgets6", "libc6"}) {
        EXPECT_NE(depends.find(library), std::string::npos) << depends;
    }
    // The catalogues appended to the program survived the packaging: Czech is there.
    EXPECT_EQ(RunCommand({"grep", "-c", "Kontroluji", kProgram}, Plain()).Status, 0);

    const TRunResult desktop = RunCommand({"desktop-file-validate", kDesktopEntry}, Plain());
    EXPECT_EQ(desktop.Status, 0) << desktop.Output;
    const TRunResult appstream =
        RunCommand({"appstreamcli", "validate", "--no-net", kMetainfo}, Plain(), 60000);
    EXPECT_EQ(appstream.Status, 0) << appstream.Output;
    std::vector<std::string> lint = {"lintian", "--fail-on", "error"};
    if (std::string_view(QRV_BUILD_TYPE) != "Release") {
        // Only a release program is stripped (as it is linked); a debug one keeps its symbols.
        lint.insert(lint.end(), {"--suppress-tags", "unstripped-binary-or-object"});
    }
    lint.push_back(deb_.string());
    const TRunResult lintian = RunCommand(lint, Plain(), 300000);
    EXPECT_EQ(lintian.Status, 0) << lintian.Output;
}

TEST_F(PackageTest, OrdinaryUsersRunTheInstalledProgramWithFilesOfTheirOwn) {
    const TUser first = OrdinaryUser("qrv-package-a");
    const TUser second = OrdinaryUser("qrv-package-b");
    ASSERT_NE(first.Uid, 0u);
    ASSERT_NE(second.Uid, 0u);
    std::string firstList;

    for (const TUser* user : {&first, &second}) {
        SCOPED_TRACE(user->Name);
        const fs::path output = work_ / (user->Name + ".txt");
        TProcess program = StartAs(*user, output);
        std::vector<unsigned long> boxes;
        ASSERT_NE(WaitForMainWindow(*session_, 30000, &boxes), 0u) << ReadFile(output);
        // "Default configuration used" and "Dataset does not exist. File recreated."
        EXPECT_EQ(boxes.size(), 2u);
        EXPECT_EQ(FileMode(user->Settings()), 0600u);
        EXPECT_EQ(FileMode(user->Data()), 0700u);
        const std::string settings = ReadFile(user->Settings());
        EXPECT_NE(settings.find("\"LogFile\"=\"" + (user->Data() / "QRV.log").string() + "\""),
                  std::string::npos)
            << settings;
        EXPECT_NE(ReadFile(user->Data() / "QRV.log").find("Dataset does not exist"),
                  std::string::npos);
        EXPECT_EQ(Terminate(program), 0);
        // The end signal saved the list, with the example server.
        const std::string list = ReadFile(user->Data() / "QRV.xml");
        EXPECT_NE(list.find("<ROW RowState=\"4\" Name=\"Ostrelle\""), std::string::npos) << list;
        if (user == &first) {
            firstList = list;
        }
    }
    // The second user's start left the first user's files alone.
    EXPECT_EQ(ReadFile(first.Data() / "QRV.xml"), firstList);

    // Again as the first user: no box; a settings save and Start after run on, then off.
    const fs::path output = work_ / "again.txt";
    TProcess again = StartAs(first, output);
    std::vector<unsigned long> boxes;
    const unsigned long window = WaitForMainWindow(*session_, 30000, &boxes);
    ASSERT_NE(window, 0u) << ReadFile(output);
    EXPECT_TRUE(boxes.empty());
    ASSERT_TRUE(SaveSettings(window, "77")) << ReadFile(output);
    EXPECT_NE(ReadFile(first.Settings()).find("\"CheckInterval\"=\"77\""), std::string::npos);
    EXPECT_NE(ReadFile(first.Autostart()).find("Exec=\"/usr/bin/quorvane\""), std::string::npos);
    ASSERT_TRUE(SaveSettings(window, "78"));
    EXPECT_NE(ReadFile(first.Settings()).find("\"CheckInterval\"=\"78\""), std::string::npos);
    EXPECT_FALSE(fs::exists(first.Autostart()));
    EXPECT_EQ(Terminate(again), 0);
    EXPECT_EQ(ReadFile(second.Settings()).find("\"CheckInterval\"=\"78\""), std::string::npos);

    // Nothing of theirs anywhere but their homes and runtime folders.
    for (const TUser* user : {&first, &second}) {
        const TRunResult found = RunCommand(
            {"find", "/etc", "/usr", "/opt", "/var", "/srv", "/root", "/tmp", "-xdev", "-path",
             user->Runtime.string(), "-prune", "-o", "-user", user->Name, "-print"},
            Plain(), 120000);
        EXPECT_EQ(found.Output, "") << user->Name;
    }
}

// The machine-wide places belong to the administrator: root's start writes root's own copies,
// and a user who starts after root gets defaults of their own, with their own log, and their
// servers are checked.
TEST_F(PackageTest, RootWritesNothingMachineWideAndUsersAfterRootCheckTheirServers) {
    const auto machineWide = [] {
        return RunCommand({"find", "/etc/xdg", "-printf", "%p %s %T@\\n"}, Plain()).Output;
    };
    const std::string before = machineWide();
    ASSERT_FALSE(fs::exists("/etc/xdg/Ostrelle"));

    // Root, with a home of its own for the test.
    TUser root{"root", 0, 0, work_ / "root-home", work_ / "root-runtime"};
    fs::create_directories(root.Home);
    fs::create_directories(root.Runtime);
    ::chmod(root.Runtime.c_str(), 0700);
    {
        const fs::path output = work_ / "root.txt";
        TProcess program = StartAs(root, output);
        const unsigned long window = WaitForMainWindow(*session_, 30000);
        ASSERT_NE(window, 0u) << ReadFile(output);
        ASSERT_TRUE(SaveSettings(window, "3600")) << ReadFile(output); // Start after run on
        EXPECT_NE(ReadFile(root.Settings()).find("\"CheckInterval\"=\"3600\""), std::string::npos);
        EXPECT_NE(ReadFile(root.Autostart()).find("Exec=\"/usr/bin/quorvane\""), std::string::npos);
        EXPECT_EQ(Terminate(program), 0);
    }
    EXPECT_EQ(machineWide(), before);

    // An ordinary user after root: the defaults into a key of their own, their log written,
    // their server checked.
    test::TTestHttpServer server;
    server.Route("/up", test::Reply(200, "fine"));
    const TUser user = OrdinaryUser("qrv-package-c");
    ASSERT_NE(user.Uid, 0u);
    fs::create_directories(user.Data());
    WriteServerList(user.Data() / "QRV.xml", {{"local", server.Url("/up")}});
    for (fs::path path = user.Data() / "QRV.xml"; path != user.Home; path = path.parent_path()) {
        ASSERT_EQ(::chown(path.c_str(), user.Uid, user.Gid), 0) << path;
    }
    const fs::path output = work_ / "after-root.txt";
    TProcess program = StartAs(user, output);
    std::vector<unsigned long> boxes;
    const unsigned long window = WaitForMainWindow(*session_, 30000, &boxes);
    ASSERT_NE(window, 0u) << ReadFile(output);
    EXPECT_EQ(boxes.size(), 1u); // "Default configuration used"
    const std::string settings = ReadFile(user.Settings());
    EXPECT_NE(settings.find("\"LogFile\"=\"" + (user.Data() / "QRV.log").string() + "\""),
              std::string::npos)
        << settings;
    ASSERT_TRUE(SaveSettings(window, "1")) << ReadFile(output);
    EXPECT_TRUE(WaitUntil(
        [&] {
            return ReadFile(user.Data() / "QRV.log").find("Completed with no errors.") !=
                   std::string::npos;
        },
        30000))
        << ReadFile(user.Data() / "QRV.log") << ReadFile(output);
    EXPECT_EQ(Terminate(program), 0);
    EXPECT_NE(ReadFile(user.Data() / "QRV.xml").find("Name=\"local\" Status=\"OK\""),
              std::string::npos)
        << ReadFile(user.Data() / "QRV.xml");
    EXPECT_EQ(machineWide(), before);
}

} // namespace
} // namespace qrv::e2e
