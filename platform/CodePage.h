#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qrv::platform {

// Texts live in memory as UTF-8. The server list file and the event log hold single-byte
// text in the station's ANSI code page: the Windows page that matches the user's locale
// language (cs, sk, pl, ... -> 1250; ru, uk, ... -> 1251; otherwise 1252).

// Code page for a locale name such as "cs_CZ.UTF-8" (language part decides).
int CodePageForLocale(std::string_view localeName);

// The station's code page, from LC_ALL, LC_CTYPE or LANG, decided once.
int AnsiCodePage();

// Overrides the station's code page (tests, and a future settings option).
void SetAnsiCodePage(int codePage);

// UTF-8 to the station's code page; a character the page lacks becomes '?'.
std::string Utf8ToAnsi(std::string_view utf8);
std::string Utf8ToAnsi(std::string_view utf8, int codePage);

// The station's code page to UTF-8. Bytes the page leaves undefined map to the code point
// of the same number, as the Windows conversion does.
std::string AnsiToUtf8(std::string_view ansi);
std::string AnsiToUtf8(std::string_view ansi, int codePage);

// Each byte becomes the character with the same code (0-255).
std::string Latin1ToUtf8(std::string_view bytes);

// Number of characters (code points) in UTF-8 text; invalid bytes count one each.
std::size_t Utf8Length(std::string_view utf8);

// The first `count` characters of UTF-8 text.
std::string_view Utf8Prefix(std::string_view utf8, std::size_t count);

// Replaces invalid UTF-8 sequences by U+FFFD so that every later step sees valid text.
std::string SanitizeUtf8(std::string_view bytes);

// Decodes one well-formed UTF-8 sequence at `pos` and moves past it; false (pos unchanged) for
// anything else: overlong forms, surrogates and values above U+10FFFF included.
bool NextUtf8(std::string_view s, std::size_t& pos, char32_t& cp);

// Appends the UTF-8 encoding of a code point.
void AppendUtf8(std::string& out, char32_t cp);

} // namespace qrv::platform
