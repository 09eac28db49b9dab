#include "model/CfgFile.h"

#include "model/Checksum.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void put(Bytes& b, size_t at, uint64_t value, size_t width) {
  for (size_t i = 0; i < width; ++i) b.at(at + i) = static_cast<uint8_t>(value >> (8 * i));
}
void putText(Bytes& b, size_t at, const char* text, size_t width) {
  for (size_t i = 0; i < width; ++i) b.at(at + i) = static_cast<uint8_t>(text[i]);
}

// The layouts of the file versions, written out here on their own: for each field its body
// offset in versions 1 to 7 (-1 = absent), how to write its test value there and how that
// value shows in the configuration.
constexpr int X = -1;
struct Field {
  const char* name;
  int offset[7];
  std::function<void(Bytes&, size_t, int version)> write;
  std::function<void(RKVTCFG&, int version)> expect;
};

const std::vector<Field>& fields() {
  static const std::vector<Field> f = {
      {"mUnitFlag", {0, 0, 0, 0, 0, 0, 0},
       [](Bytes& b, size_t o, int) { put(b, o, 0x05, 1); },
       [](RKVTCFG& c, int) { c.mUnit.mUnitFlag = 0x05; }},
      {"mUserID", {X, X, 1, 1, 1, 1, 1},
       [](Bytes& b, size_t o, int v) { putText(b, o, "AB-9XY", v <= 5 ? 3 : 6); },
       [](RKVTCFG& c, int v) { std::memcpy(c.mUnit.mUserID, v <= 5 ? "AB-   " : "AB-9XY", 6); }},
      {"mTestInterval", {X, X, X, X, X, X, 8},
       [](Bytes& b, size_t o, int) { put(b, o, 33, 1); },
       [](RKVTCFG& c, int) { c.mUnit.mTestInterval = 33; }},
      {"mAllowSuspend", {X, X, X, X, 5, 8, 9},
       [](Bytes& b, size_t o, int) { put(b, o, 0x80, 1); },
       [](RKVTCFG& c, int) { c.mUnit.mAllowSuspend = 0x80; }},
      {"mSerial", {1, 1, 5, 5, 6, 9, 10},
       [](Bytes& b, size_t o, int) { putText(b, o, "SN12345678", 10); },
       [](RKVTCFG& c, int) { std::memcpy(c.mUnit.mSerial, "SN12345678", 10); }},
      {"mBatLimit", {12, 12, 16, 16, 18, 20, 22},
       [](Bytes& b, size_t o, int) { put(b, o, 701, 2); put(b, o + 2, 702, 2); },
       [](RKVTCFG& c, int) { c.mUnit.mBatLimit[0] = 701; c.mUnit.mBatLimit[1] = 702; }},
      {"mBatLimitStartUp", {16, 16, 20, 20, 22, 24, 26},
       [](Bytes& b, size_t o, int) { put(b, o, 703, 2); },
       [](RKVTCFG& c, int) { c.mUnit.mBatLimitStartUp = 703; }},
      {"mBatLimitCritical", {18, 18, 22, 22, 24, 26, 28},
       [](Bytes& b, size_t o, int) { put(b, o, 604, 2); },
       [](RKVTCFG& c, int) { c.mUnit.mBatLimitCritical = 604; }},
      {"mHWVersion", {20, 20, 24, 24, 26, 28, 30},
       [](Bytes& b, size_t o, int) { put(b, o, 7, 1); },
       [](RKVTCFG& c, int) { c.mUnit.mHWVersion = 7; }},
      {"mFWVersion", {21, 21, 25, 25, 27, 29, 31},
       [](Bytes& b, size_t o, int) { put(b, o, 21, 1); },
       [](RKVTCFG& c, int) { c.mUnit.mFWVersion = 21; }},
      {"mLifeRemaining", {24, 24, 28, 28, 28, 32, 32},
       [](Bytes& b, size_t o, int) { put(b, o, 12345678, 4); },
       [](RKVTCFG& c, int) { c.mUnit.mLifeRemaining = 12345678; }},
      {"mAlarmTime", {28, 28, 32, 32, 32, 36, 36},
       [](Bytes& b, size_t o, int) { put(b, o, 0x01020304, 4); },
       [](RKVTCFG& c, int) { c.mUnit.mAlarmTime = 0x01020304; }},
      {"mTestTime", {32, 32, 36, 36, 36, 40, 40},
       [](Bytes& b, size_t o, int) { put(b, o, 0x0A0B0C0D, 4); },
       [](RKVTCFG& c, int) { c.mUnit.mTestTime = 0x0A0B0C0D; }},
      {"mAlarmCount", {36, 36, 40, 40, 40, 44, 44},
       [](Bytes& b, size_t o, int) { put(b, o, 0x1112, 2); },
       [](RKVTCFG& c, int) { c.mUnit.mAlarmCount = 0x1112; }},
      {"mTestCount", {38, 38, 42, 42, 42, 46, 46},
       [](Bytes& b, size_t o, int) { put(b, o, 0x2223, 2); },
       [](RKVTCFG& c, int) { c.mUnit.mTestCount = 0x2223; }},
      // Version 7 holds a 16-bit value; readers take the low byte.
      {"mPEventLog", {40, 40, 44, 44, 44, 48, 48},
       [](Bytes& b, size_t o, int v) { put(b, o, v == 7 ? 0x7733 : 0x33, v == 7 ? 2 : 1); },
       [](RKVTCFG& c, int) { c.mUnit.mPEventLog = 0x33; }},
      {"mAlarmHigh", {44, 44, 48, 48, 48, 52, 52},
       [](Bytes& b, size_t o, int) { put(b, o, 123, 2); },
       [](RKVTCFG& c, int) { c.mSensor.mAlarmHigh = 123; }},
      {"mAlarmLow", {46, 46, 50, 50, 50, 54, 54},
       [](Bytes& b, size_t o, int) { put(b, o, 45, 2); },
       [](RKVTCFG& c, int) { c.mSensor.mAlarmLow = 45; }},
      {"mCalInterval", {X, 48, 52, 52, 52, 56, 56},
       [](Bytes& b, size_t o, int) { put(b, o, 30 * 86400, 4); },
       [](RKVTCFG& c, int) { c.mSensor.mCalInterval = 30 * 86400; }},
      // Version 7 holds a 32-bit value; readers take the low 16 bits.
      {"mBumpInterval", {X, X, X, 56, 56, 60, 60},
       [](Bytes& b, size_t o, int v) { put(b, o, v == 7 ? 0xABCD0102 : 0x0102, v == 7 ? 4 : 2); },
       [](RKVTCFG& c, int) { c.mSensor.mBumpInterval = 0x0102; }},
      {"mSensorType", {48, 52, 56, 60, 60, 64, 64},
       [](Bytes& b, size_t o, int) { put(b, o, 4, 1); },
       [](RKVTCFG& c, int) { c.mSensor.mSensorType = 4; }},
      {"mDeadZone", {50, 54, 58, 62, 62, 66, 66},
       [](Bytes& b, size_t o, int) { put(b, o, 16, 2); },
       [](RKVTCFG& c, int) { c.mSensor.mDeadZone = 16; }},
      {"mSpanGas", {52, 56, 60, 64, 64, 68, 68},
       [](Bytes& b, size_t o, int) { put(b, o, 251, 2); },
       [](RKVTCFG& c, int) { c.mSensor.mSpanGas = 251; }},
      {"mSensorMax", {54, 58, 62, 66, 66, 70, 70},
       [](Bytes& b, size_t o, int) { put(b, o, 1001, 2); },
       [](RKVTCFG& c, int) { c.mSensor.mSensorMax = 1001; }},
      {"mSensorBase", {56, 60, 64, 68, 68, 72, 72},
       [](Bytes& b, size_t o, int) { put(b, o, 3, 2); },
       [](RKVTCFG& c, int) { c.mSensor.mSensorBase = 3; }},
      {"mTempCompSpan", {60, 64, 68, 72, 72, 76, 76},
       [](Bytes& b, size_t o, int) {
         put(b, o, static_cast<uint32_t>(-1), 4);
         put(b, o + 4, 2, 4);
         put(b, o + 8, static_cast<uint32_t>(-300000), 4);
       },
       [](RKVTCFG& c, int) {
         c.mSensor.mTempCompSpan[0] = -1;
         c.mSensor.mTempCompSpan[1] = 2;
         c.mSensor.mTempCompSpan[2] = -300000;
       }},
      {"mZero", {72, 76, 80, 84, 84, 88, 88},
       [](Bytes& b, size_t o, int) { put(b, o, 205, 2); },
       [](RKVTCFG& c, int) { c.mSensor.mZero = 205; }},
      {"mSpan", {74, 78, 82, 86, 86, 90, 90},
       [](Bytes& b, size_t o, int) { put(b, o, 5562, 2); },
       [](RKVTCFG& c, int) { c.mSensor.mSpan = 5562; }},
      {"mTau", {76, 80, 84, 88, 88, 92, 92},
       [](Bytes& b, size_t o, int) { put(b, o, 6, 2); },
       [](RKVTCFG& c, int) { c.mSensor.mTau = 6; }},
      {"mLastCal", {80, 84, 88, 92, 92, 96, 96},
       [](Bytes& b, size_t o, int) { put(b, o, 1000, 4); },
       [](RKVTCFG& c, int) { c.mSensor.mLastCal = 1000; }},
      {"mPeakTimer", {84, 88, 92, 96, 96, 100, 100},
       [](Bytes& b, size_t o, int) { put(b, o, 2000, 4); },
       [](RKVTCFG& c, int) { c.mSensor.mPeakTimer = 2000; }},
      {"mMinSpan", {88, 92, 96, 100, 100, 104, 104},
       [](Bytes& b, size_t o, int) { put(b, o, 3441, 2); },
       [](RKVTCFG& c, int) { c.mSensor.mMinSpan = 3441; }},
      {"mLastBump", {X, X, X, 104, 104, 108, 108},
       [](Bytes& b, size_t o, int) { put(b, o, 3000, 4); },
       [](RKVTCFG& c, int) { c.mSensor.mLastBump = 3000; }},
  };
  return f;
}

constexpr size_t kBodySize[8] = {92, 96, 100, 112, 112, 116, 116, 128};

// A body of the version with every field it holds set; the reserved bytes carry junk that
// a reader must not pick up.
Bytes bodyOf(int version) {
  Bytes b(kBodySize[version - 1], 0xEE);
  for (const auto& f : fields())
    if (f.offset[version - 1] != X) f.write(b, static_cast<size_t>(f.offset[version - 1]), version);
  return b;
}

RKVTCFG expectedOf(int version) {
  RKVTCFG c;
  SetDefaultCFG(c);
  for (const auto& f : fields())
    if (f.offset[version - 1] != X) f.expect(c, version);
  return c;
}

Bytes header(int32_t version, double saveTime = 45000.25, uint8_t mode = 0) {
  Bytes h(24, 0);
  put(h, 0, static_cast<uint32_t>(version), 4);
  uint64_t bits;
  std::memcpy(&bits, &saveTime, 8);
  put(h, 8, bits, 8);
  h[16] = mode;
  return h;
}

Bytes fileOf(int32_t version, const Bytes& body) {
  Bytes f = header(version);
  f.insert(f.end(), body.begin(), body.end());
  return f;
}

const uint8_t* raw(const RKVTCFG& c) { return reinterpret_cast<const uint8_t*>(&c); }

void expectSameImage(const RKVTCFG& got, const RKVTCFG& want, const std::string& what) {
  for (size_t i = 0; i < sizeof(RKVTCFG); ++i)
    EXPECT_EQ(raw(got)[i], raw(want)[i]) << what << ", configuration byte " << i;
}

TEST(CfgConvert, EveryVersionEveryField) {
  for (int v = 1; v <= 7; ++v) {
    const Bytes body = bodyOf(v);
    const auto cfg = ConvertCFGFile(v, body);
    ASSERT_TRUE(cfg.has_value()) << "version " << v;
    expectSameImage(*cfg, expectedOf(v), "version " + std::to_string(v));
    EXPECT_EQ(uint16_t{cfg->mUnit.mCRC}, 0);
    EXPECT_EQ(uint16_t{cfg->mSensor.mCRC}, 0);

    const CFGFileContent parsed = ParseCFGFile(fileOf(v, body));
    ASSERT_TRUE(parsed.ok()) << "version " << v;
    EXPECT_EQ(parsed.version, v);
    EXPECT_EQ(parsed.saveTime, 45000.25);
    expectSameImage(parsed.cfg, expectedOf(v), "file of version " + std::to_string(v));
  }
}

TEST(CfgConvert, VersionOneTakesDefaultsForWhatItLacks) {
  const auto cfg = ConvertCFGFile(1, bodyOf(1));
  ASSERT_TRUE(cfg);
  EXPECT_EQ(std::string(cfg->mUnit.mUserID, 6), "      ");
  EXPECT_EQ(+cfg->mUnit.mTestInterval, 20);
  EXPECT_EQ(+cfg->mUnit.mAllowSuspend, 0xFF);
  EXPECT_EQ(uint32_t{cfg->mSensor.mCalInterval}, 0u);
  EXPECT_EQ(uint16_t{cfg->mSensor.mBumpInterval}, 0);
  EXPECT_EQ(std::string(cfg->mUnit.mSerial, 10), "SN12345678");
  EXPECT_EQ(uint16_t{cfg->mSensor.mAlarmHigh}, 123);
}

TEST(CfgConvert, VersionsFourAndFiveReadTheSameBytesDifferently) {
  Bytes body(112, 0);
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<uint8_t>('A' + i % 26);
  body[5] = 0x80;
  const auto v4 = ConvertCFGFile(4, body);
  const auto v5 = ConvertCFGFile(5, body);
  ASSERT_TRUE(v4 && v5);
  EXPECT_EQ(+v4->mUnit.mAllowSuspend, 0xFF);  // version 4 has none
  EXPECT_EQ(+v5->mUnit.mAllowSuspend, 0x80);
  EXPECT_EQ(std::string(v4->mUnit.mSerial, 10), std::string(reinterpret_cast<const char*>(&body[5]), 10));
  EXPECT_EQ(std::string(v5->mUnit.mSerial, 10), std::string(reinterpret_cast<const char*>(&body[6]), 10));
  EXPECT_NE(std::memcmp(&*v4, &*v5, sizeof(RKVTCFG)), 0);
}

TEST(CfgConvert, ThreeCharacterUserID) {
  for (int v = 3; v <= 5; ++v) {
    Bytes body(kBodySize[v - 1], 0);
    putText(body, 1, "XYZQRS", 6);  // only the first three belong to the user ID
    const auto cfg = ConvertCFGFile(v, body);
    ASSERT_TRUE(cfg);
    EXPECT_EQ(std::string(cfg->mUnit.mUserID, 6), "XYZ   ") << "version " << v;
  }
  Bytes body6(116, 0);
  putText(body6, 1, "XYZQRS", 6);
  EXPECT_EQ(std::string(ConvertCFGFile(6, body6)->mUnit.mUserID, 6), "XYZQRS");
}

TEST(CfgConvert, VersionEightIsTakenByteForByteWithoutChecksumCheck) {
  Bytes body(128);
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<uint8_t>(i * 7 + 3);
  const CFGFileContent parsed = ParseCFGFile(fileOf(8, body));
  ASSERT_TRUE(parsed.ok());
  EXPECT_EQ(std::memcmp(&parsed.cfg, body.data(), 128), 0);
  EXPECT_FALSE(BlockCRCValid(raw(parsed.cfg)));
}

TEST(CfgParse, UnknownVersionsRefused) {
  for (int32_t v : {0, 9, -1, -7, 100, 0x7FFFFFFF, static_cast<int32_t>(0x80000000)}) {
    const CFGFileContent parsed = ParseCFGFile(fileOf(v, Bytes(200, 0)));
    EXPECT_EQ(parsed.refusal, CFGRefusal::BadVersion) << v;
    EXPECT_EQ(CFGRefusalText(parsed.refusal), "Configuration File is wrong\rReselect file");
    EXPECT_FALSE(ConvertCFGFile(v, Bytes(200, 0)));
  }
}

TEST(CfgParse, ShortFilesRefusedLongFilesRead) {
  EXPECT_EQ(ParseCFGFile(Bytes{}).refusal, CFGRefusal::HeaderShort);
  EXPECT_EQ(ParseCFGFile(Bytes(23, 0)).refusal, CFGRefusal::HeaderShort);
  EXPECT_EQ(ParseCFGFile(header(7)).refusal, CFGRefusal::BodyShort);
  for (int v = 1; v <= 8; ++v) {
    Bytes body = v == 8 ? Bytes(128, 0x11) : bodyOf(v);
    Bytes shortBody(body.begin(), body.end() - 1);
    const CFGFileContent cut = ParseCFGFile(fileOf(v, shortBody));
    EXPECT_EQ(cut.refusal, CFGRefusal::BodyShort) << "version " << v;
    EXPECT_EQ(CFGRefusalText(cut.refusal), "Configuration File is wrong\rReselect file");
    EXPECT_FALSE(ConvertCFGFile(v, shortBody));

    Bytes longer = body;
    longer.insert(longer.end(), 50, 0x99);
    const CFGFileContent parsed = ParseCFGFile(fileOf(v, longer));
    EXPECT_TRUE(parsed.ok()) << "version " << v;
  }
}

// The default configuration as a 140-byte version 7 file, byte by byte.
TEST(CfgWrite, DefaultConfigurationFile) {
  RKVTCFG cfg;
  SetDefaultCFG(cfg);
  const std::string file = BuildCFGFileV7(cfg, 45000.75, true);
  ASSERT_EQ(file.size(), 140u);
  const auto* b = reinterpret_cast<const uint8_t*>(file.data());

  const uint8_t head[24] = {0x07, 0, 0, 0, 0, 0, 0, 0, /* save time */ 0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0, 0, 0, 0, 0, 0, 0};
  for (size_t i = 0; i < 24; ++i) {
    if (i >= 8 && i < 16) continue;  // the save time, checked below
    EXPECT_EQ(b[i], head[i]) << "header byte " << i;
  }
  double saved;
  std::memcpy(&saved, b + 8, 8);
  EXPECT_EQ(saved, 45000.75);
  EXPECT_EQ(static_cast<uint8_t>(BuildCFGFileV7(cfg, 0.0, false)[16]), 0);

  const uint8_t body[116] = {
      0x01, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x00,  // flag, user ID, reserved
      0x14, 0xFF,                                      // test interval, allow suspend
      'S', 'H', '1', '0', '0', '0', '0', '0', '0', '0',
      0x00, 0x00,                                      // reserved
      0x89, 0x02, 0x89, 0x02, 0xC4, 0x02, 0x58, 0x02,  // battery limits
      0x00, 0x00,                                      // HW, FW
      0x00, 0x67, 0xC2, 0x03,                          // life 63072000
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,              // alarm time, test time, counts
      0x00, 0x00, 0x00, 0x00,                          // event log pointer, 0
      0x96, 0x00, 0x64, 0x00,                          // alarm high 150, low 100
      0, 0, 0, 0, 0, 0, 0, 0,                          // calibration and bump interval
      0x01, 0x00,                                      // sensor type, reserved
      0x0F, 0x00, 0xFA, 0x00, 0xE8, 0x03, 0x00, 0x00,  // dead zone, span gas, max, base
      0x00, 0x00,                                      // reserved
      0x38, 0x7E, 0xFC, 0xFF, 0xD6, 0xFD, 0xFF, 0xFF, 0xC9, 0x81, 0xFD, 0xFF,
      0xCC, 0x00, 0xB9, 0x15, 0x05, 0x00, 0x00, 0x00,  // zero, span, tau, reserved
      0x00, 0x67, 0xC2, 0x03, 0, 0, 0, 0,              // last calibration, peak timer
      0x70, 0x0D, 0x00, 0x00,                          // minimum span, reserved
      0, 0, 0, 0, 0, 0, 0, 0};                         // last bump, 0, reserved
  for (size_t i = 0; i < 116; ++i) EXPECT_EQ(b[24 + i], body[i]) << "body byte " << i;
}

TEST(CfgWrite, VersionSevenRoundTripAndWideFieldsWrittenWithZeroHighParts) {
  RKVTCFG cfg = expectedOf(7);
  cfg.mUnit.mPEventLog = 0xFF;
  cfg.mSensor.mBumpInterval = 0xFFFF;
  std::memset(cfg.mUnit.mDummy1, 0x5A, sizeof cfg.mUnit.mDummy1);
  cfg.mUnit.mCRC = 0x1234;
  const auto body = CFGToFileV7(cfg);
  EXPECT_EQ(body[48], 0xFF);
  EXPECT_EQ(body[49], 0x00);
  EXPECT_EQ(body[60], 0xFF);
  EXPECT_EQ(body[61], 0xFF);
  EXPECT_EQ(body[62], 0x00);
  EXPECT_EQ(body[63], 0x00);

  const auto back = ConvertCFGFile(7, body);
  ASSERT_TRUE(back);
  RKVTCFG want = cfg;
  std::memset(want.mUnit.mDummy1, 0, sizeof want.mUnit.mDummy1);
  want.mUnit.mCRC = 0;
  expectSameImage(*back, want, "round trip");
}

class TimeZoneGuard {
 public:
  TimeZoneGuard() {
    if (const char* tz = std::getenv("TZ")) saved_ = tz;
  }
  ~TimeZoneGuard() {
    if (saved_) setenv("TZ", saved_->c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }
  void set(const char* tz) {
    setenv("TZ", tz, 1);
    tzset();
  }

 private:
  std::optional<std::string> saved_;
};

TEST(CfgWrite, SaveTimeIsLocalDaysSince18991230) {
  using namespace std::chrono;
  TimeZoneGuard tz;
  const auto noon2000 = sys_days(year{2000} / January / 1) + hours(12);
  tz.set("UTC0");
  EXPECT_DOUBLE_EQ(ToCFGSaveTime(noon2000), 36526.5);
  EXPECT_DOUBLE_EQ(ToCFGSaveTime(sys_days(year{1899} / December / 30)), 0.0);
  EXPECT_NEAR(ToCFGSaveTime(noon2000 + milliseconds(500)), 36526.5 + 0.5 / 86400, 1e-9);
  tz.set("XYZ-2");  // two hours ahead of UTC
  EXPECT_NEAR(ToCFGSaveTime(noon2000), 36526.5 + 2.0 / 24, 1e-9);
  tz.set("XYZ13");  // thirteen hours behind: still the day before
  EXPECT_NEAR(ToCFGSaveTime(noon2000), 36525.0 + 23.0 / 24, 1e-9);
}

// Distinct byte patterns, so every byte shows where it came from.
RKVTCFG pattern(uint8_t seed) {
  RKVTCFG c;
  auto* p = reinterpret_cast<uint8_t*>(&c);
  for (size_t i = 0; i < sizeof c; ++i) p[i] = static_cast<uint8_t>(seed + i * 3);
  return c;
}

TEST(CfgTakeOver, ExactlyTheSettingsFields) {
  struct Range {
    size_t offset, width;
  };
  constexpr size_t S = 64;
  const Range taken[] = {
      {offsetof(RKVTUnitCFG, mUnitFlag), 1},          {offsetof(RKVTUnitCFG, mUserID), 6},
      {offsetof(RKVTUnitCFG, mTestInterval), 1},      {offsetof(RKVTUnitCFG, mAllowSuspend), 1},
      {offsetof(RKVTUnitCFG, mSerial), 10},           {offsetof(RKVTUnitCFG, mBatLimit), 4},
      {offsetof(RKVTUnitCFG, mBatLimitStartUp), 2},   {offsetof(RKVTUnitCFG, mBatLimitCritical), 2},
      {offsetof(RKVTUnitCFG, mHWVersion), 1},         {offsetof(RKVTUnitCFG, mFWVersion), 1},
      {offsetof(RKVTUnitCFG, mLifeRemaining), 4},     {S + offsetof(RKVTSensorCFG, mAlarmHigh), 2},
      {S + offsetof(RKVTSensorCFG, mAlarmLow), 2},    {S + offsetof(RKVTSensorCFG, mCalInterval), 4},
      {S + offsetof(RKVTSensorCFG, mBumpInterval), 2}, {S + offsetof(RKVTSensorCFG, mSensorType), 1},
      {S + offsetof(RKVTSensorCFG, mDeadZone), 2},    {S + offsetof(RKVTSensorCFG, mSpanGas), 2},
      {S + offsetof(RKVTSensorCFG, mSensorMax), 2},   {S + offsetof(RKVTSensorCFG, mSensorBase), 2},
      {S + offsetof(RKVTSensorCFG, mTempCompSpan), 12},
  };
  bool fromFile[128] = {};
  for (const auto& r : taken)
    for (size_t i = 0; i < r.width; ++i) fromFile[r.offset + i] = true;

  const RKVTCFG file = pattern(0x40);
  RKVTCFG working = pattern(0x01);
  const RKVTCFG before = working;
  TakeOverFileFields(working, file);
  for (size_t i = 0; i < 128; ++i)
    EXPECT_EQ(raw(working)[i], fromFile[i] ? raw(file)[i] : raw(before)[i]) << "byte " << i;
}

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "bd_cfg_XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void writeBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TEST(CfgFiles, SavedDefaultReadsBackKeepingTheWorkingCalibration) {
  TempFolder dir;
  RKVTCFG def;
  SetDefaultCFG(def);
  const std::string path = dir.file("default.cfg");
  std::string error;
  ASSERT_TRUE(SaveCFGFile(path, def, false, &error)) << error;
  ASSERT_EQ(std::filesystem::file_size(path), 140u);

  const CFGFileContent read = ReadCFGFile(path);
  ASSERT_TRUE(read.ok());
  EXPECT_EQ(read.version, 7);
  EXPECT_EQ(read.mode, 0);
  const double now = ToCFGSaveTime(std::chrono::system_clock::now());
  EXPECT_NEAR(read.saveTime, now, 1.0);

  RKVTCFG working = expectedOf(7);  // a detector's configuration, different everywhere
  const RKVTCFG before = working;
  ASSERT_EQ(LoadCFGFileInto(path, working), CFGRefusal::None);
  EXPECT_EQ(std::string(working.mUnit.mSerial, 10), "SH10000000");
  EXPECT_EQ(uint16_t{working.mSensor.mAlarmHigh}, 150);
  EXPECT_EQ(uint32_t{working.mUnit.mLifeRemaining}, 63072000u);
  EXPECT_EQ(+working.mSensor.mSensorType, 1);
  EXPECT_EQ(uint16_t{working.mSensor.mZero}, uint16_t{before.mSensor.mZero});
  EXPECT_EQ(uint16_t{working.mSensor.mSpan}, uint16_t{before.mSensor.mSpan});
  EXPECT_EQ(uint16_t{working.mSensor.mTau}, uint16_t{before.mSensor.mTau});
  EXPECT_EQ(uint32_t{working.mSensor.mLastCal}, uint32_t{before.mSensor.mLastCal});
  EXPECT_EQ(uint32_t{working.mSensor.mPeakTimer}, uint32_t{before.mSensor.mPeakTimer});
  EXPECT_EQ(uint32_t{working.mSensor.mLastBump}, uint32_t{before.mSensor.mLastBump});
  EXPECT_EQ(uint32_t{working.mUnit.mAlarmTime}, uint32_t{before.mUnit.mAlarmTime});

  ASSERT_TRUE(SaveCFGFile(path, def, true, &error)) << error;
  EXPECT_EQ(ReadCFGFile(path).mode, 1);
}

TEST(CfgFiles, RefusedFilesChangeNothing) {
  TempFolder dir;
  const RKVTCFG original = pattern(0x10);
  struct Case {
    std::string name;
    Bytes bytes;
    CFGRefusal refusal;
  };
  Bytes cut = fileOf(6, bodyOf(6));
  cut.resize(cut.size() - 10);
  const Case cases[] = {
      {"v0.cfg", fileOf(0, Bytes(128, 1)), CFGRefusal::BadVersion},
      {"v9.cfg", fileOf(9, Bytes(128, 1)), CFGRefusal::BadVersion},
      {"cut.cfg", cut, CFGRefusal::BodyShort},
      {"tiny.cfg", Bytes(10, 7), CFGRefusal::HeaderShort},
      {"empty.cfg", Bytes{}, CFGRefusal::HeaderShort},
  };
  for (const auto& c : cases) {
    writeBytes(dir.file(c.name), c.bytes);
    RKVTCFG working = original;
    EXPECT_EQ(LoadCFGFileInto(dir.file(c.name), working), c.refusal) << c.name;
    EXPECT_EQ(std::memcmp(&working, &original, sizeof working), 0) << c.name;
  }
  RKVTCFG working = original;
  EXPECT_EQ(LoadCFGFileInto(dir.file("missing.cfg"), working), CFGRefusal::NotOpened);
  EXPECT_EQ(CFGRefusalText(CFGRefusal::NotOpened), "Configuration File did not open\rRetry READ FILE");
  std::filesystem::create_directory(dir.file("folder.cfg"));
  EXPECT_EQ(LoadCFGFileInto(dir.file("folder.cfg"), working), CFGRefusal::NotOpened);
  ASSERT_EQ(mkfifo(dir.file("pipe.cfg").c_str(), 0600), 0);  // must not hang waiting for a writer
  EXPECT_EQ(LoadCFGFileInto(dir.file("pipe.cfg"), working), CFGRefusal::NotOpened);
  EXPECT_EQ(std::memcmp(&working, &original, sizeof working), 0);
}

TEST(CfgFiles, FailedSaveKeepsTheEarlierFile) {
  TempFolder dir;
  RKVTCFG def;
  SetDefaultCFG(def);
  const std::string path = dir.file("keep.cfg");
  ASSERT_TRUE(SaveCFGFile(path, def, false, nullptr));
  const std::string before = BuildCFGFileV7(def, ReadCFGFile(path).saveTime, false);

  // A folder of the same name inside the target's place cannot be replaced by a file.
  const std::string blocked = dir.file("blocked.cfg");
  std::filesystem::create_directory(blocked);
  std::string error;
  EXPECT_FALSE(SaveCFGFile(blocked, def, false, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(std::filesystem::is_directory(blocked));

  EXPECT_FALSE(SaveCFGFile(dir.file("no/such/folder.cfg"), def, false, &error));
  std::ifstream in(path, std::ios::binary);
  const std::string now((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(now, before);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.file("")), std::filesystem::directory_iterator{}), 2);
}

}  // namespace
