#pragma once

// The machine-wide registry hive, stood in for by one file per key below the first entry of
// $XDG_CONFIG_DIRS (default /etc/xdg): the key "Software\Ostrelle\Quorvane" is the file
// "<dir>/Ostrelle/Quorvane.reg" in the registry export format, so that every value keeps its
// registry type and raw data. That file is the administrator's and is only ever read: every
// user, root included, writes a copy of the key of their own below $XDG_CONFIG_HOME (default
// ~/.config), as a standard user's program gets a per-user copy of the machine-wide key
// elsewhere.

#include "platform/RegFile.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qrv::platform {

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
    // the machine-wide file. Writing always uses the user's copy: when there is none yet it is
    // made (0600, new folders 0700) from the machine-wide values; nullptr when it cannot be
    // made or written (the "may not write" case). The machine-wide file is never written. For
    // reading, nothing is created on disk: a missing key opens with no values, and so does a
    // damaged key file; nullptr only when the key path is invalid or an existing file cannot
    // be read.
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
