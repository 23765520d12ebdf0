#pragma once

#include "engine/http/HttpUrl.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace qrv::engine {

struct TCookie {
    std::string Name;
    std::string Value;
    std::string Domain; // lower case, without a leading dot
    std::string Path;
    bool HostOnly = true;    // sent to exactly Domain, not to its sub-domains
    bool Secure = false;     // sent over https only
    std::time_t Expires = 0; // kSession for cookies that last until the program ends
    std::uint64_t Created = 0;
    std::uint64_t Used = 0;
};

// The client's cookies, kept in memory for the life of the process. Domain, path and
// expiry follow the usual rules for Set-Cookie; Set-Cookie2 answers are read the same way.
// The store holds a bounded number of cookies of bounded size, dropping the least recently
// used when full, so that no server can make it grow without end. Not thread-safe: the
// client serialises its use.
class TCookieStore {
public:
    static constexpr std::time_t kSession = static_cast<std::time_t>(INT64_MAX);
    static constexpr std::size_t kMaxCookieBytes = 4096; // name and value together

    explicit TCookieStore(std::size_t maxCookies = 1000, std::size_t maxPerDomain = 50);

    // One Set-Cookie header value, from an answer to `url`, at time `now`.
    void SetCookie(const THttpUrl& url, std::string_view header, std::time_t now);
    // One Set-Cookie2 header value: a comma-separated list of cookies.
    void SetCookie2(const THttpUrl& url, std::string_view header, std::time_t now);

    // "name=value; name2=value2" for a request to `url`, or empty when nothing matches.
    std::string CookieHeader(const THttpUrl& url, std::time_t now);

    std::size_t Count() const { return cookies_.size(); }
    const std::vector<TCookie>& Cookies() const { return cookies_; }
    void Clear() { cookies_.clear(); }

private:
    void Store(const THttpUrl& url, std::string_view name, std::string_view value,
               const std::vector<std::pair<std::string, std::string>>& attributes, std::time_t now);
    void DropExpired(std::time_t now);

    std::size_t maxCookies_;
    std::size_t maxPerDomain_;
    std::uint64_t sequence_ = 0;
    std::vector<TCookie> cookies_;
};

// A cookie date in any of the forms servers send (RFC 1123, RFC 850, asctime, and the
// old "DD-Mon-YYYY" form); false when it is not a date.
bool ParseCookieDate(std::string_view text, std::time_t& out);

} // namespace qrv::engine
