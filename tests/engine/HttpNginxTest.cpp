// The client against a real nginx on loopback: kept connections, chunked answers,
// redirects, cookies and large static bodies as a production server sends them.
#include "engine/http/HttpClient.h"

#include "NginxServer.h"
#include "platform/Error.h"

#include <gtest/gtest.h>

#include <memory>

namespace qrv::engine {
namespace {

const char* const kLocations = R"(
    location = /conn { return 200 "$connection"; }
    location = /conn-close { keepalive_timeout 0; return 200 "$connection"; }
    location = /redirect { return 302 /small.html; }
    location = /redirect-full { return 301 http://127.0.0.1:$PORT/redirect; }
    location = /loop { return 302 /loop; }
    location = /https { return 301 https://127.0.0.1:$PORT/small.html; }
    location = /utf8 { charset utf-8; default_type text/html; return 200 "Žluťoučký kůň"; }
    location = /plain { default_type text/html; return 200 "Žluť"; }
    location = /cookie { add_header Set-Cookie "nx=1; Path=/"; return 200 "set"; }
    location = /echo-cookie { return 200 "[$http_cookie]"; }
    location = /post { return 200 "$request_method $content_type $content_length"; }
    location = /gone { return 410; }
    location /ssi/ { ssi on; }
)";

std::string FailureOf(TIdHTTP& http, const std::string& url) {
    try {
        http.Get(url);
    } catch (const qrv::Error& error) {
        return error.what();
    }
    return "(no failure)";
}

// The head nginx sends for a path, read with a plain socket, to be sure which framing a
// case exercises.
std::string RawHead(int port, const std::string& path) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    std::string answer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        const std::string request =
            "GET " + path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        char buffer[4096];
        ssize_t n = 0;
        while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) {
            answer.append(buffer, static_cast<std::size_t>(n));
        }
    }
    ::close(fd);
    return answer.substr(0, answer.find("\r\n\r\n"));
}

class HttpNginx : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (test::TNginxServer::Binary().empty()) {
            return;
        }
        nginx_ = std::make_unique<test::TNginxServer>(kLocations);
        nginx_->WriteFile("small.html", std::string(1024, 's'));
        nginx_->WriteFile("ssi/page.html",
                          "<p>begin <!--# include virtual=\"/part.html\" --> end</p>");
        nginx_->WriteFile("part.html", "middle");
        nginx_->WritePatternFile("mid.bin", 900 * 1024);
        nginx_->WritePatternFile("big.bin", 5 * 1024 * 1024);
    }
    static void TearDownTestSuite() { nginx_.reset(); }

    void SetUp() override {
        if (!nginx_) {
            GTEST_SKIP() << "nginx is not installed";
        }
    }

    static std::string Pattern(std::size_t size) {
        std::string out(size, '\0');
        for (std::size_t i = 0; i < size; ++i) {
            out[i] = static_cast<char>('a' + i % (1 << 20) % 26);
        }
        return out;
    }

    static std::unique_ptr<test::TNginxServer> nginx_;
};

std::unique_ptr<test::TNginxServer> HttpNginx::nginx_;

TEST_F(HttpNginx, ConnectionIsKeptUnlessTheServerCloses) {
    TIdHTTP http;
    const std::string first = http.Get(nginx_->Url("/conn"));
    EXPECT_EQ(http.Get(nginx_->Url("/small.html")), std::string(1024, 's'));
    EXPECT_EQ(http.Get(nginx_->Url("/conn")), first);

    // Answered on the kept connection, which nginx then ends: each later call opens anew.
    EXPECT_EQ(http.Get(nginx_->Url("/conn-close")), first);
    const std::string next = http.Get(nginx_->Url("/conn-close"));
    EXPECT_NE(next, first);
    EXPECT_NE(http.Get(nginx_->Url("/conn")), next);
}

TEST_F(HttpNginx, ChunkedAnswersAreDecoded) {
    ASSERT_NE(RawHead(nginx_->Port(), "/ssi/page.html").find("Transfer-Encoding: chunked"),
              std::string::npos);
    TIdHTTP http;
    for (int i = 0; i < 3; ++i) { // and the connection stays usable after each
        EXPECT_EQ(http.Get(nginx_->Url("/ssi/page.html")), "<p>begin middle end</p>");
    }
    EXPECT_EQ(http.Get(nginx_->Url("/conn")), http.Get(nginx_->Url("/conn")));
}

TEST_F(HttpNginx, RedirectsAndStatuses) {
    TIdHTTP http;
    EXPECT_EQ(http.Get(nginx_->Url("/redirect")), std::string(1024, 's'));
    EXPECT_EQ(http.Get(nginx_->Url("/redirect-full")), std::string(1024, 's'));
    EXPECT_EQ(http.Get(nginx_->Url("/loop")), "");
    EXPECT_EQ(FailureOf(http, nginx_->Url("/https")), "IOHandler value is not valid");
    EXPECT_EQ(FailureOf(http, nginx_->Url("/missing.html")), "HTTP/1.1 404 Not Found");
    EXPECT_EQ(FailureOf(http, nginx_->Url("/gone")), "HTTP/1.1 410 Gone");
}

TEST_F(HttpNginx, CharsetCookiesAndPost) {
    TIdHTTP http;
    EXPECT_EQ(http.Get(nginx_->Url("/utf8")), "Žluťoučký kůň");
    EXPECT_EQ(http.Get(nginx_->Url("/plain")), "\xC3\x85\xC2\xBDlu\xC3\x85\xC2\xA5");
    EXPECT_EQ(http.Get(nginx_->Url("/echo-cookie")), "[]");
    EXPECT_EQ(http.Get(nginx_->Url("/cookie")), "set");
    EXPECT_EQ(http.Get(nginx_->Url("/echo-cookie")), "[nx=1]");
    EXPECT_EQ(http.Post(nginx_->Url("/post"), {{"application", "quorvane"}, {"v", "0.9.18"}}),
              "POST application/x-www-form-urlencoded 29");
}

TEST_F(HttpNginx, LargeStaticBodies) {
    TIdHTTP http;
    EXPECT_EQ(http.Get(nginx_->Url("/mid.bin")), Pattern(900 * 1024));
    const std::string big = http.Get(nginx_->Url("/big.bin"));
    EXPECT_EQ(big, Pattern(THttpParserLimits{}.MaxBodyKept));
    EXPECT_EQ(http.Get(nginx_->Url("/conn")), http.Get(nginx_->Url("/conn")));
}

} // namespace
} // namespace qrv::engine
