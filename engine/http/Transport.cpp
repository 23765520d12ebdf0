#include "engine/http/Transport.h"

#include "engine/http/HttpClient.h"
#include "engine/http/SocketError.h"
#include "platform/Error.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>

namespace qrv::engine {

namespace {

constexpr const char* kConnectTimedOut = "Connect timed out.";
constexpr const char* kReadTimedOut = "Read timed out.";

int MillisecondsUntil(TClock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
    if (left <= 0) {
        return 0;
    }
    return left > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(left);
}

std::optional<TClock::time_point> Earlier(std::optional<TClock::time_point> a,
                                          TClock::time_point b) {
    return a ? std::min(*a, b) : b;
}

// One lookup, shared by the caller and the helper thread that runs getaddrinfo: whichever
// lets go last frees it, so a caller that gave up leaves nothing behind it can reach.
struct TLookup {
    std::mutex Mutex;
    bool Done = false;
    int Result = 0;
    int SavedErrno = 0;
    addrinfo* Found = nullptr;
    int DoneFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);

    TLookup() = default;
    TLookup(const TLookup&) = delete;
    TLookup& operator=(const TLookup&) = delete;
    ~TLookup() {
        if (Found != nullptr) {
            ::freeaddrinfo(Found);
        }
        if (DoneFd >= 0) {
            ::close(DoneFd);
        }
    }
};

addrinfo Hints(const THttpUrl& url, bool numericOnly) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    if (url.Ipv6Literal || numericOnly) {
        hints.ai_flags = AI_NUMERICHOST;
    }
    return hints;
}

} // namespace

TCancelSignal::TCancelSignal() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

TCancelSignal::~TCancelSignal() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void TCancelSignal::Raise() {
    raised_.store(true);
    const std::uint64_t one = 1;
    if (fd_ >= 0) {
        // A full counter still leaves the descriptor readable; nothing to handle.
        [[maybe_unused]] const ssize_t n = ::write(fd_, &one, sizeof one);
    }
}

void TCancelSignal::ThrowIfRaised() const {
    if (Raised()) {
        throw THttpCancelled();
    }
}

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

void TIoWait::Wait(int fd, short events) const {
    const auto silenceEnd = TClock::now() + std::chrono::milliseconds(std::max(silenceMs_, 0));
    const TClock::time_point readEnd = std::min(silenceEnd, requestEnd_);
    // The limit that ends first names the failure (the wait may end a fraction of a
    // millisecond early, so the clock cannot tell).
    const bool connectFirst = connectEnd_ && *connectEnd_ <= readEnd;
    const TClock::time_point until = connectFirst ? *connectEnd_ : readEnd;
    if (!PollOrCancel(fd, events, until, cancel_)) {
        throw qrv::Error(connectFirst ? kConnectTimedOut : kReadTimedOut);
    }
}

TSocket::TSocket(TSocket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

TSocket& TSocket::operator=(TSocket&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

void TSocket::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

int TPlainTransport::Send(std::string_view bytes, const TIoWait& wait) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n =
            ::send(socket_.Fd(), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            wait.Wait(socket_.Fd(), POLLOUT);
            continue;
        }
        return n < 0 ? errno : EPIPE;
    }
    return 0;
}

TIoResult TPlainTransport::Receive(char* data, std::size_t size, const TIoWait& wait) {
    while (true) {
        wait.Wait(socket_.Fd(), POLLIN);
        const ssize_t n = ::recv(socket_.Fd(), data, size, 0);
        if (n >= 0) {
            return {static_cast<std::size_t>(n), 0};
        }
        if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            return {0, errno};
        }
    }
}

bool TPlainTransport::IdleUsable() {
    pollfd pfd{socket_.Fd(), POLLIN, 0};
    const int ready = ::poll(&pfd, 1, 0);
    if (ready == 0) {
        return true;
    }
    if (ready < 0) {
        return false;
    }
    char probe = 0;
    const ssize_t n = ::recv(socket_.Fd(), &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
}

void TAddressList::TDeleter::operator()(addrinfo* list) const {
    ::freeaddrinfo(list);
}

TAddressList ResolveHost(const THttpUrl& url, const TCancelSignal& cancel,
                         std::optional<TClock::time_point> until) {
    cancel.ThrowIfRaised();
    const std::string port = std::to_string(url.Port);
    addrinfo* found = nullptr;
    // An address written as numbers needs no lookup and cannot stall: no thread for it.
    const addrinfo numeric = Hints(url, true);
    int result = ::getaddrinfo(url.Host.c_str(), port.c_str(), &numeric, &found);
    if (result == 0) {
        return {std::unique_ptr<addrinfo, TAddressList::TDeleter>(found)};
    }
    if (url.Ipv6Literal) {
        ThrowSocketError(WsaErrorFromResolver(result, errno));
    }

    auto lookup = std::make_shared<TLookup>();
    if (lookup->DoneFd < 0) {
        ThrowSocketError(WsaErrorFromErrno(errno));
    }
    try {
        std::thread([lookup, host = url.Host, port, hints = Hints(url, false)] {
            addrinfo* list = nullptr;
            const int rc = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &list);
            const int savedErrno = errno;
            const std::lock_guard lock(lookup->Mutex);
            lookup->Result = rc;
            lookup->SavedErrno = savedErrno;
            lookup->Found = list;
            lookup->Done = true;
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t n = ::write(lookup->DoneFd, &one, sizeof one);
        }).detach();
    } catch (const std::system_error&) {
        ThrowSocketError(WsaErrorFromErrno(EAGAIN)); // no thread to be had: out of resources
    }
    if (!PollOrCancel(lookup->DoneFd, POLLIN, until, cancel)) {
        throw qrv::Error(kConnectTimedOut);
    }
    const std::lock_guard lock(lookup->Mutex);
    if (lookup->Result != 0) {
        ThrowSocketError(WsaErrorFromResolver(lookup->Result, lookup->SavedErrno));
    }
    return {
        std::unique_ptr<addrinfo, TAddressList::TDeleter>(std::exchange(lookup->Found, nullptr))};
}

TSocket ConnectSocket(const THttpUrl& url, const TCancelSignal& cancel,
                      std::optional<TClock::time_point> connectEnd, TClock::time_point requestEnd) {
    const TAddressList addresses = ResolveHost(url, cancel, Earlier(connectEnd, requestEnd));
    cancel.ThrowIfRaised();
    // Every write of ours is a whole message (a request, a TLS flight): none should wait for
    // the peer's delayed acknowledgement of the one before, as a TLS Finished followed by the
    // request would.
    const auto noDelay = [](TSocket socket) {
        const int one = 1;
        ::setsockopt(socket.Fd(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return socket;
    };

    int lastError = ECONNREFUSED;
    for (const addrinfo* address = addresses.List.get(); address != nullptr;
         address = address->ai_next) {
        TSocket socket(::socket(address->ai_family,
                                address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                                address->ai_protocol));
        if (!socket.Open()) {
            lastError = errno;
            continue;
        }
        if (::connect(socket.Fd(), address->ai_addr, address->ai_addrlen) == 0) {
            return noDelay(std::move(socket));
        }
        if (errno != EINPROGRESS && errno != EINTR) {
            lastError = errno;
            continue;
        }
        if (!PollOrCancel(socket.Fd(), POLLOUT, connectEnd, cancel)) {
            throw qrv::Error(kConnectTimedOut);
        }
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(socket.Fd(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
            error = errno;
        }
        if (error == 0) {
            return noDelay(std::move(socket));
        }
        lastError = error;
    }
    ThrowSocketError(WsaErrorFromErrno(lastError));
}

} // namespace qrv::engine
