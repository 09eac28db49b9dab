#include "link/USBtoUART.h"
#include "tests/support/Process.h"
#include "tests/support/SimPort.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

namespace {

const std::string kIdentity =
    "Product ID = 1\n"
    "Hardware Version = 002\n"
    "Firmware Version = 1.3\n"
    "Life Remaining = 63072000 sec\n"
    "Sensor present = 0x0A\n"
    "Serial Number = 1234567890\n";

std::vector<std::string> cli(const std::vector<std::string>& args) {
  std::vector<std::string> argv{BinPath("beamdock-cli")};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

// kvt-sim as its own program, with the identity the tests expect.
class SimProgram {
 public:
  explicit SimProgram(std::vector<std::string> extra = {}) {
    std::vector<std::string> argv{BinPath("kvt-sim"), "--pid", "1", "--hw-version", "2", "--fw-version", "13",
                                  "--life", "63072000", "--id-sensor", "10", "--serial", "1234567890"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    if (sim_.start(argv)) device_ = sim_.readLine(10000).value_or("");
  }
  const std::string& device() const { return device_; }

 private:
  ChildProcess sim_;
  std::string device_;
};

TEST(CliIdentify, PrintsTheSixLinesFromTheDetector) {
  SimProgram sim;
  ASSERT_FALSE(sim.device().empty()) << "kvt-sim did not start";
  TempDir dir;
  ProcessResult r = RunProcess(cli({"--dir", dir.path(), "--port", sim.device(), "identify"}),
                               {{"BEAMDOCK_PORT", std::nullopt}});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, kIdentity);
  EXPECT_EQ(r.err, "Load Identify...\nLoad Identify... OK\n");
  // As at the window's start: the settings file and folders exist afterwards.
  EXPECT_TRUE(dir.isDir("EVENT"));
  EXPECT_TRUE(dir.isDir("Configure"));
  EXPECT_NE(dir.read("BEAMDOCK.INI").find("DownloadRetry=3"), std::string::npos);
}

TEST(CliIdentify, TraceLinesOnStderrAndCommTxtWhenTheSettingsSwitchItOn) {
  SimProgram sim;
  ASSERT_FALSE(sim.device().empty());
  TempDir dir;
  ProcessResult r = RunProcess(cli({"--dir", dir.path(), "--trace", "identify"}), {{"BEAMDOCK_PORT", sim.device()}});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  const std::regex stamped(R"(\d\d:\d\d:\d\d:\d\d\d [0-9A-F ]+\n)");
  EXPECT_TRUE(std::regex_search(r.err, stamped)) << r.err;
  EXPECT_NE(r.err.find("[CHECK TIME] "), std::string::npos);
  EXPECT_FALSE(dir.exists("Comm.TXT"));  // --trace alone does not write the trace file

  dir.write("BEAMDOCK.INI", "[ETC]\r\nLogEnable=1\r\n");
  r = RunProcess(cli({"--dir", dir.path(), "identify"}), {{"BEAMDOCK_PORT", sim.device()}});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err.find("[CHECK TIME]"), std::string::npos);  // not printed without --trace
  const std::string trace = dir.read("Comm.TXT");
  ASSERT_GE(trace.size(), 2u);
  EXPECT_NE(trace.find("[CHECK TIME] "), std::string::npos);
  EXPECT_TRUE(std::regex_search(trace, std::regex(R"(^\d\d:\d\d:\d\d:\d\d\d )")));
  EXPECT_EQ(trace.substr(trace.size() - 2), "\r\n");
  EXPECT_EQ(trace.find("\n"), trace.find("\r\n") + 1);
}

TEST(CliIdentify, NoAdapterExitsWithItsCode) {
  int port = 0;
  {
    ScopedEnv none("BEAMDOCK_PORT", std::nullopt);
    TPortTable ports;
    if (FindComPort(ports, 0, port) != 0xFF) GTEST_SKIP() << "this machine has an adapter";
  }
  TempDir dir;
  ProcessResult r = RunProcess(cli({"--dir", dir.path(), "identify"}), {{"BEAMDOCK_PORT", std::nullopt}});
  EXPECT_EQ(r.exitCode, 255);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("Load Identify... BEAMDOCK isnot found(A)\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("BEAMDOCK isnot found\nBEAMDOCK Re-Install driver(A)\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("(A)\nbeamdock-cli: no adapter found. To use another serial device, name it: --port DEVICE"),
            std::string::npos) << r.err;
}

// The system's text, then the device and what is wrong in words; status and exit code as before.
TEST(CliIdentify, APortThatCannotBeOpenedIsNamedWithWhatIsWrong) {
  TempDir dir;
  dir.write("plain-file", "");
  const struct {
    std::string device, system, words;
  } cases[] = {
      {dir.path() + "ttyUSB9", "(Error: 2)", dir.path() + "ttyUSB9: no such device"},
      {dir.path() + "plain-file", "Invalid device handle, access denied", dir.path() + "plain-file: not a serial device"},
  };
  for (const auto& c : cases) {
    ProcessResult r = RunProcess(cli({"--dir", dir.path(), "--port", c.device, "identify"}));
    EXPECT_EQ(r.exitCode, 0xA1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("Load Identify... BEAMDOCK Connect ERROR\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.system), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.words), std::string::npos) << r.err;
  }
}

// doctor on a named kvt-sim terminal: every step up to the handshake, the simulator not
// taken for a rival; ports opens nothing and always succeeds.
TEST(CliDoctor, ChecksANamedPortUpToTheHandshake) {
  SimProgram sim;
  ASSERT_FALSE(sim.device().empty());
  ProcessResult r = RunProcess(cli({"--port", sim.device(), "doctor"}));
  EXPECT_NE(r.out.find("ok    no other program holds it: none\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("ok    port opens at 115200 8N1: " + sim.device() + "\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("ok    a detector answers the handshake: a detector answered\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.exitCode, r.out.find("FAIL") == std::string::npos ? 0 : 1) << r.out;
  EXPECT_EQ(RunProcess(cli({"ports"})).exitCode, 0);
}

TEST(CliIdentify, ADetectorThatDoesNotAnswerExitsWithTheCode) {
  SimProgram sim({"--silent", "0xA0"});
  ASSERT_FALSE(sim.device().empty());
  TempDir dir;
  ProcessResult r = RunProcess(cli({"--dir", dir.path(), "--port", sim.device(), "identify"}));
  EXPECT_EQ(r.exitCode, 0xA2) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("Load Identify... FAIL\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("KVT comunication error - no response"), std::string::npos) << r.err;
}

TEST(CliUsage, HelpListsTheOptionsAndEveryCommand) {
  ProcessResult r = RunProcess(cli({"--help"}));
  EXPECT_EQ(r.exitCode, 0);
  for (const char* word : {"--dir FOLDER", "--port DEVICE", "--trace", "--yes", "identify", "read [--json] [-o FILE.cfg]",
                           "write FILE.cfg", "hibernate", "log export [-o FILE.csv]", "log reset", "firmware FILE.img",
                           "calibrate [--span VALUE]", "readings [--interval S] [--count N] [--csv FILE]",
                           "eeprom [-o FILE.csv]", "eeprom --log", "test beep|rled|lled|vibrator", "clear-peak",
                           "bump pass|fail", "zero-span", "power-off", "factory-reset", "ports", "doctor"})
    EXPECT_NE(r.out.find(word), std::string::npos) << word;

  // What the terminal tool lacks its full program runs: no command reads as missing.
  EXPECT_EQ(r.out.find("not available"), std::string::npos) << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex("\n  identify [^(\n]*\n"))) << r.out;
}

TEST(CliUsage, UsageErrorsExitWith64) {
  TempDir dir;
  auto run = [&](const std::vector<std::string>& args) { return RunProcess(cli(args)); };
  EXPECT_EQ(run({}).exitCode, 64);
  EXPECT_EQ(run({"--dir"}).exitCode, 64);
  EXPECT_EQ(run({"--port"}).exitCode, 64);
  EXPECT_EQ(run({"--bogus", "identify"}).exitCode, 64);
  EXPECT_EQ(run({"frobnicate"}).exitCode, 64);
  EXPECT_EQ(run({"--dir", dir.path(), "identify", "extra"}).exitCode, 64);
  EXPECT_EQ(run({"--dir", dir.path() + "missing", "identify"}).exitCode, 64);
  EXPECT_FALSE(dir.exists("BEAMDOCK.INI"));  // nothing ran
}

}  // namespace
