// The sensor calibration dialog's work against the simulated detector: the span value kept
// per sensor type and stored in the detector, and how runs end, on a fast clock.
#include "app/device/Calibration.h"
#include "app/device/DeviceSession.h"
#include "app/core/IniFile.h"
#include "app/core/Settings.h"
#include "link/KVTComms.h"
#include "model/Checksum.h"
#include "model/DeviceUtils.h"
#include "tests/support/FastClock.h"
#include "tests/support/ProgramState.h"
#include "tests/support/ScriptedOperator.h"
#include "tests/support/SimPort.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

namespace {

struct TCalRecorder : TCalView {
  std::string text[3];
  TCalColour colour[3] = {};
  int progress = 0, maximum = 0;
  bool running = false;
  void CalText(int which, const std::string& t, TCalColour c) override { text[which] = t, colour[which] = c; }
  void CalProgress(int p, int m) override { progress = p, maximum = m; }
  void CalRunning(bool r) override { running = r; }
};

class SensorCalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DeviceCFG = RDeviceCFG{};
    DeviceCFG.mCalCheckTime = 2;
    AppDir = FDir.path();
    SetBuiltInSensorTypes();
    SensorTypes[0].mCalTime = 30;  // H2S
  }
  static RKVTCFG Detector(uint8_t type, uint16_t span) {
    RKVTCFG cfg;
    SetDefaultCFG(cfg);
    cfg.mSensor.mSensorType = type;
    cfg.mSensor.mSpanGas = span;
    KvtSim::fillCRCs(cfg);
    return cfg;
  }
  static int Count(KvtSim& sim, const char* what) {
    int n = 0;
    for (const KvtSim::Frame& f : sim.received()) n += f.what == what;
    return n;
  }
  TSettingsFile Ini() const { return AppSettings(); }

  ProgramState FKept;
  TempDir FDir;
};

TEST_F(SensorCalTest, SpanValueIsKeptPerSensorTypeAndWrittenOnlyWhenItChanges) {
  KvtSim::Options o;
  o.config = Detector(1, 250);  // H2S
  SimPort port(o);
  TComKVT link;
  ScriptedOperator op;
  TDeviceSession session;
  uint8_t code = 0;
  ASSERT_TRUE(CheckSensorCalibration(op, link, session, code));

  TSensorCal cal;
  ASSERT_TRUE(cal.ShowDlg(op, session.FKVTCFG));  // first time: the detector's value is stored
  EXPECT_EQ(Ini().ReadInteger("SENSORCAL", "H2S", 0), 250);
  Ini().WriteInteger("SENSORCAL", "H2S", 300);
  ASSERT_TRUE(cal.ShowDlg(op, session.FKVTCFG));  // the stored value wins over the detector's
  EXPECT_DOUBLE_EQ(cal.SpinValue(), 30.0);

  RKVTCFG cfg = session.FKVTCFG;
  double spin = 30.0;
  port.sim().clearFrames();
  ASSERT_TRUE(cal.PrepareCalibration(op, link, cfg, spin, code));
  EXPECT_EQ(port.sim().config().mSensor.mSpanGas, 300);
  EXPECT_EQ(cfg.mSensor.mSpanGas, 300);
  std::vector<KvtSim::Frame> headers;
  for (const KvtSim::Frame& f : port.sim().received())
    if (f.what == "header") headers.push_back(f);
  ASSERT_EQ(headers.size(), 1u);  // two bytes at 88: only the span value
  EXPECT_EQ(headers[0].bytes[0], 2);
  EXPECT_EQ((headers[0].bytes[2] << 8) | headers[0].bytes[3], 88);

  port.sim().clearFrames();
  ASSERT_TRUE(cal.PrepareCalibration(op, link, cfg, spin, code));  // same value: nothing written
  EXPECT_EQ(Count(port.sim(), "header"), 0);

  RKVTCFG other = port.sim().config();
  other.mSensor.mSensorType = 2;
  port.sim().setConfig(other);
  EXPECT_FALSE(cal.PrepareCalibration(op, link, cfg, spin, code));
  EXPECT_EQ(op.messages().back().text, "Different sensor type");
  EXPECT_EQ(code, 0x92);

  // The O2 rule: air values become 18.0 in the settings and the detector.
  port.sim().setConfig(Detector(4, 200));
  TSensorCal o2;
  ASSERT_TRUE(o2.ShowDlg(op, port.sim().config()));
  spin = 20.9;
  RKVTCFG o2cfg = port.sim().config();
  ASSERT_TRUE(o2.PrepareCalibration(op, link, o2cfg, spin, code));
  EXPECT_EQ(spin, 18.0);
  EXPECT_EQ(Ini().ReadInteger("SENSORCAL", "O2", 0), 180);
  EXPECT_EQ(port.sim().config().mSensor.mSpanGas, 180);
  for (auto [type, in, out] : {std::tuple{4, 19.0, 19.0}, {4, 23.5, 23.5}, {4, 23.4, 18.0}, {1, 20.9, 20.9}})
    EXPECT_EQ(ApplyO2Rule(static_cast<uint8_t>(type), in), out) << type << " " << in;

  // Unknown types: neither the dialog nor the main window's check lets it open.
  port.sim().setConfig(Detector(9, 200));
  EXPECT_FALSE(CheckSensorCalibration(op, link, session, code));
  EXPECT_EQ(op.messages().back().caption, "Wrong Sensor");
  EXPECT_FALSE(cal.ShowDlg(op, port.sim().config()));
}

TEST_F(SensorCalTest, RunsEndAsTheDetectorSaysOrOnCancelOrTheLimit) {
  using K = KvtSim::FaultKind;
  struct Case {
    const char* name;
    std::function<void(KvtSim::Options&)> sim;
    bool cancel;
    TCalOutcome outcome;
    int label;
    const char* text;
    int aborts;
  } cases[] = {
      {"ok", [](KvtSim::Options& o) { o.calTimeMs = 150; }, false, TCalOutcome::Ok, 2, "Calibration ... OK", 0},
      {"fail", [](KvtSim::Options& o) { o.calTimeMs = 150, o.calFail = true; }, false, TCalOutcome::Failed, 2,
       "Calibration ... FAIL", 0},
      {"zero refused", [](KvtSim::Options& o) { o.faults = {{0x42, K::Error, 0}}; }, false, TCalOutcome::Failed, 0,
       "Zero Calibration... FAIL", 0},
      {"never ends", [](KvtSim::Options& o) { o.calNeverEnd = true; }, false, TCalOutcome::TimeOut, 2,
       "Calibration... Time-out", 1},
      {"silent detector", [](KvtSim::Options& o) { o.calNeverEnd = true, o.faults = {{0x20, K::Silent, 0}}; },
       false, TCalOutcome::TimeOut, 2, "Calibration... Time-out", 1},
      {"cancel", [](KvtSim::Options& o) { o.calNeverEnd = true; }, true, TCalOutcome::UserStop, 2,
       "Calibration... User Stop", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    KvtSim::Options o;
    o.config = Detector(1, 250);
    c.sim(o);
    SimPort port(o);
    TComKVT link;
    ScriptedOperator op;
    TSensorCal cal;
    ASSERT_TRUE(cal.ShowDlg(op, o.config));
    TCalRecorder view;
    TFastClock clock(30);
    clock.OnWait = [&] {
      EXPECT_TRUE(view.running);
      EXPECT_FALSE(cal.CanClose());
      if (c.cancel && view.progress >= 3) cal.Run()->Stop();
    };
    const RCalResult r = cal.RunCalibration(op, link, view, clock, o.config);
    EXPECT_EQ(r.mOutcome, c.outcome);
    EXPECT_EQ(view.text[c.label], c.text);
    EXPECT_EQ(view.colour[c.label], c.outcome == TCalOutcome::Ok ? TCalColour::Blue : TCalColour::Red);
    EXPECT_EQ(Count(port.sim(), "43"), c.aborts);
    EXPECT_TRUE(op.messages().empty());
    EXPECT_TRUE(cal.CanClose() && !view.running);
    EXPECT_EQ(view.maximum, 30);
    if (c.outcome == TCalOutcome::Ok) {
      EXPECT_EQ(view.text[1], "Apply SPAN Gas (H2S)... 25 ppm");
      EXPECT_EQ(view.progress, 30);
    }
  }
}

}  // namespace
