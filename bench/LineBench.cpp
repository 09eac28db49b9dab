// The production line's and the fleet's figures for bench/report, one "name value" line each:
//  - one line unit through kvt-sim with emulated wire time, from the first connect frame to
//    its record, against the floor of its exchanges (WireFloorSeconds), the station already made,
//  - the whole process's CPU while the line waits for a detector that is not there (kvt-sim
//    in a child process, so its own work is not counted),
//  - the fleet rows from 1,000,000 records of 10,000 detectors.
// A plain program: bench_LineBench [wait seconds]
#include "bench/BenchSupport.h"
#include "app/records/Fleet.h"
#include "app/device/ProductionLine.h"
#include "app/core/RunClock.h"
#include "app/records/ServiceRecords.h"
#include "app/core/Settings.h"
#include "link/KVTComms.h"
#include "model/Checksum.h"
#include "model/DeviceUtils.h"
#include "sim/KvtSim.h"

#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Cpu(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct TQuietLine : TLineView {
  void ShowWaiting(const std::string&) override {}
  void ShowUnit(const RLineUnit& u) override {
    if (!u.mPass) std::fprintf(stderr, "unit failed: %s\n", u.mReason.c_str());
  }
};

RKVTCFG LineFile() {
  RKVTCFG cfg{};
  SetDefaultCFG(cfg);
  cfg.mSensor.mAlarmHigh = 200, cfg.mSensor.mAlarmLow = 120, cfg.mSensor.mCalInterval = 30 * 86400;
  return cfg;
}

// A kvt-sim in a child process whose detector has been taken away; the device on fd.
pid_t AbsentDetector(std::string& device) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    KvtSim sim;
    sim.start();
    sim.takeAway();
    const std::string path = sim.devicePath() + "\n";
    if (write(fds[1], path.data(), path.size()) < 0) _exit(1);
    close(fds[1]);
    pause();
    _exit(0);
  }
  close(fds[1]);
  char buf[128] = {};
  const ssize_t n = read(fds[0], buf, sizeof buf - 1);
  close(fds[0]);
  device.assign(buf, n > 0 ? static_cast<size_t>(n - 1) : 0);
  return pid;
}

}  // namespace

int main(int argc, char** argv) {
  const double waitSeconds = argc > 1 ? std::max(1.0, std::atof(argv[1])) : 10.0;
  // Forked before any thread of this process exists.
  std::string absent;
  const pid_t child = AbsentDetector(absent);
  if (child <= 0 || absent.empty()) return 1;

  char folder[] = "/tmp/beamdock-linebench-XXXXXX";
  if (!mkdtemp(folder)) return 1;
  LoadSettings(std::string(folder) + "/");
  {
    // The station exists, as it does for every unit but a new computer's first: its making
    // (a key, a store) is not a unit's cost.
    RServiceRecord first;
    first.mOperation = "Read KVT Information";
    if (CommitRecordTo(RecordsDatabasePath(), first) != TRecordFate::Stored) return 1;
  }

  {
    KvtSim::Options o;
    o.wireTime = true;
    KvtSim sim(o);
    sim.start();
    setenv("BEAMDOCK_PORT", sim.devicePath().c_str(), 1);
    QuietOperator op;
    TComKVT link;
    TQuietLine view;
    TSteadyRunClock clock;
    TProductionLine line(op, link, LineFile(), view, clock, 1);
    sim.clearFrames();
    DriveRun(line, clock);
    const auto end = Clock::now();
    if (line.Passed() != 1) return 1;
    const std::vector<KvtSim::Frame> rx = sim.received();
    const double floor = WireFloorSeconds(sim);
    const double wall = std::chrono::duration<double>(end - rx.front().time).count();
    std::fprintf(stderr, "last frame to record %.4f s, first to last frame %.4f s\n",
                 std::chrono::duration<double>(end - rx.back().time).count(),
                 std::chrono::duration<double>(rx.back().time - rx.front().time).count());
    std::printf("line_unit_s %.4f\nline_unit_floor_s %.4f\nline_unit_ratio %.3f\n", wall, floor, wall / floor);
    sim.stop();
  }

  {
    setenv("BEAMDOCK_PORT", absent.c_str(), 1);
    QuietOperator op;
    TComKVT link;
    TQuietLine view;
    TSteadyRunClock clock;
    TProductionLine line(op, link, LineFile(), view, clock);
    const double cpu0 = Cpu(CLOCK_PROCESS_CPUTIME_ID);
    const auto wall0 = Clock::now();
    // Whole passes, each an attempt and its rest: the stop is read after the rest.
    DriveRun(line, clock, [&] {
      if (std::chrono::duration<double>(Clock::now() - wall0).count() >= waitSeconds) line.Stop();
    });
    const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
    std::printf("line_wait_cpu_pct %.2f\n", 100.0 * (Cpu(CLOCK_PROCESS_CPUTIME_ID) - cpu0) / wall);
  }
  kill(child, SIGTERM);
  waitpid(child, nullptr, 0);

  {
    // 100 records a detector: reads carrying the configuration, calibrations and bumps.
    std::vector<RServiceRecord> records;
    records.reserve(1'000'000);
    RKVTCFG cfg = LineFile();
    cfg.mSensor.mBumpInterval = 7;
    const std::vector<uint8_t> image = CfgImage(cfg);
    char time[32];
    for (int i = 0; i < 1'000'000; ++i) {
      RServiceRecord r;
      r.mSerial = "SH" + std::to_string(10000000 + i % 10000);
      r.mSensorType = "H2S";
      const int k = (i / 10000) % 10;
      r.mKind = k < 3 ? "read" : k < 6 ? "calibration" : "bump";
      std::snprintf(time, sizeof time, "2026-%02d-%02dT%02d:00:00Z", 1 + (i / 10000) % 12, 1 + (i / 120000) % 28, i % 24);
      r.mTime = time;
      r.mDetails = r.mKind == "calibration" ? "span=OK\n" : r.mKind == "bump" ? "bump=PASS\n" : "";
      if (k == 0) r.mCfgAfter = image;
      records.push_back(std::move(r));
    }
    const auto t0 = Clock::now();
    const std::vector<RFleetRow> rows = FleetRows(FleetEventsFrom(records), 1'780'000'000, 7);
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    if (rows.size() != 10000) return 1;
    std::printf("fleet_1m_s %.3f\n", seconds);
  }
  std::system((std::string("rm -rf ") + folder).c_str());
  return 0;
}
