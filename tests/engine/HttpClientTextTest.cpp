// Addresses and answers beyond plain ASCII, through the real client and a loopback server.
#include "engine/http/HttpClient.h"

#include "TestHttpServer.h"
#include "platform/Error.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace qrv::engine {
namespace {

using test::Redirect;
using test::Reply;
using test::ReplyRaw;
using test::TTestHttpServer;

TEST(HttpClientText, AddressesBeyondAsciiAreSentEscaped) {
    TTestHttpServer server;
    server.Route("/caf%C3%A9", Redirect("/p\xC5\x99\xC3\xADklad/{|}?q=\xC3\xA9"));
    server.Route("/p%C5%99%C3%ADklad/{|}", Reply(200, "ok"));
    TIdHTTP http;
    EXPECT_EQ(http.Get(server.Url("/caf\xC3\xA9")), "ok");
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].Target, "/caf%C3%A9");
    EXPECT_EQ(requests[1].Target, "/p%C5%99%C3%ADklad/{|}?q=%C3%A9");
    for (const auto& request : requests) {
        EXPECT_TRUE(std::all_of(request.Raw.begin(), request.Raw.end(), [](char c) {
            return static_cast<unsigned char>(c) < 0x80;
        })) << request.Raw;
    }
}

TEST(HttpClientText, AnswersReadAsCurlReadsThem) {
    const struct {
        const char* Name;
        std::string Answer;
        const char* Body;    // what Get returns, or
        const char* Failure; // the message it fails with
    } rows[] = {
        {"status line in Latin-1", "HTTP/1.1 404 Nenalezeno \xE9\r\nContent-Length: 0\r\n\r\n",
         nullptr, "HTTP/1.1 404 Nenalezeno \xC3\xA9"},
        {"status line in UTF-8",
         "HTTP/1.1 503 Slu\xC5\xBE"
         "ba\r\nContent-Length: 0\r\n\r\n",
         nullptr,
         "HTTP/1.1 503 Slu\xC5\xBE"
         "ba"},
        {"header without a name", "HTTP/1.1 200 OK\r\n: v\r\nContent-Length: 2\r\n\r\nup", "up",
         nullptr},
        {"chunk size past 2^64",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10000000000000003\r\nabc\r\n"
         "0\r\n\r\n",
         nullptr, "Invalid HTTP answer: bad chunk size."},
    };
    for (const auto& row : rows) {
        TTestHttpServer server;
        server.Route("/", ReplyRaw(row.Answer));
        TIdHTTP http;
        std::string body;
        std::string failure;
        try {
            body = http.Get(server.Url("/"));
        } catch (const qrv::Error& error) {
            failure = error.what();
        }
        EXPECT_EQ(body, row.Body != nullptr ? row.Body : "") << row.Name;
        EXPECT_EQ(failure, row.Failure != nullptr ? row.Failure : "") << row.Name;
    }
}

} // namespace
} // namespace qrv::engine
