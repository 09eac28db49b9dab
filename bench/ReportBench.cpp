// The figures that no other benchmark measures, for bench/report, one "name value" line each:
//  - Read Device through kvt-sim with emulated wire time against its floor: the wire time of
//    every byte kvt-sim paces, 1 ms after every exchange and 2 ms after the handshake,
//  - the window's event latency (a 10 ms timer's worst delay) during a calibration in its dialog,
//  - cold start: a fresh process until the main window's first paint,
//  - one service record alone (open the store, seal, append, flush, the station's note): its
//    CPU time and its wall time.
// A plain program: bench_ReportBench [runs]
#include "bench/BenchSupport.h"
#include "app/device/DeviceSession.h"
#include "app/records/ServiceRecords.h"
#include "app/core/Settings.h"
#include "link/KVTComms.h"
#include "model/DeviceUtils.h"
#include "model/SensorTypes.h"
#include "sim/KvtSim.h"
#include "ui/Mains.h"
#include "ui/SensorCals.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

long long MonotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// The child of the cold start: prints the time from its parent's stamp to the first paint.
class FirstPaint : public QObject {
 public:
  explicit FirstPaint(long long start) : FStart(start) {}
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint && !FDone) {
      FDone = true;
      std::printf("%.6f\n", static_cast<double>(MonotonicNs() - FStart) / 1e9);
      std::fflush(stdout);
      QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    }
    return false;
  }

 private:
  long long FStart;
  bool FDone = false;
};

int ColdChild(int argc, char** argv, long long start, const std::string& dir) {
  QApplication app(argc, argv);
  TKVTIRMainForm form(dir);
  FirstPaint filter(start);
  form.installEventFilter(&filter);
  form.show();
  return QApplication::exec();
}

double ColdStart(const char* self, const std::string& dir) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  const std::string stamp = std::to_string(MonotonicNs());
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    execl(self, self, "--cold-start", stamp.c_str(), dir.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  char buf[64] = {};
  const ssize_t n = read(fds[0], buf, sizeof buf - 1);
  close(fds[0]);
  waitpid(pid, nullptr, 0);
  return n > 0 ? std::atof(buf) : -1;
}

// Worst delay of a 10 ms timer while work runs inside the event loop.
template <typename Work>
double WorstTimerDelay(Work work) {
  auto last = Clock::now();
  double worst = 0;
  bool running = false;
  QTimer timer;
  timer.setInterval(10);
  QObject::connect(&timer, &QTimer::timeout, [&] {
    const auto now = Clock::now();
    if (running) worst = std::max(worst, std::chrono::duration<double, std::milli>(now - last).count() - 10.0);
    last = now;
  });
  timer.start();
  QTimer::singleShot(50, [&] {
    running = true;
    last = Clock::now();
    work();
    running = false;
    QCoreApplication::quit();
  });
  QCoreApplication::exec();
  return worst;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--cold-start") == 0) return ColdChild(1, argv, std::atoll(argv[2]), argv[3]);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  char folder[] = "/tmp/beamdock-report-XXXXXX";
  if (!mkdtemp(folder)) return 1;
  const std::string dir = std::string(folder) + "/";

  KvtSim::Options o;
  o.wireTime = true;
  o.calTimeMs = 2000;
  KvtSim sim(o);
  sim.start();
  setenv("BEAMDOCK_PORT", sim.devicePath().c_str(), 1);
  LoadSettings(dir);

  std::vector<double> ratios, walls;
  for (int r = 0; r < runs; ++r) {
    QuietOperator op;
    TComKVT link;
    TDeviceSession session;
    sim.clearFrames();
    const auto wall0 = Clock::now();
    const uint8_t code = session.ReadDevice(op, link).mCode;
    const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
    if (code != 0) return 1;
    size_t paced = 0, exchanges = 0;
    for (const KvtSim::Frame& f : sim.sent()) paced += f.bytes.size();
    for (const KvtSim::Frame& f : sim.received()) exchanges += f.what != "B2";
    const double floor = static_cast<double>(paced) * kByteSeconds + 0.001 * static_cast<double>(exchanges) + 0.002;
    walls.push_back(wall);
    ratios.push_back(wall / floor);
  }
  std::printf("read_device_s %.4f\nread_device_ratio %.3f\n", Median(walls), Median(ratios));

  {
    std::vector<double> cpu, wall;
    for (int r = 0; r < 20 * runs; ++r) {
      RServiceRecord record;
      record.mOperation = "Read KVT Information";
      record.mSerial = "SH24031587";
      record.mCfgAfter.assign(128, 0x5A);
      timespec c0{}, c1{};
      clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c0);
      const auto wall0 = Clock::now();
      if (CommitRecordTo(dir + "BEAMDOCK.DB", record) != TRecordFate::Stored) return 1;
      wall.push_back(std::chrono::duration<double>(Clock::now() - wall0).count() * 1000);
      clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c1);
      cpu.push_back((c1.tv_sec - c0.tv_sec) * 1e3 + (c1.tv_nsec - c0.tv_nsec) / 1e6);
    }
    std::printf("record_cpu_ms %.3f\nrecord_wall_ms %.2f\n", Median(cpu), Median(wall));
  }

  {
    QuietOperator op;
    TComKVT link;
    TSensorCalDlg dlg(link, op);
    if (!dlg.PrepareDlg(sim.config())) return 1;
    dlg.show();
    const double worst = WorstTimerDelay([&] { dlg.CalBtn->click(); });
    std::printf("calibration_event_delay_ms %.1f\n", worst);
  }
  sim.stop();

  std::vector<double> cold;
  for (int r = 0; r < runs; ++r) cold.push_back(ColdStart(argv[0], dir));
  std::printf("cold_start_s %.4f\n", Median(cold));
  std::system((std::string("rm -rf ") + folder).c_str());
  return 0;
}
