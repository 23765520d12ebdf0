// TLS for the HTTP client, on OpenSSL. Built as a module of its own that the client loads at
// the first https fetch, so that a program that never fetches over https never maps OpenSSL
// or reads the trust store. The client does every wait; this side only runs OpenSSL steps on
// a non-blocking socket and turns their failures into texts a user can read.

#include "engine/http/tls/TlsApi.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <pthread.h>
#include <string>

namespace {

SSL_CTX* gContext = nullptr; // made once by Init, kept for the process

// OpenSSL writes to the socket with write(), which raises SIGPIPE on a connection the server
// has closed, and that would end the program. For the length of one OpenSSL call the signal is
// blocked on this thread, and one that the call raised is taken back before it is unblocked;
// the failed write then reads as EPIPE.
class TNoSigPipe {
public:
    TNoSigPipe() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
    }
    ~TNoSigPipe() {
        if (!wasPending_) {
            sigset_t pending;
            sigpending(&pending);
            if (sigismember(&pending, SIGPIPE) == 1) {
                const timespec now{};
                sigtimedwait(&pipe_, nullptr, &now);
            }
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    TNoSigPipe(const TNoSigPipe&) = delete;
    TNoSigPipe& operator=(const TNoSigPipe&) = delete;

private:
    sigset_t pipe_{};
    sigset_t old_{};
    bool wasPending_ = false;
};

struct TSession {
    SSL* Ssl = nullptr;
    std::string Host;
    // The not-after time of the certificate that failed verification as expired.
    std::string ExpiredNotAfter;
};

int gSessionIndex = -1;

void Put(char* message, std::size_t size, const std::string& text) {
    if (size == 0) {
        return;
    }
    const std::size_t n = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(message, text.data(), n);
    message[n] = '\0';
}

std::string ErrorReason(unsigned long error) {
    const char* reason = ERR_reason_error_string(error);
    if (reason != nullptr) {
        return reason;
    }
    char buffer[256];
    ERR_error_string_n(error, buffer, sizeof buffer);
    return buffer;
}

bool IsIpAddress(const char* host) {
    unsigned char address[16];
    return inet_pton(AF_INET, host, address) == 1 || inet_pton(AF_INET6, host, address) == 1;
}

// "2026-12-09 10:00:00 UTC"
std::string FormatTime(const ASN1_TIME* time) {
    std::tm parts{};
    if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1) {
        return "unknown";
    }
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d UTC", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
    return buffer;
}

// Verification stops at the first fault, as OpenSSL's own check does; an expired
// certificate leaves its date for the message.
int VerifyCallback(int preverifyOk, X509_STORE_CTX* store) {
    if (preverifyOk == 0 && X509_STORE_CTX_get_error(store) == X509_V_ERR_CERT_HAS_EXPIRED) {
        auto* ssl = static_cast<SSL*>(
            X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
        auto* session =
            ssl != nullptr ? static_cast<TSession*>(SSL_get_ex_data(ssl, gSessionIndex)) : nullptr;
        if (session != nullptr && session->ExpiredNotAfter.empty()) {
            session->ExpiredNotAfter =
                FormatTime(X509_get0_notAfter(X509_STORE_CTX_get_current_cert(store)));
        }
    }
    return preverifyOk;
}

std::string CertificateText(const TSession& session, long result) {
    switch (result) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return "SSL certificate has expired (not after " + session.ExpiredNotAfter + ")";
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return "SSL certificate is not yet valid";
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
        return "SSL certificate is not trusted (self-signed, or issued by an unknown authority)";
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return "SSL certificate does not match the host name '" + session.Host + "'";
    default:
        return std::string("SSL certificate is not valid: ") +
               X509_verify_cert_error_string(result);
    }
}

// Turns the result of one OpenSSL call into a status, reading (and clearing) the error queue.
int Classify(TSession& session, int result, bool handshake, int* sysError, char* message,
             std::size_t size) {
    const int error = SSL_get_error(session.Ssl, result);
    const int savedErrno = errno;
    switch (error) {
    case SSL_ERROR_WANT_READ:
        return kQrvTlsWantRead;
    case SSL_ERROR_WANT_WRITE:
        return kQrvTlsWantWrite;
    case SSL_ERROR_ZERO_RETURN:
        ERR_clear_error();
        return kQrvTlsClosed;
    case SSL_ERROR_SYSCALL: {
        const unsigned long queued = ERR_get_error();
        ERR_clear_error();
        if (queued == 0 && savedErrno == 0) {
            return kQrvTlsClosed; // the end of the stream, without a close_notify
        }
        if (queued == 0) {
            *sysError = savedErrno;
            return kQrvTlsSysError;
        }
        Put(message, size,
            (handshake ? "SSL handshake failed: " : "SSL error: ") + ErrorReason(queued));
        return kQrvTlsFailed;
    }
    default:
        break;
    }
    const unsigned long last = ERR_peek_last_error();
    ERR_clear_error();
    if (ERR_GET_LIB(last) == ERR_LIB_SSL &&
        ERR_GET_REASON(last) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
        return kQrvTlsClosed;
    }
    if (handshake) {
        const long verified = SSL_get_verify_result(session.Ssl);
        if (verified != X509_V_OK) {
            Put(message, size, CertificateText(session, verified));
            return kQrvTlsFailed;
        }
    }
    Put(message, size,
        (handshake ? "SSL handshake failed: " : "SSL error: ") +
            (last != 0 ? ErrorReason(last) : std::string("unknown error")));
    return kQrvTlsFailed;
}

int Init(char* message, std::size_t size) {
    if (gContext != nullptr) {
        return 0;
    }
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    if (context == nullptr) {
        Put(message, size, "SSL library not available: " + ErrorReason(ERR_get_error()));
        return -1;
    }
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_max_proto_version(context, TLS1_3_VERSION);
    // Servers that end a body by closing without a close_notify are common; the HTTP layer
    // knows from the answer's framing whether it got everything.
    SSL_CTX_set_options(context, SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_RENEGOTIATION);
    SSL_CTX_set_mode(context, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, VerifyCallback);
    // The system's trust store, or SSL_CERT_FILE / SSL_CERT_DIR as every OpenSSL program.
    if (SSL_CTX_set_default_verify_paths(context) != 1) {
        ERR_clear_error(); // no store: every certificate then reads as not trusted
    }
    gSessionIndex =
        CRYPTO_get_ex_new_index(CRYPTO_EX_INDEX_SSL, 0, nullptr, nullptr, nullptr, nullptr);
    gContext = context;
    return 0;
}

void* Open(int fd, const char* host, char* message, std::size_t size) {
    auto* session = new TSession;
    session->Host = host;
    session->Ssl = SSL_new(gContext);
    bool ok = session->Ssl != nullptr && SSL_set_fd(session->Ssl, fd) == 1 &&
              SSL_set_ex_data(session->Ssl, gSessionIndex, session) == 1;
    if (ok && IsIpAddress(host)) {
        ok = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(session->Ssl), host) == 1;
    } else if (ok) {
        ok = SSL_ctrl(session->Ssl, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                      const_cast<char*>(host)) == 1 &&
             SSL_set1_host(session->Ssl, host) == 1;
    }
    if (!ok) {
        Put(message, size, "SSL handshake failed: " + ErrorReason(ERR_get_error()));
        ERR_clear_error();
        if (session->Ssl != nullptr) {
            SSL_free(session->Ssl);
        }
        delete session;
        return nullptr;
    }
    SSL_set_connect_state(session->Ssl);
    return session;
}

int Handshake(void* handle, int* sysError, char* message, std::size_t size) {
    auto& session = *static_cast<TSession*>(handle);
    const TNoSigPipe noSigPipe;
    ERR_clear_error();
    errno = 0;
    const int result = SSL_do_handshake(session.Ssl);
    if (result == 1) {
        return kQrvTlsDone;
    }
    return Classify(session, result, true, sysError, message, size);
}

int Read(void* handle, void* data, std::size_t size, std::size_t* done, int* sysError,
         char* message, std::size_t messageSize) {
    auto& session = *static_cast<TSession*>(handle);
    const TNoSigPipe noSigPipe;
    ERR_clear_error();
    errno = 0;
    const int result = SSL_read_ex(session.Ssl, data, size, done);
    if (result == 1) {
        return kQrvTlsDone;
    }
    *done = 0;
    return Classify(session, result, false, sysError, message, messageSize);
}

int Write(void* handle, const void* data, std::size_t size, std::size_t* done, int* sysError,
          char* message, std::size_t messageSize) {
    auto& session = *static_cast<TSession*>(handle);
    const TNoSigPipe noSigPipe;
    ERR_clear_error();
    errno = 0;
    const int result = SSL_write_ex(session.Ssl, data, size, done);
    if (result == 1) {
        return kQrvTlsDone;
    }
    *done = 0;
    return Classify(session, result, false, sysError, message, messageSize);
}

int IdleUsable(void* handle) {
    auto& session = *static_cast<TSession*>(handle);
    const TNoSigPipe noSigPipe;
    if (SSL_pending(session.Ssl) > 0) {
        return 0;
    }
    char probe = 0;
    std::size_t got = 0;
    ERR_clear_error();
    errno = 0;
    const int result = SSL_read_ex(session.Ssl, &probe, 1, &got);
    if (result == 1) {
        return 0; // data nobody asked for: the connection is out of step
    }
    const int error = SSL_get_error(session.Ssl, result);
    ERR_clear_error();
    return error == SSL_ERROR_WANT_READ ? 1 : 0;
}

void Free(void* handle) {
    auto* session = static_cast<TSession*>(handle);
    if (session == nullptr) {
        return;
    }
    // A quiet close: the connection is dropped anyway, and a close_notify must not wait.
    const TNoSigPipe noSigPipe;
    SSL_set_quiet_shutdown(session->Ssl, 1);
    SSL_free(session->Ssl);
    ERR_clear_error();
    delete session;
}

const TQrvTlsApi kApi = {kQrvTlsApiVersion, Init, Open, Handshake, Read, Write, IdleUsable, Free};

} // namespace

extern "C" __attribute__((visibility("default"))) const TQrvTlsApi* QrvTlsInterface(void) {
    return &kApi;
}
