#include "sim/SimSensor.h"

#include <algorithm>
#include <cmath>

namespace {

// A configuration without a span would divide by zero; a unit treats it as one count a unit.
double Slope(const RKVTSensorCFG& cfg) { return cfg.mSpan > 0 ? cfg.mSpan / 1000.0 : 1.0; }

}  // namespace

void SimSensor::reset(const RKVTSensorCFG& cfg, TimePoint now) {
  zero0_ = cfg.mZero;
  slope0_ = Slope(cfg);
  gas_ = 0;
  x_ = 0;
  at_ = now;
}

void SimSensor::setSettings(const Settings& s, TimePoint now) {
  advance(now);
  settings_ = s;
  if (settings_.dead) x_ = 0;
}

void SimSensor::apply(double gas, TimePoint now) {
  advance(now);
  gas_ = std::max(0.0, gas);
}

// A first-order response: the gap to the applied gas shrinks by a factor of ten every T90.
void SimSensor::advance(TimePoint now) {
  const double dt = std::chrono::duration<double, std::milli>(now - at_).count();
  if (dt > 0) at_ = now;
  if (settings_.dead) {
    x_ = 0;
  } else if (settings_.t90Ms <= 0) {
    x_ = gas_;
  } else if (dt > 0) {
    x_ = gas_ + (x_ - gas_) * std::pow(10.0, -dt / settings_.t90Ms);
  }
}

double SimSensor::sensed(TimePoint now) {
  advance(now);
  return x_;
}

double SimSensor::counts(TimePoint now) {
  const double slope = slope0_ * (1.0 + settings_.driftPct / 100.0);
  return zero0_ + slope0_ * settings_.zeroDrift + slope * sensed(now);
}

double SimSensor::reading(const RKVTSensorCFG& cfg, TimePoint now) {
  return (counts(now) - cfg.mZero) / Slope(cfg);
}

void SimSensor::zero(RKVTSensorCFG& cfg, TimePoint now) {
  cfg.mZero = static_cast<uint16_t>(std::clamp(std::lround(counts(now)), 0L, 65535L));
}

bool SimSensor::span(RKVTSensorCFG& cfg, TimePoint now) {
  if (cfg.mSpanGas == 0) return false;
  const long milli = std::lround((counts(now) - cfg.mZero) / (cfg.mSpanGas / 10.0) * 1000.0);
  if (milli < cfg.mMinSpan || milli < 1 || milli > 65535) return false;
  cfg.mSpan = static_cast<uint16_t>(milli);
  return true;
}
