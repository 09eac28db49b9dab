// The logging run: what a reading looks like on screen and in the data log, the chart's
// scrolling, and whole runs against the simulated detector on a fast clock.
#include "app/device/DataLog.h"
#include "app/device/Logging.h"
#include "app/records/ServiceRecords.h"
#include "app/core/Settings.h"
#include "link/KVTComms.h"
#include "model/DeviceUtils.h"
#include "model/SensorTypes.h"
#include "tests/support/FastClock.h"
#include "tests/support/ProgramState.h"
#include "tests/support/ScriptedOperator.h"
#include "tests/support/SimPort.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace {

RKVTSensor Rec(uint16_t value, uint16_t peak, uint8_t history, uint8_t alarm = 0) {
  return {value, peak, history, alarm};
}

TEST(DataLogTest, ReadingsShowAndLogAsTheDetectorMeansThem) {
  struct Case {
    RKVTSensor sensor;
    const char* value;
    const char* peak;
    float chart;
  } cases[] = {
      {Rec(0x7FFF, 16, 1), "OL", "1.6", 3276.7f},   {Rec(0xFFFB, 5, 1), "-0.5", "0.5", -0.5f},
      {Rec(0x8000, 0, 2), "-327.68", "0.00", -327.68f}, {Rec(7, 9, 0), "7", "9", 7.0f},
      {Rec(1234, 0, 3), "1.234", "0.000", 1.234f},
  };
  for (const Case& c : cases) {
    RReadingSet set{c.sensor, Rec(395, 2048, 2), Rec(245, 1750, 1)};
    const RReadingTexts t = ReadingTexts(set);
    EXPECT_EQ(t.mValue[0], c.value);
    EXPECT_EQ(t.mPeak[0], c.peak);
    EXPECT_FLOAT_EQ(ChartValue(c.sensor), c.chart);
  }
  // Flags: history bits 2..7 and LOW/HIGH are written; TWA, STEL and MULTI only shown.
  RReadingSet set{Rec(125, 300, 0x80 | 0x08 | 0x04 | 1, 0x1F), Rec(395, 2048, 2), Rec(245, 1750, 1)};
  const RReadingTexts t = ReadingTexts(set);
  EXPECT_TRUE(t.mHistory[0] && t.mHistory[1] && t.mHistory[5] && !t.mHistory[2]);
  EXPECT_TRUE(t.mAlarm[0] && t.mAlarm[4]);
  const std::string row = DataLogRow(set, std::chrono::system_clock::now());
  ASSERT_EQ(row.size() > 19 ? row[2] : ' ', '-');
  EXPECT_EQ(row.substr(18), ",12.5,30.0,YES,YES,,,,YES,LOW,HIGH,3.95,2048,24.5,1750");

  RKVTUnitCFG unit{};
  std::memcpy(unit.mSerial, "AB12\0\0\0\0\0\0", 10);
  unit.mFWVersion = 14;
  unit.mLifeRemaining = kMaxLifeSeconds;
  unit.mAlarmCount = 3, unit.mAlarmTime = 77, unit.mTestCount = 12;
  EXPECT_EQ(DataLogHeader(unit),
            "Product Name,QRB Vaporlet\r\nLog Type,Data Log\r\nSerial Number,AB12\r\nFirmware Version,1.4\r\n"
            "Life Remaining,24months 0 days\r\nTotal Number of Events,3\r\nDuration of events,77\r\n"
            "Number of self-tests,12\r\n\r\nTime,Sensor,Sensor Peak,Self-test failed,Last cal failed,"
            "Last bump failed,Calibration due,Bump due,Calibration Progress,LOW Alarm,HIGH Alarm,Battery,"
            "Battery ADC,Temperature,Temperature ADC\r\n");
  unit.mLifeRemaining = 100;
  EXPECT_NE(DataLogHeader(unit).find("Life Remaining,1 days\r\n"), std::string::npos);
  EXPECT_EQ(DataLogFileName("A/B 12\0\0\0\0", {}).substr(0, 10), "AB12_DAT_7");
}

TEST(DataLogTest, ChartScrollsByATenthOfItsWidthAndKeepsTheNewest10000) {
  TChartHistory h;
  h.Reset(120);
  EXPECT_EQ(h.Increment(), 12);
  for (int t = 0; t <= 120; ++t) EXPECT_FALSE(h.Add(t, static_cast<float>(t)));
  ASSERT_TRUE(h.Add(121, 121));
  EXPECT_EQ(h.AxisMin(), 12);
  EXPECT_EQ(h.AxisMax(), 132);
  const std::vector<RChartPoint> shown = h.Visible();
  ASSERT_EQ(shown.size(), 110u);
  EXPECT_EQ(shown.front().mTime, 12);
  EXPECT_EQ(shown.back().mTime, 121);

  h.Reset(60000);
  for (int t = 0; t < 10005; ++t) h.Add(t, 0);
  EXPECT_TRUE(h.Add(60001, 0));  // scrolls to 6000..66000; the table holds 6..10004 and the new point
  EXPECT_EQ(h.Visible().size(), (10004u - 6000u + 1u) + 1u);

  // Thinned for a chart 100 pixels wide: the extremes, the first and the newest stay.
  std::vector<RChartPoint> many;
  for (int t = 0; t < 10000; ++t) many.push_back({double(t), float(t == 5000 ? 99 : t == 7000 ? -99 : t % 7)});
  const std::vector<RChartPoint> thin = ThinChartPoints(many, 0, 10000, 100);
  EXPECT_LE(thin.size(), 202u);
  EXPECT_EQ(thin.front().mTime, 0);
  EXPECT_EQ(thin.back().mTime, 9999);
  EXPECT_TRUE(std::is_sorted(thin.begin(), thin.end(), [](auto& a, auto& b) { return a.mTime < b.mTime; }));
  int extremes = 0;
  for (const RChartPoint& p : thin) extremes += p.mValue == 99 || p.mValue == -99;
  EXPECT_EQ(extremes, 2);
}

// Records what the dialog would show.
struct TRecorderView : TLoggingView {
  std::vector<RReadingTexts> readings;
  std::vector<std::pair<std::string, TLabelColour>> labels;
  std::vector<std::string> fileErrors;
  int chartPoints = 0;
  bool calButtons = false, battery = true;
  void ShowReading(const RReadingTexts& t) override { readings.push_back(t); }
  void ChartReset(double, double, double) override { chartPoints = 0; }
  void ChartAdd(const RChartPoint&) override { ++chartPoints; }
  void ChartScroll(double, double, const std::vector<RChartPoint>& p) override { chartPoints = int(p.size()); }
  void ShowCalLabel(const std::string& t, TLabelColour c) override {
    if (!t.empty()) labels.emplace_back(t, c);
  }
  void CalButtons(bool on) override { calButtons = on; }
  void LoggingButtons(bool) override {}
  void CalProgress(int, int) override {}
  void DataLogError(const std::string& t) override { fileErrors.push_back(t); }
  bool BatteryTicked() override { return battery; }
  bool TemperatureTicked() override { return true; }
};

class LoggingRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DeviceCFG = RDeviceCFG{};
    DeviceCFG.mLogSaveDir = FDir.path();
    AppDir = FDir.path();
  }
  int Count(KvtSim& sim, const char* what) {
    int n = 0;
    for (const KvtSim::Frame& f : sim.received()) n += f.what == what;
    return n;
  }
  ProgramState FKept;
  TempDir FDir;
};

TEST_F(LoggingRunTest, LogsToScreenChartAndFileAndRidesOutDetectorFailures) {
  KvtSim::Options o;
  o.timetable = true, o.gasCenter = -5, o.gasAmplitude = 0;
  o.faults = {{0x20, KvtSim::FaultKind::Silent, 1}};  // one poll unanswered: reconnect silently
  SimPort port(o);
  TComKVT link;
  ScriptedOperator op;
  const std::string file = FDir.path() + "log.csv";
  op.saveFile(file);
  TRecorderView view;
  TFastClock clock(20);
  TLoggingRun run(link, op, view, clock);
  int n = 0;
  run.OnReading = [&](const RReadingSet&) {
    ++n;
    if (n == 2) {
      view.battery = false;  // the battery record keeps its last values
      port.sim().modifyOptions([](KvtSim::Options& x) { x.batteryValue = 400; });
    }
    if (n == 4) std::remove(file.c_str());
    if (n == 6) run.Stop();
  };
  EXPECT_EQ(run.StartLogging(), 0);

  EXPECT_TRUE(op.messages().empty());
  const ScriptedOperator::Event dialog = op.eventsOf(ScriptedOperator::Kind::SaveFile).at(0);
  EXPECT_EQ(dialog.caption, "Save Data Logging Data...");
  EXPECT_EQ(dialog.request.fileName.substr(0, 15), std::string(port.sim().identity().mSerial, 10) + "_DAT_");
  ASSERT_EQ(view.readings.size(), 6u);
  for (const RReadingTexts& t : view.readings) {
    EXPECT_EQ(t.mValue[0], "-0.5");
    EXPECT_EQ(t.mValue[1], "3.95");
  }
  EXPECT_EQ(view.chartPoints, 6);
  EXPECT_EQ(Count(port.sim(), "22"), 2);
  ASSERT_EQ(view.fileErrors.size(), 1u);  // told once, rows stop, display goes on
  EXPECT_FALSE(FDir.exists("log.csv"));
  EXPECT_EQ(AppSettings().ReadString("Logging", "SaveDirectory", ""), FDir.path());
}

TEST_F(LoggingRunTest, HeaderAndRowsReachTheFile) {
  SimPort port;
  TComKVT link;
  ScriptedOperator op;
  op.saveFile(FDir.path() + "log.csv");
  TRecorderView view;
  TFastClock clock(20);
  TLoggingRun run(link, op, view, clock);
  int n = 0;
  run.OnReading = [&](const RReadingSet&) {
    if (++n == 3) run.Stop();
  };
  run.StartLogging();
  const std::string text = FDir.read("log.csv");
  EXPECT_EQ(text.substr(0, text.find("\r\n")), "Product Name,QRB Vaporlet");
  size_t lines = 0;
  for (size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos; at += 2) ++lines;
  EXPECT_EQ(lines, 10u + 3u);
  EXPECT_TRUE(view.fileErrors.empty());
}

TEST_F(LoggingRunTest, OnlyAdapterAndPortStatusesEndLogging) {
  for (int code = 0; code < 256; ++code) {
    const bool fatal = (code >= 1 && code <= 6) || code == 8 || code == 9 || code == 0xA1 || code >= 0xFC;
    EXPECT_EQ(IsFatalLoggingStatus(static_cast<uint8_t>(code)), fatal) << code;
  }
  ScopedEnv gone("BEAMDOCK_PORT", FDir.path() + "no-such-tty");
  TComKVT link;
  ScriptedOperator op;
  TRecorderView view;
  TFastClock clock(20);
  TLoggingRun run(link, op, view, clock);
  EXPECT_TRUE(IsFatalLoggingStatus(run.RunLogging("")));
  ASSERT_EQ(op.messages().size(), 1u);
  EXPECT_EQ(op.messages()[0].caption, "BEAMDOCK Error");
  EXPECT_TRUE(view.readings.empty());
}

TEST_F(LoggingRunTest, CalibrationButtonsAndTheMonitor) {
  using K = KvtSim::FaultKind;
  struct Case {
    const char* name;
    uint8_t button;
    std::function<void(KvtSim::Options&)> sim;
    const char* last;
    TLabelColour colour;
    int aborts;
    const char* record;  // in the newest service record's code, status, result and details
  } cases[] = {
      {"ok", kBtnCal, [](KvtSim::Options& o) { o.calTimeMs = 300; }, "Calibration ... OK", TLabelColour::Blue, 0,
       "Zero/Span CAL.|Calibration ... OK|PASS|zero=OK\nspan=OK"},
      {"fail", kBtnSpan, [](KvtSim::Options& o) { o.calTimeMs = 300, o.calFail = true; }, "Calibration ... FAIL",
       TLabelColour::Red, 0, "Span CAL.|67|Calibration ... FAIL|FAIL|zero=-\nspan=FAIL"},
      {"never starts", kBtnCal, [](KvtSim::Options& o) { o.calNeverStart = true; },
       "Calibration Abort ... Timeout", TLabelColour::Red, 1, "span=time-out"},
      {"never ends", kBtnCal, [](KvtSim::Options& o) { o.calNeverEnd = true; }, "Calibration FAIL ... Timeout",
       TLabelColour::Red, 1, "span=time-out"},
      {"refused", kBtnCal, [](KvtSim::Options& o) { o.faults = {{0x42, K::Error, 0}}; },
       "Zero/Span CAL. ... Zero Cal. FAIL", TLabelColour::Red, 0, "Zero/Span CAL.|177|zero=FAIL"},
      {"span refused", kBtnSpan, [](KvtSim::Options& o) { o.faults = {{0x41, K::Error, 0}}; }, "Span CAL. ... FAIL",
       TLabelColour::Red, 0, "Span CAL.|177|Span CAL. ... FAIL"},
      {"nak", kBtnBumpPass, [](KvtSim::Options& o) { o.faults = {{0x46, K::Nak, 0}}; },
       "Send Bump Pass ... Negative", TLabelColour::Red, 0, "Send Bump Pass|176|FAIL"},
      {"zero", kBtnZero, [](KvtSim::Options&) {}, "Zero CAL. ... OK", TLabelColour::Blue, 0, "Zero CAL.|0|zero=OK"},
      {"abort idle", kBtnCalAbort, [](KvtSim::Options&) {}, "Clear CAL. ... OK", TLabelColour::Blue, 1, "Clear CAL.|0|"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DeviceCFG.mCalTime = 30;
    DeviceCFG.mLogInterval = 3;
    KvtSim::Options o;
    o.sensor.t90Ms = 0;
    c.sim(o);
    SimPort port(o);
    TComKVT link;
    ScriptedOperator op;
    TRecorderView view;
    TFastClock clock(50);
    TLoggingRun run(link, op, view, clock);
    int n = 0;
    bool fastPolls = false;
    run.OnReading = [&](const RReadingSet&) {
      ++n;
      if (n == 1) run.PressCalButton(c.button);
      if (n == 2) port.sim().applyGas(25.0);  // the span gas, once the zero has been taken
      fastPolls = fastPolls || run.PollInterval() == 1;
      // State 4 ends once its pass has put the interval back.
      if ((run.MonitorState() == 4 && run.PollInterval() == 3) || (run.MonitorState() == 0 && n == 3) || n > 200)
        run.Stop();
    };
    EXPECT_EQ(run.RunLogging(""), 0);
    ASSERT_FALSE(view.labels.empty());
    EXPECT_EQ(view.labels.back().first, c.last);
    EXPECT_EQ(view.labels.back().second, c.colour);
    EXPECT_EQ(Count(port.sim(), "43"), c.aborts);
    if (run.MonitorState() == 4) {
      EXPECT_TRUE(fastPolls);
      EXPECT_EQ(run.PollInterval(), 3);
      EXPECT_TRUE(view.calButtons);
    }
    if (std::string(c.name) == "ok") {
      EXPECT_EQ(view.labels.at(1).first, "Span Calibration....");
    }
    const RServiceRecord r = TRecordStore(FDir.path() + "BEAMDOCK.DB", TRecordStore::TMode::Read).History("").at(0);
    const std::string seen =
        r.mOperation + "|" + std::to_string(r.mCode) + "|" + r.mStatus + "|" + r.mResult + "|" + r.mDetails;
    std::istringstream parts(c.record);
    for (std::string part; std::getline(parts, part, '|');)
      EXPECT_NE(seen.find(part), std::string::npos) << part << " in " << seen;
  }
}

}  // namespace
