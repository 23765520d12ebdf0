#include "engine/DataPacket.h"

#include "platform/AsciiText.h"

#include "platform/CodePage.h"
#include "platform/Error.h"
#include "platform/IntConv.h"

#include <array>
#include <charconv>
#include <optional>
#include <unordered_set>

namespace qrv::engine {

using qrv::platform::EqualsNoCase;

namespace {

constexpr std::string_view kMissingPacket = "Missing data provider or data packet";

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// 1: may start a name, 2: may continue one.
constexpr std::array<unsigned char, 256> MakeNameTable() {
    std::array<unsigned char, 256> t{};
    for (int c = 0; c < 256; ++c) {
        const bool start =
            (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80;
        const bool more = start || (c >= '0' && c <= '9') || c == '-' || c == '.';
        t[static_cast<std::size_t>(c)] =
            static_cast<unsigned char>((start ? 1 : 0) | (more ? 2 : 0));
    }
    return t;
}
constexpr std::array<unsigned char, 256> kNameTable = MakeNameTable();

bool IsNameStart(char c) {
    return (kNameTable[static_cast<unsigned char>(c)] & 1) != 0;
}
bool IsNameChar(char c) {
    return (kNameTable[static_cast<unsigned char>(c)] & 2) != 0;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// A piece of file text quoted in a message, kept short whatever the file holds.
std::string Quote(std::string_view text) {
    constexpr std::size_t kMax = 40;
    std::string out(text.substr(0, kMax));
    if (text.size() > kMax) {
        out += "...";
    }
    return out;
}

std::optional<std::uint32_t> ParseUnsigned(std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : text) {
        if (!IsDigit(c)) {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > 0xFFFFFFFFu) {
            return std::nullopt;
        }
    }
    return static_cast<std::uint32_t>(value);
}

// "i4" values are plain signed decimals; the range rule is the common integer conversion's.
std::optional<std::int32_t> ParseDecimal(std::string_view text) {
    std::size_t i = (!text.empty() && (text[0] == '-' || text[0] == '+')) ? 1 : 0;
    if (i == text.size()) {
        return std::nullopt;
    }
    for (; i < text.size(); ++i) {
        if (!IsDigit(text[i])) {
            return std::nullopt;
        }
    }
    return platform::StrToInt(text);
}

// Bytes that stop the fast copy of an attribute value when reading: markup, white space that
// XML normalises, other control characters, and every byte beyond ASCII, which needs decoding.
constexpr std::array<bool, 256> MakeReadSpecial() {
    std::array<bool, 256> t{};
    t['&'] = t['<'] = true;
    for (std::size_t b = 0; b < 256; ++b) {
        t[b] = t[b] || b < 0x20 || b >= 0x80;
    }
    return t;
}
constexpr std::array<bool, 256> kReadSpecial = MakeReadSpecial();

constexpr std::array<std::string_view, 256> MakeEscapes() {
    std::array<std::string_view, 256> t{};
    t['<'] = "&lt;";
    t['>'] = "&gt;";
    t['&'] = "&amp;";
    t['\''] = "&apos;";
    t['"'] = "&quot;";
    t['\r'] = "&#013;";
    t['\n'] = "&#010;";
    t['\t'] = "&#009;";
    t['\\'] = "&#092;";
    return t;
}
constexpr std::array<std::string_view, 256> kEscapes = MakeEscapes();

// Bytes the writer cannot copy as they are: the escapes above, control characters that XML
// cannot hold as text, and everything beyond ASCII.
constexpr std::array<bool, 256> MakeWriteSpecial() {
    std::array<bool, 256> t{};
    for (std::size_t b = 0; b < 256; ++b) {
        t[b] = !kEscapes[b].empty() || b < 0x20 || b >= 0x80;
    }
    return t;
}
constexpr std::array<bool, 256> kWriteSpecial = MakeWriteSpecial();

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr char32_t kReplacement = 0xFFFD;

// Characters outside XML's character range: a document cannot hold them, not even as
// references.
bool XmlCannotHold(char32_t cp) {
    return (cp < 0x20 && cp != '\t' && cp != '\n' && cp != '\r') || cp == 0xFFFE || cp == 0xFFFF;
}

// The encoding named by an XML declaration at the start of `s`, "" when there is none.
std::string_view DeclaredEncoding(std::string_view s) {
    if (!s.starts_with("<?xml") || s.size() < 6 || !IsSpace(s[5])) {
        return {};
    }
    const std::string_view decl = s.substr(0, s.find("?>"));
    std::size_t at = decl.find("encoding");
    if (at == std::string_view::npos) {
        return {};
    }
    at += 8;
    while (at < decl.size() && IsSpace(decl[at])) {
        ++at;
    }
    if (at >= decl.size() || decl[at] != '=') {
        return {};
    }
    ++at;
    while (at < decl.size() && IsSpace(decl[at])) {
        ++at;
    }
    if (at >= decl.size() || (decl[at] != '"' && decl[at] != '\'')) {
        return {};
    }
    const std::size_t end = decl.find(decl[at], at + 1);
    return end == std::string_view::npos ? std::string_view{} : decl.substr(at + 1, end - at - 1);
}

// 0 for UTF-8, the Windows code page a name gives ("windows-1250", "cp1250"), else -1.
int EncodingCodePage(std::string_view name) {
    if (EqualsNoCase(name, "UTF-8") || EqualsNoCase(name, "UTF8")) {
        return 0;
    }
    for (const std::string_view prefix : {"windows-", "cp"}) {
        if (name.size() == prefix.size() + 4 &&
            EqualsNoCase(name.substr(0, prefix.size()), prefix)) {
            const auto page = platform::StrToInt(name.substr(prefix.size()));
            if (page && *page >= 1250 && *page <= 1258) {
                return *page;
            }
        }
    }
    return -1;
}

struct TAttribute {
    std::string_view Name;
    std::string_view Raw;
    std::size_t Offset = 0; // of the value's first byte
};

struct TDeclaredField {
    std::string Name;
    std::string Type;
    std::optional<std::uint32_t> Width;
};

// A reader of exactly one document shape. The nesting is fixed by the code (no recursion);
// every scan is bounded by the input or by kMaxAttributeBytes.
class TPacketParser {
public:
    TPacketParser(std::string_view bytes, std::span<const TFieldDef> fields,
                  std::vector<std::uint32_t>& changeLog,
                  const std::function<void(const TPacketRow&)>& onRow, int legacyCodePage)
        : s_(bytes), codePage_(legacyCodePage), fields_(fields), changeLog_(changeLog),
          onRow_(onRow), values_(fields.size()), scratch_(fields.size()) {}

    void Run() {
        if (s_.starts_with(kUtf8Bom)) {
            p_ = kUtf8Bom.size();
            utf8_ = true;
        } else if (const int page = EncodingCodePage(DeclaredEncoding(s_)); page >= 0) {
            utf8_ = page == 0;
            codePage_ = page == 0 ? codePage_ : page;
        }
        ReadProlog();
        ReadRoot();
    }

private:
    [[noreturn]] void Fail(std::size_t offset, const std::string& reason) const {
        throw Error("Damaged data packet at byte " + std::to_string(offset) + ": " + reason);
    }
    [[noreturn]] void Fail(const std::string& reason) const { Fail(p_, reason); }

    bool AtEnd() const { return p_ >= s_.size(); }
    bool StartsWith(std::string_view lit) const { return s_.substr(p_).starts_with(lit); }

    bool SkipSpace() {
        const std::size_t start = p_;
        while (p_ < s_.size() && IsSpace(s_[p_])) {
            ++p_;
        }
        return p_ != start;
    }

    // White space, comments and processing instructions between elements.
    void SkipMisc() {
        for (;;) {
            SkipSpace();
            if (StartsWith("<!--")) {
                const std::size_t end = s_.find("-->", p_ + 4);
                if (end == std::string_view::npos) {
                    Fail("unterminated comment");
                }
                p_ = end + 3;
            } else if (StartsWith("<?")) {
                const std::size_t end = s_.find("?>", p_ + 2);
                if (end == std::string_view::npos) {
                    Fail("unterminated processing instruction");
                }
                p_ = end + 2;
            } else if (StartsWith("<!DOCTYPE")) {
                Fail("a document type declaration is not allowed");
            } else if (StartsWith("<!")) {
                Fail("unexpected markup declaration");
            } else {
                return;
            }
        }
    }

    std::string_view ReadName() {
        const std::size_t start = p_;
        if (AtEnd()) {
            Fail("unexpected end of data");
        }
        if (!IsNameStart(s_[p_])) {
            Fail("a name was expected");
        }
        while (p_ < s_.size() && IsNameChar(s_[p_])) {
            ++p_;
        }
        return s_.substr(start, p_ - start);
    }

    void ReadProlog() {
        // Anything wrong before the document element means this is no data packet at all;
        // only a document type declaration gets its own text.
        try {
            SkipMisc();
        } catch (const Error&) {
            if (StartsWith("<!DOCTYPE")) {
                throw;
            }
            throw Error(std::string(kMissingPacket));
        }
        if (!StartsWith("<") || s_.substr(p_ + 1).substr(0, 10) != "DATAPACKET") {
            throw Error(std::string(kMissingPacket));
        }
        const std::size_t after = p_ + 11;
        if (after < s_.size() && IsNameChar(s_[after])) {
            throw Error(std::string(kMissingPacket));
        }
    }

    // Next attribute of the open tag; false at the tag's end, with tagEmpty_ set for "/>".
    bool NextAttribute(TAttribute& a) {
        const bool hadSpace = SkipSpace();
        if (AtEnd()) {
            Fail("unexpected end of data");
        }
        if (s_[p_] == '>') {
            ++p_;
            tagEmpty_ = false;
            return false;
        }
        if (s_[p_] == '/') {
            if (p_ + 1 < s_.size() && s_[p_ + 1] == '>') {
                p_ += 2;
                tagEmpty_ = true;
                return false;
            }
            Fail("'>' expected after '/'");
        }
        if (!hadSpace) {
            Fail("white space expected before an attribute");
        }
        a.Name = ReadName();
        SkipSpace();
        if (AtEnd() || s_[p_] != '=') {
            Fail("'=' expected after attribute '" + Quote(a.Name) + "'");
        }
        ++p_;
        SkipSpace();
        if (AtEnd() || (s_[p_] != '"' && s_[p_] != '\'')) {
            Fail("quoted value expected for attribute '" + Quote(a.Name) + "'");
        }
        const char quote = s_[p_++];
        const std::size_t end = s_.substr(p_, kMaxAttributeBytes + 1).find(quote);
        if (end == std::string_view::npos) {
            if (s_.size() - p_ > kMaxAttributeBytes) {
                Fail("value of attribute '" + Quote(a.Name) + "' is too long");
            }
            Fail("unterminated value of attribute '" + Quote(a.Name) + "'");
        }
        a.Raw = s_.substr(p_, end);
        a.Offset = p_;
        p_ += end + 1;
        if (!AtEnd() && !IsSpace(s_[p_]) && s_[p_] != '/' && s_[p_] != '>') {
            Fail("white space expected after a value");
        }
        return true;
    }

    // Resolves the escapes of a value; returns the raw text itself when it has none.
    std::string_view Decode(const TAttribute& a, std::string& scratch) const {
        const std::string_view raw = a.Raw;
        std::size_t i = 0;
        while (i < raw.size() && !kReadSpecial[static_cast<unsigned char>(raw[i])]) {
            ++i;
        }
        if (i == raw.size()) {
            return raw;
        }
        scratch.assign(raw.data(), i);
        while (i < raw.size()) {
            const char c = raw[i];
            if (!kReadSpecial[static_cast<unsigned char>(c)]) {
                const std::size_t start = i;
                while (i < raw.size() && !kReadSpecial[static_cast<unsigned char>(raw[i])]) {
                    ++i;
                }
                scratch.append(raw.data() + start, i - start);
                continue;
            }
            if (static_cast<unsigned char>(c) >= 0x80) {
                const std::size_t start = i;
                while (i < raw.size() && static_cast<unsigned char>(raw[i]) >= 0x80) {
                    ++i;
                }
                const std::string_view high = raw.substr(start, i - start);
                scratch += utf8_ ? ToPacketText(high)
                                 : (codePage_ == 0 ? platform::AnsiToUtf8(high)
                                                   : platform::AnsiToUtf8(high, codePage_));
                continue;
            }
            switch (c) {
            case '<':
                Fail(a.Offset + i, "'<' inside an attribute value");
            case '\r': // a line end inside a value reads as one space, as XML normalises it
                scratch.push_back(' ');
                i += (i + 1 < raw.size() && raw[i + 1] == '\n') ? 2u : 1u;
                break;
            case '\n':
            case '\t':
                scratch.push_back(' ');
                ++i;
                break;
            case '&':
                i = DecodeReference(a, i, scratch);
                break;
            default: // a control character
                platform::AppendUtf8(scratch, kReplacement);
                ++i;
                break;
            }
        }
        return scratch;
    }

    std::size_t DecodeReference(const TAttribute& a, std::size_t amp, std::string& out) const {
        const std::string_view raw = a.Raw;
        constexpr std::size_t kLongest = 32; // room for numeric references with leading zeros
        const std::size_t semi = raw.substr(amp + 1, kLongest).find(';');
        if (semi == std::string_view::npos) {
            Fail(a.Offset + amp, "'&' not followed by a reference");
        }
        const std::string_view body = raw.substr(amp + 1, semi);
        const std::size_t next = amp + 1 + semi + 1;
        static constexpr std::pair<std::string_view, char> kNamed[] = {
            {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"apos", '\''}, {"quot", '"'}};
        for (const auto& [name, ch] : kNamed) {
            if (body == name) {
                out.push_back(ch);
                return next;
            }
        }
        if (body.empty() || body[0] != '#') {
            Fail(a.Offset + amp, "unknown reference '&" + Quote(body) + ";'");
        }
        const bool hex = body.size() > 1 && body[1] == 'x';
        const std::string_view digits = body.substr(hex ? 2 : 1);
        unsigned value = 0;
        const auto [ptr, ec] =
            std::from_chars(digits.data(), digits.data() + digits.size(), value, hex ? 16 : 10);
        if (digits.empty() || ptr != digits.data() + digits.size() ||
            (ec != std::errc() && ec != std::errc::result_out_of_range)) {
            Fail(a.Offset + amp, "malformed character reference '&" + Quote(body) + ";'");
        }
        // A reference names a Unicode character; a surrogate or a number beyond the last one
        // names none.
        if (ec == std::errc::result_out_of_range || value > 0x10FFFF ||
            (value >= 0xD800 && value <= 0xDFFF)) {
            Fail(a.Offset + amp, "character reference '&" + Quote(body) + ";' names no character");
        }
        const auto cp = static_cast<char32_t>(value);
        platform::AppendUtf8(out, XmlCannotHold(cp) ? kReplacement : cp);
        return next;
    }

    void SkipAttributes() {
        TAttribute a;
        while (NextAttribute(a)) {
            Decode(a, junk_);
        }
    }

    // After an open start tag's attributes: the next child's name, or "" once the parent's
    // end tag has been read.
    std::string_view NextChild(std::string_view parent) {
        SkipMisc();
        if (AtEnd()) {
            Fail("unexpected end of data inside <" + std::string(parent) + ">");
        }
        if (s_[p_] != '<') {
            Fail("unexpected text inside <" + std::string(parent) + ">");
        }
        if (StartsWith("</")) {
            const std::size_t at = p_;
            p_ += 2;
            const std::string_view name = ReadName();
            if (name != parent) {
                Fail(at, "</" + Quote(name) + "> does not close <" + std::string(parent) + ">");
            }
            SkipSpace();
            if (AtEnd() || s_[p_] != '>') {
                Fail("'>' expected");
            }
            ++p_;
            return {};
        }
        ++p_;
        return ReadName();
    }

    // A leaf element written with separate tags must hold nothing.
    void CloseLeaf(std::string_view name) {
        if (tagEmpty_) {
            return;
        }
        const std::size_t at = p_;
        const std::string_view child = NextChild(name);
        if (!child.empty()) {
            Fail(at,
                 "unexpected element <" + Quote(child) + "> inside <" + std::string(name) + ">");
        }
    }

    [[noreturn]] void Unexpected(std::size_t at, std::string_view child, std::string_view parent) {
        Fail(at, "unexpected element <" + Quote(child) + "> inside <" + std::string(parent) + ">");
    }

    void ReadRoot() {
        ++p_; // '<'
        ReadName();
        SkipAttributes();
        if (tagEmpty_) {
            CheckFields();
            Fail("the data packet holds no rows");
        }
        std::size_t at = p_;
        std::string_view child = NextChild("DATAPACKET");
        if (child != "METADATA") {
            CheckFields(); // without metadata no field is declared
            Unexpected(at, child, "DATAPACKET");
        }
        ReadMetadata();
        CheckFields();
        at = p_;
        child = NextChild("DATAPACKET");
        if (child != "ROWDATA") {
            if (child.empty()) {
                Fail(at, "the data packet holds no ROWDATA");
            }
            Unexpected(at, child, "DATAPACKET");
        }
        ReadRowData();
        at = p_;
        child = NextChild("DATAPACKET");
        if (!child.empty()) {
            Unexpected(at, child, "DATAPACKET");
        }
        SkipMisc();
        if (!AtEnd()) {
            Fail("unexpected data after the data packet");
        }
    }

    void ReadMetadata() {
        SkipAttributes();
        if (tagEmpty_) {
            return;
        }
        bool seenFields = false;
        bool seenParams = false;
        for (;;) {
            const std::size_t at = p_;
            const std::string_view child = NextChild("METADATA");
            if (child.empty()) {
                return;
            }
            if (child == "FIELDS" && !seenFields && !seenParams) {
                seenFields = true;
                ReadFields();
            } else if (child == "PARAMS" && !seenParams) {
                seenParams = true;
                ReadParams();
            } else {
                Unexpected(at, child, "METADATA");
            }
        }
    }

    void ReadFields() {
        SkipAttributes();
        if (tagEmpty_) {
            return;
        }
        for (;;) {
            const std::size_t at = p_;
            const std::string_view child = NextChild("FIELDS");
            if (child.empty()) {
                return;
            }
            if (child != "FIELD") {
                Unexpected(at, child, "FIELDS");
            }
            ReadField(at);
        }
    }

    void ReadField(std::size_t at) {
        TDeclaredField field;
        bool hasName = false;
        bool hasType = false;
        TAttribute a;
        while (NextAttribute(a)) {
            const std::string_view value = Decode(a, junk_);
            if (a.Name == "attrname" && !hasName) {
                field.Name = value;
                hasName = true;
            } else if (a.Name == "fieldtype" && !hasType) {
                field.Type = value;
                hasType = true;
            } else if (a.Name == "WIDTH" && !field.Width) {
                field.Width = ParseUnsigned(value);
                if (!field.Width) {
                    Fail(a.Offset, "invalid WIDTH '" + Quote(value) + "'");
                }
            } else if (a.Name == "attrname" || a.Name == "fieldtype" || a.Name == "WIDTH") {
                Fail(a.Offset, "attribute '" + std::string(a.Name) + "' given twice");
            }
        }
        CloseLeaf("FIELD");
        if (!hasName || !hasType) {
            Fail(at, "FIELD without attrname or fieldtype");
        }
        if (!declaredNames_.insert(field.Name).second) {
            Fail(at, "field '" + Quote(field.Name) + "' declared twice");
        }
        declared_.push_back(std::move(field));
    }

    void ReadParams() {
        bool seen = false;
        TAttribute a;
        while (NextAttribute(a)) {
            const std::string_view value = Decode(a, junk_);
            if (a.Name != "CHANGE_LOG") {
                continue;
            }
            if (seen) {
                Fail(a.Offset, "attribute 'CHANGE_LOG' given twice");
            }
            seen = true;
            ReadChangeLog(a, value);
        }
        CloseLeaf("PARAMS");
    }

    void ReadChangeLog(const TAttribute& a, std::string_view value) {
        changeLog_.clear();
        std::size_t i = 0;
        for (;;) {
            while (i < value.size() && IsSpace(value[i])) {
                ++i;
            }
            if (i == value.size()) {
                break;
            }
            const std::size_t start = i;
            while (i < value.size() && !IsSpace(value[i])) {
                ++i;
            }
            const auto number = ParseUnsigned(value.substr(start, i - start));
            if (!number) {
                Fail(a.Offset,
                     "invalid CHANGE_LOG entry '" + Quote(value.substr(start, i - start)) + "'");
            }
            changeLog_.push_back(*number);
        }
        if (changeLog_.size() % 3 != 0) {
            Fail(a.Offset, "CHANGE_LOG does not hold three numbers per entry");
        }
    }

    // Every expected field must be declared, with the expected type and width.
    void CheckFields() {
        if (fieldsChecked_) {
            return;
        }
        fieldsChecked_ = true;
        for (const TFieldDef& def : fields_) {
            const TDeclaredField* found = nullptr;
            for (const TDeclaredField& d : declared_) {
                if (d.Name == def.Name) {
                    found = &d;
                    break;
                }
            }
            const std::string name(def.Name);
            if (found == nullptr) {
                throw Error("Field '" + name + "' not found");
            }
            const std::string_view type = FieldTypeName(def.Type);
            if (found->Type != type) {
                throw Error("Field '" + name + "' has type '" + Quote(found->Type) +
                            "' instead of '" + std::string(type) + "'");
            }
            if (def.Type == TFieldType::String) {
                if (!found->Width) {
                    throw Error("Field '" + name + "' has no width");
                }
                if (*found->Width != def.Width) {
                    throw Error("Field '" + name + "' has width " + std::to_string(*found->Width) +
                                " instead of " + std::to_string(def.Width));
                }
            } else if (found->Width) {
                throw Error("Field '" + name + "' of type '" + std::string(type) + "' has a width");
            }
        }
    }

    void ReadRowData() {
        SkipAttributes();
        if (tagEmpty_) {
            return;
        }
        for (;;) {
            const std::size_t at = p_;
            const std::string_view child = NextChild("ROWDATA");
            if (child.empty()) {
                return;
            }
            if (child != "ROW") {
                Unexpected(at, child, "ROWDATA");
            }
            if (++rowCount_ > kMaxRows) {
                Fail(at, "more than " + std::to_string(kMaxRows) + " rows");
            }
            ReadRow();
        }
    }

    // Rows name their fields in field order, so the one after the last match is tried first.
    int FieldIndex(std::string_view name, std::size_t& hint) const {
        const std::size_t n = fields_.size();
        for (std::size_t k = 0; k < n; ++k) {
            const std::size_t i = (hint + k) % n;
            if (fields_[i].Name == name) {
                hint = i + 1;
                return static_cast<int>(i);
            }
        }
        return -1;
    }

    void ReadRow() {
        for (TPacketValue& v : values_) {
            v = TPacketValue{};
        }
        TPacketRow row;
        bool hasRowState = false;
        std::size_t hint = 0;
        TAttribute a;
        while (NextAttribute(a)) {
            if (a.Name == "RowState") {
                if (hasRowState) {
                    Fail(a.Offset, "attribute 'RowState' given twice");
                }
                hasRowState = true;
                const std::string_view value = Decode(a, junk_);
                const auto state = ParseUnsigned(value);
                if (!state) {
                    Fail(a.Offset, "invalid RowState '" + Quote(value) + "'");
                }
                row.RowState = *state;
                continue;
            }
            const int index = FieldIndex(a.Name, hint);
            if (index < 0) {
                Decode(a, junk_);
                continue;
            }
            const auto slot = static_cast<std::size_t>(index);
            TPacketValue& v = values_[slot];
            if (v.Present) {
                Fail(a.Offset, "attribute '" + std::string(a.Name) + "' given twice");
            }
            const std::string_view text = Decode(a, scratch_[slot]);
            v.Present = true;
            switch (fields_[slot].Type) {
            case TFieldType::String:
                v.Text = text;
                break;
            case TFieldType::Boolean:
                if (EqualsNoCase(text, "TRUE")) {
                    v.Boolean = true;
                } else if (!EqualsNoCase(text, "FALSE")) {
                    Fail(a.Offset, "invalid boolean '" + Quote(text) + "' for field '" +
                                       std::string(a.Name) + "'");
                }
                break;
            case TFieldType::Integer: {
                const auto number = ParseDecimal(text);
                if (!number) {
                    Fail(a.Offset, "invalid integer '" + Quote(text) + "' for field '" +
                                       std::string(a.Name) + "'");
                }
                v.Integer = *number;
                break;
            }
            }
        }
        CloseLeaf("ROW");
        row.Values = values_;
        onRow_(row);
    }

    std::string_view s_;
    std::size_t p_ = 0;
    bool utf8_ = false;
    int codePage_ = 0; // of raw bytes beyond ASCII unless utf8_; 0 the station's
    bool tagEmpty_ = false;
    bool fieldsChecked_ = false;
    std::span<const TFieldDef> fields_;
    std::vector<std::uint32_t>& changeLog_;
    const std::function<void(const TPacketRow&)>& onRow_;
    std::vector<TDeclaredField> declared_;
    std::unordered_set<std::string> declaredNames_;
    std::size_t rowCount_ = 0;
    std::vector<TPacketValue> values_;
    std::vector<std::string> scratch_; // one per field, so a row's values live side by side
    std::string junk_;
};

} // namespace

std::string_view FieldTypeName(TFieldType type) {
    switch (type) {
    case TFieldType::String:
        return "string";
    case TFieldType::Boolean:
        return "boolean";
    case TFieldType::Integer:
        return "i4";
    }
    return "string";
}

void ReadDataPacket(std::string_view bytes, std::span<const TFieldDef> fields,
                    std::vector<std::uint32_t>& changeLog,
                    const std::function<void(const TPacketRow&)>& onRow, int legacyCodePage) {
    changeLog.clear();
    TPacketParser(bytes, fields, changeLog, onRow, legacyCodePage).Run();
}

std::string ToPacketText(std::string_view utf8) {
    std::string text = platform::SanitizeUtf8(utf8);
    std::size_t i = 0;
    while (i < text.size() && !XmlCannotHold(static_cast<unsigned char>(text[i])) &&
           static_cast<unsigned char>(text[i]) != 0xEF) {
        ++i;
    }
    if (i == text.size()) {
        return text;
    }
    std::string out(text, 0, i);
    char32_t cp = 0;
    while (i < text.size()) {
        if (!platform::NextUtf8(text, i, cp)) { // not after sanitizing; kept safe all the same
            cp = kReplacement;
            ++i;
        }
        platform::AppendUtf8(out, XmlCannotHold(cp) ? kReplacement : cp);
    }
    return out;
}

void AppendEscaped(std::string& out, std::string_view value) {
    std::size_t i = 0;
    char buf[16];
    while (i < value.size()) {
        const std::size_t start = i;
        while (i < value.size() && !kWriteSpecial[static_cast<unsigned char>(value[i])]) {
            ++i;
        }
        out.append(value.data() + start, i - start);
        if (i == value.size()) {
            break;
        }
        const auto byte = static_cast<unsigned char>(value[i]);
        if (!kEscapes[byte].empty()) {
            out.append(kEscapes[byte]);
            ++i;
            continue;
        }
        char32_t cp = 0;
        if (!platform::NextUtf8(value, i, cp)) {
            cp = kReplacement;
            ++i;
        } else if (XmlCannotHold(cp)) {
            cp = kReplacement;
        }
        const auto res = std::to_chars(buf, buf + sizeof buf, static_cast<std::uint32_t>(cp));
        out += "&#";
        out.append(buf, res.ptr);
        out += ';';
    }
}

void AppendPacketHead(std::string& out, std::span<const TFieldDef> fields,
                      std::span<const std::uint32_t> changeLog) {
    out += "<?xml version=\"1.0\" standalone=\"yes\"?>  <DATAPACKET Version=\"2.0\"><METADATA>"
           "<FIELDS>";
    for (const TFieldDef& f : fields) {
        out += "<FIELD attrname=\"";
        AppendEscaped(out, f.Name);
        out += "\" fieldtype=\"";
        out += FieldTypeName(f.Type);
        out += '"';
        if (f.Type == TFieldType::String) {
            out += " WIDTH=\"";
            out += std::to_string(f.Width);
            out += '"';
        }
        out += "/>";
    }
    out += "</FIELDS><PARAMS";
    if (!changeLog.empty()) {
        out += " CHANGE_LOG=\"";
        for (std::size_t i = 0; i < changeLog.size(); ++i) {
            if (i != 0) {
                out += ' ';
            }
            out += std::to_string(changeLog[i]);
        }
        out += '"';
    }
    out += "/></METADATA><ROWDATA>";
}

void AppendRowStart(std::string& out, std::uint32_t rowState) {
    out += "<ROW";
    if (rowState != 0) {
        out += " RowState=\"";
        out += std::to_string(rowState);
        out += '"';
    }
}

void AppendTextAttribute(std::string& out, std::string_view name, std::string_view value) {
    out += ' ';
    out += name;
    out += "=\"";
    AppendEscaped(out, value);
    out += '"';
}

void AppendIntegerAttribute(std::string& out, std::string_view name, std::int32_t value) {
    char buf[16];
    const auto res = std::to_chars(buf, buf + sizeof buf, value);
    out += ' ';
    out += name;
    out += "=\"";
    out.append(buf, res.ptr);
    out += '"';
}

void AppendBooleanAttribute(std::string& out, std::string_view name, bool value) {
    out += ' ';
    out += name;
    out += value ? "=\"TRUE\"" : "=\"FALSE\"";
}

void AppendRowEnd(std::string& out) {
    out += "/>";
}

void AppendPacketTail(std::string& out) {
    out += "</ROWDATA></DATAPACKET>";
}

} // namespace qrv::engine
