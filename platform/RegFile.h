#pragma once

// The registry export format ("Windows Registry Editor Version 5.00") in which each key of the
// configuration is kept: its values with their registry types and raw data, read strictly and
// written so that it reads back the same. No files here: the key store (Registry.h) does those.

#include <cstdint>
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
inline constexpr std::size_t kMaxRegFileSize = std::size_t{1024} * 1024;

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

// Key path parts: "Software\\Ostrelle\\Quorvane" gives its three names; each must be a valid
// component (not empty, not "." or "..", no '/', printable UTF-8 without tabs) to name a file.
std::vector<std::string_view> SplitRegKeyPath(std::string_view keyPath);
bool ValidRegKeyComponent(std::string_view component);
// Text that can stand between quotes in a key file (value names, key names).
bool ValidRegText(std::string_view text);

} // namespace qrv::platform
