#include "platform/Paths.h"
#include "platform/Error.h"
#include "tests/support/OrdinaryUser.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace qrv::platform;

namespace {

std::string MakeTempDir() {
    std::string tmpl = ::testing::TempDir() + "qrv-paths-XXXXXX";
    return ::mkdtemp(tmpl.data());
}

TEST(Paths, ExecutableDirHoldsTheRunningBinary) {
    ASSERT_FALSE(ExecutablePath().empty());
    EXPECT_EQ(ExecutablePath().rfind(ExecutableDir() + "/", 0), 0U);
    EXPECT_EQ(::access(ExecutablePath().c_str(), X_OK), 0);
}

TEST(Paths, DirectoryOf) {
    EXPECT_EQ(DirectoryOf("/a/b/c.log"), "/a/b");
    EXPECT_EQ(DirectoryOf("/c.log"), "/");
    EXPECT_EQ(DirectoryOf("c.log"), "");
}

TEST(Paths, AtomicWriteReplacesWholeAndLeavesNoTemporaryFile) {
    const std::string dir = MakeTempDir();
    const std::string path = dir + "/list.xml";
    WriteFileAtomically(path, "first");
    WriteFileAtomically(path, "second, longer");
    std::string back;
    ASSERT_TRUE(ReadWholeFile(path, back));
    EXPECT_EQ(back, "second, longer");
    EXPECT_EQ(std::system(("test $(ls -A " + dir + " | wc -l) -eq 1").c_str()), 0);
}

TEST(Paths, AtomicWriteIntoAMissingFolderFailsAndKeepsNothing) {
    const std::string dir = MakeTempDir();
    EXPECT_THROW(WriteFileAtomically(dir + "/no/such/list.xml", "x"), qrv::Error);
    // A file standing where a folder should be stops the creation of directories.
    WriteFileAtomically(dir + "/plain", "x");
    EXPECT_FALSE(CreateDirectories(dir + "/plain/sub"));
    EXPECT_TRUE(CreateDirectories(dir + "/a/b/c"));
    struct stat st {};
    EXPECT_EQ(::stat((dir + "/a/b/c").c_str(), &st), 0);
}

TEST(Paths, AtomicWriteGoesThroughLinksAndKeepsTheOwner) {
    const std::string dir = MakeTempDir();
    ASSERT_EQ(::chmod(dir.c_str(), 0755), 0);
    ASSERT_TRUE(CreateDirectories(dir + "/real"));
    WriteFileAtomically(dir + "/real/list.xml", "old");
    ASSERT_EQ(::symlink("real/list.xml", (dir + "/link.xml").c_str()), 0);
    ASSERT_EQ(::symlink("real/new.xml", (dir + "/dangling.xml").c_str()), 0);
    WriteFileAtomically(dir + "/link.xml", "through the link");
    WriteFileAtomically(dir + "/dangling.xml", "made at the target");
    std::string back;
    struct stat st {};
    ASSERT_EQ(::lstat((dir + "/link.xml").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_TRUE(ReadWholeFile(dir + "/real/list.xml", back));
    EXPECT_EQ(back, "through the link");
    ASSERT_TRUE(ReadWholeFile(dir + "/real/new.xml", back));
    EXPECT_EQ(back, "made at the target");

    // Another account's file keeps its owner and mode when root saves it.
    if (::geteuid() == 0) {
        const std::string theirs = dir + "/real/theirs.xml";
        WriteFileAtomically(theirs, "x");
        ASSERT_EQ(::chown(theirs.c_str(), qrv::test::kNobody, qrv::test::kNobody), 0);
        ASSERT_EQ(::chmod(theirs.c_str(), 0640), 0);
        WriteFileAtomically(theirs, "saved by root");
        ASSERT_EQ(::stat(theirs.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, qrv::test::kNobody);
        EXPECT_EQ(st.st_mode & 0777, 0640U);
    }

    // A list the user may write in a folder the user may not: saved in place.
    const std::string mine = dir + "/real/mine.xml";
    WriteFileAtomically(mine, "before");
    ASSERT_EQ(::chmod(mine.c_str(), 0666), 0);
    EXPECT_EQ(qrv::test::AsOrdinaryUser({},
                                        [&]() -> std::string {
                                            try {
                                                WriteFileAtomically(mine, "saved in place");
                                            } catch (const qrv::Error& e) {
                                                return e.what();
                                            }
                                            return {};
                                        }),
              "");
    ASSERT_TRUE(ReadWholeFile(mine, back));
    EXPECT_EQ(back, "saved in place");
}

// Sets an environment variable for the life of the object; nullptr unsets it.
class TScopedEnv {
public:
    TScopedEnv(const char* name, const char* value) : name_(name) {
        const char* old = std::getenv(name);
        hadOld_ = old != nullptr;
        old_ = hadOld_ ? old : "";
        value != nullptr ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~TScopedEnv() { hadOld_ ? ::setenv(name_, old_.c_str(), 1) : ::unsetenv(name_); }

private:
    const char* name_;
    bool hadOld_ = false;
    std::string old_;
};

TEST(Paths, UserFoldersFollowTheXdgVariablesElseTheHome) {
    const struct {
        const char *Home, *ConfigHome, *DataHome, *Config, *Data;
    } cases[] = {
        {"/home/u", nullptr, nullptr, "/home/u/.config", "/home/u/.local/share"},
        {"/home/u/", "/c/", "/d", "/c", "/d"},
        {"/home/u", "relative", "", "/home/u/.config", "/home/u/.local/share"},
    };
    for (const auto& c : cases) {
        TScopedEnv home("HOME", c.Home), config("XDG_CONFIG_HOME", c.ConfigHome),
            data("XDG_DATA_HOME", c.DataHome);
        EXPECT_EQ(UserConfigDir(), c.Config) << c.Home;
        EXPECT_EQ(UserDataDir(), c.Data) << c.Home;
    }
    // Without HOME the password database names the home.
    TScopedEnv home("HOME", nullptr), config("XDG_CONFIG_HOME", nullptr);
    ASSERT_FALSE(HomeDir().empty());
    EXPECT_EQ(UserConfigDir(), HomeDir() + "/.config");
}

TEST(Paths, ProgramFilesStayBesideAPortableCopyAndGoToTheUserForAnInstalledOne) {
    const std::string dir = MakeTempDir();
    ASSERT_EQ(::chmod(dir.c_str(), 0755), 0);
    const std::string data = dir + "/data";
    const std::string perUser = data + "/Ostrelle/Quorvane";
    TScopedEnv dataHome("XDG_DATA_HOME", data.c_str());
    ASSERT_TRUE(CreateDirectories(dir + "/portable"));
    ASSERT_TRUE(CreateDirectories(dir + "/usr/bin"));
    ASSERT_TRUE(CreateDirectories(dir + "/usr/share/applications"));
    ASSERT_TRUE(CreateDirectories(dir + "/other/bin")); // a bin folder without the entry
    WriteFileAtomically(dir + "/usr/share/applications/" + kDesktopEntryId + ".desktop", "");

    EXPECT_FALSE(IsInstalledCopy(dir + "/portable"));
    EXPECT_FALSE(IsInstalledCopy(dir + "/other/bin"));
    EXPECT_TRUE(IsInstalledCopy(dir + "/usr/bin"));
    EXPECT_EQ(ResolveProgramDataDir(dir + "/portable"), dir + "/portable");
    EXPECT_EQ(ResolveProgramDataDir(dir + "/other/bin"), dir + "/other/bin");
    EXPECT_FALSE(std::filesystem::exists(data));
    // Installed: never beside the executable, by root either; the folder is the user's alone.
    EXPECT_EQ(ResolveProgramDataDir(dir + "/usr/bin"), perUser);
    struct stat st {};
    ASSERT_EQ(::stat(perUser.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700U);

    // A portable copy in a folder this user may not write.
    std::filesystem::remove_all(data);
    ASSERT_TRUE(CreateDirectories(data));
    ASSERT_EQ(::chmod((dir + "/portable").c_str(), 0555), 0);
    EXPECT_EQ(qrv::test::AsOrdinaryUser({data},
                                        [&] {
                                            const std::string got =
                                                ResolveProgramDataDir(dir + "/portable");
                                            return got == perUser ? "" : got;
                                        }),
              "");
}

TEST(Paths, LeftoverTemporaryFilesOfThisUserAreRemoved) {
    const std::string dir = MakeTempDir();
    for (const char* name :
         {".qrv-tmp-a1B2c3", ".qrv-tmp-zzzzzz", ".qrv-tmp-short", "QRV.xml", ".qrv-tmp-a1B2c3d"}) {
        WriteFileAtomically(dir + "/" + name, "x");
    }
    ASSERT_TRUE(CreateDirectories(dir + "/.qrv-tmp-folder"));
    ASSERT_EQ(::symlink("QRV.xml", (dir + "/.qrv-tmp-link01").c_str()), 0);
    ASSERT_EQ(::chown((dir + "/.qrv-tmp-zzzzzz").c_str(), qrv::test::kNobody, qrv::test::kNobody),
              ::geteuid() == 0 ? 0 : -1);

    EXPECT_EQ(RemoveLeftoverTemporaries(dir), ::geteuid() == 0 ? 1 : 2);
    for (const char* kept :
         {".qrv-tmp-short", "QRV.xml", ".qrv-tmp-a1B2c3d", ".qrv-tmp-folder", ".qrv-tmp-link01"}) {
        EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(dir + "/" + kept)))
            << kept;
    }
    EXPECT_FALSE(std::filesystem::exists(dir + "/.qrv-tmp-a1B2c3"));
    EXPECT_EQ(std::filesystem::exists(dir + "/.qrv-tmp-zzzzzz"), ::geteuid() == 0);
    EXPECT_EQ(RemoveLeftoverTemporaries(dir + "/missing"), 0);
}

} // namespace
