#pragma once

// TLS over a connected socket, through the TLS module (qrv_tls.so). The module, and with it
// OpenSSL and the trust store, is loaded at the first TLS connection and kept for the process;
// a client that never opens one never loads it.

#include "engine/http/Transport.h"

#include <string>

extern "C" struct TQrvTlsApi;

namespace qrv::engine {

class TTlsTransport : public TTransport {
public:
    // Runs the handshake for `host` on `socket`, waiting as `wait` allows. Throws qrv::Error
    // with the user's text for a certificate or handshake failure, and the socket texts for
    // a closed or reset connection.
    TTlsTransport(TSocket socket, const std::string& host, const TIoWait& wait);
    ~TTlsTransport() override;
    TTlsTransport(const TTlsTransport&) = delete;
    TTlsTransport& operator=(const TTlsTransport&) = delete;

    int Send(std::string_view bytes, const TIoWait& wait) override;
    TIoResult Receive(char* data, std::size_t size, const TIoWait& wait) override;
    bool IdleUsable() override;

private:
    const TQrvTlsApi* api_;
    TSocket socket_;
    void* session_ = nullptr;
};

// Loads the TLS module once for the process; throws qrv::Error "SSL library not available: ..."
// when it cannot be loaded. Later calls return the same interface (or the same failure).
const TQrvTlsApi& LoadTlsModule();

// Whether the TLS module has been loaded into this process.
bool TlsModuleLoaded();

// Where the module is looked for: beside an installed program (<exe dir>/../lib/quorvane/),
// else in the build tree.
std::string TlsModulePath();

} // namespace qrv::engine
