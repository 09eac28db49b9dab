// beamdock-cli readings and calibrate against the kvt-sim program: what they print, write
// and exit with.
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>
#include <string>
#include <vector>

namespace {

struct Sim {
  explicit Sim(std::vector<std::string> extra) {
    extra.insert(extra.begin(), BinPath("kvt-sim"));
    if (child.start(extra)) device = child.readLine(10000).value_or("");
  }
  ChildProcess child;
  std::string device;
};

ProcessResult Cli(const TempDir& dir, const Sim& sim, std::vector<std::string> args) {
  std::vector<std::string> argv{BinPath("beamdock-cli"), "--dir", dir.path(), "--port", sim.device};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProcess(argv, {}, 60000);
}

size_t Lines(const std::string& text, const std::string& end = "\n") {
  size_t n = 0;
  for (size_t at = 0; (at = text.find(end, at)) != std::string::npos; at += end.size()) ++n;
  return n;
}

TEST(SensorCommandsTest, ReadingsPrintsRowsAndWritesTheDataLog) {
  TempDir dir;
  Sim sim({"--gas", "125,0"});
  ASSERT_FALSE(sim.device.empty());
  const ProcessResult r = Cli(dir, sim, {"readings", "--count", "3", "--csv", dir.path() + "d.csv"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  ASSERT_EQ(Lines(r.out), 3u);
  EXPECT_NE(r.out.find(",12.5,"), std::string::npos);
  const std::string csv = dir.read("d.csv");
  EXPECT_EQ(Lines(csv, "\r\n"), 13u);
  // The rows printed are the rows written, time stamps included.
  std::string rows = csv.substr(csv.size() - r.out.size() - 3);
  rows.erase(std::remove(rows.begin(), rows.end(), '\r'), rows.end());
  EXPECT_EQ(rows, r.out);
  EXPECT_EQ(Cli(dir, sim, {"readings", "--interval", "0"}).exitCode, 64);
}

TEST(SensorCommandsTest, CalibrateExitsWithHowTheCalibrationEnded) {
  TempDir dir;
  // The factory view reads the poll spacing (the user view polls every 5 s).
  dir.write("BEAMDOCK.INI", "[Environment]\r\nModeEntry=MRW_TQP__\r\n[Calibration]\r\nCalibrationCheckTime=1\r\n");
  struct Case {
    std::vector<std::string> sim;
    const char* span;
    int exit;
    const char* text;
    bool yes = false;
  } cases[] = {
      // A reading of 25.0 throughout: a zero in gas, refused without --yes.
      {{"--cal-time-ms", "300", "--gas", "250,0"}, "25", 65, "Zero refused: the detector reads 25.0 ppm (gas?)"},
      {{"--cal-time-ms", "300", "--gas", "250,0"}, "25", 0, "Calibration ... OK", true},
      {{"--cal-time-ms", "300", "--cal-fail"}, "25", 67, "Calibration ... FAIL"},
      // Clean air at the sensor, the detector says OK but keeps its span: 0.0 on 25 ppm.
      {{"--cal-time-ms", "300", "--cal-unchanged"}, "25", 67,
       "FAIL: as left out of tolerance (0.0 ppm)"},
      {{"--sensor-type", "9"}, "25", 65, "Sensor type is wrong"},
      // Outside the H2S range 0 to 100: refused before the span is stored anywhere.
      {{}, "250", 64, "--span 250 is outside the H2S sensor's range 0 to 100 ppm"},
      {{}, "-3", 64, "outside"},
  };
  for (const Case& c : cases) {
    Sim sim(c.sim);
    ASSERT_FALSE(sim.device.empty());
    std::vector<std::string> args = {"calibrate", "--span", c.span};
    if (c.yes) args.insert(args.begin(), "--yes");
    const ProcessResult r = Cli(dir, sim, args);
    EXPECT_EQ(r.exitCode, c.exit) << r.err;
    EXPECT_NE(r.err.find(c.text), std::string::npos) << r.err;
  }
  EXPECT_NE(dir.read("BEAMDOCK.INI").find("H2S=250"), std::string::npos);
}

TEST(SensorCommandsTest, BumpPrintsTheAlarmTimesAndExitsWithTheVerdict) {
  TempDir dir;
  struct Case {
    std::vector<std::string> sim, args;
    int exit;
    std::vector<const char*> out, err;
    bool gasOnOff = false;  // the gas comes on at the start and off after 3 s, through the control FIFO
  } cases[] = {
      {{"--response-ms", "500"}, {"--time-limit", "20"}, 0,
       {"LOW ALARM AFTER ", "HIGH ALARM AFTER ", "PEAK 2", "PASS\n"},
       {"Apply H2S 25 ppm (lot L-7, expiry 2031-01-31); alarms at 5 and 10 ppm", "Send Bump Pass... OK"}, true},
      // 25.0 ppm held throughout: a pass, but the alarms never clear; the verdict is sent all the same.
      {{"--gas", "250,0"}, {"--time-limit", "2"}, 68,
       {"LOW ALARM AFTER 0.0 s\nHIGH ALARM AFTER 0.0 s\nPEAK 25.0 ppm\nPASS\n"}, {"Send Bump Pass... OK"}},
      // 8.0 ppm held: no high alarm, peak far from the gas.
      {{"--gas", "80,0"}, {"--time-limit", "2"}, 68,
       {"LOW ALARM AFTER 0.0 s\nPEAK 8.0 ppm\nFAIL: no high alarm within 2 s; peak 8.0 ppm outside \u00B120 % of 25 ppm\n"},
       {"Send Bump Fail... OK"}},
      {{}, {"--gas", "8"}, 65, {}, {"below the detector's highest alarm level 10 ppm"}},
      {{}, {"--expiry", "2031-02-30"}, 65, {}, {"is not a date"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> simArgs = c.sim;
    const std::string fifo = dir.path() + "ctl";
    if (c.gasOnOff) simArgs.insert(simArgs.end(), {"--control", fifo});
    Sim sim(simArgs);
    ASSERT_FALSE(sim.device.empty());
    std::vector<std::string> args = {"bump", "--gas", "25", "--lot", "L-7", "--expiry", "2031-01-31"};
    for (size_t i = 0; i + 1 < c.args.size(); i += 2) {
      auto at = std::find(args.begin(), args.end(), c.args[i]);
      if (at != args.end()) *(at + 1) = c.args[i + 1];
      else args.insert(args.end(), {c.args[i], c.args[i + 1]});
    }
    std::thread gas;
    if (c.gasOnOff) gas = std::thread([&] {
      std::ofstream(fifo) << "gas 25\n";
      std::this_thread::sleep_for(std::chrono::seconds(3));
      std::ofstream(fifo) << "gas off\n";
    });
    const ProcessResult r = Cli(dir, sim, args);
    if (gas.joinable()) gas.join();
    EXPECT_EQ(r.exitCode, c.exit) << r.out << r.err;
    for (const char* text : c.out) EXPECT_NE(r.out.find(text), std::string::npos) << text << " in " << r.out;
    for (const char* text : c.err) EXPECT_NE(r.err.find(text), std::string::npos) << text << " in " << r.err;
    if (c.exit == 65) {
      EXPECT_TRUE(r.out.empty());
    }
  }
  // The hand-given verdict stays as it was.
  Sim sim({});
  EXPECT_EQ(Cli(dir, sim, {"bump", "pass"}).exitCode, 0);
}

}  // namespace
