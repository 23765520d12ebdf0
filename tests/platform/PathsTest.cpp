#include "platform/Error.h"
#include "platform/Paths.h"

#include <gtest/gtest.h>

#include <cstdlib>
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

} // namespace
