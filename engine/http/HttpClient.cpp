#include "engine/http/HttpClient.h"

#include "platform/AsciiText.h"

#include "engine/http/CookieStore.h"
#include "engine/http/HttpUrl.h"
#include "engine/http/SocketError.h"
#include "platform/CodePage.h"
#include "platform/Error.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <netdb.h>
#include <optional>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qrv::engine {

using qrv::platform::AsciiLower;
using qrv::platform::TrimBlanks;

namespace {

using TClock = std::chrono::steady_clock;

constexpr const char* kAccept = "text/html, */*";
constexpr const char* kUserAgent = "Mozilla/3.0 (compatible; Indy Library)";
constexpr const char* kNoTls = "IOHandler value is not valid";
constexpr const char* kConnectTimedOut = "Connect timed out.";
constexpr const char* kReadTimedOut = "Read timed out.";
constexpr int kMaxRedirects = 15;
constexpr std::size_t kReadBuffer = std::size_t{128} * 1024;

// A failure on a kept-alive connection before any byte of the answer came: the server
// dropped the idle connection, and the request may be sent again on a fresh one.
struct TStaleConnection {
    int Wsa;
    bool Closed;
};

int MillisecondsUntil(TClock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
    if (left <= 0) {
        return 0;
    }
    return left > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(left);
}

class TSocket {
public:
    TSocket() = default;
    explicit TSocket(int fd) : fd_(fd) {}
    ~TSocket() { Close(); }
    TSocket(const TSocket&) = delete;
    TSocket& operator=(const TSocket&) = delete;
    TSocket(TSocket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    TSocket& operator=(TSocket&& other) noexcept {
        if (this != &other) {
            Close();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    int Fd() const { return fd_; }
    bool Open() const { return fd_ >= 0; }
    void Close() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

private:
    int fd_ = -1;
};

// Becomes readable, for good, once the client is cancelled; every wait of a request watches it.
class TCancelSignal {
public:
    TCancelSignal() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~TCancelSignal() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    TCancelSignal(const TCancelSignal&) = delete;
    TCancelSignal& operator=(const TCancelSignal&) = delete;

    void Raise() {
        raised_.store(true);
        const std::uint64_t one = 1;
        if (fd_ >= 0) {
            // A full counter still leaves the descriptor readable; nothing to handle.
            [[maybe_unused]] const ssize_t n = ::write(fd_, &one, sizeof one);
        }
    }
    bool Raised() const { return raised_.load(); }
    void ThrowIfRaised() const {
        if (Raised()) {
            throw THttpCancelled();
        }
    }
    int Fd() const { return fd_; }

private:
    int fd_;
    std::atomic<bool> raised_{false};
};

// Waits until `until` (none: no limit) for `events` on `fd` or for the cancel signal; false
// when the time ran out. Throws THttpCancelled once cancelled.
bool PollOrCancel(int fd, short events, std::optional<TClock::time_point> until,
                  const TCancelSignal& cancel) {
    while (true) {
        cancel.ThrowIfRaised();
        const int wait = until ? MillisecondsUntil(*until) : -1;
        if (wait == 0) {
            return false;
        }
        pollfd pfd[2] = {{fd, events, 0}, {cancel.Fd(), POLLIN, 0}};
        const int ready = ::poll(pfd, cancel.Fd() >= 0 ? 2 : 1, wait);
        cancel.ThrowIfRaised();
        if (ready > 0) {
            return true;
        }
        if (ready < 0 && errno != EINTR) {
            ThrowSocketError(WsaErrorFromErrno(errno));
        }
    }
}

// Waits for `events`; false when the wait ran out. The wait is the smaller of the silence
// limit and what remains of the whole request.
bool WaitFor(int fd, short events, int silenceMs, TClock::time_point deadline,
             const TCancelSignal& cancel) {
    const auto silenceEnd = TClock::now() + std::chrono::milliseconds(std::max(silenceMs, 0));
    return PollOrCancel(fd, events, std::min(silenceEnd, deadline), cancel);
}

// Whether an idle kept-alive connection still looks usable: not closed by the server and
// with no stray bytes waiting.
bool IdleConnectionUsable(int fd) {
    pollfd pfd{fd, POLLIN, 0};
    const int ready = ::poll(&pfd, 1, 0);
    if (ready == 0) {
        return true;
    }
    if (ready < 0) {
        return false;
    }
    char probe = 0;
    const ssize_t n = ::recv(fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
}

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

bool ContentTypeIsUtf8(std::string_view contentType) {
    std::size_t semi = contentType.find(';');
    while (semi != std::string_view::npos) {
        contentType.remove_prefix(semi + 1);
        semi = contentType.find(';');
        const std::string_view param = contentType.substr(0, semi);
        const std::size_t eq = param.find('=');
        if (eq == std::string_view::npos ||
            AsciiLower(TrimBlanks(param.substr(0, eq))) != "charset") {
            continue;
        }
        std::string_view value = TrimBlanks(param.substr(eq + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        const std::string lower = AsciiLower(value);
        return lower == "utf-8" || lower == "utf8";
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
    TSocket Connection;
    std::string ConnectionHost;
    int ConnectionPort = 0;
    std::string Buffer = std::string(kReadBuffer, '\0');

    std::string Request(const std::string& url, bool post, const std::string& formBody);
    THttpResponseParser Exchange(const THttpUrl& url, const std::string& request,
                                 TClock::time_point& deadline);
    TSocket Connect(const THttpUrl& url);
    void Send(int fd, const std::string& bytes, bool reused, TClock::time_point deadline);
    // Takes the answer's cookies as soon as its head is read, so that a body that fails later
    // does not lose them.
    THttpResponseParser Receive(const THttpUrl& url, int fd, bool reused,
                                TClock::time_point deadline);
    std::string BuildRequest(const THttpUrl& url, bool post, const std::string& formBody);
    void TakeCookies(const THttpUrl& url, const THttpResponseParser& answer);
    void CloseConnection() {
        Connection.Close();
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
        if (target.Scheme == "https") {
            throw qrv::Error(kNoTls);
        }
        if (target.Scheme != "http") {
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
    if (Connection.Open() && (ConnectionHost != url.Host || ConnectionPort != url.Port)) {
        CloseConnection();
    }
    if (Connection.Open() && !IdleConnectionUsable(Connection.Fd())) {
        CloseConnection();
    }
    while (true) {
        const bool reused = Connection.Open();
        if (!reused) {
            const auto started = TClock::now();
            Connection = Connect(url);
            ConnectionHost = url.Host;
            ConnectionPort = url.Port;
            // Connecting has its own limit; the request limit covers the rest.
            deadline += TClock::now() - started;
        }
        try {
            Send(Connection.Fd(), request, reused, deadline);
            THttpResponseParser answer = Receive(url, Connection.Fd(), reused, deadline);
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

TSocket TIdHTTP::TImpl::Connect(const THttpUrl& url) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    if (url.Ipv6Literal) {
        hints.ai_flags = AI_NUMERICHOST;
    }
    addrinfo* found = nullptr;
    const std::string port = std::to_string(url.Port);
    const int resolved = ::getaddrinfo(url.Host.c_str(), port.c_str(), &hints, &found);
    if (resolved != 0) {
        ThrowSocketError(WsaErrorFromResolver(resolved, errno));
    }
    const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> addresses(found, ::freeaddrinfo);
    CancelSignal.ThrowIfRaised();

    const int limitMs = ConnectLimitMs.load();
    const auto connectDeadline = TClock::now() + std::chrono::milliseconds(limitMs);
    int lastError = ECONNREFUSED;
    for (const addrinfo* address = found; address != nullptr; address = address->ai_next) {
        TSocket socket(::socket(address->ai_family,
                                address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                                address->ai_protocol));
        if (!socket.Open()) {
            lastError = errno;
            continue;
        }
        if (::connect(socket.Fd(), address->ai_addr, address->ai_addrlen) == 0) {
            return socket;
        }
        if (errno != EINPROGRESS && errno != EINTR) {
            lastError = errno;
            continue;
        }
        const std::optional<TClock::time_point> until =
            limitMs > 0 ? std::optional(connectDeadline) : std::nullopt;
        if (!PollOrCancel(socket.Fd(), POLLOUT, until, CancelSignal)) {
            throw qrv::Error(kConnectTimedOut);
        }
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(socket.Fd(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
            error = errno;
        }
        if (error == 0) {
            return socket;
        }
        lastError = error;
    }
    ThrowSocketError(WsaErrorFromErrno(lastError));
}

void TIdHTTP::TImpl::Send(int fd, const std::string& bytes, bool reused,
                          TClock::time_point deadline) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!WaitFor(fd, POLLOUT, Limits.ReadSilenceMs, deadline, CancelSignal)) {
                throw qrv::Error(kReadTimedOut);
            }
            continue;
        }
        const int error = n < 0 ? errno : EPIPE;
        if (reused && (error == EPIPE || error == ECONNRESET)) {
            throw TStaleConnection{WsaErrorFromErrno(error), false};
        }
        ThrowSocketError(WsaErrorFromErrno(error));
    }
}

THttpResponseParser TIdHTTP::TImpl::Receive(const THttpUrl& url, int fd, bool reused,
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
    while (true) {
        if (!WaitFor(fd, POLLIN, Limits.ReadSilenceMs, deadline, CancelSignal)) {
            throw qrv::Error(kReadTimedOut);
        }
        const ssize_t n = ::recv(fd, Buffer.data(), Buffer.size(), 0);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) {
                continue;
            }
            if (reused && !answer.AnyBytes() && errno == ECONNRESET) {
                throw TStaleConnection{WsaErrorFromErrno(errno), false};
            }
            ThrowSocketError(WsaErrorFromErrno(errno));
        }
        if (n == 0) {
            if (reused && !answer.AnyBytes()) {
                throw TStaleConnection{0, true};
            }
            answer.FeedEnd();
            takeCookies();
            return answer;
        }
        answer.Feed(std::string_view(Buffer.data(), static_cast<std::size_t>(n)));
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
