// Settings access on a typical and on a 1 MB Option.ini: single reads and writes, and the full load and save.
#include "TypicalProfile.h"
#include "settings/CommSettings.h"
#include "settings/Profile.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

// Where the files live: $TMPDIR or /tmp, so the file system there is the one measured.
class ProfileFolder {
public:
    explicit ProfileFolder(const std::string& text) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern =
            std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/vell-settings-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) {
            m_dir = pattern;
            path = m_dir + "/Option.ini";
            std::ofstream(path, std::ios::binary) << text;
        }
    }
    ProfileFolder(const ProfileFolder&) = delete;
    ProfileFolder& operator=(const ProfileFolder&) = delete;
    ~ProfileFolder() {
        if (!m_dir.empty()) {
            std::filesystem::remove_all(m_dir);
        }
    }
    std::string path;

private:
    std::string m_dir;
};

std::string ProfileText(const benchmark::State& state) {
    return state.range(0) == 0 ? TypicalProfileText() : LargeProfileText();
}

void BM_IniReadString(benchmark::State& state) {
    ProfileFolder folder(ProfileText(state));
    for (auto _ : state) {
        std::string value = IniReadString("COMM", "Port", "COM1", folder.path);
        if (value != "COM3") {
            state.SkipWithError("wrong value read");
            break;
        }
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_IniReadString)->ArgName("large")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_IniWriteString(benchmark::State& state) {
    ProfileFolder folder(ProfileText(state));
    bool flip = false;
    for (auto _ : state) {
        // Alternate the value so every write really changes the file.
        flip = !flip;
        if (!IniWriteString("COMM", "Port", flip ? "COM4" : "COM3", folder.path)) {
            state.SkipWithError("write failed");
            break;
        }
    }
}
BENCHMARK(BM_IniWriteString)->ArgName("large")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_LoadCommSettings(benchmark::State& state) {
    ProfileFolder folder(ProfileText(state));
    g_strIniPath = folder.path;
    for (auto _ : state) {
        CommSettings settings = LoadCommSettings();
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
    ProfileFolder folder(ProfileText(state));
    g_strIniPath = folder.path;
    CommSettings a;
    CommSettings b{"COM4", 5, {10, 0, 0, 1}};
    bool flip = false;
    for (auto _ : state) {
        // All six values change every time, so none of them can be skipped as already stored.
        flip = !flip;
        SaveCommSettings(flip ? b : a);
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
