#pragma once

// TLS for tests, on loopback: a certificate authority made at test time, certificates it
// issues (for names and IP addresses, with any validity), self-signed ones, and a TLS server
// that terminates TLS and passes the plain bytes to a TTestHttpServer, so that every answer
// is scripted as over plain http (the HTTP server sees one connection per TLS connection).
//
//     const auto& ca = qrv::test::SharedTestCa();   // also sets SSL_CERT_FILE for the process
//     qrv::test::TTestHttpServer http;
//     http.Route("/", qrv::test::Reply(200, "hello"));
//     qrv::test::TTestTlsServer tls({.Certificate = ca.Issue({"localhost", "127.0.0.1"}),
//                                    .BackendPort = http.Port()});
//     client.Get(tls.Url("/"));                      // https://127.0.0.1:<port>/
//
// Modes without TLS script the failures of a handshake: a server that accepts and stays
// silent, and one that reads the client's first bytes and closes.

#include <atomic>
#include <ctime>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace qrv::test {

struct TTestCertificate {
    std::string CertFile; // PEM: the certificate
    std::string KeyFile;  // PEM: its private key
    std::time_t NotBefore = 0;
    std::time_t NotAfter = 0;
};

class TTestCa {
public:
    // A fresh CA in a new temporary folder (removed by the destructor).
    TTestCa();
    ~TTestCa();
    TTestCa(const TTestCa&) = delete;
    TTestCa& operator=(const TTestCa&) = delete;

    // The CA certificate (PEM), for SSL_CERT_FILE or curl's --cacert.
    const std::string& CaFile() const { return caFile_; }
    const std::string& Dir() const { return dir_; }

    // A certificate for `names` (host names, or IP addresses written as such), issued by this
    // CA or, with `selfSigned`, by itself. Default validity: from an hour ago for 30 days.
    TTestCertificate Issue(const std::vector<std::string>& names, std::time_t notBefore = 0,
                           std::time_t notAfter = 0, bool selfSigned = false) const;

private:
    std::string dir_;
    std::string caFile_;
    void* caKey_ = nullptr;  // EVP_PKEY*
    void* caCert_ = nullptr; // X509*
    mutable std::atomic<int> serial_{1};
};

// One CA for the whole test process, its certificate named by SSL_CERT_FILE: the client
// reads the trust store once per process, at its first https fetch.
const TTestCa& SharedTestCa();

// "YYYY-MM-DD HH:MM:SS UTC", as the client writes certificate dates.
std::string UtcText(std::time_t time);

struct TTlsServerOptions {
    enum class TMode {
        Tls,             // handshake, then pass the bytes to BackendPort
        Stall,           // accept and stay silent until the client goes or the server stops
        CloseInHandshake // read the client's first bytes, then close
    };
    TTestCertificate Certificate;
    int BackendPort = 0;
    TMode Mode = TMode::Tls;
    int MinVersion = 0;  // e.g. TLS1_VERSION; 0: the library's default
    int MaxVersion = 0;  // 0: the library's default
    std::string Ciphers; // a cipher list for TLS 1.2 and below, e.g. "DEFAULT@SECLEVEL=0"
};

class TTestTlsServer {
public:
    explicit TTestTlsServer(TTlsServerOptions options);
    ~TTestTlsServer();
    TTestTlsServer(const TTestTlsServer&) = delete;
    TTestTlsServer& operator=(const TTestTlsServer&) = delete;

    int Port() const { return port_; }
    // "https://<host>:<port>" followed by the path.
    std::string Url(std::string_view path = "/", std::string_view host = "127.0.0.1") const;
    // Connections accepted, and handshakes completed.
    int ConnectionCount() const { return connections_.load(); }
    int HandshakeCount() const { return handshakes_.load(); }
    void Stop();

private:
    void AcceptLoop();
    void Serve(int fd);
    void Pipe(void* ssl, int fd);
    bool Stopping() const { return stopping_.load(); }

    TTlsServerOptions options_;
    void* context_ = nullptr; // SSL_CTX*
    int listenFd_ = -1;
    int wakeFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    std::atomic<int> handshakes_{0};
    std::mutex mutex_;
    std::vector<int> openFds_;
    std::vector<std::thread> workers_;
    std::thread acceptThread_;
};

} // namespace qrv::test
