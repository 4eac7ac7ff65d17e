// The window's opening inside the process: template, lists, settings reads and the one SetComParam.
#include "TypicalProfile.h"
#include "settings/Profile.h"
#include "ui/SettingsDlg.h"

#include <QApplication>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

namespace {

// A fresh folder with a typical Option.ini, removed at the end of the run.
class ProfileFolder {
public:
    ProfileFolder() {
        char pattern[] = "/tmp/vell-dialog-bench-XXXXXX";
        if (::mkdtemp(pattern) != nullptr) {
            m_dir = pattern;
            g_strIniPath = m_dir + "/Option.ini";
            Reset();
        }
    }
    ProfileFolder(const ProfileFolder&) = delete;
    ProfileFolder& operator=(const ProfileFolder&) = delete;
    ~ProfileFolder() {
        if (!m_dir.empty()) {
            std::filesystem::remove_all(m_dir);
        }
    }
    void Reset() const {
        std::ofstream(g_strIniPath, std::ios::binary | std::ios::trunc) << TypicalProfileText();
    }

private:
    std::string m_dir;
};

// Opening only: the destruction (and the save it does) runs with the clock stopped.
void BM_DialogOpen(benchmark::State& state) {
    ProfileFolder folder;
    for (auto _ : state) {
        auto dialog = std::make_unique<CSettingsDlg>();
        benchmark::DoNotOptimize(dialog.get());
        state.PauseTiming();
        dialog.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_DialogOpen)->Unit(benchmark::kMillisecond)->UseRealTime();

// Opening and destroying without a close: the destructor saves all six values.
void BM_DialogOpenAndSave(benchmark::State& state) {
    ProfileFolder folder;
    for (auto _ : state) {
        auto dialog = std::make_unique<CSettingsDlg>();
        dialog.reset();
    }
}
BENCHMARK(BM_DialogOpenAndSave)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char* argv[]) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
