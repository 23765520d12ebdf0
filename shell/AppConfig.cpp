#include "shell/AppConfig.h"

#include "platform/Error.h"
#include "platform/IntConv.h"
#include "platform/Paths.h"

#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace qrv::shell {

using platform::TRegistryKey;

namespace {

constexpr char kLogFileName[] = "/QRV.log";
constexpr char kDesktopGroup[] = "[Desktop Entry]";
constexpr off_t kMaxDesktopFileSize = off_t{64} * 1024;

// Guards the published configuration and the executable path override.
std::mutex& ConfigMutex() {
    static std::mutex m;
    return m;
}

TAppConfig& PublishedConfig() {
    static TAppConfig config;
    return config;
}

std::string& ExecutablePathOverride() {
    static std::string path;
    return path;
}

void Publish(const TAppConfig& config) {
    std::lock_guard lock(ConfigMutex());
    PublishedConfig() = config;
}

std::string RunningExecutable() {
    {
        std::lock_guard lock(ConfigMutex());
        if (!ExecutablePathOverride().empty()) {
            return ExecutablePathOverride();
        }
    }
    return platform::ExecutablePath();
}

std::string ValueText(std::string_view name) {
    return "Configuration value '" + std::string(name) + "'";
}

void Write(TRegistryKey& key, std::string_view name, bool ok) {
    if (!ok) {
        throw Error("Unable to write " + ValueText(name) + ": " + key.LastError());
    }
}

// A desktop entry string value: backslash and the control characters a path may hold escaped.
std::string EscapeString(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// The Exec value of a desktop entry is a string (escapes \s \n \t \r \\) holding a command
// line whose double-quoted arguments escape " ` $ and \ with a backslash, and whose literal
// percent signs are doubled.
std::string EncodeExec(const std::string& path) {
    std::string quoted = "\"";
    for (const char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            quoted += '\\';
        }
        quoted += c;
        if (c == '%') {
            quoted += '%';
        }
    }
    quoted += '"';
    return EscapeString(quoted);
}

// Reverses EncodeExec and drops every double quote, so that a path written with or without
// quotes reads back as the path.
std::string DecodeExec(std::string_view value) {
    std::string unescaped;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            const char next = value[i + 1];
            const char* plain = next == 's'    ? " "
                                : next == 'n'  ? "\n"
                                : next == 't'  ? "\t"
                                : next == 'r'  ? "\r"
                                : next == '\\' ? "\\"
                                               : nullptr;
            if (plain != nullptr) {
                unescaped += plain;
                ++i;
                continue;
            }
        }
        unescaped += value[i];
    }
    std::string out;
    bool inQuotes = false;
    for (std::size_t i = 0; i < unescaped.size(); ++i) {
        const char c = unescaped[i];
        if (c == '"') {
            inQuotes = !inQuotes;
        } else if (inQuotes && c == '\\' && i + 1 < unescaped.size() &&
                   std::string_view("\"`$\\").find(unescaped[i + 1]) != std::string_view::npos) {
            out += unescaped[++i];
        } else if (c == '%' && i + 1 < unescaped.size() && unescaped[i + 1] == '%') {
            out += '%';
            ++i;
        } else {
            out += c;
        }
    }
    return out;
}

// A value of the [Desktop Entry] group, or "" when there is none.
std::string DesktopEntryValue(std::string_view text, std::string_view wanted) {
    bool inEntry = false;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (!line.empty() && line.front() == '[') {
            inEntry = line == kDesktopGroup;
            continue;
        }
        const std::size_t eq = line.find('=');
        if (!inEntry || eq == std::string_view::npos) {
            continue;
        }
        std::string_view key = line.substr(0, eq);
        while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) {
            key.remove_suffix(1);
        }
        if (key != wanted) {
            continue;
        }
        std::string_view value = line.substr(eq + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
            value.remove_prefix(1);
        }
        return std::string(value);
    }
    return {};
}

} // namespace

bool SetConfigText(TRegistryKey& key, const TConfigValue& value, std::string_view text) {
    return key.SetString(value.Name, text);
}

bool SetConfigFlag(TRegistryKey& key, const TConfigValue& value, bool on) {
    return key.SetDword(value.Name, on ? 1 : 0);
}

TAppConfig AppConfig() {
    std::lock_guard lock(ConfigMutex());
    return PublishedConfig();
}

std::string ReadConfigText(const TRegistryKey* key, std::string_view name) {
    if (key == nullptr) {
        return {};
    }
    auto text = key->QueryString(name);
    if (!text) {
        throw Error(ValueText(name) + " is not a text");
    }
    return std::move(*text);
}

bool ReadConfigFlag(const TRegistryKey* key, std::string_view name) {
    if (key == nullptr || !key->QueryValue(name)) {
        throw Error(ValueText(name) + " is missing");
    }
    const auto flag = key->QueryDword(name);
    if (!flag) {
        throw Error(ValueText(name) + " is not a 4-byte REG_DWORD");
    }
    return *flag != 0;
}

bool ReadHttpsEnabled(const TRegistryKey* key) {
    if (key == nullptr) {
        return false;
    }
    const auto flag = key->QueryDword(kHttpsEnabled);
    return flag && *flag != 0;
}

bool AcceptsAddress(std::string_view url, bool httpsEnabled) {
    return url.starts_with("http://") || (httpsEnabled && url.starts_with("https://"));
}

std::int32_t ReadConfigNumber(const TRegistryKey* key, std::string_view name) {
    const std::string text = ReadConfigText(key, name);
    const auto number = platform::StrToInt(text);
    if (!number) {
        throw Error(ValueText(name) + " is not a whole number: '" + text + "'");
    }
    return *number;
}

void LoadConfig() {
    // One load at a time; readers meanwhile keep seeing the previous whole configuration.
    static std::mutex loadMutex;
    std::lock_guard loadLock(loadMutex);
    TAppConfig next = AppConfig();
    const auto key = TRegistryKey::Create(kConfigKey, false);
    const TRegistryKey* k = key.get();
    try {
        next.Version = ReadConfigText(k, config::Version);
        next.CheckUpdate = ReadConfigFlag(k, config::CheckUpdate);
        next.VerifyURL = ReadConfigText(k, config::VerifyURL);
        next.VerifyEnabled = ReadConfigFlag(k, config::VerifyEnabled);
        next.LogEnabled = ReadConfigFlag(k, config::LogEnabled);
        next.LogFile = ReadConfigText(k, config::LogFile);
        next.CheckInterval = ReadConfigNumber(k, config::CheckInterval);
        next.BalloonLevel = ReadConfigNumber(k, config::BalloonLevel);
        next.HotkeyEnabled = ReadConfigFlag(k, config::HotkeyEnabled);
        next.Language = ReadConfigText(k, config::Language);
        next.HttpsEnabled = ReadHttpsEnabled(k);
    } catch (...) {
        // The values read before the failing one take effect.
        Publish(next);
        throw;
    }
    Publish(next);
}

void WriteDefaultConfig() {
    const auto key = TRegistryKey::Create(kConfigKey, true);
    if (!key) {
        throw Error(std::string("Unable to open the registry key 'HKEY_LOCAL_MACHINE\\") +
                    kConfigKey + "' for writing");
    }
    const std::string dataDir =
        platform::ResolveProgramDataDir(platform::DirectoryOf(RunningExecutable()));
    TRegistryKey& k = *key;
    for (const TConfigValue* value : kConfigSchema) {
        const bool written =
            value->Kind == TConfigKind::Flag ? SetConfigFlag(k, *value, value->Default == "1")
            : value == &config::LogFile      ? SetConfigText(k, *value, dataDir + kLogFileName)
                                             : SetConfigText(k, *value, value->Default);
        Write(k, value->Name, written);
    }
    k.Close();
}

std::string AutostartFilePath() {
    return platform::MachineConfigDir() + "/autostart/" + kAutostartName + ".desktop";
}

std::string UserAutostartFilePath() {
    const std::string dir = platform::UserConfigDir();
    return dir.empty() ? std::string() : dir + "/autostart/" + kAutostartName + ".desktop";
}

namespace {

enum class TEntry { Missing, Other, Ours };

// What an autostart entry says about this executable. A hidden entry starts nothing, and
// neither does one that a desktop's start-up tool has switched off with its own key.
TEntry ReadAutostartEntry(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) {
        return TEntry::Missing;
    }
    std::string text;
    const std::string exe = RunningExecutable();
    if (exe.empty() || st.st_size > kMaxDesktopFileSize || !platform::ReadWholeFile(path, text) ||
        DesktopEntryValue(text, "Hidden") == "true" ||
        DesktopEntryValue(text, "X-GNOME-Autostart-enabled") == "false") {
        return TEntry::Other;
    }
    return DecodeExec(DesktopEntryValue(text, "Exec")) == exe ? TEntry::Ours : TEntry::Other;
}

bool WriteAutostartEntry(const std::string& path, bool hidden) {
    if (path.empty() || !platform::CreateDirectories(platform::DirectoryOf(path))) {
        return false;
    }
    std::string entry = std::string(kDesktopGroup) +
                        "\n"
                        "Type=Application\n"
                        "Version=1.0\n"
                        "Name=Quorvane\n"
                        "Comment=Website availability monitor\n"
                        "Exec=" +
                        EncodeExec(RunningExecutable()) +
                        "\n"
                        // Once the program is gone, the desktop skips the entry.
                        "TryExec=" +
                        EscapeString(RunningExecutable()) +
                        "\n"
                        "Icon=" +
                        platform::kDesktopEntryId +
                        "\n"
                        "Terminal=false\n"
                        "X-GNOME-Autostart-enabled=true\n";
    if (hidden) {
        entry += "Hidden=true\n";
    }
    try {
        platform::WriteFileAtomically(path, entry);
    } catch (const Error&) {
        return false;
    }
    return true;
}

} // namespace

bool AutostartState() {
    // A user's entry hides the machine-wide one of the same name.
    const TEntry user = ReadAutostartEntry(UserAutostartFilePath());
    if (user != TEntry::Missing) {
        return user == TEntry::Ours;
    }
    return ReadAutostartEntry(AutostartFilePath()) == TEntry::Ours;
}

// Failures stay silent: the entry stays as it was. Only the user's own entry is ever written;
// the machine-wide one is the administrator's.
void SetAutostart(bool on) {
    const std::string user = UserAutostartFilePath();
    if (user.empty()) {
        return;
    }
    if (on) {
        WriteAutostartEntry(user, false);
        return;
    }
    if (ReadAutostartEntry(AutostartFilePath()) == TEntry::Ours) {
        // A machine-wide entry that starts this program is hidden for this user only.
        WriteAutostartEntry(user, true);
        return;
    }
    ::unlink(user.c_str()); // a missing entry is no error
}

void SetExecutablePathForTesting(std::string path) {
    std::lock_guard lock(ConfigMutex());
    ExecutablePathOverride() = std::move(path);
}

} // namespace qrv::shell
