#include "engine/http/TlsTransport.h"

#include "engine/http/SocketError.h"
#include "engine/http/tls/TlsApi.h"
#include "platform/Error.h"

#include <atomic>
#include <cerrno>
#include <dlfcn.h>
#include <mutex>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef QRV_TLS_MODULE_BUILD_PATH
#define QRV_TLS_MODULE_BUILD_PATH ""
#endif

namespace qrv::engine {

namespace {

constexpr const char* kClosed = "Connection Closed Gracefully.";
constexpr std::size_t kMessageSize = 512;

struct TModule {
    std::once_flag Once;
    const TQrvTlsApi* Api = nullptr;
    std::string Failure;
    std::atomic<bool> Loaded{false};
};

TModule& Module() {
    static TModule module; // NOLINT(bugprone-dynamic-static-initializers): trivially built
    return module;
}

bool FileExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string ExecutableDir() {
    std::string path(4096, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= path.size()) {
        return std::string();
    }
    path.resize(static_cast<std::size_t>(n));
    return path.substr(0, path.rfind('/'));
}

void Load(TModule& module) {
    const std::string path = TlsModulePath();
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = ::dlerror();
        module.Failure = std::string("SSL library not available: ") + (why ? why : path.c_str());
        return;
    }
    // Kept for the process: sessions of both clients may use it until the end.
    auto* entry = reinterpret_cast<TQrvTlsInterfaceFn>(::dlsym(handle, "QrvTlsInterface"));
    const TQrvTlsApi* api = entry != nullptr ? entry() : nullptr;
    if (api == nullptr || api->Version != kQrvTlsApiVersion) {
        module.Failure = "SSL library not available: " + path + " is not the expected module";
        return;
    }
    char message[kMessageSize] = {};
    if (api->Init(message, sizeof message) != 0) {
        module.Failure = message;
        return;
    }
    module.Api = api;
    module.Loaded.store(true);
}

[[noreturn]] void ThrowClosedOrError(int status, int sysError, const char* message) {
    if (status == kQrvTlsSysError) {
        ThrowSocketError(WsaErrorFromErrno(sysError));
    }
    if (status == kQrvTlsClosed) {
        throw qrv::Error(kClosed);
    }
    throw qrv::Error(message);
}

} // namespace

std::string TlsModulePath() {
    const std::string dir = ExecutableDir();
    if (!dir.empty()) {
        std::string installed = dir + "/../lib/quorvane/qrv_tls.so";
        if (FileExists(installed)) {
            return installed;
        }
    }
    return QRV_TLS_MODULE_BUILD_PATH;
}

const TQrvTlsApi& LoadTlsModule() {
    TModule& module = Module();
    std::call_once(module.Once, [&module] { Load(module); });
    if (module.Api == nullptr) {
        throw qrv::Error(module.Failure);
    }
    return *module.Api;
}

bool TlsModuleLoaded() {
    return Module().Loaded.load();
}

TTlsTransport::TTlsTransport(TSocket socket, const std::string& host, const TIoWait& wait)
    : api_(&LoadTlsModule()), socket_(std::move(socket)) {
    char message[kMessageSize] = {};
    session_ = api_->Open(socket_.Fd(), host.c_str(), message, sizeof message);
    if (session_ == nullptr) {
        throw qrv::Error(message);
    }
    while (true) {
        int sysError = 0;
        const int status = api_->Handshake(session_, &sysError, message, sizeof message);
        if (status == kQrvTlsDone) {
            return;
        }
        if (status == kQrvTlsWantRead || status == kQrvTlsWantWrite) {
            // The destructor is not run for a constructor that throws: free here.
            try {
                wait.Wait(socket_.Fd(), status == kQrvTlsWantRead ? POLLIN : POLLOUT);
            } catch (...) {
                api_->Free(session_);
                throw;
            }
            continue;
        }
        api_->Free(session_);
        session_ = nullptr;
        ThrowClosedOrError(status, sysError, message);
    }
}

TTlsTransport::~TTlsTransport() {
    if (session_ != nullptr) {
        api_->Free(session_);
    }
}

int TTlsTransport::Send(std::string_view bytes, const TIoWait& wait) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        std::size_t done = 0;
        int sysError = 0;
        char message[kMessageSize] = {};
        const int status = api_->Write(session_, bytes.data() + sent, bytes.size() - sent, &done,
                                       &sysError, message, sizeof message);
        switch (status) {
        case kQrvTlsDone:
            sent += done;
            break;
        case kQrvTlsWantRead:
            wait.Wait(socket_.Fd(), POLLIN);
            break;
        case kQrvTlsWantWrite:
            wait.Wait(socket_.Fd(), POLLOUT);
            break;
        case kQrvTlsClosed:
            return EPIPE;
        case kQrvTlsSysError:
            return sysError != 0 ? sysError : EPIPE;
        default:
            throw qrv::Error(message);
        }
    }
    return 0;
}

TIoResult TTlsTransport::Receive(char* data, std::size_t size, const TIoWait& wait) {
    wait.Cancel().ThrowIfRaised();
    while (true) {
        std::size_t done = 0;
        int sysError = 0;
        char message[kMessageSize] = {};
        const int status =
            api_->Read(session_, data, size, &done, &sysError, message, sizeof message);
        switch (status) {
        case kQrvTlsDone:
            return {done, 0};
        case kQrvTlsWantRead:
            wait.Wait(socket_.Fd(), POLLIN);
            break;
        case kQrvTlsWantWrite:
            wait.Wait(socket_.Fd(), POLLOUT);
            break;
        case kQrvTlsClosed:
            return {0, 0};
        case kQrvTlsSysError:
            return {0, sysError != 0 ? sysError : ECONNRESET};
        default:
            throw qrv::Error(message);
        }
    }
}

bool TTlsTransport::IdleUsable() {
    return api_->IdleUsable(session_) != 0;
}

} // namespace qrv::engine
