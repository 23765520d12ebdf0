// LD_PRELOAD shim: a name lookup of any name ending in ".stall.test" never returns, as with a
// DNS server that takes the query and never answers. A numbers-only lookup (AI_NUMERICHOST),
// which asks no server, and every other name go to the C library.

#include <dlfcn.h>
#include <netdb.h>
#include <string_view>
#include <unistd.h>

extern "C" __attribute__((visibility("default"))) int
getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** result) {
    const bool numericOnly = hints != nullptr && (hints->ai_flags & AI_NUMERICHOST) != 0;
    if (!numericOnly && node != nullptr && std::string_view(node).ends_with(".stall.test")) {
        while (true) {
            ::sleep(3600);
        }
    }
    using TGetAddrInfo = int (*)(const char*, const char*, const addrinfo*, addrinfo**);
    static const auto real = reinterpret_cast<TGetAddrInfo>(::dlsym(RTLD_NEXT, "getaddrinfo"));
    return real(node, service, hints, result);
}
