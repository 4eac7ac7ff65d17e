// Settings access on a typical and on a 1 MB Option.ini: single reads and writes, and the full load and save.
#include "BenchFolder.h"
#include "TypicalProfile.h"
#include "settings/CommSettings.h"
#include "settings/Profile.h"

#include <benchmark/benchmark.h>

namespace {

std::string ProfileText(const benchmark::State& state) {
    return state.range(0) == 0 ? TypicalProfileText() : LargeProfileText();
}

void BM_IniReadString(benchmark::State& state) {
    const BenchFolder folder("vell-settings");
    const std::string path = folder.write("Option.ini", ProfileText(state));
    for (auto _ : state) {
        std::string value = IniReadString("COMM", "Port", "COM1", path);
        if (value != "COM3") {
            state.SkipWithError("wrong value read");
            break;
        }
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_IniReadString)->ArgName("large")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_IniWriteString(benchmark::State& state) {
    const BenchFolder folder("vell-settings");
    const std::string path = folder.write("Option.ini", ProfileText(state));
    bool flip = false;
    for (auto _ : state) {
        // Alternate the value so every write really changes the file.
        flip = !flip;
        if (!IniWriteString("COMM", "Port", flip ? "COM4" : "COM3", path)) {
            state.SkipWithError("write failed");
            break;
        }
    }
}
BENCHMARK(BM_IniWriteString)->ArgName("large")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_LoadCommSettings(benchmark::State& state) {
    const BenchFolder folder("vell-settings");
    const std::string path = folder.write("Option.ini", ProfileText(state));
    g_strIniPath = path;
    for (auto _ : state) {
        CommSettings settings = loadCommSettings();
        if (settings.port != "COM3") {
            state.SkipWithError("wrong port loaded");
            break;
        }
        benchmark::DoNotOptimize(settings);
    }
}
BENCHMARK(BM_LoadCommSettings)
    ->ArgName("large")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

void BM_SaveCommSettings(benchmark::State& state) {
    const BenchFolder folder("vell-settings");
    const std::string path = folder.write("Option.ini", ProfileText(state));
    g_strIniPath = path;
    CommSettings a;
    CommSettings b{"COM4", 5, {10, 0, 0, 1}};
    bool flip = false;
    for (auto _ : state) {
        // All six values change every time, so none of them can be skipped as already stored.
        flip = !flip;
        saveCommSettings(flip ? b : a);
    }
}
BENCHMARK(BM_SaveCommSettings)
    ->ArgName("large")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
