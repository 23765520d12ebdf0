#include "engine/http/HttpUrl.h"

#include "engine/http/SocketError.h"
#include "platform/Error.h"

#include <gtest/gtest.h>

namespace qrv::engine {
namespace {

TEST(HttpUrl, AddressesAreSplit) {
    const struct {
        const char* Url;
        const char* Scheme;
        const char* Host;
        int Port;
        const char* Target;
        const char* HostHeader;
    } rows[] = {
        {"http://example.com", "http", "example.com", 80, "/", "example.com"},
        {"http://example.com:80/a", "http", "example.com", 80, "/a", "example.com"},
        {"HTTP://Example.COM:8080/a/b?c=d#frag", "http", "Example.COM", 8080, "/a/b?c=d",
         "Example.COM:8080"},
        {"http://host?q", "http", "host", 80, "/?q", "host"},
        {"http://host:/x", "http", "host", 80, "/x", "host"},
        {"http://user:pw@host:81/", "http", "host", 81, "/", "host:81"},
        {"http://[::1]:8080/v6", "http", "::1", 8080, "/v6", "[::1]:8080"},
        {"http://[2001:db8::7]", "http", "2001:db8::7", 80, "/", "[2001:db8::7]"},
        {"https://secure.example:8443/", "https", "secure.example", 8443, "/",
         "secure.example:8443"},
        {"  http://trim.example/ \r\n", "http", "trim.example", 80, "/", "trim.example"},
        {"example.com/page", "http", "example.com", 80, "/page", "example.com"},
        {"localhost:8080/x", "http", "localhost", 8080, "/x", "localhost:8080"},
        {"http://h/a b\"<>\\^`{|}\x7F", "http", "h", 80, "/a%20b\"<>\\^`{|}%7F", "h"},
        {"http://h/\xC5\xBD?\r\nX: y", "http", "h", 80, "/%C5%BD?%0D%0AX:%20y", "h"},
        {"http://h/%41%zz", "http", "h", 80, "/%41%zz", "h"},
        // Beyond ASCII: the UTF-8 bytes are escaped; a stray byte is escaped as it is.
        {"http://h/caf\xC3\xA9?q=\xF0\x9F\x98\x80#\xC3\xA9", "http", "h", 80,
         "/caf%C3%A9?q=%F0%9F%98%80", "h"},
        {"http://h/caf%C3%A9/\xE9", "http", "h", 80, "/caf%C3%A9/%E9", "h"},
        // Host names beyond ASCII go out in their ASCII form, letters lowered first.
        {"http://p\xC5\x99\xC3\xADklad.cz/", "http", "xn--pklad-zsa96e.cz", 80, "/",
         "xn--pklad-zsa96e.cz"},
        {"http://P\xC5\x98\xC3\x8DKLAD.Cz:81", "http", "xn--pklad-zsa96e.Cz", 81, "/",
         "xn--pklad-zsa96e.Cz:81"},
        {"http://\xC5\xBDLU\xC5\xA4OU\xC4\x8CK\xC3\x9D.cz/", "http", "xn--luouk-uva4it5a4g.cz", 80,
         "/", "xn--luouk-uva4it5a4g.cz"},
        {"http://b\xC3\xBC"
         "cher.example/",
         "http", "xn--bcher-kva.example", 80, "/", "xn--bcher-kva.example"},
        {"http://\xD0\xBC\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0.\xD1\x80\xD1\x84/", "http",
         "xn--80adxhks.xn--p1ai", 80, "/", "xn--80adxhks.xn--p1ai"},
        {"http://\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x80\x82jp/", "http", "xn--wgv71a119e.jp",
         80, "/", "xn--wgv71a119e.jp"},
    };
    for (const auto& row : rows) {
        const THttpUrl url = ParseHttpUrl(row.Url);
        EXPECT_EQ(url.Scheme, row.Scheme) << row.Url;
        EXPECT_EQ(url.Host, row.Host) << row.Url;
        EXPECT_EQ(url.Port, row.Port) << row.Url;
        EXPECT_EQ(url.Target, row.Target) << row.Url;
        EXPECT_EQ(url.HostHeader(), row.HostHeader) << row.Url;
    }
}

TEST(HttpUrl, UnusableAddressesAreRefused) {
    for (const char* url :
         {"", "http://", "http:///path", "http://host:0/", "http://host:65536/", "http://host:12x/",
          "http://host:123456/", "http://[::1/", "http://[::1]x/", "http://[not-v6]/",
          "mailto:someone", "http://ho st/", "http://a\"b/", "http://@/",
          "http://[fe80::1%25eth0]/", "http://caf\xE9.example/", "http://\xC3.example/",
          "http://a\xC2\xA0"
          "b.example/"}) {
        EXPECT_THROW(ParseHttpUrl(url), qrv::Error) << url;
    }
    // A label beyond ASCII is bounded as a name server bounds it, before any encoding work.
    std::string label;
    for (int i = 0; i < 63; ++i) {
        label += "\xC3\xA9";
    }
    EXPECT_NO_THROW(ParseHttpUrl("http://" + label + ".cz/"));
    EXPECT_THROW(ParseHttpUrl("http://" + label + "e.cz/"), qrv::Error);
}

TEST(HttpUrl, ReferencesResolveAgainstTheAddress) {
    const THttpUrl base = ParseHttpUrl("http://a.example:8080/b/c/d;p?q");
    const struct {
        const char* Reference;
        const char* Result;
    } rows[] = {
        {"g", "http://a.example:8080/b/c/g"},
        {"./g", "http://a.example:8080/b/c/g"},
        {"g/", "http://a.example:8080/b/c/g/"},
        {"/g", "http://a.example:8080/g"},
        {"//other.example/g", "http://other.example/g"},
        {"?y", "http://a.example:8080/b/c/d;p?y"},
        {"g?y#s", "http://a.example:8080/b/c/g?y"},
        {"", "http://a.example:8080/b/c/d;p?q"},
        {".", "http://a.example:8080/b/c/"},
        {"..", "http://a.example:8080/b/"},
        {"../g", "http://a.example:8080/b/g"},
        {"../../../../g", "http://a.example:8080/g"},
        {"/./g/../h", "http://a.example:8080/h"},
        {"g b", "http://a.example:8080/b/c/g%20b"},
        {"\xC5\xBE?q=\xC3\xA9", "http://a.example:8080/b/c/%C5%BE?q=%C3%A9"},
        {"?\xC3\xA9", "http://a.example:8080/b/c/d;p?%C3%A9"},
        {"/{|}", "http://a.example:8080/{|}"},
        {"http:g", "http://a.example:8080/b/c/g"},
        {"https://s.example/x", "https://s.example/x"},
        {"HTTP://Up.example/", "HTTP://Up.example/"},
        {"ftp://f.example/", "ftp://f.example/"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(ResolveUrl(base, row.Reference), row.Result) << row.Reference;
    }
    const THttpUrl six = ParseHttpUrl("http://[::1]:81/x/y");
    EXPECT_EQ(ResolveUrl(six, "z"), "http://[::1]:81/x/z");
}

TEST(SocketErrors, MessagesUseTheWindowsNumbersAndTexts) {
    const struct {
        int Errno;
        const char* Message;
    } rows[] = {
        {ECONNREFUSED, "Socket Error # 10061\r\nConnection refused."},
        {ECONNRESET, "Socket Error # 10054\r\nConnection reset by peer."},
        {ETIMEDOUT, "Socket Error # 10060\r\nConnection timed out."},
        {ENETUNREACH, "Socket Error # 10051\r\nNetwork is unreachable."},
        {EHOSTUNREACH, "Socket Error # 10065\r\nNo route to host."},
        {EADDRNOTAVAIL, "Socket Error # 10049\r\nCannot assign requested address."},
        {EMFILE, "Socket Error # 10024\r\nToo many open files."},
        {ENOTEMPTY, "Socket Error # 10066\r\nDirectory not empty"},
        {EPIPE, "Socket Error # 10058\r\nCannot send or receive after socket is closed."},
        {EIO, "Socket Error # 5\r\n"}, // no counterpart: the number alone
    };
    for (const auto& row : rows) {
        EXPECT_EQ(SocketErrorMessage(WsaErrorFromErrno(row.Errno)), row.Message) << row.Errno;
    }
    EXPECT_EQ(SocketErrorMessage(kWsaHostNotFound), "Socket Error # 11001\r\nHost not found.");
    EXPECT_EQ(SocketErrorMessage(kWsaTryAgain), "Socket Error # 11002\r\n");
    EXPECT_EQ(SocketErrorMessage(10067), "Socket Error # 10067\r\n");
    // Every number of the table from 10004 to 10066 that has a text keeps it.
    int described = 0;
    for (int n = 10000; n <= 10070; ++n) {
        described += SocketErrorDescription(n).empty() ? 0 : 1;
    }
    EXPECT_EQ(described, 38);
}

} // namespace
} // namespace qrv::engine
