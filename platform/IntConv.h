#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace qrv::platform {

// The one integer conversion for every number typed or stored as text: leading blanks,
// an optional sign, then decimal digits or hexadecimal digits after "$", "x", "X", "0x" or
// "0X"; nothing may follow the digits. Empty text, any other character, or a value outside
// the signed 32-bit range gives no value.
std::optional<std::int32_t> StrToInt(std::string_view text);

// Value of one hexadecimal digit (either letter case), -1 for any other character.
int HexDigitValue(char c);

} // namespace qrv::platform
