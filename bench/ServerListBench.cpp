// Opening and saving the server list file at realistic sizes. Set QRV_BENCH_SAMPLE=<path> to
// also write the 10,000-record file there (for comparing with other XML tools).
#include "engine/ServerList.h"
#include "platform/CodePage.h"
#include "platform/Paths.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

using qrv::engine::TField;
using qrv::engine::TServerList;

// A list as users keep them: names and addresses of some length, statuses and descriptions
// of a mix of outcomes, an expected response on some servers, an accented letter here and there.
std::string MakeListBytes(int count) {
    TServerList list;
    list.CreateEmpty();
    list.SwitchOffJournal();
    for (int i = 0; i < count; ++i) {
        const std::string n = std::to_string((i * 7919) % 100000);
        list.Append();
        list.SetString(TField::Name, "Server " + n + " - shop" + n + ".example.com" +
                                         (i % 10 == 0 ? " (caf\xC3\xA9)" : ""));
        list.SetString(TField::Url,
                       "http://shop" + n + ".example.com/status/health?check=1&full=yes");
        list.SetBoolean(TField::Active, i % 5 != 0);
        switch (i % 4) {
        case 0:
            list.SetString(TField::Status, "OK");
            list.SetString(TField::Result, "OK");
            break;
        case 1:
            list.SetString(TField::Status, "ERR_LOAD");
            list.SetString(TField::Result,
                           "Unable to load: Socket Error # 10061\r\nConnection refused.");
            break;
        case 2:
            list.SetString(TField::Status, "ERR_RESP");
            list.SetString(TField::Result,
                           "Wrong response: <html><head><title>Maintenance</title></head><body>"
                           "Back soon &amp; thanks for waiting</body></html>");
            break;
        default:
            list.SetString(TField::Status, "");
            list.SetString(TField::Result, "Waiting...");
            break;
        }
        list.SetInteger(TField::LoadTime, 100 + i % 900);
        list.SetInteger(TField::Timeout, 3000);
        list.SetBoolean(TField::TimeoutEnabled, i % 3 == 0);
        if (i % 4 == 2) {
            list.SetString(TField::Response, "OK\r\nstatus=up");
            list.SetBoolean(TField::ResponseEnabled, true);
        }
        list.Post();
    }
    return list.SaveToBytes();
}

std::string TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "qrv-bench-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) {
        std::abort();
    }
    return tmpl;
}

void BM_OpenFromBytes(benchmark::State& state) {
    const std::string bytes = MakeListBytes(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        TServerList list;
        list.OpenFromBytes(bytes);
        benchmark::DoNotOptimize(list.RecordCount());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void BM_SaveToBytes(benchmark::State& state) {
    TServerList list;
    list.OpenFromBytes(MakeListBytes(static_cast<int>(state.range(0))));
    std::size_t size = 0;
    for (auto _ : state) {
        const std::string out = list.SaveToBytes();
        size = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

// The whole life of the file at one program run: open it, reset every record to waiting as
// start-up does, and close (which writes it back through a flushed temporary file).
void BM_OpenResetClose(benchmark::State& state) {
    const std::string dir = TempDir();
    const std::string path = dir + "/QRV.xml";
    const std::string bytes = MakeListBytes(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        qrv::platform::WriteFileAtomically(path, bytes);
        state.ResumeTiming();
        TServerList list;
        list.SetFileName(path);
        list.Open();
        list.SwitchOffJournal();
        for (list.First(); !list.Eof(); list.Next()) {
            list.Edit();
            list.SetString(TField::Status, "");
            list.SetString(TField::Result, "Waiting...");
            list.SetInteger(TField::LoadTime, -1);
            list.Post();
        }
        list.Close();
    }
    std::filesystem::remove_all(dir);
}

// Open and save without the reset walk, from and to real files.
void BM_OpenSaveFile(benchmark::State& state) {
    const std::string dir = TempDir();
    const std::string path = dir + "/QRV.xml";
    qrv::platform::WriteFileAtomically(path, MakeListBytes(static_cast<int>(state.range(0))));
    for (auto _ : state) {
        TServerList list;
        list.SetFileName(path);
        list.Open();
        list.SaveToFile(path);
    }
    std::filesystem::remove_all(dir);
}

BENCHMARK(BM_OpenFromBytes)->Arg(1)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SaveToBytes)->Arg(1)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OpenSaveFile)->Arg(1)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OpenResetClose)->Arg(1)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    qrv::platform::SetAnsiCodePage(1252);
    if (const char* sample = std::getenv("QRV_BENCH_SAMPLE")) {
        qrv::platform::WriteFileAtomically(sample, MakeListBytes(10000));
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
