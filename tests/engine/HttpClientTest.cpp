#include "engine/http/HttpClient.h"

#include "TestHttpServer.h"
#include "platform/Error.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace qrv::engine {
namespace {

using test::Redirect;
using test::Reply;
using test::ReplyRaw;
using test::TRecordedRequest;
using test::TTestConnection;
using test::TTestHttpServer;

constexpr const char* kOkHead = "HTTP/1.1 200 OK\r\n";

std::string FailureOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const qrv::Error& error) {
        return error.what();
    }
    return "(no failure)";
}

std::string FailureOf(TIdHTTP& http, const std::string& url) {
    return FailureOf([&] { http.Get(url); });
}

// Short limits so that the silence and endless-answer cases end quickly.
THttpLimits ShortLimits() {
    THttpLimits limits;
    limits.ReadSilenceMs = 300;
    limits.RequestLimitMs = 1500;
    return limits;
}

TEST(HttpClientRequest, GetIsSentExactly) {
    TTestHttpServer server;
    server.Route("/a/b", Reply(200, "x"));
    TIdHTTP http;
    ASSERT_EQ(http.Get(server.Url("/a/b?q=1&r=%41#frag")), "x");
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Raw, "GET /a/b?q=1&r=%41 HTTP/1.1\r\n"
                               "Host: " +
                                   server.HostPort() +
                                   "\r\n"
                                   "Accept: text/html, */*\r\n"
                                   "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n"
                                   "\r\n");
}

TEST(HttpClientRequest, PostSendsEncodedFormInOrder) {
    TTestHttpServer server;
    server.Route("/", Reply(200, "0\nUPDATE1.0\n"));
    TIdHTTP http;
    EXPECT_EQ(
        http.Post(server.Url("/"),
                  {{"application", "quorvane"}, {"action", "checkupdate"}, {"version", "0.9.18"}}),
        "0\nUPDATE1.0\n");
    const std::string body = "application=quorvane&action=checkupdate&version=0.9.18";
    EXPECT_EQ(server.Requests().at(0).Raw,
              "POST / HTTP/1.1\r\n"
              "Host: " +
                  server.HostPort() +
                  "\r\n"
                  "Accept: text/html, */*\r\n"
                  "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n"
                  "Content-Type: application/x-www-form-urlencoded\r\n"
                  "Content-Length: " +
                  std::to_string(body.size()) +
                  "\r\n"
                  "\r\n" +
                  body);
}

TEST(HttpClientRequest, FormValuesAreEncoded) {
    const struct {
        const char* Value;
        const char* Encoded;
    } rows[] = {
        {"0.9.18", "0.9.18"},
        {"a b", "a+b"},
        {"a&b=c", "a%26b%3Dc"},
        {"50%+x", "50%25%2Bx"},
        {"/?#~", "%2F%3F%23%7E"},
        {"\xC5\xBD", "%C5%BD"},
        {"line\r\nX: y", "line%0D%0AX%3A+y"},
        {"*-._", "*-._"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(UrlEncodeFormValue(row.Value), row.Encoded) << row.Value;
    }
    EXPECT_EQ(EncodeForm({{"a", "1"}, {"b c", "2 3"}}), "a=1&b+c=2+3");
    EXPECT_EQ(EncodeForm({}), "");
}

TEST(HttpClientStatus, FailingAnswersGiveTheirStatusLine) {
    const char* const lines[] = {
        "HTTP/1.1 404 Not Found",
        "HTTP/1.1 304 Not Modified",
        "HTTP/1.1 401 Unauthorized",
        "HTTP/1.1 407 Proxy Authentication Required",
        "HTTP/1.1 500 Internal Server Error",
        "HTTP/1.1 101 Switching Protocols",
        "HTTP/1.1 103 Early Hints",
        "HTTP/1.0 503 Service  Unavailable ",
        "HTTP/1.1 404",
        "HTTP/1.1 199 ",
    };
    TTestHttpServer server;
    TIdHTTP http;
    for (const char* line : lines) {
        server.Route("/", ReplyRaw(std::string(line) + "\r\nWWW-Authenticate: Basic\r\n"
                                                       "Content-Length: 9\r\n\r\nerror body"));
        EXPECT_EQ(FailureOf(http, server.Url("/")), line);
    }
}

TEST(HttpClientStatus, InterimContinueIsSkipped) {
    TTestHttpServer server;
    server.Route("/one", ReplyRaw("HTTP/1.1 100 Continue\r\n\r\n"
                                  "HTTP/1.1 100 Continue\r\nX: y\r\n\r\n"
                                  "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"));
    server.Route("/split", [](const TRecordedRequest&, TTestConnection& connection) {
        connection.Send("HTTP/1.1 100 Continue\r\n\r\n");
        connection.Pause(50);
        connection.Send(test::Response(200, "later"));
    });
    TIdHTTP http;
    EXPECT_EQ(http.Get(server.Url("/one")), "ok");
    EXPECT_EQ(http.Get(server.Url("/split")), "later");
}

TEST(HttpClientBody, EveryFramingIsRead) {
    const struct {
        const char* Name;
        std::string Answer;
        std::string Body;
    } rows[] = {
        {"length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", "hello"},
        {"until close", "HTTP/1.1 200 OK\r\n\r\nto the end", "to the end"},
        {"http/1.0 until close", "HTTP/1.0 200 OK\r\n\r\nold", "old"},
        {"chunked",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
         "5\r\nhello\r\n1;ext=1\r\n,\r\nA \r\n0123456789\r\n0\r\n\r\n",
         "hello,0123456789"},
        {"chunked with trailers",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
         "3\r\nabc\r\n0\r\nX-Sum: 1\r\nX-More: 2\r\n\r\n",
         "abc"},
        {"chunked wins over length",
         "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n"
         "Transfer-Encoding: chunked\r\n\r\n2\r\nab\r\n0\r\n\r\n",
         "ab"},
        {"no content", "HTTP/1.1 204 No Content\r\nContent-Length: 3\r\n\r\n", ""},
        {"empty", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", ""},
        {"short body", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc", "abc"},
        {"cut chunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10\r\nabc", "abc"},
        {"bare line feeds", "HTTP/1.1 200 OK\nContent-Length: 2\n\nlf", "lf"},
        {"folded header", "HTTP/1.1 200 OK\r\nX-Long: a\r\n b\r\nContent-Length: 1\r\n\r\nf", "f"},
    };
    TTestHttpServer server;
    TIdHTTP http;
    for (const auto& row : rows) {
        server.Route("/", ReplyRaw(row.Answer));
        EXPECT_EQ(http.Get(server.Url("/")), row.Body) << row.Name;
    }
}

TEST(HttpClientBody, MalformedAnswersFailCleanly) {
    const struct {
        const char* Name;
        std::string Answer;
        const char* Message;
    } rows[] = {
        {"no colon", "HTTP/1.1 200 OK\r\nBroken header\r\n\r\n",
         "Invalid HTTP answer: header line without a colon."},
        {"chunk size", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nab\r\n",
         "Invalid HTTP answer: bad chunk size."},
        {"chunk overflow",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFFFF\r\nab",
         "Invalid HTTP answer: bad chunk size."},
        {"chunk end", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nabcd\r\n",
         "Invalid HTTP answer: chunk not closed by a line end."},
        {"negative length", "HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\nabc",
         "Invalid HTTP answer: bad Content-Length."},
        {"overflowing length",
         "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n\r\nabc",
         "Invalid HTTP answer: bad Content-Length."},
        {"two lengths", "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\nabcd",
         "Invalid HTTP answer: bad Content-Length."},
        {"not http", "SSH-2.0-OpenSSH_9.2\r\n", "Invalid HTTP answer: bad status line."},
    };
    TTestHttpServer server;
    TIdHTTP http;
    for (const auto& row : rows) {
        server.Route("/", ReplyRaw(row.Answer));
        EXPECT_EQ(FailureOf(http, server.Url("/")), row.Message) << row.Name;
    }
}

TEST(HttpClientBody, CharsetDecidesTheDecoding) {
    const std::string utf8 = "\xC5\xBDlu\xC5\xA5ou\xC4\x8Dk\xC3\xBD"; // "Žluťoučký"
    const std::string asLatin1 =
        "\xC3\x85\xC2\xBDlu\xC3\x85\xC2\xA5ou\xC3\x84\xC2\x8Dk\xC3\x83\xC2\xBD";
    const std::string bom = "\xEF\xBB\xBF";
    const struct {
        const char* ContentType;
        std::string Body;
        std::string Text;
    } rows[] = {
        {"text/html; charset=utf-8", utf8, utf8},
        {"text/html;charset=UTF8", utf8, utf8},
        {"text/html; Charset=\"Utf-8\"", utf8, utf8},
        {"text/html; q=1; charset=utf-8 ", utf8, utf8},
        {"text/html", utf8, asLatin1},
        {"", utf8, asLatin1},
        {"text/html; charset=iso-8859-2", utf8, asLatin1},
        {"text/html; charset=utf-16", utf8, asLatin1},
        // "charset=" inside another parameter's quoted value is part of that value.
        {"text/html; foo=\"x; charset=utf-8\"", utf8, asLatin1},
        {"text/html; foo=\"a\\\"; charset=utf-8\"", utf8, asLatin1},
        {"text/html; foo=\"x; charset=latin1\"; charset=utf-8", utf8, utf8},
        {"text/html; charset=\"utf-8\"; charset=latin1", utf8, utf8},
        {"text/html; charset=utf-8", bom + "abc", bom + "abc"},
        {"text/plain", bom + "abc",
         "\xC3\xAF\xC2\xBB\xC2\xBF"
         "abc"},
        {"text/html; charset=utf-8",
         "a\xFF"
         "b\r\n",
         "a\xEF\xBF\xBD"
         "b\r\n"},
    };
    TTestHttpServer server;
    TIdHTTP http;
    for (const auto& row : rows) {
        test::THeaderList headers;
        if (*row.ContentType != '\0') {
            headers.emplace_back("Content-Type", row.ContentType);
        }
        server.Route("/", Reply(200, row.Body, headers));
        EXPECT_EQ(http.Get(server.Url("/")), row.Text) << row.ContentType;
    }
}

TEST(HttpClientRedirect, FollowsUpToFourteen) {
    TTestHttpServer server;
    for (int i = 1; i <= 20; ++i) {
        server.Route("/r" + std::to_string(i), Redirect("/r" + std::to_string(i - 1), 301));
    }
    server.Route("/r0", Reply(200, "arrived"));
    TIdHTTP http;
    EXPECT_EQ(http.Get(server.Url("/r14")), "arrived");
    EXPECT_EQ(server.RequestCount(), 15u);
    EXPECT_EQ(http.Get(server.Url("/r15")), ""); // the 15th redirect ends the call quietly
    EXPECT_EQ(server.RequestCount(), 30u);

    server.Route("/loop", Redirect("/loop"));
    EXPECT_EQ(http.Get(server.Url("/loop")), "");
    EXPECT_EQ(server.RequestCount(), 45u);
}

TEST(HttpClientRedirect, TargetsAreResolvedAndFetchedWithGet) {
    TTestHttpServer server;
    TTestHttpServer other;
    server.Route("/dir/start", Redirect("../next/page?x=1", 307));
    server.Route("/next/page", Redirect("//" + other.HostPort() + "/far", 303));
    other.Route("/far",
                ReplyRaw("HTTP/1.1 200 OK\r\nLocation: /there\r\nContent-Length: 0\r\n\r\n"));
    other.Route("/there", Reply(201, "created", {{"Location", "/final"}}));
    other.Route("/final", Reply(200, "final"));
    TIdHTTP http;
    EXPECT_EQ(http.Post(server.Url("/dir/start"), {{"a", "b"}}), "final");
    const auto near = server.Requests();
    ASSERT_EQ(near.size(), 2u);
    EXPECT_EQ(near[0].Method, "POST");
    EXPECT_EQ(near[1].Target, "/next/page?x=1");
    EXPECT_EQ(near[1].Method, "GET");
    EXPECT_FALSE(near[1].HasHeader("Content-Length"));
    const auto far = other.Requests();
    ASSERT_EQ(far.size(), 3u);
    EXPECT_EQ(far[2].Target, "/final");
}

TEST(HttpClientRedirect, RedirectWithoutTargetFailsWithItsStatus) {
    TTestHttpServer server;
    server.Route("/", Reply(300, "choose"));
    TIdHTTP http;
    EXPECT_EQ(FailureOf(http, server.Url("/")), "HTTP/1.1 300 Status");
    EXPECT_EQ(server.RequestCount(), 1u);

    // An empty Location is a target all the same: the same address, until the limit.
    for (const char* head : {"HTTP/1.1 200 OK", "HTTP/1.1 302 Found"}) {
        SCOPED_TRACE(head);
        TTestHttpServer same;
        same.Route("/", ReplyRaw(std::string(head) + "\r\nLocation:\r\nContent-Length: 0\r\n\r\n"));
        EXPECT_EQ(http.Get(same.Url("/")), "");
        EXPECT_EQ(same.RequestCount(), 15u);
    }
}

TEST(HttpClientRedirect, HttpsIsRefusedBeforeSending) {
    TTestHttpServer server;
    server.Route("/", Redirect("https://" + server.HostPort() + "/secure"));
    TIdHTTP http;
    EXPECT_EQ(FailureOf(http, server.Url("/")), "IOHandler value is not valid");
    EXPECT_EQ(server.RequestCount(), 1u);
    EXPECT_EQ(FailureOf(http, "HTTPS://" + server.HostPort() + "/"),
              "IOHandler value is not valid");
    EXPECT_EQ(server.RequestCount(), 1u);
}

TEST(HttpClientCookies, AreSentBackOnLaterCalls) {
    TTestHttpServer server;
    server.Route("/login", Reply(200, "in",
                                 {{"Set-Cookie", "sid=abc123; Path=/; HttpOnly"},
                                  {"Set-Cookie", "theme=dark"},
                                  {"Set-Cookie2", "v2=\"two\"; Version=\"1\""}}));
    server.Route("/page", Reply(200, "page"));
    server.Route("/bye", Reply(200, "out", {{"Set-Cookie", "sid=; Max-Age=0"}}));
    server.Route("/moved", Redirect("/page", 302));
    TIdHTTP http;
    EXPECT_EQ(http.Get(server.Url("/login")), "in");
    EXPECT_FALSE(server.Requests()[0].HasHeader("Cookie"));
    EXPECT_EQ(http.Get(server.Url("/page")), "page");
    const TRecordedRequest second = server.Requests()[1];
    EXPECT_EQ(second.Header("Cookie"), "sid=abc123; theme=dark; v2=two");
    EXPECT_NE(second.Raw.find("User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n"
                              "Cookie: sid=abc123; theme=dark; v2=two\r\n\r\n"),
              std::string::npos);

    EXPECT_EQ(http.Get(server.Url("/bye")), "out");
    EXPECT_EQ(http.Get(server.Url("/moved")), "page");
    EXPECT_EQ(server.Requests().back().Header("Cookie"), "theme=dark; v2=two");
    EXPECT_EQ(http.CookieCount(), 2u);
}

TEST(HttpClientCookies, AreTakenFromRedirectsAndFailures) {
    TTestHttpServer server;
    server.Route("/a", Reply(302, "", {{"Location", "/b"}, {"Set-Cookie", "hop=1"}}));
    server.Route("/b", Reply(404, "", {{"Set-Cookie", "err=1"}}));
    server.Route("/c", Reply(200, "c"));
    TIdHTTP http;
    EXPECT_EQ(FailureOf(http, server.Url("/a")), "HTTP/1.1 404 Not Found");
    EXPECT_EQ(server.Requests()[1].Header("Cookie"), "hop=1");
    http.Get(server.Url("/c"));
    EXPECT_EQ(server.Requests()[2].Header("Cookie"), "hop=1; err=1");

    // A body that fails after the head still leaves its cookies.
    server.Route("/stalls", [](const TRecordedRequest&, TTestConnection& c) {
        c.Send("HTTP/1.1 200 OK\r\nSet-Cookie: stalled=1\r\nContent-Length: 10\r\n\r\nabc");
        c.WaitForClientClose();
    });
    http.SetLimits(ShortLimits());
    EXPECT_EQ(FailureOf(http, server.Url("/stalls")), "Read timed out.");
    http.Get(server.Url("/c"));
    EXPECT_EQ(server.Requests().back().Header("Cookie"), "hop=1; err=1; stalled=1");
}

TEST(HttpClientConnection, IsKeptWhenTheAnswerAllows) {
    const struct {
        const char* Name;
        std::string Head;
        int Connections;
    } rows[] = {
        {"1.1", "HTTP/1.1 200 OK\r\n", 1},
        {"1.1 close", "HTTP/1.1 200 OK\r\nConnection: close\r\n", 3},
        {"1.1 Close token", "HTTP/1.1 200 OK\r\nConnection: foo, Close\r\n", 3},
        {"1.0", "HTTP/1.0 200 OK\r\n", 3},
        {"1.0 keep-alive", "HTTP/1.0 200 OK\r\nConnection: Keep-Alive\r\n", 1},
    };
    for (const auto& row : rows) {
        TTestHttpServer server;
        server.Route("/", [&](const TRecordedRequest&, TTestConnection& connection) {
            connection.Send(row.Head + "Content-Length: 2\r\n\r\nok");
        });
        TIdHTTP http;
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(http.Get(server.Url("/")), "ok") << row.Name;
        }
        EXPECT_EQ(server.ConnectionCount(), row.Connections) << row.Name;
    }
}

TEST(HttpClientConnection, StaleKeptConnectionIsRetriedOnce) {
    for (const bool reset : {false, true}) {
        TTestHttpServer server;
        std::atomic<int> onFirst{0};
        server.Route("/", [&](const TRecordedRequest& request, TTestConnection& connection) {
            // The first connection dies on its second request, as an idle server drops it.
            if (request.Connection == 1 && ++onFirst == 2) {
                reset ? connection.Reset() : connection.Close();
                return;
            }
            connection.Send(test::Response(200, "ok"));
        });
        TIdHTTP http;
        EXPECT_EQ(http.Get(server.Url("/")), "ok");
        EXPECT_EQ(http.Get(server.Url("/")), "ok") << "reset " << reset;
        EXPECT_EQ(server.ConnectionCount(), 2);
        EXPECT_EQ(server.RequestCount(), 3u);
    }
}

TEST(HttpClientConnection, FreshConnectionClosedOrResetFails) {
    TTestHttpServer server;
    server.Route("/close", [](const TRecordedRequest&, TTestConnection& c) { c.Close(); });
    server.Route("/cut", ReplyRaw("HTTP/1.1 200 OK\r\nContent-Le"));
    server.Route("/reset", [](const TRecordedRequest&, TTestConnection& c) {
        c.Send("HTTP/1.1 200 OK\r\nContent-");
        c.Pause(50);
        c.Reset();
    });
    TIdHTTP http;
    EXPECT_EQ(FailureOf(http, server.Url("/close")), "Connection Closed Gracefully.");
    EXPECT_EQ(FailureOf(http, server.Url("/cut")), "Connection Closed Gracefully.");
    EXPECT_EQ(FailureOf(http, server.Url("/reset")),
              "Socket Error # 10054\r\nConnection reset by peer.");
    EXPECT_EQ(server.RequestCount(), 3u); // no retry on a fresh connection
}

TEST(HttpClientConnection, AnotherHostClosesTheKeptOne) {
    TTestHttpServer first;
    TTestHttpServer second;
    first.Route("/", Reply(200, "1"));
    second.Route("/", Reply(200, "2"));
    TIdHTTP http;
    EXPECT_EQ(http.Get(first.Url("/")), "1");
    EXPECT_EQ(http.Get(second.Url("/")), "2");
    EXPECT_EQ(http.Get(first.Url("/")), "1");
    EXPECT_EQ(first.ConnectionCount(), 2);
    EXPECT_EQ(second.ConnectionCount(), 1);
}

TEST(HttpClientConnection, Ipv6Loopback) {
    TTestHttpServer server(TTestHttpServer::TFamily::Ipv6);
    server.Route("/six", Reply(200, "v6"));
    TIdHTTP http;
    EXPECT_EQ(http.Get("http://[::1]:" + std::to_string(server.Port()) + "/six"), "v6");
    EXPECT_EQ(server.Requests().at(0).Header("Host"), "[::1]:" + std::to_string(server.Port()));
}

TEST(HttpClientFailure, SocketErrorsCarryTheirNumbers) {
    TIdHTTP http;
    EXPECT_EQ(FailureOf(http, "http://127.0.0.1:" + std::to_string(test::UnusedLoopbackPort())),
              "Socket Error # 10061\r\nConnection refused.");
    EXPECT_EQ(FailureOf(http, "http://no-such-host.invalid/"),
              "Socket Error # 11001\r\nHost not found.");
}

TEST(HttpClientFailure, ConnectLimit) {
    test::TUnansweredListener listener;
    TIdHTTP http;
    EXPECT_EQ(http.ConnectTimeout(), 0);
    http.SetConnectTimeout(200);
    EXPECT_EQ(http.ConnectTimeout(), 200);
    EXPECT_EQ(FailureOf(http, listener.Url("/")), "Connect timed out.");
}

TEST(HttpClientFailure, SilentAndDribblingServersTimeOut) {
    TTestHttpServer server;
    server.Route("/silent",
                 [](const TRecordedRequest&, TTestConnection& c) { c.WaitForClientClose(); });
    server.Route("/silent-body", [](const TRecordedRequest&, TTestConnection& c) {
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc");
        c.WaitForClientClose();
    });
    server.Route("/dribble-head", [](const TRecordedRequest&, TTestConnection& c) {
        c.Dribble("HTTP/1.1 200 OK\r\n" + std::string(100000, 'X'), 1, 20);
    });
    server.Route("/endless", [](const TRecordedRequest&, TTestConnection& c) {
        const std::string block(64 * 1024, 'z');
        c.Send("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n");
        while (c.Send(block)) {
        }
    });
    server.Route("/slow-but-alive", [](const TRecordedRequest&, TTestConnection& c) {
        c.Dribble(test::Response(200, "patience"), 7, 40);
    });
    TIdHTTP http;
    http.SetLimits(ShortLimits());
    for (const char* path : {"/silent", "/silent-body", "/dribble-head", "/endless"}) {
        EXPECT_EQ(FailureOf(http, server.Url(path)), "Read timed out.") << path;
    }
    EXPECT_EQ(http.Get(server.Url("/slow-but-alive")), "patience");
}

// Cancel, from another thread, ends whatever the request waits for at once, with a failure of
// its own; every later request fails the same way without touching the network.
TEST(HttpClientFailure, CancelBreaksOffEveryWaitAndStays) {
    TTestHttpServer server;
    server.Route("/silent",
                 [](const TRecordedRequest&, TTestConnection& c) { c.WaitForClientClose(); });
    server.Route("/head-then-silent", [](const TRecordedRequest&, TTestConnection& c) {
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc");
        c.WaitForClientClose();
    });
    server.Route("/dribble", [](const TRecordedRequest&, TTestConnection& c) {
        c.Dribble(test::Response(200, std::string(100000, 'x')), 1, 50);
    });
    test::TUnansweredListener neverAccepts; // the connect itself waits
    for (const std::string& url : {server.Url("/silent"), server.Url("/head-then-silent"),
                                   server.Url("/dribble"), neverAccepts.Url()}) {
        SCOPED_TRACE(url);
        TIdHTTP http; // the default limits: 30 s of silence, no connect limit
        std::thread canceller([&http] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            http.Cancel();
        });
        const auto started = std::chrono::steady_clock::now();
        EXPECT_THROW(http.Get(url), THttpCancelled);
        // Far below every limit that would otherwise end the wait.
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
        canceller.join();
        EXPECT_TRUE(http.Cancelled());
        const std::size_t asked = server.RequestCount();
        EXPECT_THROW(http.Get(server.Url("/silent")), THttpCancelled);
        EXPECT_EQ(server.RequestCount(), asked);
    }
}

TEST(HttpClientLimits, OversizedAnswersAreBounded) {
    TTestHttpServer server;
    server.Route("/long-line", [](const TRecordedRequest&, TTestConnection& c) {
        c.Send("HTTP/1.1 200 OK\r\nX-Big: " + std::string(10 * 1024 * 1024, 'a') + "\r\n\r\n");
    });
    server.Route("/many", [](const TRecordedRequest&, TTestConnection& c) {
        std::string head = kOkHead;
        for (int i = 0; i < 100000; ++i) {
            head += "X-" + std::to_string(i) + ": v\r\n";
        }
        c.Send(head + "\r\n");
    });
    const std::string big(3 * 1024 * 1024, 'b');
    server.Route("/big", Reply(200, big));
    server.Route("/big-chunked", [&](const TRecordedRequest&, TTestConnection& c) {
        c.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
        for (int i = 0; i < 3; ++i) {
            c.Send("100000\r\n" + big.substr(0, 0x100000) + "\r\n");
        }
        c.Send("0\r\n\r\n");
    });
    TIdHTTP http;
    EXPECT_EQ(FailureOf(http, server.Url("/long-line")), "Invalid HTTP answer: line too long.");
    EXPECT_EQ(FailureOf(http, server.Url("/many")), "Invalid HTTP answer: header too large.");
    // Only the beginning of a huge body is kept, but all of it is read.
    EXPECT_EQ(http.Get(server.Url("/big")), big.substr(0, THttpParserLimits{}.MaxBodyKept));
    EXPECT_EQ(http.Get(server.Url("/big-chunked")), big.substr(0, THttpParserLimits{}.MaxBodyKept));
    EXPECT_EQ(server.ConnectionCount(), 3); // the big answers left the connection usable
}

TEST(HttpClientConcurrency, CallsAreServedOneAtATime) {
    TTestHttpServer server;
    std::atomic<int> inFlight{0};
    std::atomic<int> most{0};
    server.SetFallback([&](const TRecordedRequest& request, TTestConnection& c) {
        const int now = ++inFlight;
        most = std::max(most.load(), now);
        c.Pause(20);
        --inFlight;
        c.Send(test::Response(200, request.Path));
    });
    TIdHTTP http;
    http.SetConnectTimeout(5000);
    std::vector<std::thread> threads;
    std::atomic<int> good{0};
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 5; ++i) {
                const std::string path = "/t" + std::to_string(t) + "-" + std::to_string(i);
                if (t == 2) {
                    if (http.Post(server.Url(path), {{"k", "v"}}) == path) {
                        ++good;
                    }
                } else if (http.Get(server.Url(path)) == path) {
                    ++good;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(good, 15);
    EXPECT_EQ(most, 1);
    EXPECT_EQ(server.ConnectionCount(), 1);
}

} // namespace
} // namespace qrv::engine
