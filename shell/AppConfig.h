#pragma once

#include "platform/Registry.h"

#include <array>
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
    // Not one of the ten values: the opt-in of https addresses (see kHttpsEnabled).
    bool HttpsEnabled = false;
};

// How a configuration value is kept in the key: texts as REG_SZ, numbers as REG_SZ holding a whole
// number, flags as REG_DWORD 0 or 1.
enum class TConfigKind { Text, Number, Flag };

// One value of the configuration key: its name, how it is kept and its default ("0" or "1" for a
// flag; LogFile's default is worked out from the program folder at the time of writing).
struct TConfigValue {
    std::string_view Name;
    TConfigKind Kind;
    std::string_view Default;
};

// The ten values. Loading, writing the defaults and the settings dialog all name them through
// these; each keeps its own order, as described (kConfigSchema is the order of the defaults).
namespace config {
inline constexpr TConfigValue Version{"Version", TConfigKind::Text, QRV_VERSION};
inline constexpr TConfigValue CheckUpdate{"CheckUpdate", TConfigKind::Flag, "1"};
inline constexpr TConfigValue VerifyURL{"VerifyURL", TConfigKind::Text, "http://"};
inline constexpr TConfigValue VerifyEnabled{"VerifyEnabled", TConfigKind::Flag, "0"};
inline constexpr TConfigValue CheckInterval{"CheckInterval", TConfigKind::Number, "300"};
inline constexpr TConfigValue LogFile{"LogFile", TConfigKind::Text, ""};
inline constexpr TConfigValue LogEnabled{"LogEnabled", TConfigKind::Flag, "1"};
inline constexpr TConfigValue BalloonLevel{"BalloonLevel", TConfigKind::Number, "3"};
inline constexpr TConfigValue HotkeyEnabled{"HotkeyEnabled", TConfigKind::Flag, "0"};
inline constexpr TConfigValue Language{"Language", TConfigKind::Text, "en"};
} // namespace config

inline constexpr std::array<const TConfigValue*, 10> kConfigSchema{
    &config::Version,       &config::CheckUpdate, &config::VerifyURL,  &config::VerifyEnabled,
    &config::CheckInterval, &config::LogFile,     &config::LogEnabled, &config::BalloonLevel,
    &config::HotkeyEnabled, &config::Language};

// The opt-in of https addresses, kept in the same key but outside the ten: the defaults never
// write it, the settings dialog neither shows nor writes it (a save keeps it), and LoadConfig
// reads it after the ten without ever failing on it. Only a 4-byte REG_DWORD other than 0 turns
// it on; a missing value or any other type leaves it off, so older keys behave as before.
inline constexpr char kHttpsEnabled[] = "HttpsEnabled";
bool ReadHttpsEnabled(const platform::TRegistryKey* key);

// Whether the server editor and the settings dialog take `url` as an address: it begins exactly
// (letter case included) with "http://", or with "https://" when `httpsEnabled`.
bool AcceptsAddress(std::string_view url, bool httpsEnabled);

// Stores a value as its kind says (`text` for texts and numbers, `on` for flags); false when the
// key cannot be written (its LastError() says why).
bool SetConfigText(platform::TRegistryKey& key, const TConfigValue& value, std::string_view text);
bool SetConfigFlag(platform::TRegistryKey& key, const TConfigValue& value, bool on);

// A whole copy of `AppConfig`, safe from any thread while LoadConfig replaces it.
TAppConfig AppConfig();

void LoadConfig();         // throws qrv::Error; fields read before the failing one are kept
void WriteDefaultConfig(); // throws qrv::Error
bool AutostartState();
void SetAutostart(bool on);

// Name of the autostart entry, and the XDG autostart files that stand in for it: the
// machine-wide one, only read, and the user's, the only one written, which hides it.
inline constexpr char kAutostartName[] = "Quorvane";
std::string AutostartFilePath();
std::string UserAutostartFilePath();

// The reading rules of the configuration values, shared with the settings dialog. `key` may be
// nullptr (the key did not open): texts then read as empty and flags and numbers fail. Every
// failure is a qrv::Error naming the value.
std::string ReadConfigText(const platform::TRegistryKey* key, std::string_view name);
bool ReadConfigFlag(const platform::TRegistryKey* key, std::string_view name);
std::int32_t ReadConfigNumber(const platform::TRegistryKey* key, std::string_view name);
inline std::string ReadConfigText(const platform::TRegistryKey* key, const TConfigValue& value) {
    return ReadConfigText(key, value.Name);
}
inline bool ReadConfigFlag(const platform::TRegistryKey* key, const TConfigValue& value) {
    return ReadConfigFlag(key, value.Name);
}
inline std::int32_t ReadConfigNumber(const platform::TRegistryKey* key, const TConfigValue& value) {
    return ReadConfigNumber(key, value.Name);
}

// Tests only: the executable path that the autostart entry and the default log file use;
// "" goes back to the running executable.
void SetExecutablePathForTesting(std::string path);

} // namespace qrv::shell
