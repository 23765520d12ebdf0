#pragma once

#include <cstdint>
#include <string>

namespace qrv::shell {

inline constexpr char kVersion[] = "0.9.18";
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

void LoadConfig();          // throws qrv::Error; fields read before the failing one are kept
void WriteDefaultConfig();  // throws qrv::Error
bool AutostartState();
void SetAutostart(bool on);

} // namespace qrv::shell
