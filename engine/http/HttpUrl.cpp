#include "engine/http/HttpUrl.h"

#include "platform/AsciiText.h"
#include "platform/CodePage.h"

#include "platform/Error.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <vector>

namespace qrv::engine {

using qrv::platform::AsciiLower;
using qrv::platform::TrimControls;

namespace {

bool IsAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Length of a scheme followed by ':' at the start, or 0 when there is none.
std::size_t SchemeLength(std::string_view text) {
    if (text.empty() || !IsAlpha(text[0])) {
        return 0;
    }
    for (std::size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == ':') {
            return i;
        }
        if (!IsAlpha(c) && !IsDigit(c) && c != '+' && c != '-' && c != '.') {
            return 0;
        }
    }
    return 0;
}

int DefaultPort(const std::string& scheme) {
    if (scheme == "https") {
        return 443;
    }
    return 80;
}

// Percent-encodes what may not stand in a request line: control bytes (CR and LF could add
// a header), the space, and every byte above 127, so that an address typed with letters
// beyond ASCII goes out as its UTF-8 bytes escaped (/caf%C3%A9), as browsers send it.
// Printable ASCII goes out as the address has it; existing escapes stay as they are.
std::string EncodeTarget(std::string_view target) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string out;
    out.reserve(target.size());
    for (const char ch : target) {
        const auto c = static_cast<unsigned char>(ch);
        const bool bad = c <= ' ' || c >= 0x7F;
        if (bad) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        } else {
            out += ch;
        }
    }
    return out;
}

bool ValidRegName(std::string_view host) {
    for (const char ch : host) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= ' ' || c >= 0x7F || ch == '/' || ch == '?' || ch == '#' || ch == '@' ||
            ch == '[' || ch == ']' || ch == '\\' || ch == '"' || ch == '<' || ch == '>') {
            return false;
        }
    }
    return true;
}

// Lower case for the letters that host names beyond ASCII mostly use (Latin, Greek,
// Cyrillic), so that "Příklad" and "příklad" give the same ASCII form.
char32_t LowerLetter(char32_t c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) ||
        (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) || (c >= 0x410 && c <= 0x42F)) {
        return c + 0x20;
    }
    if (c >= 0x400 && c <= 0x40F) {
        return c + 0x50;
    }
    if (c == 0x178) {
        return 0xFF;
    }
    const bool evenUpper = (c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177);
    const bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if ((evenUpper && c % 2 == 0) || (oddUpper && c % 2 == 1)) {
        return c + 1;
    }
    return c;
}

// Spaces, controls and non-characters cannot stand in a host name in any form.
bool ForbiddenInHost(char32_t c) {
    return c < 0xA1 || c == 0x1680 || (c >= 0x2000 && c <= 0x200F) ||
           (c >= 0x2028 && c <= 0x202F) || c == 0x205F || c == 0x3000 || c == 0xFEFF || c >= 0xFFF0;
}

char PunycodeDigit(std::uint32_t d) {
    return static_cast<char>(d < 26 ? 'a' + d : '0' + (d - 26));
}

// The bootstring encoding of one label with its own parameters for host names.
bool AppendPunycode(const std::u32string& label, std::string& out) {
    constexpr std::uint32_t kBase = 36;
    constexpr std::uint32_t kTMin = 1;
    constexpr std::uint32_t kTMax = 26;
    constexpr std::uint32_t kSkew = 38;
    constexpr std::uint32_t kDamp = 700;
    constexpr std::uint32_t kMaxDelta = 0xFFFFFFFFu;
    const auto adapt = [](std::uint32_t delta, std::uint32_t points, bool first) {
        delta = first ? delta / kDamp : delta / 2;
        delta += delta / points;
        std::uint32_t k = 0;
        while (delta > ((kBase - kTMin) * kTMax) / 2) {
            delta /= kBase - kTMin;
            k += kBase;
        }
        return k + (kBase - kTMin + 1) * delta / (delta + kSkew);
    };
    std::uint32_t basic = 0;
    for (const char32_t c : label) {
        if (c < 0x80) {
            out += static_cast<char>(c);
            ++basic;
        }
    }
    if (basic > 0) {
        out += '-';
    }
    const auto total = static_cast<std::uint32_t>(label.size());
    std::uint32_t n = 0x80;
    std::uint32_t delta = 0;
    std::uint32_t bias = 72;
    for (std::uint32_t handled = basic; handled < total;) {
        std::uint32_t next = 0x10FFFF;
        for (const char32_t c : label) {
            if (c >= n && c < next) {
                next = c;
            }
        }
        if (next - n > (kMaxDelta - delta) / (handled + 1)) {
            return false;
        }
        delta += (next - n) * (handled + 1);
        n = next;
        for (const char32_t c : label) {
            if (c < n && ++delta == 0) {
                return false;
            }
            if (c != n) {
                continue;
            }
            std::uint32_t q = delta;
            for (std::uint32_t k = kBase;; k += kBase) {
                const std::uint32_t t = k <= bias ? kTMin : k >= bias + kTMax ? kTMax : k - bias;
                if (q < t) {
                    break;
                }
                out += PunycodeDigit(t + (q - t) % (kBase - t));
                q = (q - t) / (kBase - t);
            }
            out += PunycodeDigit(q);
            bias = adapt(delta, handled + 1, handled == basic);
            delta = 0;
            ++handled;
        }
        ++delta;
        ++n;
    }
    return true;
}

// A host name with letters beyond ASCII in the ASCII form that name servers know
// ("příklad.cz" -> "xn--pklad-zsa96e.cz"): each such label lowered and bootstring-encoded
// behind "xn--"; ASCII labels stay as written. The ideographic full stops separate labels as
// the dot does. False for text that is not UTF-8 or holds a space or control.
bool HostToAscii(std::string_view host, std::string& out) {
    constexpr std::size_t kMaxLabel = 63;
    std::u32string label;
    bool wide = false;
    const auto flush = [&] {
        if (wide) {
            for (char32_t& c : label) {
                c = LowerLetter(c);
            }
            out += "xn--";
            if (!AppendPunycode(label, out)) {
                return false;
            }
        } else {
            for (const char32_t c : label) {
                out += static_cast<char>(c);
            }
        }
        label.clear();
        wide = false;
        return true;
    };
    std::size_t pos = 0;
    while (pos < host.size()) {
        char32_t c = 0;
        if (!platform::NextUtf8(host, pos, c)) {
            return false;
        }
        if (c == '.' || c == 0x3002 || c == 0xFF0E || c == 0xFF61) {
            if (!flush()) {
                return false;
            }
            out += '.';
            continue;
        }
        if (c >= 0x80) {
            if (ForbiddenInHost(c)) {
                return false;
            }
            wide = true;
        }
        // No name server takes a longer label; the bound also keeps the encoding's work small.
        if (label.size() == kMaxLabel) {
            return false;
        }
        label += c;
    }
    return flush();
}

bool ValidIpv6Literal(std::string_view host) {
    if (host.empty()) {
        return false;
    }
    for (const char c : host) {
        if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.') {
            return false;
        }
    }
    return true;
}

[[noreturn]] void Invalid(std::string_view url) {
    throw qrv::Error("Invalid address: " + std::string(url));
}

// Removes "." and ".." segments from an absolute path.
std::string RemoveDotSegments(std::string_view path) {
    std::vector<std::string_view> segments;
    bool trailingSlash = false;
    std::size_t pos = 0;
    if (!path.empty() && path[0] == '/') {
        pos = 1;
    }
    while (pos <= path.size()) {
        std::size_t end = path.find('/', pos);
        if (end == std::string_view::npos) {
            end = path.size();
        }
        const std::string_view seg = path.substr(pos, end - pos);
        const bool last = end == path.size();
        if (seg == ".") {
            trailingSlash = last;
        } else if (seg == "..") {
            if (!segments.empty()) {
                segments.pop_back();
            }
            trailingSlash = last;
        } else {
            segments.push_back(seg);
            trailingSlash = false;
        }
        pos = end + 1;
    }
    std::string out;
    for (const auto seg : segments) {
        out += '/';
        out += seg;
    }
    if (trailingSlash || out.empty()) {
        out += '/';
    }
    return out;
}

} // namespace

std::string THttpUrl::HostHeader() const {
    std::string out = Ipv6Literal ? "[" + Host + "]" : Host;
    if (Port != DefaultPort(Scheme)) {
        out += ':';
        out += std::to_string(Port);
    }
    return out;
}

std::string THttpUrl::Path() const {
    return Target.substr(0, Target.find('?'));
}

std::string THttpUrl::ToString() const {
    std::string out = Scheme + "://" + (Ipv6Literal ? "[" + Host + "]" : Host);
    if (Port != DefaultPort(Scheme)) {
        out += ':';
        out += std::to_string(Port);
    }
    return out + Target;
}

THttpUrl ParseHttpUrl(std::string_view url) {
    const std::string_view text = TrimControls(url);
    THttpUrl out;
    std::string_view rest = text;
    const std::size_t schemeLen = SchemeLength(text);
    if (schemeLen > 0 && text.substr(schemeLen + 1, 2) == "//") {
        out.Scheme = AsciiLower(text.substr(0, schemeLen));
        rest = text.substr(schemeLen + 3);
    } else if (text.substr(0, 2) == "//") {
        out.Scheme = "http";
        rest = text.substr(2);
    } else if (schemeLen > 0) {
        // "host:8080/..." is a host and port; "mailto:x" and the like have no authority.
        const bool hostAndPort = schemeLen + 1 < text.size() && IsDigit(text[schemeLen + 1]);
        if (!hostAndPort) {
            Invalid(url);
        }
        out.Scheme = "http";
    } else {
        out.Scheme = "http";
    }

    const std::size_t authorityEnd = std::min(rest.find_first_of("/?#"), rest.size());
    std::string_view authority = rest.substr(0, authorityEnd);
    std::string_view target = rest.substr(authorityEnd);
    target = target.substr(0, target.find('#'));

    const std::size_t at = authority.rfind('@');
    if (at != std::string_view::npos) {
        authority.remove_prefix(at + 1); // user information is never sent
    }

    std::string_view host;
    std::string_view port;
    std::string asciiHost; // a host name beyond ASCII, in the form that is sent
    if (!authority.empty() && authority[0] == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos) {
            Invalid(url);
        }
        host = authority.substr(1, close - 1);
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after[0] != ':') {
                Invalid(url);
            }
            port = after.substr(1);
        }
        if (!ValidIpv6Literal(host)) {
            Invalid(url);
        }
        out.Ipv6Literal = true;
    } else {
        const std::size_t colon = authority.rfind(':');
        host = authority.substr(0, colon);
        if (colon != std::string_view::npos) {
            port = authority.substr(colon + 1);
        }
        if (std::any_of(host.begin(), host.end(),
                        [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
            if (!HostToAscii(host, asciiHost)) {
                Invalid(url);
            }
            host = asciiHost;
        }
        if (!ValidRegName(host)) {
            Invalid(url);
        }
    }
    if (host.empty()) {
        Invalid(url);
    }
    out.Host = std::string(host);

    out.Port = DefaultPort(out.Scheme);
    if (!port.empty()) {
        if (port.size() > 5 || !std::all_of(port.begin(), port.end(), IsDigit)) {
            Invalid(url);
        }
        const int value = std::stoi(std::string(port));
        if (value < 1 || value > 65535) {
            Invalid(url);
        }
        out.Port = value;
    }

    if (target.empty() || target[0] == '?') {
        out.Target = '/';
    }
    out.Target += EncodeTarget(target);
    return out;
}

std::string ResolveUrl(const THttpUrl& base, std::string_view reference) {
    std::string_view ref = TrimControls(reference);
    ref = ref.substr(0, ref.find('#'));
    const std::size_t schemeLen = SchemeLength(ref);
    if (schemeLen > 0) {
        // An absolute reference; "http:path" without slashes is taken relative (old rule).
        if (ref.substr(schemeLen + 1, 2) == "//") {
            return std::string(ref);
        }
        if (AsciiLower(ref.substr(0, schemeLen)) == base.Scheme) {
            ref.remove_prefix(schemeLen + 1);
        } else {
            return std::string(ref);
        }
    }
    if (ref.substr(0, 2) == "//") {
        return base.Scheme + ":" + std::string(ref);
    }

    THttpUrl out = base;
    const std::string basePath = base.Path();
    if (ref.empty()) {
        return out.ToString();
    }
    if (ref[0] == '?') {
        out.Target = basePath + EncodeTarget(ref);
        return out.ToString();
    }
    const std::size_t queryPos = std::min(ref.find('?'), ref.size());
    const std::string_view refPath = ref.substr(0, queryPos);
    const std::string_view refQuery = ref.substr(queryPos);
    std::string merged;
    if (refPath.empty()) {
        merged = basePath;
    } else if (refPath[0] == '/') {
        merged = std::string(refPath);
    } else {
        merged = basePath.substr(0, basePath.rfind('/') + 1) + std::string(refPath);
    }
    out.Target = EncodeTarget(RemoveDotSegments(merged) + std::string(refQuery));
    return out.ToString();
}

} // namespace qrv::engine
