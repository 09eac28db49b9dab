// Timing of the logging dialog against the simulated detector on a pseudo-terminal:
//  - one reading's update of the dialog (labels, check boxes, chart, CSV row) with a full
//    10000-point history, without and with a scroll of the time axis (goal: at most 2 ms),
//  - lateness of polls over 100 polls (goal: median under 10 ms),
//  - CPU of the window's thread while logging at 1 s intervals (goal: at most 2 % of a core).
#include "bench/BenchSupport.h"
#include "app/device/DataLog.h"
#include "app/device/Logging.h"
#include "link/KVTComms.h"
#include "model/DeviceUtils.h"
#include "sim/KvtSim.h"
#include "ui/SensorLogs.h"

#include <benchmark/benchmark.h>

#include <QApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

RReadingSet Set(int i) {
  return {{static_cast<uint16_t>(100 + i % 50), 150, 0x81, 0x04}, {395, 2048, 2, 0}, {245, 1750, 1, 0}};
}

// A dialog whose history holds 10000 points one second apart, late in a 60000-second axis, so
// each of the next eight readings beyond the axis scrolls with all 10000 points visible.
struct PrimedDialog {
  TComKVT link;
  QuietOperator op{false};
  std::unique_ptr<TSensorLogDlg> dlg;
  double t = 50000;
  PrimedDialog() {
    DeviceCFG.mLogDisplayTime = 60000;
    dlg = std::make_unique<TSensorLogDlg>(link, op);
    dlg->show();
    dlg->ChartReset(0, 60000, 6000);
    for (int i = 0; i < 10000; ++i) dlg->Run().ShowReading(Set(i), t++);
    QCoreApplication::processEvents();
  }
};

void ReadingUpdate(benchmark::State& state, bool scroll) {
  const std::string csv = "/tmp/beamdock-bench-" + std::to_string(getpid()) + ".csv";
  TDataLogFile file(csv);
  file.WriteHeader(RKVTUnitCFG{});
  std::unique_ptr<PrimedDialog> d;
  int scrolls = 0;
  for (auto _ : state) {
    if (!d || (scroll && scrolls == 8)) {
      state.PauseTiming();
      d = std::make_unique<PrimedDialog>();
      d->t = scroll ? 60000.5 : 59999.0;
      scrolls = 0;
      state.ResumeTiming();
    }
    const RReadingSet set = Set(static_cast<int>(d->t));
    d->dlg->Run().ShowReading(set, d->t);
    file.AppendLine(DataLogRow(set, std::chrono::system_clock::now()));
    // The repaint belongs to the update; BEAMDOCK_BENCH_NOPAINT leaves it out to tell the two apart.
    if (!getenv("BEAMDOCK_BENCH_NOPAINT")) QCoreApplication::processEvents();
    if (scroll) {
      d->t = d->dlg->Run().History().AxisMax() + 0.5;
      ++scrolls;
    } else {
      d->t += 0.0001;
    }
  }
  std::remove(csv.c_str());
}

void BM_ReadingUpdate(benchmark::State& state) { ReadingUpdate(state, false); }
void BM_ReadingUpdateScroll(benchmark::State& state) { ReadingUpdate(state, true); }

// Logging in the dialog against the simulated detector. speed > 1 runs the interval faster
// (1 s becomes 1/speed s) so 100 polls take seconds.
void Logging(benchmark::State& state, double speed, int polls, const char* what) {
  KvtSim sim;
  sim.start();
  setenv("BEAMDOCK_PORT", sim.devicePath().c_str(), 1);
  DeviceCFG.mLogInterval = 1;
  DeviceCFG.mLogDisplayTime = 120;
  for (auto _ : state) {
    TComKVT link;
    QuietOperator op(false);
    TSensorLogDlg dlg(link, op);
    dlg.Clock().SetSpeed(speed);
    dlg.show();
    std::vector<double> stamps;
    double cpuStart = 0;
    dlg.Run().OnReading = [&](const RReadingSet&) {
      if (stamps.empty()) cpuStart = ThreadCpuSeconds();
      stamps.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count());
      if (static_cast<int>(stamps.size()) > polls) dlg.Run().Stop();
    };
    dlg.Run().RunLogging("");
    const double cpu = ThreadCpuSeconds() - cpuStart;
    std::vector<double> late;
    for (size_t i = 1; i < stamps.size(); ++i) late.push_back((stamps[i] - stamps[i - 1] - 1.0 / speed) * 1000.0);
    std::sort(late.begin(), late.end());
    if (!late.empty()) {
      state.counters["late_median_ms"] = late[late.size() / 2];
      state.counters["late_max_ms"] = late.back();
    }
    state.counters["cpu_percent"] = 100.0 * cpu / (stamps.back() - stamps.front());
    state.counters["polls"] = static_cast<double>(stamps.size() - 1);
  }
  state.SetLabel(what);
  sim.stop();
}

void BM_PollSchedule(benchmark::State& state) { Logging(state, 10, 100, "100 polls, 1 s interval run 10x faster"); }
void BM_LoggingCpu(benchmark::State& state) { Logging(state, 1, 10, "10 polls at 1 s"); }

BENCHMARK(BM_ReadingUpdate)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadingUpdateScroll)->Unit(benchmark::kMicrosecond)->Iterations(40);
BENCHMARK(BM_PollSchedule)->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(BM_LoggingCpu)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  if (!getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
