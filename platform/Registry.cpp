#include "platform/Registry.h"

#include "platform/CodePage.h"
#include "platform/Error.h"
#include "platform/IntConv.h"
#include "platform/Paths.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

namespace qrv::platform {

namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHive = "HKEY_LOCAL_MACHINE";
constexpr std::string_view kSoftware = "Software";
constexpr std::size_t kWrapColumn = 80;

// Every change of a key file is a read-modify-write; one at a time within the process.
std::mutex gChangeMutex;

char AsciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string FoldedName(std::string name) {
    for (char& c : name) {
        c = AsciiUpper(c);
    }
    return name;
}

// Text that can stand between quotes in a key file: well-formed UTF-8 without control
// characters other than the tab.
bool IsPrintableUtf8(std::string_view s) {
    std::size_t pos = 0;
    char32_t cp = 0;
    while (pos < s.size()) {
        if (!NextUtf8(s, pos, cp)) {
            return false;
        }
        if (cp < 0x20 && cp != '\t') {
            return false;
        }
    }
    return true;
}

void AppendUnit(std::vector<std::uint8_t>& out, std::uint16_t unit) {
    out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    out.push_back(static_cast<std::uint8_t>(unit >> 8));
}

// REG_SZ data that a quoted text reproduces exactly (one NUL at the end and nowhere else,
// paired surrogates, no control characters): the text, else nothing.
std::optional<std::string> QuotableRegString(const std::vector<std::uint8_t>& data) {
    std::string text = DecodeRegString(data);
    if (EncodeRegString(text) != data || !IsPrintableUtf8(text)) {
        return std::nullopt;
    }
    return text;
}

void AppendQuoted(std::string& out, std::string_view text) {
    out += '"';
    for (const char c : text) {
        if (c == '\\' || c == '"') {
            out += '\\';
        }
        out += c;
    }
    out += '"';
}

void AppendHex8(std::string& out, std::uint32_t v) {
    static constexpr char kDigits[] = "0123456789abcdef";
    for (int shift = 28; shift >= 0; shift -= 4) {
        out += kDigits[(v >> shift) & 0xF];
    }
}

void AppendHexData(std::string& out, std::size_t lineStart, const std::vector<std::uint8_t>& data) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::size_t column = out.size() - lineStart;
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (i > 0) {
            // Room for ",xx" and a possible ",\" must remain, as the export wraps its lines.
            if (column + 3 + 2 > kWrapColumn) {
                out += ",\\\n  ";
                column = 2;
            } else {
                out += ',';
                ++column;
            }
        }
        out += kDigits[data[i] >> 4];
        out += kDigits[data[i] & 0xF];
        column += 2;
    }
}

bool ValidKeyComponent(std::string_view c) {
    return !c.empty() && c != "." && c != ".." && c.find('/') == std::string_view::npos &&
           IsPrintableUtf8(c) && c.find('\t') == std::string_view::npos;
}

std::vector<std::string_view> SplitKeyPath(std::string_view keyPath) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = keyPath.find('\\', start);
        parts.push_back(
            keyPath.substr(start, slash == std::string_view::npos ? slash : slash - start));
        if (slash == std::string_view::npos) {
            return parts;
        }
        start = slash + 1;
    }
}

bool ValidKeyPath(std::string_view keyPath) {
    for (const auto part : SplitKeyPath(keyPath)) {
        if (!ValidKeyComponent(part)) {
            return false;
        }
    }
    return true;
}

// ---- reader ---------------------------------------------------------------------------

class TRegReader {
public:
    explicit TRegReader(std::string_view bytes) {
        if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
            bytes.remove_prefix(3);
        }
        std::size_t start = 0;
        while (start <= bytes.size()) {
            std::size_t end = bytes.find('\n', start);
            if (end == std::string_view::npos) {
                end = bytes.size();
            }
            std::string_view line = bytes.substr(start, end - start);
            if (!line.empty() && line.back() == '\r') {
                line.remove_suffix(1);
            }
            lines_.push_back(line);
            if (end == bytes.size()) {
                break;
            }
            start = end + 1;
        }
    }

    std::optional<TRegFile> Read(std::string* error) {
        if (lines_.empty() || lines_[0] != kHeader) {
            return Fail(error, 0, "missing header line");
        }
        TRegFile file;
        bool haveSection = false;
        std::unordered_set<std::string> names;
        for (index_ = 1; index_ < lines_.size(); ++index_) {
            const std::string_view line = lines_[index_];
            if (IsBlank(line) || line.front() == ';') {
                continue;
            }
            if (line.front() == '[') {
                if (haveSection) {
                    return Fail(error, index_, "more than one key");
                }
                if (!ReadSection(line, file.KeyPath)) {
                    return Fail(error, index_, "bad key line");
                }
                haveSection = true;
                continue;
            }
            if (line.front() != '"' && line.front() != '@') {
                return Fail(error, index_, "unknown line");
            }
            if (!haveSection) {
                return Fail(error, index_, "value before the key line");
            }
            TRegEntry entry;
            if (const char* why = ReadValue(entry)) {
                return Fail(error, index_, why);
            }
            // A set keeps a file of many values from costing quadratic time.
            if (!names.insert(FoldedName(entry.Name)).second) {
                return Fail(error, index_, "value named twice");
            }
            file.Values.push_back(std::move(entry));
        }
        if (!haveSection) {
            return Fail(error, lines_.size() - 1, "no key line");
        }
        return file;
    }

private:
    static bool IsBlank(std::string_view line) {
        return line.find_first_not_of(" \t") == std::string_view::npos;
    }

    static std::optional<TRegFile> Fail(std::string* error, std::size_t index, const char* why) {
        if (error != nullptr) {
            *error = "line " + std::to_string(index + 1) + ": " + why;
        }
        return std::nullopt;
    }

    static bool ReadSection(std::string_view line, std::string& keyPath) {
        if (line.size() < 2 || line.back() != ']') {
            return false;
        }
        const std::string_view inside = line.substr(1, line.size() - 2);
        if (inside.size() <= kHive.size() || inside[kHive.size()] != '\\' ||
            !SameRegName(inside.substr(0, kHive.size()), kHive)) {
            return false;
        }
        const std::string_view path = inside.substr(kHive.size() + 1);
        if (!ValidKeyPath(path)) {
            return false;
        }
        keyPath = std::string(path);
        return true;
    }

    // A quoted text at `pos`, which must hold the opening quote. Only \\ and \" are escapes.
    static const char* ReadQuoted(std::string_view line, std::size_t& pos, std::string& out) {
        ++pos;
        for (;;) {
            if (pos >= line.size()) {
                return "unterminated text";
            }
            const char c = line[pos++];
            if (c == '"') {
                break;
            }
            if (c == '\\') {
                if (pos >= line.size() || (line[pos] != '\\' && line[pos] != '"')) {
                    return "bad escape in text";
                }
                out += line[pos++];
                continue;
            }
            out += c;
        }
        if (!IsPrintableUtf8(out)) {
            return "text is not printable UTF-8";
        }
        return nullptr;
    }

    const char* ReadValue(TRegEntry& entry) {
        const std::string_view line = lines_[index_];
        std::size_t pos = 0;
        if (line[0] == '@') {
            pos = 1;
        } else if (const char* why = ReadQuoted(line, pos, entry.Name)) {
            return why;
        }
        if (pos >= line.size() || line[pos] != '=') {
            return "missing '=' after the value name";
        }
        ++pos;
        const std::string_view data = line.substr(pos);
        if (!data.empty() && data[0] == '"') {
            std::string text;
            std::size_t at = 0;
            if (const char* why = ReadQuoted(data, at, text)) {
                return why;
            }
            if (at != data.size()) {
                return "characters after the text";
            }
            entry.Value = {REG_SZ, EncodeRegString(text)};
            return nullptr;
        }
        if (data.substr(0, 6) == "dword:") {
            const std::string_view digits = data.substr(6);
            if (digits.empty() || digits.size() > 8) {
                return "bad dword";
            }
            std::uint32_t v = 0;
            for (const char c : digits) {
                const int d = HexDigitValue(c);
                if (d < 0) {
                    return "bad dword";
                }
                v = (v << 4) | static_cast<std::uint32_t>(d);
            }
            entry.Value.Type = REG_DWORD;
            entry.Value.Data = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                                static_cast<std::uint8_t>(v >> 16),
                                static_cast<std::uint8_t>(v >> 24)};
            return nullptr;
        }
        if (data.substr(0, 3) != "hex") {
            return "unknown value data";
        }
        std::size_t at = 3;
        std::uint32_t type = REG_BINARY;
        if (at < data.size() && data[at] == '(') {
            ++at;
            std::size_t digits = 0;
            type = 0;
            while (at < data.size() && HexDigitValue(data[at]) >= 0) {
                if (++digits > 8) {
                    return "bad type number";
                }
                type = (type << 4) | static_cast<std::uint32_t>(HexDigitValue(data[at]));
                ++at;
            }
            if (digits == 0 || at >= data.size() || data[at] != ')') {
                return "bad type number";
            }
            ++at;
        }
        if (at >= data.size() || data[at] != ':') {
            return "unknown value data";
        }
        entry.Value.Type = type;
        return ReadHexBytes(line, pos + at + 1, entry.Value.Data);
    }

    // Comma-separated byte pairs; after a comma, a backslash ending the line continues the
    // list on the next line, whose leading blanks are skipped.
    const char* ReadHexBytes(std::string_view line, std::size_t pos,
                             std::vector<std::uint8_t>& out) {
        if (pos == line.size()) {
            return nullptr;
        }
        for (;;) {
            if (line.size() - pos < 2 || HexDigitValue(line[pos]) < 0 ||
                HexDigitValue(line[pos + 1]) < 0) {
                return "bad hex data";
            }
            out.push_back(static_cast<std::uint8_t>(HexDigitValue(line[pos]) * 16 +
                                                    HexDigitValue(line[pos + 1])));
            pos += 2;
            if (pos == line.size()) {
                return nullptr;
            }
            if (line[pos] != ',') {
                return "bad hex data";
            }
            ++pos;
            if (pos + 1 == line.size() && line[pos] == '\\') {
                if (index_ + 1 >= lines_.size()) {
                    return "hex data continued past the end";
                }
                line = lines_[++index_];
                pos = line.find_first_not_of(" \t");
                if (pos == std::string_view::npos) {
                    return "bad hex data";
                }
            }
        }
    }

    std::vector<std::string_view> lines_;
    std::size_t index_ = 0;
};

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
    return IsPrintableUtf8(name);
}

} // namespace

// ---- format ---------------------------------------------------------------------------

std::optional<TRegFile> ParseRegFile(std::string_view bytes, std::string* error) {
    if (bytes.size() > kMaxRegFileSize) {
        if (error != nullptr) {
            *error = "larger than " + std::to_string(kMaxRegFileSize) + " bytes";
        }
        return std::nullopt;
    }
    return TRegReader(bytes).Read(error);
}

std::string FormatRegFile(const TRegFile& file) {
    std::string out;
    out += kHeader;
    out += "\n\n[";
    out += kHive;
    out += '\\';
    out += file.KeyPath;
    out += "]\n";
    for (const auto& entry : file.Values) {
        const std::size_t lineStart = out.size();
        if (entry.Name.empty()) {
            out += '@';
        } else {
            AppendQuoted(out, entry.Name);
        }
        out += '=';
        const TRegValue& v = entry.Value;
        if (v.Type == REG_SZ) {
            if (auto text = QuotableRegString(v.Data)) {
                AppendQuoted(out, *text);
                out += '\n';
                continue;
            }
        }
        if (v.Type == REG_DWORD && v.Data.size() == 4) {
            out += "dword:";
            AppendHex8(out, static_cast<std::uint32_t>(v.Data[0]) | (v.Data[1] << 8) |
                                (v.Data[2] << 16) | (static_cast<std::uint32_t>(v.Data[3]) << 24));
            out += '\n';
            continue;
        }
        if (v.Type == REG_BINARY) {
            out += "hex:";
        } else {
            out += "hex(";
            static constexpr char kDigits[] = "0123456789abcdef";
            std::string digits;
            std::uint32_t t = v.Type;
            do {
                digits.insert(digits.begin(), kDigits[t & 0xF]);
                t >>= 4;
            } while (t != 0);
            out += digits;
            out += "):";
        }
        AppendHexData(out, lineStart, v.Data);
        out += '\n';
    }
    out += '\n';
    return out;
}

std::vector<std::uint8_t> EncodeRegString(std::string_view utf8) {
    const std::string clean = SanitizeUtf8(utf8);
    std::vector<std::uint8_t> out;
    out.reserve((clean.size() + 1) * 2);
    std::size_t pos = 0;
    char32_t cp = 0;
    while (pos < clean.size()) {
        if (!NextUtf8(clean, pos, cp)) {
            cp = 0xFFFD;
            ++pos;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            AppendUnit(out, static_cast<std::uint16_t>(0xD800 + (cp >> 10)));
            AppendUnit(out, static_cast<std::uint16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            AppendUnit(out, static_cast<std::uint16_t>(cp));
        }
    }
    AppendUnit(out, 0);
    return out;
}

std::string DecodeRegString(const std::vector<std::uint8_t>& data) {
    std::string out;
    const std::size_t units = data.size() / 2;
    for (std::size_t i = 0; i < units; ++i) {
        const auto u = static_cast<std::uint16_t>(data[2 * i] | (data[2 * i + 1] << 8));
        if (u == 0) {
            break;
        }
        char32_t cp = u;
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            const auto low = static_cast<std::uint16_t>(data[2 * i + 2] | (data[2 * i + 3] << 8));
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            } else {
                cp = 0xFFFD;
            }
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            cp = 0xFFFD;
        }
        AppendUtf8(out, cp);
    }
    return out;
}

bool SameRegName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiUpper(a[i]) != AsciiUpper(b[i])) {
            return false;
        }
    }
    return true;
}

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
    const auto parts = SplitKeyPath(keyPath);
    if (base.empty() || parts.size() < 2 || !SameRegName(parts[0], kSoftware)) {
        return {};
    }
    std::string path = base;
    if (path != "/") {
        path += '/';
    }
    for (std::size_t i = 1; i < parts.size(); ++i) {
        if (!ValidKeyComponent(parts[i])) {
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

// Whether the machine-wide key file can be written: created when missing, folders included.
bool MachineKeyWritable(const std::string& filePath, std::string_view keyPath, TLoad load) {
    const std::string dir = DirectoryOf(filePath);
    if (!CreateDirectories(dir)) {
        return false;
    }
    if (load == TLoad::Missing) {
        try {
            WriteFileAtomically(filePath, FormatRegFile({std::string(keyPath), {}}));
        } catch (const Error&) {
            return false;
        }
        return true;
    }
    return ::access(filePath.c_str(), W_OK) == 0 && ::access(dir.c_str(), W_OK) == 0;
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
    std::string filePath = userPath;
    if (load == TLoad::Missing) {
        filePath = machinePath;
        load = ReadKeyFile(machinePath, keyPath, values, why);
    }
    if (load == TLoad::Unreadable && !(forWrite && filePath == machinePath)) {
        return nullptr;
    }
    if (forWrite && filePath == userPath) {
        const std::string dir = DirectoryOf(userPath);
        if (::access(userPath.c_str(), W_OK) != 0 || ::access(dir.c_str(), W_OK) != 0) {
            return nullptr;
        }
    } else if (forWrite &&
               (load == TLoad::Unreadable || !MachineKeyWritable(machinePath, keyPath, load))) {
        // A copy of the user's own, so that nothing the administrator set is lost.
        if (userPath.empty() || !CreateDirectories(DirectoryOf(userPath), 0700)) {
            return nullptr;
        }
        try {
            WriteFileAtomically(userPath, FormatRegFile({std::string(keyPath), values}), 0600);
        } catch (const Error&) {
            return nullptr;
        }
        filePath = userPath;
    }
    std::unique_ptr<TRegistryKey> key(new TRegistryKey(std::string(keyPath), filePath, forWrite));
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
