#include "tests/sim/PtyPort.h"

#include "model/Checksum.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace {

// Log or EEPROM transfer: packets of `packet` bytes until `size` bytes are in.
Bytes readPackets(SimRig& r, size_t packet, size_t size) {
  Bytes out;
  while (out.size() < size) {
    const Bytes rep = r.x({0x81}, packet + 2);
    if (rep.size() != packet + 2 || !crcValid(rep)) return {};
    out.insert(out.end(), rep.begin(), rep.end() - 2);
  }
  return out;
}

uint32_t logSize(SimRig& r) {
  if (r.x({0x60}, 3) != kAck) return 0xFFFFFFFF;
  const Bytes rep = r.x({0xA1}, 6);
  if (rep.size() != 6 || !crcValid(rep)) return 0xFFFFFFFF;
  return rep[0] | (rep[1] << 8) | (rep[2] << 16) | (static_cast<uint32_t>(rep[3]) << 24);
}

RKVTSensor reading(SimRig& r, int mode) {
  RKVTSensor s{};
  const Bytes rep = r.x({static_cast<uint8_t>(0x20 + mode)}, 8);
  EXPECT_EQ(rep.size(), 8u);
  EXPECT_TRUE(crcValid(rep));
  if (rep.size() == 8) std::memcpy(&s, rep.data(), sizeof s);
  return s;
}

TEST(SimEventLog, EntriesThenEmptySpace) {
  KvtSim::Options o;
  o.events = {{5000, 75, 0x08, 125}, {7000, 0x8005, 0x00, 0x7FFF}};
  SimRig r(o);
  ASSERT_TRUE(r.connect());
  const uint32_t size = logSize(r);
  ASSERT_EQ(size, 27u);  // two entries and one of empty space
  const Bytes log = readPackets(r, 32, size);
  ASSERT_EQ(log.size(), 32u);
  RKVTEvent e[2];
  std::memcpy(e, log.data(), sizeof e);
  EXPECT_EQ(uint32_t{e[0].mStartEvent}, 5000u);
  EXPECT_EQ(uint16_t{e[0].mDurationEvent}, 75);
  EXPECT_EQ(e[0].mAlarmStatusFlag, 0x08);
  EXPECT_EQ(int16_t{e[0].mSensorReading}, 125);
  EXPECT_EQ(uint16_t{e[1].mDurationEvent}, 0x8005);
  EXPECT_EQ(int16_t{e[1].mSensorReading}, 0x7FFF);
  EXPECT_EQ(Bytes(log.begin() + 18, log.begin() + 22), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));

  // Log reset leaves only empty space.
  EXPECT_EQ(r.x({0x13}, 3), kAck);
  EXPECT_EQ(logSize(r), 9u);
  EXPECT_TRUE(r.sim->events().empty());
}

TEST(SimEventLog, ManyEntriesInLogPackets) {
  KvtSim::Options o;
  std::string err;
  ASSERT_TRUE(KvtSim::parseArgs({"--events", "100", "--log-packet", "16"}, o, err)) << err;
  SimRig r(o);
  ASSERT_TRUE(r.connect());
  const uint32_t size = logSize(r);
  ASSERT_EQ(size, 909u);
  const Bytes log = readPackets(r, 16, size);
  ASSERT_EQ(log.size(), 912u);
  for (int i = 0; i < 100; ++i) EXPECT_NE(log[9 * i + 3], 0xFF) << i;
  EXPECT_EQ(Bytes(log.begin() + 900, log.begin() + 904), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(SimEventLog, ReportedSizeCanBeForced) {
  KvtSim::Options o;
  o.logSizeOverride = 5000;
  SimRig r(o);
  ASSERT_TRUE(r.connect());
  EXPECT_EQ(logSize(r), 5000u);
}

TEST(SimEeprom, SerialTimeStepAndLoggedValuesAtTheirAddresses) {
  KvtSim::Options o;
  std::memcpy(o.config.mUnit.mSerial, "1234567890", 10);
  o.eepromTimeStep = 90;
  SimRig r(o);
  ASSERT_TRUE(r.connect());
  ASSERT_EQ(r.x({0x70}, 3), kAck);
  EXPECT_EQ(withCrc({0x20, 0x00, 0x00, 0x00}), (Bytes{0x20, 0x00, 0x00, 0x00, 0xC0, 0x0B}));
  ASSERT_EQ(r.port->exchange({0x20, 0x00, 0x00, 0x00}, 3), kAck);
  const Bytes e = readPackets(r, 32, 1024);
  ASSERT_EQ(e.size(), 1024u);
  EXPECT_EQ(std::string(e.begin() + 16, e.begin() + 26), "1234567890");
  EXPECT_EQ(e[30] | (e[31] << 8), 90);
  const Bytes image = r.sim->eepromImage();
  EXPECT_EQ(Bytes(e.begin() + 128, e.begin() + 994), Bytes(image.begin() + 128, image.begin() + 994));
  // The logged values are not empty space and include negative ones.
  bool negative = false;
  for (int a = 128; a < 994; a += 2) negative = negative || (e[a + 1] & 0x80);
  EXPECT_TRUE(negative);
}

TEST(SimEeprom, ReadStartsAtTheHeaderAddressAndEndsInFF) {
  KvtSim::Options o;
  o.eeprom.resize(1024);
  for (size_t i = 0; i < o.eeprom.size(); ++i) o.eeprom[i] = static_cast<uint8_t>(i * 7);
  SimRig r(o);
  ASSERT_TRUE(r.connect());
  ASSERT_EQ(r.x({0x70}, 3), kAck);
  ASSERT_EQ(r.port->exchange({0x10, 0x00, 0x03, 0xF8}, 3), kAck);  // 16-byte packets from 0x3F8
  const Bytes e = readPackets(r, 16, 32);
  ASSERT_EQ(e.size(), 32u);
  EXPECT_EQ(e[0], static_cast<uint8_t>(0x3F8 * 7));
  EXPECT_EQ(e[7], static_cast<uint8_t>(0x3FF * 7));
  EXPECT_EQ(Bytes(e.begin() + 8, e.end()), Bytes(24, 0xFF));  // beyond the 1024 bytes
}

// Upgrade images: a few small packets keep the tests fast.
Bytes makeImage(size_t size, uint8_t version, bool goodCrc) {
  Bytes img(size);
  for (size_t i = 0; i < size; ++i) img[i] = static_cast<uint8_t>(i * 13 + 1);
  img[2] = 0;        // product type
  img[3] = version;  // firmware version
  uint16_t crc = 0;
  for (size_t i = 2; i < size; ++i) crc = UpdateCRC16(crc, img[i]);
  if (!goodCrc) crc ^= 0x0100;
  img[0] = static_cast<uint8_t>(crc);
  img[1] = static_cast<uint8_t>(crc >> 8);
  return img;
}

bool sendPacket(SimRig& r, uint8_t announce, const Bytes& img, size_t p, size_t size) {
  if (r.x({announce}, 3) != kAck) return false;
  return r.port->exchange(Bytes(img.begin() + p * size, img.begin() + (p + 1) * size), 3, 500) == kAck;
}

KvtSim::Options smallUpgrade() {
  KvtSim::Options o;
  o.fwPacketSize = 16;
  o.fwPacketCount = 8;
  return o;
}

TEST(SimUpgrade, GoodImageRunsAndReportsItsVersion) {
  SimRig r(smallUpgrade());
  ASSERT_TRUE(r.connect());
  const Bytes img = makeImage(128, 42, true);
  ASSERT_EQ(r.x({0x10}, 3), kAck);
  for (size_t p = 0; p < 8; ++p) ASSERT_TRUE(sendPacket(r, 0x91, img, p, 16)) << p;
  EXPECT_EQ(r.x({0x11}, 3, 500), kAck);
  EXPECT_EQ(r.sim->firmwareImage(), img);
  EXPECT_EQ(r.sim->firmwareRuns(), 1);
  EXPECT_EQ(r.x({0xA0}, 20).at(2), 42);
  const RKVTCFG cfg = r.sim->config();
  EXPECT_TRUE(BlockCRCValid(reinterpret_cast<const uint8_t*>(&cfg.mUnit)));
}

TEST(SimUpgrade, WrongImageCRCIsRefusedAtExecute) {
  SimRig r(smallUpgrade());
  ASSERT_TRUE(r.connect());
  const Bytes img = makeImage(128, 42, false);
  ASSERT_EQ(r.x({0x10}, 3), kAck);
  for (size_t p = 0; p < 8; ++p) ASSERT_TRUE(sendPacket(r, 0x91, img, p, 16)) << p;
  EXPECT_EQ(r.x({0x11}, 3, 500), kNak);
  EXPECT_EQ(r.sim->firmwareRuns(), 0);
  EXPECT_EQ(r.x({0xA0}, 20).at(2), KvtSim::Options().config.mUnit.mFWVersion);  // still the old program
}

TEST(SimUpgrade, MissingPacketsAndExecuteWithoutStartAreRefused) {
  SimRig r(smallUpgrade());
  ASSERT_TRUE(r.connect());
  EXPECT_EQ(r.x({0x11}, 3, 500), kNak);
  EXPECT_EQ(r.x({0x91}, 3), kNak);  // no upgrade started, no window
  const Bytes img = makeImage(128, 42, true);
  ASSERT_EQ(r.x({0x10}, 3), kAck);
  for (size_t p = 0; p < 7; ++p) ASSERT_TRUE(sendPacket(r, 0x91, img, p, 16));
  EXPECT_EQ(r.x({0x11}, 3, 500), kNak);
}

TEST(SimUpgrade, RepeatReplacesTheSameSlice) {
  KvtSim::Options o = smallUpgrade();
  o.faults.push_back({KvtSim::kTargetPacket, KvtSim::FaultKind::Nak, 1});
  SimRig r(o);
  ASSERT_TRUE(r.connect());
  const Bytes img = makeImage(128, 42, true);
  ASSERT_EQ(r.x({0x10}, 3), kAck);
  EXPECT_FALSE(sendPacket(r, 0x91, img, 0, 16));  // refused once
  EXPECT_TRUE(sendPacket(r, 0x93, img, 0, 16));
  EXPECT_TRUE(sendPacket(r, 0x93, img, 0, 16));   // a repeat after success stays in slice 0
  for (size_t p = 1; p < 8; ++p) ASSERT_TRUE(sendPacket(r, 0x91, img, p, 16)) << p;
  EXPECT_EQ(r.x({0x11}, 3, 500), kAck);
  EXPECT_EQ(r.sim->firmwareImage(), img);
}

TEST(SimReadings, DecimalsOverRangeAndTheOtherModes) {
  KvtSim::Options o;
  o.timetable = true;
  o.gasCenter = 1234;
  o.gasAmplitude = 0;
  o.gasDecimals = 2;
  o.config.mSensor.mAlarmLow = 100;
  o.config.mSensor.mAlarmHigh = 150;
  SimRig r(o);
  ASSERT_TRUE(r.connect());
  RKVTSensor g = reading(r, 0);
  EXPECT_EQ(uint16_t{g.mSensor}, 1234);
  EXPECT_EQ(g.mHistory & 3, 2);
  EXPECT_EQ(g.mHistory & 0x80, 0);
  EXPECT_EQ(g.mAlarm & 0x0C, 0x04);  // 12.34 is above the low alarm 10.0, below the high 15.0

  r.sim->modifyOptions([](KvtSim::Options& opt) { opt.overRange = true; });
  g = reading(r, 0);
  EXPECT_EQ(uint16_t{g.mSensor}, 0x7FFF);

  const RKVTSensor t = reading(r, 1), b = reading(r, 2);
  EXPECT_EQ(uint16_t{t.mSensor}, 245);
  EXPECT_EQ(t.mHistory & 3, 1);
  EXPECT_EQ(uint16_t{t.mPeak}, 1750);
  EXPECT_EQ(uint16_t{b.mSensor}, 395);
  EXPECT_EQ(b.mHistory & 3, 2);
}

TEST(SimReadings, ValueMovesAndPeakHoldsUntilCleared) {
  KvtSim::Options o;
  o.timetable = true;
  o.gasCenter = 0;
  o.gasAmplitude = 100;
  o.gasPeriodMs = 200;
  SimRig r(o);
  ASSERT_TRUE(r.connect());
  int lo = 1 << 20, hi = -(1 << 20), peak = 0;
  for (int i = 0; i < 25; ++i) {
    const RKVTSensor g = reading(r, 0);
    const int v = static_cast<int16_t>(uint16_t{g.mSensor});
    lo = std::min(lo, v);
    hi = std::max(hi, v);
    peak = static_cast<int16_t>(uint16_t{g.mPeak});
    EXPECT_GE(peak, v);
    std::this_thread::sleep_for(std::chrono::milliseconds(9));
  }
  EXPECT_LT(lo, 0);  // negative values travel as two's complement
  EXPECT_GT(hi, 0);
  EXPECT_EQ(peak, hi);
  ASSERT_EQ(r.x({0x50}, 3), kAck);
  ASSERT_EQ(r.x({0x44}, 3, 500), kAck);  // clear peak
  const RKVTSensor g = reading(r, 0);
  EXPECT_EQ(uint16_t{g.mPeak}, uint16_t{g.mSensor});
}

TEST(SimCalibration, ProgressBitThenResult) {
  KvtSim::Options o;
  o.calTimeMs = 150;
  o.sensor.t90Ms = 0;
  SimRig r(o);
  ASSERT_TRUE(r.connect());
  ASSERT_EQ(r.x({0x50}, 3), kAck);
  ASSERT_EQ(r.x({0x42}, 3, 500), kAck);
  r.sim->applyGas(o.config.mSensor.mSpanGas / 10.0);  // the span gas, after the zero
  EXPECT_TRUE(reading(r, 0).mHistory & 0x80);
  EXPECT_TRUE(r.sim->calibrating());
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  RKVTSensor g = reading(r, 0);
  EXPECT_EQ(g.mHistory & 0x88, 0);  // done, not failed

  r.sim->modifyOptions([](KvtSim::Options& opt) { opt.calFail = true; });
  ASSERT_EQ(r.x({0x50}, 3), kAck);
  ASSERT_EQ(r.x({0x41}, 3, 500), kAck);
  EXPECT_EQ(reading(r, 0).mHistory & 0x88, 0x80);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(reading(r, 0).mHistory & 0x88, 0x08);  // done, failed
}

TEST(SimCalibration, AbortAndActionsNeedTheSensorSelected) {
  KvtSim::Options o;
  o.calTimeMs = 10000;
  SimRig r(o);
  ASSERT_TRUE(r.connect());
  EXPECT_EQ(r.x({0x42}, 3, 500), kNak);  // no 0x50 before it
  ASSERT_EQ(r.x({0x50}, 3), kAck);
  ASSERT_EQ(r.x({0x42}, 3, 500), kAck);
  EXPECT_TRUE(reading(r, 0).mHistory & 0x80);
  ASSERT_EQ(r.x({0x50}, 3), kAck);
  ASSERT_EQ(r.x({0x43}, 3, 500), kAck);
  EXPECT_EQ(reading(r, 0).mHistory & 0x80, 0);
  // Bump results show in bit 4.
  ASSERT_EQ(r.x({0x50}, 3), kAck);
  ASSERT_EQ(r.x({0x45}, 3, 500), kAck);
  EXPECT_TRUE(reading(r, 0).mHistory & 0x10);
  ASSERT_EQ(r.x({0x50}, 3), kAck);
  ASSERT_EQ(r.x({0x46}, 3, 500), kAck);
  EXPECT_FALSE(reading(r, 0).mHistory & 0x10);
}

TEST(SimPower, HibernateOnlyWhenAllowedAndSilentUntilWoken) {
  {
    SimRig r;  // default mAllowSuspend 0xFF
    ASSERT_TRUE(r.connect());
    EXPECT_EQ(r.x({0x17}, 3), withCrc({0xBF}));
    EXPECT_EQ(r.sim->state(), KvtSim::State::Connected);
    EXPECT_FALSE(r.sim->events().empty());
  }
  KvtSim::Options o;
  o.config.mUnit.mAllowSuspend = 0x80;
  SimRig r(o);
  ASSERT_TRUE(r.connect());
  EXPECT_EQ(r.x({0x17}, 3), kAck);
  EXPECT_EQ(r.sim->state(), KvtSim::State::Hibernating);
  EXPECT_TRUE(r.sim->events().empty());  // hibernation clears the log
  bool ok = true;
  r.port->connect(100, &ok);
  EXPECT_FALSE(ok);
  r.sim->wake();
  EXPECT_TRUE(r.connect());
}

TEST(SimPower, PowerDownWakesByItselfWhenAsked) {
  KvtSim::Options o;
  o.wakeAfterMs = 150;
  SimRig r(o);
  ASSERT_TRUE(r.connect());
  EXPECT_EQ(r.x({0x14}, 3, 500), kAck);
  EXPECT_EQ(r.sim->state(), KvtSim::State::Off);
  r.port->send({0xA0});
  EXPECT_TRUE(r.port->quiet(50));
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_TRUE(r.connect());
}

TEST(SimOutputs, BeeperLedsAndVibrator) {
  SimRig r;
  ASSERT_TRUE(r.connect());
  for (uint8_t c : {0x30, 0x31, 0x32, 0x34}) {
    EXPECT_EQ(r.x({c}, 3), kAck);
    EXPECT_EQ(r.sim->lastOutput(), c);
  }
  EXPECT_EQ(r.x({0x33}, 3), kNak);  // not an output
}

}  // namespace
