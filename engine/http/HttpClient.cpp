#include "engine/http/HttpClient.h"

#include "platform/AsciiText.h"

#include "engine/http/CookieStore.h"
#include "engine/http/HttpUrl.h"
#include "engine/http/SocketError.h"
#include "engine/http/TlsTransport.h"
#include "engine/http/Transport.h"
#include "platform/CodePage.h"
#include "platform/Error.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <mutex>

namespace qrv::engine {

using qrv::platform::AsciiLower;
using qrv::platform::TrimBlanks;

namespace {

constexpr const char* kAccept = "text/html, */*";
constexpr const char* kUserAgent = "Mozilla/3.0 (compatible; Indy Library)";
constexpr const char* kNoTls = "IOHandler value is not valid";
constexpr int kMaxRedirects = 15;
constexpr std::size_t kReadBuffer = std::size_t{128} * 1024;

// A failure on a kept-alive connection before any byte of the answer came: the server
// dropped the idle connection, and the request may be sent again on a fresh one.
struct TStaleConnection {
    int Wsa;
    bool Closed;
};

} // namespace

std::string UrlEncodeFormValue(std::string_view text) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            c == '*' || c == '-' || c == '.' || c == '_') {
            out += ch;
        } else if (c == ' ') {
            out += '+';
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        }
    }
    return out;
}

std::string EncodeForm(const std::vector<std::pair<std::string, std::string>>& fields) {
    std::string out;
    for (const auto& [name, value] : fields) {
        if (!out.empty()) {
            out += '&';
        }
        out += UrlEncodeFormValue(name);
        out += '=';
        out += UrlEncodeFormValue(value);
    }
    return out;
}

namespace {

// One parameter value: a token, or a quoted string whose backslash escapes are undone.
// `text` starts at the value; it is left after the value.
std::string TakeParameterValue(std::string_view& text) {
    std::string value;
    text = TrimBlanks(text);
    if (text.empty() || text.front() != '"') {
        const std::size_t end = std::min(text.find(';'), text.size());
        value = std::string(TrimBlanks(text.substr(0, end)));
        text.remove_prefix(end);
        return value;
    }
    std::size_t i = 1;
    for (; i < text.size() && text[i] != '"'; ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            ++i;
        }
        value += text[i];
    }
    text.remove_prefix(std::min(i + 1, text.size()));
    // Whatever follows a closing quote up to the next ';' is not part of any value.
    text.remove_prefix(std::min(text.find(';'), text.size()));
    return value;
}

} // namespace

bool ContentTypeIsUtf8(std::string_view contentType) {
    // The media type, then "; name=value" parameters; a ';' or "charset=" inside a quoted
    // value belongs to that value.
    std::string_view rest = contentType.substr(std::min(contentType.find(';'), contentType.size()));
    while (!rest.empty()) {
        rest.remove_prefix(1); // the ';'
        const std::size_t eq = rest.find('=');
        const std::size_t semi = rest.find(';');
        if (eq == std::string_view::npos || (semi != std::string_view::npos && semi < eq)) {
            rest.remove_prefix(std::min(semi, rest.size()));
            continue;
        }
        const std::string name = AsciiLower(TrimBlanks(rest.substr(0, eq)));
        rest.remove_prefix(eq + 1);
        const std::string value = AsciiLower(TakeParameterValue(rest));
        if (name == "charset") {
            return value == "utf-8" || value == "utf8";
        }
    }
    return false;
}

struct TIdHTTP::TImpl {
    mutable std::mutex Mutex;
    TCancelSignal CancelSignal; // outside the mutex: raised while a request holds it
    std::atomic<int> ConnectLimitMs{0};
    std::atomic<bool> HttpsOn{false};
    THttpLimits Limits;
    TCookieStore Cookies{Limits.MaxCookies};
    // The kept connection, for one scheme, host and port at a time.
    std::unique_ptr<TTransport> Connection;
    std::string ConnectionScheme;
    std::string ConnectionHost;
    int ConnectionPort = 0;
    std::string Buffer = std::string(kReadBuffer, '\0');

    std::string Request(const std::string& url, bool post, const std::string& formBody);
    THttpResponseParser Exchange(const THttpUrl& url, const std::string& request,
                                 TClock::time_point& deadline);
    // A new connection, TLS for https; resolving and connecting are not counted in the
    // request limit (they have the connect limit), the handshake is.
    std::unique_ptr<TTransport> Connect(const THttpUrl& url, TClock::time_point& deadline);
    void Send(const std::string& bytes, bool reused, TClock::time_point deadline);
    // Takes the answer's cookies as soon as its head is read, so that a body that fails later
    // does not lose them.
    THttpResponseParser Receive(const THttpUrl& url, bool reused, TClock::time_point deadline);
    std::string BuildRequest(const THttpUrl& url, bool post, const std::string& formBody);
    void TakeCookies(const THttpUrl& url, const THttpResponseParser& answer);
    TIoWait ReadWait(TClock::time_point deadline) const {
        return TIoWait(CancelSignal, Limits.ReadSilenceMs, deadline);
    }
    void CloseConnection() {
        Connection.reset();
        ConnectionScheme.clear();
        ConnectionHost.clear();
        ConnectionPort = 0;
    }
};

TIdHTTP::TIdHTTP() : impl_(std::make_unique<TImpl>()) {}

TIdHTTP::~TIdHTTP() = default;

std::string TIdHTTP::Get(const std::string& url) {
    const std::lock_guard lock(impl_->Mutex);
    return impl_->Request(url, false, std::string());
}

std::string TIdHTTP::Post(const std::string& url,
                          const std::vector<std::pair<std::string, std::string>>& fields) {
    const std::lock_guard lock(impl_->Mutex);
    return impl_->Request(url, true, EncodeForm(fields));
}

void TIdHTTP::SetConnectTimeout(int milliseconds) {
    impl_->ConnectLimitMs.store(milliseconds);
}

int TIdHTTP::ConnectTimeout() const {
    return impl_->ConnectLimitMs.load();
}

void TIdHTTP::SetHttpsEnabled(bool on) {
    impl_->HttpsOn.store(on);
}

bool TIdHTTP::HttpsEnabled() const {
    return impl_->HttpsOn.load();
}

void TIdHTTP::SetLimits(const THttpLimits& limits) {
    const std::lock_guard lock(impl_->Mutex);
    impl_->Limits = limits;
}

THttpLimits TIdHTTP::Limits() const {
    const std::lock_guard lock(impl_->Mutex);
    return impl_->Limits;
}

std::size_t TIdHTTP::CookieCount() const {
    const std::lock_guard lock(impl_->Mutex);
    return impl_->Cookies.Count();
}

void TIdHTTP::Cancel() {
    impl_->CancelSignal.Raise();
}

bool TIdHTTP::Cancelled() const {
    return impl_->CancelSignal.Raised();
}

std::string TIdHTTP::TImpl::BuildRequest(const THttpUrl& url, bool post,
                                         const std::string& formBody) {
    std::string out;
    out.reserve(256 + formBody.size());
    out += post ? "POST " : "GET ";
    out += url.Target;
    out += " HTTP/1.1\r\nHost: ";
    out += url.HostHeader();
    out += "\r\nAccept: ";
    out += kAccept;
    out += "\r\nUser-Agent: ";
    out += kUserAgent;
    out += "\r\n";
    const std::string cookies = Cookies.CookieHeader(url, std::time(nullptr));
    if (!cookies.empty()) {
        out += "Cookie: ";
        out += cookies;
        out += "\r\n";
    }
    if (post) {
        out += "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: ";
        out += std::to_string(formBody.size());
        out += "\r\n";
    }
    out += "\r\n";
    out += formBody;
    return out;
}

void TIdHTTP::TImpl::TakeCookies(const THttpUrl& url, const THttpResponseParser& answer) {
    const std::time_t now = std::time(nullptr);
    for (const auto& [name, value] : answer.Headers()) {
        const std::string lower = AsciiLower(name);
        if (lower == "set-cookie") {
            Cookies.SetCookie(url, value, now);
        } else if (lower == "set-cookie2") {
            Cookies.SetCookie2(url, value, now);
        }
    }
}

std::string TIdHTTP::TImpl::Request(const std::string& url, bool post,
                                    const std::string& formBody) {
    TClock::time_point deadline =
        TClock::now() + std::chrono::milliseconds(std::max(Limits.RequestLimitMs, 0));
    std::string current = url;
    int redirects = 0;
    while (true) {
        CancelSignal.ThrowIfRaised();
        const THttpUrl target = ParseHttpUrl(current);
        if (target.Scheme == "https" && !HttpsOn.load()) {
            throw qrv::Error(kNoTls);
        }
        if (target.Scheme != "http" && target.Scheme != "https") {
            throw qrv::Error("Unsupported address: " + current);
        }
        const std::string request = BuildRequest(target, post, post ? formBody : std::string());
        THttpResponseParser answer = Exchange(target, request, deadline);
        const int code = answer.StatusCode();
        const bool redirect =
            (code >= 300 && code < 400 && code != 304) || answer.HasHeader("Location");
        if (redirect) {
            ++redirects;
            if (redirects >= kMaxRedirects) {
                return std::string();
            }
            if (!answer.HasHeader("Location")) {
                // Nothing to follow: say what the server answered.
                throw qrv::Error(answer.StatusLine());
            }
            // An empty Location names the same address again, until the redirect limit.
            const std::string location = answer.Header("Location");
            if (!location.empty()) {
                current = ResolveUrl(target, location);
            }
            post = false;
            continue;
        }
        if (code < 200 || code >= 300) {
            throw qrv::Error(answer.StatusLine());
        }
        const bool utf8 = ContentTypeIsUtf8(answer.Header("Content-Type"));
        std::string body = answer.TakeBody();
        // Plain ASCII reads the same either way, and is most pages: no copy then.
        if (std::all_of(body.begin(), body.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
            return body;
        }
        return utf8 ? platform::SanitizeUtf8(body) : platform::Latin1ToUtf8(body);
    }
}

THttpResponseParser TIdHTTP::TImpl::Exchange(const THttpUrl& url, const std::string& request,
                                             TClock::time_point& deadline) {
    if (Connection && (ConnectionScheme != url.Scheme || ConnectionHost != url.Host ||
                       ConnectionPort != url.Port)) {
        CloseConnection();
    }
    if (Connection && !Connection->IdleUsable()) {
        CloseConnection();
    }
    while (true) {
        const bool reused = Connection != nullptr;
        if (!reused) {
            Connection = Connect(url, deadline);
            ConnectionScheme = url.Scheme;
            ConnectionHost = url.Host;
            ConnectionPort = url.Port;
        }
        try {
            Send(request, reused, deadline);
            THttpResponseParser answer = Receive(url, reused, deadline);
            if (answer.State() == THttpResponseParser::TState::Failed) {
                CloseConnection();
                throw qrv::Error(answer.FailureText());
            }
            if (!answer.KeepAlive()) {
                CloseConnection();
            }
            return answer;
        } catch (const TStaleConnection&) {
            CloseConnection(); // and once more on a fresh connection
        } catch (...) {
            CloseConnection();
            throw;
        }
    }
}

std::unique_ptr<TTransport> TIdHTTP::TImpl::Connect(const THttpUrl& url,
                                                    TClock::time_point& deadline) {
    const bool tls = url.Scheme == "https";
    if (tls) {
        LoadTlsModule(); // before anything goes out: a missing module fails at once
    }
    const auto started = TClock::now();
    const int limitMs = ConnectLimitMs.load();
    const std::optional<TClock::time_point> connectEnd =
        limitMs > 0 ? std::optional(started + std::chrono::milliseconds(limitMs)) : std::nullopt;
    TSocket socket = ConnectSocket(url, CancelSignal, connectEnd, deadline);
    // Connecting has its own limit; the request limit covers the rest.
    deadline += TClock::now() - started;
    if (!tls) {
        return std::make_unique<TPlainTransport>(std::move(socket));
    }
    const TIoWait handshakeWait(CancelSignal, Limits.ReadSilenceMs, deadline, connectEnd);
    return std::make_unique<TTlsTransport>(std::move(socket), url.Host, handshakeWait);
}

void TIdHTTP::TImpl::Send(const std::string& bytes, bool reused, TClock::time_point deadline) {
    const int error = Connection->Send(bytes, ReadWait(deadline));
    if (error == 0) {
        return;
    }
    if (reused && (error == EPIPE || error == ECONNRESET)) {
        throw TStaleConnection{WsaErrorFromErrno(error), false};
    }
    ThrowSocketError(WsaErrorFromErrno(error));
}

THttpResponseParser TIdHTTP::TImpl::Receive(const THttpUrl& url, bool reused,
                                            TClock::time_point deadline) {
    THttpResponseParser answer(Limits.Parser);
    bool headSeen = false;
    bool cookiesTaken = false;
    const auto takeCookies = [&] {
        if (!cookiesTaken && answer.HeadComplete()) {
            cookiesTaken = true;
            TakeCookies(url, answer);
        }
    };
    const TIoWait wait = ReadWait(deadline);
    while (true) {
        const TIoResult got = Connection->Receive(Buffer.data(), Buffer.size(), wait);
        if (got.Error != 0) {
            if (reused && !answer.AnyBytes() && got.Error == ECONNRESET) {
                throw TStaleConnection{WsaErrorFromErrno(got.Error), false};
            }
            ThrowSocketError(WsaErrorFromErrno(got.Error));
        }
        if (got.Bytes == 0) {
            if (reused && !answer.AnyBytes()) {
                throw TStaleConnection{0, true};
            }
            answer.FeedEnd();
            takeCookies();
            return answer;
        }
        answer.Feed(std::string_view(Buffer.data(), got.Bytes));
        takeCookies();
        if (answer.State() != THttpResponseParser::TState::NeedMore) {
            return answer;
        }
        if (answer.HeadComplete() && !headSeen) {
            headSeen = true;
            const int code = answer.StatusCode();
            const bool redirect =
                (code >= 300 && code < 400 && code != 304) || answer.HasHeader("Location");
            if (!redirect && (code < 200 || code >= 300)) {
                // A failing answer: its body is of no use, and the connection is dropped.
                return answer;
            }
        }
    }
}

} // namespace qrv::engine
