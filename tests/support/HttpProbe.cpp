// A process of its own around one HTTP client, for what a test cannot see from inside its own
// process: which libraries are mapped, and a name lookup stalled by an LD_PRELOAD shim.
// Each argument is one step, run in order, each printing one line:
//   https=on|off, connect-limit=MS, request-limit=MS, cancel-after=MS (from a second thread),
//   maps ("tls-mapped=0|1": whether OpenSSL or the TLS module is mapped), or an address to
//   fetch ("ok <bytes> ms=<elapsed>", "error <message> ms=...", "cancelled ms=...").

#include "engine/http/HttpClient.h"
#include "platform/Error.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

bool TlsMapped() {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        if (line.find("libssl") != std::string::npos ||
            line.find("libcrypto") != std::string::npos ||
            line.find("qrv_tls") != std::string::npos) {
            return true;
        }
    }
    return false;
}

std::string OneLine(std::string text) {
    for (auto& c : text) {
        if (c == '\r' || c == '\n') {
            c = '|';
        }
    }
    return text;
}

} // namespace

int main(int argc, char** argv) {
    qrv::engine::TIdHTTP http;
    std::vector<std::thread> cancellers;
    for (int i = 1; i < argc; ++i) {
        const std::string step = argv[i];
        const auto value = [&step] { return std::stoi(step.substr(step.find('=') + 1)); };
        if (step == "https=on" || step == "https=off") {
            http.SetHttpsEnabled(step == "https=on");
        } else if (step.starts_with("connect-limit=")) {
            http.SetConnectTimeout(value());
        } else if (step.starts_with("request-limit=")) {
            auto limits = http.Limits();
            limits.RequestLimitMs = value();
            http.SetLimits(limits);
        } else if (step.starts_with("cancel-after=")) {
            const int ms = value();
            cancellers.emplace_back([&http, ms] {
                std::this_thread::sleep_for(std::chrono::milliseconds(ms));
                http.Cancel();
            });
        } else if (step == "maps") {
            std::printf("tls-mapped=%d\n", TlsMapped() ? 1 : 0);
        } else {
            const auto started = std::chrono::steady_clock::now();
            std::string outcome;
            try {
                outcome = "ok " + std::to_string(http.Get(step).size());
            } catch (const qrv::engine::THttpCancelled&) {
                outcome = "cancelled";
            } catch (const qrv::Error& error) {
                outcome = "error " + OneLine(error.what());
            }
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - started)
                                .count();
            std::printf("%s ms=%lld\n", outcome.c_str(), static_cast<long long>(ms));
        }
        std::fflush(stdout);
    }
    for (auto& canceller : cancellers) {
        canceller.join();
    }
    return 0;
}
