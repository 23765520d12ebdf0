// What the window does when things go wrong behind it: a log that cannot be written, a server
// that drops packets, a run that starts while the Delete question is open, and a list that
// cannot be saved at the end.

#include "GuiTestSupport.h"

#include "FileSizeLimit.h"
#include "TestHttpServer.h"
#include "engine/ServerList.h"
#include "engine/http/HttpClient.h"
#include "shell/app/TrayIcon.h"

#include <QAction>
#include <QApplication>
#include <QTimer>
#include <QToolButton>

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <sys/mount.h>
#include <sys/resource.h>

namespace qrv::test {
namespace {

using FailureTest = TGuiTest;
using engine::TField;
using gui::TMessageAnswer;

std::vector<std::string> Statuses(gui::TMainForm& form) {
    std::vector<std::string> out;
    for (int i = 0; i < form.setServer.RecordCount(); ++i) {
        out.push_back(form.setServer.AsStringAt(i, TField::Name) + " " +
                      form.setServer.AsStringAt(i, TField::Status));
    }
    return out;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

// The boxes shown so far, once the event loop has shown those it was asked to.
std::vector<gui::TMessageRecord> SettledBoxes() {
    for (int i = 0; i < 5; ++i) {
        QApplication::processEvents();
    }
    return gui::MessageBoxSeam::TakeShown();
}

TEST_F(FailureTest, ALogThatCannotBeWrittenNeverStopsMonitoring) {
    TTestHttpServer server;
    server.Route("/ok", Reply(200, "OK"));
    const fs::path folder = Dir() / "folder.log";
    fs::create_directory(folder);
    const auto notice = [](const fs::path& path, const std::string& reason) {
        return "The event log '" + path.string() + "' cannot be written: Unable to create file '" +
               path.string() + "': " + reason +
               "\rServers are still checked, but events are not logged.";
    };
    WriteConfig({{"LogEnabled", {}, 1u},
                 {"LogFile", folder.string(), {}},
                 {"BalloonLevel", std::string("1"), {}}});
    WriteList({{"bad", server.Url("/missing")}, {"good", server.Url("/ok")}});
    {
        gui::TMainForm& form = Start();
        SettledBoxes();
        for (int run = 0; run < 3; ++run) {
            SCOPED_TRACE("run " + std::to_string(run));
            RunCheck();
            EXPECT_EQ(Statuses(form), (std::vector<std::string>{"bad ERR_LOAD", "good OK"}));
            EXPECT_EQ(form.TrayIcon->ImageIndex(), 1);
            ASSERT_TRUE(form.TrayIcon->LastBalloon());
            EXPECT_EQ(form.TrayIcon->LastBalloon()->Text, "Unable to load 'bad'");
            EXPECT_FALSE(form.buttonWarning->isHidden());
            EXPECT_TRUE(form.actionServerAdd->isEnabled());
            EXPECT_TRUE(form.timerCheck->isActive());
        }
        const auto boxes = SettledBoxes();
        ASSERT_EQ(boxes.size(), 1u) << "told once, not once per run";
        EXPECT_EQ(boxes[0].Caption, "Application notification");
        EXPECT_EQ(boxes[0].Icon, gui::TMessageIcon::Warning);
        EXPECT_EQ(boxes[0].Text, notice(folder, "Is a directory"));
    }
    Stop();

    // Another path, as the next start takes it from the settings: told again.
    std::ofstream(Dir() / "plain") << "a file where a folder should be";
    const fs::path inFile = Dir() / "plain" / "QRV.log";
    WriteConfig({{"LogEnabled", {}, 1u}, {"LogFile", inFile.string(), {}}});
    Start();
    RunCheck();
    RunCheck();
    const auto boxes = SettledBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Text, notice(inFile, "Not a directory"));
    EXPECT_EQ(Statuses(Form()), (std::vector<std::string>{"bad ERR_LOAD", "good OK"}));
}

TEST_F(FailureTest, ALogThatCannotBeWrittenLeavesANewListItsExampleServer) {
    const fs::path folder = Dir() / "folder.log";
    fs::create_directory(folder);
    WriteConfig({{"LogEnabled", {}, 1u}, {"LogFile", folder.string(), {}}});
    gui::TMainForm& form = Start();
    EXPECT_EQ(Statuses(form), (std::vector<std::string>{"Ostrelle "}));
    EXPECT_TRUE(form.actionServerEdit->isEnabled());
    const auto boxes = SettledBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].Text, "Dataset does not exist. File recreated.");
    EXPECT_NE(boxes[1].Text.find("cannot be written"), std::string::npos) << boxes[1].Text;
}

TEST_F(FailureTest, TheRunsClientGivesUpConnectingAtItsLimit) {
    TUnansweredListener dropping;
    WriteConfig();
    WriteList({{"dropping", dropping.Url("/")}});
    EXPECT_EQ(Start().IdHTTP->ConnectTimeout(), gui::kRunConnectTimeout);
    Stop();

    options_.ConnectTimeout = 300;
    gui::TMainForm& form = Start();
    RunCheck();
    EXPECT_EQ(form.setServer.AsStringAt(0, TField::Result), "Unable to load: Connect timed out.");
}

TEST_F(FailureTest, DeleteRemovesTheRecordItNamedWhateverARunDoesMeanwhile) {
    WriteConfig();
    struct TCase {
        const char* What;
        int HoldAtPause; // the run waits in this pause while the answer is given; 0: never
    };
    for (const TCase& c : {TCase{"the run has ended when Yes comes", 0},
                           // Pause 5 is the first of "gamma": the cursor stands on it.
                           TCase{"the run is still going when Yes comes", 5}}) {
        SCOPED_TRACE(c.What);
        WriteList({{"alpha"}, {"beta"}, {"gamma"}});
        std::mutex mutex;
        std::condition_variable released;
        bool held = c.HoldAtPause != 0;
        std::atomic<int> pauses{0};
        options_.Pause = [&](int) {
            if (++pauses == c.HoldAtPause) {
                std::unique_lock lock(mutex);
                released.wait(lock, [&] { return !held; });
            }
        };
        gui::TMainForm& form = Start();
        form.setServer.MoveTo(1);
        SettledBoxes();

        gui::MessageBoxSeam::SetNextAnswer(TMessageAnswer::Yes);
        gui::MessageBoxSeam::SetOnShow([&](const gui::TMessageRecord&) {
            form.StartCheckRun();
            if (c.HoldAtPause == 0) {
                EXPECT_TRUE(WaitUntil([&] { return !form.RunInProgress(); }));
            } else {
                EXPECT_TRUE(WaitUntil([&] { return pauses.load() >= c.HoldAtPause; }));
            }
            EXPECT_EQ(form.setServer.RecNo(), 2) << "the run moved the cursor";
        });
        form.actionServerDelete->trigger();
        gui::MessageBoxSeam::SetOnShow(nullptr);
        const auto boxes = SettledBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].Text, "Do you wish to delete  beta?");

        if (c.HoldAtPause != 0) {
            EXPECT_EQ(form.setServer.RecordCount(), 3) << "the run still walks the list";
            {
                std::lock_guard lock(mutex);
                held = false;
            }
            released.notify_all();
        }
        ASSERT_TRUE(WaitUntil([&] { return !form.RunInProgress(); }));
        QApplication::processEvents();
        EXPECT_EQ(Statuses(form), (std::vector<std::string>{"alpha ERR_LOAD", "gamma ERR_LOAD"}));
        EXPECT_TRUE(form.actionServerDelete->isEnabled());
        Stop();
    }
}

// An environment variable for the length of a scope.
class TEnvScope {
public:
    TEnvScope(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        ::setenv(name, value.c_str(), 1);
    }
    ~TEnvScope() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    TEnvScope(const TEnvScope&) = delete;
    TEnvScope& operator=(const TEnvScope&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

std::vector<fs::path> FilesUnder(const fs::path& dir) {
    std::vector<fs::path> files;
    std::error_code ignored;
    for (const auto& entry : fs::recursive_directory_iterator(dir, ignored)) {
        if (entry.is_regular_file()) {
            files.push_back(entry.path());
        }
    }
    return files;
}

TEST_F(FailureTest, AListThatCannotBeSavedAtTheEndIsKeptElsewhereAndTheUserTold) {
    WriteConfig();
    const fs::path data = Dir() / "data";
    const fs::path list = data / "QRV.xml";
    const fs::path state = Dir() / "state";
    const fs::path temp = Dir() / "tmp";
    fs::create_directories(temp);
    enum class TBreak {
        Gone,     // the folder is gone (a lost mount): root cannot write there either
        DiskFull, // the data folder's file system has no room left
        NoRoom,   // no file can grow anywhere (a file size limit of one byte)
    };
    struct TCase {
        const char* What;
        TBreak Break;
        std::string StateHome;
        fs::path CopiedTo;  // where the copy is looked for; empty: none
        std::string Reason; // why the list itself failed
    };
    const TCase cases[] = {
        {"the data folder is gone", TBreak::Gone, state.string(), state / "Ostrelle/Quorvane",
         "Not a directory"},
        {"and the state folder cannot be made", TBreak::Gone, "/proc/qrv-state", temp,
         "Not a directory"},
        {"a full file system", TBreak::DiskFull, state.string(), state / "Ostrelle/Quorvane",
         "No space left on device"},
        {"nothing can be written anywhere", TBreak::NoRoom, state.string(), {}, "File too large"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        fs::remove_all(data);
        fs::remove_all(Dir() / "data.lost");
        fs::remove_all(state);
        fs::remove_all(temp);
        fs::create_directories(data);
        fs::create_directories(temp);
        const bool mounted = c.Break == TBreak::DiskFull &&
                             ::mount("tmpfs", data.c_str(), "tmpfs", 0, "size=64k") == 0;
        if (c.Break == TBreak::DiskFull && !mounted) {
            ADD_FAILURE() << "no small tmpfs could be mounted here";
            continue;
        }
        WriteList({{"alpha"}, {"beta"}});
        fs::copy_file(ListPath(), list);
        const TEnvScope stateHome("XDG_STATE_HOME", c.StateHome);
        const TEnvScope tmpdir("TMPDIR", temp.string());
        options_.ServerListPath = list.string();
        gui::TMainForm& form = Start();
        form.setServer.First();
        form.actionServerDeactivate->trigger(); // an edit that must not be lost
        SettledBoxes();

        if (c.Break == TBreak::NoRoom) {
            const TFileSizeLimit limit(1);
            ::testing::internal::CaptureStderr();
            Stop();
        } else {
            if (c.Break == TBreak::Gone) {
                fs::rename(data, Dir() / "data.lost");
                std::ofstream(data) << "";
            } else {
                // Fill what is left of the file system.
                std::ofstream filler(data / "filler", std::ios::binary);
                const std::string block(4096, 'x');
                for (int i = 0; i < 64 && filler.write(block.data(),
                                                       static_cast<std::streamsize>(block.size()));
                     ++i) {
                }
            }
            ::testing::internal::CaptureStderr();
            Stop();
        }
        const std::string err = ::testing::internal::GetCapturedStderr();
        if (mounted) {
            ::umount(data.c_str());
        }
        const std::string failure =
            "setServer: Unable to write file '" + list.string() + "': " + c.Reason;
        // (With no room anywhere, the captured stderr cannot grow either.)
        const bool stderrKept = c.Break != TBreak::NoRoom;
        if (stderrKept) {
            EXPECT_NE(err.find("Quorvane: " + failure + "\n"), std::string::npos) << err;
        }

        const auto boxes = gui::MessageBoxSeam::TakeShown();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].Caption, "Application error");
        EXPECT_EQ(boxes[0].Icon, gui::TMessageIcon::Error);
        if (c.CopiedTo.empty()) {
            EXPECT_EQ(boxes[0].Text, "The server list could not be saved: " + failure +
                                         "\rNo copy of the server list could be written either; "
                                         "the changes are lost.");
            continue;
        }
        const auto copies = FilesUnder(c.CopiedTo);
        ASSERT_EQ(copies.size(), 1u);
        const fs::path copy = copies[0];
        EXPECT_EQ(copy.filename().string().rfind("QRV.xml.unsaved-", 0), 0u) << copy;
        EXPECT_EQ(boxes[0].Text, "The server list could not be saved: " + failure +
                                     "\rThe server list was saved to '" + copy.string() +
                                     "' instead.");
        EXPECT_NE(err.find("'" + copy.string() + "'"), std::string::npos) << err;
        engine::TServerList saved;
        saved.OpenFromBytes(ReadFile(copy));
        ASSERT_EQ(saved.RecordCount(), 2);
        EXPECT_EQ(saved.AsStringAt(0, TField::Name), "alpha");
        EXPECT_FALSE(saved.AsBooleanAt(0, TField::Active)) << "the edit is in the copy";
        EXPECT_TRUE(saved.AsBooleanAt(1, TField::Active));
    }
}

} // namespace
} // namespace qrv::test
