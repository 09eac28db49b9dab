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
#include "app/records/ServiceRecords.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

struct TCalRecorder : TCalView {
  std::string text[3];
  TCalColour colour[3] = {};
  int progress = 0, maximum = 0;
  bool running = false;
  std::function<void()> onSpanPrompt;  // the operator applies the span gas
  void CalText(int which, const std::string& t, TCalColour c) override {
    text[which] = t, colour[which] = c;
    if (which == 1 && !t.empty() && onSpanPrompt) onSpanPrompt();
  }
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
    const char* record = "";  // parts of the record, '|' between them
  } cases[] = {
      {"ok", [](KvtSim::Options& o) { o.calTimeMs = 150, o.sensor.driftPct = -15; }, false, TCalOutcome::Ok, 2,
       "Calibration ... OK", 0,
       "PASS|Calibration ... OK|tolerance_pct=10\n|rule=as left within \u00B110 % of the span gas\n|"
       "zero_as_found=0.0 ppm\n|zero_as_left=0.0 ppm\n|temperature=24.5 \u00B0C\n|cylinder=not recorded\n"},
      // The detector says OK but kept its old span: 30 % low on the span gas.
      {"as left out of tolerance", [](KvtSim::Options& o) { o.calTimeMs = 150, o.calUnchanged = true,
                                                             o.sensor.driftPct = -30; },
       false, TCalOutcome::Failed, 2, "FAIL: as left out of tolerance (17.5 ppm)", 0,
       "FAIL|Calibration ... FAIL: as left out of tolerance|zero OK|span FAIL|as found 17.5 ppm|"
       "as left 17.5 ppm|cylinder=lot L-7, expiry 2031-01-31\n"},
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
      // 3.0 ppm of gas left at the sensor: above the dead zone of 1.5, and the operator says No.
      {"zero in gas", [](KvtSim::Options& o) { o.sensor.zeroDrift = 3.0; }, false, TCalOutcome::ZeroRefused, 0,
       "Zero refused: the detector reads 3.0 ppm (gas?)", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    KvtSim::Options o;
    o.config = Detector(1, 250);
    o.sensor.t90Ms = 0;
    c.sim(o);
    SimPort port(o);
    TComKVT link;
    ScriptedOperator op;
    TSensorCal cal;
    ASSERT_TRUE(cal.ShowDlg(op, o.config));
    TCalRecorder view;
    view.onSpanPrompt = [&] { port.sim().applyGas(25.0); };
    if (c.outcome == TCalOutcome::ZeroRefused) op.answer(false);
    if (c.outcome == TCalOutcome::Failed && c.label == 2) cal.FLot = "L-7", cal.FExpiry = "2031-01-31";
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
    const std::vector<RServiceRecord> records =
        TRecordStore(FDir.path() + "BEAMDOCK.DB", TRecordStore::TMode::Read).History("");
    if (c.outcome == TCalOutcome::ZeroRefused) {
      // Asked with the reading shown; No: the zero was never sent, nothing to record.
      ASSERT_EQ(op.questions().size(), 1u);
      EXPECT_NE(op.questions()[0].text.find("reads 3.0 ppm, more than its dead zone of 1.5 ppm"), std::string::npos);
      EXPECT_EQ(Count(port.sim(), "42"), 0);
      EXPECT_EQ(CalibrationExitStatus(r), 65);
    }
    if (*c.record) {
      ASSERT_FALSE(records.empty());
      const RServiceRecord& rec = records[0];
      const std::string seen = rec.mResult + "|" + rec.mStatus + "|zero " + rec.mZero + "|span " + rec.mSpan +
                               "|as found " + rec.mAsFound + "|as left " + rec.mAsLeft + "|" + rec.mDetails;
      std::istringstream parts(c.record);
      for (std::string part; std::getline(parts, part, '|');)
        EXPECT_NE(seen.find(part), std::string::npos) << part << " in " << seen;
    }
  }
}

}  // namespace
