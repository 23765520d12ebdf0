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
// Values are single-byte text (the station's ANSI code page); this layer never converts them.

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
// holds 50000 characters, at most six bytes each when escaped.
inline constexpr std::size_t kMaxAttributeBytes = 1u << 20;

// Most rows the reader accepts (a check run over them would last more than a day). A record
// costs far more memory than its shortest row ("<ROW/>"), so a damaged file must not be able to
// claim gigabytes.
inline constexpr std::size_t kMaxRows = 100000;

// Parses a whole packet held in `bytes`. Checks that `fields` are all declared with their
// types (and widths for strings), loads the change journal's numbers into `changeLog` and calls
// `onRow` once per row, in file order. Fields the file declares beyond `fields`, and row
// attributes that name none of them, are skipped. Throws qrv::Error carrying the reason
// ("Missing data provider or data packet", "Field 'Name' not found", "Damaged data packet at
// byte 120: ..."); nothing a file holds can make it recurse, loop without progress or read
// outside `bytes`.
void ReadDataPacket(std::string_view bytes, std::span<const TFieldDef> fields,
                    std::vector<std::uint32_t>& changeLog,
                    const std::function<void(const TPacketRow&)>& onRow);

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

// Appends `value` with the characters that the format escapes replaced.
void AppendEscaped(std::string& out, std::string_view value);

} // namespace qrv::engine
