#pragma once

#include "engine/http/HttpParser.h"
#include "platform/Error.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qrv::engine {

// Read bounds, so that a server that accepts and then stays silent, or sends a byte now and
// then, cannot hold a check run for ever. 30 s of silence is far beyond any live server's
// pause between packets; 120 s for the whole exchange (the connect waits excluded, they
// keep the connect limit) is well past any page a monitor fetches, and keeps a stuck run
// within one default check interval. Exceeding either fails with "Read timed out.".
inline constexpr int kReadSilenceMs = 30000;
inline constexpr int kRequestLimitMs = 120000;

struct THttpLimits {
    int ReadSilenceMs = kReadSilenceMs;   // longest wait for the next byte, sending or reading
    int RequestLimitMs = kRequestLimitMs; // the whole call, every redirect included
    THttpParserLimits Parser;             // what one answer may make us keep in memory
    std::size_t MaxCookies = 1000;
};

// What a request broken off by Cancel() fails with; never the text of a server's answer, so
// that callers can tell it from every failure a server can cause.
class THttpCancelled : public qrv::Error {
public:
    THttpCancelled() : qrv::Error("Request cancelled.") {}
};

// An HTTP/1.1 client `IdHTTP`. The check run and the update check each have one of their own,
// so that neither waits for the other; one object serves one request at a time (a second
// caller waits). Cookies, the kept-alive connection and the connect limit live as long as the
// object.
class TIdHTTP {
public:
    TIdHTTP();
    ~TIdHTTP();
    TIdHTTP(const TIdHTTP&) = delete;
    TIdHTTP& operator=(const TIdHTTP&) = delete;

    // GET with redirects; returns the decoded body of the final answer as UTF-8.
    // Throws qrv::Error with the failure's message text.
    std::string Get(const std::string& url);

    // application/x-www-form-urlencoded POST of the pairs in order, each value URL-encoded
    // (see EncodeForm). Redirects are followed as GETs.
    std::string Post(const std::string& url,
                     const std::vector<std::pair<std::string, std::string>>& fields);

    // Connect limit in milliseconds; 0 means none (the platform's own attempt). May be set
    // while another thread's request is under way; it applies from the next connect.
    void SetConnectTimeout(int milliseconds);
    int ConnectTimeout() const;

    // Whether https addresses are fetched (over TLS) instead of failing with
    // "IOHandler value is not valid". Off by default; an opt-in of the settings key. May be
    // set from any thread; it applies from the next request. TLS (OpenSSL and the trust
    // store) is loaded at the first https connection and kept for the process.
    void SetHttpsEnabled(bool on);
    bool HttpsEnabled() const;

    // The read bounds (tests shorten them).
    void SetLimits(const THttpLimits& limits);
    THttpLimits Limits() const;

    // Cookies held at the moment (tests and diagnostics).
    std::size_t CookieCount() const;

    // From any thread: breaks off the request under way (a name lookup in progress is left
    // to finish on its own thread) and makes it, and every later one, fail at once with
    // THttpCancelled. For the end of the program: a cancelled client stays cancelled.
    void Cancel();
    bool Cancelled() const;

private:
    struct TImpl;
    std::unique_ptr<TImpl> impl_;
};

// Form encoding of one name or value: letters, digits and "*-._" stay, a space becomes
// "+", every other byte "%XX" (upper-case hex), as browsers encode forms.
std::string UrlEncodeFormValue(std::string_view text);
// "name=value&name2=value2", names and values encoded, in the given order.
std::string EncodeForm(const std::vector<std::pair<std::string, std::string>>& fields);

// Whether a Content-Type value names UTF-8 ("UTF-8" or "UTF8", any letter case) in its
// charset parameter.
bool ContentTypeIsUtf8(std::string_view contentType);

} // namespace qrv::engine
