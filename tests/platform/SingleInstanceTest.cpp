#include "ProbeProcess.h"

#include "platform/SingleInstance.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using qrv::probe::MakeTempDir;
using qrv::probe::RunProbe;
using qrv::probe::TProbe;

namespace {

// The lock is only ever taken in child processes: this process must stay free of it.
class SingleInstance : public ::testing::Test {
protected:
    void SetUp() override { Dir = MakeTempDir("qrv-lock"); }
    qrv::probe::TEnv Env() const { return {{"XDG_RUNTIME_DIR", Dir}}; }
    std::string Dir;
};

TEST(SingleInstancePath, FollowsTheRuntimeFolderOrFallsBackPerUser) {
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string keep = saved != nullptr ? saved : "";
    const std::string perUser =
        "/tmp/Ostrelle.Quorvane.0.9-" + std::to_string(::getuid()) + ".lock";
    struct {
        const char* Runtime; // nullptr: unset
        std::string Expected;
    } const rows[] = {
        {"/run/user/1000", "/run/user/1000/Ostrelle.Quorvane.0.9.lock"},
        {"/tmp/a b", "/tmp/a b/Ostrelle.Quorvane.0.9.lock"},
        {"", perUser},
        {nullptr, perUser},
    };
    for (const auto& row : rows) {
        if (row.Runtime != nullptr)
            ::setenv("XDG_RUNTIME_DIR", row.Runtime, 1);
        else
            ::unsetenv("XDG_RUNTIME_DIR");
        EXPECT_EQ(qrv::platform::SingleInstanceLockPath(), row.Expected)
            << (row.Runtime ? row.Runtime : "(unset)");
    }
    if (saved != nullptr)
        ::setenv("XDG_RUNTIME_DIR", keep.c_str(), 1);
    else
        ::unsetenv("XDG_RUNTIME_DIR");
}

TEST_F(SingleInstance, SecondProcessIsRefusedWhileTheFirstLives) {
    TProbe first(qrv::probe::TEnv{{"QRV_PROBE", "lock-hold"}, {"XDG_RUNTIME_DIR", Dir}});
    ASSERT_EQ(first.ReadLine(), "1");
    auto env = Env();
    env.emplace_back("QRV_PROBE", "lock-try");
    EXPECT_EQ(RunProbe(env), 1);
    EXPECT_EQ(RunProbe(env), 1);

    struct stat st {};
    ASSERT_EQ(::stat((Dir + "/Ostrelle.Quorvane.0.9.lock").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600U);

    // Another runtime folder is another session: no conflict.
    env[0].second = MakeTempDir("qrv-lock-other");
    EXPECT_EQ(RunProbe(env), 0);
}

TEST_F(SingleInstance, LockIsReleasedByEveryKindOfEnd) {
    auto tryEnv = Env();
    tryEnv.emplace_back("QRV_PROBE", "lock-try");
    {
        TProbe normal(qrv::probe::TEnv{{"QRV_PROBE", "lock-hold"}, {"XDG_RUNTIME_DIR", Dir}});
        ASSERT_EQ(normal.ReadLine(), "1");
        normal.CloseInput();
        EXPECT_EQ(normal.Wait(), 0);
    }
    EXPECT_EQ(RunProbe(tryEnv), 0);
    {
        TProbe killed(qrv::probe::TEnv{{"QRV_PROBE", "lock-hold"}, {"XDG_RUNTIME_DIR", Dir}});
        ASSERT_EQ(killed.ReadLine(), "1");
        ::kill(killed.Pid(), SIGKILL);
        EXPECT_EQ(killed.Wait(), 128 + SIGKILL);
    }
    EXPECT_EQ(RunProbe(tryEnv), 0);
}

TEST_F(SingleInstance, ProgramsStartedByTheHolderDoNotKeepTheLock) {
    TProbe holder(qrv::probe::TEnv{
        {"QRV_PROBE", "lock-hold"}, {"XDG_RUNTIME_DIR", Dir}, {"QRV_PROBE_SPAWN", "sleep"}});
    ASSERT_EQ(holder.ReadLine(), "1");
    const pid_t child = std::stoi(holder.ReadLine());
    ASSERT_GT(child, 0);
    holder.CloseInput();
    EXPECT_EQ(holder.Wait(), 0);

    auto env = Env();
    env.emplace_back("QRV_PROBE", "lock-try");
    EXPECT_EQ(RunProbe(env), 0) << "the started program inherited the lock";
    ::kill(child, SIGKILL);
}

TEST_F(SingleInstance, UnusableLockPlaceDoesNotStopTheProgram) {
    auto env = Env();
    env.emplace_back("QRV_PROBE", "lock-try");
    // A folder where the lock file should be, and a runtime folder that does not exist.
    ASSERT_EQ(::mkdir((Dir + "/Ostrelle.Quorvane.0.9.lock").c_str(), 0700), 0);
    EXPECT_EQ(RunProbe(env), 0);
    env[0].second = Dir + "/missing";
    EXPECT_EQ(RunProbe(env), 0);
    // A symlink planted in the lock's place is not followed.
    const std::string other = MakeTempDir("qrv-lock-link");
    ASSERT_EQ(
        ::symlink((other + "/target").c_str(), (other + "/Ostrelle.Quorvane.0.9.lock").c_str()), 0);
    env[0].second = other;
    EXPECT_EQ(RunProbe(env), 0);
    EXPECT_NE(::access((other + "/target").c_str(), F_OK), 0);
}

} // namespace
