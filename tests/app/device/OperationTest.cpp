#include "app/device/Identify.h"
#include "app/device/Operation.h"
#include "app/core/Results.h"
#include "link/CommInt.h"
#include "link/KVTComms.h"
#include "link/USBtoUART.h"
#include "tests/support/ScriptedOperator.h"
#include "tests/support/SimPort.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

ROperationOptions within(float seconds) {
  ROperationOptions o;
  o.connectSeconds = seconds;
  return o;
}

// Command bytes the simulated detector received, in order.
std::vector<uint8_t> commandsSeen(const KvtSim& sim) {
  std::vector<uint8_t> out;
  for (const KvtSim::Frame& f : sim.received())
    if (!f.bytes.empty() && f.bytes.size() == 3) out.push_back(f.bytes[0]);
  return out;
}

bool sawCommand(const KvtSim& sim, uint8_t command) {
  for (uint8_t c : commandsSeen(sim))
    if (c == command) return true;
  return false;
}

TEST(RunOperation, FramesTheCommandsWithStatusAndClose) {
  SimPort port;
  TComKVT link;
  ScriptedOperator op;
  int ran = 0;
  uint8_t code = RunOperation(op, link, "Clear Peak", [&] {
    ++ran;
    EXPECT_TRUE(link.Enabled());
    return link.SensorCalibration(0x44);
  }, within(3.0f));
  EXPECT_EQ(code, LINK_OK);
  EXPECT_EQ(ran, 1);
  ASSERT_EQ(op.statuses().size(), 2u);
  EXPECT_EQ(op.statuses()[0].colour, StatusColour::Running);
  EXPECT_EQ(op.statuses()[0].text, "Clear Peak...");
  EXPECT_EQ(op.statuses()[1].colour, StatusColour::Success);
  EXPECT_EQ(op.statuses()[1].text, "Clear Peak... OK");
  EXPECT_TRUE(op.messages().empty());
  EXPECT_GE(op.pumps(), 2);  // the running text was painted before the blocking work
  EXPECT_FALSE(link.Enabled());
  EXPECT_TRUE(sawCommand(port.sim(), 0x44));
  EXPECT_TRUE(sawCommand(port.sim(), 0xB3));  // the detector was told the connection ends
}

TEST(RunOperation, ARefusedCommandEndsRedAndStillClosesTheConnection) {
  KvtSim::Options options;
  options.faults.push_back({0x46, KvtSim::FaultKind::Nak, 0});
  SimPort port(options);
  TComKVT link;
  ScriptedOperator op;
  bool second = false;
  uint8_t code = RunOperation(op, link, "Send Bump Pass", [&]() -> uint8_t {
    uint8_t c = link.SensorCalibration(0x46);
    if (c != LINK_OK) return c;
    second = true;
    return link.SensorCalibration(0x44);
  }, within(3.0f));
  EXPECT_EQ(code, LINK_NAK);
  EXPECT_FALSE(second);
  EXPECT_EQ(op.lastStatus().colour, StatusColour::Failure);
  EXPECT_EQ(op.lastStatus().text, "Send Bump Pass... FAIL");
  ASSERT_EQ(op.messages().size(), 1u);
  EXPECT_EQ(op.messages()[0].caption, "Send Bump Pass");
  EXPECT_EQ(op.messages()[0].text, "KVT comunication error - negative response");
  EXPECT_TRUE(sawCommand(port.sim(), 0xB3));
}

TEST(RunOperation, MappingAndClosingOfTheOperation) {
  KvtSim::Options options;
  options.faults.push_back({0x42, KvtSim::FaultKind::Error, 0});
  SimPort port(options);
  TComKVT link;
  ScriptedOperator op;
  uint8_t closedWith = 0;
  ROperationOptions o;
  o.connectSeconds = 3.0f;
  o.close = [&](TComKVT& l, uint8_t c) {
    closedWith = c;
    l.CloseUSB(c);
  };
  o.mapResult = [](uint8_t c) { return c == LINK_ERROR ? APP_ZEROCAL : c; };
  uint8_t code = RunOperation(op, link, "Calibration", [&] { return link.SensorCalibration(0x42); }, o);
  EXPECT_EQ(closedWith, LINK_ERROR);  // the link sees the detector's own answer
  EXPECT_EQ(code, APP_ZEROCAL);
  EXPECT_EQ(op.messages().at(0).text, "Zero calibration failed");
}

TEST(RunOperation, ASilentDetectorIsAConnectError) {
  KvtSim::Options options;
  options.ignoreConnects = 1000000;
  SimPort port(options);
  TComKVT link;
  ScriptedOperator op;
  bool ran = false;
  uint8_t code = RunOperation(op, link, "Power Down", [&] {
    ran = true;
    return LINK_OK;
  }, within(0.2f));
  EXPECT_EQ(code, LINK_NOCONNECT);
  EXPECT_FALSE(ran);
  EXPECT_EQ(op.lastStatus().text, "Power Down... KVT Connect ERROR");
  EXPECT_EQ(op.messages().at(0).text, "KVT connect error\rCheck BEAMDOCK and KVT connection");
  EXPECT_FALSE(sawCommand(port.sim(), 0xB3));  // nobody answered, nobody is told goodbye
  EXPECT_FALSE(link.Enabled());
}

TEST(RunOperation, NoAdapterEndsWithItsCode) {
  ScopedEnv noPort("BEAMDOCK_PORT", std::nullopt);
  TComKVT link;
  int found = 0;
  if (FindComPort(link.Ports(), 0, found) != LINK_NOADAPTER) GTEST_SKIP() << "this machine has an adapter";
  ScriptedOperator op;
  bool ran = false;
  uint8_t code = RunOperation(op, link, "Load Identify", [&] {
    ran = true;
    return LINK_OK;
  });
  EXPECT_EQ(code, LINK_NOADAPTER);
  EXPECT_FALSE(ran);
  EXPECT_EQ(op.lastStatus().text, "Load Identify... BEAMDOCK isnot found(A)");
  EXPECT_EQ(op.messages().at(0).text, "BEAMDOCK isnot found\rBEAMDOCK Re-Install driver(A)");
  // The cryptic text stays; what to do is behind its Details.
  EXPECT_NE(op.messages().at(0).details.find("FAIL  adapter on the USB bus"), std::string::npos)
      << op.messages().at(0).details;
}

TEST(RunOperation, APortThatCannotBeOpenedReachesTheHandlerWithItsText) {
  ScopedEnv missing("BEAMDOCK_PORT", "/dev/beamdock-missing-device");
  TComKVT link;
  ScriptedOperator op;  // the window shows the device checks behind the box's Details
  bool ran = false;
  try {
    RunOperation(op, link, "Read KVT Information", [&] {
      ran = true;
      return LINK_OK;
    });
    ADD_FAILURE() << "no error raised";
  } catch (const ECommError& e) {
    EXPECT_FALSE(link.Enabled());
    ReportPortOpenError(op, "Read KVT Information", e);
  }
  EXPECT_FALSE(ran);
  ASSERT_EQ(op.messages().size(), 1u);
  EXPECT_EQ(op.messages()[0].caption, "Read KVT Information");
  EXPECT_EQ(op.messages()[0].text.rfind("Error accessing specified device (Error: ", 0), 0u);
  EXPECT_NE(op.messages()[0].text.find("\r/dev/beamdock-missing-device: no such device"), std::string::npos);
  EXPECT_NE(op.messages()[0].details.find(
                "FAIL  access to the device node: /dev/beamdock-missing-device: no such device"),
            std::string::npos)
      << op.messages()[0].details;
  EXPECT_EQ(op.lastStatus().colour, StatusColour::Failure);
  EXPECT_EQ(op.lastStatus().text, "Read KVT Information... BEAMDOCK Connect ERROR");
}

TEST(Identify, SixLinesOfTheIdentity) {
  RKVTIdenty id{};
  id.mPID = 1;
  id.mHW = 2;
  id.mSW = 13;
  id.mSensor = 1;
  id.mLife = 63072000;
  std::memcpy(id.mSerial, "1234567890", 10);
  EXPECT_EQ(IdentifyText(id),
            "Product ID = 1\rHardware Version = 002\rFirmware Version = 1.3\rLife Remaining = 63072000 sec\r"
            "Sensor present = 0x01\rSerial Number = 1234567890");

  id.mPID = 255;
  id.mHW = 7;
  id.mSW = 123;
  id.mSensor = 0x0A;
  id.mLife = 0xFFFFFFFF;
  std::memcpy(id.mSerial, "ABCDEFGH\0Z", 10);
  EXPECT_EQ(IdentifyText(id),
            "Product ID = 255\rHardware Version = 007\rFirmware Version = 12.3\rLife Remaining = 4294967295 sec\r"
            "Sensor present = 0x0A\rSerial Number = ABCDEFGH");
}

TEST(Identify, TheButtonShowsTheDetectorsIdentity) {
  KvtSim::Options options;
  options.pid = 4;
  options.identitySensor = 0xC3;
  options.config.mUnit.mHWVersion = 12;
  options.config.mUnit.mFWVersion = 21;
  options.config.mUnit.mLifeRemaining = 2628000;
  std::memcpy(options.config.mUnit.mSerial, "KV-0042\0\0\0", 10);
  SimPort port(options);
  TComKVT link;
  ScriptedOperator op;
  EXPECT_EQ(RunIdentify(op, link), LINK_OK);
  ASSERT_EQ(op.statuses().size(), 2u);
  EXPECT_EQ(op.statuses()[0].text, "Load Identify...");
  EXPECT_EQ(op.statuses()[1].text, "Load Identify... OK");
  ASSERT_EQ(op.messages().size(), 1u);
  EXPECT_EQ(op.messages()[0].icon, MessageIcon::Information);
  EXPECT_EQ(op.messages()[0].caption, "KVT Identify");
  EXPECT_EQ(op.messages()[0].text,
            "Product ID = 4\rHardware Version = 012\rFirmware Version = 2.1\rLife Remaining = 2628000 sec\r"
            "Sensor present = 0xC3\rSerial Number = KV-0042");
  // No product check on this button: the identity is all it asks for.
  EXPECT_EQ(commandsSeen(port.sim()).front(), 0xB2);
  EXPECT_TRUE(sawCommand(port.sim(), 0xA0));
}

TEST(Identify, AFailedReadShowsOnlyTheErrorBox) {
  KvtSim::Options options;
  options.faults.push_back({0xA0, KvtSim::FaultKind::Silent, 0});
  SimPort port(options);
  TComKVT link;
  ScriptedOperator op;
  EXPECT_EQ(RunIdentify(op, link), LINK_NORESPONSE);
  ASSERT_EQ(op.messages().size(), 1u);
  EXPECT_EQ(op.messages()[0].icon, MessageIcon::Error);
  EXPECT_EQ(op.messages()[0].caption, "Load Identify");
  EXPECT_EQ(op.lastStatus().text, "Load Identify... FAIL");
}

}  // namespace
