// The figures that no other benchmark measures, for bench/report, one "name value" line each:
//  - Read Device through kvt-sim with emulated wire time against its floor (WireFloorSeconds),
//  - the window's event latency (a 10 ms timer's worst delay) during a calibration in its dialog,
//  - cold start: a fresh process until the main window's first paint,
//  - one service record alone (seal, append, flush, the station's note) with the store and key
//    held open as a running program holds them: its CPU time and its wall time, after the pause
//    an operation leaves between records and in a quick row; and its CPU in a fresh process,
//    which opens them first,
//  - with BEAMDOCK_CLI naming the terminal tool: its --help, and the start of its read until
//    kvt-sim takes the first connect frame (wall times, medians).
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
#include <fcntl.h>
#include <functional>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <thread>
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

// The child of the fresh-process record: prints the CPU milliseconds its one record took, the
// closing of the store at the exit included (what runs at exit runs before this handler, which
// was registered first).
timespec gOneRecordStart{};
void PrintOneRecordCpu() {
  timespec end{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &end);
  std::printf("%.6f\n", (end.tv_sec - gOneRecordStart.tv_sec) * 1e3 + (end.tv_nsec - gOneRecordStart.tv_nsec) / 1e6);
}
int OneRecordChild(const std::string& dir) {
  LoadSettings(dir);
  RServiceRecord record;
  record.mOperation = "Read KVT Information";
  record.mSerial = "SH24031587";
  record.mCfgAfter.assign(128, 0x5A);
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &gOneRecordStart);
  std::atexit(PrintOneRecordCpu);
  return CommitRecordTo(dir + "BEAMDOCK.DB", record) == TRecordFate::Stored ? 0 : 1;
}

// Runs argv with its output thrown away; the seconds from the start to onStarted's answer (or
// to the exit when onStarted is empty).
double Spawned(const std::vector<std::string>& args, const std::function<double(Clock::time_point)>& onStarted = {}) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const auto start = Clock::now();
  pid_t pid = 0;
  const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed) return -1;
  const double started = onStarted ? onStarted(start) : -1;
  waitpid(pid, nullptr, 0);
  return onStarted ? started : std::chrono::duration<double>(Clock::now() - start).count();
}

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--cold-start") == 0) return ColdChild(1, argv, std::atoll(argv[2]), argv[3]);
  if (argc == 3 && std::strcmp(argv[1], "--one-record") == 0) return OneRecordChild(argv[2]);
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
    const double floor = WireFloorSeconds(sim);
    walls.push_back(wall);
    ratios.push_back(wall / floor);
  }
  std::printf("read_device_s %.4f\nread_device_ratio %.3f\n", Median(walls), Median(ratios));

  {
    // A record comes once per operation, after the tens of milliseconds the detector takes: the
    // processor's caches hold none of it by then, and it costs about twice what one of a quick
    // row of records does. Both are measured; the first is the one a technician pays.
    const auto records = [&](std::chrono::milliseconds pause, const char* name) {
      std::vector<double> cpu, wall;
      for (int r = 0; r < 10 * runs; ++r) {
        RServiceRecord record;
        record.mOperation = "Read KVT Information";
        record.mSerial = "SH24031587";
        record.mCfgAfter.assign(128, 0x5A);
        std::this_thread::sleep_for(pause);
        timespec c0{}, c1{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c0);
        const auto wall0 = Clock::now();
        if (CommitRecordTo(dir + "BEAMDOCK.DB", record) != TRecordFate::Stored) return false;
        wall.push_back(std::chrono::duration<double>(Clock::now() - wall0).count() * 1000);
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c1);
        cpu.push_back((c1.tv_sec - c0.tv_sec) * 1e3 + (c1.tv_nsec - c0.tv_nsec) / 1e6);
      }
      std::printf("%s_cpu_ms %.3f\n%s_wall_ms %.2f\n", name, Median(cpu), name, Median(wall));
      return true;
    };
    if (!records(std::chrono::milliseconds(25), "record") || !records(std::chrono::milliseconds(0), "record_in_a_row"))
      return 1;
    std::vector<double> fresh;
    for (int r = 0; r < 2 * runs; ++r) {
      FILE* child = popen((std::string(argv[0]) + " --one-record " + dir).c_str(), "r");
      char line[64] = {};
      if (child && std::fgets(line, sizeof line, child)) fresh.push_back(std::atof(line));
      if (child) pclose(child);
    }
    std::printf("record_fresh_cpu_ms %.3f\n", Median(fresh));
  }

  if (const char* cli = std::getenv("BEAMDOCK_CLI")) {
    std::vector<double> help, start;
    for (int r = 0; r < 20; ++r) help.push_back(Spawned({cli, "--help"}) * 1000);
    for (int r = 0; r < runs; ++r) {
      sim.clearFrames();
      start.push_back(1000 * Spawned({cli, "--dir", dir, "read"}, [&](Clock::time_point t0) {
                        for (int waited = 0; waited < 2000 && sim.received().empty(); ++waited) usleep(500);
                        const std::vector<KvtSim::Frame> rx = sim.received();
                        return rx.empty() ? -1.0 : std::chrono::duration<double>(rx.front().time - t0).count();
                      }));
    }
    std::printf("cli_help_ms %.2f\ncli_read_start_ms %.2f\n", Median(help), Median(start));
    // A site server that takes the connection and never answers: how much later read exits.
    int port = 0;
    const int silent = ListenOnLoopback(&port, 64);  // a site server that never answers
    const std::string ini = dir + "BEAMDOCK.INI";
    std::string saved;
    if (std::FILE* f = std::fopen(ini.c_str(), "rb")) {
      char buf[4096];
      for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) saved.append(buf, n);
      std::fclose(f);
    }
    const auto readExit = [&](bool server) {
      if (std::FILE* f = std::fopen(ini.c_str(), "wb")) {
        std::fputs(saved.c_str(), f);
        if (server) std::fprintf(f, "\r\n[RECORDS]\r\nServer=host=127.0.0.1 port=%d dbname=x\r\n", port);
        std::fclose(f);
      }
      std::vector<double> walls;
      for (int r = 0; r < runs; ++r) walls.push_back(1000 * Spawned({cli, "--dir", dir, "read"}));
      return Median(walls);
    };
    const double without = readExit(false), with = readExit(true);
    readExit(false);  // the settings as they were
    ::close(silent);
    std::printf("cli_read_silent_server_extra_ms %.2f\n", std::max(0.0, with - without));
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
