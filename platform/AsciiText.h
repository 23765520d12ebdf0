#pragma once

#include <algorithm>
#include <string>
#include <string_view>

namespace qrv::platform {

// Protocol texts (header names, tokens, language codes, archive names, schemes) compare in
// ASCII letter case only, whatever the user's locale: a locale's own case rules (a Turkish
// dotless i, say) must not decide whether "Chunked" is "chunked".
inline char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string AsciiLower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        c = AsciiLower(c);
    }
    return out;
}

inline bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return AsciiLower(x) == AsciiLower(y);
           });
}

// Without the blanks (spaces and tabs) at both ends: the optional white space of HTTP headers
// and cookies.
inline std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

// Without the control characters and spaces (bytes up to 0x20) at both ends: what an address
// typed or pasted, or a catalogue header line, may carry around its text.
inline std::string_view TrimControls(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') {
        text.remove_prefix(1);
    }
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') {
        text.remove_suffix(1);
    }
    return text;
}

} // namespace qrv::platform
