#include "platform/RegFile.h"

#include "platform/CodePage.h"
#include "platform/Error.h"
#include "platform/IntConv.h"

#include <cstdlib>
#include <cstring>
#include <unordered_set>

namespace qrv::platform {

namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHive = "HKEY_LOCAL_MACHINE";
constexpr std::size_t kWrapColumn = 80;

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

} // namespace

bool ValidRegText(std::string_view text) {
    return IsPrintableUtf8(text);
}

bool ValidRegKeyComponent(std::string_view component) {
    return ValidKeyComponent(component);
}

std::vector<std::string_view> SplitRegKeyPath(std::string_view keyPath) {
    return SplitKeyPath(keyPath);
}

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
            AppendHex8(out, static_cast<std::uint32_t>(v.Data[0]) |
                                (static_cast<std::uint32_t>(v.Data[1]) << 8) |
                                (static_cast<std::uint32_t>(v.Data[2]) << 16) |
                                (static_cast<std::uint32_t>(v.Data[3]) << 24));
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

} // namespace qrv::platform
