#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qrv::engine {

// The XML data packet: one table with its field list, an optional change journal and the rows.
// Values are UTF-8 on both sides of this layer. The file is written as ASCII, every character
// beyond it as a numeric character reference ("&#345;"), so that it is valid XML without naming
// an encoding and reads the same under every locale. Characters that XML cannot hold at all
// (control characters but tab, line feed and carriage return; U+FFFE, U+FFFF) are U+FFFD in
// the file, and so on reading.

enum class TFieldType { String, Boolean, Integer };

// "string", "boolean", "i4".
std::string_view FieldTypeName(TFieldType type);

struct TFieldDef {
    std::string_view Name;
    TFieldType Type;
    std::uint32_t Width; // characters; strings only, 0 for the others
};

// One value of a row as read. Absent means null. Text is the value with its escapes resolved;
// it stays valid only during the row callback.
struct TPacketValue {
    bool Present = false;
    std::string_view Text;
    std::int32_t Integer = 0;
    bool Boolean = false;
};

struct TPacketRow {
    std::uint32_t RowState = 0;           // 0 when the row carries none
    std::span<const TPacketValue> Values; // one per expected field, in the caller's order
};

// Longest attribute value (as written, escapes included) the reader accepts. The widest field
// holds 50000 characters, at most ten bytes each when escaped ("&#1114111;").
inline constexpr std::size_t kMaxAttributeBytes = 1u << 20;

// Largest file the list reads; a larger one is refused before it is read, and the list never
// writes one.
inline constexpr std::size_t kMaxPacketBytes = 256u << 20;

// Most rows the reader accepts (a check run over them would last more than a day). A record
// costs far more memory than its shortest row ("<ROW/>"), so a damaged file must not be able to
// claim gigabytes.
inline constexpr std::size_t kMaxRows = 100000;

// Parses a whole packet held in `bytes`. Character references name Unicode characters. Raw
// bytes of 128 and above are UTF-8 where the file says so (a UTF-8 byte-order mark, which is
// skipped, or encoding="UTF-8" in the declaration) and otherwise bytes of the code page the
// declaration names ("windows-1250") or, as lists of earlier versions hold them, of
// `legacyCodePage` (0: the station's). Checks that `fields` are all declared with their
// types (and widths for strings), loads the change journal's numbers into `changeLog` and calls
// `onRow` once per row, in file order. Fields the file declares beyond `fields`, and row
// attributes that name none of them, are skipped. Throws qrv::Error carrying the reason
// ("Missing data provider or data packet", "Field 'Name' not found", "Damaged data packet at
// byte 120: ..."); nothing a file holds can make it recurse, loop without progress or read
// outside `bytes`.
void ReadDataPacket(std::string_view bytes, std::span<const TFieldDef> fields,
                    std::vector<std::uint32_t>& changeLog,
                    const std::function<void(const TPacketRow&)>& onRow, int legacyCodePage = 0);

// Writing, in pieces, appended to `out`. The sequence is: head, then per row RowStart, the
// present fields in field order, RowEnd; then Tail.
void AppendPacketHead(std::string& out, std::span<const TFieldDef> fields,
                      std::span<const std::uint32_t> changeLog);
void AppendRowStart(std::string& out, std::uint32_t rowState); // 0: no RowState attribute
void AppendTextAttribute(std::string& out, std::string_view name, std::string_view value);
void AppendIntegerAttribute(std::string& out, std::string_view name, std::int32_t value);
void AppendBooleanAttribute(std::string& out, std::string_view name, bool value);
void AppendRowEnd(std::string& out);
void AppendPacketTail(std::string& out);

// UTF-8 text as a packet holds it: bytes that are not UTF-8 and characters that XML cannot hold
// become U+FFFD.
std::string ToPacketText(std::string_view utf8);

// Appends UTF-8 `value` with the characters that the format escapes replaced and everything
// beyond ASCII as character references; what ToPacketText replaces is written as U+FFFD.
void AppendEscaped(std::string& out, std::string_view value);

} // namespace qrv::engine
