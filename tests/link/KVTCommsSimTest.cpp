// The link end to end: discovery through BEAMDOCK_PORT, the real serial port, a
// pseudo-terminal and the simulated detector, one family of commands per test.
#include "link/CommInt.h"
#include "link/KVTComms.h"
#include "link/USBtoUART.h"
#include "model/Checksum.h"
#include "sim/KvtSim.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <regex>
#include <thread>

namespace {

using namespace std::chrono_literals;

struct SimLink {
  KvtSim sim;
  TComKVT link;  // on the real serial port
  std::vector<std::string> lines;

  explicit SimLink(KvtSim::Options opts = KvtSim::Options()) : sim(std::move(opts)) {
    sim.start();
    ::setenv("BEAMDOCK_PORT", sim.devicePath().c_str(), 1);
    link.FOnKVTEvent = [this](TComKVT*, TDateTime, const std::string& s) { lines.push_back(s); };
  }
  ~SimLink() {
    link.ComClose();
    ::unsetenv("BEAMDOCK_PORT");
  }
  // Received frames whose description is `what` ("B3", "header", ...).
  int Received(const std::string& what) const {
    int n = 0;
    for (const auto& f : sim.received()) n += f.what == what ? 1 : 0;
    return n;
  }
};

bool IsCheckTime(const std::string& line) {
  return std::regex_match(line, std::regex(R"(\[CHECK TIME\] \d+[.,]\d{3} \(\d+\))"));
}

TEST(KVTOnSim, HandshakeTraceAndEndOfConnection) {
  SimLink r;
  ASSERT_EQ(r.link.OpenUSB(3.0f), LINK_OK);
  ASSERT_EQ(r.lines.size(), 2u);
  // Usually one acknowledgement; when the simulator is held back past the 1.05 ms, the answer
  // to the next frame lands in the same read.
  EXPECT_TRUE(std::regex_match(r.lines[0], std::regex("(B5 B7 C1 )+"))) << r.lines[0];
  EXPECT_TRUE(IsCheckTime(r.lines[1])) << r.lines[1];
  EXPECT_EQ(r.sim.state(), KvtSim::State::Connected);
  // Once in a few hundred loaded runs the simulator's thread is held back past the 0.1 s of a
  // check; the link then reports no response, and the next check must succeed.
  uint8_t check = r.link.ConnectKVTCheck();
  if (check == LINK_NORESPONSE) check = r.link.ConnectKVTCheck();
  EXPECT_EQ(check, LINK_OK);
  r.link.CloseUSB(LINK_OK);
  EXPECT_FALSE(r.link.Enabled());
  EXPECT_EQ(r.Received("B3"), 1);
  EXPECT_EQ(r.sim.state(), KvtSim::State::Silent);
}

TEST(KVTOnSim, HandshakeThroughAnEchoingAdapterReadsAsTheTypicalTrace) {
  KvtSim::Options o;
  o.echoHandshake = true;
  // A simulator that is held back lets several echoes pile up before its answer; that trace
  // is right too, but the typical one needs a prompt answer. Right after the terminal is
  // opened the first frames can reach the simulator in one burst, so the port is given a
  // moment before the handshake, and a loaded machine gets three tries.
  std::string all;
  bool typical = false;
  for (int attempt = 0; attempt < 3 && !typical; ++attempt) {
    SimLink r(o);
    int port = 0;
    ASSERT_EQ(FindComPort(r.link.Ports(), r.link.FDefPort, port), LINK_OK);
    r.link.ComOpen(port);
    std::this_thread::sleep_for(20ms);
    ASSERT_EQ(r.link.ConnectKVT(3.0f), LINK_OK);
    all.clear();
    for (const auto& l : r.lines) all += "|" + l;
    ASSERT_GE(r.lines.size(), 2u) << all;
    EXPECT_TRUE(IsCheckTime(r.lines.back())) << all;
    EXPECT_TRUE(std::regex_match(r.lines[r.lines.size() - 2], std::regex("(B2 75 80 )*(B5 B7 C1 )+"))) << all;
    typical = r.lines.size() == 3 && r.lines[0] == "B2 75 80 B5 B7 C1 " &&
              std::regex_match(r.lines[2], std::regex(R"(\[CHECK TIME\] \d+[.,]\d{3} \(1\))"));
    r.link.CloseUSB(LINK_OK);
  }
  EXPECT_TRUE(typical) << all;
}

TEST(KVTOnSim, AdapterEchoOfTheCheckIsNoAnswer) {
  KvtSim::Options o;
  o.echoCheck = true;
  SimLink r(o);
  ASSERT_EQ(r.link.OpenUSB(3.0f), LINK_OK);
  EXPECT_EQ(r.link.ConnectKVTCheck(), LINK_NORESPONSE);
  EXPECT_EQ(r.lines.back().rfind("[READ] NORESPONSE:B2 75 80 ", 0), 0u) << r.lines.back();
  r.link.CloseUSB(LINK_NORESPONSE);
}

TEST(KVTOnSim, OpenErrorsOfTheRealPortReachTheCallerOfOpenUSB) {
  ::setenv("BEAMDOCK_PORT", "/dev/beamdock-no-such-port", 1);
  TComKVT link;
  try {
    link.OpenUSB(0.1f);
    ADD_FAILURE() << "no error raised";
  } catch (const ECommError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Error accessing specified device (Error: ", 0), 0u) << e.what();
  }
  EXPECT_FALSE(link.Enabled());
  ::unsetenv("BEAMDOCK_PORT");
}

TEST(KVTOnSim, SilentDetectorGivesNoConnectAndNoEndFrame) {
  KvtSim::Options o;
  o.ignoreConnects = 1000000;
  SimLink r(o);
  EXPECT_EQ(r.link.OpenUSB(0.1f), LINK_NOCONNECT);
  EXPECT_TRUE(r.link.Enabled());
  r.link.CloseUSB(LINK_NOCONNECT);
  EXPECT_FALSE(r.link.Enabled());
  EXPECT_EQ(r.Received("B3"), 0);
  EXPECT_GE(r.Received("B2"), 10);  // paced frames, however loaded the machine
}

TEST(KVTOnSim, IdentityAndBothBlocks) {
  for (int packet : {32, 64}) {
    KvtSim::Options o;
    o.pid = 0x92;
    o.blockPacketSize = packet;
    SimLink r(o);
    ASSERT_EQ(r.link.OpenUSB(3.0f), LINK_OK);
    RKVTIdenty id{};
    ASSERT_EQ(r.link.RequireIdenty(id), LINK_OK);
    const RKVTIdenty want = r.sim.identity();
    EXPECT_EQ(0, std::memcmp(&id, &want, sizeof id));
    RKVTUnitCFG unit{};
    RKVTSensorCFG sensor{};
    EXPECT_EQ(r.link.ReadUnitCFGData(unit, packet, 64), LINK_OK);
    EXPECT_EQ(r.link.ReadSensorCFGData(sensor, packet, 64), LINK_OK);
    const RKVTCFG cfg = r.sim.config();
    EXPECT_EQ(0, std::memcmp(&unit, &cfg.mUnit, 64));
    EXPECT_EQ(0, std::memcmp(&sensor, &cfg.mSensor, 64));
    EXPECT_EQ(r.Received("81"), 2 * (64 / packet));
    r.link.CloseUSB(LINK_OK);
  }
}

TEST(KVTOnSim, DamagedBlockIsReportedAndReadings) {
  KvtSim::Options o;
  o.corruptUnitCrc = 1;
  SimLink r(o);
  ASSERT_EQ(r.link.OpenUSB(3.0f), LINK_OK);
  RKVTUnitCFG unit{};
  EXPECT_EQ(r.link.ReadUnitCFGData(unit, 32, 64), LINK_BLOCKCRC);
  EXPECT_EQ(r.link.ReadUnitCFGData(unit, 32, 64), LINK_OK);  // the caller's retry
  for (uint8_t mode = 0; mode < 3; ++mode) {
    RKVTSensor reading{};
    EXPECT_EQ(r.link.RequireSensor(reading, mode), LINK_OK);
  }
  EXPECT_EQ(r.Received("20") + r.Received("21") + r.Received("22"), 3);
  r.link.CloseUSB(LINK_BLOCKCRC);
  EXPECT_EQ(r.Received("B3"), 1);
}

TEST(KVTOnSim, WindowWriteAndLifeWrite) {
  SimLink r;
  ASSERT_EQ(r.link.OpenUSB(3.0f), LINK_OK);
  RKVTCFG cfg = r.sim.config();
  cfg.mSensor.mAlarmHigh = 222;
  cfg.mSensor.mAlarmLow = 111;
  RComKVTReadBuf image{};
  CFGToSendBuf(cfg, image);
  r.lines.clear();
  EXPECT_EQ(r.link.WriteCFGData(image, 64, 10), LINK_OK);
  EXPECT_EQ(r.lines.size(), 8u);
  EXPECT_EQ(r.link.WriteCFGTimeData(12345678), LINK_OK);
  EXPECT_EQ(r.lines.size(), 12u);
  const RKVTCFG now = r.sim.config();
  EXPECT_EQ(uint16_t{now.mSensor.mAlarmHigh}, 222);
  EXPECT_EQ(uint16_t{now.mSensor.mAlarmLow}, 111);
  EXPECT_EQ(uint32_t{now.mUnit.mLifeRemaining}, 12345678u);
  // Outside the image: refused before anything reaches the detector.
  const int headers = r.Received("header");
  EXPECT_EQ(r.link.WriteCFGData(image, 120, 10), LINK_LIMIT);
  EXPECT_EQ(r.Received("header"), headers);
  r.link.CloseUSB(LINK_LIMIT);
  EXPECT_EQ(r.Received("B3"), 1);
}

TEST(KVTOnSim, EventLogDownloadAndReset) {
  SimLink r;
  ASSERT_EQ(r.link.OpenUSB(3.0f), LINK_OK);
  std::vector<uint8_t> log;
  ASSERT_EQ(r.link.LoadLog(log, 32), LINK_OK);
  const auto events = r.sim.events();
  ASSERT_EQ(log.size(), (events.size() + 1) * 9);  // the entries and the end marker
  for (size_t i = 0; i < events.size(); ++i) {
    RKVTEvent e;
    std::memcpy(&e, log.data() + 9 * i, 9);
    EXPECT_EQ(uint32_t{e.mStartEvent}, events[i].start);
    EXPECT_EQ(int16_t{e.mSensorReading}, events[i].reading);
  }
  EXPECT_EQ(r.link.LogReset(), LINK_OK);
  ASSERT_EQ(r.link.LoadLog(log, 32), LINK_OK);
  EXPECT_EQ(log.size(), 9u);
  r.link.CloseUSB(LINK_OK);
}

TEST(KVTOnSim, ALogLargerThanAnyDetectorKeepsIsRefused) {
  KvtSim::Options o;
  o.logSizeOverride = link_limits::kMaxLogBytes + 1;
  SimLink r(o);
  ASSERT_EQ(r.link.OpenUSB(3.0f), LINK_OK);
  std::vector<uint8_t> log;
  EXPECT_EQ(r.link.LoadLog(log, 32), LINK_LOGSIZE);
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(r.Received("81"), 0);
  r.link.CloseUSB(LINK_LOGSIZE);
}

TEST(KVTOnSim, EEPROMDump) {
  SimLink r;
  ASSERT_EQ(r.link.OpenUSB(3.0f), LINK_OK);
  RComKVTReadBuf buf{};
  ASSERT_EQ(r.link.ReadEEPROMData(buf, 32, 0, 1024), LINK_OK);
  EXPECT_EQ(buf.mData, 992);
  const auto image = r.sim.eepromImage();
  ASSERT_GE(image.size(), 992u);
  EXPECT_EQ(0, std::memcmp(buf.mBuf, image.data(), 992));
  for (int i = 992; i < 1024; ++i) ASSERT_EQ(buf.mBuf[i], 0xFF);
  EXPECT_EQ(r.Received("81"), 31);
  r.link.CloseUSB(LINK_OK);
}

TEST(KVTOnSim, FirmwareUpgradeWithARepeatedPacket) {
  KvtSim::Options o;
  o.fwPacketCount = 8;
  o.fwPacketSize = 128;
  o.faults.push_back({KvtSim::kTargetPacket, KvtSim::FaultKind::Nak, 1});
  SimLink r(o);
  std::vector<uint8_t> image(8 * 128);
  for (size_t i = 2; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + 1);
  uint16_t crc = 0;
  for (size_t i = 2; i < image.size(); ++i) crc = UpdateCRC16(crc, image[i]);
  image[0] = static_cast<uint8_t>(crc & 0xFF);
  image[1] = static_cast<uint8_t>(crc >> 8);

  ASSERT_EQ(r.link.OpenUSB(3.0f), LINK_OK);
  ASSERT_EQ(r.link.UpgradeStart(), LINK_OK);
  r.lines.clear();
  RComKVTReadBuf packet{};
  packet.mData = 128;
  for (int slice = 0; slice < 8; ++slice) {
    std::memcpy(packet.mBuf, image.data() + 128 * slice, 128);
    uint8_t result = r.link.UpgradeData(1, packet);
    if (slice == 0) {
      EXPECT_EQ(result, LINK_NAK);  // the injected refusal: command exchange and the packet's answer
      ASSERT_EQ(r.lines.size(), 3u);
      EXPECT_EQ(r.lines[0], "[SEND] 91 AC C1 ");
      EXPECT_EQ(r.lines[2], "[READ] NAK:B6 B6 81 ");
      result = r.link.UpgradeData(3, packet);
    }
    ASSERT_EQ(result, LINK_OK) << slice;
  }
  EXPECT_EQ(r.lines.size(), 3u);  // successful packets leave no trace
  EXPECT_EQ(r.link.UpgradeExecute(), LINK_OK);
  EXPECT_EQ(r.sim.firmwareRuns(), 1);
  EXPECT_EQ(r.sim.firmwareImage(), image);
  r.link.CloseUSB(LINK_OK);
}

TEST(KVTOnSim, CalibrationActions) {
  KvtSim::Options o;
  o.calTimeMs = 60000;
  SimLink r(o);
  ASSERT_EQ(r.link.OpenUSB(3.0f), LINK_OK);
  EXPECT_EQ(r.link.SensorCalibration(0x42), LINK_OK);
  EXPECT_TRUE(r.sim.calibrating());
  RKVTSensor reading{};
  ASSERT_EQ(r.link.RequireSensor(reading, 0), LINK_OK);
  EXPECT_NE(reading.mHistory & 0x80, 0);
  EXPECT_EQ(r.link.SensorCalibration(0x43), LINK_OK);
  EXPECT_FALSE(r.sim.calibrating());
  EXPECT_EQ(r.link.SensorCalibration(0x46), LINK_OK);
  EXPECT_EQ(r.Received("50"), 3);
  r.link.CloseUSB(LINK_OK);
}

TEST(KVTOnSim, ServiceCommands) {
  SimLink r;
  ASSERT_EQ(r.link.OpenUSB(3.0f), LINK_OK);
  for (uint8_t out : {0x30, 0x31, 0x32, 0x34}) {
    EXPECT_EQ(r.link.AVOn(out), LINK_OK);
    EXPECT_EQ(r.sim.lastOutput(), out);
  }
  EXPECT_EQ(r.link.FactoryReset(), LINK_OK);
  EXPECT_EQ(r.link.SendHibernate(), LINK_ERROR);  // the default unit may not hibernate
  EXPECT_EQ(r.link.ResetUnit(), LINK_OK);
  EXPECT_EQ(r.sim.state(), KvtSim::State::Off);
  r.link.ComClose();  // a powered-down unit gets no end frame
  EXPECT_EQ(r.Received("B3"), 0);
}

TEST(KVTOnSim, HibernationClosesWithoutTheEndFrame) {
  KvtSim::Options o;
  o.config.mUnit.mAllowSuspend = 0x80;
  SimLink r(o);
  ASSERT_EQ(r.link.OpenUSB(3.0f), LINK_OK);
  EXPECT_EQ(r.link.SendHibernate(), LINK_OK);
  r.link.CloseUSB(0xC3);
  EXPECT_EQ(r.sim.state(), KvtSim::State::Hibernating);
  EXPECT_EQ(r.Received("B3"), 0);
  // A sleeping unit does not answer the next operation.
  EXPECT_EQ(r.link.OpenUSB(0.05f), LINK_NOCONNECT);
  r.link.CloseUSB(LINK_NOCONNECT);
}

}  // namespace
