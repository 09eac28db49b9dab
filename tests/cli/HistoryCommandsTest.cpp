// Every kind of operation from the terminal against the simulated detector leaves its record;
// history lists and checks them, and certificate prints a PDF of the calibration.
#include "tests/support/Process.h"
#include "tests/support/SimPort.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(CliHistory, EachOperationLeavesItsRecordTheChainFindsAnEditAndTheCertificateReads) {
  KvtSim::Options o;
  o.calTimeMs = 200;
  std::memcpy(o.config.mUnit.mSerial, "KV00000042", 10);
  o.config.mSensor.mCalInterval = 30 * 86400;
  o.config.mUnit.mLifeRemaining = 63072000;  // a new unit: its 24 months collect as one second less
  KvtSim::fillCRCs(o.config);
  SimPort port(o);
  TempDir dir;
  dir.write("BEAMDOCK.INI",
            "[Environment]\r\nModeEntry=MRW_TQP__\r\n[Calibration]\r\nCalibrationCheckTime=1\r\n"
            "[RECORDS]\r\nTechnician=Ada Tester\r\n");
  const std::vector<uint8_t> image = KvtSim::makeFirmwareImage(o);
  dir.write("fw.img", std::string(image.begin(), image.end()));
  const auto cli = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {BinPath("beamdock-cli"), "--dir", dir.path(), "--port", port.device()});
    return RunProcess(args);
  };
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"read", "-o", dir.path() + "a.cfg"},
           {"write", dir.path() + "a.cfg"},
           {"log", "export", "-o", dir.path() + "log.csv"},
           {"calibrate", "--span", "25"},
           {"firmware", dir.path() + "fw.img"},
           {"bump", "pass"}}) {
    const ProcessResult r = cli(args);
    ASSERT_EQ(r.exitCode, 0) << args[0] << r.err;
  }

  ProcessResult r = cli({"history", "KV00000042"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  // Written back, only the life changes (24 months collect as one second less) and with it the
  // unit block's check; the hardware version the view holds is in no window written.
  for (const char* line : {"KV00000042  read  Read KVT Information  Read KVT Information... OK",
                           "write  Write KVT Information  Write KVT Information... OK  cfg_bytes_changed=4\n",
                           "event log  Load Event Log  Load Event Log... OK  events=3; file=",
                           "calibration  Sensor Calibration  Calibration ... OK  span_gas=25 ppm; zero=OK; span=OK",
                           "firmware  Check Program  Check Program... OK  image_version=",
                           "firmware  Download Image  Download Image... OK  image_version="})
    EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
  // The bump button does not ask who the detector is; a new terminal run has met no other.
  EXPECT_NE(cli({"history"}).out.find("-  bump  Send Bump Pass  Send Bump Pass... OK"), std::string::npos);

  r = cli({"history", "KV00000042", "--csv", dir.path() + "h.csv"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(dir.read("h.csv").rfind("Time,Serial,Sensor,Kind,Operation,Code,Status,User,Details\r\n", 0), 0u);

  r = cli({"certificate", "KV00000042", "-o", dir.path() + "cert.pdf"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  r = RunProcess({"/usr/bin/pdftotext", "-layout", dir.path() + "cert.pdf", "-"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  for (const char* text : {"Calibration Certificate", "KV00000042", "25 ppm", "PASS", "Ada Tester"})
    EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
  EXPECT_EQ(r.out.find("not set"), std::string::npos) << r.out;  // the detector's 30 days
  EXPECT_EQ(cli({"certificate", "NOSUCH"}).exitCode, 65);

  r = cli({"history", "--verify"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "chain intact: 8 records\n") << cli({"history"}).out;
  ASSERT_EQ(RunProcess({"/usr/bin/sqlite3", dir.path() + "BEAMDOCK.DB",
                        "DROP TRIGGER records_no_update; UPDATE records SET details = 'events=0' "
                        "WHERE id = 4;"})
                .exitCode,
            0);
  r = cli({"history", "--verify"});
  EXPECT_EQ(r.exitCode, 65);
  EXPECT_EQ(r.out, "chain broken at record 4: record 4: its content was changed\n");
}

}  // namespace
