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

} // namespace
