// Every long run against where its stop comes (Ctrl-C's flag, read as the run's own stop):
// before the start, during a handshake, at a question, during the run. A stop before the run
// has changed the detector sends nothing that would; a stop during it ends it as its Stop or
// Cancel does.
#include "app/Calibration.h"
#include "app/Firmware.h"
#include "app/Logging.h"
#include "app/Results.h"
#include "app/Service.h"
#include "app/Settings.h"
#include "link/KVTComms.h"
#include "model/DeviceUtils.h"
#include "model/SensorTypes.h"
#include "tests/support/FastClock.h"
#include "tests/support/NullView.h"
#include "tests/support/ScriptedOperator.h"
#include "tests/support/SimPort.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>

namespace {

enum class Where { Before, Handshake, Question, During };

// The question's moment: the stop comes while it waits for its answer (which is Yes).
struct StopAtQuestion : ScriptedOperator {
  std::function<void()> onAsk;
  bool ask(const std::string& caption, const std::string& text) override {
    if (onAsk) onAsk();
    return ScriptedOperator::ask(caption, text);
  }
};

struct Cell {
  KvtSim::Options options;
  TempDir dir;
  TComKVT link;
  StopAtQuestion op;
  TFastClock clock{50};
  TNullView view;
  std::vector<uint8_t> image;
  volatile std::sig_atomic_t flag = 0;
};

using RunFn = uint8_t (*)(Cell&);

uint8_t Firmware(Cell& c) {
  std::ofstream(c.dir.path() + "fw.img", std::ios::binary)
      .write(reinterpret_cast<const char*>(c.image.data()), static_cast<std::streamsize>(c.image.size()));
  TUpgradeImage image;
  RFirmwareBox box;
  if (LoadUpgradeFile(c.op, c.dir.path() + "fw.img", true, image, box) != 0) return 0xEE;
  TFirmwareDownload run(c.op, c.link, image, c.view);
  run.Stop().Watch(&c.flag);
  return run.Run();
}

uint8_t Calibration(Cell& c) {
  TSensorCal cal;
  RKVTCFG cfg = c.options.config;
  if (!cal.ShowDlg(c.op, cfg)) return 0xEE;
  cal.FStop.Watch(&c.flag);
  double span = cal.SpinValue() + 1;  // a new span: the preparation would write it
  const RCalResult r = cal.CalBtnClick(c.op, c.link, c.view, c.clock, cfg, span);
  return r.mOutcome == TCalOutcome::UserStop ? APP_USERSTOP : r.mOutcome == TCalOutcome::Ok ? 0 : 0xEF;
}

uint8_t Logging(Cell& c) {
  TLoggingRun run(c.link, c.op, c.view, c.clock);
  run.Stop().Watch(&c.flag);
  c.op.saveFile(std::nullopt);
  return run.StartLogging();
}

uint8_t OutputTest(Cell& c) { return RunOutputTest(c.op, c.link, OutputCommand(1), 2000, c.clock, &c.flag); }

class LongRunStopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DeviceCFG = RDeviceCFG{};
    DeviceCFG.mFLASHMaxAddress = 8;
    DeviceCFG.mCalCheckTime = 1;
    AppDir = FDir.path();
    SetBuiltInSensorTypes();
  }
  void TearDown() override { DeviceCFG = FSaved, AppDir = FSavedDir, SensorTypes = FSavedTypes; }
  TempDir FDir;
  RDeviceCFG FSaved = DeviceCFG;
  std::string FSavedDir = AppDir;
  std::vector<RSensorType> FSavedTypes = SensorTypes;
};

TEST_F(LongRunStopTest, AStopBeforeTheRunChangesNothingAndOneDuringItEndsItAsItsButtonDoes) {
  const struct {
    const char* name;
    RunFn run;
    Where where;
    uint8_t code;
    std::vector<std::string> changes;  // frames beyond the handshake and the reads, in order
  } cases[] = {
      {"firmware", Firmware, Where::Before, APP_USERSTOP, {}},
      {"firmware", Firmware, Where::Handshake, APP_USERSTOP, {}},
      {"firmware", Firmware, Where::Question, APP_NOTOLDVERSION, {}},
      {"firmware", Firmware, Where::During, APP_USERSTOP, {"10", "91", "packet", "91", "packet"}},
      {"calibration", Calibration, Where::Before, APP_USERSTOP, {}},
      {"calibration", Calibration, Where::Handshake, APP_USERSTOP, {}},
      {"calibration", Calibration, Where::During, APP_USERSTOP, {"70", "header", "91", "data", "42", "20", "43"}},
      {"logging", Logging, Where::Before, 0, {}},
      {"logging", Logging, Where::Handshake, 0, {}},
      {"logging", Logging, Where::During, 0, {"20", "22", "21"}},
      {"output test", OutputTest, Where::Before, APP_USERSTOP, {}},
      {"output test", OutputTest, Where::Handshake, APP_USERSTOP, {}},
      {"output test", OutputTest, Where::During, APP_USERSTOP, {"30"}},
  };
  const std::set<std::string> reads = {"B2", "B3", "A0", "5F", "50", "81"};
  const auto changesOf = [&](KvtSim& sim) {
    std::vector<std::string> changes;
    for (const KvtSim::Frame& f : sim.received())
      if (!reads.count(f.what)) changes.push_back(f.what);
    return changes;
  };
  for (const auto& c : cases) {
    const std::string name = c.name + std::string(" ") + std::to_string(static_cast<int>(c.where));
    Cell cell;
    cell.options.config.mUnit.mFWVersion = 12;
    KvtSim::fillCRCs(cell.options.config);
    cell.options.fwPacketCount = 8;
    // The image one version above the unit's; for the question the unit is newer than it.
    if (c.where == Where::Question) cell.options.config.mUnit.mFWVersion = 11;
    cell.image = KvtSim::makeFirmwareImage(cell.options);
    if (c.where == Where::Question) cell.options.config.mUnit.mFWVersion = 13, cell.op.answer(true);
    if (c.where == Where::Handshake) cell.options.ignoreConnects = 150;  // about 160 ms of handshake
    SimPort port(cell.options);
    const auto stop = [&cell] { cell.flag = 1; };
    bool once = false;
    switch (c.where) {
      case Where::Before: stop(); break;
      case Where::Handshake:
        cell.link.IdleHook = [&] { once = once || (stop(), true); };
        break;
      case Where::Question: cell.op.onAsk = stop; break;
      case Where::During:  // at the first pass after the run began to change the detector
        cell.op.onPump = [&] { once = once || (!changesOf(port.sim()).empty() && (stop(), true)); };
        break;
    }
    EXPECT_EQ(c.run(cell), c.code) << name;
    EXPECT_EQ(changesOf(port.sim()), c.changes) << name;
  }
}

}  // namespace
