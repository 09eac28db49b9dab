// The certificate document read back as an auditor's tools read it: every field in the text,
// one page, and the words across a certificate of a calibration made without an adapter.
#include "report/Certificate.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

#include <QGuiApplication>

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <cctype>
#include <csignal>

namespace {

std::string NoSpace(std::string s) {
  s.erase(std::remove_if(s.begin(), s.end(), [](unsigned char ch) { return std::isspace(ch); }), s.end());
  return s;
}

TEST(CertificatePdf, EveryFieldReadsBackOnOnePageAndOnlyAdapterlessOnesSayTheyAreNone) {
  int argc = 1;
  char name[] = "test";
  char* argv[] = {name, nullptr};
  QGuiApplication app(argc, argv);
  TempDir dir;

  RCertificate c;
  c.mOrganisation = "Northern Regional Water Treatment and Distribution Authority, Gas Safety Department";
  c.mSite = "Pumping Station 7, Riverside Road";
  c.mProduct = "KVT single gas", c.mSensorType = "H2S", c.mSerial = "SH24031587";
  c.mHardware = "2.04", c.mFirmware = "1.37";
  c.mLowAlarm = "5.0 ppm", c.mHighAlarm = "10.0 ppm", c.mStelAlarm = "15.0 ppm";
  c.mTwaAlarm = "";  // a sensor without one: no row
  c.mZeroResult = "PASS", c.mSpanResult = "PASS";
  c.mAsFound = "23.1 ppm", c.mAsLeft = "25.0 ppm", c.mSpanGas = "25.0 ppm";
  c.mCylinderLot = "LOT-4471-AB-2026-0913-XQ-77182-REFILL-009";  // 40 characters and more
  c.mCylinderExpiry = "2027-06-30", c.mDateTime = "2026-12-09 14:03 +01:00", c.mNextDue = "2027-06-07";
  c.mTechnician = "Ada Tester";
  c.mNumber = "3f9a1c22e0b4d871-000042";
  c.mDigest = "9c1185a5c5e9fc54612808977ee8f548b2258d31cfe0a8b3e4c1d7a3b8e1f2d0";
  c.mQrText = "BDSEAL1 " + c.mNumber + " " + c.mDigest + " " + std::string(128, 'a');
  c.mIssued = "2026-12-10 09:00 +01:00", c.mProcedure = "WI-CAL-07 rev 3", c.mGasSupplier = "Calgas Supplies";
  c.mCylinderCertificate = "CC-2026-4411", c.mGasUncertainty = "2 % (k=2)", c.mZeroGas = "synthetic air";
  c.mTemperature = "21.4 C", c.mZeroAsFound = "0.3 ppm", c.mZeroAsLeft = "0.0 ppm";
  c.mTolerance = "10 % of the span gas", c.mRule = "as left within 10 % of the span gas";
  c.mEquipment = "10c4:ea60 0001 /dev/ttyUSB0", c.mSoftware = "BeamDock 1.0.0";
  c.mAuthoriser = "M. Okafor", c.mAuthoriserFunction = "Laboratory manager";
  for (const bool withoutAdapter : {false, true}) {
    SCOPED_TRACE(withoutAdapter ? "without adapter" : "with adapter");
    c.mWithoutAdapter = withoutAdapter;
    c.mShowDue = withoutAdapter;  // the due date only where it was asked for
    const std::string pdf = dir.path() + (withoutAdapter ? "sim.pdf" : "real.pdf");
    std::string error;
    ASSERT_TRUE(WriteCertificatePdf(c, pdf, &error)) << error;

    ProcessResult r = RunProcess({"/usr/bin/pdftotext", "-raw", pdf, "-"});
    const std::string text = NoSpace(r.out);
    for (const std::string& field :
         {c.mOrganisation, c.mSite, std::string("Calibration Certificate"), c.mProduct, c.mSensorType, c.mSerial,
          c.mHardware, c.mFirmware, c.mLowAlarm, c.mHighAlarm, c.mStelAlarm, c.mAsFound, c.mAsLeft, c.mSpanGas,
          c.mCylinderLot, c.mCylinderExpiry, c.mDateTime, c.mTechnician, c.mNumber, c.mDigest, c.mIssued,
          c.mProcedure, c.mGasSupplier, c.mCylinderCertificate, c.mGasUncertainty, c.mZeroGas, c.mTemperature,
          c.mZeroAsFound, c.mZeroAsLeft, c.mTolerance, c.mRule, c.mEquipment, c.mSoftware, c.mAuthoriser,
          c.mAuthoriserFunction, std::string("Page 1 of 1"), std::string("relate only to the item calibrated"),
          std::string("PASS")})
      EXPECT_NE(text.find(NoSpace(field)), std::string::npos) << field << "\n" << r.out;
    EXPECT_EQ(text.find("TWAalarm"), std::string::npos) << r.out;
    EXPECT_EQ(text.find(NoSpace(c.mNextDue)) != std::string::npos, c.mShowDue) << r.out;
    EXPECT_EQ(text.find("FAIL"), std::string::npos) << r.out;
    EXPECT_EQ(text.find("NOTACALIBRATIONCERTIFICATE") != std::string::npos, withoutAdapter) << r.out;
    EXPECT_EQ(text.find("withoutaBeamDockadapter") != std::string::npos, withoutAdapter) << r.out;

    r = RunProcess({"/usr/bin/pdfinfo", pdf});
    EXPECT_NE(r.out.find("Pages:           1\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("595 x 842 pts (A4)"), std::string::npos) << r.out;
  }

  // A folder that is not there, and a disk that fills up part way (a file size limit stands
  // in for it): refused with the reason, and the certificate saved before is still whole.
  std::string error;
  EXPECT_FALSE(WriteCertificatePdf(c, dir.path() + "none/cert.pdf", &error) || error.empty());
  const std::string before = dir.read("real.pdf");
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = before.size() - 1000;  // fails in the last part, which a buffer would hold
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  error.clear();
  const bool written = WriteCertificatePdf(c, dir.path() + "real.pdf", &error);
  setrlimit(RLIMIT_FSIZE, &saved);
  EXPECT_FALSE(written || error.empty());
  EXPECT_EQ(dir.read("real.pdf"), before);
}

}  // namespace
