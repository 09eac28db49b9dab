#include "model/Checksum.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

uint16_t crcOf(const std::vector<uint8_t>& bytes) { return GetCRC16(bytes.data(), static_cast<int>(bytes.size())); }

// The frame CRC travels high byte first after the bytes it covers.
std::vector<uint8_t> frame(std::vector<uint8_t> bytes) {
  const uint16_t crc = crcOf(bytes);
  bytes.push_back(static_cast<uint8_t>(crc >> 8));
  bytes.push_back(static_cast<uint8_t>(crc & 0xFF));
  return bytes;
}

TEST(Crc16, CheckValuesAndByteWiseUpdate) {
  const std::string digits = "123456789";
  EXPECT_EQ(GetCRC16(reinterpret_cast<const uint8_t*>(digits.data()), 9), 0xBB3D);
  EXPECT_EQ(GetCRC16(reinterpret_cast<const uint8_t*>("abc"), 3), 0x9738);
  uint16_t crc = 0;
  for (char c : digits) crc = UpdateCRC16(crc, static_cast<uint8_t>(c));
  EXPECT_EQ(crc, 0xBB3D);
  EXPECT_EQ(GetCRC16(reinterpret_cast<const uint8_t*>("abc"), 0), 0);
  EXPECT_EQ(GetCRC16(reinterpret_cast<const uint8_t*>("abc"), -4), 0);
  const std::vector<uint8_t> zeros(62, 0);
  EXPECT_EQ(crcOf(zeros), 0);
}

// The checksum never reads past the 1024 bytes of a frame buffer, whatever count it is given.
TEST(Crc16, CountBeyondTheBufferStopsAtItsEnd) {
  std::vector<uint8_t> buf(kReadBufSize);
  for (size_t i = 0; i < buf.size(); ++i) buf[i] = static_cast<uint8_t>(i * 31 + 7);
  const uint16_t whole = GetCRC16(buf.data(), kReadBufSize);
  EXPECT_EQ(GetCRC16(buf.data(), kReadBufSize + 1), whole);
  EXPECT_EQ(GetCRC16(buf.data(), 100000), whole);
  EXPECT_NE(GetCRC16(buf.data(), kReadBufSize - 1), whole);
}

TEST(Crc16, WorkedFrames) {
  EXPECT_EQ(frame({0x5F}), (std::vector<uint8_t>{0x5F, 0x38, 0x40}));
  EXPECT_EQ(frame({0xB5}), (std::vector<uint8_t>{0xB5, 0xB7, 0xC1}));
  EXPECT_EQ(frame({0xB6}), (std::vector<uint8_t>{0xB6, 0xB6, 0x81}));
  EXPECT_EQ(frame({0xB2}), (std::vector<uint8_t>{0xB2, 0x75, 0x80}));
  EXPECT_EQ(frame({0xB3}), (std::vector<uint8_t>{0xB3, 0xB5, 0x41}));
  EXPECT_EQ(frame({0x81}), (std::vector<uint8_t>{0x81, 0x60, 0xC0}));
  EXPECT_EQ(frame({0xA0}), (std::vector<uint8_t>{0xA0, 0x78, 0x00}));
  EXPECT_EQ(frame({0x0A, 0x00, 0x00, 0x40}), (std::vector<uint8_t>{0x0A, 0x00, 0x00, 0x40, 0x28, 0x02}));
  EXPECT_EQ(frame({0x45, 0x23, 0x01, 0x00}), (std::vector<uint8_t>{0x45, 0x23, 0x01, 0x00, 0x56, 0xE5}));
  EXPECT_EQ(frame({0x20, 0x00, 0x00, 0x00}), (std::vector<uint8_t>{0x20, 0x00, 0x00, 0x00, 0xC0, 0x0B}));
  EXPECT_EQ(frame({0x5A, 0x00, 0x00, 0x00}), (std::vector<uint8_t>{0x5A, 0x00, 0x00, 0x00, 0xD8, 0x12}));
}

TEST(DefaultConfiguration, ExactImage) {
  const uint8_t expected[128] = {
      0x01, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x14, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF,
      0x53, 0x48, 0x31, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x89, 0x02, 0x89, 0x02, 0xC4, 0x02,
      0x58, 0x02, 0x00, 0x00, 0x00, 0x67, 0xC2, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x96, 0x00, 0x64, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x0F, 0x00, 0xFA, 0x00, 0xE8, 0x03, 0x00, 0x00, 0x38, 0x7E,
      0xFC, 0xFF, 0xD6, 0xFD, 0xFF, 0xFF, 0xC9, 0x81, 0xFD, 0xFF, 0xCC, 0x00, 0xB9, 0x15, 0x05, 0x00,
      0x00, 0x67, 0xC2, 0x03, 0x00, 0x00, 0x00, 0x00, 0x70, 0x0D, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  RKVTCFG cfg;
  std::memset(&cfg, 0xAA, sizeof cfg);  // every byte must be set, not left over
  SetDefaultCFG(cfg);
  const auto* bytes = reinterpret_cast<const uint8_t*>(&cfg);
  for (int i = 0; i < 128; ++i) EXPECT_EQ(bytes[i], expected[i]) << "offset " << i;
  EXPECT_EQ(int32_t{cfg.mSensor.mTempCompSpan[0]}, -229832);
  EXPECT_EQ(int32_t{cfg.mSensor.mTempCompSpan[1]}, -554);
  EXPECT_EQ(int32_t{cfg.mSensor.mTempCompSpan[2]}, -163383);
}

TEST(BlockCheck, DefaultBlocksFailZeroBlockPassesAndCopyKeepsBytes) {
  RKVTCFG cfg;
  SetDefaultCFG(cfg);
  const auto* bytes = reinterpret_cast<const uint8_t*>(&cfg);
  EXPECT_EQ(GetCRC16(bytes, 62), 0x8585);
  EXPECT_EQ(GetCRC16(bytes + 64, 62), 0x1750);
  EXPECT_FALSE(BlockCRCValid(bytes));
  EXPECT_FALSE(BlockCRCValid(bytes + 64));

  uint8_t zero[64] = {};
  EXPECT_TRUE(BlockCRCValid(zero));

  cfg.mUnit.mCRC = 0x8585;
  EXPECT_TRUE(BlockCRCValid(bytes));
  cfg.mUnit.mCRC = 0x8586;
  EXPECT_FALSE(BlockCRCValid(bytes));

  RComKVTReadBuf buf{};
  CFGToSendBuf(cfg, buf);
  EXPECT_EQ(buf.mData, 128);
  RKVTUnitCFG unit{};
  ReplyToUnitCFG(buf, unit);
  EXPECT_EQ(std::memcmp(&unit, &cfg.mUnit, 64), 0);
  RComKVTReadBuf sensorBuf{};
  std::memcpy(sensorBuf.mBuf, buf.mBuf + 64, 64);
  RKVTSensorCFG sensor{};
  ReplyToSensorCFG(sensorBuf, sensor);
  EXPECT_EQ(std::memcmp(&sensor, &cfg.mSensor, 64), 0);
}

}  // namespace
