#include "model/SensorTypes.h"
#include "link/ResultCodes.h"
#include "tests/support/ProgramState.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(LifeToMonthDay, Table) {
  struct Case {
    uint32_t seconds;
    MonthDay expected;
  };
  const Case cases[] = {
      {0, {0, 1}},          {86400, {0, 1}},        {86401, {0, 2}},        {172800, {0, 3}},
      {2628000, {0, 31}},   {2628001, {1, 1}},      {5169600, {1, 30}},     {5169601, {2, 0}},
      {5256000, {2, 0}},    {5256001, {2, 1}},      {63072000, {24, 0}},    {63072001, {24, 1}},
      {65699999, {24, 30}}, {4294967295u, {24, 30}}, {4294880896u, {24, 30}},
  };
  for (const auto& c : cases) {
    const MonthDay got = LifeToMonthDay(c.seconds);
    EXPECT_EQ(got.months, c.expected.months) << c.seconds;
    EXPECT_EQ(got.days, c.expected.days) << c.seconds;
  }
}

// The window turns months and days back into months*2628000 + days*86400 - 1; for day
// counts 1 to 29 that must show the same months and days again.
TEST(LifeToMonthDay, WindowRoundTripKeepsMonthsAndDays) {
  for (uint32_t m = 0; m < 24; ++m)
    for (uint32_t d = 1; d <= 29; ++d) {
      const uint32_t total = m * kSecondsPerMonth + d * kSecondsPerDay - 1;
      EXPECT_EQ(LifeToMonthDay(total), (MonthDay{m, d})) << m << " months " << d << " days";
    }
}

TEST(SensorTypes, BuiltInTable) {
  const auto table = BuiltInSensorTypes();
  ASSERT_EQ(table.size(), 3u);
  EXPECT_EQ(table[0].mName, "H2S");
  EXPECT_EQ(table[0].mIndex, 1);
  EXPECT_EQ(table[0].mUnit, "ppm");
  EXPECT_EQ(table[0].mSpec, "SH");
  EXPECT_EQ(table[0].mCalTime, 180);
  EXPECT_EQ(table[0].mMin, 0.0f);
  EXPECT_EQ(table[0].mMax, 100.0f);
  EXPECT_EQ(table[1].mName, "CO");
  EXPECT_EQ(table[1].mIndex, 2);
  EXPECT_EQ(table[1].mSpec, "SC");
  EXPECT_EQ(table[1].mCalTime, 180);
  EXPECT_EQ(table[1].mMax, 300.0f);
  EXPECT_EQ(table[2].mName, "O2");
  EXPECT_EQ(table[2].mIndex, 4);
  EXPECT_EQ(table[2].mUnit, "%");
  EXPECT_EQ(table[2].mSpec, "SO");
  EXPECT_EQ(table[2].mCalTime, 60);
  EXPECT_EQ(table[2].mMax, 30.0f);
}

TEST(SensorTypes, FindTakesTheLastMatch) {
  ProgramState kept;
  SetBuiltInSensorTypes();
  EXPECT_EQ(FindSensorType(3), -1);
  EXPECT_EQ(FindSensorType(4), 2);
  EXPECT_EQ(FindSensorType(1), 0);
  EXPECT_EQ(FindSensorType(0), -1);

  SensorTypes.push_back({"H2S-B", 1, "ppm", "SH", 90, 0.0f, 50.0f});  // entries 0 and 3 share code 1
  EXPECT_EQ(FindSensorType(1), 3);
  EXPECT_EQ(FindSensorType(SensorTypes, 1), 3);

  SensorTypes.clear();
  EXPECT_EQ(FindSensorType(1), -1);
}

TEST(SensorTypes, RangeRuleReplacesOnlyEmptyRanges) {
  auto ruled = [](uint8_t index, float min, float max) {
    RSensorType t{"X", index, "ppm", "SX", 60, min, max};
    ApplySensorRangeRule(t);
    return std::pair{t.mMin, t.mMax};
  };
  EXPECT_EQ(ruled(2, 50.0f, 50.05f), (std::pair{0.0f, 300.0f}));
  EXPECT_EQ(ruled(4, 50.0f, 50.05f), (std::pair{0.0f, 30.0f}));
  EXPECT_EQ(ruled(1, 50.0f, 50.05f), (std::pair{0.0f, 100.0f}));
  EXPECT_EQ(ruled(9, 10.0f, 5.0f), (std::pair{0.0f, 100.0f}));
  EXPECT_EQ(ruled(2, 0.0f, 0.0f), (std::pair{0.0f, 300.0f}));
  // Ranges wider than 0.1 stay as read, whatever the code.
  EXPECT_EQ(ruled(2, 10.0f, 10.2f), (std::pair{10.0f, 10.2f}));
  EXPECT_EQ(ruled(4, 0.0f, 25.0f), (std::pair{0.0f, 25.0f}));
  EXPECT_EQ(ruled(7, -40.0f, 85.0f), (std::pair{-40.0f, 85.0f}));
}

TEST(SensorTypes, SpecCutAndPaddedWithS) {
  EXPECT_EQ(SensorSpecText("H"), "SH");
  EXPECT_EQ(SensorSpecText(""), "SS");
  EXPECT_EQ(SensorSpecText("SO"), "SO");
  EXPECT_EQ(SensorSpecText("HXY"), "HX");
}

TEST(Products, Names) {
  const char* names[] = {"KVT", "KVT (TS)", "Nimbrel", "Nimbrel (TS)", "Tavocell", "Tavocell (TS)"};
  for (uint8_t code = 0; code < 6; ++code) EXPECT_EQ(GetProductName(code), names[code]);
  EXPECT_EQ(GetProductName(6), "---");
  EXPECT_EQ(GetProductName(255), "---");
}

TEST(Products, CheckInBothModes) {
  ProgramState kept;
  for (int code = 0; code < 256; ++code) {
    const auto c = static_cast<uint8_t>(code);
    const bool factoryAccepts = code == 0 || code == 2 || code == 4;
    FactoryMode = true;
    EXPECT_EQ(CheckProduct(c, 0), factoryAccepts ? 0 : APP_NOTKVT) << code;
    FactoryMode = false;
    EXPECT_EQ(CheckProduct(c, 0), code == 0 ? 0 : APP_NOTKVT) << code;
    EXPECT_EQ(CheckProduct(c, 0, true), factoryAccepts ? 0 : APP_NOTKVT) << code;
  }
  EXPECT_EQ(APP_NOTKVT, 0x92);
  FactoryMode = false;
  EXPECT_EQ(CheckProduct(3, 3), 0);  // user mode compares with the expected code
}

TEST(VersionTexts, HardwareAndFirmware) {
  EXPECT_EQ(HWVersionText(0), "000");
  EXPECT_EQ(HWVersionText(5), "005");
  EXPECT_EQ(HWVersionText(42), "042");
  EXPECT_EQ(HWVersionText(123), "123");
  EXPECT_EQ(HWVersionText(255), "255");
  EXPECT_EQ(FWVersionText(13), "1.3");
  EXPECT_EQ(FWVersionText(0), "0.0");
  EXPECT_EQ(FWVersionText(10), "1.0");
  EXPECT_EQ(FWVersionText(255), "25.5");
}

}  // namespace
