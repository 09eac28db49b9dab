// Byte images of the detector's memory. The same bytes sit in memory, travel in frame
// payloads and are stored in .cfg files, so every record is packed and little-endian and
// moving one is a plain byte copy.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

static_assert(std::endian::native == std::endian::little,
              "records are the detector's little-endian byte images");

#pragma pack(push, 1)

struct RKVTUnitCFG {
  uint8_t mUnitFlag;          // bit0 reading shown, bit2 reading only, bit1 bump LED quiet
  char mUserID[6];            // upper-case letters, digits, '-', space padded
  uint8_t mTestInterval;      // hours
  uint8_t mDummy1[7];
  uint8_t mAllowSuspend;      // 0x80 may hibernate; anything else may not
  char mSerial[10];
  uint16_t mBatLimit[2];      // raw battery units: up to -10 C, from -10 C
  uint16_t mBatLimitStartUp;
  uint16_t mBatLimitCritical;
  uint8_t mHWVersion;
  uint8_t mFWVersion;         // version x 10
  uint32_t mLifeRemaining;    // seconds, at most 63072000
  uint32_t mAlarmTime;
  uint32_t mTestTime;
  uint16_t mAlarmCount;
  uint16_t mTestCount;
  uint8_t mPEventLog;         // carried unchanged
  uint8_t mDummy2[9];
  uint16_t mCRC;              // CRC-16 of bytes 0..61
};

struct RKVTSensorCFG {
  uint16_t mAlarmHigh;        // tenths of the sensor unit
  uint16_t mAlarmLow;
  uint32_t mCalInterval;      // seconds, whole days; 0 = none
  uint16_t mBumpInterval;     // days
  uint8_t mDummy1[11];
  uint8_t mSensorType;
  uint16_t mDeadZone;
  uint16_t mSpanGas;
  uint16_t mSensorMax;
  uint16_t mSensorBase;
  int32_t mTempCompSpan[3];
  uint16_t mZero;
  uint16_t mSpan;             // thousandths
  uint16_t mTau;
  uint32_t mLastCal;
  uint32_t mPeakTimer;
  uint16_t mMinSpan;          // thousandths
  uint32_t mLastBump;
  uint16_t mCRC;              // CRC-16 of bytes 0..61
};

struct RKVTCFG {
  RKVTUnitCFG mUnit;
  RKVTSensorCFG mSensor;
};

struct RKVTIdenty {
  uint8_t mPID;
  uint8_t mHW;
  uint8_t mSW;
  uint8_t mSensor;
  uint32_t mLife;
  char mSerial[10];
};

struct RKVTEvent {
  uint32_t mStartEvent;       // life counter at the start; 0xFFFFFFFF ends the log
  uint16_t mDurationEvent;    // bit15 bump test, bits 0..14 seconds
  uint8_t mAlarmStatusFlag;   // bit2 low alarm, bit3 high alarm
  int16_t mSensorReading;     // tenths; 0x7FFF over range
};

struct RKVTSensor {
  uint16_t mSensor;
  uint16_t mPeak;
  uint8_t mHistory;
  uint8_t mAlarm;
};

constexpr int kReadBufSize = 1024;

struct RComKVTReadBuf {
  int32_t mData;              // valid bytes in mBuf
  uint8_t mBuf[kReadBufSize];
};

#pragma pack(pop)

// The layouts are the detector's; a wrong offset would silently corrupt a configuration.
static_assert(sizeof(RKVTUnitCFG) == 64);
static_assert(offsetof(RKVTUnitCFG, mUnitFlag) == 0);
static_assert(offsetof(RKVTUnitCFG, mUserID) == 1);
static_assert(offsetof(RKVTUnitCFG, mTestInterval) == 7);
static_assert(offsetof(RKVTUnitCFG, mDummy1) == 8);
static_assert(offsetof(RKVTUnitCFG, mAllowSuspend) == 15);
static_assert(offsetof(RKVTUnitCFG, mSerial) == 16);
static_assert(offsetof(RKVTUnitCFG, mBatLimit) == 26);
static_assert(offsetof(RKVTUnitCFG, mBatLimitStartUp) == 30);
static_assert(offsetof(RKVTUnitCFG, mBatLimitCritical) == 32);
static_assert(offsetof(RKVTUnitCFG, mHWVersion) == 34);
static_assert(offsetof(RKVTUnitCFG, mFWVersion) == 35);
static_assert(offsetof(RKVTUnitCFG, mLifeRemaining) == 36);
static_assert(offsetof(RKVTUnitCFG, mAlarmTime) == 40);
static_assert(offsetof(RKVTUnitCFG, mTestTime) == 44);
static_assert(offsetof(RKVTUnitCFG, mAlarmCount) == 48);
static_assert(offsetof(RKVTUnitCFG, mTestCount) == 50);
static_assert(offsetof(RKVTUnitCFG, mPEventLog) == 52);
static_assert(offsetof(RKVTUnitCFG, mDummy2) == 53);
static_assert(offsetof(RKVTUnitCFG, mCRC) == 62);

static_assert(sizeof(RKVTSensorCFG) == 64);
static_assert(offsetof(RKVTSensorCFG, mAlarmHigh) == 0);
static_assert(offsetof(RKVTSensorCFG, mAlarmLow) == 2);
static_assert(offsetof(RKVTSensorCFG, mCalInterval) == 4);
static_assert(offsetof(RKVTSensorCFG, mBumpInterval) == 8);
static_assert(offsetof(RKVTSensorCFG, mDummy1) == 10);
static_assert(offsetof(RKVTSensorCFG, mSensorType) == 21);
static_assert(offsetof(RKVTSensorCFG, mDeadZone) == 22);
static_assert(offsetof(RKVTSensorCFG, mSpanGas) == 24);
static_assert(offsetof(RKVTSensorCFG, mSensorMax) == 26);
static_assert(offsetof(RKVTSensorCFG, mSensorBase) == 28);
static_assert(offsetof(RKVTSensorCFG, mTempCompSpan) == 30);
static_assert(offsetof(RKVTSensorCFG, mZero) == 42);
static_assert(offsetof(RKVTSensorCFG, mSpan) == 44);
static_assert(offsetof(RKVTSensorCFG, mTau) == 46);
static_assert(offsetof(RKVTSensorCFG, mLastCal) == 48);
static_assert(offsetof(RKVTSensorCFG, mPeakTimer) == 52);
static_assert(offsetof(RKVTSensorCFG, mMinSpan) == 56);
static_assert(offsetof(RKVTSensorCFG, mLastBump) == 58);
static_assert(offsetof(RKVTSensorCFG, mCRC) == 62);

static_assert(sizeof(RKVTCFG) == 128);
static_assert(offsetof(RKVTCFG, mUnit) == 0);
static_assert(offsetof(RKVTCFG, mSensor) == 64);

static_assert(sizeof(RKVTIdenty) == 18);
static_assert(offsetof(RKVTIdenty, mPID) == 0);
static_assert(offsetof(RKVTIdenty, mHW) == 1);
static_assert(offsetof(RKVTIdenty, mSW) == 2);
static_assert(offsetof(RKVTIdenty, mSensor) == 3);
static_assert(offsetof(RKVTIdenty, mLife) == 4);
static_assert(offsetof(RKVTIdenty, mSerial) == 8);

static_assert(sizeof(RKVTEvent) == 9);
static_assert(offsetof(RKVTEvent, mStartEvent) == 0);
static_assert(offsetof(RKVTEvent, mDurationEvent) == 4);
static_assert(offsetof(RKVTEvent, mAlarmStatusFlag) == 6);
static_assert(offsetof(RKVTEvent, mSensorReading) == 7);

static_assert(sizeof(RKVTSensor) == 6);
static_assert(offsetof(RKVTSensor, mSensor) == 0);
static_assert(offsetof(RKVTSensor, mPeak) == 2);
static_assert(offsetof(RKVTSensor, mHistory) == 4);
static_assert(offsetof(RKVTSensor, mAlarm) == 5);

static_assert(sizeof(RComKVTReadBuf) == 1028);
static_assert(offsetof(RComKVTReadBuf, mData) == 0);
static_assert(offsetof(RComKVTReadBuf, mBuf) == 4);
