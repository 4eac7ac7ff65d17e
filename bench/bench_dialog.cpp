// The window's opening inside the process: template, lists, settings reads and the one SetComParam.
#include "BenchFolder.h"
#include "TypicalProfile.h"
#include "settings/Profile.h"
#include "ui/SettingsDlg.h"

#include <QApplication>
#include <benchmark/benchmark.h>
#include <memory>

namespace {

// A fresh folder with a typical Option.ini, for the whole of one benchmark.
class ProfileFolder {
public:
    ProfileFolder() : m_folder("vell-dialog-bench") {
        g_strIniPath = m_folder.file("Option.ini");
        Reset();
    }
    void Reset() const { m_folder.write("Option.ini", TypicalProfileText()); }

private:
    BenchFolder m_folder;
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
