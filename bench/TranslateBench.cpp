// The catalogue lookup beside glibc's dgettext on the same Czech catalogue.
//
//   TranslateBench [benchmark options]
//
// The catalogue is the build's compiled Czech one (../resources/locale/cs/LC_MESSAGES/default.mo
// from this program's folder) or the file named by QRV_CS_MO. glibc needs a locale that is not
// "C" to honour LANGUAGE, so it runs under C.UTF-8 with LANGUAGE=cs.
#include "i18n/CatalogueService.h"
#include "platform/Paths.h"

#include <benchmark/benchmark.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <libintl.h>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kHits = {"Waiting...",
                                        "Checking...",
                                        "Processing %s...",
                                        "Completed with no errors.",
                                        "Unable to load '%s'",
                                        "  Server",
                                        "Url",
                                        "Save && use",
                                        "Verify URL",
                                        "Wrong response '%s': %s"};
const std::vector<std::string> kMisses = {"Completed with %s errors!", "Name", "LoadTime", "Result",
                                          "Not a catalogue text at all"};

struct TFixture {
    fs::path Dir;
    std::unique_ptr<qrv::i18n::TCatalogueService> Service;
    bool Ready = false;
};

TFixture& Fixture() {
    static TFixture fixture = [] {
        TFixture f;
        const char* env = std::getenv("QRV_CS_MO");
        const fs::path mo = env ? fs::path(env)
                                : fs::path(qrv::platform::ExecutableDir()) /
                                      "../resources/locale/cs/LC_MESSAGES/default.mo";
        if (!fs::exists(mo)) {
            std::fprintf(stderr, "no Czech catalogue at %s (set QRV_CS_MO)\n", mo.c_str());
            return f;
        }
        f.Dir = fs::temp_directory_path() / ("qrv-bench-" + std::to_string(::getpid()));
        fs::create_directories(f.Dir / "locale/cs/LC_MESSAGES");
        fs::copy_file(mo, f.Dir / "locale/cs/LC_MESSAGES/default.mo",
                      fs::copy_options::overwrite_existing);

        f.Service = std::make_unique<qrv::i18n::TCatalogueService>(
            qrv::i18n::TCatalogueSetup{f.Dir.string(), "", 0, "cs", ""});

        ::setenv("LANGUAGE", "cs", 1);
        if (!std::setlocale(LC_ALL, "C.UTF-8")) {
            std::fprintf(stderr, "C.UTF-8 locale missing: dgettext will not translate\n");
        }
        ::bindtextdomain("default", (f.Dir / "locale").c_str());
        ::bind_textdomain_codeset("default", "UTF-8");
        f.Ready = true;
        return f;
    }();
    return fixture;
}

bool Check(benchmark::State& state) {
    TFixture& f = Fixture();
    if (!f.Ready) {
        state.SkipWithError("no catalogue");
        return false;
    }
    // Both must really translate, or the comparison means nothing.
    if (f.Service->TranslateText("Waiting...") != "Čekám..." ||
        std::string(::dgettext("default", "Waiting...")) != "Čekám...") {
        state.SkipWithError("a lookup does not translate");
        return false;
    }
    return true;
}

void BM_TranslateTextHit(benchmark::State& state) {
    if (!Check(state)) {
        return;
    }
    auto& service = *Fixture().Service;
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(service.TranslateText(kHits[i++ % kHits.size()]));
    }
}

void BM_DgettextHit(benchmark::State& state) {
    if (!Check(state)) {
        return;
    }
    std::size_t i = 0;
    for (auto _ : state) {
        // The same work as the service's result: a string the caller owns.
        benchmark::DoNotOptimize(
            std::string(::dgettext("default", kHits[i++ % kHits.size()].c_str())));
    }
}

void BM_TranslateTextMiss(benchmark::State& state) {
    if (!Check(state)) {
        return;
    }
    auto& service = *Fixture().Service;
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(service.TranslateText(kMisses[i++ % kMisses.size()]));
    }
}

void BM_DgettextMiss(benchmark::State& state) {
    if (!Check(state)) {
        return;
    }
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            std::string(::dgettext("default", kMisses[i++ % kMisses.size()].c_str())));
    }
}

void BM_TranslateTextMultiLine(benchmark::State& state) {
    if (!Check(state)) {
        return;
    }
    auto& service = *Fixture().Service;
    const std::string text = "Socket Error # 10061\r\nConnection refused.\r\nThird line";
    for (auto _ : state) {
        benchmark::DoNotOptimize(service.TranslateText(text));
    }
}

// Selecting a language and the first lookup, which opens and checks the catalogue.
void BM_SelectAndOpen(benchmark::State& state) {
    if (!Check(state)) {
        return;
    }
    auto& service = *Fixture().Service;
    for (auto _ : state) {
        service.SelectLanguage("cs");
        benchmark::DoNotOptimize(service.TranslateText("Waiting..."));
    }
}

} // namespace

BENCHMARK(BM_TranslateTextHit)->ThreadRange(1, 2);
BENCHMARK(BM_DgettextHit)->ThreadRange(1, 2);
BENCHMARK(BM_TranslateTextMiss);
BENCHMARK(BM_DgettextMiss);
BENCHMARK(BM_TranslateTextMultiLine);
BENCHMARK(BM_SelectAndOpen);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!Fixture().Dir.empty()) {
        std::error_code ec;
        fs::remove_all(Fixture().Dir, ec);
    }
    return 0;
}
