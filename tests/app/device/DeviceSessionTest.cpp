// Read Device, Write Device, Hibernate, Read File and Write File of the session, end to end
// against the simulated detector on a pseudo-terminal.
#include "app/config/CfgView.h"
#include "app/device/DeviceSession.h"
#include "app/device/EventLog.h"
#include "app/device/Identify.h"
#include "app/records/Fleet.h"
#include "app/records/ServiceRecords.h"
#include "app/core/Results.h"
#include "link/KVTComms.h"
#include "model/CfgFile.h"
#include "model/Checksum.h"
#include "model/DeviceUtils.h"
#include "model/SensorTypes.h"
#include "tests/support/ProgramState.h"
#include "tests/support/ScriptedOperator.h"
#include "tests/support/SimPort.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The program-wide settings each test changes, put back afterwards.
class DeviceSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DeviceCFG = RDeviceCFG{};
    FactoryMode = false;
    SetBuiltInSensorTypes();
    AppDir = FDir.path();
    ::mkdir((AppDir + "Configure").c_str(), 0755);  // start-up makes it
  }

  void UseFactoryView() {
    FactoryMode = true;
    DeviceCFG.mUnitWriteFactorySize = 0;
    DeviceCFG.mUnitWriteUserSize = 0;
    DeviceCFG.mSensorWriteFactorySize = 0;
    DeviceCFG.mSensorWriteUserSize = 0;
  }

  ProgramState FKept;
  TempDir FDir;
};

// A configuration in which every byte differs from the default one.
RKVTCFG DistinctConfig() {
  RKVTCFG cfg{};
  auto* bytes = reinterpret_cast<uint8_t*>(&cfg);
  for (size_t i = 0; i < sizeof cfg; ++i) bytes[i] = static_cast<uint8_t>(0x30 + (i * 7) % 64);
  cfg.mUnit.mFWVersion = 23;
  cfg.mUnit.mAllowSuspend = 0x80;
  cfg.mSensor.mSensorType = 2;  // CO in the built-in table
  KvtSim::fillCRCs(cfg);
  return cfg;
}

std::vector<KvtSim::Frame> Received(const KvtSim& sim, const std::string& what) {
  std::vector<KvtSim::Frame> out;
  for (const KvtSim::Frame& f : sim.received())
    if (f.what == what) out.push_back(f);
  return out;
}

// (size, address) of every configuration window the host opened.
std::vector<std::pair<int, int>> Windows(const KvtSim& sim) {
  std::vector<std::pair<int, int>> out;
  for (const KvtSim::Frame& f : Received(sim, "header")) out.emplace_back(f.bytes[0], (f.bytes[2] << 8) | f.bytes[3]);
  return out;
}

bool SameBytes(const RKVTCFG& a, const RKVTCFG& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

KvtSim::Options WithConfig(const RKVTCFG& cfg) {
  KvtSim::Options o;
  o.config = cfg;
  return o;
}

// ---- Read Device

TEST_F(DeviceSessionTest, ReadTakesEveryByteOfBothBlocksAndShowsThem) {
  const RKVTCFG detector = DistinctConfig();
  SimPort port(WithConfig(detector));
  TComKVT link;
  ScriptedOperator op;
  TDeviceSession session;
  int shown = 0;
  std::vector<std::string> names;
  session.OnShowCFG = [&] { ++shown; };
  session.OnProductName = [&](const std::string& n) { names.push_back(n); };
  session.FHibernateBtn = true;

  const RSessionResult r = session.ReadDevice(op, link);
  ASSERT_TRUE(r.ok()) << int{r.mCode};
  EXPECT_TRUE(SameBytes(session.FKVTCFG, port.sim().config()));
  EXPECT_EQ(session.FReadSW, 23);
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(names, (std::vector<std::string>{"", "KVT"}));
  EXPECT_EQ(session.FProductName, "KVT");
  EXPECT_FALSE(session.FHibernateBtn);
  EXPECT_EQ(session.FIdentity.mSensor, 2);
  ASSERT_EQ(op.statuses().size(), 2u);
  EXPECT_EQ(op.statuses()[0].text, "Read KVT Information...");
  EXPECT_EQ(op.statuses()[1].text, "Read KVT Information... OK");
  EXPECT_EQ(op.statuses()[1].colour, StatusColour::Success);
  EXPECT_TRUE(op.messages().empty());
  EXPECT_EQ(Received(port.sim(), "5F").size(), 1u);
  EXPECT_EQ(Received(port.sim(), "50").size(), 1u);
}

TEST_F(DeviceSessionTest, AProductTypeTheViewRefusesStopsBeforeAnyBlockIsRead) {
  KvtSim::Options o = WithConfig(DistinctConfig());
  o.pid = 1;
  SimPort port(o);
  TComKVT link;
  ScriptedOperator op;
  TDeviceSession session;
  const RKVTCFG before = session.FKVTCFG;
  session.FProductName = "old";
  int shown = 0;
  session.OnShowCFG = [&] { ++shown; };

  EXPECT_EQ(session.ReadDevice(op, link).mCode, APP_NOTKVT);
  EXPECT_TRUE(Received(port.sim(), "5F").empty());
  EXPECT_TRUE(Received(port.sim(), "50").empty());
  EXPECT_TRUE(SameBytes(session.FKVTCFG, before));
  EXPECT_EQ(session.FProductName, "");
  EXPECT_EQ(shown, 0);
  ASSERT_EQ(op.messages().size(), 1u);
  EXPECT_EQ(op.messages()[0].caption, "Read KVT Information");
  EXPECT_EQ(op.messages()[0].text, "This is not KVT module");
  EXPECT_EQ(op.lastStatus().text, "Read KVT Information... FAIL");
}

TEST_F(DeviceSessionTest, ABlockWithABadOwnChecksumFailsAfterExactlyThreeReads) {
  KvtSim::Options o = WithConfig(DistinctConfig());
  o.corruptUnitCrc = -1;
  SimPort port(o);
  TComKVT link;
  ScriptedOperator op;
  TDeviceSession session;
  const RKVTCFG before = session.FKVTCFG;

  EXPECT_EQ(session.ReadDevice(op, link).mCode, LINK_BLOCKCRC);
  EXPECT_EQ(Received(port.sim(), "5F").size(), 3u);
  EXPECT_TRUE(Received(port.sim(), "50").empty());
  EXPECT_TRUE(SameBytes(session.FKVTCFG, before));
  EXPECT_EQ(session.FProductName, "KVT");  // the identity was accepted
  ASSERT_EQ(op.messages().size(), 1u);
  EXPECT_EQ(op.messages()[0].text, "KVT comunication error\rWrong configuration information\rCheck device");
}

TEST_F(DeviceSessionTest, RetriesStopAtTheFirstGoodBlock) {
  KvtSim::Options o = WithConfig(DistinctConfig());
  o.corruptSensorCrc = 2;
  SimPort port(o);
  TComKVT link;
  ScriptedOperator op;
  TDeviceSession session;

  EXPECT_TRUE(session.ReadDevice(op, link).ok());
  EXPECT_EQ(Received(port.sim(), "5F").size(), 1u);
  EXPECT_EQ(Received(port.sim(), "50").size(), 3u);
  EXPECT_TRUE(SameBytes(session.FKVTCFG, port.sim().config()));
}

TEST_F(DeviceSessionTest, APortThatCannotBeOpenedIsOneBoxAndTheProgramGoesOn) {
  ScopedEnv env("BEAMDOCK_PORT", FDir.path() + "ttyUSB9");
  TComKVT link;
  ScriptedOperator op;
  TDeviceSession session;
  EXPECT_EQ(session.ReadDevice(op, link).mCode, LINK_PORTERROR);
  ASSERT_EQ(op.messages().size(), 1u);
  EXPECT_EQ(op.messages()[0].caption, "Read KVT Information");
  EXPECT_NE(op.messages()[0].text.find("(Error: 2)"), std::string::npos) << op.messages()[0].text;
  EXPECT_EQ(op.lastStatus().text, "Read KVT Information... BEAMDOCK Connect ERROR");
  EXPECT_FALSE(link.Enabled());
}

// ---- Write Device

TEST_F(DeviceSessionTest, UserViewWriteSendsTheTwoUserWindowsAndNoLife) {
  SimPort port;
  TComKVT link;
  ScriptedOperator op;
  TDeviceSession session;
  session.FFormKnown = true;  // the form was read or loaded
  RKVTCFG cfg = session.FKVTCFG;
  cfg.mUnit.mTestInterval = 9;
  cfg.mSensor.mAlarmHigh = 321;
  cfg.mSensor.mAlarmLow = 123;
  cfg.mUnit.mLifeRemaining = 1000;  // outside the user windows: must not reach the detector
  const RKVTCFG before = port.sim().config();

  const RSessionResult r = session.WriteDevice(op, link, cfg);
  ASSERT_TRUE(r.ok()) << int{r.mCode};
  EXPECT_EQ(Windows(port.sim()), (std::vector<std::pair<int, int>>{{8, 0}, {10, 64}}));
  EXPECT_TRUE(Received(port.sim(), "71").empty());
  EXPECT_TRUE(Received(port.sim(), "time").empty());
  const RKVTCFG after = port.sim().config();
  EXPECT_EQ(after.mUnit.mTestInterval, 9);
  EXPECT_EQ(uint16_t{after.mSensor.mAlarmHigh}, 321);
  EXPECT_EQ(uint16_t{after.mSensor.mAlarmLow}, 123);
  EXPECT_EQ(uint32_t{after.mUnit.mLifeRemaining}, uint32_t{before.mUnit.mLifeRemaining});
  EXPECT_TRUE(SameBytes(session.FKVTCFG, cfg));
  EXPECT_EQ(op.lastStatus().text, "Write KVT Information... OK");
}

TEST_F(DeviceSessionTest, FactoryWriteWithNoWindowsSendsOnlyTheLife) {
  UseFactoryView();
  SimPort port;
  TComKVT link;
  ScriptedOperator op;
  TDeviceSession session;
  session.FFormKnown = true;  // the form was read or loaded
  RKVTCFG cfg = session.FKVTCFG;
  cfg.mUnit.mLifeRemaining = 12345678;

  ASSERT_TRUE(session.WriteDevice(op, link, cfg).ok());
  EXPECT_TRUE(Windows(port.sim()).empty());
  EXPECT_TRUE(Received(port.sim(), "70").empty());
  EXPECT_EQ(Received(port.sim(), "71").size(), 1u);
  EXPECT_EQ(uint32_t{port.sim().config().mUnit.mLifeRemaining}, 12345678u);
}

TEST_F(DeviceSessionTest, FactoryWriteRunsTheFourRangesInTheirOrder) {
  UseFactoryView();
  DeviceCFG.mUnitWriteFactoryStart = 17, DeviceCFG.mUnitWriteFactorySize = 20;
  DeviceCFG.mUnitWriteUserStart = 1, DeviceCFG.mUnitWriteUserSize = 8;
  DeviceCFG.mSensorWriteFactoryStart = 86, DeviceCFG.mSensorWriteFactorySize = 12;
  DeviceCFG.mSensorWriteUserStart = 65, DeviceCFG.mSensorWriteUserSize = 10;
  SimPort port;
  TComKVT link;
  ScriptedOperator op;
  TDeviceSession session;
  session.FFormKnown = true;  // the form was read or loaded
  RKVTCFG cfg = session.FKVTCFG;
  std::memcpy(cfg.mUnit.mSerial, "AB12345678", 10);

  ASSERT_TRUE(session.WriteDevice(op, link, cfg).ok());
  EXPECT_EQ(Windows(port.sim()), (std::vector<std::pair<int, int>>{{20, 16}, {8, 0}, {12, 85}, {10, 64}}));
  EXPECT_EQ(std::string(port.sim().config().mUnit.mSerial, 10), "AB12345678");
  EXPECT_EQ(Received(port.sim(), "71").size(), 1u);
}

TEST_F(DeviceSessionTest, AFailedWindowWriteIsTriedThreeTimesAndStopsTheChain) {
  KvtSim::Options o;
  o.faults.push_back({KvtSim::kTargetData, KvtSim::FaultKind::Nak, 0});
  SimPort port(o);
  TComKVT link;
  ScriptedOperator op;
  TDeviceSession session;
  session.FFormKnown = true;  // the form was read or loaded

  EXPECT_EQ(session.WriteDevice(op, link, session.FKVTCFG).mCode, LINK_NAK);
  EXPECT_EQ(Windows(port.sim()), (std::vector<std::pair<int, int>>{{8, 0}, {8, 0}, {8, 0}}));
}

TEST_F(DeviceSessionTest, ADifferentSensorStopsTheUserViewButNotTheFactoryView) {
  RKVTCFG detector;
  SetDefaultCFG(detector);
  detector.mSensor.mSensorType = 2;
  SimPort port(WithConfig(detector));
  TComKVT link;
  TDeviceSession session;
  session.FFormKnown = true;  // the form was read or loaded
  RKVTCFG cfg = session.FKVTCFG;  // sensor type 1
  {
    ScriptedOperator op;
    EXPECT_EQ(session.WriteDevice(op, link, cfg).mCode, APP_SENSORTYPE);
    EXPECT_TRUE(Windows(port.sim()).empty());
    EXPECT_EQ(op.lastStatus().text, "Write KVT Information... FAIL");
    ASSERT_EQ(op.messages().size(), 1u);
    EXPECT_EQ(op.messages()[0].text, "Check sensor type and Alarm setting");
  }
  UseFactoryView();
  port.sim().clearFrames();
  ScriptedOperator op;
  EXPECT_TRUE(session.WriteDevice(op, link, cfg).ok());
  EXPECT_EQ(Received(port.sim(), "71").size(), 1u);
  EXPECT_EQ(op.lastStatus().text, "Write KVT Information... OK");
}

TEST_F(DeviceSessionTest, NoAnswerToTheIdentityIsNoResponseNotASensorMismatch) {
  RKVTCFG detector;
  SetDefaultCFG(detector);
  detector.mSensor.mSensorType = 2;
  KvtSim::Options o = WithConfig(detector);
  o.faults.push_back({0xA0, KvtSim::FaultKind::Silent, 0});
  SimPort port(o);
  TComKVT link;
  ScriptedOperator op;
  TDeviceSession session;
  session.FFormKnown = true;  // the form was read or loaded
  EXPECT_EQ(session.WriteDevice(op, link, session.FKVTCFG).mCode, LINK_NORESPONSE);
  ASSERT_EQ(op.messages().size(), 1u);
  EXPECT_EQ(op.messages()[0].text, "KVT comunication error - no response");
  EXPECT_TRUE(Windows(port.sim()).empty());
}

TEST_F(DeviceSessionTest, NoSensorTypeStopsBeforeTheLinkWithTheViewsText) {
  SimPort port;
  TComKVT link;
  TDeviceSession session;
  session.FFormKnown = true;  // the form was read or loaded
  RKVTCFG cfg = session.FKVTCFG;
  cfg.mSensor.mSensorType = 0;
  for (bool factory : {false, true}) {
    FactoryMode = factory;
    ScriptedOperator op;
    const RSessionResult r = session.WriteDevice(op, link, cfg);
    EXPECT_EQ(r.mStop, TSessionStop::NoSensor);
    ASSERT_EQ(op.statuses().size(), 1u);  // the refusal's own end, the link untouched
    EXPECT_EQ(op.lastStatus().text, "Write KVT Information... REFUSED");
    ASSERT_EQ(op.messages().size(), 1u);
    EXPECT_EQ(op.messages()[0].caption, "No sensor information");
    EXPECT_EQ(op.messages()[0].icon, MessageIcon::Error);
    EXPECT_EQ(op.messages()[0].text, factory ? "No sensor information.\rFirst READ DEVICE or select sensor type"
                                             : "No sensor information.\rFirst READ DEVICE");
    EXPECT_TRUE(SameBytes(session.FKVTCFG, cfg));  // taken over although nothing was written
  }
  EXPECT_TRUE(port.sim().received().empty());
}

// ---- Hibernate

KvtSim::Options Suspendable() {
  RKVTCFG cfg;
  SetDefaultCFG(cfg);
  cfg.mUnit.mAllowSuspend = kAllowSuspend;
  return WithConfig(cfg);
}

TEST_F(DeviceSessionTest, HibernateAsksOnceAndSendsNoClosingCommandToTheSleepingDetector) {
  SimPort port(Suspendable());
  TComKVT link;
  TDeviceSession session;
  {
    ScriptedOperator op;
    op.answer(true);
    ASSERT_TRUE(session.Hibernate(op, link).ok());
    ASSERT_EQ(op.questions().size(), 1u);
    EXPECT_EQ(op.questions()[0].caption, "Hibernate");
    EXPECT_EQ(op.questions()[0].text, "Hibernation will clear the event log.\rAre you sure you want to proceed.");
    ASSERT_EQ(op.statuses().size(), 3u);
    EXPECT_EQ(op.statuses()[0].text, "Read KVT Information...");
    EXPECT_EQ(op.statuses()[1].text, "Hibernate...");
    EXPECT_EQ(op.statuses()[2].text, "Hibernate... OK");
    EXPECT_EQ(port.sim().state(), KvtSim::State::Hibernating);
    const std::vector<KvtSim::Frame> rx = port.sim().received();
    ASSERT_FALSE(rx.empty());
    EXPECT_EQ(rx.back().what, "17");  // nothing after the hibernate command
    EXPECT_TRUE(session.FHibernateBtn);
  }
  port.sim().wake();
  ScriptedOperator op;  // no answer scripted: a question would fail the test
  EXPECT_TRUE(session.Hibernate(op, link).ok());
  EXPECT_TRUE(op.questions().empty());
}

TEST_F(DeviceSessionTest, ReadDeviceForgetsAConfirmedHibernation) {
  SimPort port(Suspendable());
  TComKVT link;
  TDeviceSession session;
  session.FHibernateBtn = true;
  ScriptedOperator op;
  ASSERT_TRUE(session.ReadDevice(op, link).ok());
  EXPECT_FALSE(session.FHibernateBtn);
  op.answer(false);
  EXPECT_EQ(session.Hibernate(op, link).mStop, TSessionStop::Declined);
  EXPECT_EQ(op.questions().size(), 1u);
  EXPECT_FALSE(session.FHibernateBtn);
  EXPECT_TRUE(Received(port.sim(), "17").empty());
  EXPECT_EQ(op.lastStatus().text, "Hibernate... CANCELLED");
}

TEST_F(DeviceSessionTest, HibernateOnADetectorThatMayNotSaysCheckUnitAndSendsNothingMore) {
  SimPort port;  // mAllowSuspend 0xFF
  TComKVT link;
  ScriptedOperator op;
  TDeviceSession session;
  EXPECT_EQ(session.Hibernate(op, link).mStop, TSessionStop::CheckUnit);
  ASSERT_EQ(op.messages().size(), 1u);
  EXPECT_EQ(op.messages()[0].caption, "Check Unit");
  EXPECT_EQ(op.messages()[0].text,
            "This feature is only supported on the KVT+ instrument\rPlease contact QRB more details");
  EXPECT_TRUE(op.questions().empty());
  EXPECT_EQ(op.lastStatus().text, "Hibernate... NOT SUPPORTED");
  const std::vector<KvtSim::Frame> rx = port.sim().received();
  ASSERT_FALSE(rx.empty());
  EXPECT_EQ(rx.back().what, "B3");  // the read's own close, then silence
  EXPECT_TRUE(Received(port.sim(), "17").empty());
}

TEST_F(DeviceSessionTest, AnErrorStatusToHibernateIsHibernationNotAllowed) {
  KvtSim::Options o = Suspendable();
  o.faults.push_back({0x17, KvtSim::FaultKind::Error, 0});
  SimPort port(o);
  TComKVT link;
  ScriptedOperator op;
  op.answer(true);
  TDeviceSession session;
  EXPECT_EQ(session.Hibernate(op, link).mCode, APP_HIBERNATE);
  EXPECT_EQ(op.lastStatus().text, "Hibernate... FAIL");
  ASSERT_EQ(op.messages().size(), 1u);
  EXPECT_EQ(op.messages()[0].caption, "Hibernate");
  EXPECT_EQ(op.messages()[0].text, "Hibernation is not allowed");
}

TEST_F(DeviceSessionTest, AFailedReadBeforeHibernateEndsAsTheRead) {
  KvtSim::Options o = Suspendable();
  o.faults.push_back({0xA0, KvtSim::FaultKind::Silent, 0});
  SimPort port(o);
  TComKVT link;
  ScriptedOperator op;
  TDeviceSession session;
  EXPECT_EQ(session.Hibernate(op, link).mCode, LINK_NORESPONSE);
  EXPECT_EQ(op.lastStatus().text, "Read KVT Information... FAIL");
  EXPECT_TRUE(op.questions().empty());
}

// ---- Read File / Write File

TEST_F(DeviceSessionTest, SaveAndLoadTakeOverTheSettingsFieldsOnly) {
  TDeviceSession session;
  RKVTCFG saved = DistinctConfig();
  saved.mUnit.mLifeRemaining = 5000000;
  ScriptedOperator op;
  op.saveFile(FDir.path() + "Configure/a.cfg");
  FileRequest save = CFGSaveDialog();
  ASSERT_TRUE(session.WriteFile(op, save, saved).ok());
  EXPECT_EQ(op.eventsOf(ScriptedOperator::Kind::SaveFile)[0].request.folder, FDir.path() + "Configure/");
  EXPECT_EQ(op.eventsOf(ScriptedOperator::Kind::SaveFile)[0].request.title, "Save Configuration File");
  EXPECT_EQ(FDir.read("Configure/a.cfg").size(), 140u);

  TDeviceSession other;
  const RKVTCFG before = other.FKVTCFG;
  other.FHibernateBtn = true;
  int shown = 0;
  other.OnShowCFG = [&] { ++shown; };
  op.openFile(FDir.path() + "Configure/a.cfg");
  FileRequest open = CFGOpenDialog();
  ASSERT_TRUE(other.ReadFile(op, open).ok());
  EXPECT_FALSE(other.FHibernateBtn);
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(uint16_t{other.FKVTCFG.mSensor.mAlarmHigh}, uint16_t{saved.mSensor.mAlarmHigh});
  EXPECT_EQ(uint32_t{other.FKVTCFG.mUnit.mLifeRemaining}, 5000000u);
  EXPECT_EQ(std::string(other.FKVTCFG.mUnit.mSerial, 10), std::string(saved.mUnit.mSerial, 10));
  // The detector's own counters and calibration stay those of the working configuration.
  EXPECT_EQ(uint16_t{other.FKVTCFG.mSensor.mZero}, uint16_t{before.mSensor.mZero});
  EXPECT_EQ(uint16_t{other.FKVTCFG.mSensor.mSpan}, uint16_t{before.mSensor.mSpan});
  EXPECT_EQ(uint32_t{other.FKVTCFG.mUnit.mAlarmTime}, uint32_t{before.mUnit.mAlarmTime});
  EXPECT_EQ(uint16_t{other.FKVTCFG.mUnit.mCRC}, uint16_t{before.mUnit.mCRC});
}

TEST_F(DeviceSessionTest, AShortOrWrongFileChangesNothing) {
  TDeviceSession session;
  RKVTCFG cfg = DistinctConfig();
  ScriptedOperator op;
  op.saveFile(FDir.path() + "good.cfg");
  FileRequest save = CFGSaveDialog();
  ASSERT_TRUE(session.WriteFile(op, save, cfg).ok());
  const std::string good = FDir.read("good.cfg");
  FDir.write("short.cfg", good.substr(0, good.size() - 1));  // one body byte missing
  std::string v9 = good;
  v9[0] = 9;
  FDir.write("v9.cfg", v9);

  for (const char* name : {"short.cfg", "v9.cfg"}) {
    TDeviceSession other;
    const RKVTCFG before = other.FKVTCFG;
    ScriptedOperator o;
    o.openFile(FDir.path() + name);
    FileRequest open = CFGOpenDialog();
    EXPECT_EQ(other.ReadFile(o, open).mStop, TSessionStop::FileRefused) << name;
    EXPECT_TRUE(SameBytes(other.FKVTCFG, before)) << name;
    ASSERT_EQ(o.messages().size(), 1u);
    EXPECT_EQ(o.messages()[0].caption, "Read Configuration File");
    EXPECT_EQ(o.messages()[0].text, "Configuration File is wrong\rReselect file");
  }
  TDeviceSession other;
  ScriptedOperator o;
  o.openFile(FDir.path() + "missing.cfg");
  FileRequest open = CFGOpenDialog();
  EXPECT_EQ(other.ReadFile(o, open).mStop, TSessionStop::FileRefused);
  EXPECT_EQ(o.messages()[0].text, "Configuration File did not open\rRetry READ FILE");
}

TEST_F(DeviceSessionTest, ACancelledSaveStillTakesTheCollectedConfiguration) {
  TDeviceSession session;
  RKVTCFG cfg = DistinctConfig();
  ScriptedOperator op;
  op.saveFile(std::nullopt);
  FileRequest save = CFGSaveDialog();
  EXPECT_EQ(session.WriteFile(op, save, cfg).mStop, TSessionStop::Cancelled);
  EXPECT_TRUE(SameBytes(session.FKVTCFG, cfg));
  EXPECT_TRUE(op.messages().empty());
}

TEST_F(DeviceSessionTest, AFailedSaveKeepsTheEarlierFileWhole) {
  TDeviceSession session;
  ScriptedOperator op;
  const std::string path = FDir.path() + "Configure/keep.cfg";
  op.saveFile(path);
  FileRequest save = CFGSaveDialog();
  ASSERT_TRUE(session.WriteFile(op, save, session.FKVTCFG).ok());
  const std::string earlier = FDir.read("Configure/keep.cfg");

  // A disk that fills after 60 bytes: the new file cannot be written whole.
  struct rlimit old {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 60;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  op.saveFile(path);
  const RSessionResult r = session.WriteFile(op, save, DistinctConfig());
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);

  EXPECT_EQ(r.mStop, TSessionStop::FileNotSaved);
  ASSERT_EQ(op.messages().size(), 1u);
  EXPECT_EQ(op.messages()[0].caption, "Write Configuration file");
  EXPECT_EQ(op.messages()[0].text, "Configuration File did not save\rRetry WRITE FILE");
  EXPECT_EQ(FDir.read("Configure/keep.cfg"), earlier);
}

// ---- the collect of a view without controls

TEST_F(DeviceSessionTest, CollectShownLimitsValuesAsTheBoxesDo) {
  TDeviceSession session;
  session.FKVTCFG.mSensor.mAlarmHigh = 1500;  // 150.0 beyond H2S's 0..100
  session.FKVTCFG.mSensor.mAlarmLow = 1000;
  session.FKVTCFG.mUnit.mTestInterval = 30;
  session.FKVTCFG.mSensor.mBumpInterval = 400;
  session.ShowCFG();
  RKVTCFG c = session.CollectShown(true);
  EXPECT_EQ(uint16_t{c.mSensor.mAlarmHigh}, 1000);
  EXPECT_EQ(uint16_t{c.mSensor.mAlarmLow}, 1000);
  EXPECT_EQ(c.mUnit.mTestInterval, 24);
  EXPECT_EQ(uint16_t{c.mSensor.mBumpInterval}, 365);
  EXPECT_EQ(c.mSensor.mSensorType, 1);
  EXPECT_EQ(c.mUnit.mFWVersion, 0);  // the user view writes no firmware byte to a detector

  // A sensor code the table lacks has no selection, as in the window.
  session.FKVTCFG.mSensor.mSensorType = 77;
  session.ShowCFG();
  EXPECT_EQ(session.CollectShown(true).mSensor.mSensorType, 0);
}

TEST_F(DeviceSessionTest, CollectShownInTheFactoryViewKeepsTheDetectorsFields) {
  UseFactoryView();
  TDeviceSession session;
  session.FKVTCFG = DistinctConfig();
  session.FKVTCFG.mSensor.mAlarmHigh = 250;
  session.FKVTCFG.mUnit.mLifeRemaining = kMaxLifeSeconds;
  session.FReadSW = 23;
  session.ShowCFG();
  bool limited = true;
  const RKVTCFG c = session.CollectShown(false, &limited);
  EXPECT_FALSE(limited);
  EXPECT_EQ(uint16_t{c.mSensor.mAlarmHigh}, 250);
  EXPECT_EQ(uint32_t{c.mUnit.mLifeRemaining}, kMaxLifeSeconds - 1);  // 24 months 0 days
  EXPECT_EQ(uint16_t{c.mSensor.mZero}, uint16_t{session.FKVTCFG.mSensor.mZero});
  EXPECT_EQ(c.mUnit.mFWVersion, 23);
  EXPECT_EQ(c.mUnit.mDummy1[0], 0);  // reserved bytes are cleared by the factory collect
}

}  // namespace

// Each operation sends its own sequence and no more: the record takes the identity the
// operation asked for instead of asking again, names the port the link opened and, for a
// read, keeps the configuration, so the fleet knows a detector's intervals from a read alone.
TEST_F(DeviceSessionTest, EachOperationSendsItsOwnFramesAndItsRecordNamesWhatItMet) {
  using Names = std::vector<std::string>;
  struct Case {
    const char* name;
    std::function<uint8_t(ScriptedOperator&, TComKVT&, TDeviceSession&)> run;
    Names frames;
  } cases[] = {
      {"identify", [](ScriptedOperator& op, TComKVT& link, TDeviceSession&) {
         RKVTIdenty id{};
         return LoadIdentify(op, link, id);
       }, {"A0", "B3"}},
      {"read", [](ScriptedOperator& op, TComKVT& link, TDeviceSession& s) { return s.ReadDevice(op, link).mCode; },
       {"A0", "5F", "81", "81", "50", "81", "81", "B3"}},
      {"write", [](ScriptedOperator& op, TComKVT& link, TDeviceSession& s) { s.FFormKnown = true;
         return s.WriteDevice(op, link, s.FKVTCFG).mCode;
       },
       {"A0", "70", "header", "91", "data", "70", "header", "91", "data", "B3"}},
      {"log export", [this](ScriptedOperator& op, TComKVT& link, TDeviceSession& s) {
         FileRequest dialog = EventLogSaveDialog();
         op.saveFile(FDir.path() + "log.csv");
         return SaveEventLog(op, link, s, dialog).mCode;
       }, {"A0", "5F", "81", "81", "50", "81", "81", "A0", "60", "A1", "81", "81", "B3"}},
      // The reset reads the wearer and downloads the log, whose entries are kept, before it clears.
      {"log reset", [](ScriptedOperator& op, TComKVT& link, TDeviceSession& s) { return LogReset(op, link, s); },
       {"A0", "5F", "81", "81", "60", "A1", "81", "81", "13", "B3"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimPort port;
    TComKVT link;
    ScriptedOperator op;
    TDeviceSession session;
    ASSERT_EQ(c.run(op, link, session), LINK_OK);
    Names got;
    for (const KvtSim::Frame& f : port.sim().received())
      if (f.what != "B2") got.push_back(f.what);
    EXPECT_EQ(got, c.frames);
    const std::vector<RServiceRecord> records = TRecordStore(RecordsDatabasePath(), TRecordStore::TMode::Read).History("");
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.front().mSerial, "SH24031587");
    EXPECT_EQ(records.front().mPort, "no adapter " + port.device());
  }
  // Only reads are on record: the fleet still knows both intervals, and asks for both checks.
  const std::vector<RFleetRow> rows =
      FleetRows(FleetEventsFrom(TRecordStore(RecordsDatabasePath(), TRecordStore::TMode::Read).History("")),
                std::time(nullptr), 30);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_TRUE(rows[0].mCalNever && rows[0].mBumpNever);
}

// A form nobody read or loaded is never written without a word: refused in the user view,
// asked in the factory view; either way nothing reaches the detector unless the answer is Yes.
TEST_F(DeviceSessionTest, TheStartUpFormIsNeverWrittenSilently) {
  for (const bool factory : {false, true}) {
    for (const bool yes : {false, true}) {
      if (!factory && yes) continue;
      SCOPED_TRACE(std::string(factory ? "factory" : "user") + (yes ? ", yes" : ""));
      if (factory) UseFactoryView();
      SimPort port;
      TComKVT link;
      ScriptedOperator op;
      if (factory) op.answer(yes);
      TDeviceSession session;
      const RSessionResult r = session.WriteDevice(op, link, session.FKVTCFG);
      EXPECT_EQ(r.ok(), yes);
      EXPECT_EQ(port.sim().received().empty(), !yes);
      EXPECT_EQ(op.questions().size(), factory ? 1u : 0u);
      if (!factory) {
        ASSERT_EQ(op.messages().size(), 1u);
        EXPECT_EQ(op.messages()[0].text, kUnknownFormUserText);
      }
    }
  }
}
