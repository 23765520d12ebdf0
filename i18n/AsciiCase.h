#pragma once

#include <string>
#include <string_view>

namespace qrv::i18n {

// Language codes, header names and archive names compare in ASCII letter case only.
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

} // namespace qrv::i18n
