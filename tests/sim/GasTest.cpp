// The simulated detector's gas sensor: its response to a test gas, drift and a dead sensor, the
// zero and span a calibration sets, and the control lines and alarm bits on the wire.
#include "tests/sim/PtyPort.h"

#include "model/Checksum.h"
#include "sim/SimSensor.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using Ms = std::chrono::milliseconds;

TEST(SimGas, ResponseDriftDeadSensorAndCalibration) {
  enum class Cal { None, ZeroInAir, SpanInGas };
  struct Row {
    const char* name;
    SimSensor::Settings s;
    int ms;           // after the gas of 25 went on
    Cal cal;
    double reads;     // at ms, before any span
    bool spanOk;
    double after;     // at ms, after the calibration
  };
  const Row rows[] = {
      {"at once", {0, 0, 0, false}, 0, Cal::None, 25.0, true, 25.0},
      {"one T90", {2000, 0, 0, false}, 2000, Cal::None, 22.5, true, 22.5},
      {"half a T90", {2000, 0, 0, false}, 1000, Cal::None, 25 * (1 - 0.316228), true, 25 * (1 - 0.316228)},
      {"lost sensitivity, then span", {0, -20, 0, false}, 100, Cal::SpanInGas, 20.0, true, 25.0},
      {"zero drift, zeroed in air", {0, 0, 2.0, false}, 100, Cal::ZeroInAir, 25.0, true, 25.0},
      {"zero drift, not zeroed", {0, 0, 2.0, false}, 100, Cal::None, 27.0, true, 27.0},
      {"dead sensor, span refused", {2000, 0, 0, true}, 60000, Cal::SpanInGas, 0.0, false, 0.0},
      {"too slow for the span step", {60000, 0, 0, false}, 5000, Cal::SpanInGas, 4.38, false, 4.38},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    RKVTCFG cfg;
    SetDefaultCFG(cfg);  // span gas 25.0, minimum span 62 % of the span
    const SimSensor::TimePoint t0{};
    SimSensor sensor;
    sensor.reset(cfg.mSensor, t0);
    sensor.setSettings(row.s, t0);
    if (row.cal == Cal::ZeroInAir) sensor.zero(cfg.mSensor, t0);
    EXPECT_NEAR(sensor.reading(cfg.mSensor, t0), row.cal == Cal::ZeroInAir ? 0.0 : row.s.zeroDrift, 0.1);
    sensor.apply(25.0, t0);
    const auto t = t0 + Ms(row.ms);
    EXPECT_NEAR(sensor.reading(cfg.mSensor, t), row.reads, 0.1);
    if (row.cal == Cal::SpanInGas) {
      const uint16_t before = cfg.mSensor.mSpan;
      EXPECT_EQ(sensor.span(cfg.mSensor, t), row.spanOk);
      if (!row.spanOk) {
        EXPECT_EQ(cfg.mSensor.mSpan, before);
      }
    }
    EXPECT_NEAR(sensor.reading(cfg.mSensor, t), row.after, 0.1);
    sensor.apply(0, t);
    EXPECT_NEAR(sensor.reading(cfg.mSensor, t + Ms(row.s.t90Ms * 10)), row.cal == Cal::ZeroInAir ? 0.0 : row.s.zeroDrift,
                0.1);
  }
}

TEST(SimGas, ControlLinesAndAlarmBitsOnTheWire) {
  KvtSim::Options o;
  o.config.mSensor.mAlarmLow = 100, o.config.mSensor.mAlarmHigh = 200;
  SimRig r(o);
  ASSERT_TRUE(r.connect());
  auto gas = [&] {
    RKVTSensor s{};
    const Bytes rep = r.x({0x20}, 8);
    if (rep.size() == 8) std::memcpy(&s, rep.data(), sizeof s);
    return s;
  };
  std::string reply;
  EXPECT_TRUE(r.sim->control("t90 0", reply)) << reply;
  EXPECT_EQ(int16_t(gas().mSensor), 0);
  EXPECT_EQ(gas().mAlarm & 0x0C, 0);
  EXPECT_TRUE(r.sim->control("gas 15", reply));
  EXPECT_NE(reply.find("gas 15.0 applied, reading 15.0"), std::string::npos) << reply;
  EXPECT_EQ(int16_t(gas().mSensor), 150);
  EXPECT_EQ(gas().mAlarm & 0x0C, 0x04);  // low only
  EXPECT_TRUE(r.sim->control("gas 25", reply));
  EXPECT_EQ(gas().mAlarm & 0x0C, 0x0C);
  EXPECT_TRUE(r.sim->control("dead on", reply));
  EXPECT_EQ(int16_t(gas().mSensor), 0);
  EXPECT_TRUE(r.sim->control("dead off", reply));
  EXPECT_TRUE(r.sim->control("drift -40", reply));
  EXPECT_EQ(int16_t(gas().mSensor), 150);
  EXPECT_TRUE(r.sim->control("gas off", reply));
  EXPECT_EQ(r.sim->appliedGas(), 0.0);
  EXPECT_EQ(int16_t(gas().mPeak), 250);  // the peak holds what the gas reached
  for (const char* bad : {"gas", "gas -1", "gas 2x", "t90", "dead maybe", "drift 5 6", "hello"}) {
    EXPECT_FALSE(r.sim->control(bad, reply)) << bad;
    EXPECT_NE(reply.find("not understood"), std::string::npos) << bad;
  }
}

}  // namespace
