#include "shell/MmTextFile.h"

#include "platform/Error.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

namespace qrv::shell {
namespace {

namespace fs = std::filesystem;

class TTemp {
public:
    TTemp() {
        std::string tmpl = (fs::temp_directory_path() / "qrv-file-XXXXXX").string();
        path_ = ::mkdtemp(tmpl.data());
    }
    ~TTemp() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }

private:
    std::string path_;
};

void Put(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::optional<std::string> Get(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in || fs::is_directory(path)) {
        return std::nullopt;
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct TOpenCase {
    const char* Name;
    std::string File; // relative to the temporary folder; "/..." absolute; "" as given
    TOpenMode Mode;
    bool CreateIfMissing;
    std::string Error; // "" for success; "$F" stands for FileName
    TOpenMode After;
    std::optional<std::string> Content; // of the file after Open and Close
};

void PrintTo(const TOpenCase& c, std::ostream* os) {
    *os << c.Name;
}

class MmTextFileOpen : public ::testing::TestWithParam<TOpenCase> {};

// Before each row: "old.txt" holds "old\r\n", "folder/" is a directory, "plain" a file.
TEST_P(MmTextFileOpen, FollowsTheModeRules) {
    const TOpenCase& c = GetParam();
    TTemp dir;
    Put(dir / "old.txt", "old\r\n");
    Put(dir / "plain", "x");
    fs::create_directories(dir / "folder");

    TMmTextFile file;
    file.CreateIfMissing = c.CreateIfMissing;
    file.FileName = c.File.empty() || c.File[0] == '/' ? c.File : dir / c.File;
    std::string error;
    try {
        file.Open(c.Mode);
    } catch (const Error& e) {
        error = e.what();
    }
    std::string expected = c.Error;
    if (const auto at = expected.find("$F"); at != std::string::npos) {
        expected.replace(at, 2, file.FileName);
    }
    // The kernel refuses a read-only /proc file to an ordinary user before root's EINVAL.
    if (const auto at = expected.find("Invalid argument");
        at != std::string::npos && c.File == "/proc/version" && ::geteuid() != 0) {
        expected.replace(at, std::string("Invalid argument").size(), "Permission denied");
    }
    EXPECT_EQ(error, expected);
    EXPECT_EQ(file.OpenMode(), c.After);
    file.Close();
    EXPECT_EQ(file.OpenMode(), TOpenMode::Closed);
    if (!c.File.empty() && c.File[0] != '/') {
        EXPECT_EQ(Get(file.FileName), c.Content);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, MmTextFileOpen,
    ::testing::Values(
        TOpenCase{"ReadExisting", "old.txt", TOpenMode::Read, false, "", TOpenMode::Read,
                  "old\r\n"},
        TOpenCase{"ReadMissing", "none.txt", TOpenMode::Read, true, "File '$F' does not exist!",
                  TOpenMode::Closed, std::nullopt},
        TOpenCase{"ReadFolder", "folder", TOpenMode::Read, false, "File '$F' does not exist!",
                  TOpenMode::Closed, std::nullopt},
        TOpenCase{"RewriteEmpties", "old.txt", TOpenMode::Rewrite, false, "", TOpenMode::Rewrite,
                  ""},
        TOpenCase{"RewriteCreatesFolders", "a/b/c/new.log", TOpenMode::Rewrite, false, "",
                  TOpenMode::Rewrite, ""},
        TOpenCase{"RewriteBareName", "", TOpenMode::Rewrite, false,
                  "Unable to create file '': Unable to create directory", TOpenMode::Closed,
                  std::nullopt},
        TOpenCase{"RewriteBelowAFile", "plain/sub/x.log", TOpenMode::Rewrite, false,
                  "Unable to create file '$F': Not a directory", TOpenMode::Closed, std::nullopt},
        TOpenCase{"RewriteOverAFolder", "folder", TOpenMode::Rewrite, false,
                  "Unable to create file '$F': Is a directory", TOpenMode::Closed, std::nullopt},
        TOpenCase{"AppendExisting", "old.txt", TOpenMode::Append, false, "", TOpenMode::Append,
                  "old\r\n"},
        TOpenCase{"AppendMissingCreates", "x/y/new.log", TOpenMode::Append, true, "",
                  TOpenMode::Rewrite, ""},
        TOpenCase{"AppendMissingRefused", "new.log", TOpenMode::Append, false,
                  "Cannot call append for file '$F' which doesn not exist", TOpenMode::Closed,
                  std::nullopt},
        TOpenCase{"AppendOverAFolder", "folder", TOpenMode::Append, true,
                  "Unable to create file '$F': Is a directory", TOpenMode::Closed, std::nullopt},
        TOpenCase{"AppendUnwritable", "/proc/version", TOpenMode::Append, false,
                  "Unable to call append for file '$F': Invalid argument", TOpenMode::Closed,
                  std::nullopt}),
    [](const auto& param) { return std::string(param.param.Name); });

TEST(MmTextFile, StartsClosedAndEmpty) {
    const TMmTextFile file;
    EXPECT_EQ(file.OpenMode(), TOpenMode::Closed);
    EXPECT_FALSE(file.CreateIfMissing);
    EXPECT_EQ(file.FileName, "");
}

TEST(MmTextFile, WritesLinesWithCrLfAndAppendsLater) {
    TTemp dir;
    TMmTextFile file;
    file.FileName = dir / "log.txt";
    file.CreateIfMissing = true;
    file.Open(TOpenMode::Append);
    file.WriteLine("first");
    file.WriteLine("");
    file.Close();
    file.Close(); // closing a closed file does nothing
    file.Open(TOpenMode::Append);
    file.WriteLine("second\r\nthird");
    file.Close();
    EXPECT_EQ(Get(dir / "log.txt"), "first\r\n\r\nsecond\r\nthird\r\n");
}

TEST(MmTextFile, FailedOpenBeforeTheModeIsSetKeepsTheMode) {
    TTemp dir;
    TMmTextFile file;
    file.FileName = dir / "a.txt";
    file.Open(TOpenMode::Rewrite);
    file.FileName = dir / "missing.txt";
    EXPECT_THROW(file.Open(TOpenMode::Read), Error);
    EXPECT_EQ(file.OpenMode(), TOpenMode::Rewrite);
    EXPECT_THROW(file.Open(TOpenMode::Append), Error);
    EXPECT_EQ(file.OpenMode(), TOpenMode::Rewrite);
    // The stream of the earlier open was let go; writing now is the platform's error.
    EXPECT_THROW(file.WriteLine("x"), Error);
    file.Close();
    EXPECT_EQ(file.OpenMode(), TOpenMode::Closed);
}

TEST(MmTextFile, WritingNeedsAFileOpenForOutput) {
    TTemp dir;
    Put(dir / "r.txt", "data");
    TMmTextFile file;
    file.FileName = dir / "r.txt";
    EXPECT_THROW(file.WriteLine("closed"), Error);
    file.Open(TOpenMode::Read);
    EXPECT_THROW(file.WriteLine("read only"), Error);
    file.Close();
    EXPECT_EQ(Get(dir / "r.txt"), "data");
}

TEST(MmTextFile, FailedCloseKeepsTheModeAndCanBeRetried) {
    TMmTextFile file;
    file.FileName = "/dev/full";
    file.Open(TOpenMode::Append);
    file.WriteLine("lost");
    try {
        file.Close();
        FAIL() << "closing /dev/full succeeded";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Unable to close file '/dev/full'!");
    }
    EXPECT_EQ(file.OpenMode(), TOpenMode::Append);
    file.Close();
    EXPECT_EQ(file.OpenMode(), TOpenMode::Closed);
}

} // namespace
} // namespace qrv::shell
