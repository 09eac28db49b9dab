// Every long run against where its stop (Ctrl-C's flag) comes: before the start, in a
// handshake, at a question, during the run. Before the run has changed the detector nothing
// that would is sent; during it the run ends as its Stop or Cancel does.
#include "app/device/Calibration.h"
#include "app/device/Firmware.h"
#include "app/device/Logging.h"
#include "app/core/Results.h"
#include "app/device/Service.h"
#include "app/core/Settings.h"
#include "link/KVTComms.h"
#include "model/DeviceUtils.h"
#include "tests/support/FastClock.h"
#include "tests/support/NullView.h"
#include "tests/support/ProgramState.h"
#include "tests/support/ScriptedOperator.h"
#include "tests/support/SimPort.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <set>

namespace {

enum class Where { Before, Handshake, Question, During };
enum class Kind { Firmware, Calibration, Logging, Output };

struct StopAtQuestion : ScriptedOperator {
  std::function<void()> onAsk;
  bool ask(const std::string& caption, const std::string& text) override {
    onAsk();
    return ScriptedOperator::ask(caption, text);  // Yes
  }
};

TEST(LongRunStop, BeforeTheRunNothingChangesTheDetectorDuringItTheRunEndsAsItsButtonDoes) {
  const struct {
    Kind run;
    Where where;
    uint8_t code;
    std::vector<std::string> changes;  // frames beyond the handshake and the reads
  } cases[] = {
      {Kind::Firmware, Where::Before, APP_USERSTOP, {}},
      {Kind::Firmware, Where::Handshake, APP_USERSTOP, {}},
      {Kind::Firmware, Where::Question, APP_NOTOLDVERSION, {}},
      {Kind::Firmware, Where::During, APP_USERSTOP, {"10", "91", "packet", "91", "packet"}},
      {Kind::Calibration, Where::Before, APP_USERSTOP, {}},
      {Kind::Calibration, Where::Handshake, APP_USERSTOP, {}},
            // The readings before the zero (gas, temperature) and after it, then the first poll.
      {Kind::Calibration, Where::During, APP_USERSTOP, {"70", "header", "91", "data", "20", "21", "42", "20", "20", "43"}},
      {Kind::Logging, Where::Before, 0, {}},
      {Kind::Logging, Where::Handshake, 0, {}},
      {Kind::Logging, Where::During, 0, {"20", "22", "21"}},
      {Kind::Output, Where::Before, APP_USERSTOP, {}},
      {Kind::Output, Where::Handshake, APP_USERSTOP, {}},
      {Kind::Output, Where::During, APP_USERSTOP, {"30"}},
  };
  ProgramState kept;
  TempDir dir;
  AppDir = dir.path();
  SetBuiltInSensorTypes();
  for (const auto& c : cases) {
    const std::string name = std::to_string(static_cast<int>(c.run)) + "/" + std::to_string(static_cast<int>(c.where));
    DeviceCFG = RDeviceCFG{};
    DeviceCFG.mFLASHMaxAddress = 8, DeviceCFG.mCalCheckTime = 1;
    KvtSim::Options o;
    o.fwPacketCount = 8;
    o.config.mUnit.mFWVersion = c.where == Where::Question ? 11 : 12;  // the image is one above
    const std::vector<uint8_t> image = KvtSim::makeFirmwareImage(o);
    o.config.mUnit.mFWVersion = c.where == Where::Question ? 13 : 12;
    KvtSim::fillCRCs(o.config);
    if (c.where == Where::Handshake) o.ignoreConnects = 150;  // about 160 ms
    SimPort port(o);
    const auto changes = [&] {
      static const std::set<std::string> reads = {"B2", "B3", "A0", "5F", "50", "81"};
      std::vector<std::string> out;
      for (const KvtSim::Frame& f : port.sim().received())
        if (!reads.count(f.what)) out.push_back(f.what);
      return out;
    };
    TComKVT link;
    StopAtQuestion op;
    TFastClock clock(50);
    TNullView view;
    volatile std::sig_atomic_t flag = c.where == Where::Before;
    bool once = false;
    const auto stopOnce = [&](bool now) {
      if (now && !once) once = true, flag = 1;
    };
    link.IdleHook = [&] { stopOnce(c.where == Where::Handshake); };
    op.onAsk = [&] { stopOnce(c.where == Where::Question); };
    op.onPump = [&] { stopOnce(c.where == Where::During && !changes().empty()); };
    op.answerAll(true);
    op.saveFile(std::nullopt);

    uint8_t code = 0xEE;
    if (c.run == Kind::Firmware) {
      dir.write("fw.img", std::string(image.begin(), image.end()));
      TUpgradeImage rows;
      RFirmwareBox box;
      ASSERT_EQ(LoadUpgradeFile(op, dir.path() + "fw.img", true, rows, box), 0);
      TFirmwareDownload run(op, link, rows, view);
      run.StopRequest().Watch(&flag);
      code = run.Run();
    } else if (c.run == Kind::Calibration) {
      TSensorCal cal;
      RKVTCFG cfg = port.sim().config();
      ASSERT_TRUE(cal.ShowDlg(op, cfg));
      double span = cal.SpinValue() + 1;  // a new span: the preparation would write it
      if (cal.CalBtnClick(op, link, view, clock, cfg, span, &flag).mOutcome == TCalOutcome::UserStop) code = APP_USERSTOP;
    } else if (c.run == Kind::Logging) {
      TLoggingRun run(link, op, view, clock);
      run.StopRequest().Watch(&flag);
      code = run.StartLogging();
    } else {
      code = RunOutputTest(op, link, OutputCommand(1), 2000, clock, &flag);
    }
    EXPECT_EQ(code, c.code) << name;
    EXPECT_EQ(changes(), c.changes) << name;
  }
}

}  // namespace
