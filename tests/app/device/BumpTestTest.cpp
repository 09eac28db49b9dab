// The measured bump test against the simulated detector's gas on a pseudo-terminal: the sensor
// shares the run's fast clock, so a response of tens of seconds passes in a second or two.
#include "app/device/BumpTest.h"
#include "app/device/Calibration.h"
#include "app/records/ServiceRecords.h"
#include "link/KVTComms.h"
#include "model/Checksum.h"
#include "model/DeviceUtils.h"
#include "model/SensorTypes.h"
#include "tests/support/FastClock.h"
#include "tests/support/ProgramState.h"
#include "tests/support/ScriptedOperator.h"
#include "tests/support/SimPort.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace {

struct TBumpRecorder : TBumpView {
  std::vector<TBumpPhase> phases;
  std::vector<std::string> prompts;
  int readings = 0;
  std::string alarms;
  std::optional<RBumpResult> verdict;
  std::function<void(TBumpPhase)> onPhase;
  void BumpPhase(TBumpPhase p) override {
    phases.push_back(p);
    if (onPhase) onPhase(p);
  }
  void BumpPrompt(const std::string& t) override { prompts.push_back(t); }
  void BumpReading(double, const std::string&, bool, bool) override { ++readings; }
  void BumpAlarm(bool high, double) override { alarms += high ? "H" : "L"; }
  void BumpVerdict(const RBumpResult& r) override { verdict = r; }
};

RKVTCFG Detector() {
  RKVTCFG cfg;
  SetDefaultCFG(cfg);
  cfg.mSensor.mSensorType = 1;  // H2S, alarms at 5 and 10 ppm
  cfg.mSensor.mAlarmLow = 50;
  cfg.mSensor.mAlarmHigh = 100;
  KvtSim::fillCRCs(cfg);
  return cfg;
}

int Count(KvtSim& sim, const char* what) {
  int n = 0;
  for (const KvtSim::Frame& f : sim.received()) n += f.received && f.what == what;
  return n;
}

TEST(BumpTest, VerdictRestsOnTheReadingsAndIsSentOnlyAtTheEnd) {
  ProgramState kept;
  DeviceCFG = RDeviceCFG{};
  SetBuiltInSensorTypes();
  struct Case {
    const char* name;
    std::function<void(KvtSim::Options&)> sim;
    double gas;
    const char* expiry;
    bool stop;  // Stop once the low alarm came
    TBumpOutcome outcome;
    int exit;
    const char* alarms;
    const char* record;  // parts of the record, '|' between them; empty: no record
  } cases[] = {
      {"alarms in time", [](KvtSim::Options&) {}, 25, "2031-01-31", false, TBumpOutcome::Pass, 0, "LH",
       "PASS|Send Bump Pass... OK|gas 25 ppm|lot L-7|expiry 2031-01-31|verdict=measured\n|time_limit_s=90\n|"
       "tolerance_pct=20\n|rule=every alarm within 90 s of the gas, peak within \u00B120 % of the test gas\n|"
       "alarms_cleared=yes\n"},
      // T90 of 200 s: both alarms come, but after 90 s the reading is far below the gas; nor do
      // the alarms clear within 90 s of its removal, and the verdict is sent all the same.
      {"slow sensor", [](KvtSim::Options& o) { o.sensor.t90Ms = 200000; }, 25, "2031-01-31", false,
       TBumpOutcome::Fail, 68, "LH", "FAIL|Send Bump Fail... OK|reason=peak 1|alarms_cleared=no\n"},
      {"dead sensor", [](KvtSim::Options& o) { o.sensor.dead = true; }, 25, "2031-01-31", false, TBumpOutcome::Fail,
       67, "",
       "FAIL|Send Bump Fail... OK|t_low_s=none\n|t_high_s=none\n|peak=0.0 ppm\n|"
       "reason=no low alarm within 90 s; no high alarm within 90 s; peak 0.0 ppm outside \u00B120 % of 25 ppm\n"},
      {"stop", [](KvtSim::Options&) {}, 25, "2031-01-31", true, TBumpOutcome::UserStop, 69, "L",
       "User Stop|Bump Test... User Stop|t_high_s=none"},
      // The detector stops answering the readings: no verdict, nothing sent, recorded as not done.
      {"silent detector", [](KvtSim::Options& o) { o.faults = {{0x20, KvtSim::FaultKind::Silent, 0}}; }, 25,
       "2031-01-31", false, TBumpOutcome::LinkFailure, -1, "", "Bump Test... |t_low_s=none\n|peak=none\n"},
      {"gas below the high alarm", [](KvtSim::Options&) {}, 8, "2031-01-31", false, TBumpOutcome::Refused, 65, "", ""},
      {"expired cylinder", [](KvtSim::Options&) {}, 25, "2020-01-31", false, TBumpOutcome::Refused, 65, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    AppDir = dir.path();
    TFastClock clock(40);
    KvtSim::Options o;
    o.config = Detector();
    o.sensorClock = [&clock] { return clock.Now(); };
    c.sim(o);
    SimPort port(o);
    TComKVT link;
    ScriptedOperator op;
    TBumpRecorder view;
    RBumpSetup setup{c.gas, "L-7", c.expiry, 90, 20};
    TBumpTestRun run(op, link, view, clock, setup);
    bool sentEarly = false;
    view.onPhase = [&](TBumpPhase p) {
      if (p != TBumpPhase::Done) sentEarly |= Count(port.sim(), "46") + Count(port.sim(), "45") > 0;
      if (p == TBumpPhase::WaitGasOn) port.sim().applyGas(c.gas), run.GasOn();
      if (p == TBumpPhase::WaitGasOff) port.sim().applyGas(0), run.GasRemoved();
    };
    clock.OnWait = [&] {
      if (c.stop && view.alarms == "L") run.Stop();
    };
    DriveRun(run, clock);
    const RBumpResult& r = run.Result();
    EXPECT_EQ(r.mOutcome, c.outcome) << r.mReason;
    EXPECT_EQ(BumpExitStatus(r), c.exit < 0 ? r.mCode : c.exit);
    if (c.exit < 0) {
      EXPECT_NE(r.mCode, 0);
    }
    EXPECT_EQ(view.alarms, c.alarms);
    EXPECT_FALSE(sentEarly);
    // The detector is told the verdict once, at the end, and only the one measured.
    EXPECT_EQ(Count(port.sim(), "46"), c.outcome == TBumpOutcome::Pass ? 1 : 0);
    EXPECT_EQ(Count(port.sim(), "45"), c.outcome == TBumpOutcome::Fail ? 1 : 0);
    if (c.outcome == TBumpOutcome::Refused) {
      ASSERT_EQ(op.messages().size(), 1u);
      EXPECT_FALSE(view.verdict);
    } else {
      // A link failure is told in its box, as every operation's is.
      EXPECT_EQ(op.messages().empty(), c.outcome != TBumpOutcome::LinkFailure);
      EXPECT_NE(view.prompts.at(0).find("Apply H2S 25 ppm (lot L-7, expiry 2031-01-31); alarms at 5 and 10 ppm"),
                std::string::npos);
      EXPECT_GT(view.readings, c.stop ? 0 : c.outcome == TBumpOutcome::LinkFailure ? -1 : 20);
    }
    if (std::string(c.expiry) < "2026") {
      EXPECT_TRUE(port.sim().received().empty());
    }
    const bool stored = std::filesystem::exists(dir.path() + "BEAMDOCK.DB");
    EXPECT_EQ(stored, *c.record != '\0');
    if (!stored || !*c.record) continue;
    const std::vector<RServiceRecord> records =
        TRecordStore(dir.path() + "BEAMDOCK.DB", TRecordStore::TMode::Read).History("");
    ASSERT_EQ(records.size(), 1u);
    const RServiceRecord& rec = records[0];
    EXPECT_EQ(rec.mKind, "bump");
    const std::string seen = rec.mResult + "|" + rec.mStatus + "|gas " + rec.mSpanGas + "|lot " + rec.mLot +
                             "|expiry " + rec.mExpiry + "|" + rec.mDetails;
    std::istringstream parts(c.record);
    for (std::string part; std::getline(parts, part, '|');)
      EXPECT_NE(seen.find(part), std::string::npos) << part << " in " << seen;
    if (c.outcome == TBumpOutcome::Pass) {
      // The alarms came within seconds of a T90 of 20 s; the peak settled near the gas.
      EXPECT_LT(*r.mLowAfter, *r.mHighAfter);
      EXPECT_LT(*r.mHighAfter, 10.0);
      EXPECT_TRUE(WithinTolerance(std::stod(r.mPeak), 25, 20)) << r.mPeak;
      EXPECT_TRUE(r.mCleared);
    }
  }
}

}  // namespace
