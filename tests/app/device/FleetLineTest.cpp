// The fleet's statuses at set times, the refused configurations (nothing written, checked on
// the simulated detector's frames) and a production line of three simulated detectors.
#include "app/device/DeviceSession.h"
#include "app/records/Fleet.h"
#include "app/device/ProductionLine.h"
#include "app/records/ServiceRecords.h"
#include "app/core/Settings.h"
#include "link/KVTComms.h"
#include "model/CfgFile.h"
#include "model/Checksum.h"
#include "model/DeviceUtils.h"
#include "model/SensorTypes.h"
#include "tests/support/ScriptedOperator.h"
#include "tests/support/SimPort.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace {

constexpr std::time_t kNow = 1'780'000'000;  // 2026-05-28
constexpr std::time_t kDay = 86400;

std::vector<uint8_t> Cfg(uint32_t calDays, uint16_t bumpDays) {
  RKVTCFG cfg{};
  SetDefaultCFG(cfg);
  cfg.mSensor.mCalInterval = calDays * 86400u;
  cfg.mSensor.mBumpInterval = bumpDays;
  return CfgImage(cfg);
}

TEST(Fleet, StatusesDueDatesAndOrderAtSetTimes) {
  const std::vector<RFleetEvent> events = {
      // OK: calibrated 10 days ago (30-day interval), bumped today (30-day interval).
      {"OK1", "H2S", "read", kNow - 20 * kDay, true, Cfg(30, 30)},
      {"OK1", "H2S", "calibration", kNow - 10 * kDay, true, {}},
      {"OK1", "H2S", "bump", kNow - 3600, true, {}},
      // DUE: calibration due in 5 days, inside the 7 of --due.
      {"DUE1", "CO", "write", kNow - 40 * kDay, true, Cfg(30, 0)},
      {"DUE1", "CO", "calibration", kNow - 25 * kDay, true, {}},
      // OVERDUE: bump due yesterday; an older failed bump does not count.
      {"LATE", "O2", "bump", kNow - 9 * kDay, false, Cfg(0, 7)},
      {"LATE", "O2", "bump", kNow - 8 * kDay, true, {}},
      // FAILED: the newest calibration failed although nothing is due.
      {"BAD", "H2S", "calibration", kNow - 5 * kDay, true, Cfg(90, 0)},
      {"BAD", "H2S", "calibration", kNow - 2 * kDay, false, {}},
      // Never calibrated nor bumped, configuration known with intervals: DUE, "now".
      {"NEW", "H2S", "write", kNow - kDay, true, Cfg(30, 7)},
      // Intervals of 0: no due date, never done is no reason to be due.
      {"NONE", "H2S", "read", kNow - kDay, true, Cfg(0, 0)},
      // The newest configuration counts: the interval shortened from 90 to 20 days.
      {"SHORT", "CO", "calibration", kNow - 22 * kDay, true, Cfg(90, 0)},
      {"SHORT", "CO", "read", kNow - kDay, true, Cfg(20, 0)},
  };
  const std::vector<RFleetRow> rows = FleetRows(events, kNow, 7);
  std::vector<std::string> got;
  for (const RFleetRow& r : rows) {
    const std::vector<std::string> c = FleetCells(r);
    got.push_back(c[0] + "|" + c[2] + "|" + c[3] + "|" + c[4] + "|" + c[5] + "|" + c[6]);
  }
  const auto at = [](std::time_t t) { return UtcDateText(t); };
  EXPECT_EQ(got, (std::vector<std::string>{
                     "BAD|" + at(kNow - 2 * kDay) + " FAIL|" + at(kNow + 88 * kDay) + "|never|-|FAILED",
                     "SHORT|" + at(kNow - 22 * kDay) + " PASS|" + at(kNow - 2 * kDay) + "|never|-|OVERDUE",
                     "LATE|never|-|" + at(kNow - 8 * kDay) + " PASS|" + at(kNow - kDay) + "|OVERDUE",
                     "NEW|never|now|never|now|DUE",
                     "DUE1|" + at(kNow - 25 * kDay) + " PASS|" + at(kNow + 5 * kDay) + "|never|-|DUE",
                     "OK1|" + at(kNow - 10 * kDay) + " PASS|" + at(kNow + 20 * kDay) + "|" + at(kNow - 3600) +
                         " PASS|" + at(kNow - 3600 + 30 * kDay) + "|OK",
                     "NONE|never|-|never|-|OK",
                 }));
  for (const RFleetRow& r : FleetRows(events, kNow, 4))  // --due 4: 5 days ahead is no longer DUE
    EXPECT_TRUE(r.mSerial != "DUE1" || r.mStatus == TFleetStatus::Ok);

  // A verdict given by hand says so, and starts a new interval only where the site lets it.
  const std::vector<RFleetEvent> hand = {{"HAND", "H2S", "bump", kNow - 10 * kDay, true, Cfg(0, 7)},
                                         {"HAND", "H2S", "bump", kNow - 3600, true, {}, true}};
  for (const bool resets : {true, false}) {
    const std::vector<std::string> c = FleetCells(FleetRows(hand, kNow, 1, resets).at(0));
    EXPECT_EQ(c[4] + "|" + c[5] + "|" + c[6],
              at(kNow - 3600) + " PASS (hand)|" + (resets ? at(kNow - 3600 + 7 * kDay) + "|OK" : at(kNow - 3 * kDay) + "|OVERDUE"));
  }

  // From records (newest first in, oldest first out): a calibration passes only with code 0 and
  // its span step OK.
  std::vector<RServiceRecord> records(3);
  records[0].mSerial = "R1", records[0].mKind = "calibration", records[0].mTime = "2026-05-01T00:00:00Z";
  records[0].mDetails = "span=OK\n";
  records[1] = records[0], records[1].mCode = 0xA2;
  records[2] = records[0], records[2].mKind = "bump", records[2].mDetails = "bump=FAIL\n";
  std::string fromRecords;
  for (const RFleetEvent& e : FleetEventsFrom(records))
    fromRecords += e.mKind + (e.mPass ? " pass " : " fail ") + std::to_string(e.mTime) + ";";
  EXPECT_EQ(fromRecords, "bump fail 1777593600;calibration fail 1777593600;calibration pass 1777593600;");
}

class ScriptedLineView : public TLineView {
 public:
  std::function<void(const std::string&)> onWaiting;
  std::function<void(const RLineUnit&)> onUnit;
  void ShowWaiting(const std::string& what) override {
    if (onWaiting) onWaiting(what);
  }
  void ShowUnit(const RLineUnit& unit) override {
    if (onUnit) onUnit(unit);
  }
};

class FleetLine : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadSettings(FDir.path());
    DeviceCFG.mConnectTime = 200;  // a short attempt: waiting for units is what this tests
  }
  void TearDown() override { LoadSettings(""); }
  static RKVTCFG FileCfg(uint16_t high, uint16_t low) {
    RKVTCFG cfg{};
    SetDefaultCFG(cfg);
    cfg.mSensor.mAlarmHigh = high;
    cfg.mSensor.mAlarmLow = low;
    cfg.mSensor.mCalInterval = 30 * 86400;
    cfg.mSensor.mBumpInterval = 7;
    return cfg;
  }
  // The units the line meets, named because the expectations count from them: serials from
  // SH10000000 up, High 15.0 and Low 10.0 ppm, no calibration or bump interval.
  static KvtSim::Options Units(int count = 1) {
    KvtSim::Options o;
    std::memcpy(o.config.mUnit.mSerial, "SH10000000", 10);
    o.config.mSensor.mAlarmHigh = 150;
    o.config.mSensor.mAlarmLow = 100;
    o.config.mSensor.mCalInterval = 0;
    o.config.mSensor.mBumpInterval = 0;
    KvtSim::fillCRCs(o.config);
    o.units = count;
    return o;
  }
  TempDir FDir;
};

// Equal levels are refused too (the larger ones and the sensor maximum are the terminal tool's
// cases); in the window the refusal is a box and not even a connect frame goes out.
TEST_F(FleetLine, RefusedConfigurationsSendNothingAndNameTheField) {
  SimPort port;
  ScriptedOperator op;
  TComKVT link;
  TDeviceSession session;
  EXPECT_EQ(session.WriteDevice(op, link, FileCfg(200, 200)).mStop, TSessionStop::WriteRefused);
  ASSERT_EQ(op.messages().size(), 1u);
  EXPECT_EQ(op.messages()[0].caption, kWriteRefusedCaption);
  EXPECT_EQ(op.messages()[0].text,
            "Low Alarm 20.0 ppm is not below High Alarm 20.0 ppm.\rNothing was written to the detector.");
  EXPECT_EQ(op.lastStatus().text, "Write KVT Information... REFUSED");
  EXPECT_TRUE(port.sim().received().empty());
  ScriptedLineView view;
  TSteadyRunClock clock;
  EXPECT_TRUE(TProductionLine(op, link, FileCfg(200, 200), view, clock).Refusal());
  // The same values still go to a file and come back from it: nothing stored is lost.
  session.FKVTCFG = FileCfg(250, 300);
  EXPECT_TRUE(session.SaveFile(op, FDir.path() + "kept.cfg").ok());
  const CFGFileContent kept = ReadCFGFile(FDir.path() + "kept.cfg");
  ASSERT_TRUE(kept.ok());
  EXPECT_EQ(+kept.cfg.mSensor.mAlarmLow, 300);  // by value: the record is packed
  EXPECT_EQ(+kept.cfg.mSensor.mAlarmHigh, 250);
}

TEST_F(FleetLine, ThreeUnitsOneFailingItsReadBack) {
  KvtSim::Options options = Units(3);
  options.loseWritesUnit = 2;
  SimPort port(options);
  KvtSim& sim = port.sim();
  ScriptedOperator op;
  TComKVT link;
  ScriptedLineView view;
  TSteadyRunClock clock;
  TProductionLine line(op, link, FileCfg(200, 120), view, clock);
  line.FPauseSeconds = 0.02;
  line.FFileName = "line.cfg";
  std::vector<RLineUnit> units;
  std::vector<std::string> waits;
  // The operator's hands: a done unit is taken away, and once the line waits the next is put on.
  view.onUnit = [&](const RLineUnit& u) {
    units.push_back(u);
    sim.takeAway();
    if (units.size() == 3) line.Stop();
  };
  view.onWaiting = [&](const std::string& what) {
    waits.push_back(what);
    if (what == "Waiting for a detector" && !units.empty() && sim.unitNumber() < 3) sim.putBack(true);
  };
  DriveRun(line, clock);

  // Serials, results, reasons and changes of each unit are the window's test's list.
  ASSERT_EQ(units.size(), 3u);
  EXPECT_EQ(units[1].mCode, APP_READBACK);
  // Each unit waited for its removal: "Take the detector away" after every unit but the last.
  EXPECT_EQ(std::count(waits.begin(), waits.end(), "Take the detector away"), 2);

  // Every unit is one write record with the configuration before and after (the window's test
  // reads the fleet they make).
  const std::vector<RServiceRecord> records = TRecordStore(RecordsDatabasePath(), TRecordStore::TMode::Read).History("");
  std::string got;
  for (const RServiceRecord& r : records)
    got += r.mSerial + " " + r.mKind + " " + r.mResult + " " + r.Detail("readback") + ";";
  EXPECT_EQ(got, "SH10000002 write PASS OK;SH10000001 write FAIL read back: mAlarmHigh written 20.0 ppm, read 15.0 ppm;"
                 "SH10000000 write PASS OK;");
  ASSERT_EQ(records.size(), 3u);
  RKVTCFG third = options.config;  // as the third unit came, before the line wrote it
  std::memcpy(third.mUnit.mSerial, "SH10000002", 10);
  KvtSim::fillCRCs(third);
  EXPECT_EQ(records[0].mCfgBefore, CfgImage(third));
}

// Units that do not fit the file fail with their step and keep what they had; the factory view
// writes its ranges and the life, but not the file's serial (a line of one serial is no line).
TEST_F(FleetLine, EachUnitFailsWithItsStepOrTakesTheFile) {
  const struct {
    const char* what;
    std::function<void(KvtSim::Options&)> setup;
    const char* reason;  // none: the unit passes, in the factory view
    size_t writes;
  } cases[] = {
      {"product", [](KvtSim::Options& o) { o.pid = 2; }, "product type (0x92): ", 0},
      {"sensor", [](KvtSim::Options& o) { o.identitySensor = 2; }, "sensor type: detector 2, file 1", 0},
      {"write", [](KvtSim::Options& o) { o.faults.push_back({KvtSim::kTargetData, KvtSim::FaultKind::Nak}); },
       "write (0xB0): ", 6},  // three attempts at the first window, each a header and its data
      {"factory", [](KvtSim::Options&) {}, nullptr, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RKVTCFG file = FileCfg(200, 120);
    if (!c.reason) {
      FDir.write("BEAMDOCK.INI",
                 "[Environment]\r\nModeEntry=MRW_TQP__\r\nConnectTime=500\r\n[UNIT]\r\nUnitWriteUserSize=8\r\n"
                 "UnitWriteFactorySize=20\r\nSensorWriteFactorySize=22\r\n");
      LoadSettings(FDir.path());
      ASSERT_TRUE(FactoryMode);
      std::memcpy(file.mUnit.mSerial, "SH99999999", 10);
      file.mUnit.mLifeRemaining = 12 * kSecondsPerMonth;
      file.mSensor.mSpanGas = 300;
      file.mUnit.mBatLimitCritical = 555;
    }
    KvtSim::Options options = Units();
    c.setup(options);
    SimPort port(options);
    ScriptedOperator op;
    TComKVT link;
    ScriptedLineView view;
    TSteadyRunClock clock;
    TProductionLine line(op, link, file, view, clock, 1);
    DriveRun(line, clock);
    ASSERT_EQ(line.Units().size(), 1u);
    EXPECT_TRUE(op.messages().empty());  // reported in the line's view, not in boxes
    const RKVTCFG got = port.sim().config();
    if (c.reason) {
      EXPECT_EQ(line.Passed(), 0);
      EXPECT_EQ(line.Units()[0].mReason.rfind(c.reason, 0), 0u) << line.Units()[0].mReason;
      size_t writes = 0;
      for (const KvtSim::Frame& f : port.sim().received())
        writes += f.what == "70" || f.what == "data" || f.what == "71";
      EXPECT_EQ(writes, c.writes);
      EXPECT_EQ(CfgImage(got), CfgImage(options.config));  // nothing kept
      continue;
    }
    EXPECT_TRUE(line.Units()[0].mPass) << line.Units()[0].mReason;
    EXPECT_EQ(std::string(got.mUnit.mSerial, 10), "SH10000000");
    EXPECT_EQ(+got.mUnit.mBatLimitCritical, 555);
    EXPECT_EQ(+got.mUnit.mLifeRemaining, 12 * kSecondsPerMonth - 1);  // as the collect of 12 months 0 days
    EXPECT_EQ(+got.mSensor.mSpanGas, 300);
    EXPECT_EQ(+got.mSensor.mAlarmHigh, 200);
  }
}

}  // namespace
