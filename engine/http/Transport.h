#pragma once

// The byte stream under the HTTP code: a plain TCP socket or TLS over one. The request and
// answer code sends, receives and checks idle connections through TTransport only, and every
// wait goes through TIoWait, which watches the cancel signal and the time limits.

#include "engine/http/HttpUrl.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <netdb.h>
#include <optional>
#include <string_view>

namespace qrv::engine {

using TClock = std::chrono::steady_clock;

// Becomes readable, for good, once the client is cancelled; every wait of a request watches it.
class TCancelSignal {
public:
    TCancelSignal();
    ~TCancelSignal();
    TCancelSignal(const TCancelSignal&) = delete;
    TCancelSignal& operator=(const TCancelSignal&) = delete;

    void Raise();
    bool Raised() const { return raised_.load(); }
    // Throws THttpCancelled once raised.
    void ThrowIfRaised() const;
    int Fd() const { return fd_; }

private:
    int fd_;
    std::atomic<bool> raised_{false};
};

// The limits of one wait: the silence limit from the start of the wait, the end of the whole
// request and, while connecting, the end of the connect limit. Running out of the connect
// limit fails with "Connect timed out.", of either other with "Read timed out.".
class TIoWait {
public:
    TIoWait(const TCancelSignal& cancel, int silenceMs, TClock::time_point requestEnd,
            std::optional<TClock::time_point> connectEnd = std::nullopt)
        : cancel_(cancel), silenceMs_(silenceMs), requestEnd_(requestEnd), connectEnd_(connectEnd) {
    }

    // Waits for `events` on `fd`. Throws qrv::Error with the time-out text when a limit runs
    // out, THttpCancelled once cancelled.
    void Wait(int fd, short events) const;
    const TCancelSignal& Cancel() const { return cancel_; }

private:
    const TCancelSignal& cancel_;
    int silenceMs_;
    TClock::time_point requestEnd_;
    std::optional<TClock::time_point> connectEnd_;
};

// Waits until `until` (none: no limit) for `events` on `fd` or for the cancel signal; false
// when the time ran out. Throws THttpCancelled once cancelled.
bool PollOrCancel(int fd, short events, std::optional<TClock::time_point> until,
                  const TCancelSignal& cancel);

// Outcome of one transfer: `Bytes` moved, or the errno of a failed connection in `Error`;
// neither means the peer closed the connection.
struct TIoResult {
    std::size_t Bytes = 0;
    int Error = 0;
};

class TTransport {
public:
    virtual ~TTransport() = default;
    // Sends all of `bytes`; 0, or the errno of a failure of the connection. Failures of the
    // transport itself (TLS) are thrown as qrv::Error.
    virtual int Send(std::string_view bytes, const TIoWait& wait) = 0;
    // Receives at least one byte, at most `size`.
    virtual TIoResult Receive(char* data, std::size_t size, const TIoWait& wait) = 0;
    // Whether an idle kept-alive connection still looks usable: not closed by the server and
    // with no stray bytes waiting.
    virtual bool IdleUsable() = 0;
};

// An owned socket descriptor.
class TSocket {
public:
    TSocket() = default;
    explicit TSocket(int fd) : fd_(fd) {}
    ~TSocket() { Close(); }
    TSocket(const TSocket&) = delete;
    TSocket& operator=(const TSocket&) = delete;
    TSocket(TSocket&& other) noexcept;
    TSocket& operator=(TSocket&& other) noexcept;
    int Fd() const { return fd_; }
    bool Open() const { return fd_ >= 0; }
    void Close();

private:
    int fd_ = -1;
};

class TPlainTransport : public TTransport {
public:
    explicit TPlainTransport(TSocket socket) : socket_(std::move(socket)) {}
    int Send(std::string_view bytes, const TIoWait& wait) override;
    TIoResult Receive(char* data, std::size_t size, const TIoWait& wait) override;
    bool IdleUsable() override;
    int Fd() const { return socket_.Fd(); }
    TSocket& Socket() { return socket_; }

private:
    TSocket socket_;
};

// Resolves the address's host and connects a non-blocking TCP socket to it. Resolution runs
// on a helper thread and waits with the cancel signal until the earlier of `connectEnd` and
// `requestEnd` ("Connect timed out."); the TCP connect waits until `connectEnd` (none: the
// platform's own attempt). Failures throw the socket error texts.
TSocket ConnectSocket(const THttpUrl& url, const TCancelSignal& cancel,
                      std::optional<TClock::time_point> connectEnd, TClock::time_point requestEnd);

// The resolver on its own: the addresses of `host`:`port`, or a thrown failure as above. A
// lookup given up (cancel, time limit) finishes on its helper thread and frees its result
// there; nothing of the caller's is touched after it returns.
struct TAddressList {
    struct TDeleter {
        void operator()(addrinfo* list) const;
    };
    std::unique_ptr<addrinfo, TDeleter> List;
};
TAddressList ResolveHost(const THttpUrl& url, const TCancelSignal& cancel,
                         std::optional<TClock::time_point> until);

} // namespace qrv::engine
