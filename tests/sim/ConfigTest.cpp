#include "tests/sim/PtyPort.h"

#include "model/CfgFile.h"
#include "model/Checksum.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>

namespace {

// Reads one block the way the tool does: select, then packets of the given size.
Bytes readBlock(SimRig& r, uint8_t select, size_t packet, size_t size = 64) {
  if (r.x({select}, 3) != kAck) return {};
  Bytes block;
  for (size_t got = 0; got < size; got += packet) {
    const Bytes rep = r.x({0x81}, packet + 2);
    if (rep.size() != packet + 2 || !crcValid(rep)) return {};
    block.insert(block.end(), rep.begin(), rep.end() - 2);
  }
  return block;
}

Bytes bytesOf(const void* p, size_t n) {
  const auto* b = static_cast<const uint8_t*>(p);
  return {b, b + n};
}

TEST(SimBlocks, DefaultBlocksCarryValidOwnCRCs) {
  SimRig r;
  ASSERT_TRUE(r.connect());
  const Bytes unit = readBlock(r, 0x5F, 32);
  const Bytes sensor = readBlock(r, 0x50, 32);
  ASSERT_EQ(unit.size(), 64u);
  ASSERT_EQ(sensor.size(), 64u);
  EXPECT_TRUE(BlockCRCValid(unit.data()));
  EXPECT_TRUE(BlockCRCValid(sensor.data()));
  // The simulated unit's own configuration, with the CRCs the tool computes over it.
  const RKVTCFG def = KvtSim::Options().config;
  EXPECT_EQ(unit, bytesOf(&def.mUnit, 64));
  EXPECT_EQ(sensor, bytesOf(&def.mSensor, 64));
}

TEST(SimBlocks, PacketSizeIsTheSimulatorsSetting) {
  KvtSim::Options o;
  o.blockPacketSize = 64;
  SimRig r(o);
  ASSERT_TRUE(r.connect());
  const Bytes one = readBlock(r, 0x5F, 64);
  ASSERT_EQ(one.size(), 64u);
  EXPECT_TRUE(BlockCRCValid(one.data()));
  // Packets past the block are filled with FF.
  const Bytes extra = r.x({0x81}, 66);
  ASSERT_EQ(extra.size(), 66u);
  EXPECT_EQ(Bytes(extra.begin(), extra.end() - 2), Bytes(64, 0xFF));
}

TEST(SimBlocks, PacketWithoutSelectIsRefused) {
  SimRig r;
  ASSERT_TRUE(r.connect());
  EXPECT_EQ(r.x({0x81}, 34, 100), kNak);
}

TEST(SimBlocks, CorruptedOwnCRCForTheFirstReadsOnly) {
  KvtSim::Options o;
  o.corruptUnitCrc = 2;
  o.corruptSensorCrc = -1;
  SimRig r(o);
  ASSERT_TRUE(r.connect());
  EXPECT_FALSE(BlockCRCValid(readBlock(r, 0x5F, 32).data()));
  EXPECT_FALSE(BlockCRCValid(readBlock(r, 0x5F, 32).data()));
  EXPECT_TRUE(BlockCRCValid(readBlock(r, 0x5F, 32).data()));
  for (int i = 0; i < 4; ++i) EXPECT_FALSE(BlockCRCValid(readBlock(r, 0x50, 32).data()));
  // The stored configuration itself stays valid.
  const RKVTCFG cfg = r.sim->config();
  EXPECT_TRUE(BlockCRCValid(reinterpret_cast<const uint8_t*>(&cfg.mSensor)));
}

TEST(SimWindowWrite, ChangesTheBlockAndItsCRC) {
  SimRig r;
  ASSERT_TRUE(r.connect());
  // Sensor user range: 10 bytes at image position 64.
  RKVTCFG cfg = r.sim->config();
  cfg.mSensor.mAlarmHigh = 222;
  cfg.mSensor.mAlarmLow = 111;
  cfg.mSensor.mBumpInterval = 30;
  const auto* img = reinterpret_cast<const uint8_t*>(&cfg);
  EXPECT_EQ(r.x({0x70}, 3), kAck);
  EXPECT_EQ(r.port->exchange({0x0A, 0x00, 0x00, 0x40}, 3), kAck);
  EXPECT_EQ(withCrc({0x0A, 0x00, 0x00, 0x40}), (Bytes{0x0A, 0x00, 0x00, 0x40, 0x28, 0x02}));
  EXPECT_EQ(r.x({0x91}, 3), kAck);
  EXPECT_EQ(r.port->exchange(Bytes(img + 64, img + 74), 3), kAck);

  const RKVTCFG now = r.sim->config();
  EXPECT_EQ(uint16_t{now.mSensor.mAlarmHigh}, 222);
  EXPECT_EQ(uint16_t{now.mSensor.mAlarmLow}, 111);
  EXPECT_EQ(uint16_t{now.mSensor.mBumpInterval}, 30);
  const Bytes sensor = readBlock(r, 0x50, 32);
  ASSERT_EQ(sensor.size(), 64u);
  EXPECT_TRUE(BlockCRCValid(sensor.data()));
  EXPECT_EQ(sensor[0] | (sensor[1] << 8), 222);
  // The unit block was not touched.
  const RKVTCFG def = KvtSim::Options().config;
  EXPECT_EQ(bytesOf(&now.mUnit, 62), bytesOf(&def.mUnit, 62));
}

TEST(SimWindowWrite, WindowAcrossBothBlocksRecomputesBoth) {
  SimRig r;
  ASSERT_TRUE(r.connect());
  Bytes data(8, 0x33);  // bytes 60..67: the end of the unit block and the start of the sensor block
  ASSERT_EQ(r.x({0x70}, 3), kAck);
  ASSERT_EQ(r.port->exchange({0x08, 0x00, 0x00, 60}, 3), kAck);
  ASSERT_EQ(r.x({0x91}, 3), kAck);
  ASSERT_EQ(r.port->exchange(data, 3), kAck);
  const RKVTCFG now = r.sim->config();
  const auto* img = reinterpret_cast<const uint8_t*>(&now);
  EXPECT_EQ(img[60], 0x33);
  EXPECT_EQ(img[67], 0x33);
  EXPECT_TRUE(BlockCRCValid(img));
  EXPECT_TRUE(BlockCRCValid(img + 64));
}

TEST(SimWindowWrite, RefusesWindowsOutsideTheImageAndBadHeaders) {
  SimRig r;
  ASSERT_TRUE(r.connect());
  const RKVTCFG before = r.sim->config();
  ASSERT_EQ(r.x({0x70}, 3), kAck);
  ASSERT_EQ(r.port->exchange({0x10, 0x00, 0x00, 120}, 3), kAck);  // 120 + 16 > 128
  EXPECT_EQ(r.x({0x91}, 3), kNak);
  ASSERT_EQ(r.x({0x70}, 3), kAck);
  EXPECT_EQ(r.port->exchange({0x00, 0x00, 0x00, 0x00}, 3), kNak);  // size 0
  // Data announced without a window is refused too.
  EXPECT_EQ(r.x({0x91}, 3), kNak);
  const RKVTCFG after = r.sim->config();
  EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
}

TEST(SimWindowWrite, DamagedDataFrameIsRefusedAndNothingStored) {
  SimRig r;
  ASSERT_TRUE(r.connect());
  const RKVTCFG before = r.sim->config();
  ASSERT_EQ(r.x({0x70}, 3), kAck);
  ASSERT_EQ(r.port->exchange({0x02, 0x00, 0x00, 0x00}, 3), kAck);
  ASSERT_EQ(r.x({0x91}, 3), kAck);
  r.port->flushInput();
  r.port->writeRaw({0x05, 0x06, 0x00, 0x00});  // wrong CRC
  EXPECT_EQ(r.port->read(3), kNak);
  const RKVTCFG after = r.sim->config();
  EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
  // Back in step: the next command is understood.
  EXPECT_EQ(r.x({0x5F}, 3), kAck);
}

TEST(SimLifeWrite, StoresTheValueLowByteFirst) {
  SimRig r;
  ASSERT_TRUE(r.connect());
  ASSERT_EQ(r.x({0x71}, 3), kAck);
  EXPECT_EQ(withCrc({0x45, 0x23, 0x01, 0x00}), (Bytes{0x45, 0x23, 0x01, 0x00, 0x56, 0xE5}));
  EXPECT_EQ(r.port->exchange({0x45, 0x23, 0x01, 0x00}, 3), kAck);
  const RKVTCFG cfg = r.sim->config();
  EXPECT_EQ(uint32_t{cfg.mUnit.mLifeRemaining}, 0x012345u);
  EXPECT_TRUE(BlockCRCValid(reinterpret_cast<const uint8_t*>(&cfg.mUnit)));
  EXPECT_EQ(r.x({0xA0}, 20).at(4), 0x45);
  // More than 24 months is refused.
  ASSERT_EQ(r.x({0x71}, 3), kAck);
  EXPECT_EQ(r.port->exchange({0x01, 0x67, 0xC2, 0x03}, 3), kNak);  // 63072001
}

TEST(SimFactoryReset, RestoresTheStartingConfiguration) {
  KvtSim::Options o;
  o.config.mSensor.mAlarmHigh = 170;
  KvtSim::fillCRCs(o.config);
  SimRig r(o);
  ASSERT_TRUE(r.connect());
  ASSERT_EQ(r.x({0x70}, 3), kAck);
  ASSERT_EQ(r.port->exchange({0x02, 0x00, 0x00, 64}, 3), kAck);
  ASSERT_EQ(r.x({0x91}, 3), kAck);
  ASSERT_EQ(r.port->exchange({0x01, 0x00}, 3), kAck);
  EXPECT_EQ(uint16_t{r.sim->config().mSensor.mAlarmHigh}, 1);
  EXPECT_EQ(r.x({0x12}, 3), kAck);
  EXPECT_EQ(uint16_t{r.sim->config().mSensor.mAlarmHigh}, 170);
}

TEST(SimConfigFile, LoadsImagesAndCfgFiles) {
  RKVTCFG cfg;
  SetDefaultCFG(cfg);
  cfg.mSensor.mAlarmHigh = 123;
  std::memcpy(cfg.mUnit.mSerial, "ZZ00000001", 10);
  const std::string bin = ::testing::TempDir() + "sim_cfg.bin";
  const std::string v7 = ::testing::TempDir() + "sim_cfg.cfg";
  {
    std::ofstream f(bin, std::ios::binary);
    f.write(reinterpret_cast<const char*>(&cfg), sizeof cfg);
  }
  {
    std::ofstream f(v7, std::ios::binary);
    f << BuildCFGFileV7(cfg, 45000.5, false);
  }
  for (const std::string& path : {bin, v7}) {
    KvtSim::Options o;
    std::string err;
    ASSERT_TRUE(KvtSim::parseArgs({"--config", path}, o, err)) << err;
    EXPECT_EQ(uint16_t{o.config.mSensor.mAlarmHigh}, 123) << path;
    EXPECT_EQ(std::string(o.config.mUnit.mSerial, 10), "ZZ00000001") << path;
    EXPECT_TRUE(BlockCRCValid(reinterpret_cast<const uint8_t*>(&o.config.mUnit)));
    EXPECT_TRUE(BlockCRCValid(reinterpret_cast<const uint8_t*>(&o.config.mSensor)));
  }
  const std::string junk = ::testing::TempDir() + "sim_cfg.junk";
  {
    std::ofstream f(junk, std::ios::binary);
    f << "not a configuration";
  }
  KvtSim::Options o;
  std::string err;
  EXPECT_FALSE(KvtSim::parseArgs({"--config", junk}, o, err));
  EXPECT_FALSE(err.empty());
  std::remove(bin.c_str());
  std::remove(v7.c_str());
  std::remove(junk.c_str());
}

}  // namespace

namespace {

TEST(SimOptionsInCode, SizesOutOfRangeAreBroughtIntoRange) {
  KvtSim::Options o;
  o.blockPacketSize = 0;
  o.fwPacketCount = -5;
  o.fwPacketSize = 100000;
  SimRig r(o);
  ASSERT_TRUE(r.connect());
  ASSERT_EQ(r.x({0x5F}, 3), kAck);
  const Bytes one = r.x({0x81}, 3);
  EXPECT_EQ(one.size(), 3u);  // one data byte a packet
  EXPECT_TRUE(crcValid(one));
  EXPECT_EQ(r.x({0x10}, 3), kAck);
  EXPECT_EQ(r.sim->firmwareImage().size(), 1020u);  // one packet of the largest size
}

}  // namespace
