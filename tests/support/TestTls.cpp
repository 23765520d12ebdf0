#include "TestTls.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qrv::test {

namespace {

[[noreturn]] void Fail(const std::string& what) {
    char reason[256] = "";
    ERR_error_string_n(ERR_get_error(), reason, sizeof reason);
    throw std::runtime_error("test TLS: " + what + ": " + reason);
}

void Check(bool ok, const char* what) {
    if (!ok) {
        Fail(what);
    }
}

EVP_PKEY* NewKey() {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    Check(key != nullptr, "key");
    return key;
}

void AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    Check(ext != nullptr && X509_add_ext(cert, ext, -1) == 1, "extension");
    X509_EXTENSION_free(ext);
}

void SetName(X509_NAME* name, const std::string& commonName) {
    Check(X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                     reinterpret_cast<const unsigned char*>(commonName.c_str()), -1,
                                     -1, 0) == 1,
          "name");
}

void WritePem(const std::string& path, X509* cert, EVP_PKEY* key) {
    FILE* file = std::fopen(path.c_str(), "w");
    Check(file != nullptr, "open");
    const bool ok = cert != nullptr ? PEM_write_X509(file, cert) == 1
                                    : PEM_write_PrivateKey(file, key, nullptr, nullptr, 0, nullptr,
                                                           nullptr) == 1;
    std::fclose(file);
    Check(ok, "write");
}

bool IsIp(const std::string& name) {
    unsigned char address[16];
    return inet_pton(AF_INET, name.c_str(), address) == 1 ||
           inet_pton(AF_INET6, name.c_str(), address) == 1;
}

} // namespace

std::string UtcText(std::time_t time) {
    std::tm parts{};
    gmtime_r(&time, &parts);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S UTC", &parts);
    return buffer;
}

TTestCa::TTestCa() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qrv-test-ca-XXXXXX").string();
    Check(::mkdtemp(pattern.data()) != nullptr, "temporary folder");
    dir_ = pattern;
    EVP_PKEY* key = NewKey();
    X509* cert = X509_new();
    Check(cert != nullptr, "certificate");
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1000);
    const std::time_t now = std::time(nullptr);
    ASN1_TIME_set(X509_getm_notBefore(cert), now - 86400);
    ASN1_TIME_set(X509_getm_notAfter(cert), now + 365 * 86400);
    SetName(X509_get_subject_name(cert), "Quorvane Test CA");
    X509_set_issuer_name(cert, X509_get_subject_name(cert));
    X509_set_pubkey(cert, key);
    AddExtension(cert, cert, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(cert, cert, NID_key_usage, "critical,keyCertSign,cRLSign");
    AddExtension(cert, cert, NID_subject_key_identifier, "hash");
    Check(X509_sign(cert, key, EVP_sha256()) > 0, "sign");
    caFile_ = dir_ + "/ca.pem";
    WritePem(caFile_, cert, nullptr);
    caKey_ = key;
    caCert_ = cert;
}

TTestCa::~TTestCa() {
    EVP_PKEY_free(static_cast<EVP_PKEY*>(caKey_));
    X509_free(static_cast<X509*>(caCert_));
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

TTestCertificate TTestCa::Issue(const std::vector<std::string>& names, std::time_t notBefore,
                                std::time_t notAfter, bool selfSigned) const {
    const std::time_t now = std::time(nullptr);
    TTestCertificate out;
    out.NotBefore = notBefore != 0 ? notBefore : now - 3600;
    out.NotAfter = notAfter != 0 ? notAfter : now + 30 * 86400;
    const int serial = serial_.fetch_add(1) + 1000;

    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(NewKey(), EVP_PKEY_free);
    const std::unique_ptr<X509, decltype(&X509_free)> cert(X509_new(), X509_free);
    auto* issuerCert = static_cast<X509*>(caCert_);
    auto* issuerKey = static_cast<EVP_PKEY*>(caKey_);
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
    ASN1_TIME_set(X509_getm_notBefore(cert.get()), out.NotBefore);
    ASN1_TIME_set(X509_getm_notAfter(cert.get()), out.NotAfter);
    SetName(X509_get_subject_name(cert.get()), names.empty() ? "nobody" : names.front());
    X509_set_pubkey(cert.get(), key.get());
    if (selfSigned) {
        issuerCert = cert.get();
        issuerKey = key.get();
    }
    X509_set_issuer_name(cert.get(), X509_get_subject_name(issuerCert));
    std::string alt;
    for (const auto& name : names) {
        alt += (alt.empty() ? "" : ",") + std::string(IsIp(name) ? "IP:" : "DNS:") + name;
    }
    if (!alt.empty()) {
        AddExtension(cert.get(), issuerCert, NID_subject_alt_name, alt.c_str());
    }
    AddExtension(cert.get(), issuerCert, NID_basic_constraints, "critical,CA:FALSE");
    AddExtension(cert.get(), issuerCert, NID_ext_key_usage, "serverAuth");
    Check(X509_sign(cert.get(), issuerKey, EVP_sha256()) > 0, "sign");

    const std::string stem = dir_ + "/server" + std::to_string(serial);
    out.CertFile = stem + ".pem";
    out.KeyFile = stem + ".key";
    WritePem(out.CertFile, cert.get(), nullptr);
    WritePem(out.KeyFile, nullptr, key.get());
    return out;
}

const TTestCa& SharedTestCa() {
    static const TTestCa ca;
    static const bool set = ::setenv("SSL_CERT_FILE", ca.CaFile().c_str(), 1) == 0;
    (void)set;
    return ca;
}

TTestTlsServer::TTestTlsServer(TTlsServerOptions options) : options_(std::move(options)) {
    if (options_.Mode == TTlsServerOptions::TMode::Tls) {
        SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
        Check(ctx != nullptr, "context");
        context_ = ctx;
        if (!options_.Ciphers.empty()) {
            Check(SSL_CTX_set_cipher_list(ctx, options_.Ciphers.c_str()) == 1, "ciphers");
        }
        if (options_.MinVersion != 0) {
            SSL_CTX_set_min_proto_version(ctx, options_.MinVersion);
        }
        if (options_.MaxVersion != 0) {
            SSL_CTX_set_max_proto_version(ctx, options_.MaxVersion);
        }
        Check(SSL_CTX_use_certificate_chain_file(ctx, options_.Certificate.CertFile.c_str()) == 1,
              "certificate file");
        Check(SSL_CTX_use_PrivateKey_file(ctx, options_.Certificate.KeyFile.c_str(),
                                          SSL_FILETYPE_PEM) == 1,
              "key file");
    }
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listenFd_, 64) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("test TLS: cannot listen on loopback");
    }
    port_ = ntohs(address.sin_port);
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC);
    acceptThread_ = std::thread([this] { AcceptLoop(); });
}

TTestTlsServer::~TTestTlsServer() {
    Stop();
    SSL_CTX_free(static_cast<SSL_CTX*>(context_));
}

std::string TTestTlsServer::Url(std::string_view path, std::string_view host) const {
    return "https://" + std::string(host) + ":" + std::to_string(port_) + std::string(path);
}

void TTestTlsServer::Stop() {
    if (stopping_.exchange(true)) {
        return;
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
    {
        const std::lock_guard lock(mutex_);
        for (const int fd : openFds_) {
            ::shutdown(fd, SHUT_RDWR); // wakes a handshake or read in progress
        }
    }
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
    ::close(listenFd_);
    ::close(wakeFd_);
}

void TTestTlsServer::AcceptLoop() {
    while (!Stopping()) {
        pollfd pfd[2] = {{listenFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (::poll(pfd, 2, -1) <= 0 || (pfd[1].revents & POLLIN) != 0) {
            continue;
        }
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        connections_.fetch_add(1);
        // Handshake flights and relayed answers go out at once, as from a real server.
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        const std::lock_guard lock(mutex_);
        if (Stopping()) {
            ::close(fd);
            break;
        }
        openFds_.push_back(fd);
        workers_.emplace_back([this, fd] { Serve(fd); });
    }
}

void TTestTlsServer::Serve(int fd) {
    // A client that went away must not end the test process: OpenSSL writes with write().
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    using TMode = TTlsServerOptions::TMode;
    if (options_.Mode == TMode::Stall || options_.Mode == TMode::CloseInHandshake) {
        // Stall: until the client goes or the server stops. Close: after the first bytes.
        pollfd pfd[2] = {{fd, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        while (::poll(pfd, 2, -1) > 0 && (pfd[1].revents & POLLIN) == 0) {
            char buffer[4096];
            if (::recv(fd, buffer, sizeof buffer, 0) <= 0 ||
                options_.Mode == TMode::CloseInHandshake) {
                break;
            }
        }
    } else {
        SSL* ssl = SSL_new(static_cast<SSL_CTX*>(context_));
        SSL_set_fd(ssl, fd);
        if (SSL_accept(ssl) == 1) {
            handshakes_.fetch_add(1);
            Pipe(ssl, fd);
            SSL_shutdown(ssl);
        }
        SSL_free(ssl);
        ERR_clear_error();
    }
    const std::lock_guard lock(mutex_);
    std::erase(openFds_, fd);
    ::close(fd);
}

// Passes bytes both ways between the TLS client and a plain connection to the backend, until
// either side closes.
void TTestTlsServer::Pipe(void* handle, int fd) {
    auto* ssl = static_cast<SSL*>(handle);
    const int backend = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(options_.BackendPort));
    if (::connect(backend, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(backend);
        return;
    }
    const int one = 1;
    ::setsockopt(backend, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::vector<char> buffer(std::size_t{64} * 1024);
    bool open = true;
    while (open && !Stopping()) {
        if (SSL_pending(ssl) == 0) {
            pollfd pfd[3] = {{fd, POLLIN, 0}, {backend, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
            if (::poll(pfd, 3, -1) < 0 && errno != EINTR) {
                break;
            }
            if ((pfd[2].revents & POLLIN) != 0) {
                break;
            }
            if ((pfd[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                const ssize_t n = ::recv(backend, buffer.data(), buffer.size(), 0);
                if (n <= 0) {
                    break;
                }
                open = SSL_write(ssl, buffer.data(), static_cast<int>(n)) == static_cast<int>(n);
                continue;
            }
            if ((pfd[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
                continue;
            }
        }
        const int n = SSL_read(ssl, buffer.data(), static_cast<int>(buffer.size()));
        if (n <= 0) {
            break;
        }
        open = ::send(backend, buffer.data(), static_cast<std::size_t>(n), MSG_NOSIGNAL) == n;
    }
    ::close(backend);
}

} // namespace qrv::test
