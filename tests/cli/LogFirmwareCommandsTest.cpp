// log export, log reset and firmware from the terminal against the simulated detector.
#include "tests/support/Process.h"
#include "tests/support/SimPort.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

namespace {

ProcessResult Cli(const SimPort& port, const TempDir& dir, std::vector<std::string> args) {
  args.insert(args.begin(), {BinPath("beamdock-cli"), "--dir", dir.path(), "--port", port.device()});
  return RunProcess(args, {{"BEAMDOCK_PORT", std::nullopt}});
}

TEST(CliLogAndFirmware, ExportResetAndUpgradeEndWithTheirCodes) {
  KvtSim::Options o;
  o.config.mUnit.mFWVersion = 12, o.config.mUnit.mHWVersion = 1;
  KvtSim::fillCRCs(o.config);
  SimPort port(o);
  TempDir dir;

  ProcessResult r = Cli(port, dir, {"log", "export", "-o", dir.path() + "log.csv"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, dir.path() + "log.csv\n");
  EXPECT_EQ(dir.read("log.csv").substr(0, 27), "Product Name,QRB Vaporlet\r\n");
  EXPECT_EQ(Cli(port, dir, {"log", "reset"}).exitCode, 66);  // No: nothing is cleared
  EXPECT_EQ(port.sim().events().size(), 3u);
  EXPECT_EQ(Cli(port, dir, {"--yes", "log", "reset"}).exitCode, 0);
  r = Cli(port, dir, {"log", "export"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("No logging event data..."), std::string::npos) << r.err;

  const std::vector<uint8_t> bytes = KvtSim::makeFirmwareImage(o);
  std::string image(bytes.begin(), bytes.end());
  dir.write("good.img", image);
  image[100] ^= 1;
  dir.write("bad.img", image);
  port.sim().clearFrames();
  EXPECT_EQ(Cli(port, dir, {"firmware", dir.path() + "bad.img"}).exitCode, 0x82);
  EXPECT_TRUE(port.sim().received().empty());
  r = Cli(port, dir, {"firmware", dir.path() + "good.img"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("128/128 packets"), std::string::npos) << r.err;
  EXPECT_EQ(port.sim().firmwareRuns(), 1);
  EXPECT_NE(dir.read("BEAMDOCK.INI").find("ImageFile=" + dir.path() + "good.img"), std::string::npos);
}

}  // namespace
