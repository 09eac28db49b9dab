// beamdock-cli read, write and hibernate against the kvt-sim program, checked on what the
// tool prints and on the frames the simulated detector logged.
#include "model/CfgFile.h"
#include "model/Checksum.h"
#include "tests/support/MiniJson.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Cli(const TempDir& dir, const std::string& device, const std::vector<std::string>& args) {
  std::vector<std::string> argv{BinPath("beamdock-cli"), "--dir", dir.path(), "--port", device};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

// kvt-sim as its own program, logging every frame to a file of the test's folder.
class SimProgram {
 public:
  SimProgram(const TempDir& dir, std::vector<std::string> extra) : FLog(dir.path() + "frames.log") {
    std::vector<std::string> argv{BinPath("kvt-sim"), "--log", FLog};
    argv.insert(argv.end(), extra.begin(), extra.end());
    if (FSim.start(argv)) FDevice = FSim.readLine(10000).value_or("");
  }
  const std::string& device() const { return FDevice; }

  // What the detector received, as "what" names ("70", "header", ...) with their bytes.
  struct Rx {
    std::string what;
    std::vector<int> bytes;
  };
  std::vector<Rx> received() const {
    std::vector<Rx> out;
    std::istringstream in(ReadAll(FLog));
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string time, dir;
      fields >> time >> dir;
      if (dir != "RX") continue;
      Rx rx;
      std::string word;
      while (fields >> word && word != ";") rx.bytes.push_back(std::stoi(word, nullptr, 16));
      std::getline(fields, rx.what);
      if (!rx.what.empty() && rx.what[0] == ' ') rx.what.erase(0, 1);
      out.push_back(rx);
    }
    return out;
  }
  size_t count(const std::string& what) const {
    size_t n = 0;
    for (const Rx& r : received()) n += r.what == what;
    return n;
  }

 private:
  static std::string ReadAll(const std::string& path) {
    std::string data;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
      char buf[4096];
      size_t n;
      while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.append(buf, n);
      std::fclose(f);
    }
    return data;
  }

  std::string FLog;
  ChildProcess FSim;
  std::string FDevice;
};

// A detector image with a value of its own in every field, character fields holding bytes
// that JSON must escape.
RKVTCFG DetectorImage() {
  RKVTCFG cfg{};
  SetDefaultCFG(cfg);
  RKVTUnitCFG& u = cfg.mUnit;
  RKVTSensorCFG& s = cfg.mSensor;
  u.mUnitFlag = 0x07;
  std::memcpy(u.mUserID, "A\"B\\\x01 ", 6);
  u.mTestInterval = 12;
  for (int i = 0; i < 7; ++i) u.mDummy1[i] = static_cast<uint8_t>(0xF0 + i);
  u.mAllowSuspend = 0x80;
  std::memcpy(u.mSerial, "SH12\0\x7F\xE9" "789", 10);
  u.mBatLimit[0] = 650, u.mBatLimit[1] = 651;
  u.mBatLimitStartUp = 709, u.mBatLimitCritical = 601;
  u.mHWVersion = 3, u.mFWVersion = 14;
  u.mLifeRemaining = 40000000, u.mAlarmTime = 1234, u.mTestTime = 5678;
  u.mAlarmCount = 9, u.mTestCount = 10, u.mPEventLog = 0x21;
  for (int i = 0; i < 9; ++i) u.mDummy2[i] = static_cast<uint8_t>(i + 1);
  s.mAlarmHigh = 200, s.mAlarmLow = 75, s.mCalInterval = 30 * 86400, s.mBumpInterval = 7;
  for (int i = 0; i < 11; ++i) s.mDummy1[i] = static_cast<uint8_t>(0x80 + i);
  s.mSensorType = 1, s.mDeadZone = 16, s.mSpanGas = 251, s.mSensorMax = 999, s.mSensorBase = 3;
  s.mTempCompSpan[0] = -229833, s.mTempCompSpan[1] = 2147483647, s.mTempCompSpan[2] = -2147483647 - 1;
  s.mZero = 205, s.mSpan = 5562, s.mTau = 6, s.mLastCal = 100, s.mPeakTimer = 200, s.mMinSpan = 3441;
  s.mLastBump = 300;
  return cfg;
}

std::string Bin(const RKVTCFG& cfg) { return std::string(reinterpret_cast<const char*>(&cfg), sizeof cfg); }

long long Int(const JsonValue* v) {
  EXPECT_NE(v, nullptr);
  if (!v) return -1;
  EXPECT_EQ(v->type, JsonValue::Type::Integer);
  return v->integer;
}

std::vector<long long> Ints(const JsonValue* v) {
  std::vector<long long> out;
  EXPECT_NE(v, nullptr);
  if (!v) return out;
  EXPECT_EQ(v->type, JsonValue::Type::Array);
  for (const JsonValue& e : v->array) out.push_back(Int(&e));
  return out;
}

std::string Str(const JsonValue* v) {
  EXPECT_NE(v, nullptr);
  if (!v) return "";
  EXPECT_EQ(v->type, JsonValue::Type::String);
  return v->string;
}

TEST(CliRead, JsonHoldsEveryFieldOfTheThreeRecords) {
  TempDir dir;
  RKVTCFG cfg = DetectorImage();
  dir.write("detector.bin", Bin(cfg));
  SimProgram sim(dir, {"--config", dir.path() + "detector.bin"});
  ASSERT_FALSE(sim.device().empty()) << "kvt-sim did not start";

  const ProcessResult r = RunProcess(Cli(dir, sim.device(), {"read", "--json"}));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "Read KVT Information...\nRead KVT Information... OK\n");
  std::string error;
  const std::optional<JsonValue> doc = ParseJson(r.out, &error);
  ASSERT_TRUE(doc) << error << "\n" << r.out;
  EXPECT_EQ(doc->names(), (std::vector<std::string>{"identity", "unit", "sensor"}));

  const JsonValue* id = doc->find("identity");
  ASSERT_NE(id, nullptr);
  EXPECT_EQ(id->names(), (std::vector<std::string>{"mPID", "mHW", "mSW", "mSensor", "mLife", "mSerial"}));
  EXPECT_EQ(Int(id->find("mPID")), 0);
  EXPECT_EQ(Int(id->find("mHW")), 3);
  EXPECT_EQ(Int(id->find("mSW")), 14);
  EXPECT_EQ(Int(id->find("mSensor")), 1);
  EXPECT_EQ(Int(id->find("mLife")), 40000000);
  EXPECT_EQ(Str(id->find("mSerial")), std::string("SH12\0\x7F\xE9" "789", 10));

  const JsonValue* u = doc->find("unit");
  ASSERT_NE(u, nullptr);
  EXPECT_EQ(u->names(), (std::vector<std::string>{"mUnitFlag", "mUserID", "mTestInterval", "mDummy1", "mAllowSuspend",
                                                  "mSerial", "mBatLimit", "mBatLimitStartUp", "mBatLimitCritical",
                                                  "mHWVersion", "mFWVersion", "mLifeRemaining", "mAlarmTime",
                                                  "mTestTime", "mAlarmCount", "mTestCount", "mPEventLog", "mDummy2",
                                                  "mCRC"}));
  EXPECT_EQ(Int(u->find("mUnitFlag")), 7);
  EXPECT_EQ(Str(u->find("mUserID")), std::string("A\"B\\\x01 ", 6));
  EXPECT_EQ(Int(u->find("mTestInterval")), 12);
  EXPECT_EQ(Ints(u->find("mDummy1")), (std::vector<long long>{0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6}));
  EXPECT_EQ(Int(u->find("mAllowSuspend")), 0x80);
  EXPECT_EQ(Str(u->find("mSerial")), std::string("SH12\0\x7F\xE9" "789", 10));
  EXPECT_EQ(Ints(u->find("mBatLimit")), (std::vector<long long>{650, 651}));
  EXPECT_EQ(Int(u->find("mBatLimitStartUp")), 709);
  EXPECT_EQ(Int(u->find("mBatLimitCritical")), 601);
  EXPECT_EQ(Int(u->find("mHWVersion")), 3);
  EXPECT_EQ(Int(u->find("mFWVersion")), 14);
  EXPECT_EQ(Int(u->find("mLifeRemaining")), 40000000);
  EXPECT_EQ(Int(u->find("mAlarmTime")), 1234);
  EXPECT_EQ(Int(u->find("mTestTime")), 5678);
  EXPECT_EQ(Int(u->find("mAlarmCount")), 9);
  EXPECT_EQ(Int(u->find("mTestCount")), 10);
  EXPECT_EQ(Int(u->find("mPEventLog")), 0x21);
  EXPECT_EQ(Ints(u->find("mDummy2")), (std::vector<long long>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(Int(u->find("mCRC")), GetCRC16(reinterpret_cast<const uint8_t*>(&cfg.mUnit), 62));

  const JsonValue* s = doc->find("sensor");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->names(), (std::vector<std::string>{"mAlarmHigh", "mAlarmLow", "mCalInterval", "mBumpInterval",
                                                  "mDummy1", "mSensorType", "mDeadZone", "mSpanGas", "mSensorMax",
                                                  "mSensorBase", "mTempCompSpan", "mZero", "mSpan", "mTau", "mLastCal",
                                                  "mPeakTimer", "mMinSpan", "mLastBump", "mCRC"}));
  EXPECT_EQ(Int(s->find("mAlarmHigh")), 200);
  EXPECT_EQ(Int(s->find("mAlarmLow")), 75);
  EXPECT_EQ(Int(s->find("mCalInterval")), 30 * 86400);
  EXPECT_EQ(Int(s->find("mBumpInterval")), 7);
  EXPECT_EQ(Ints(s->find("mDummy1")),
            (std::vector<long long>{0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A}));
  EXPECT_EQ(Int(s->find("mSensorType")), 1);
  EXPECT_EQ(Int(s->find("mDeadZone")), 16);
  EXPECT_EQ(Int(s->find("mSpanGas")), 251);
  EXPECT_EQ(Int(s->find("mSensorMax")), 999);
  EXPECT_EQ(Int(s->find("mSensorBase")), 3);
  EXPECT_EQ(Ints(s->find("mTempCompSpan")), (std::vector<long long>{-229833, 2147483647, -2147483648LL}));
  EXPECT_EQ(Int(s->find("mZero")), 205);
  EXPECT_EQ(Int(s->find("mSpan")), 5562);
  EXPECT_EQ(Int(s->find("mTau")), 6);
  EXPECT_EQ(Int(s->find("mLastCal")), 100);
  EXPECT_EQ(Int(s->find("mPeakTimer")), 200);
  EXPECT_EQ(Int(s->find("mMinSpan")), 3441);
  EXPECT_EQ(Int(s->find("mLastBump")), 300);
  EXPECT_EQ(Int(s->find("mCRC")), GetCRC16(reinterpret_cast<const uint8_t*>(&cfg.mSensor), 62));

  // The escapes themselves, as a reader without a JSON library would meet them.
  EXPECT_NE(r.out.find(R"("mSerial": "SH12\u0000\u007F\u00E9789")"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(R"("mUserID": "A\"B\\\u0001 ")"), std::string::npos) << r.out;
}

TEST(CliRead, ListingAndSavedFile) {
  TempDir dir;
  dir.write("detector.bin", Bin(DetectorImage()));
  SimProgram sim(dir, {"--config", dir.path() + "detector.bin"});
  ASSERT_FALSE(sim.device().empty());

  const ProcessResult r = RunProcess(Cli(dir, sim.device(), {"read", "-o", dir.path() + "Configure/saved.cfg"}));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("High Alarm              20.0 ppm\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Low Alarm               7.5 ppm\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Firmware Version        1.4\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Product                 KVT (type 0)\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Sensor present          0x01\n"), std::string::npos) << r.out;  // as identify says it

  // Saved as Write File does in the user view: the shown settings on the default
  // configuration, with the firmware byte of the detector read.
  const CFGFileContent file = ReadCFGFile(dir.path() + "Configure/saved.cfg");
  ASSERT_TRUE(file.ok());
  EXPECT_EQ(file.version, 7);
  EXPECT_EQ(file.mode, 0);
  EXPECT_EQ(uint16_t{file.cfg.mSensor.mAlarmHigh}, 200);
  EXPECT_EQ(uint16_t{file.cfg.mSensor.mAlarmLow}, 75);
  EXPECT_EQ(+file.cfg.mUnit.mFWVersion, 14);
  EXPECT_EQ(std::string(file.cfg.mUnit.mSerial, 10), "SH10000000");
}

// Files made read-only stay as they are, each failure said as for its file.
TEST(CliRead, ReadOnlyFilesAreNotReplaced) {
  TempDir dir;
  SimProgram sim(dir, {});
  const std::pair<std::string, std::string> files[] = {
      {"keep.cfg", "cfg"}, {"Comm.TXT", "trace"}, {"BEAMDOCK.INI", "[ETC]\r\nLogEnable=1\r\n"}};
  for (const auto& [name, text] : files) {
    dir.write(name, text);
    chmod((dir.path() + name).c_str(), 0444);
  }
  const ProcessResult r = RunProcess(Cli(dir, sim.device(), {"read", "-o", dir.path() + "keep.cfg"}));
  EXPECT_EQ(r.exitCode, 70) << r.err;
  EXPECT_NE(r.err.find("Configuration File did not save\nRetry WRITE FILE\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("(Comm.TXT):\nCannot write " + dir.path() + "Comm.TXT: Permission denied"), std::string::npos);
  for (const auto& [name, text] : files) EXPECT_EQ(dir.read(name), text) << name;
}

TEST(CliRead, UsageAndFailures) {
  TempDir dir;
  SimProgram sim(dir, {"--pid", "1"});
  ASSERT_FALSE(sim.device().empty());
  EXPECT_EQ(RunProcess(Cli(dir, sim.device(), {"read", "--bogus"})).exitCode, 64);
  EXPECT_EQ(RunProcess(Cli(dir, sim.device(), {"read", "-o"})).exitCode, 64);
  const ProcessResult r = RunProcess(Cli(dir, sim.device(), {"read", "--json"}));
  EXPECT_EQ(r.exitCode, 0x92);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("Read KVT Information... FAIL\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("This is not KVT module"), std::string::npos) << r.err;
  EXPECT_EQ(sim.count("5F"), 0u);
}

TEST(CliWrite, ReadsThenTakesTheFileThenWritesTheUserWindows) {
  TempDir dir;
  SimProgram sim(dir, {});
  ASSERT_FALSE(sim.device().empty());
  RKVTCFG wanted;
  SetDefaultCFG(wanted);
  wanted.mSensor.mAlarmHigh = 180;
  wanted.mSensor.mAlarmLow = 60;
  wanted.mUnit.mTestInterval = 8;
  std::string error;
  ASSERT_TRUE(SaveCFGFile(dir.path() + "levels.cfg", wanted, false, &error)) << error;

  ProcessResult r = RunProcess(Cli(dir, sim.device(), {"write", dir.path() + "levels.cfg"}));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err,
            "Read KVT Information...\nRead KVT Information... OK\nRead File... OK: levels.cfg\n"
            "Write KVT Information...\nWrite KVT Information... OK\n");
  std::vector<std::vector<int>> headers;
  for (const SimProgram::Rx& rx : sim.received())
    if (rx.what == "header") headers.push_back({rx.bytes[0], (rx.bytes[2] << 8) | rx.bytes[3]});
  EXPECT_EQ(headers, (std::vector<std::vector<int>>{{8, 0}, {10, 64}}));
  EXPECT_EQ(sim.count("71"), 0u);

  // The detector now reads back the levels of the file.
  r = RunProcess(Cli(dir, sim.device(), {"read", "--json"}));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::optional<JsonValue> doc = ParseJson(r.out);
  ASSERT_TRUE(doc);
  EXPECT_EQ(Int(doc->find("sensor")->find("mAlarmHigh")), 180);
  EXPECT_EQ(Int(doc->find("sensor")->find("mAlarmLow")), 60);
  EXPECT_EQ(Int(doc->find("unit")->find("mTestInterval")), 8);
}

TEST(CliWrite, ARefusedFileStopsBeforeTheWrite) {
  TempDir dir;
  SimProgram sim(dir, {});
  ASSERT_FALSE(sim.device().empty());
  RKVTCFG cfg;
  SetDefaultCFG(cfg);
  std::string error;
  ASSERT_TRUE(SaveCFGFile(dir.path() + "full.cfg", cfg, false, &error)) << error;
  const std::string full = dir.read("full.cfg");
  dir.write("short.cfg", full.substr(0, kCFGHeadSize + 100));

  ProcessResult r = RunProcess(Cli(dir, sim.device(), {"write", dir.path() + "short.cfg"}));
  EXPECT_EQ(r.exitCode, 65);
  EXPECT_NE(r.err.find("Configuration File is wrong\nReselect file\n"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("Write KVT Information"), std::string::npos) << r.err;
  EXPECT_EQ(sim.count("70"), 0u);

  // Both refusals come before the detector is touched.
  r = RunProcess(Cli(dir, sim.device(), {"write", dir.path() + "none.cfg"}));
  EXPECT_EQ(r.exitCode, 65);
  EXPECT_EQ(r.err, "beamdock-cli: write: cannot read " + dir.path() + "none.cfg: No such file or directory\n");
  EXPECT_TRUE(sim.received().empty());
  EXPECT_EQ(RunProcess(Cli(dir, sim.device(), {"write"})).exitCode, 64);
}

TEST(CliWrite, ASensorTypeTheDetectorLacksIsRefusedInTheUserView) {
  TempDir dir;
  SimProgram sim(dir, {"--sensor-type", "2"});
  ASSERT_FALSE(sim.device().empty());
  RKVTCFG cfg;
  SetDefaultCFG(cfg);  // H2S
  std::string error;
  ASSERT_TRUE(SaveCFGFile(dir.path() + "h2s.cfg", cfg, false, &error)) << error;
  const ProcessResult r = RunProcess(Cli(dir, sim.device(), {"write", dir.path() + "h2s.cfg"}));
  EXPECT_EQ(r.exitCode, 0x94);
  EXPECT_NE(r.err.find("Write KVT Information... FAIL\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Check sensor type and Alarm setting"), std::string::npos) << r.err;
  EXPECT_EQ(sim.count("header"), 0u);
}

TEST(CliHibernate, AsksAndWithYesPutsTheDetectorToSleep) {
  TempDir dir;
  SimProgram sim(dir, {"--allow-suspend"});
  ASSERT_FALSE(sim.device().empty());

  // Without --yes and without a terminal the question is answered No.
  ProcessResult r = RunProcess(Cli(dir, sim.device(), {"hibernate"}));
  EXPECT_EQ(r.exitCode, 66);
  EXPECT_NE(r.err.find("Hibernation will clear the event log.\nAre you sure you want to proceed."), std::string::npos)
      << r.err;
  EXPECT_EQ(sim.count("17"), 0u);

  std::vector<std::string> argv = Cli(dir, sim.device(), {"hibernate"});
  argv.insert(argv.begin() + 1, "--yes");
  r = RunProcess(argv);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("Hibernate... OK\n"), std::string::npos) << r.err;
  const std::vector<SimProgram::Rx> rx = sim.received();
  ASSERT_FALSE(rx.empty());
  EXPECT_EQ(rx.back().what, "17");  // no closing command to the sleeping detector
}

TEST(CliHibernate, ADetectorThatMayNotHibernateSaysCheckUnit) {
  TempDir dir;
  SimProgram sim(dir, {});
  ASSERT_FALSE(sim.device().empty());
  std::vector<std::string> argv = Cli(dir, sim.device(), {"hibernate"});
  argv.insert(argv.begin() + 1, "--yes");
  const ProcessResult r = RunProcess(argv);
  EXPECT_EQ(r.exitCode, 65);
  EXPECT_NE(r.err.find("This feature is only supported on the KVT+ instrument\nPlease contact QRB more details"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(sim.count("17"), 0u);
}

std::string LevelsFile(const TempDir& dir, const char* name, uint16_t high, uint16_t low, uint32_t days = 30) {
  RKVTCFG cfg;
  SetDefaultCFG(cfg);
  cfg.mSensor.mAlarmHigh = high, cfg.mSensor.mAlarmLow = low, cfg.mSensor.mCalInterval = days * 86400;
  std::string error;
  EXPECT_TRUE(SaveCFGFile(dir.path() + name, cfg, false, &error)) << error;
  return dir.path() + name;
}

// kvt-sim with a unit holding the default configuration (serial SH10000000, High 15.0 and
// Low 10.0 ppm, no calibration or bump interval): the diffs and changes below count from it.
std::vector<std::string> DefaultUnit(const TempDir& dir, std::vector<std::string> extra = {}) {
  RKVTCFG cfg{};
  SetDefaultCFG(cfg);
  dir.write("unit.bin", Bin(cfg));
  extra.insert(extra.begin(), {"--config", dir.path() + "unit.bin"});
  return extra;
}

// diff, and a write or a line of a configuration that may not be written, send the detector nothing.
TEST(CliDiff, ListsWhatDiffersAndNeitherItNorARefusedWriteOrLineWrites) {
  TempDir dir;
  SimProgram sim(dir, DefaultUnit(dir));
  ASSERT_FALSE(sim.device().empty());
  ProcessResult r = RunProcess(Cli(dir, sim.device(), {"diff", LevelsFile(dir, "levels.cfg", 180, 60)}));
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_EQ(r.out, "mAlarmHigh: 15.0 ppm -> 18.0 ppm\nmAlarmLow: 10.0 ppm -> 6.0 ppm\nmCalInterval: 0 Days -> 30 Days\n");
  r = RunProcess(Cli(dir, sim.device(), {"diff", LevelsFile(dir, "same.cfg", 150, 100, 0)}));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(RunProcess(Cli(dir, sim.device(), {"diff", dir.path() + "none.cfg"})).exitCode, 65);

  const struct {
    uint16_t high, low;
    const char* text;
  } cases[] = {{250, 300, "Low Alarm 30.0 ppm is not below High Alarm 25.0 ppm."},
               {1500, 100, "High Alarm 150.0 ppm is above the H2S sensor maximum 100.0 ppm."}};
  for (const auto& c : cases) {
    const std::string file = LevelsFile(dir, "refused.cfg", c.high, c.low);
    r = RunProcess(Cli(dir, sim.device(), {"write", file}));
    EXPECT_EQ(r.exitCode, 65);
    EXPECT_NE(r.err.find(std::string(c.text) + "\nNothing was written to the detector.\n"), std::string::npos) << r.err;
    const size_t frames = sim.received().size();
    r = RunProcess(Cli(dir, sim.device(), {"line", file}));
    EXPECT_EQ(r.exitCode, 65);
    EXPECT_NE(r.err.find(c.text), std::string::npos) << r.err;
    EXPECT_EQ(sim.received().size(), frames);  // the line refuses before it looks for a detector
  }
  EXPECT_EQ(sim.count("70"), 0u);
}

TEST(CliLine, OneLineAUnitOrUntilCtrlCTheReportAndTheFleet) {
  TempDir dir;
  const std::string file = LevelsFile(dir, "line.cfg", 200, 120);
  {
    SimProgram sim(dir, DefaultUnit(dir));
    ASSERT_FALSE(sim.device().empty());
    const ProcessResult r =
        RunProcess(Cli(dir, sim.device(), {"line", file, "--count", "1", "--report", dir.path() + "line.csv"}));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.substr(19), " SH10000000 PASS mAlarmHigh mAlarmLow mCalInterval\n") << r.out;
    EXPECT_EQ(dir.read("line.csv").substr(0, 41), "Time,Serial,Result,Reason,Fields changed\r");
    EXPECT_EQ(sim.count("header"), 2u);
  }
  {
    // The detector stays on the adapter; the line waits for it to be taken away until Ctrl-C.
    SimProgram sim(dir, DefaultUnit(dir, {"--lose-writes", "1"}));
    ASSERT_FALSE(sim.device().empty());
    ChildProcess line;
    ASSERT_TRUE(line.start(Cli(dir, sim.device(), {"line", file})));
    const std::optional<std::string> unit = line.readLine(20000);
    ASSERT_TRUE(unit);
    EXPECT_EQ(unit->substr(19), " SH10000000 FAIL read back: mAlarmHigh written 20.0 ppm, read 15.0 ppm") << *unit;
    kill(line.pid(), SIGINT);
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_FALSE(line.readLine(5000));  // its output ends as it does
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(2));
    EXPECT_EQ(line.stop(), 1);
  }
  // The newest record failed its read-back and holds what the detector kept: no interval.
  ProcessResult r = RunProcess({BinPath("beamdock-cli"), "--dir", dir.path(), "fleet", "--csv", dir.path() + "f.csv"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(dir.read("f.csv"),
            "\"verified: this computer, 2 records; cells beginning with =, +, - or @ begin with ' so that no "
            "spreadsheet runs them\"\r\n"
            "Serial,Sensor,Last calibration,Calibration due,Last bump,Bump due,Status\r\n"
            "SH10000000,H2S,never,-,never,-,OK\r\n");
}

}  // namespace
