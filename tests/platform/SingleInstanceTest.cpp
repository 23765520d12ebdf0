#include "ProbeProcess.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using qrv::probe::MakeTempDir;
using qrv::probe::TProbe;

namespace {

// The lock is only ever taken in child processes: this process must stay free of it.
class SingleInstance : public ::testing::Test {
protected:
    std::string Dir = MakeTempDir("qrv-lock");
    int TryLock() { return TProbe({"QRV_PROBE=lock-try", "XDG_RUNTIME_DIR=" + Dir}).Finish(); }
    int Knock() { return TProbe({"QRV_PROBE=lock-knock", "XDG_RUNTIME_DIR=" + Dir}).Finish(); }
    std::string Socket() const { return Dir + "/Ostrelle.Quorvane.0.9.sock"; }
    TProbe* Hold(const std::string& extra = "QRV_PROBE_NONE=") {
        Holder = std::make_unique<TProbe>(
            std::vector<std::string>{"QRV_PROBE=lock-hold", "XDG_RUNTIME_DIR=" + Dir, extra});
        EXPECT_EQ(Holder->ReadLine(), "1");
        return Holder.get();
    }
    std::unique_ptr<TProbe> Holder;
};

TEST_F(SingleInstance, RefusedWhileTheFirstLivesAndFreedByEveryEnd) {
    Hold();
    EXPECT_EQ(TryLock(), 1);
    EXPECT_EQ(TryLock(), 1);
    struct stat st {};
    ASSERT_EQ(::stat((Dir + "/Ostrelle.Quorvane.0.9.lock").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600U);
    EXPECT_EQ(Holder->Finish(), 0);
    EXPECT_EQ(TryLock(), 0);

    ::kill(Hold()->Pid(), SIGKILL);
    EXPECT_EQ(Holder->Finish(), 128 + SIGKILL);
    EXPECT_EQ(TryLock(), 0);
}

TEST_F(SingleInstance, ProgramsStartedByTheHolderDoNotKeepTheLock) {
    const pid_t child = std::stoi(Hold("QRV_PROBE_SPAWN=sleep")->ReadLine());
    ASSERT_GT(child, 0);
    EXPECT_EQ(Holder->Finish(), 0);
    EXPECT_EQ(TryLock(), 0) << "the started program inherited the lock";
    ::kill(child, SIGKILL);
}

TEST_F(SingleInstance, AnUnusableLockFileFallsBackToTheTemporaryFolder) {
    // A planted symlink is never followed; the lock moves to /tmp, where it still excludes.
    ASSERT_EQ(::symlink((Dir + "/target").c_str(), (Dir + "/Ostrelle.Quorvane.0.9.lock").c_str()),
              0);
    Hold();
    EXPECT_EQ(TryLock(), 1) << "two instances ran beside an unusable lock file";
    EXPECT_NE(::access((Dir + "/target").c_str(), F_OK), 0);
    EXPECT_EQ(Holder->Finish(), 0);
    EXPECT_EQ(TryLock(), 0);
}

TEST_F(SingleInstance, ASecondStartKnocksAndOnlyTheUsersOwnDoorOpens) {
    // The running instance hears a second start; its door is this user's alone.
    ASSERT_EQ(Hold("QRV_PROBE_DOOR=1")->ReadLine(), "door");
    struct stat st {};
    ASSERT_EQ(::lstat(Socket().c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600U);
    EXPECT_EQ(Knock(), 0);
    EXPECT_EQ(Holder->ReadLine(), "knock");
    EXPECT_EQ(Holder->Finish(), 0);

    // An instance that ended without closing its door left the socket: the next one replaces it.
    EXPECT_EQ(Hold("QRV_PROBE_DOOR=1")->ReadLine(), "door");
    EXPECT_EQ(Knock(), 0);
    EXPECT_EQ(Holder->ReadLine(), "knock");
    EXPECT_EQ(Holder->Finish(), 0);

    // Anything else at the socket's place is left alone: the door stays shut, a knock goes
    // unanswered, and the second start still ends.
    ASSERT_EQ(::unlink(Socket().c_str()), 0);
    ASSERT_EQ(::symlink((Dir + "/elsewhere").c_str(), Socket().c_str()), 0);
    EXPECT_EQ(Hold("QRV_PROBE_DOOR=1")->ReadLine(), "shut");
    EXPECT_EQ(Knock(), 1);
    EXPECT_NE(::access((Dir + "/elsewhere").c_str(), F_OK), 0);
    EXPECT_EQ(Holder->Finish(), 0);
}

} // namespace
