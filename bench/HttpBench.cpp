// The HTTP client fetching from a real nginx on loopback, beside curl fetching the same
// addresses in the same run; the https rows go through the tests' TLS server in front of the
// same nginx (a CA made at start, trusted through SSL_CERT_FILE by both clients). curl runs as a
// new process per fetch, so "/empty" shows its start-up cost, and its processor time is reported as
// curl_cpu_ms. `HttpBench --peak-memory` instead fetches a 1 GiB body once and prints the peak
// resident memory before and after, to show that memory stays bounded.
#include "TestTls.h"
#include "engine/http/HttpClient.h"
#include "tests/engine/NginxServer.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using qrv::test::TNginxServer;

TNginxServer& Nginx() {
    static const std::unique_ptr<TNginxServer> nginx = [] {
        auto server = std::make_unique<TNginxServer>("");
        server->WriteFile("empty", "");
        server->WritePatternFile("1k", 1024);
        server->WritePatternFile("1m", 1024 * 1024);
        server->WritePatternFile("64m", 64 * 1024 * 1024);
        return server;
    }();
    return *nginx;
}

const char* const kPaths[] = {"/empty", "/1k", "/1m", "/64m"};
const std::int64_t kSizes[] = {0, 1024, 1024 * 1024, 64 * 1024 * 1024};

qrv::test::TTestTlsServer& Tls() {
    static const std::unique_ptr<qrv::test::TTestTlsServer> tls = [] {
        qrv::test::TTlsServerOptions options;
        options.Certificate = qrv::test::SharedTestCa().Issue({"127.0.0.1"});
        options.BackendPort = Nginx().Port();
        return std::make_unique<qrv::test::TTestTlsServer>(options);
    }();
    return *tls;
}

std::string UrlFor(bool https, int row) {
    return https ? Tls().Url(kPaths[row]) : Nginx().Url(kPaths[row]);
}

// range(0): the size row; range(1): 1 for https.
void BM_IdHttpGet(benchmark::State& state) {
    const std::string url = UrlFor(state.range(1) != 0, static_cast<int>(state.range(0)));
    qrv::engine::TIdHTTP http;
    http.SetHttpsEnabled(true);
    for (auto _ : state) {
        benchmark::DoNotOptimize(http.Get(url));
    }
    state.SetBytesProcessed(state.iterations() * kSizes[state.range(0)]);
    state.SetLabel(std::string(state.range(1) != 0 ? "https " : "http ") + kPaths[state.range(0)]);
}

// With https, the /empty row is the time of a fresh handshake (plus one small exchange).
void BM_IdHttpGetFreshClient(benchmark::State& state) {
    const std::string url = UrlFor(state.range(1) != 0, static_cast<int>(state.range(0)));
    for (auto _ : state) {
        qrv::engine::TIdHTTP http; // a new connection every time, as curl has
        http.SetHttpsEnabled(true);
        benchmark::DoNotOptimize(http.Get(url));
    }
    state.SetBytesProcessed(state.iterations() * kSizes[state.range(0)]);
    state.SetLabel(std::string(state.range(1) != 0 ? "https " : "http ") + kPaths[state.range(0)]);
}

void BM_CurlGet(benchmark::State& state) {
    std::string url = UrlFor(state.range(1) != 0, static_cast<int>(state.range(0)));
    std::string curl = "/usr/bin/curl";
    std::string silent = "-s";
    std::string output = "-o";
    std::string devNull = "/dev/null";
    std::string failOnError = "-f";
    std::string caOption = "--cacert";
    std::string caFile = qrv::test::SharedTestCa().CaFile();
    char* argv[] = {curl.data(),   silent.data(),  failOnError.data(),
                    output.data(), devNull.data(), caOption.data(),
                    caFile.data(), url.data(),     nullptr};
    const auto childCpuMs = [] {
        rusage usage{};
        ::getrusage(RUSAGE_CHILDREN, &usage);
        return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
               (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    };
    const double cpuBefore = childCpuMs();
    for (auto _ : state) {
        pid_t pid = 0;
        if (::posix_spawn(&pid, curl.c_str(), nullptr, nullptr, argv, environ) != 0) {
            state.SkipWithError("curl not found");
            return;
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("curl failed");
            return;
        }
    }
    // curl's own processor time; the CPU column above is only ours, waiting for it.
    state.counters["curl_cpu_ms"] =
        benchmark::Counter((childCpuMs() - cpuBefore) / static_cast<double>(state.iterations()));
    state.SetBytesProcessed(state.iterations() * kSizes[state.range(0)]);
    state.SetLabel(std::string(state.range(1) != 0 ? "https " : "http ") + kPaths[state.range(0)]);
}

BENCHMARK(BM_IdHttpGet)
    ->ArgsProduct({{0, 1, 2, 3}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_IdHttpGetFreshClient)
    ->ArgsProduct({{0, 1, 2, 3}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_CurlGet)
    ->ArgsProduct({{0, 1, 2, 3}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

long PeakKiB() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

int PeakMemory() {
    TNginxServer nginx("");
    // A sparse file: 1 GiB of zeros without writing them to disk.
    const std::string path = nginx.Root() + "/1g";
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::ftruncate(fd, std::int64_t{1} << 30) != 0) {
        std::perror("1 GiB file");
        return 1;
    }
    ::close(fd);
    qrv::engine::TIdHTTP http;
    const long before = PeakKiB();
    const std::string body = http.Get(nginx.Url("/1g"));
    const long after = PeakKiB();
    std::printf("1 GiB body: kept %zu bytes; peak resident memory %ld KiB before, %ld KiB "
                "after the fetch\n",
                body.size(), before, after);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--peak-memory") == 0) {
        return PeakMemory();
    }
    qrv::test::SharedTestCa(); // SSL_CERT_FILE, for the client and for curl
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
