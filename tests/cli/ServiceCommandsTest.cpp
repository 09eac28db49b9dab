// The service and EEPROM commands of beamdock-cli against the simulated detector.
#include "app/EepromDump.h"
#include "tests/support/Process.h"
#include "tests/support/SimPort.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(CliService, CommandsRunTheButtonsAndExitWithTheirResults) {
  TempDir dir;
  dir.write("BEAMDOCK.INI", "[Environment]\r\nModeEntry=MRW_TQP__\r\nAVOperate=100\r\n");
  KvtSim::Options o;
  o.pid = 1;  // refused where the product is checked
  SimPort port(o);
  const auto cli = [&](std::vector<std::string> args) {
    std::vector<std::string> argv{BinPath("beamdock-cli"), "--dir", dir.path(), "--port", port.device()};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProcess(argv);
  };
  struct Case {
    std::vector<std::string> args;
    int exit;
    std::string lastCommand;  // the last frame the detector got before the closing B3
  } cases[] = {
      {{"test", "vibrator"}, 0, "34"},   {{"clear-peak"}, 0, "44"},     {{"bump", "fail"}, 0, "45"},
      {{"bump", "pass"}, 0, "46"},       {{"factory-reset"}, 0, "12"},  {{"zero-span"}, 0x92, "A0"},
      {{"power-off"}, 0x92, "A0"},       {{"bump", "maybe"}, 64, ""},   {{"test", "horn"}, 64, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    port.sim().clearFrames();
    const ProcessResult r = cli(c.args);
    EXPECT_EQ(r.exitCode, c.exit) << r.err;
    std::vector<std::string> got;
    for (const KvtSim::Frame& f : port.sim().received())
      if (f.what != "B2" && f.what != "B3") got.push_back(f.what);
    EXPECT_EQ(got.empty() ? "" : got.back(), c.lastCommand);
  }

  ProcessResult r = cli({"eeprom", "-o", dir.path() + "dump.csv"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::vector<uint8_t> image = port.sim().eepromImage();
  std::string last = "0x03F0,";
  for (int a = 1008; a < 1024; ++a) last += EEPROMByteText(image[a]) + ",";
  EXPECT_NE(dir.read("dump.csv").find(last + "\r\n"), std::string::npos);

  r = cli({"eeprom", "--log"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  // In the folder the save above remembered.
  ASSERT_EQ(r.out.rfind("SAVE:" + dir.path(), 0), 0u) << r.out;
  EXPECT_TRUE(dir.exists(r.out.substr(5 + dir.path().size(), r.out.size() - 6 - dir.path().size()))) << r.out;
}

}  // namespace
