// A 16 KiB firmware image through kvt-sim with emulated wire time:
//  - total time against its floor: the wire time of every byte kvt-sim sends, 1 ms after
//    every exchange and 4 ms after every packet (goal: at most 1.05 x the floor),
//  - CPU of the tool's thread during the download (goal: at most 5 % of the wall time),
//  - the window's event latency: a 10 ms timer's worst delay while the window downloads
//    (goal: at most 50 ms).
// A plain program: bench_FirmwareBench [runs]
#include "bench/BenchSupport.h"
#include "app/device/Firmware.h"
#include "app/core/Settings.h"
#include "link/KVTComms.h"
#include "model/Checksum.h"
#include "model/DeviceUtils.h"
#include "sim/KvtSim.h"
#include "ui/Mains.h"

#include <QApplication>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct NoView : TFirmwareView {
  void ShowProgress(int, int, int, int) override {}
};

void WriteImage(const std::string& path) {
  std::vector<uint8_t> b(16384);
  for (size_t i = 7; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 37);
  b[3] = 13, b[4] = 1;
  uint16_t crc = 0;
  for (size_t i = 2; i < b.size(); ++i) crc = UpdateCRC16(crc, b[i]);
  b[0] = static_cast<uint8_t>(crc), b[1] = static_cast<uint8_t>(crc >> 8);
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), static_cast<long>(b.size()));
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  char folder[] = "/tmp/beamdock-fwbench-XXXXXX";
  if (!mkdtemp(folder)) return 1;
  const std::string dir = std::string(folder) + "/";
  const std::string image = dir + "fw.img";
  WriteImage(image);

  KvtSim::Options o;
  o.wireTime = true;
  o.config.mUnit.mFWVersion = 12, o.config.mUnit.mHWVersion = 1;
  KvtSim::fillCRCs(o.config);
  KvtSim sim(o);
  sim.start();
  setenv("BEAMDOCK_PORT", sim.devicePath().c_str(), 1);
  LoadSettings(dir);

  for (int r = 0; r < runs; ++r) {
    QuietOperator op;
    NoView view;
    TUpgradeImage rows;
    RFirmwareBox box;
    if (LoadUpgradeFile(op, image, true, rows, box) != 0) return 1;
    TComKVT link;
    TFirmwareDownload run(op, link, rows, view);
    sim.clearFrames();
    const double cpu0 = ThreadCpuSeconds();
    const auto wall0 = Clock::now();
    const uint8_t code = run.Run();
    const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
    const double cpu = ThreadCpuSeconds() - cpu0;
    size_t sentBytes = 0;
    for (const KvtSim::Frame& f : sim.sent()) sentBytes += f.bytes.size();
    const size_t exchanges = sim.received().size();
    const double floor = static_cast<double>(sentBytes) * kByteSeconds + 0.001 * static_cast<double>(exchanges) +
                         0.004 * static_cast<double>(rows.size());
    std::printf("download %d: result 0x%02X, %.3f s, floor %.3f s (%zu bytes paced, %zu exchanges), ratio %.3f, "
                "tool CPU %.2f %%\n",
                r + 1, code, wall, floor, sentBytes, exchanges, wall / floor, 100.0 * cpu / wall);
  }

  // The window: its own download, a 10 ms timer beside it.
  TKVTIRMainForm form(dir);
  form.show();
  QCoreApplication::processEvents();
  form.LoadUpgradeFile(image, true);
  auto last = Clock::now();
  double worst = 0;
  int ticks = 0;
  bool downloading = false;
  QTimer timer;
  timer.setInterval(10);
  QObject::connect(&timer, &QTimer::timeout, [&] {
    const auto now = Clock::now();
    if (downloading) {
      worst = std::max(worst, std::chrono::duration<double, std::milli>(now - last).count() - 10.0);
      ++ticks;
    }
    last = now;
  });
  timer.start();
  double wall = 0;
  QTimer::singleShot(50, [&] {
    downloading = true;
    last = Clock::now();
    const auto wall0 = Clock::now();
    form.UserFMUpgradeBtnClick();
    wall = std::chrono::duration<double>(Clock::now() - wall0).count();
    downloading = false;
    QCoreApplication::quit();
  });
  app.exec();
  std::printf("window download: %.3f s, %d timer events, worst event delay %.1f ms\n", wall, ticks, worst);
  sim.stop();
  std::system((std::string("rm -rf ") + folder).c_str());
  return 0;
}
