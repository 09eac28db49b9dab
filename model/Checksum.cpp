#include "model/Checksum.h"

#include <array>
#include <cstddef>
#include <cstring>

namespace {

constexpr std::array<uint16_t, 256> makeTable() {
  std::array<uint16_t, 256> table{};
  for (int i = 0; i < 256; ++i) {
    uint16_t v = static_cast<uint16_t>(i);
    for (int bit = 0; bit < 8; ++bit) v = (v & 1) ? static_cast<uint16_t>((v >> 1) ^ 0xA001) : static_cast<uint16_t>(v >> 1);
    table[i] = v;
  }
  return table;
}

constexpr auto kTable = makeTable();
static_assert(kTable[1] == 0xC0C1 && kTable[2] == 0xC181 && kTable[255] == 0x4040);

}  // namespace

uint16_t UpdateCRC16(uint16_t crc, uint8_t byte) {
  return static_cast<uint16_t>(kTable[(crc ^ byte) & 0xFF] ^ (crc >> 8));
}

uint16_t GetCRC16(const uint8_t* buffer, int count) {
  if (count > kReadBufSize) count = kReadBufSize;
  uint16_t crc = 0;
  for (int i = 0; i < count; ++i) crc = UpdateCRC16(crc, buffer[i]);
  return crc;
}

void SetDefaultCFG(RKVTCFG& cfg) {
  std::memset(&cfg, 0, sizeof cfg);
  RKVTUnitCFG& u = cfg.mUnit;
  u.mUnitFlag = 0x01;
  std::memset(u.mUserID, ' ', sizeof u.mUserID);
  u.mTestInterval = 20;
  u.mAllowSuspend = 0xFF;
  std::memcpy(u.mSerial, "SH10000000", sizeof u.mSerial);
  u.mBatLimit[0] = 649;
  u.mBatLimit[1] = 649;
  u.mBatLimitStartUp = 708;
  u.mBatLimitCritical = 600;
  u.mLifeRemaining = 63072000;

  RKVTSensorCFG& s = cfg.mSensor;
  s.mAlarmHigh = 150;
  s.mAlarmLow = 100;
  s.mSensorType = 1;
  s.mDeadZone = 15;
  s.mSpanGas = 250;
  s.mSensorMax = 1000;
  s.mTempCompSpan[0] = -229832;
  s.mTempCompSpan[1] = -554;
  s.mTempCompSpan[2] = -163383;
  s.mZero = 204;
  s.mSpan = 5561;
  s.mTau = 5;
  s.mLastCal = 63072000;
  s.mMinSpan = 3440;
}

void ReplyToUnitCFG(const RComKVTReadBuf& buf, RKVTUnitCFG& unit) {
  std::memcpy(&unit, buf.mBuf, sizeof unit);
}

void ReplyToSensorCFG(const RComKVTReadBuf& buf, RKVTSensorCFG& sensor) {
  std::memcpy(&sensor, buf.mBuf, sizeof sensor);
}

void CFGToSendBuf(const RKVTCFG& cfg, RComKVTReadBuf& buf) {
  buf.mData = sizeof cfg;
  std::memcpy(buf.mBuf, &cfg, sizeof cfg);
}

void FillBlockCRCs(RKVTCFG& cfg) {
  cfg.mUnit.mCRC = GetCRC16(reinterpret_cast<const uint8_t*>(&cfg.mUnit), offsetof(RKVTUnitCFG, mCRC));
  cfg.mSensor.mCRC = GetCRC16(reinterpret_cast<const uint8_t*>(&cfg.mSensor), offsetof(RKVTSensorCFG, mCRC));
}

bool BlockCRCValid(const uint8_t* block64) {
  const uint16_t stored = static_cast<uint16_t>(block64[62] | (block64[63] << 8));
  return GetCRC16(block64, 62) == stored;
}
