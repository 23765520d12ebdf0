#include "engine/http/CookieStore.h"

#include <gtest/gtest.h>

namespace qrv::engine {
namespace {

constexpr std::time_t kNow = 1700000000; // 2023-11-14 22:13:20 UTC

TEST(CookieStore, DomainAndPathDecideWhereCookiesGo) {
    const struct {
        const char* SetFrom;  // the answer's address
        const char* Header;   // Set-Cookie value
        const char* SendTo;   // a later request
        const char* Expected; // Cookie value sent
    } rows[] = {
        {"http://a.example/", "n=v", "http://a.example/x", "n=v"},
        {"http://a.example/", "n=v", "http://b.a.example/", ""}, // host only
        {"http://a.example/", "n=v; Domain=a.example", "http://b.a.example/", "n=v"},
        {"http://a.example/", "n=v; Domain=.A.Example", "http://b.a.example/", "n=v"},
        {"http://b.a.example/", "n=v; Domain=a.example", "http://a.example/", "n=v"},
        {"http://a.example/", "n=v; Domain=other.example", "http://other.example/", ""},
        {"http://a.example/", "n=v; Domain=example", "http://z.example/", ""}, // bare top level
        {"http://localhost/", "n=v; Domain=localhost", "http://localhost/", "n=v"},
        {"http://127.0.0.1/", "n=v; Domain=0.0.1", "http://127.0.0.1/", ""},
        {"http://a.example/dir/page", "n=v", "http://a.example/dir/other", "n=v"},
        {"http://a.example/dir/page", "n=v", "http://a.example/dirt", ""},
        {"http://a.example/dir/page", "n=v", "http://a.example/", ""},
        {"http://a.example/", "n=v; Path=/p", "http://a.example/p/q", "n=v"},
        {"http://a.example/", "n=v; Path=/p", "http://a.example/pq", ""},
        {"http://a.example/", "n=v; Path=/p/", "http://a.example/p/q", "n=v"},
        {"http://a.example/x/y", "n=v; Path=relative", "http://a.example/x/z", "n=v"},
        {"http://a.example/", "n=v; Secure", "http://a.example/", ""},
        {"http://a.example/", "n = v w ; HttpOnly", "http://a.example/", "n=v w"},
        {"http://a.example/", "novalue", "http://a.example/", ""},
        {"http://a.example/", "=v", "http://a.example/", ""},
        {"http://a.example/", "n=", "http://a.example/", "n="},
        {"http://a.example/", "n=a\rb", "http://a.example/", ""},
        {"http://a.example:8080/", "n=v", "http://a.example:9090/", "n=v"}, // ports not told apart
    };
    for (const auto& row : rows) {
        TCookieStore store;
        store.SetCookie(ParseHttpUrl(row.SetFrom), row.Header, kNow);
        EXPECT_EQ(store.CookieHeader(ParseHttpUrl(row.SendTo), kNow), row.Expected)
            << row.SetFrom << " | " << row.Header << " | " << row.SendTo;
    }
}

TEST(CookieStore, ExpiryFromMaxAgeAndExpires) {
    const struct {
        const char* Header;
        std::time_t Later; // seconds after kNow that the request is made
        bool Sent;
    } rows[] = {
        {"n=v", 100000000, true},
        {"n=v; Max-Age=60", 59, true},
        {"n=v; Max-Age=60", 60, false},
        {"n=v; Max-Age=0", 0, false},
        {"n=v; Max-Age=-1", 0, false},
        {"n=v; Max-Age=abc", 100000000, true},
        {"n=v; Max-Age=99999999999999999999", 100000000, true},
        {"n=v; Expires=Wed, 15 Nov 2023 00:00:00 GMT", 0, true},
        {"n=v; Expires=Wed, 15 Nov 2023 00:00:00 GMT", 7000, false},
        {"n=v; Expires=Thu, 01 Jan 1970 00:00:00 GMT", 0, false},
        {"n=v; Expires=Wednesday, 15-Nov-23 00:00:00 GMT", 7000, false},
        {"n=v; expires=Wed Nov 15 00:00:00 2023", 0, true},
        {"n=v; Expires=Wed, 15-Nov-2023 00:00:00 GMT", 6399, true},
        {"n=v; Expires=not a date", 100000000, true},
        {"n=v; Max-Age=60; Expires=Thu, 01 Jan 1970 00:00:00 GMT", 30, true},
    };
    for (const auto& row : rows) {
        TCookieStore store;
        const THttpUrl url = ParseHttpUrl("http://a.example/");
        store.SetCookie(url, row.Header, kNow);
        EXPECT_EQ(store.CookieHeader(url, kNow + row.Later), row.Sent ? "n=v" : "")
            << row.Header << " +" << row.Later;
    }
}

TEST(CookieStore, LaterCookiesReplaceAndOrderIsByPath) {
    TCookieStore store;
    const THttpUrl url = ParseHttpUrl("http://a.example/p/q/r");
    store.SetCookie(url, "a=1; Path=/", kNow);
    store.SetCookie(url, "b=2; Path=/p/q", kNow);
    store.SetCookie(url, "c=3; Path=/p", kNow);
    store.SetCookie(url, "a=4; Path=/", kNow); // replaces, keeps its place
    EXPECT_EQ(store.CookieHeader(url, kNow), "b=2; c=3; a=4");
    store.SetCookie(url, "c=; Path=/p; Max-Age=0", kNow);
    EXPECT_EQ(store.CookieHeader(url, kNow), "b=2; a=4");
    EXPECT_EQ(store.Count(), 2u);
}

TEST(CookieStore, SetCookie2ListsSeveralCookies) {
    TCookieStore store;
    const THttpUrl url = ParseHttpUrl("http://a.example/");
    store.SetCookie2(url, "x=\"1, 2\"; Version=\"1\"; Path=\"/\", y=2; Discard, $z=3, w", kNow);
    EXPECT_EQ(store.CookieHeader(url, kNow), "x=1, 2; y=2");
}

TEST(CookieStore, CountAndSizeAreBounded) {
    TCookieStore store(10, 4);
    const THttpUrl a = ParseHttpUrl("http://a.example/");
    for (int i = 0; i < 100; ++i) {
        store.SetCookie(a, "n" + std::to_string(i) + "=v", kNow);
    }
    EXPECT_EQ(store.Count(), 4u);
    EXPECT_EQ(store.CookieHeader(a, kNow), "n96=v; n97=v; n98=v; n99=v");
    for (int host = 0; host < 20; ++host) {
        store.SetCookie(ParseHttpUrl("http://h" + std::to_string(host) + ".example/"), "k=v", kNow);
    }
    EXPECT_EQ(store.Count(), 10u);
    store.SetCookie(a, "big=" + std::string(TCookieStore::kMaxCookieBytes, 'x'), kNow);
    EXPECT_EQ(store.CookieHeader(a, kNow), "");
}

TEST(CookieStore, DatesInEveryCommonForm) {
    const struct {
        const char* Text;
        std::time_t Value; // 0: not a date
    } rows[] = {
        {"Sun, 06 Nov 1994 08:49:37 GMT", 784111777},
        {"Sunday, 06-Nov-94 08:49:37 GMT", 784111777},
        {"Sun Nov  6 08:49:37 1994", 784111777},
        {"6 November 1994 8:49:37", 784111777},
        {"Tue, 19 Jan 2038 03:14:08 GMT", 2147483648},
        {"Mon, 01 Jan 2024 00:00:00 GMT", 1704067200},
        {"01-Jan-69 00:00:00", 3124224000},
        {"Sun, 06 Nov 1994", 0},
        {"Sun, 32 Nov 1994 08:49:37", 0},
        {"Sun, 06 Nov 1994 24:00:00", 0},
        {"Sun, 06 Foo 1994 08:49:37", 0},
        {"", 0},
    };
    for (const auto& row : rows) {
        std::time_t value = 0;
        const bool ok = ParseCookieDate(row.Text, value);
        EXPECT_EQ(ok, row.Value != 0) << row.Text;
        if (ok) {
            EXPECT_EQ(value, row.Value) << row.Text;
        }
    }
}

} // namespace
} // namespace qrv::engine
