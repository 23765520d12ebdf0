#include "platform/CodePage.h"

#include <array>
#include <atomic>
#include <cstdlib>
#include <iconv.h>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace qrv::platform {

namespace {
// What iconv_open returns for a failure, as its interface defines it.
const iconv_t kIconvFailed = reinterpret_cast<iconv_t>(-1); // NOLINT(performance-no-int-to-ptr)
} // namespace

namespace {

// Decodes one UTF-8 sequence at `i`; invalid input yields U+FFFD and consumes one byte.
char32_t DecodeUtf8(std::string_view s, std::size_t& i) {
    char32_t cp = 0;
    if (NextUtf8(s, i, cp)) {
        return cp;
    }
    ++i;
    return 0xFFFD;
}

struct CodePageTable {
    std::array<char32_t, 256> toUnicode{};
    std::unordered_map<char32_t, unsigned char> fromUnicode;
};

// Builds the byte <-> code point table of a Windows code page once, with iconv.
std::unique_ptr<CodePageTable> BuildTable(int codePage) {
    auto table = std::make_unique<CodePageTable>();
    const std::string name = "CP" + std::to_string(codePage);
    iconv_t cd = ::iconv_open("UTF-32LE", name.c_str());
    for (int b = 0; b < 256; ++b) {
        char32_t cp = static_cast<char32_t>(b);
        if (cd != kIconvFailed && b >= 0x80) {
            char in = static_cast<char>(b);
            unsigned char out[16] = {};
            char* inPtr = &in;
            size_t inLeft = 1;
            char* outPtr = reinterpret_cast<char*>(out);
            size_t outLeft = sizeof out;
            ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
            if (::iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1) &&
                sizeof out - outLeft >= 4) {
                cp = static_cast<char32_t>(out[0]) | (static_cast<char32_t>(out[1]) << 8) |
                     (static_cast<char32_t>(out[2]) << 16) | (static_cast<char32_t>(out[3]) << 24);
            }
        }
        table->toUnicode[static_cast<std::size_t>(b)] = cp;
    }
    if (cd != kIconvFailed) {
        ::iconv_close(cd);
    }
    for (int b = 255; b >= 0; --b) {
        table->fromUnicode[table->toUnicode[static_cast<std::size_t>(b)]] =
            static_cast<unsigned char>(b);
    }
    return table;
}

const CodePageTable& TableFor(int codePage) {
    static std::mutex mutex;
    static std::map<int, std::unique_ptr<CodePageTable>> tables;
    std::lock_guard lock(mutex);
    auto& slot = tables[codePage];
    if (!slot) {
        slot = BuildTable(codePage);
    }
    return *slot;
}

std::atomic<int> g_overrideCodePage{0};

int CodePageFromEnvironment() {
    for (const char* var : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(var);
        if (value != nullptr && *value != '\0') {
            return CodePageForLocale(value);
        }
    }
    return 1252;
}

} // namespace

bool NextUtf8(std::string_view s, std::size_t& pos, char32_t& cp) {
    const auto b0 = static_cast<unsigned char>(s[pos]);
    if (b0 < 0x80) {
        cp = b0;
        ++pos;
        return true;
    }
    std::size_t len = 0;
    char32_t min = 0;
    if ((b0 & 0xE0) == 0xC0) {
        len = 2;
        cp = b0 & 0x1F;
        min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3;
        cp = b0 & 0x0F;
        min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4;
        cp = b0 & 0x07;
        min = 0x10000;
    } else {
        return false;
    }
    if (len > s.size() - pos) {
        return false;
    }
    for (std::size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[pos + k]);
        if ((b & 0xC0) != 0x80) {
            return false;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return false;
    }
    pos += len;
    return true;
}

int CodePageForLocale(std::string_view localeName) {
    std::string_view lang = localeName.substr(0, localeName.find_first_of("_.@"));
    static const std::unordered_map<std::string_view, int> pages = {
        {"cs", 1250}, {"sk", 1250}, {"pl", 1250}, {"hu", 1250}, {"sl", 1250}, {"hr", 1250},
        {"ro", 1250}, {"ru", 1251}, {"uk", 1251}, {"bg", 1251}, {"be", 1251}, {"sr", 1251},
        {"mk", 1251}, {"el", 1253}, {"tr", 1254}, {"he", 1255}, {"ar", 1256}, {"fa", 1256},
        {"et", 1257}, {"lv", 1257}, {"lt", 1257}, {"vi", 1258}};
    const auto it = pages.find(lang);
    return it == pages.end() ? 1252 : it->second;
}

int AnsiCodePage() {
    const int forced = g_overrideCodePage.load();
    if (forced != 0) {
        return forced;
    }
    static const int fromEnv = CodePageFromEnvironment();
    return fromEnv;
}

void SetAnsiCodePage(int codePage) {
    g_overrideCodePage.store(codePage);
}

std::string Utf8ToAnsi(std::string_view utf8) {
    return Utf8ToAnsi(utf8, AnsiCodePage());
}

std::string Utf8ToAnsi(std::string_view utf8, int codePage) {
    const CodePageTable& table = TableFor(codePage);
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        if (b < 0x80) {
            out.push_back(static_cast<char>(b));
            ++i;
            continue;
        }
        const char32_t cp = DecodeUtf8(utf8, i);
        const auto it = table.fromUnicode.find(cp);
        out.push_back(it == table.fromUnicode.end() ? '?' : static_cast<char>(it->second));
    }
    return out;
}

std::string AnsiToUtf8(std::string_view ansi) {
    return AnsiToUtf8(ansi, AnsiCodePage());
}

std::string AnsiToUtf8(std::string_view ansi, int codePage) {
    const CodePageTable& table = TableFor(codePage);
    std::string out;
    out.reserve(ansi.size() + ansi.size() / 4);
    for (const char c : ansi) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            out.push_back(c);
        } else {
            AppendUtf8(out, table.toUnicode[b]);
        }
    }
    return out;
}

std::string Latin1ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 4);
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            out.push_back(c);
        } else {
            out.push_back(static_cast<char>(0xC0 | (b >> 6)));
            out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
        }
    }
    return out;
}

std::size_t Utf8Length(std::string_view utf8) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < utf8.size();) {
        if (static_cast<unsigned char>(utf8[i]) < 0x80) {
            ++i;
        } else {
            DecodeUtf8(utf8, i);
        }
        ++count;
    }
    return count;
}

std::string_view Utf8Prefix(std::string_view utf8, std::size_t count) {
    std::size_t i = 0;
    for (std::size_t n = 0; n < count && i < utf8.size(); ++n) {
        if (static_cast<unsigned char>(utf8[i]) < 0x80) {
            ++i;
        } else {
            DecodeUtf8(utf8, i);
        }
    }
    return utf8.substr(0, i);
}

std::string SanitizeUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b < 0x80) {
            out.push_back(static_cast<char>(b));
            ++i;
            continue;
        }
        const std::size_t start = i;
        const char32_t cp = DecodeUtf8(bytes, i);
        if (cp == 0xFFFD && !(i - start == 3 && bytes.substr(start, 3) == "\xEF\xBF\xBD")) {
            AppendUtf8(out, 0xFFFD);
        } else {
            out.append(bytes.substr(start, i - start));
        }
    }
    return out;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

} // namespace qrv::platform
