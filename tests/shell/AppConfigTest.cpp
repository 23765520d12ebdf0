#include "shell/AppConfig.h"
#include "ConfigTestSupport.h"
#include "platform/Error.h"
#include "platform/Paths.h"
#include "platform/Registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

using namespace qrv::shell;
using namespace qrv::platform;

namespace {

TRegValue Sz(std::string_view text) {
    return {REG_SZ, EncodeRegString(text)};
}
TRegValue Dword(std::uint32_t v) {
    return {REG_DWORD,
            {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
             static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)}};
}

using qrv::test::LoadError;
using ConfigStore = qrv::test::TConfigFolderTest;

TEST_F(ConfigStore, FirstStartFailsThenDefaultsLoad) {
    const std::string error = LoadError();
    EXPECT_NE(error.find("CheckUpdate"), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/Ostrelle"));

    WriteDefaultConfig();
    // Into the user's own copy: the machine-wide key is never written, not by root either.
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/Ostrelle"));
    EXPECT_TRUE(std::filesystem::exists(dir_ + "/home/Ostrelle/Quorvane.reg"));
    const auto key = TRegistryKey::Create(kConfigKey, false);
    ASSERT_NE(key, nullptr);
    const std::vector<std::pair<std::string, TRegValue>> expected = {
        {"Version", Sz("0.9.18")},
        {"CheckUpdate", Dword(1)},
        {"VerifyURL", Sz("http://")},
        {"VerifyEnabled", Dword(0)},
        {"CheckInterval", Sz("300")},
        {"LogFile", Sz(ResolveProgramDataDir(ExecutableDir()) + "/QRV.log")},
        {"LogEnabled", Dword(1)},
        {"BalloonLevel", Sz("3")},
        {"HotkeyEnabled", Dword(0)},
        {"Language", Sz("en")},
    };
    std::vector<std::string> names;
    for (const auto& [name, value] : expected) {
        names.push_back(name);
        EXPECT_EQ(key->QueryValue(name), value) << name;
    }
    EXPECT_EQ(key->ValueNames(), names);

    ASSERT_EQ(LoadError(), "");
    const TAppConfig c = AppConfig();
    EXPECT_EQ(c.Version, "0.9.18");
    EXPECT_TRUE(c.CheckUpdate);
    EXPECT_EQ(c.VerifyURL, "http://");
    EXPECT_FALSE(c.VerifyEnabled);
    EXPECT_EQ(c.CheckInterval, 300);
    EXPECT_EQ(c.LogFile, ResolveProgramDataDir(ExecutableDir()) + "/QRV.log");
    EXPECT_TRUE(c.LogEnabled);
    EXPECT_EQ(c.BalloonLevel, 3);
    EXPECT_FALSE(c.HotkeyEnabled);
    EXPECT_EQ(c.Language, "en");

    // An installed copy logs into the user's data folder, never beside itself.
    std::filesystem::create_directories(dir_ + "/usr/share/applications");
    WriteFileAtomically(dir_ + "/usr/share/applications/" + kDesktopEntryId + ".desktop", "");
    ::setenv("XDG_DATA_HOME", (dir_ + "/data").c_str(), 1);
    SetExecutablePathForTesting(dir_ + "/usr/bin/quorvane");
    WriteDefaultConfig();
    ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(TRegistryKey::Create(kConfigKey, false)->QueryString("LogFile"),
              dir_ + "/data/Ostrelle/Quorvane/QRV.log");
}

TEST_F(ConfigStore, DefaultsOverwriteEveryValueAndKeepOthers) {
    {
        const auto key = Key();
        ASSERT_NE(key, nullptr);
        key->SetString("CheckInterval", "60");
        key->SetDword("LogEnabled", 0);
        key->SetString("Extra", "kept");
    }
    ASSERT_TRUE(CreateDirectories(dir_ + "/opt/qrv"));
    SetExecutablePathForTesting(dir_ + "/opt/qrv/QRV");
    WriteDefaultConfig();
    ASSERT_EQ(LoadError(), "");
    EXPECT_EQ(AppConfig().CheckInterval, 300);
    EXPECT_TRUE(AppConfig().LogEnabled);
    EXPECT_EQ(AppConfig().LogFile, dir_ + "/opt/qrv/QRV.log");
    EXPECT_EQ(TRegistryKey::Create(kConfigKey, false)->QueryString("Extra"), "kept");
}

// One change to a key holding the defaults, and what the load makes of it.
struct TValueCase {
    const char* label;
    std::function<void(TRegistryKey&)> change;
    std::string failingValue; // "" when the load succeeds
    std::function<bool(const TAppConfig&)> loaded;
};

TEST_F(ConfigStore, EachValueFollowsItsReadingRule) {
    const TValueCase cases[] = {
        {"flag stored as text", [](auto& k) { k.SetString("LogEnabled", "1"); }, "LogEnabled", {}},
        {"flag missing", [](auto& k) { k.DeleteValue("HotkeyEnabled"); }, "HotkeyEnabled", {}},
        {"flag of 8 bytes",
         [](auto& k) {
             k.SetValue("VerifyEnabled", {REG_DWORD, {1, 0, 0, 0, 0, 0, 0, 0}});
         },
         "VerifyEnabled",
         {}},
        {"flag of 2 bytes",
         [](auto& k) {
             k.SetValue("CheckUpdate", {REG_DWORD, {1, 0}});
         },
         "CheckUpdate",
         {}},
        {"flag as binary",
         [](auto& k) {
             k.SetValue("CheckUpdate", {REG_BINARY, {1, 0, 0, 0}});
         },
         "CheckUpdate",
         {}},
        {"any non-zero flag is true", [](auto& k) { k.SetDword("HotkeyEnabled", 0x80000000U); }, "",
         [](const TAppConfig& c) { return c.HotkeyEnabled; }},
        {"flag 0 is false", [](auto& k) { k.SetDword("CheckUpdate", 0); }, "",
         [](const TAppConfig& c) { return !c.CheckUpdate; }},
        {"leading blank", [](auto& k) { k.SetString("CheckInterval", " 300"); }, "",
         [](const TAppConfig& c) { return c.CheckInterval == 300; }},
        {"letter after the digits",
         [](auto& k) { k.SetString("CheckInterval", "300x"); },
         "CheckInterval",
         {}},
        {"hexadecimal", [](auto& k) { k.SetString("CheckInterval", "$12C"); }, "",
         [](const TAppConfig& c) { return c.CheckInterval == 300; }},
        {"negative", [](auto& k) { k.SetString("BalloonLevel", "-1"); }, "",
         [](const TAppConfig& c) { return c.BalloonLevel == -1; }},
        {"beyond 32 bits",
         [](auto& k) { k.SetString("CheckInterval", "2147483648"); },
         "CheckInterval",
         {}},
        {"number missing", [](auto& k) { k.DeleteValue("BalloonLevel"); }, "BalloonLevel", {}},
        {"number empty", [](auto& k) { k.SetString("BalloonLevel", ""); }, "BalloonLevel", {}},
        {"number as dword", [](auto& k) { k.SetDword("CheckInterval", 300); }, "CheckInterval", {}},
        {"number as expandable text",
         [](auto& k) {
             k.SetValue("BalloonLevel", {REG_EXPAND_SZ, EncodeRegString("2")});
         },
         "", [](const TAppConfig& c) { return c.BalloonLevel == 2; }},
        {"text missing", [](auto& k) { k.DeleteValue("Language"); }, "",
         [](const TAppConfig& c) { return c.Language.empty(); }},
        {"text of size 0",
         [](auto& k) {
             k.SetValue("VerifyURL", {REG_SZ, {}});
         },
         "", [](const TAppConfig& c) { return c.VerifyURL.empty(); }},
        {"binary of size 0 reads as empty text",
         [](auto& k) {
             k.SetValue("VerifyURL", {REG_BINARY, {}});
         },
         "", [](const TAppConfig& c) { return c.VerifyURL.empty(); }},
        {"text up to the first NUL",
         [](auto& k) {
             k.SetValue("Language", {REG_SZ, {'c', 0, 's', 0, 0, 0, 'x', 0, 0, 0}});
         },
         "", [](const TAppConfig& c) { return c.Language == "cs"; }},
        {"any version text", [](auto& k) { k.SetString("Version", "not a version"); }, "",
         [](const TAppConfig& c) { return c.Version == "not a version"; }},
        {"version as dword", [](auto& k) { k.SetDword("Version", 918); }, "Version", {}},
        {"text as binary",
         [](auto& k) {
             k.SetValue("LogFile", {REG_BINARY, {'a', 0, 0, 0}});
         },
         "LogFile",
         {}},
        {"expandable log file used literally",
         [](auto& k) {
             k.SetValue("LogFile", {REG_EXPAND_SZ, EncodeRegString("%TEMP%\\QRV.log")});
         },
         "", [](const TAppConfig& c) { return c.LogFile == "%TEMP%\\QRV.log"; }},
        {"non-ASCII texts", [](auto& k) { k.SetString("LogFile", "/tmp/žluťoučký kůň.log"); }, "",
         [](const TAppConfig& c) { return c.LogFile == "/tmp/žluťoučký kůň.log"; }},
        {"value names in other case",
         [](auto& k) {
             k.DeleteValue("CheckInterval");
             k.SetString("CHECKINTERVAL", "5");
         },
         "", [](const TAppConfig& c) { return c.CheckInterval == 5; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        TearDown();
        SetUp();
        WriteDefaultConfig();
        {
            const auto key = Key();
            ASSERT_NE(key, nullptr);
            c.change(*key);
        }
        const std::string error = LoadError();
        if (c.failingValue.empty()) {
            EXPECT_EQ(error, "");
            EXPECT_TRUE(c.loaded(AppConfig()));
        } else {
            EXPECT_NE(error.find("'" + c.failingValue + "'"), std::string::npos) << error;
        }
    }
}

TEST_F(ConfigStore, AFailedLoadKeepsWhatWasReadBeforeTheFault) {
    WriteDefaultConfig();
    ASSERT_EQ(LoadError(), "");
    {
        const auto key = Key();
        key->SetString("Version", "2.0");
        key->SetDword("CheckUpdate", 0);
        key->SetString("VerifyURL", "http://new/");
        key->SetDword("VerifyEnabled", 1);
        key->SetDword("LogEnabled", 0);
        key->SetString("LogFile", "/new.log");
        key->SetString("CheckInterval", "77");
        key->SetString("BalloonLevel", "x"); // the load stops here
        key->SetDword("HotkeyEnabled", 1);
        key->SetString("Language", "cs");
    }
    EXPECT_NE(LoadError().find("BalloonLevel"), std::string::npos);
    const TAppConfig c = AppConfig();
    EXPECT_EQ(c.Version, "2.0");
    EXPECT_FALSE(c.CheckUpdate);
    EXPECT_EQ(c.VerifyURL, "http://new/");
    EXPECT_TRUE(c.VerifyEnabled);
    EXPECT_FALSE(c.LogEnabled);
    EXPECT_EQ(c.LogFile, "/new.log");
    EXPECT_EQ(c.CheckInterval, 77);
    EXPECT_EQ(c.BalloonLevel, 3);
    EXPECT_FALSE(c.HotkeyEnabled);
    EXPECT_EQ(c.Language, "en");
}

TEST_F(ConfigStore, ADamagedKeyFileIsReplacedByTheDefaults) {
    ASSERT_TRUE(CreateDirectories(dir_ + "/Ostrelle"));
    WriteFileAtomically(dir_ + "/Ostrelle/Quorvane.reg",
                        "Windows Registry Editor Version 5.00\n\n"
                        "[HKEY_LOCAL_MACHINE\\Software\\Ostrelle\\Quorvane]\n"
                        "\"CheckUpdate\"=dword:00000001\n\"VerifyURL\"=\"unterminated\n");
    EXPECT_NE(LoadError().find("CheckUpdate"), std::string::npos);
    WriteDefaultConfig();
    EXPECT_EQ(LoadError(), "");
    EXPECT_EQ(AppConfig().BalloonLevel, 3);
}

TEST_F(ConfigStore, AKeyThatCannotBeWrittenStopsTheDefaults) {
    // Tests run as root: a regular file where the key's folder must be stands for missing
    // rights, machine-wide and in the user's configuration.
    WriteFileAtomically(dir_ + "/Ostrelle", "");
    WriteFileAtomically(dir_ + "/home", "");
    EXPECT_NE(LoadError().find("CheckUpdate"), std::string::npos);
    EXPECT_THROW(WriteDefaultConfig(), qrv::Error);
    EXPECT_TRUE(std::filesystem::is_regular_file(dir_ + "/Ostrelle"));
    EXPECT_EQ(ReadConfigText(nullptr, "Language"), "");
    EXPECT_THROW(ReadConfigFlag(nullptr, "LogEnabled"), qrv::Error);
    EXPECT_THROW(ReadConfigNumber(nullptr, "CheckInterval"), qrv::Error);
}

std::string Upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

// What desktop-file-validate says of a file: "" when it has nothing to say, hints included.
std::string Validate(const std::string& path) {
    FILE* pipe = ::popen(("desktop-file-validate '" + path + "' 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return "popen failed";
    }
    std::string out;
    char buf[256];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) {
        out.append(buf, n);
    }
    const int status = ::pclose(pipe);
    return status == 0 ? out : out + "exit status " + std::to_string(status);
}

TEST_F(ConfigStore, AutostartCountsOnlyTheRunningExecutable) {
    const std::string exe = ExecutablePath();
    const struct {
        const char* label;
        std::string content; // "" for no entry
        bool on;
    } cases[] = {
        {"no entry", "", false},
        {"quoted path", "[Desktop Entry]\nType=Application\nExec=\"" + exe + "\"\n", true},
        {"unquoted path", "[Desktop Entry]\r\nExec=" + exe + "\r\n", true},
        {"blanks around =", "[Desktop Entry]\nExec = \"" + exe + "\"\n", true},
        {"other letter case", "[Desktop Entry]\nExec=\"" + Upper(exe) + "\"\n", false},
        {"moved executable", "[Desktop Entry]\nExec=\"/somewhere/else/QRV\"\n", false},
        {"with an argument", "[Desktop Entry]\nExec=\"" + exe + "\" -x\n", false},
        {"in another group", "[Desktop Action x]\nExec=\"" + exe + "\"\n[Desktop Entry]\n", false},
        {"hidden", "[Desktop Entry]\nExec=\"" + exe + "\"\nHidden=true\n", false},
        {"switched off by the desktop",
         "[Desktop Entry]\nExec=\"" + exe + "\"\nX-GNOME-Autostart-enabled=false\n", false},
        {"switched on by the desktop",
         "[Desktop Entry]\nExec=\"" + exe + "\"\nX-GNOME-Autostart-enabled=true\n", true},
        {"no Exec", "[Desktop Entry]\nType=Application\n", false},
        {"empty Exec", "[Desktop Entry]\nExec=\n", false},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all(dir_ + "/autostart");
        if (!c.content.empty()) {
            ASSERT_TRUE(CreateDirectories(dir_ + "/autostart"));
            WriteFileAtomically(AutostartFilePath(), c.content);
        }
        EXPECT_EQ(AutostartState(), c.on) << c.label;
    }
}

TEST_F(ConfigStore, SettingAutostartWritesADesktopEntryOrRemovesIt) {
    const std::string paths[] = {
        ExecutablePath(),
        "/opt/my app/QRV",
        "/opt/$HOME/`x`/a\"b\\c/100%/QRV",
        "/opt/ünï/QRV",
    };
    for (const auto& path : paths) {
        SCOPED_TRACE(path);
        SetExecutablePathForTesting(path);
        SetAutostart(true);
        std::string entry;
        ASSERT_TRUE(ReadWholeFile(dir_ + "/home/autostart/Quorvane.desktop", entry));
        EXPECT_EQ(entry.rfind("[Desktop Entry]\n", 0), 0U);
        EXPECT_NE(entry.find("\nType=Application\n"), std::string::npos);
        EXPECT_NE(entry.find("\nName=Quorvane\n"), std::string::npos);
        EXPECT_NE(entry.find(std::string("\nIcon=") + kDesktopEntryId + "\n"), std::string::npos);
        EXPECT_EQ(Validate(UserAutostartFilePath()), "");
        EXPECT_TRUE(AutostartState());
        SetAutostart(false);
        EXPECT_FALSE(std::filesystem::exists(UserAutostartFilePath()));
        EXPECT_FALSE(AutostartState());
        SetAutostart(false); // a missing entry is no error
    }
    EXPECT_FALSE(std::filesystem::exists(AutostartFilePath()));
    // How the awkward path is quoted, so that a desktop starts exactly that file.
    SetExecutablePathForTesting("/opt/$HOME/a\"b\\c/100%/QRV");
    SetAutostart(true);
    std::string entry;
    ASSERT_TRUE(ReadWholeFile(UserAutostartFilePath(), entry));
    EXPECT_NE(entry.find("\nExec=\"/opt/\\\\$HOME/a\\\\\"b\\\\\\\\c/100%%/QRV\"\n"),
              std::string::npos)
        << entry;
    // TryExec is a plain path: only the backslash is escaped.
    EXPECT_NE(entry.find("\nTryExec=/opt/$HOME/a\"b\\\\c/100%/QRV\n"), std::string::npos) << entry;

    // After the executable has moved the old entry counts as off, until it is written again.
    SetExecutablePathForTesting("/opt/new/QRV");
    EXPECT_FALSE(AutostartState());
    SetAutostart(true);
    EXPECT_TRUE(AutostartState());
}

TEST_F(ConfigStore, AUsersAutostartEntryHidesTheMachineWideOne) {
    const std::string exe = ExecutablePath();
    const std::string ours = "[Desktop Entry]\nExec=\"" + exe + "\"\n";
    const std::string user = dir_ + "/home/autostart/Quorvane.desktop";
    const auto slurp = [](const std::string& path) {
        std::string text;
        ReadWholeFile(path, text);
        return text;
    };
    EXPECT_EQ(UserAutostartFilePath(), user);
    ASSERT_TRUE(CreateDirectories(dir_ + "/autostart"));
    ASSERT_TRUE(CreateDirectories(dir_ + "/home/autostart"));
    WriteFileAtomically(AutostartFilePath(), ours);
    const struct {
        const char* label;
        std::string userEntry; // "" for none
        bool on;
    } cases[] = {
        {"machine-wide only", "", true},
        {"hidden by the user", ours + "Hidden=true\n", false},
        {"switched off by the user's desktop", ours + "X-GNOME-Autostart-enabled=false\n", false},
        {"another program of that name", "[Desktop Entry]\nExec=/usr/bin/other\n", false},
        {"the user's own", ours, true},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(user);
        if (!c.userEntry.empty()) {
            WriteFileAtomically(user, c.userEntry);
        }
        EXPECT_EQ(AutostartState(), c.on) << c.label;
    }
    // Turned on, the user's entry that would hide it is what gets written.
    WriteFileAtomically(user, ours + "Hidden=true\n");
    SetAutostart(true);
    EXPECT_TRUE(AutostartState());
    EXPECT_EQ(slurp(user).find("Hidden"), std::string::npos);

    // Turned off, a machine-wide entry that starts this program is hidden for this user only,
    // for root as for everyone: it belongs to the administrator.
    std::filesystem::remove(user);
    SetAutostart(false);
    EXPECT_FALSE(AutostartState());
    EXPECT_NE(slurp(user).find("\nHidden=true\n"), std::string::npos);
    EXPECT_EQ(Validate(user), "");
    EXPECT_EQ(slurp(AutostartFilePath()), ours);
    SetAutostart(true);
    EXPECT_TRUE(AutostartState());
    EXPECT_EQ(slurp(AutostartFilePath()), ours);
    // Without one, turning off removes the user's entry.
    std::filesystem::remove(AutostartFilePath());
    SetAutostart(false);
    EXPECT_FALSE(std::filesystem::exists(user));
    EXPECT_FALSE(AutostartState());
}

TEST_F(ConfigStore, AutostartFailuresAreSilent) {
    WriteFileAtomically(dir_ + "/autostart", "not a folder");
    WriteFileAtomically(dir_ + "/home", "not a folder");
    EXPECT_NO_THROW(SetAutostart(true));
    EXPECT_FALSE(AutostartState());
    EXPECT_NO_THROW(SetAutostart(false));
    std::filesystem::remove(dir_ + "/autostart");
    ASSERT_TRUE(CreateDirectories(AutostartFilePath())); // a folder in the entry's place
    EXPECT_NO_THROW(SetAutostart(true));
    EXPECT_NO_THROW(SetAutostart(false));
    EXPECT_FALSE(AutostartState());
}

// Worker threads read the configuration while the UI thread reloads it again and again from
// two keys whose every value differs: each copy must be one whole configuration.
TEST_F(ConfigStore, ReadersAlwaysSeeOneWholeConfiguration) {
    const std::string dirs[] = {dir_ + "/a", dir_ + "/b"};
    for (int i = 0; i < 2; ++i) {
        ::setenv("XDG_CONFIG_HOME", dirs[i].c_str(), 1);
        const auto key = Key();
        ASSERT_NE(key, nullptr);
        const std::string n = std::to_string(i);
        key->SetString("Version", "v" + n);
        key->SetDword("CheckUpdate", static_cast<std::uint32_t>(i));
        key->SetString("VerifyURL", "http://" + n);
        key->SetDword("VerifyEnabled", static_cast<std::uint32_t>(1 - i));
        key->SetString("CheckInterval", std::to_string(100 + i));
        key->SetString("LogFile", "/log" + n + std::string(64, 'x')); // beyond small strings
        key->SetDword("LogEnabled", static_cast<std::uint32_t>(i));
        key->SetString("BalloonLevel", n);
        key->SetDword("HotkeyEnabled", static_cast<std::uint32_t>(1 - i));
        key->SetString("Language", "l" + n);
    }
    ::setenv("XDG_CONFIG_HOME", dirs[0].c_str(), 1);
    LoadConfig();

    std::atomic<bool> stop{false};
    std::atomic<int> mixed{0};
    std::atomic<long> reads{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t) {
        readers.emplace_back([&] {
            while (!stop.load()) {
                const TAppConfig c = AppConfig();
                const int i = c.BalloonLevel;
                const std::string n = std::to_string(i);
                const bool whole = (i == 0 || i == 1) && c.Version == "v" + n &&
                                   c.CheckUpdate == (i == 1) && c.VerifyURL == "http://" + n &&
                                   c.VerifyEnabled == (i == 0) && c.CheckInterval == 100 + i &&
                                   c.LogFile == "/log" + n + std::string(64, 'x') &&
                                   c.LogEnabled == (i == 1) && c.HotkeyEnabled == (i == 0) &&
                                   c.Language == "l" + n;
                if (!whole) {
                    ++mixed;
                }
                ++reads;
            }
        });
    }
    for (int round = 0; round < 300; ++round) {
        ::setenv("XDG_CONFIG_HOME", dirs[round % 2].c_str(), 1);
        LoadConfig();
    }
    stop = true;
    for (auto& t : readers) {
        t.join();
    }
    EXPECT_EQ(mixed.load(), 0);
    EXPECT_GT(reads.load(), 0);
}

} // namespace
