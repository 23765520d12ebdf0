#include "engine/HttpClient.h"

#include "TestHttpServer.h"
#include "platform/Error.h"

#include <gtest/gtest.h>

namespace qrv::engine {
namespace {

using test::Reply;
using test::TTestHttpServer;

std::string FailureOf(TIdHTTP& http, const std::string& url) {
    try {
        http.Get(url);
    } catch (const qrv::Error& error) {
        return error.what();
    }
    return "(no failure)";
}

TEST(HttpClientGet, ReturnsBody) {
    TTestHttpServer server;
    server.Route("/", Reply(200, "hello"));
    TIdHTTP http;
    EXPECT_EQ(http.Get(server.Url("/")), "hello");
    EXPECT_EQ(FailureOf(http, server.Url("/missing")), "HTTP/1.1 404 Not Found");
}

} // namespace
} // namespace qrv::engine
