#pragma once

// A small scriptable HTTP server for tests, on loopback only (127.0.0.1 or ::1), on a
// free port, serving on threads of its own. Each connection is read request by request;
// for every request the handler registered for its path is called with the request and
// the connection, and scripts the answer: exact bytes, pauses, silence, a slow trickle,
// an orderly close or a reset. Every request is recorded with its raw bytes.
//
//     qrv::test::TTestHttpServer server;                       // 127.0.0.1, free port
//     server.Route("/", qrv::test::Reply(200, "hello"));        // Content-Length answer
//     server.Route("/slow", [](const auto& request, auto& connection) {
//         connection.Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n");
//         connection.Pause(300);
//         connection.Send("ok");
//     });
//     client.Get(server.Url("/slow"));
//     server.Requests()[0].Raw;                                // "GET /slow HTTP/1.1\r\n..."
//
// After a handler returns, the connection stays open for the next request unless the
// handler closed or reset it. Paths without a route get the fallback handler (by default
// a 404 answer). The destructor stops the server and waits for all its threads; a handler
// that pauses or waits for the client is woken by the stop.

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace qrv::test {

using THeaderList = std::vector<std::pair<std::string, std::string>>;

// One request as the server received it.
struct TRecordedRequest {
    std::string Raw;     // the exact bytes: request line, headers, blank line and body
    std::string Method;  // "GET"
    std::string Target;  // "/path?query"
    std::string Path;    // "/path"
    std::string Version; // "HTTP/1.1"
    THeaderList Headers; // in the order received
    std::string Body;    // by Content-Length
    int Connection = 0;  // 1 for the first connection the server accepted, and so on

    // First value of a header (names compare without letter case); empty when absent.
    std::string Header(std::string_view name) const;
    bool HasHeader(std::string_view name) const;
};

class TTestHttpServer;

// The server's side of one connection, as a handler sees it.
class TTestConnection {
public:
    // Sends bytes exactly as given; false once the client has gone or the server stops.
    bool Send(std::string_view bytes);
    // Sends `step` bytes at a time with a pause of `delayMs` between them.
    bool Dribble(std::string_view bytes, std::size_t step, int delayMs);
    // Stays silent for `ms` (cut short when the server stops).
    void Pause(int ms);
    // Stays silent until the client closes the connection (or `maxMs` pass, or the server
    // stops), reading and dropping whatever the client sends.
    void WaitForClientClose(int maxMs = 60000);
    // Orderly close: the client reads the end of the connection.
    void Close();
    // Abortive close: the client gets a connection reset.
    void Reset();
    bool IsClosed() const { return fd_ < 0; }
    int Number() const { return number_; }

private:
    friend class TTestHttpServer;
    TTestConnection(TTestHttpServer& server, int fd, int number)
        : server_(server), fd_(fd), number_(number) {}

    TTestHttpServer& server_;
    int fd_;
    int number_;
};

using THandler = std::function<void(const TRecordedRequest&, TTestConnection&)>;

class TTestHttpServer {
public:
    enum class TFamily { Ipv4, Ipv6 };

    explicit TTestHttpServer(TFamily family = TFamily::Ipv4);
    ~TTestHttpServer();
    TTestHttpServer(const TTestHttpServer&) = delete;
    TTestHttpServer& operator=(const TTestHttpServer&) = delete;

    int Port() const { return port_; }
    // "127.0.0.1:<port>" or "[::1]:<port>".
    std::string HostPort() const;
    // "http://<host:port>" followed by the path (and query).
    std::string Url(std::string_view pathAndQuery = "/") const;

    // The handler for requests to one path (the target without its query), replacing any
    // earlier one. May be called while the server runs.
    void Route(const std::string& path, THandler handler);
    // The handler for every path without a route.
    void SetFallback(THandler handler);

    // Everything received so far, in arrival order.
    std::vector<TRecordedRequest> Requests() const;
    std::size_t RequestCount() const;
    // Connections accepted so far.
    int ConnectionCount() const;

    // Stops accepting, wakes every handler and waits for all threads. Idempotent.
    void Stop();

private:
    friend class TTestConnection;
    void AcceptLoop();
    void Serve(int fd, int number);
    bool Stopping() const;
    // Waits up to `ms` for the stop; true when the server is stopping.
    bool SleepUnlessStopped(int ms);
    void FdClosed(int fd);

    int listenFd_ = -1;
    int wakeFd_ = -1;
    int port_ = 0;
    bool ipv6_ = false;
    mutable std::mutex mutex_;
    std::condition_variable stopped_;
    bool stopping_ = false;
    std::map<std::string, THandler> routes_;
    THandler fallback_;
    std::vector<TRecordedRequest> requests_;
    std::vector<int> openFds_;
    std::vector<std::thread> workers_;
    int connections_ = 0;
    std::thread acceptThread_;
};

// A complete answer: status line "HTTP/1.1 <code> <reason>", the extra headers in order,
// then Content-Length and the body. An empty reason takes the usual one for the code.
std::string Response(int code, std::string_view body, const THeaderList& headers = {},
                     std::string_view reason = {});
// A handler that sends Response(...) and keeps the connection open.
THandler Reply(int code, std::string body, THeaderList headers = {});
// A handler that sends exactly `bytes`, then closes the connection when `close` is set.
THandler ReplyRaw(std::string bytes, bool close = true);
// A handler that redirects with `code` to `location`.
THandler Redirect(std::string location, int code = 302);

// A loopback listener that never accepts: its queue is filled, so that further connection
// attempts hang until the client's own connect limit ends them.
class TUnansweredListener {
public:
    TUnansweredListener();
    ~TUnansweredListener();
    TUnansweredListener(const TUnansweredListener&) = delete;
    TUnansweredListener& operator=(const TUnansweredListener&) = delete;
    int Port() const { return port_; }
    std::string Url(std::string_view pathAndQuery = "/") const;

private:
    int listenFd_ = -1;
    std::vector<int> fillers_;
    int port_ = 0;
};

// A loopback port on which nothing listens (connection refused).
int UnusedLoopbackPort();

} // namespace qrv::test
