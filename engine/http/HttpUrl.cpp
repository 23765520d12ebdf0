#include "engine/http/HttpUrl.h"

#include "platform/AsciiText.h"

#include "platform/Error.h"

#include <algorithm>
#include <cctype>
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

// Percent-encodes only what would break the request line: control bytes (CR and LF could
// add a header) and the space. Everything else goes out as the address has it; existing
// escapes stay as they are.
std::string EncodeTarget(std::string_view target) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string out;
    out.reserve(target.size());
    for (const char ch : target) {
        const auto c = static_cast<unsigned char>(ch);
        const bool bad = c <= ' ' || c == 0x7F;
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
    if (Port != 80) {
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
