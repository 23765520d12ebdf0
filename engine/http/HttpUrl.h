#pragma once

#include <string>
#include <string_view>

namespace qrv::engine {

// An absolute address split into the parts a request needs.
struct THttpUrl {
    std::string Scheme; // lower case: "http", "https", ...
    std::string Host;   // without brackets for IPv6 literals; never empty
    int Port = 80;      // the scheme's default when the address names none
    std::string Target; // path and query as sent on the request line, never empty
    bool Ipv6Literal = false;

    // "host" or "host:port" (IPv6 literals in brackets); the port only when it is not the
    // scheme's default.
    std::string HostHeader() const;
    // The path without the query.
    std::string Path() const;
    // The address written back as text.
    std::string ToString() const;
};

// Splits an absolute address. An address without a scheme is taken as http. Characters
// that may not stand in a request line (controls, spaces, bytes above 127, ...) are
// percent-encoded in the target, byte by byte. A host name with letters beyond ASCII is
// kept in its ASCII form ("xn--..."), the one resolved and sent in Host. Throws
// qrv::Error for an address it cannot use.
THttpUrl ParseHttpUrl(std::string_view url);

// Resolves a reference (a redirect's Location) against the address it came from,
// following the generic syntax: absolute, network-path, absolute-path, relative-path and
// query-only references, with dot segments removed.
std::string ResolveUrl(const THttpUrl& base, std::string_view reference);

} // namespace qrv::engine
