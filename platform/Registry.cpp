#include "platform/Registry.h"

#include "platform/Error.h"
#include "platform/Paths.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace qrv::platform {

namespace {

constexpr std::string_view kSoftware = "Software";

// Every change of a key file is a read-modify-write; one at a time within the process.
std::mutex gChangeMutex;

// ---- key files ------------------------------------------------------------------------

enum class TLoad { Ok, Missing, Damaged, Unreadable };

// Reads at most kMaxRegFileSize + 1 bytes, so a huge file costs nothing.
TLoad ReadKeyFile(const std::string& path, std::string_view keyPath, std::vector<TRegEntry>& values,
                  std::string& why) {
    values.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return TLoad::Missing;
        }
        why = path + ": " + std::strerror(errno);
        return TLoad::Unreadable;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        why = path + ": not a regular file";
        return TLoad::Unreadable;
    }
    std::string bytes;
    char buf[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            why = path + ": " + std::strerror(errno);
            ::close(fd);
            return TLoad::Unreadable;
        }
        if (n == 0) {
            break;
        }
        bytes.append(buf, static_cast<std::size_t>(n));
        if (bytes.size() > kMaxRegFileSize) {
            break;
        }
    }
    ::close(fd);
    std::string error;
    auto file = ParseRegFile(bytes, &error);
    if (!file) {
        why = path + ": " + error;
        return TLoad::Damaged;
    }
    if (!SameRegName(file->KeyPath, keyPath)) {
        why = path + ": holds another key";
        return TLoad::Damaged;
    }
    values = std::move(file->Values);
    return TLoad::Ok;
}

bool ValidValueName(std::string_view name) {
    return ValidRegText(name);
}

} // namespace

std::string MachineConfigDir() {
    const char* env = std::getenv("XDG_CONFIG_DIRS");
    std::string_view dirs = env != nullptr ? env : "";
    while (!dirs.empty()) {
        const std::size_t colon = dirs.find(':');
        std::string dir(dirs.substr(0, colon));
        dirs = colon == std::string_view::npos ? std::string_view{} : dirs.substr(colon + 1);
        // Relative entries are invalid in this variable and are skipped.
        if (dir.empty() || dir[0] != '/') {
            continue;
        }
        while (dir.size() > 1 && dir.back() == '/') {
            dir.pop_back();
        }
        return dir;
    }
    return "/etc/xdg";
}

namespace {

std::string KeyFileBelow(const std::string& base, std::string_view keyPath) {
    const auto parts = SplitRegKeyPath(keyPath);
    if (base.empty() || parts.size() < 2 || !SameRegName(parts[0], kSoftware)) {
        return {};
    }
    std::string path = base;
    if (path != "/") {
        path += '/';
    }
    for (std::size_t i = 1; i < parts.size(); ++i) {
        if (!ValidRegKeyComponent(parts[i])) {
            return {};
        }
        if (i > 1) {
            path += '/';
        }
        path += parts[i];
    }
    path += ".reg";
    return path;
}

} // namespace

std::string RegistryFilePath(std::string_view keyPath) {
    return KeyFileBelow(MachineConfigDir(), keyPath);
}

std::string UserRegistryFilePath(std::string_view keyPath) {
    return KeyFileBelow(UserConfigDir(), keyPath);
}

// ---- TRegistryKey ---------------------------------------------------------------------

TRegistryKey::TRegistryKey(std::string keyPath, std::string filePath, bool forWrite)
    : keyPath_(std::move(keyPath)), filePath_(std::move(filePath)), forWrite_(forWrite) {}

std::unique_ptr<TRegistryKey> TRegistryKey::Create(std::string_view keyPath, bool forWrite) {
    const std::string machinePath = RegistryFilePath(keyPath);
    if (machinePath.empty()) {
        return nullptr;
    }
    const std::string userPath = UserRegistryFilePath(keyPath);
    std::vector<TRegEntry> values;
    std::string why;
    // The user's copy, once it exists, is the key for this user.
    TLoad load = userPath.empty() ? TLoad::Missing : ReadKeyFile(userPath, keyPath, values, why);
    if (load == TLoad::Missing) {
        load = ReadKeyFile(machinePath, keyPath, values, why);
        if (!forWrite) {
            if (load == TLoad::Unreadable) {
                return nullptr;
            }
            std::unique_ptr<TRegistryKey> key(
                new TRegistryKey(std::string(keyPath), machinePath, false));
            key->values_ = std::move(values);
            key->lastError_ = why;
            return key;
        }
        // The machine-wide key belongs to the administrator and is never written, not by root
        // either: a write goes to a copy of the user's own that starts with its values, so
        // nothing the administrator set is lost. An unreadable machine key gives an empty copy.
        if (load == TLoad::Unreadable) {
            values.clear();
        }
        if (userPath.empty() || !CreateDirectories(DirectoryOf(userPath), 0700)) {
            return nullptr;
        }
        try {
            WriteFileAtomically(userPath, FormatRegFile({std::string(keyPath), values}), 0600);
        } catch (const Error&) {
            return nullptr;
        }
    } else if (load == TLoad::Unreadable) {
        return nullptr;
    } else if (forWrite) {
        const std::string dir = DirectoryOf(userPath);
        if (::access(userPath.c_str(), W_OK) != 0 || ::access(dir.c_str(), W_OK) != 0) {
            return nullptr;
        }
    }
    std::unique_ptr<TRegistryKey> key(new TRegistryKey(std::string(keyPath), userPath, forWrite));
    key->values_ = std::move(values);
    key->lastError_ = why;
    return key;
}

std::optional<TRegValue> TRegistryKey::QueryValue(std::string_view name) const {
    if (!open_) {
        return std::nullopt;
    }
    for (const auto& entry : values_) {
        if (SameRegName(entry.Name, name)) {
            return entry.Value;
        }
    }
    return std::nullopt;
}

std::optional<std::string> TRegistryKey::QueryString(std::string_view name) const {
    const auto value = QueryValue(name);
    if (!value || value->Data.empty()) {
        return std::string();
    }
    if (value->Type != REG_SZ && value->Type != REG_EXPAND_SZ) {
        return std::nullopt;
    }
    return DecodeRegString(value->Data);
}

std::optional<std::uint32_t> TRegistryKey::QueryDword(std::string_view name) const {
    const auto value = QueryValue(name);
    if (!value || value->Type != REG_DWORD || value->Data.size() != 4) {
        return std::nullopt;
    }
    const auto& d = value->Data;
    return static_cast<std::uint32_t>(d[0]) | (static_cast<std::uint32_t>(d[1]) << 8) |
           (static_cast<std::uint32_t>(d[2]) << 16) | (static_cast<std::uint32_t>(d[3]) << 24);
}

std::vector<std::string> TRegistryKey::ValueNames() const {
    std::vector<std::string> names;
    if (open_) {
        for (const auto& entry : values_) {
            names.push_back(entry.Name);
        }
    }
    return names;
}

bool TRegistryKey::SetValue(std::string_view name, const TRegValue& value) {
    if (!ValidValueName(name)) {
        lastError_ = "invalid value name";
        return false;
    }
    return Change(name, &value);
}

bool TRegistryKey::SetString(std::string_view name, std::string_view utf8) {
    return SetValue(name, {REG_SZ, EncodeRegString(utf8)});
}

bool TRegistryKey::SetDword(std::string_view name, std::uint32_t value) {
    return SetValue(
        name, {REG_DWORD,
               {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)}});
}

bool TRegistryKey::DeleteValue(std::string_view name) {
    return Change(name, nullptr);
}

bool TRegistryKey::Change(std::string_view name, const TRegValue* value) {
    if (!open_ || !forWrite_) {
        lastError_ = open_ ? "key opened for reading" : "key closed";
        return false;
    }
    std::lock_guard lock(gChangeMutex);
    // Start from what the file holds now, so that changes made since the key was opened stay;
    // a damaged or vanished file is replaced.
    std::vector<TRegEntry> values;
    std::string why;
    if (ReadKeyFile(filePath_, keyPath_, values, why) == TLoad::Unreadable) {
        lastError_ = why;
        return false;
    }
    auto it = values.begin();
    while (it != values.end() && !SameRegName(it->Name, name)) {
        ++it;
    }
    if (value == nullptr) {
        if (it == values.end()) {
            values_ = std::move(values);
            return true;
        }
        values.erase(it);
    } else if (it != values.end()) {
        it->Value = *value; // the stored letter case of the name stays
    } else {
        values.push_back({std::string(name), *value});
    }
    const std::string text = FormatRegFile({keyPath_, values});
    if (text.size() > kMaxRegFileSize) {
        // The reader would refuse the file and every value of the key would be lost.
        lastError_ = "the key would grow beyond " + std::to_string(kMaxRegFileSize) + " bytes";
        return false;
    }
    try {
        WriteFileAtomically(filePath_, text);
    } catch (const Error& e) {
        lastError_ = e.what();
        return false;
    }
    values_ = std::move(values);
    return true;
}

void TRegistryKey::Close() {
    open_ = false;
    values_.clear();
}

} // namespace qrv::platform
