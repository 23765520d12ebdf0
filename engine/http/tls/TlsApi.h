#pragma once

// The interface between the HTTP client and its TLS module (qrv_tls.so), which the client
// loads at the first https fetch. Plain C types only: the module is a separate shared object
// and is found and checked at run time, not at link time.

#include <cstddef>

extern "C" {

inline constexpr unsigned kQrvTlsApiVersion = 1;

// What one step of a TLS session came to.
enum TQrvTlsStatus : int {
    kQrvTlsDone = 0,      // finished; for a read or write, `done` bytes moved
    kQrvTlsWantRead = 1,  // wait until the socket is readable, then repeat the call
    kQrvTlsWantWrite = 2, // wait until the socket is writable, then repeat the call
    kQrvTlsClosed = 3,    // the peer closed the connection
    kQrvTlsSysError = 4,  // a socket error; its errno is in `sysError`
    kQrvTlsFailed = 5,    // a TLS or certificate failure; the user's text is in `message`
};

struct TQrvTlsApi {
    unsigned Version; // kQrvTlsApiVersion

    // Sets up the library and the trust store, once for the process. 0 on success, else
    // the reason in `message`.
    int (*Init)(char* message, std::size_t size);

    // A client session on the connected, non-blocking socket `fd` for `host` (a name or an
    // IP address without brackets). Null on failure, with the reason in `message`.
    void* (*Open)(int fd, const char* host, char* message, std::size_t size);

    // Every step returns a TQrvTlsStatus.
    int (*Handshake)(void* session, int* sysError, char* message, std::size_t size);
    int (*Read)(void* session, void* data, std::size_t size, std::size_t* done, int* sysError,
                char* message, std::size_t messageSize);
    int (*Write)(void* session, const void* data, std::size_t size, std::size_t* done,
                 int* sysError, char* message, std::size_t messageSize);

    // Whether an idle session is still usable: no close from the peer and no stray data.
    // Reads what the peer may send between answers (session tickets) without blocking.
    int (*IdleUsable)(void* session);

    // Frees the session; the socket stays open (its owner closes it).
    void (*Free)(void* session);
};

// The module's one exported symbol.
const TQrvTlsApi* QrvTlsInterface(void);
using TQrvTlsInterfaceFn = const TQrvTlsApi* (*)(void);
}
