// The simulated detector's gas sensor: a test gas applied and removed, a response that rises
// towards it with a time to 90 %, and the detector's own zero and span (the configuration's
// mZero and mSpan) turning the sensor's converter counts into the reading. A zero and a span
// calibration set those two, so a calibration changes what the detector reads afterwards, as
// on a real unit. Plain arithmetic on the times it is given; KvtSim holds one under its lock.
#pragma once

#include "model/Records.h"

#include <chrono>
#include <cstdint>

class SimSensor {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  struct Settings {
    int t90Ms = 20000;      // time to 90 % of a step in gas; 0: at once
    double driftPct = 0;    // sensitivity lost (-) or gained (+) since the unit's calibration
    double zeroDrift = 0;   // what the sensor reads in clean air, in the sensor's unit
    bool dead = false;      // no response to gas at all
  };

  // The sensor as calibrated at the factory: cfg's mZero and mSpan match it exactly.
  void reset(const RKVTSensorCFG& cfg, TimePoint now);
  void setSettings(const Settings& s, TimePoint now);
  const Settings& settings() const { return settings_; }

  // The gas at the sensor, in the sensor's unit; 0 is clean air.
  void apply(double gas, TimePoint now);
  double applied() const { return gas_; }

  // The concentration the sensor responds to at now (the response so far).
  double sensed(TimePoint now);
  // The sensor's output in converter counts.
  double counts(TimePoint now);
  // The reading of a detector holding cfg's zero and span, in the sensor's unit.
  double reading(const RKVTSensorCFG& cfg, TimePoint now);

  // Zero calibration: the present output becomes the detector's zero.
  void zero(RKVTSensorCFG& cfg, TimePoint now);
  // Span calibration on spanGas (the unit's mSpanGas, tenths): the present output becomes
  // that concentration. False, with cfg unchanged, when the sensitivity that takes is below
  // the unit's mMinSpan (a sensor that no longer responds enough) or out of range.
  bool span(RKVTSensorCFG& cfg, TimePoint now);

 private:
  void advance(TimePoint now);

  Settings settings_;
  double zero0_ = 0;       // counts in clean air of the sensor as it left the factory
  double slope0_ = 1;      // counts per unit of that sensor
  double gas_ = 0;
  double x_ = 0;           // the response: the concentration the sensor shows so far
  TimePoint at_{};
};
