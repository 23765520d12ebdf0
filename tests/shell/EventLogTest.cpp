#include "shell/EventLog.h"

#include "platform/CodePage.h"
#include "platform/Error.h"
#include "platform/Registry.h"
#include "shell/AppConfig.h"
#include "shell/LogLine.h"
#include "tests/support/FileSizeLimit.h"

#include <gtest/gtest.h>

#include <clocale>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <locale.h>
#include <optional>
#include <set>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace qrv::shell {
namespace {

namespace fs = std::filesystem;

const platform::TLocalTime kAfternoon{2010, 1, 25, 14, 3, 7, 0, 1};

std::optional<std::string> Get(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A machine configuration of our own (the real LoadConfig reads it), a fixed clock with the
// formats d.M.yyyy and H:mm:ss, and a temporary folder as the working directory.
class EventLog : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "qrv-log-XXXXXX").string();
        dir_ = ::mkdtemp(tmpl.data());
        ::setenv("XDG_CONFIG_DIRS", (dir_ + "/etc").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (dir_ + "/home").c_str(), 1);
        WriteDefaultConfig();
        SetLogEnabled(true);
        SetClock(kAfternoon);
        oldCwd_ = fs::current_path();
        fs::current_path(dir_);
        SetLogCharset("UTF-8");
    }
    void TearDown() override {
        fs::current_path(oldCwd_);
        SetLogClock({});
        SetLogCharset("");
        SetLogFailureNotifier({});
        ::unsetenv("XDG_CONFIG_DIRS");
        ::unsetenv("XDG_CONFIG_HOME");
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    static void SetLogEnabled(bool on) {
        auto key = platform::TRegistryKey::Create(kConfigKey, true);
        ASSERT_TRUE(key && key->SetDword("LogEnabled", on ? 1 : 0));
        LoadConfig();
        ASSERT_EQ(AppConfig().LogEnabled, on);
    }
    static void SetClock(platform::TLocalTime time) {
        platform::TRegionalFormats formats;
        formats.ShortDate = "d.M.yyyy";
        formats.LongTime = "H:mm:ss";
        SetLogClock({[time] { return time; }, formats});
    }
    std::string Path(const std::string& rel) const { return dir_ + "/" + rel; }

    std::string dir_;
    fs::path oldCwd_;
};

std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const Error& e) {
        return e.what();
    }
    return "no error";
}

TEST_F(EventLog, WritesOneLinePerEvent) {
    struct TRow {
        const char* Name;
        platform::TLocalTime Time;
        std::string Text, Category;
        const char* Charset;
        std::string Expected; // file content after the event
    };
    for (const auto& row : std::vector<TRow>{
             {"Afternoon", kAfternoon, "Checking...", "system", "UTF-8",
              "25.1.2010 14:03:07 SYSTEM Checking...\r\n"},
             {"Midnight",
              {2010, 1, 25, 0, 0, 0, 999, 1},
              "Checking...",
              "system",
              "UTF-8",
              "25.1.2010 SYSTEM Checking...\r\n"},
             {"OneSecondPast",
              {2010, 1, 25, 0, 0, 1, 0, 1},
              "x",
              "ok",
              "UTF-8",
              "25.1.2010 0:00:01 OK x\r\n"},
             {"Error", kAfternoon, "Unable to load 'a'", "error", "UTF-8",
              "25.1.2010 14:03:07 ERROR Unable to load 'a'\r\n"},
             {"Exception", kAfternoon, "e", "exception", "UTF-8",
              "25.1.2010 14:03:07 EXCEPTION e\r\n"},
             {"CaseMatters", kAfternoon, "t", "System", "UTF-8", "25.1.2010 14:03:07 OTHER t\r\n"},
             {"CaseMattersOk", kAfternoon, "t", "OK", "UTF-8", "25.1.2010 14:03:07 OTHER t\r\n"},
             {"EmptyCategory", kAfternoon, "t", "", "UTF-8", "25.1.2010 14:03:07 OTHER t\r\n"},
             {"LongerCategory", kAfternoon, "t", "errors", "UTF-8",
              "25.1.2010 14:03:07 OTHER t\r\n"},
             {"EmptyText", kAfternoon, "", "ok", "UTF-8", "25.1.2010 14:03:07 OK \r\n"},
             {"TwoPhysicalLines", kAfternoon, "Socket Error # 10061\r\nConnection refused.",
              "error", "UTF-8",
              "25.1.2010 14:03:07 ERROR Socket Error # 10061\r\nConnection refused.\r\n"},
             {"Utf8KeepsEveryCharacter", kAfternoon, "Čekám… 日本 😀", "system", "UTF-8",
              "25.1.2010 14:03:07 SYSTEM Čekám… 日本 😀\r\n"},
             {"Utf8RepairsBrokenBytes", kAfternoon, "a\xff", "system", "UTF-8",
              "25.1.2010 14:03:07 SYSTEM a\xef\xbf\xbd\r\n"},
             {"Latin2", kAfternoon, "Čekám… 日本", "system", "ISO-8859-2",
              "25.1.2010 14:03:07 SYSTEM \xc8"
              "ek\xe1m? ??\r\n"},
         }) {
        const std::string path = Path(std::string("rows/") + row.Name + ".log");
        SetLogCharset(row.Charset);
        SetClock(row.Time);
        CreateLogFileObject(path);
        WriteLog(row.Text, row.Category);
        EXPECT_EQ(Get(path), row.Expected) << row.Name;
    }
}

TEST_F(EventLog, AppendsToTheFileAndCreatesItsFolders) {
    const std::string path = Path("a/b/c/QRV.log");
    CreateLogFileObject(path);
    WriteLog("one", "system");
    WriteLog("two", "ok");
    EXPECT_EQ(Get(path), "25.1.2010 14:03:07 SYSTEM one\r\n25.1.2010 14:03:07 OK two\r\n");
}

TEST_F(EventLog, PathsThatCannotBeCreatedFailEveryEvent) {
    std::ofstream(Path("plain")) << "a file where a folder should be";
    struct TRow {
        std::string Path, Error;
    };
    for (const auto& [path, error] : std::vector<TRow>{
             {"QRV.log", "Unable to create file 'QRV.log': Unable to create directory"},
             {"", "Unable to create file '': Unable to create directory"},
             {Path("plain/QRV.log"),
              "Unable to create file '" + Path("plain/QRV.log") + "': Not a directory"},
         }) {
        CreateLogFileObject(path);
        EXPECT_EQ(ErrorOf([] { WriteLog("Checking...", "system"); }), error);
        EXPECT_EQ(ErrorOf([] { WriteLog("Checking...", "system"); }), error);
        EXPECT_EQ(ErrorOf([] { ClearLog(); }), error);
    }
    EXPECT_FALSE(fs::exists(Path("QRV.log")));
    // A bare name works while a file of that name exists in the working directory.
    std::ofstream(Path("QRV.log")) << "";
    CreateLogFileObject("QRV.log");
    WriteLog("here", "ok");
    EXPECT_EQ(Get(Path("QRV.log")), "25.1.2010 14:03:07 OK here\r\n");
}

TEST_F(EventLog, DisabledLogTouchesNothingButClearLogStillEmpties) {
    SetLogEnabled(false);
    const std::string kept = Path("kept.log");
    std::ofstream(kept) << "old line\r\n";
    CreateLogFileObject(kept);
    WriteLog("not written", "system");
    EXPECT_EQ(Get(kept), "old line\r\n");
    ClearLog();
    EXPECT_EQ(Get(kept), "");

    CreateLogFileObject(Path("new/dir/QRV.log"));
    WriteLog("not written", "error");
    EXPECT_FALSE(fs::exists(Path("new")));
    ClearLog();
    EXPECT_EQ(Get(Path("new/dir/QRV.log")), "");

    // Nothing is even tried: an impossible path shows no failure.
    CreateLogFileObject("");
    EXPECT_NO_THROW(WriteLog("x", "system"));
}

TEST_F(EventLog, ClearLogLeavesTheClearedLine) {
    const std::string path = Path("QRV.log");
    CreateLogFileObject(path);
    WriteLog("one", "system");
    WriteLog("two", "error");
    ClearLog();
    EXPECT_EQ(Get(path), "25.1.2010 14:03:07 SYSTEM Cleared log\r\n");
}

TEST_F(EventLog, ConcurrentWritersNeverShareALine) {
    const std::string path = Path("QRV.log");
    CreateLogFileObject(path);
    constexpr int kThreads = 4;
    constexpr int kLines = 150;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            const std::string text(3000, static_cast<char>('a' + t));
            for (int i = 0; i < kLines; ++i) {
                WriteLog(text, "ok");
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    std::set<std::string> valid;
    for (int t = 0; t < kThreads; ++t) {
        valid.insert("25.1.2010 14:03:07 OK " + std::string(3000, static_cast<char>('a' + t)));
    }
    std::istringstream in(*Get(path));
    int count = 0;
    for (std::string line; std::getline(in, line, '\n'); ++count) {
        ASSERT_FALSE(line.empty());
        ASSERT_EQ(line.back(), '\r');
        line.pop_back();
        ASSERT_TRUE(valid.count(line)) << "line " << count << " is mixed";
    }
    EXPECT_EQ(count, kThreads * kLines);
}

// The locale variables as a test sets them; the old values come back afterwards.
class TLocaleEnvironment {
public:
    TLocaleEnvironment() {
        for (const char* name : kNames) {
            const char* value = std::getenv(name);
            saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
            ::unsetenv(name);
        }
    }
    ~TLocaleEnvironment() {
        for (const auto& [name, value] : saved_) {
            if (value) {
                ::setenv(name, value->c_str(), 1);
            } else {
                ::unsetenv(name);
            }
        }
    }
    TLocaleEnvironment(const TLocaleEnvironment&) = delete;
    TLocaleEnvironment& operator=(const TLocaleEnvironment&) = delete;

private:
    static constexpr const char* kNames[] = {"LC_ALL", "LC_CTYPE", "LANG"};
    std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

bool LocaleInstalled(const char* name) {
    locale_t locale = ::newlocale(LC_CTYPE_MASK, name, nullptr);
    if (locale != nullptr) {
        ::freelocale(locale);
    }
    return locale != nullptr;
}

TEST_F(EventLog, WrittenInTheLocalesCharacterSet) {
    const TLocaleEnvironment environment;
    enum class TNeeds { Nothing, Required, WhereMade };
    struct TRow {
        const char* Variable;
        const char* Value;
        const char* Charset;
        TNeeds Needs;
    };
    for (const auto& row : std::vector<TRow>{
             {"LANG", "en_US.UTF-8", "UTF-8", TNeeds::Required},
             {"LANG", "cs_CZ.UTF-8", "UTF-8", TNeeds::Required},
             // Checked where such a locale was made (localedef -i cs_CZ -f ISO-8859-2).
             {"LANG", "cs_CZ.ISO-8859-2", "ISO-8859-2", TNeeds::WhereMade},
             {"LC_ALL", "cs_CZ.ISO-8859-2", "ISO-8859-2", TNeeds::WhereMade},
             // Not installed: the name still says which set the user's editor expects.
             {"LANG", "xx_YY.KOI8-R@latin", "KOI8-R", TNeeds::Nothing},
             // ASCII would lose every letter beyond it.
             {"LANG", "C", "UTF-8", TNeeds::Nothing},
             {"LANG", "", "UTF-8", TNeeds::Nothing},
         }) {
        SCOPED_TRACE(std::string(row.Variable) + "=" + row.Value);
        if (row.Needs != TNeeds::Nothing && !LocaleInstalled(row.Value)) {
            if (row.Needs == TNeeds::Required) {
                ADD_FAILURE() << row.Value << " is not installed (scripts/install-deps.sh)";
            }
            continue;
        }
        ::setenv(row.Variable, row.Value, 1);
        EXPECT_EQ(LocaleCharset(), row.Charset);
        ::unsetenv(row.Variable);
    }

    // A Czech log under an English and a Czech desktop: the same readable UTF-8 both times.
    const std::string czech = "Nelze načíst 'Žluťoučký kůň'. Chyba: Spojení odmítnuto.";
    for (const char* lang : {"en_US.UTF-8", "cs_CZ.UTF-8"}) {
        SCOPED_TRACE(lang);
        ::setenv("LANG", lang, 1);
        SetLogCharset(""); // decided again at the next line, from the locale
        const std::string path = Path(std::string(lang) + ".log");
        CreateLogFileObject(path);
        WriteLog(czech, "error");
        EXPECT_EQ(Get(path), "25.1.2010 14:03:07 ERROR " + czech + "\r\n");
    }
}

TEST_F(EventLog, AFailingLogIsToldOnceUntilItClearsOrMoves) {
    std::vector<std::string> notices;
    SetLogFailureNotifier([&](const std::string& path, const std::string& error) {
        notices.push_back(path + " | " + error);
    });
    const std::string folder = Path("folder.log");
    fs::create_directory(folder);
    const std::string folderError = "Unable to create file '" + folder + "': Is a directory";

    CreateLogFileObject(folder);
    for (int run = 0; run < 3; ++run) {
        EXPECT_EQ(ErrorOf([] { WriteLog("Checking...", "system"); }), folderError);
    }
    EXPECT_EQ(ErrorOf([] { ClearLog(); }), folderError);
    EXPECT_EQ(notices, std::vector<std::string>{folder + " | " + folderError});

    // Another path that cannot be written either (root too may not create files in /proc).
    CreateLogFileObject("/proc/QRV.log");
    EXPECT_NE(ErrorOf([] { WriteLog("x", "system"); }), "no error");
    EXPECT_NE(ErrorOf([] { WriteLog("x", "system"); }), "no error");
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[1].rfind("/proc/QRV.log | Unable to create file '/proc/QRV.log': ", 0), 0u)
        << notices[1];

    // Back to the folder: told again, since the path changed.
    CreateLogFileObject(folder);
    EXPECT_EQ(ErrorOf([] { WriteLog("x", "system"); }), folderError);
    EXPECT_EQ(notices.size(), 3u);

    // The failure clears (a line gets through), then comes back: told once more.
    fs::remove(folder);
    WriteLog("written", "ok");
    EXPECT_EQ(notices.size(), 3u);
    fs::remove(folder);
    fs::create_directory(folder);
    EXPECT_EQ(ErrorOf([] { WriteLog("x", "system"); }), folderError);
    EXPECT_EQ(ErrorOf([] { WriteLog("x", "system"); }), folderError);
    EXPECT_EQ(notices.size(), 4u);

    // With logging off nothing is tried, so nothing is told.
    SetLogEnabled(false);
    CreateLogFileObject("/proc/other.log");
    WriteLog("x", "system");
    EXPECT_EQ(notices.size(), 4u);
}

using qrv::test::TFileSizeLimit;

TEST_F(EventLog, AFailedWriteLeavesTheLogUsable) {
    const std::string path = Path("QRV.log");
    const std::string first = "25.1.2010 14:03:07 SYSTEM first\r\n";
    CreateLogFileObject(path);
    WriteLog("first", "system");
    struct TRow {
        const char* Name;
        std::string Text;
        std::string Error;
    };
    for (const auto& row : std::vector<TRow>{
             // A short line fails when the buffer is written out on closing...
             {"AtClose", "short", "Unable to close file '" + path + "'!"},
             // ...a long one already while it is written.
             {"WhileWriting", std::string(100000, 'x'), "File too large"},
         }) {
        {
            const TFileSizeLimit limit(first.size());
            EXPECT_EQ(ErrorOf([&] { WriteLog(row.Text, "error"); }), row.Error) << row.Name;
        }
        std::filesystem::resize_file(path, first.size()); // drop what got through
        WriteLog("later", "ok");
        EXPECT_EQ(Get(path), first + "25.1.2010 14:03:07 OK later\r\n") << row.Name;
        std::filesystem::resize_file(path, first.size());
    }
}

} // namespace
} // namespace qrv::shell
