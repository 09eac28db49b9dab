// beamdock-cli readings and calibrate against the kvt-sim program: what they print, write
// and exit with.
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

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
  EXPECT_EQ(Cli(dir, sim, {"readings", "--interval", "0"}).exitCode, 64);
}

TEST(SensorCommandsTest, CalibrateExitsWithHowTheCalibrationEnded) {
  TempDir dir;
  // The factory view reads the poll spacing (the user view polls every 5 s).
  dir.write("BEAMDOCK.INI", "[Environment]\r\nModeEntry=MRW_TQP__\r\n[Calibration]\r\nCalibrationCheckTime=1\r\n");
  struct Case {
    std::vector<std::string> sim;
    int exit;
    const char* text;
  } cases[] = {
      {{"--cal-time-ms", "300"}, 0, "Calibration ... OK"},
      {{"--cal-time-ms", "300", "--cal-fail"}, 67, "Calibration ... FAIL"},
      {{"--sensor-type", "9"}, 65, "Sensor type is wrong"},
  };
  for (const Case& c : cases) {
    Sim sim(c.sim);
    ASSERT_FALSE(sim.device.empty());
    const ProcessResult r = Cli(dir, sim, {"calibrate", "--span", "25"});
    EXPECT_EQ(r.exitCode, c.exit) << r.err;
    EXPECT_NE(r.err.find(c.text), std::string::npos) << r.err;
  }
  EXPECT_NE(dir.read("BEAMDOCK.INI").find("H2S=250"), std::string::npos);
}

}  // namespace
