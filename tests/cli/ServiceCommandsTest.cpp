// The service and EEPROM commands of beamdock-cli against the simulated detector.
#include "tests/support/Process.h"
#include "tests/support/SimPort.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

namespace {

TEST(CliService, CommandsRunTheButtonsAndExitWithTheirResults) {
  TempDir dir;
  dir.write("BEAMDOCK.INI", "[Environment]\r\nModeEntry=MRW_TQP__\r\nAVOperate=100\r\n");
  KvtSim::Options o;
  o.pid = 1;  // refused where the product is checked
  SimPort port(o);
  const auto cli = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {BinPath("beamdock-cli"), "--dir", dir.path(), "--port", port.device()});
    return RunProcess(args);
  };
  const struct {
    std::vector<std::string> args;
    int exit;
    std::string last;  // the last command before the closing B3 and the identity asked for the record
  } cases[] = {{{"test", "vibrator"}, 0, "34"}, {{"bump", "fail"}, 0, "45"}, {{"factory-reset"}, 66, ""},
               {{"--yes", "factory-reset"}, 0, "12"},
               {{"power-off"}, 0x92, "A0"},     {{"bump", "maybe"}, 64, ""}};
  for (const auto& c : cases) {
    port.sim().clearFrames();
    const ProcessResult r = cli(c.args);
    EXPECT_EQ(r.exitCode, c.exit) << c.args[0] << r.err;
    std::string last;
    for (const KvtSim::Frame& f : port.sim().received())
      if (f.what != "B2" && f.what != "B3" && !(f.what == "A0" && !last.empty())) last = f.what;
    EXPECT_EQ(last, c.last) << c.args[0];
  }

  // A relative -o is taken from the current folder and remembered as a full path.
  ASSERT_EQ(RunProcess({"/bin/sh", "-c", "cd \"$0\" && exec \"$@\"", dir.path(), BinPath("beamdock-cli"), "--port",
                        port.device(), "eeprom", "-o", "dump.csv"})
                .exitCode,
            0);
  EXPECT_NE(dir.read("BEAMDOCK.INI").find("[EEPROM]\r\nSaveDirectory=" + dir.path() + "\r\n"), std::string::npos);
  const std::string dump = dir.read("dump.csv");
  EXPECT_EQ(dump.size(), 64 * 57u);
  EXPECT_EQ(dump.substr(63 * 57, 7), "0x03F0,");
  const ProcessResult r = cli({"eeprom", "--log"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  ASSERT_EQ(r.out.rfind("SAVE:" + dir.path(), 0), 0u) << r.out;  // the folder the save remembered
  EXPECT_TRUE(dir.exists(r.out.substr(5 + dir.path().size(), r.out.size() - 6 - dir.path().size())));

  // Outside the factory view no EEPROM/ exists yet: the command makes it and saves there.
  TempDir user;
  const ProcessResult u = RunProcess({BinPath("beamdock-cli"), "--dir", user.path(), "--port", port.device(), "eeprom", "--log"});
  ASSERT_EQ(u.exitCode, 0) << u.err;
  EXPECT_EQ(u.out.rfind("SAVE:" + user.path() + "EEPROM/", 0), 0u) << u.out;
}

}  // namespace
