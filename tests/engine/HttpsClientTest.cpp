// The client over TLS, against real TLS servers on loopback whose certificates come from a CA
// made at test time (trusted through SSL_CERT_FILE), and in probe processes for what one
// process cannot see of itself.

#include "engine/http/HttpClient.h"
#include "engine/http/HttpUrl.h"
#include "engine/http/TlsTransport.h"

#include "TestHttpServer.h"
#include "TestTls.h"
#include "platform/Error.h"

#include <gtest/gtest.h>

#include <openssl/ssl.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <sys/wait.h>
#include <thread>

namespace qrv::engine {
namespace {

using test::Redirect;
using test::Reply;
using test::SharedTestCa;
using test::TTestHttpServer;
using test::TTestTlsServer;
using test::TTlsServerOptions;
using TMode = TTlsServerOptions::TMode;
using namespace std::chrono_literals;

std::string FailureOf(TIdHTTP& http, const std::string& url) {
    try {
        http.Get(url);
    } catch (const qrv::Error& error) {
        return error.what();
    }
    return "(no failure)";
}

std::chrono::milliseconds Elapsed(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 since);
}

THttpLimits Limits(int silenceMs, int requestMs = 10000) {
    THttpLimits limits;
    limits.ReadSilenceMs = silenceMs;
    limits.RequestLimitMs = requestMs;
    return limits;
}

TTlsServerOptions ServerWith(const test::TTestCertificate& certificate, int backendPort,
                             TMode mode = TMode::Tls) {
    TTlsServerOptions options;
    options.Certificate = certificate;
    options.BackendPort = backendPort;
    options.Mode = mode;
    return options;
}

class HttpsClient : public ::testing::Test {
protected:
    HttpsClient() { http.SetHttpsEnabled(true); }

    TTlsServerOptions Options(TMode mode = TMode::Tls) {
        return ServerWith(SharedTestCa().Issue({"localhost", "127.0.0.1"}), backend.Port(), mode);
    }

    TTestHttpServer backend; // what the TLS servers pass the plain bytes to
    TIdHTTP http;
};

TEST(HttpsUrl, DefaultPortIs443AndStaysOutOfTheHostHeader) {
    EXPECT_EQ(ParseHttpUrl("https://example.org/a").Port, 443);
    EXPECT_EQ(ParseHttpUrl("https://example.org/a").HostHeader(), "example.org");
    EXPECT_EQ(ParseHttpUrl("https://example.org:80/").HostHeader(), "example.org:80");
    EXPECT_EQ(ParseHttpUrl("http://example.org:443/").HostHeader(), "example.org:443");
}

// The same request bytes, parser and status rules as over plain http; names get SNI and are
// checked against the certificate's names, addresses against its IP entries.
TEST_F(HttpsClient, PagesAndFailingAnswersReadAsOverHttp) {
    backend.Route("/", Reply(200, "hello over tls", {{"Content-Type", "text/html"}}));
    backend.Route("/missing", Reply(404, "not here"));
    TTestTlsServer tls(Options());
    EXPECT_EQ(http.Get(tls.Url("/")), "hello over tls");
    EXPECT_EQ(http.Get(tls.Url("/", "localhost")), "hello over tls");
    EXPECT_EQ(FailureOf(http, tls.Url("/missing")), "HTTP/1.1 404 Not Found");
    const auto requests = backend.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].Raw, "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(tls.Port()) +
                                   "\r\nAccept: text/html, */*\r\nUser-Agent: Mozilla/3.0 "
                                   "(compatible; Indy Library)\r\n\r\n");
    EXPECT_EQ(requests[1].Header("Host"), "localhost:" + std::to_string(tls.Port()));
}

struct TFailureRow {
    const char* Name;
    std::function<TTlsServerOptions(int backendPort)> Server;
    const char* Host;
    std::function<std::string(const TTlsServerOptions&)> Expected;
};

std::string Fixed(const char* text) {
    return text;
}

const TFailureRow kFailureRows[] = {
    {"expired",
     [](int port) {
         const std::time_t now = std::time(nullptr);
         return ServerWith(SharedTestCa().Issue({"127.0.0.1"}, now - 10 * 86400, now - 86400),
                           port);
     },
     "127.0.0.1",
     [](const TTlsServerOptions& o) {
         return "SSL certificate has expired (not after " + test::UtcText(o.Certificate.NotAfter) +
                ")";
     }},
    {"not yet valid",
     [](int port) {
         const std::time_t now = std::time(nullptr);
         return ServerWith(SharedTestCa().Issue({"127.0.0.1"}, now + 86400, now + 10 * 86400),
                           port);
     },
     "127.0.0.1",
     [](const TTlsServerOptions&) { return Fixed("SSL certificate is not yet valid"); }},
    {"another host, by name",
     [](int port) { return ServerWith(SharedTestCa().Issue({"example.org"}), port); }, "localhost",
     [](const TTlsServerOptions&) {
         return Fixed("SSL certificate does not match the host name 'localhost'");
     }},
    {"another address",
     [](int port) {
         return ServerWith(SharedTestCa().Issue({"localhost", "127.0.0.2"}), port);
     },
     "127.0.0.1",
     [](const TTlsServerOptions&) {
         return Fixed("SSL certificate does not match the host name '127.0.0.1'");
     }},
    {"self-signed",
     [](int port) {
         return ServerWith(SharedTestCa().Issue({"127.0.0.1"}, 0, 0, /*selfSigned=*/true), port);
     },
     "127.0.0.1",
     [](const TTlsServerOptions&) {
         return Fixed(
             "SSL certificate is not trusted (self-signed, or issued by an unknown authority)");
     }},
    {"TLS 1.0 only",
     [](int port) {
         auto options = ServerWith(SharedTestCa().Issue({"127.0.0.1"}), port);
         options.MinVersion = TLS1_VERSION;
         options.MaxVersion = TLS1_VERSION;
         options.Ciphers = "DEFAULT@SECLEVEL=0";
         return options;
     },
     "127.0.0.1", [](const TTlsServerOptions&) { return Fixed("SSL handshake failed: "); }},
    {"closed during the handshake",
     [](int port) { return ServerWith({}, port, TMode::CloseInHandshake); }, "127.0.0.1",
     [](const TTlsServerOptions&) { return Fixed("Connection Closed Gracefully."); }},
};

TEST_F(HttpsClient, CertificateAndHandshakeFailuresAreNamed) {
    backend.Route("/", Reply(200, "should not be read"));
    for (const auto& row : kFailureRows) {
        SCOPED_TRACE(row.Name);
        const TTlsServerOptions options = row.Server(backend.Port());
        TTestTlsServer tls(options);
        const std::string failure = FailureOf(http, tls.Url("/", row.Host));
        const std::string expected = row.Expected(options);
        if (expected.ends_with(": ")) {
            EXPECT_TRUE(failure.starts_with(expected) && failure.size() > expected.size())
                << failure;
        } else {
            EXPECT_EQ(failure, expected);
        }
    }
    EXPECT_EQ(backend.RequestCount(), 0u);
}

// http -> https -> http: a Secure cookie set over https goes back over https only.
TEST_F(HttpsClient, RedirectsCrossSchemesAndSecureCookiesStayOnHttps) {
    TTestHttpServer plain;
    TTestTlsServer tls(Options());
    plain.Route("/start", Redirect(tls.Url("/secure")));
    backend.Route("/secure", [&](const test::TRecordedRequest&, test::TTestConnection& c) {
        c.Send("HTTP/1.1 302 Found\r\nLocation: " + plain.Url("/end") +
               "\r\nSet-Cookie: token=s3cret; Secure\r\nSet-Cookie: plain=1\r\n"
               "Content-Length: 0\r\n\r\n");
    });
    plain.Route("/end", Reply(200, "done"));
    backend.Route("/again", Reply(200, "again"));
    EXPECT_EQ(http.Get(plain.Url("/start")), "done");
    EXPECT_EQ(http.Get(plain.Url("/end")), "done");
    EXPECT_EQ(http.Get(tls.Url("/again")), "again");
    const auto overHttp = plain.Requests();
    ASSERT_EQ(overHttp.size(), 3u);
    EXPECT_EQ(overHttp[1].Header("Cookie"), "plain=1");
    EXPECT_EQ(overHttp[2].Header("Cookie"), "plain=1");
    const auto overHttps = backend.Requests();
    ASSERT_EQ(overHttps.size(), 2u);
    EXPECT_EQ(overHttps[1].Header("Cookie"), "token=s3cret; plain=1");
}

TEST_F(HttpsClient, KeptConnectionIsReusedPerSchemeHostAndPort) {
    backend.Route("/", Reply(200, "again and again"));
    TTestTlsServer tls(Options());
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(http.Get(tls.Url("/")), "again and again");
    }
    EXPECT_EQ(tls.HandshakeCount(), 1);
    EXPECT_EQ(backend.ConnectionCount(), 1);
    // Another host name for the same address and port is another connection.
    EXPECT_EQ(http.Get(tls.Url("/", "localhost")), "again and again");
    EXPECT_EQ(tls.HandshakeCount(), 2);
    // A server that drops the idle connection gets a fresh handshake, not a failure.
    backend.Route("/close", [](const test::TRecordedRequest&, test::TTestConnection& c) {
        c.Send(test::Response(200, "bye"));
        c.Close();
    });
    EXPECT_EQ(http.Get(tls.Url("/close", "localhost")), "bye");
    EXPECT_EQ(http.Get(tls.Url("/", "localhost")), "again and again");
    EXPECT_EQ(tls.HandshakeCount(), 3);
}

// A server that accepts and never answers the handshake: the silence limit, the connect limit
// and Cancel each end it.
TEST_F(HttpsClient, StalledHandshakeEndsByEveryLimitAndByCancel) {
    TTestTlsServer stall(Options(TMode::Stall));
    {
        TIdHTTP client;
        client.SetHttpsEnabled(true);
        client.SetLimits(Limits(400));
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(FailureOf(client, stall.Url()), "Read timed out.");
        EXPECT_GE(Elapsed(started), 350ms);
        EXPECT_LT(Elapsed(started), 3000ms);
    }
    {
        TIdHTTP client;
        client.SetHttpsEnabled(true);
        client.SetLimits(Limits(30000));
        client.SetConnectTimeout(400);
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(FailureOf(client, stall.Url()), "Connect timed out.");
        EXPECT_LT(Elapsed(started), 3000ms);
    }
    {
        TIdHTTP client; // default limits: 30 s of silence
        client.SetHttpsEnabled(true);
        std::thread canceller([&client] {
            std::this_thread::sleep_for(200ms);
            client.Cancel();
        });
        const auto started = std::chrono::steady_clock::now();
        EXPECT_THROW(client.Get(stall.Url()), THttpCancelled);
        EXPECT_LT(Elapsed(started), 2000ms);
        canceller.join();
    }
    EXPECT_EQ(stall.ConnectionCount(), 3);
}

TEST_F(HttpsClient, SwitchedOffNothingIsSent) {
    TIdHTTP off;
    TTestTlsServer tls(Options());
    TTestHttpServer plain;
    plain.Route("/", Redirect(tls.Url("/")));
    EXPECT_EQ(FailureOf(off, tls.Url("/")), "IOHandler value is not valid");
    EXPECT_EQ(FailureOf(off, plain.Url("/")), "IOHandler value is not valid");
    EXPECT_EQ(tls.ConnectionCount(), 0);
}

// --- probe processes --------------------------------------------------------------------

struct TProbeRun {
    std::string Output;
    int Status = -1;
};

TProbeRun RunProbe(const std::string& environment, const std::string& steps) {
    const std::string command = "env " + environment + " '" QRV_HTTP_PROBE "' " + steps + " 2>&1";
    TProbeRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return run;
    }
    std::array<char, 4096> buffer{};
    while (std::fgets(buffer.data(), static_cast<int>(buffer.size()), pipe) != nullptr) {
        run.Output += buffer.data();
    }
    run.Status = ::pclose(pipe);
    return run;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

int MsOf(const std::string& line) {
    const std::size_t at = line.rfind(" ms=");
    return at == std::string::npos ? -1 : std::stoi(line.substr(at + 4));
}

std::string Outcome(const std::string& line) {
    return line.substr(0, line.rfind(" ms="));
}

// OpenSSL and the trust store are loaded at the first https fetch, not before: not at start,
// not for plain http, not for an https address refused while the switch is off.
TEST_F(HttpsClient, NothingOfTlsIsMappedBeforeTheFirstHttpsFetch) {
    backend.Route("/", Reply(200, "four"));
    TTestTlsServer tls(Options());
    const std::string plain = backend.Url("/");
    const auto run = RunProbe("SSL_CERT_FILE=" + SharedTestCa().CaFile(),
                              "maps " + plain + " maps " + tls.Url("/") + " maps https=on " +
                                  tls.Url("/") + " maps");
    const auto lines = Lines(run.Output);
    ASSERT_EQ(lines.size(), 7u) << run.Output;
    EXPECT_EQ(lines[0], "tls-mapped=0");
    EXPECT_EQ(Outcome(lines[1]), "ok 4");
    EXPECT_EQ(lines[2], "tls-mapped=0");
    EXPECT_EQ(Outcome(lines[3]), "error IOHandler value is not valid");
    EXPECT_EQ(lines[4], "tls-mapped=0");
    EXPECT_EQ(Outcome(lines[5]), "ok 4");
    EXPECT_EQ(lines[6], "tls-mapped=1");
}

// The module is looked for beside an installed program first (<exe dir>/../lib/quorvane/);
// one that cannot be loaded is a failed fetch that says so.
TEST_F(HttpsClient, ModuleBesideAnInstalledProgram) {
    backend.Route("/", Reply(200, "four"));
    TTestTlsServer tls(Options());
    namespace fs = std::filesystem;
    const fs::path root = fs::path(SharedTestCa().Dir()) / "installed";
    fs::create_directories(root / "bin");
    fs::create_directories(root / "lib/quorvane");
    fs::copy_file(QRV_HTTP_PROBE, root / "bin/probe", fs::copy_options::overwrite_existing);
    const fs::path module = root / "lib/quorvane/qrv_tls.so";
    const std::string steps = "https=on " + tls.Url("/");
    const std::string environment = "SSL_CERT_FILE=" + SharedTestCa().CaFile();
    const auto runInstalled = [&] {
        const std::string command =
            "env " + environment + " '" + (root / "bin/probe").string() + "' " + steps;
        FILE* pipe = ::popen(command.c_str(), "r");
        std::array<char, 4096> buffer{};
        std::string out;
        while (pipe != nullptr && std::fgets(buffer.data(), 4096, pipe) != nullptr) {
            out += buffer.data();
        }
        if (pipe != nullptr) {
            ::pclose(pipe);
        }
        return Outcome(out.substr(0, out.find('\n')));
    };
    {
        std::FILE* junk = std::fopen(module.c_str(), "w");
        ASSERT_NE(junk, nullptr);
        std::fputs("not a shared object", junk);
        std::fclose(junk);
    }
    EXPECT_TRUE(runInstalled().starts_with("error SSL library not available: "));
    fs::remove(module);
    fs::copy_file(TlsModulePath(), module); // this process finds it in the build tree
    EXPECT_EQ(runInstalled(), "ok 4");
    fs::remove_all(root);
}

// A name lookup that never answers (an LD_PRELOAD shim stalls getaddrinfo) holds neither
// Cancel nor the limits.
TEST(HttpResolve, StalledLookupEndsByLimitsAndCancel) {
    const std::string environment = std::string("LD_PRELOAD='") + QRV_STALL_RESOLVER +
                                    "' ASAN_OPTIONS=verify_asan_link_order=0";
    const struct {
        const char* Steps;
        const char* Outcome;
        int AtLeastMs;
        int BelowMs;
        const char* Then = "";
    } rows[] = {
        {"connect-limit=600 http://host.stall.test/", "error Connect timed out.", 550, 2500},
        {"request-limit=600 http://host.stall.test/", "error Connect timed out.", 550, 2500},
        {"cancel-after=300 http://host.stall.test/", "cancelled", 250, 2000},
        // After a lookup given up, the client still works: here for a number, not a name.
        {"connect-limit=300 http://host.stall.test/ http://127.0.0.1:1/",
         "error Connect timed out.", 250, 2300, "error Socket Error # 10061||Connection refused."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Steps);
        const auto run = RunProbe(environment, row.Steps);
        const auto lines = Lines(run.Output);
        ASSERT_FALSE(lines.empty()) << run.Output;
        EXPECT_EQ(Outcome(lines[0]), row.Outcome) << run.Output;
        EXPECT_GE(MsOf(lines[0]), row.AtLeastMs);
        EXPECT_LT(MsOf(lines[0]), row.BelowMs);
        if (*row.Then != '\0') {
            ASSERT_EQ(lines.size(), 2u) << run.Output;
            EXPECT_EQ(Outcome(lines[1]), row.Then);
        }
        EXPECT_TRUE(WIFEXITED(run.Status) && WEXITSTATUS(run.Status) == 0) << run.Output;
    }
}

} // namespace
} // namespace qrv::engine
