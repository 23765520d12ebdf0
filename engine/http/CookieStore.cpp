#include "engine/http/CookieStore.h"

#include "platform/AsciiText.h"

#include "engine/http/HttpParser.h"

#include <algorithm>
#include <arpa/inet.h>
#include <limits>

namespace qrv::engine {

using qrv::platform::AsciiLower;
using qrv::platform::TrimBlanks;

namespace {

std::string_view Unquote(std::string_view text) {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
        return text.substr(1, text.size() - 2);
    }
    return text;
}

bool IsIpAddress(const THttpUrl& url) {
    if (url.Ipv6Literal) {
        return true;
    }
    in_addr addr{};
    return inet_pton(AF_INET, url.Host.c_str(), &addr) == 1;
}

bool DomainMatch(std::string_view host, std::string_view domain, bool hostIsIp) {
    if (host == domain) {
        return true;
    }
    return !hostIsIp && host.size() > domain.size() &&
           host.substr(host.size() - domain.size()) == domain &&
           host[host.size() - domain.size() - 1] == '.';
}

std::string DefaultPath(const std::string& requestPath) {
    if (requestPath.empty() || requestPath[0] != '/') {
        return "/";
    }
    const std::size_t last = requestPath.rfind('/');
    if (last == 0) {
        return "/";
    }
    return requestPath.substr(0, last);
}

bool PathMatch(std::string_view requestPath, std::string_view cookiePath) {
    if (requestPath == cookiePath) {
        return true;
    }
    if (requestPath.size() > cookiePath.size() &&
        requestPath.substr(0, cookiePath.size()) == cookiePath) {
        return cookiePath.back() == '/' || requestPath[cookiePath.size()] == '/';
    }
    return false;
}

struct TPair {
    std::string Name;
    std::string Value;
    bool HasEquals = false;
};

// Splits "a=1; b=2" into trimmed pairs; the first pair is the cookie itself.
std::vector<TPair> SplitPairs(std::string_view text) {
    std::vector<TPair> out;
    while (true) {
        const std::size_t semi = text.find(';');
        const std::string_view part = text.substr(0, semi);
        const std::size_t eq = part.find('=');
        if (eq == std::string_view::npos) {
            out.push_back({std::string(TrimBlanks(part)), std::string(), false});
        } else {
            out.push_back({std::string(TrimBlanks(part.substr(0, eq))),
                           std::string(TrimBlanks(part.substr(eq + 1))), true});
        }
        if (semi == std::string_view::npos) {
            break;
        }
        text.remove_prefix(semi + 1);
    }
    return out;
}

std::vector<std::pair<std::string, std::string>> Attributes(std::vector<TPair> pairs,
                                                            bool unquote) {
    std::vector<std::pair<std::string, std::string>> out;
    for (std::size_t i = 1; i < pairs.size(); ++i) {
        out.emplace_back(std::move(pairs[i].Name), unquote ? std::string(Unquote(pairs[i].Value))
                                                           : std::move(pairs[i].Value));
    }
    return out;
}

bool HasControl(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char ch) {
        const auto c = static_cast<unsigned char>(ch);
        return (c < 0x20 && c != '\t') || c == 0x7F;
    });
}

bool IsDelimiter(char ch) {
    const auto c = static_cast<unsigned char>(ch);
    return c == 0x09 || (c >= 0x20 && c <= 0x2F) || (c >= 0x3B && c <= 0x40) ||
           (c >= 0x5B && c <= 0x60) || (c >= 0x7B && c <= 0x7E);
}

// Leading digits of a token: between `min` and `max` of them, then anything but a digit.
bool LeadingNumber(std::string_view token, std::size_t min, std::size_t max, int& value,
                   std::size_t& used) {
    std::size_t n = 0;
    int out = 0;
    while (n < token.size() && token[n] >= '0' && token[n] <= '9') {
        if (n == max) {
            return false;
        }
        out = out * 10 + (token[n] - '0');
        ++n;
    }
    if (n < min) {
        return false;
    }
    value = out;
    used = n;
    return true;
}

bool ParseTime(std::string_view token, int& h, int& m, int& s) {
    std::size_t used = 0;
    if (!LeadingNumber(token, 1, 2, h, used) || used >= token.size() || token[used] != ':') {
        return false;
    }
    token.remove_prefix(used + 1);
    if (!LeadingNumber(token, 1, 2, m, used) || used >= token.size() || token[used] != ':') {
        return false;
    }
    token.remove_prefix(used + 1);
    return LeadingNumber(token, 1, 2, s, used);
}

} // namespace

bool ParseCookieDate(std::string_view text, std::time_t& out) {
    static const char* const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                          "jul", "aug", "sep", "oct", "nov", "dec"};
    bool haveTime = false;
    bool haveDay = false;
    bool haveMonth = false;
    bool haveYear = false;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int day = 0;
    int month = 0;
    int year = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        while (pos < text.size() && IsDelimiter(text[pos])) {
            ++pos;
        }
        std::size_t end = pos;
        while (end < text.size() && !IsDelimiter(text[end])) {
            ++end;
        }
        if (end == pos) {
            break;
        }
        const std::string_view token = text.substr(pos, end - pos);
        pos = end;
        int value = 0;
        std::size_t used = 0;
        if (!haveTime && ParseTime(token, hour, minute, second)) {
            haveTime = true;
        } else if (!haveDay && LeadingNumber(token, 1, 2, value, used)) {
            haveDay = true;
            day = value;
        } else if (!haveMonth && token.size() >= 3 &&
                   std::find(std::begin(kMonths), std::end(kMonths),
                             AsciiLower(token.substr(0, 3))) != std::end(kMonths)) {
            haveMonth = true;
            month = static_cast<int>(std::find(std::begin(kMonths), std::end(kMonths),
                                               AsciiLower(token.substr(0, 3))) -
                                     std::begin(kMonths)) +
                    1;
        } else if (!haveYear && LeadingNumber(token, 2, 4, value, used)) {
            haveYear = true;
            year = value;
        }
    }
    if (!haveTime || !haveDay || !haveMonth || !haveYear) {
        return false;
    }
    if (year >= 70 && year <= 99) {
        year += 1900;
    } else if (year >= 0 && year <= 69) {
        year += 2000;
    }
    if (day < 1 || day > 31 || year < 1601 || hour > 23 || minute > 59 || second > 59) {
        return false;
    }
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    out = timegm(&tm);
    return true;
}

TCookieStore::TCookieStore(std::size_t maxCookies, std::size_t maxPerDomain)
    : maxCookies_(std::max<std::size_t>(maxCookies, 1)),
      maxPerDomain_(std::max<std::size_t>(maxPerDomain, 1)) {}

void TCookieStore::SetCookie(const THttpUrl& url, std::string_view header, std::time_t now) {
    auto pairs = SplitPairs(header);
    if (!pairs[0].HasEquals) {
        return; // no "name=value": not a cookie
    }
    const TPair first = pairs[0];
    Store(url, first.Name, first.Value, Attributes(std::move(pairs), false), now);
}

void TCookieStore::SetCookie2(const THttpUrl& url, std::string_view header, std::time_t now) {
    // Cookies are separated by commas outside quoted strings.
    bool quoted = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= header.size(); ++i) {
        if (i < header.size() && header[i] == '"') {
            quoted = !quoted;
        }
        if (i == header.size() || (header[i] == ',' && !quoted)) {
            auto pairs = SplitPairs(header.substr(start, i - start));
            start = i + 1;
            if (!pairs[0].HasEquals) {
                continue;
            }
            const TPair first = pairs[0];
            Store(url, first.Name, Unquote(first.Value), Attributes(std::move(pairs), true), now);
        }
    }
}

void TCookieStore::Store(const THttpUrl& url, std::string_view name, std::string_view value,
                         const std::vector<std::pair<std::string, std::string>>& attributes,
                         std::time_t now) {
    // Names starting with '$' are the attributes of the old cookie syntax; control
    // characters could break the Cookie line we send back.
    if (name.empty() || name[0] == '$' || name.size() + value.size() > kMaxCookieBytes ||
        HasControl(name) || HasControl(value)) {
        return;
    }
    TCookie cookie;
    cookie.Name = std::string(name);
    cookie.Value = std::string(value);
    cookie.Expires = kSession;
    const std::string host = AsciiLower(url.Host);
    const bool hostIsIp = IsIpAddress(url);

    bool haveMaxAge = false;
    std::string domain;
    std::string path;
    for (const auto& [rawKey, rawValue] : attributes) {
        const std::string key = AsciiLower(rawKey);
        const std::string& attrValue = rawValue;
        if (key == "max-age") {
            std::string_view digits = attrValue;
            const bool negative = !digits.empty() && digits[0] == '-';
            if (negative) {
                digits.remove_prefix(1);
            }
            if (digits.empty() || !std::all_of(digits.begin(), digits.end(),
                                               [](char c) { return c >= '0' && c <= '9'; })) {
                continue;
            }
            haveMaxAge = true;
            if (negative || digits.find_first_not_of('0') == std::string_view::npos) {
                cookie.Expires = std::numeric_limits<std::time_t>::min();
            } else if (digits.size() > 12) {
                cookie.Expires = kSession - 1;
            } else {
                cookie.Expires = now + static_cast<std::time_t>(std::stoll(std::string(digits)));
            }
        } else if (key == "expires" && !haveMaxAge) {
            std::time_t when = 0;
            if (ParseCookieDate(attrValue, when)) {
                cookie.Expires = when;
            }
        } else if (key == "domain") {
            std::string_view d = attrValue;
            if (!d.empty() && d[0] == '.') {
                d.remove_prefix(1);
            }
            if (!d.empty()) {
                domain = AsciiLower(d);
            }
        } else if (key == "path") {
            if (!attrValue.empty() && attrValue[0] == '/') {
                path = attrValue;
            }
        } else if (key == "secure") {
            cookie.Secure = true;
        }
    }

    if (domain.empty()) {
        cookie.Domain = host;
        cookie.HostOnly = true;
    } else {
        // A domain must cover the host, and may not be a bare top-level name.
        if (!DomainMatch(host, domain, hostIsIp) ||
            (domain != host && domain.find('.') == std::string::npos)) {
            return;
        }
        cookie.Domain = domain;
        cookie.HostOnly = false;
    }
    cookie.Path = path.empty() ? DefaultPath(url.Path()) : path;

    DropExpired(now);
    const auto same = std::find_if(cookies_.begin(), cookies_.end(), [&](const TCookie& c) {
        return c.Name == cookie.Name && c.Domain == cookie.Domain && c.Path == cookie.Path;
    });
    const bool expired = cookie.Expires != kSession && cookie.Expires <= now;
    if (same != cookies_.end()) {
        if (expired) {
            cookies_.erase(same);
        } else {
            cookie.Created = same->Created;
            cookie.Used = ++sequence_;
            *same = std::move(cookie);
        }
        return;
    }
    if (expired) {
        return;
    }
    cookie.Created = ++sequence_;
    cookie.Used = cookie.Created;

    const auto leastUsed = [this](auto predicate) {
        auto victim = cookies_.end();
        for (auto it = cookies_.begin(); it != cookies_.end(); ++it) {
            if (predicate(*it) && (victim == cookies_.end() || it->Used < victim->Used)) {
                victim = it;
            }
        }
        if (victim != cookies_.end()) {
            cookies_.erase(victim);
        }
    };
    const auto inDomain = [&](const TCookie& c) { return c.Domain == cookie.Domain; };
    if (static_cast<std::size_t>(std::count_if(cookies_.begin(), cookies_.end(), inDomain)) >=
        maxPerDomain_) {
        leastUsed(inDomain);
    }
    if (cookies_.size() >= maxCookies_) {
        leastUsed([](const TCookie&) { return true; });
    }
    cookies_.push_back(std::move(cookie));
}

void TCookieStore::DropExpired(std::time_t now) {
    std::erase_if(cookies_,
                  [now](const TCookie& c) { return c.Expires != kSession && c.Expires <= now; });
}

std::string TCookieStore::CookieHeader(const THttpUrl& url, std::time_t now) {
    DropExpired(now);
    const std::string host = AsciiLower(url.Host);
    const bool hostIsIp = IsIpAddress(url);
    const std::string path = url.Path();
    const bool secureChannel = url.Scheme == "https";
    std::vector<TCookie*> matches;
    for (auto& cookie : cookies_) {
        if (cookie.Secure && !secureChannel) {
            continue;
        }
        const bool domainOk =
            cookie.HostOnly ? host == cookie.Domain : DomainMatch(host, cookie.Domain, hostIsIp);
        if (domainOk && PathMatch(path, cookie.Path)) {
            matches.push_back(&cookie);
        }
    }
    std::stable_sort(matches.begin(), matches.end(), [](const TCookie* a, const TCookie* b) {
        if (a->Path.size() != b->Path.size()) {
            return a->Path.size() > b->Path.size();
        }
        return a->Created < b->Created;
    });
    std::string out;
    for (TCookie* cookie : matches) {
        cookie->Used = ++sequence_;
        if (!out.empty()) {
            out += "; ";
        }
        out += cookie->Name;
        out += '=';
        out += cookie->Value;
    }
    return out;
}

} // namespace qrv::engine
