#include "TestHttpServer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qrv::test {

namespace {

constexpr std::size_t kMaxRequestBytes = 16 * 1024 * 1024;

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

[[noreturn]] void Fail(const char* what) {
    throw std::runtime_error(std::string("test server: ") + what + ": " + std::strerror(errno));
}

int ListenSocket(bool ipv6, int backlog, int& port) {
    const int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        Fail("socket");
    }
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (ipv6) {
        auto* addr = reinterpret_cast<sockaddr_in6*>(&storage);
        addr->sin6_family = AF_INET6;
        addr->sin6_addr = in6addr_loopback;
        length = sizeof *addr;
    } else {
        auto* addr = reinterpret_cast<sockaddr_in*>(&storage);
        addr->sin_family = AF_INET;
        addr->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof *addr;
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0 ||
        ::listen(fd, backlog) != 0) {
        ::close(fd);
        Fail("bind/listen");
    }
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &length) != 0) {
        ::close(fd);
        Fail("getsockname");
    }
    port = ipv6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port)
                : ntohs(reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
    return fd;
}

const char* ReasonFor(int code) {
    switch (code) {
    case 100:
        return "Continue";
    case 200:
        return "OK";
    case 201:
        return "Created";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 304:
        return "Not Modified";
    case 307:
        return "Temporary Redirect";
    case 308:
        return "Permanent Redirect";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 407:
        return "Proxy Authentication Required";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

// Splits a received head into the record's fields.
void ParseHead(TRecordedRequest& request, std::string_view head) {
    std::size_t lineEnd = head.find("\r\n");
    const std::string_view first = head.substr(0, lineEnd);
    const std::size_t sp1 = first.find(' ');
    const std::size_t sp2 = first.find(' ', sp1 == std::string_view::npos ? 0 : sp1 + 1);
    request.Method = std::string(first.substr(0, sp1));
    if (sp1 != std::string_view::npos) {
        request.Target = std::string(first.substr(sp1 + 1, sp2 - sp1 - 1));
        if (sp2 != std::string_view::npos) {
            request.Version = std::string(first.substr(sp2 + 1));
        }
    }
    request.Path = request.Target.substr(0, request.Target.find('?'));
    while (lineEnd != std::string_view::npos) {
        const std::size_t start = lineEnd + 2;
        lineEnd = head.find("\r\n", start);
        const std::string_view line = head.substr(start, lineEnd - start);
        if (line.empty()) {
            break;
        }
        const std::size_t colon = line.find(':');
        request.Headers.emplace_back(std::string(Trim(line.substr(0, colon))),
                                     colon == std::string_view::npos
                                         ? std::string()
                                         : std::string(Trim(line.substr(colon + 1))));
    }
}

} // namespace

std::string TRecordedRequest::Header(std::string_view name) const {
    for (const auto& [key, value] : Headers) {
        if (EqualNoCase(key, name)) {
            return value;
        }
    }
    return {};
}

bool TRecordedRequest::HasHeader(std::string_view name) const {
    return std::any_of(Headers.begin(), Headers.end(),
                       [&](const auto& header) { return EqualNoCase(header.first, name); });
}

bool TTestConnection::Send(std::string_view bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        if (fd_ < 0 || server_.Stopping()) {
            return false;
        }
        const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return false; // the client has gone; the test decides what that means
        }
    }
    return true;
}

bool TTestConnection::Dribble(std::string_view bytes, std::size_t step, int delayMs) {
    step = std::max<std::size_t>(step, 1);
    for (std::size_t pos = 0; pos < bytes.size(); pos += step) {
        if (pos > 0 && server_.SleepUnlessStopped(delayMs)) {
            return false;
        }
        if (!Send(bytes.substr(pos, step))) {
            return false;
        }
    }
    return true;
}

void TTestConnection::Pause(int ms) {
    server_.SleepUnlessStopped(ms);
}

void TTestConnection::WaitForClientClose(int maxMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(maxMs);
    char buffer[4096];
    while (fd_ >= 0 && !server_.Stopping()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              end - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            return;
        }
        pollfd pfd{fd_, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, static_cast<int>(std::min<long long>(left, 50)));
        if (ready > 0) {
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0) {
                return;
            }
        }
    }
}

void TTestConnection::Close() {
    if (fd_ >= 0) {
        ::shutdown(fd_, SHUT_WR);
        // Let the client read the end before the socket goes away, so that it sees an
        // orderly close rather than a reset for bytes it sent meanwhile.
        char buffer[4096];
        for (int i = 0; i < 100; ++i) {
            pollfd pfd{fd_, POLLIN, 0};
            if (::poll(&pfd, 1, 20) <= 0 || ::recv(fd_, buffer, sizeof buffer, 0) <= 0) {
                break;
            }
        }
        server_.FdClosed(fd_);
        fd_ = -1;
    }
}

void TTestConnection::Reset() {
    if (fd_ >= 0) {
        const linger abortive{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        server_.FdClosed(fd_);
        fd_ = -1;
    }
}

TTestHttpServer::TTestHttpServer(TFamily family) : ipv6_(family == TFamily::Ipv6) {
    fallback_ = Reply(404, "<html><body>Not Found</body></html>");
    listenFd_ = ListenSocket(ipv6_, 64, port_);
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC);
    if (wakeFd_ < 0) {
        ::close(listenFd_);
        Fail("eventfd");
    }
    acceptThread_ = std::thread([this] { AcceptLoop(); });
}

TTestHttpServer::~TTestHttpServer() {
    Stop();
}

void TTestHttpServer::Stop() {
    {
        const std::lock_guard lock(mutex_);
        if (stopping_ && !acceptThread_.joinable()) {
            return;
        }
        stopping_ = true;
        for (const int fd : openFds_) {
            ::shutdown(fd, SHUT_RDWR);
        }
    }
    stopped_.notify_all();
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
    if (acceptThread_.joinable()) {
        acceptThread_.join();
    }
    std::vector<std::thread> workers;
    {
        const std::lock_guard lock(mutex_);
        workers.swap(workers_);
    }
    for (auto& worker : workers) {
        worker.join();
    }
    if (listenFd_ >= 0) {
        ::close(listenFd_);
        listenFd_ = -1;
    }
    if (wakeFd_ >= 0) {
        ::close(wakeFd_);
        wakeFd_ = -1;
    }
}

std::string TTestHttpServer::HostPort() const {
    return (ipv6_ ? "[::1]:" : "127.0.0.1:") + std::to_string(port_);
}

std::string TTestHttpServer::Url(std::string_view pathAndQuery) const {
    return "http://" + HostPort() + std::string(pathAndQuery);
}

void TTestHttpServer::Route(const std::string& path, THandler handler) {
    const std::lock_guard lock(mutex_);
    routes_[path] = std::move(handler);
}

void TTestHttpServer::SetFallback(THandler handler) {
    const std::lock_guard lock(mutex_);
    fallback_ = std::move(handler);
}

std::vector<TRecordedRequest> TTestHttpServer::Requests() const {
    const std::lock_guard lock(mutex_);
    return requests_;
}

std::size_t TTestHttpServer::RequestCount() const {
    const std::lock_guard lock(mutex_);
    return requests_.size();
}

int TTestHttpServer::ConnectionCount() const {
    const std::lock_guard lock(mutex_);
    return connections_;
}

bool TTestHttpServer::Stopping() const {
    const std::lock_guard lock(mutex_);
    return stopping_;
}

bool TTestHttpServer::SleepUnlessStopped(int ms) {
    std::unique_lock lock(mutex_);
    return stopped_.wait_for(lock, std::chrono::milliseconds(std::max(ms, 0)),
                             [this] { return stopping_; });
}

void TTestHttpServer::FdClosed(int fd) {
    {
        const std::lock_guard lock(mutex_);
        std::erase(openFds_, fd);
    }
    ::close(fd);
}

void TTestHttpServer::AcceptLoop() {
    while (true) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            return;
        }
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        const std::lock_guard lock(mutex_);
        if (stopping_) {
            ::close(fd);
            return;
        }
        openFds_.push_back(fd);
        const int number = ++connections_;
        workers_.emplace_back([this, fd, number] { Serve(fd, number); });
    }
}

void TTestHttpServer::Serve(int fd, int number) {
    TTestConnection connection(*this, fd, number);
    std::string pending;
    char buffer[64 * 1024];
    while (!connection.IsClosed() && !Stopping()) {
        // Read one request: the head up to the blank line, then a Content-Length body.
        std::size_t headEnd = std::string::npos;
        std::size_t total = 0;
        bool gone = false;
        while (true) {
            headEnd = pending.find("\r\n\r\n");
            if (headEnd != std::string::npos) {
                TRecordedRequest probe;
                ParseHead(probe, std::string_view(pending).substr(0, headEnd + 2));
                const std::string length = probe.Header("Content-Length");
                std::size_t bodyLength = 0;
                try {
                    bodyLength = length.empty() ? 0 : std::stoul(length);
                } catch (const std::exception&) {
                    bodyLength = 0;
                }
                total = headEnd + 4 + bodyLength;
                if (pending.size() >= total || total > kMaxRequestBytes) {
                    break;
                }
            }
            if (pending.size() > kMaxRequestBytes) {
                gone = true;
                break;
            }
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                gone = true;
                break;
            }
            pending.append(buffer, static_cast<std::size_t>(n));
        }
        if (gone || total > kMaxRequestBytes) {
            break;
        }
        TRecordedRequest request;
        request.Raw = pending.substr(0, total);
        ParseHead(request, std::string_view(request.Raw).substr(0, headEnd + 2));
        request.Body = request.Raw.substr(headEnd + 4);
        request.Connection = number;
        pending.erase(0, total);
        THandler handler;
        {
            const std::lock_guard lock(mutex_);
            requests_.push_back(request);
            const auto route = routes_.find(request.Path);
            handler = route != routes_.end() ? route->second : fallback_;
        }
        handler(request, connection);
    }
    if (!connection.IsClosed()) {
        connection.fd_ = -1;
        FdClosed(fd);
    }
}

std::string Response(int code, std::string_view body, const THeaderList& headers,
                     std::string_view reason) {
    std::string out = "HTTP/1.1 " + std::to_string(code) + " " +
                      (reason.empty() ? std::string(ReasonFor(code)) : std::string(reason)) +
                      "\r\n";
    for (const auto& [name, value] : headers) {
        out += name + ": " + value + "\r\n";
    }
    out += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    out += body;
    return out;
}

THandler Reply(int code, std::string body, THeaderList headers) {
    const std::string bytes = Response(code, body, headers);
    return
        [bytes](const TRecordedRequest&, TTestConnection& connection) { connection.Send(bytes); };
}

THandler ReplyRaw(std::string bytes, bool close) {
    return [bytes = std::move(bytes), close](const TRecordedRequest&, TTestConnection& connection) {
        connection.Send(bytes);
        if (close) {
            connection.Close();
        }
    };
}

THandler Redirect(std::string location, int code) {
    return Reply(code, std::string(), {{"Location", std::move(location)}});
}

TUnansweredListener::TUnansweredListener() {
    listenFd_ = ListenSocket(false, 0, port_);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port_));
    // Fill the accept queue: once one attempt stays pending, the queue is full.
    for (int i = 0; i < 16; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            break;
        }
        fillers_.push_back(fd);
        ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        pollfd pfd{fd, POLLOUT, 0};
        if (::poll(&pfd, 1, 200) == 0) {
            break;
        }
    }
}

TUnansweredListener::~TUnansweredListener() {
    for (const int fd : fillers_) {
        ::close(fd);
    }
    ::close(listenFd_);
}

std::string TUnansweredListener::Url(std::string_view pathAndQuery) const {
    return "http://127.0.0.1:" + std::to_string(port_) + std::string(pathAndQuery);
}

int UnusedLoopbackPort() {
    int port = 0;
    const int fd = ListenSocket(false, 1, port);
    ::close(fd);
    return port;
}

} // namespace qrv::test
