#pragma once

#include "platform/Registry.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace qrv::shell {

inline constexpr char kVersion[] = QRV_VERSION;
inline constexpr char kConfigKey[] = "Software\\Ostrelle\\Quorvane";

// The in-memory configuration, named after the registry values.
struct TAppConfig {
    std::string Version;
    bool CheckUpdate = false;
    std::string VerifyURL;
    bool VerifyEnabled = false;
    std::int32_t CheckInterval = 0;
    std::string LogFile;
    bool LogEnabled = false;
    std::int32_t BalloonLevel = 0;
    bool HotkeyEnabled = false;
    std::string Language;
};

// A whole copy of `AppConfig`, safe from any thread while LoadConfig replaces it.
TAppConfig AppConfig();

void LoadConfig();         // throws qrv::Error; fields read before the failing one are kept
void WriteDefaultConfig(); // throws qrv::Error
bool AutostartState();
void SetAutostart(bool on);

// Name of the autostart entry, and the XDG autostart files that stand in for it: the
// machine-wide one, written when it can be, else the user's, which hides the machine-wide one.
inline constexpr char kAutostartName[] = "Quorvane";
std::string AutostartFilePath();
std::string UserAutostartFilePath();

// The reading rules of the configuration values, shared with the settings dialog. `key` may be
// nullptr (the key did not open): texts then read as empty and flags and numbers fail. Every
// failure is a qrv::Error naming the value.
std::string ReadConfigText(const platform::TRegistryKey* key, std::string_view name);
bool ReadConfigFlag(const platform::TRegistryKey* key, std::string_view name);
std::int32_t ReadConfigNumber(const platform::TRegistryKey* key, std::string_view name);

// Tests only: the executable path that the autostart entry and the default log file use;
// "" goes back to the running executable.
void SetExecutablePathForTesting(std::string path);

} // namespace qrv::shell
