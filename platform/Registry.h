#pragma once

// The machine-wide registry hive, stood in for by one file per key below the first entry of
// $XDG_CONFIG_DIRS (default /etc/xdg): the key "Software\Ostrelle\Quorvane" is the file
// "<dir>/Ostrelle/Quorvane.reg" in the registry export format, so that every value keeps its
// registry type and raw data. A user who may not write there gets a copy of the key of their
// own below $XDG_CONFIG_HOME (default ~/.config), as a standard user's program gets a per-user
// copy of the machine-wide key elsewhere.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qrv::platform {

// Registry value types, with their Windows numbers.
enum TRegType : std::uint32_t {
    REG_NONE = 0,
    REG_SZ = 1,
    REG_EXPAND_SZ = 2,
    REG_BINARY = 3,
    REG_DWORD = 4,
    REG_DWORD_BIG_ENDIAN = 5,
    REG_LINK = 6,
    REG_MULTI_SZ = 7,
    REG_RESOURCE_LIST = 8,
    REG_FULL_RESOURCE_DESCRIPTOR = 9,
    REG_RESOURCE_REQUIREMENTS_LIST = 10,
    REG_QWORD = 11,
};

// A value's type and raw data. REG_SZ data is UTF-16LE with a terminating NUL, REG_DWORD
// four little-endian bytes.
struct TRegValue {
    std::uint32_t Type = REG_NONE;
    std::vector<std::uint8_t> Data;

    bool operator==(const TRegValue&) const = default;
};

struct TRegEntry {
    std::string Name; // UTF-8, as stored; "" is the key's default value ("@")
    TRegValue Value;

    bool operator==(const TRegEntry&) const = default;
};

// The contents of one key file: its path below HKEY_LOCAL_MACHINE and its values in file order.
struct TRegFile {
    std::string KeyPath;
    std::vector<TRegEntry> Values;

    bool operator==(const TRegFile&) const = default;
};

// Larger key files are refused as damaged.
inline constexpr std::size_t kMaxRegFileSize = 1024 * 1024;

// Strict reader of a key file: header line, one [HKEY_LOCAL_MACHINE\...] section, value lines
// ("Name"="text", dword:, hex:, hex(N):), blank and ';' comment lines; LF or CR LF. Anything
// else (unknown lines, bad escapes, bad hex, duplicate names, more than kMaxRegFileSize bytes)
// gives no result and, when `error` is given, a description of the first fault.
std::optional<TRegFile> ParseRegFile(std::string_view bytes, std::string* error = nullptr);

// Writes a key file that ParseRegFile reads back to the same contents; LF line ends.
std::string FormatRegFile(const TRegFile& file);

// UTF-8 text as REG_SZ data: UTF-16LE followed by one NUL, (length + 1) * 2 bytes.
std::vector<std::uint8_t> EncodeRegString(std::string_view utf8);

// REG_SZ / REG_EXPAND_SZ data as UTF-8: the characters up to the first NUL (or the end).
std::string DecodeRegString(const std::vector<std::uint8_t>& data);

// Registry value names compare without regard to letter case.
bool SameRegName(std::string_view a, std::string_view b);

// The machine-wide configuration directory: the first absolute entry of $XDG_CONFIG_DIRS,
// else /etc/xdg. Read at every call.
std::string MachineConfigDir();

// The machine-wide file that holds a key, or "" when the key path is not
// "Software\<name>[\<name>...]".
std::string RegistryFilePath(std::string_view keyPath);

// The user's copy of that file below UserConfigDir(); "" as above or without a home.
std::string UserRegistryFilePath(std::string_view keyPath);

// An open key of the machine-wide hive, or of the user's copy of it.
class TRegistryKey {
public:
    // Opens a key, creating it when missing. Reading uses the user's copy when it exists, else
    // the machine-wide file. Writing uses the user's copy when it exists, else the machine-wide
    // file when it can be created or written, else a new user's copy (0600, new folders 0700)
    // that starts with the machine-wide values; nullptr when none of this is possible (the
    // "may not write" case). For reading, nothing is created on disk: a missing key opens with
    // no values, and so does a damaged key file; nullptr only when the key path is invalid or
    // an existing file cannot be read.
    static std::unique_ptr<TRegistryKey> Create(std::string_view keyPath, bool forWrite);

    // A value's type and data; nothing when the value is missing or the key is closed.
    std::optional<TRegValue> QueryValue(std::string_view name) const;

    // A text value: "" when missing or of size 0; the characters up to the first NUL for
    // REG_SZ and REG_EXPAND_SZ (not expanded); nothing for any other type.
    std::optional<std::string> QueryString(std::string_view name) const;

    // A REG_DWORD of exactly four bytes; nothing otherwise.
    std::optional<std::uint32_t> QueryDword(std::string_view name) const;

    // Names of every value, in file order.
    std::vector<std::string> ValueNames() const;

    // Each change rewrites the key file atomically. False when the key was opened for reading,
    // is closed, or the file cannot be written (LastError() says why).
    bool SetValue(std::string_view name, const TRegValue& value);
    bool SetString(std::string_view name, std::string_view utf8);
    bool SetDword(std::string_view name, std::uint32_t value);
    // A missing value is no error.
    bool DeleteValue(std::string_view name);

    void Close();

    const std::string& KeyPath() const { return keyPath_; }
    const std::string& FilePath() const { return filePath_; }
    const std::string& LastError() const { return lastError_; }

private:
    TRegistryKey(std::string keyPath, std::string filePath, bool forWrite);
    bool Change(std::string_view name, const TRegValue* value);

    std::string keyPath_;
    std::string filePath_;
    bool forWrite_ = false;
    bool open_ = true;
    std::vector<TRegEntry> values_;
    std::string lastError_;
};

} // namespace qrv::platform
