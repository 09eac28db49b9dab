// Every kind of operation from the terminal against the simulated detector leaves its sealed
// record; history lists, exports and checks them; certificate prints a PDF of a passed
// calibration only, marked as no certificate on a simulated detector.
#include "tests/support/Process.h"
#include "tests/support/SimPort.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

KvtSim::Options Detector(bool calFail) {
  KvtSim::Options o;
  o.calTimeMs = 200;
  o.calFail = calFail;
  o.spanGasHeld = true, o.sensor.t90Ms = 0;
  std::memcpy(o.config.mUnit.mSerial, "KV00000042", 10);
  o.config.mSensor.mCalInterval = 30 * 86400;
  KvtSim::fillCRCs(o.config);
  return o;
}

TEST(CliHistory, SealedRecordsOfEachOperationTheirExportAndTheCertificateOfAPassedCalibrationOnly) {
  TempDir dir;
  dir.write("BEAMDOCK.INI",
            "[Environment]\r\nModeEntry=MRW_TQP__\r\n[Calibration]\r\nCalibrationCheckTime=1\r\n"
            "[RECORDS]\r\nTechnician=Ada Tester\r\nOrganisation=North Gas Works\r\n");
  std::string device;
  const auto cli = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {BinPath("beamdock-cli"), "--dir", dir.path(), "--port", device});
    return RunProcess(args);
  };
  {
    SimPort port(Detector(false));
    device = port.device();
    const std::vector<uint8_t> image = KvtSim::makeFirmwareImage(Detector(false));
    dir.write("fw.img", std::string(image.begin(), image.end()));
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"read", "-o", dir.path() + "a.cfg"},
             {"write", dir.path() + "a.cfg"},
             {"log", "export", "-o", dir.path() + "log.csv"},
             {"calibrate", "--span", "25", "--lot", "CYL-0815", "--expiry", "2027-06-30"},
             {"firmware", dir.path() + "fw.img"},
             {"bump", "pass"}}) {
      const ProcessResult r = cli(args);
      ASSERT_EQ(r.exitCode, 0) << args[0] << r.err;
    }
    EXPECT_EQ(cli({"calibrate", "--expiry", "2027-02-30"}).exitCode, 64);  // no such day
    port.sim().clearFrames();
    EXPECT_EQ(cli({"calibrate", "--expiry", "2020-01-31"}).exitCode, 65);  // expired: nothing sent
    EXPECT_TRUE(port.sim().received().empty());
  }
  const std::string key = cli({"history", "--station-key"}).out;
  ASSERT_EQ(key.rfind("-----BEGIN PUBLIC KEY-----", 0), 0u) << key;
  ProcessResult r = cli({"history", "KV00000042"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  // The bump asks who the detector is in its own connection: a new terminal run files it right.
  for (const char* line : {"  KV00000042  read  Read KVT Information  PASS  Ada Tester  ",
                           "  KV00000042  write  Write KVT Information  PASS  Ada Tester  ",
                           "  KV00000042  event log  Load Event Log  PASS  ",
                           "  KV00000042  calibration  Sensor Calibration  PASS  ",
                           "  KV00000042  firmware  Download Image  PASS  ",
                           "  KV00000042  bump  Send Bump Pass  PASS (hand)  Ada Tester  "})
    EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
  // Eight operations and the three entries of the log, numbered.
  EXPECT_NE(r.out.find("-11\n"), std::string::npos) << "eleven records numbered\n" << r.out;

  r = cli({"certificate", "KV00000042", "-o", dir.path() + "cert.pdf"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  r = RunProcess({"/usr/bin/pdftotext", "-raw", dir.path() + "cert.pdf", "-"});
  for (const char* text : {"North Gas Works", "KV00000042", "Span gas (certified) 25 ppm", "Cylinder lot CYL-0815",
                           "2027-06-30", "Calibrated by Ada Tester", "made without a BeamDock adapter"})
    EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
  // The QR read off the page as a phone would, and checked against the station's key.
  ASSERT_EQ(RunProcess({"/usr/bin/pdftoppm", "-r", "150", "-png", dir.path() + "cert.pdf", dir.path() + "page"}).exitCode, 0);
  r = RunProcess({"/usr/bin/zbarimg", "-q", "--raw", dir.path() + "page-1.png"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::string qr = r.out.substr(0, r.out.find('\n'));
  r = cli({"history", "--verify-qr", qr});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(r.out.rfind("genuine: ", 0), 0u) << r.out;
  EXPECT_EQ(cli({"history", "--verify-qr", qr.replace(qr.size() - 4, 4, "0000")}).exitCode, 65);

  // An export checks on its own with the station's key; a changed line does not.
  dir.write("station.pem", key);
  ASSERT_EQ(cli({"history", "--export", dir.path() + "all.jsonl"}).exitCode, 0);
  const auto verify = [&](const char* file) {
    return cli({"history", "--verify", "--file", dir.path() + file, "--key", dir.path() + "station.pem"});
  };
  EXPECT_EQ(verify("all.jsonl").out, "intact: 11 records\n");
  std::string exported = dir.read("all.jsonl");
  dir.write("forged.jsonl", exported.replace(exported.find("Ada Tester"), 10, "Bob Forger"));
  EXPECT_EQ(verify("forged.jsonl").exitCode, 65);

  // The newest calibration failed: it shows, and no certificate is issued.
  {
    SimPort port(Detector(true));
    device = port.device();
    EXPECT_EQ(cli({"calibrate", "--span", "25"}).exitCode, 67);
  }
  EXPECT_NE(cli({"history"}).out.find("calibration  Sensor Calibration  FAIL"), std::string::npos);
  r = cli({"certificate", "KV00000042", "-o", dir.path() + "refused.pdf"});
  EXPECT_EQ(r.exitCode, 65);
  EXPECT_NE(r.err.find("did not pass: FAIL"), std::string::npos) << r.err;
  r = cli({"history", "--verify"});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(r.out, "intact: 12 records\n");

  // A store that can keep a record nowhere: the operation's own end, then 75.
  dir.write("blocker", "");
  dir.write("BEAMDOCK.INI", "[RECORDS]\r\nDatabase=blocker/records.db\r\n");
  SimPort port(Detector(false));
  device = port.device();
  r = cli({"bump", "pass"});
  EXPECT_EQ(r.exitCode, 75);
  EXPECT_LT(r.err.find("Send Bump Pass... OK"), r.err.find("kept nowhere")) << r.err;
}

}  // namespace
