// The https opt-in of the configuration key: how it is read beside the ten values, and that
// nothing about the ten changes with it.

#include "ConfigTestSupport.h"
#include "platform/Error.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "shell/AppConfig.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

using namespace qrv::shell;
using namespace qrv::platform;

namespace {

using qrv::test::LoadError;

class HttpsSwitch : public qrv::test::TConfigFolderTest {
protected:
    // Switched on and loaded, so that a later load shows whether it turned the switch off.
    void LoadWithSwitchOn() {
        WriteDefaultConfig();
        ASSERT_TRUE(Key()->SetDword(kHttpsEnabled, 1));
        ASSERT_EQ(LoadError(), "");
        ASSERT_TRUE(AppConfig().HttpsEnabled);
    }
};

TEST_F(HttpsSwitch, OnlyANonZeroFourByteDwordTurnsItOnAndNoFormFailsTheLoad) {
    const struct {
        const char* label;
        std::function<void(TRegistryKey&)> store;
        bool on;
    } rows[] = {
        {"missing", [](auto& k) { k.DeleteValue(kHttpsEnabled); }, false},
        {"zero", [](auto& k) { k.SetDword(kHttpsEnabled, 0); }, false},
        {"one", [](auto& k) { k.SetDword(kHttpsEnabled, 1); }, true},
        {"two", [](auto& k) { k.SetDword(kHttpsEnabled, 2); }, true},
        {"top bit only", [](auto& k) { k.SetDword(kHttpsEnabled, 0x80000000U); }, true},
        {"name in other case",
         [](auto& k) {
             k.DeleteValue(kHttpsEnabled);
             k.SetDword("HTTPSENABLED", 1);
         },
         true},
        {"text \"1\"", [](auto& k) { k.SetString(kHttpsEnabled, "1"); }, false},
        {"four bytes of binary",
         [](auto& k) {
             k.SetValue(kHttpsEnabled, {REG_BINARY, {1, 0, 0, 0}});
         },
         false},
        {"dword of 8 bytes",
         [](auto& k) {
             k.SetValue(kHttpsEnabled, {REG_DWORD, {1, 0, 0, 0, 0, 0, 0, 0}});
         },
         false},
        {"dword of 2 bytes",
         [](auto& k) {
             k.SetValue(kHttpsEnabled, {REG_DWORD, {1, 0}});
         },
         false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        TearDown();
        SetUp();
        LoadWithSwitchOn();
        row.store(*Key());
        EXPECT_EQ(LoadError(), "");
        const TAppConfig c = AppConfig();
        EXPECT_EQ(c.HttpsEnabled, row.on);
        // The ten loaded as ever.
        EXPECT_EQ(c.CheckInterval, 300);
        EXPECT_EQ(c.Language, "en");
    }
}

TEST_F(HttpsSwitch, TheDefaultsNeitherWriteNorClearIt) {
    WriteDefaultConfig();
    EXPECT_EQ(Key()->ValueNames().size(), kConfigSchema.size());
    EXPECT_EQ(Key()->QueryValue(kHttpsEnabled), std::nullopt);
    ASSERT_EQ(LoadError(), "");
    EXPECT_FALSE(AppConfig().HttpsEnabled);

    ASSERT_TRUE(Key()->SetDword(kHttpsEnabled, 1));
    ASSERT_TRUE(Key()->SetString("CheckInterval", "bad"));
    EXPECT_NE(LoadError(), "");
    WriteDefaultConfig(); // what start-up does after a failed load
    EXPECT_EQ(Key()->QueryDword(kHttpsEnabled), 1U);
    ASSERT_EQ(LoadError(), "");
    EXPECT_TRUE(AppConfig().HttpsEnabled);
}

TEST_F(HttpsSwitch, ItIsReadAfterTheTenSoAFailedLoadLeavesItAsItWas) {
    LoadWithSwitchOn();
    ASSERT_TRUE(Key()->SetDword(kHttpsEnabled, 0));
    ASSERT_TRUE(Key()->SetString("Language", "cs"));
    ASSERT_TRUE(Key()->DeleteValue("HotkeyEnabled")); // the load fails here
    EXPECT_NE(LoadError().find("'HotkeyEnabled'"), std::string::npos);
    EXPECT_TRUE(AppConfig().HttpsEnabled);
    EXPECT_EQ(AppConfig().Language, "en");
}

// An administrator's machine-wide key holding only the switch: a new user's first start writes
// the defaults around it, and the program starts with https on.
TEST_F(HttpsSwitch, AMachineWideKeyWithOnlyTheSwitchTurnsItOnForANewUser) {
    ASSERT_TRUE(CreateDirectories(dir_ + "/Ostrelle"));
    WriteFileAtomically(dir_ + "/Ostrelle/Quorvane.reg",
                        "Windows Registry Editor Version 5.00\r\n\r\n"
                        "[HKEY_LOCAL_MACHINE\\Software\\Ostrelle\\Quorvane]\r\n"
                        "\"HttpsEnabled\"=dword:00000001\r\n\r\n");
    EXPECT_NE(LoadError().find("'CheckUpdate'"), std::string::npos);
    WriteDefaultConfig();
    ASSERT_EQ(LoadError(), "");
    EXPECT_TRUE(AppConfig().HttpsEnabled);
    EXPECT_EQ(AppConfig().BalloonLevel, 3);
}

TEST(AddressRule, HttpAlwaysAndHttpsOnlyWhenSwitchedOn) {
    const struct {
        const char* url;
        bool off, on;
    } rows[] = {
        {"http://", true, true},       {"http://x/", true, true},    {"https://", false, true},
        {"https://x/", false, true},   {"HTTPS://x/", false, false}, {"Https://x/", false, false},
        {"https:/x", false, false},    {"https", false, false},      {"httpss://x/", false, false},
        {" https://x/", false, false}, {"ftp://x/", false, false},   {"", false, false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(AcceptsAddress(row.url, false), row.off) << row.url;
        EXPECT_EQ(AcceptsAddress(row.url, true), row.on) << row.url;
    }
}

} // namespace
