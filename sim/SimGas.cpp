// The test gas of the simulated detector: applying and removing it, the control lines that do
// so from outside (kvt-sim --control), and the zero and span calibrations on its sensor.
#include "sim/KvtSim.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace {

bool Number(const std::string& text, double& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (*end != '\0' || !std::isfinite(v)) return false;
  out = v;
  return true;
}

std::string Shown(double v) {
  char t[32];
  std::snprintf(t, sizeof t, "%.1f", v);
  return t;
}

}  // namespace

KvtSim::Clock::time_point KvtSim::sensorNow() const {
  return opts_.sensorClock ? opts_.sensorClock() : Clock::now();
}

int KvtSim::sensorReading() {
  int scale = 1;
  for (int i = 0; i < (opts_.gasDecimals & 3); ++i) scale *= 10;
  const double raw = std::round(sensor_.reading(cfg_.mSensor, sensorNow()) * scale);
  // Past what the reading's 16 bits hold, the unit reports over range.
  if (raw >= 0x7FFF) return 0x7FFF;
  return static_cast<int>(std::max(raw, -32768.0));
}

void KvtSim::sensorZero() {
  if (opts_.timetable || opts_.calUnchanged) return;
  sensor_.zero(cfg_.mSensor, sensorNow());
  storeConfig();
}

bool KvtSim::sensorSpan() {
  if (opts_.timetable || opts_.calUnchanged) return true;
  const bool ok = sensor_.span(cfg_.mSensor, sensorNow());
  if (ok) storeConfig();
  return ok;
}

void KvtSim::spanGasStep(uint8_t cmd) {
  if (!opts_.spanGasHeld) return;
  if (cmd == 0x41 || cmd == 0x42) {
    sensor_.apply(cfg_.mSensor.mSpanGas / 10.0, sensorNow());
    spanGasOn_ = true;
  } else if (cmd == 0x43 && spanGasOn_) {
    sensor_.apply(0, sensorNow());
    spanGasOn_ = false;
  }
}

// The reading that shows the step's result was taken with the gas on; then it comes off.
void KvtSim::spanGasAfterReading() {
  if (!spanGasOn_ || calRunning_) return;
  sensor_.apply(0, sensorNow());
  spanGasOn_ = false;
}

void KvtSim::applyGas(double value) {
  std::lock_guard<std::mutex> lock(mu_);
  sensor_.apply(value, sensorNow());
}

double KvtSim::appliedGas() const {
  std::lock_guard<std::mutex> lock(mu_);
  return sensor_.applied();
}

std::string KvtSim::sensorStatus() {
  const SimSensor::Settings& s = sensor_.settings();
  std::string text = sensor_.applied() > 0 ? "gas " + Shown(sensor_.applied()) + " applied" : "clean air";
  text += ", reading " + Shown(sensor_.reading(cfg_.mSensor, sensorNow()));
  text += ", t90 " + Shown(s.t90Ms / 1000.0) + " s, drift " + Shown(s.driftPct) + " %, zero drift " +
          Shown(s.zeroDrift) + (s.dead ? ", sensor dead" : "");
  if (opts_.timetable) text += " (the reading follows the --gas timetable)";
  return text;
}

std::string KvtSim::controlHelp() {
  return "  gas VALUE        apply a test gas of VALUE in the sensor's unit (gas off: clean air)\n"
         "  t90 SECONDS      the sensor's time to 90 % of a step\n"
         "  drift PCT        sensitivity lost (-) or gained (+) since the unit's calibration\n"
         "  zero-drift VALUE what the sensor reads in clean air, in the sensor's unit\n"
         "  dead on|off      a dead sensor does not respond to gas\n"
         "  status           what the sensor does now\n";
}

bool KvtSim::control(const std::string& line, std::string& reply) {
  std::istringstream in(line);
  std::string word, value, extra;
  in >> word >> value >> extra;
  if (word.empty()) {
    reply.clear();
    return true;
  }
  std::lock_guard<std::mutex> lock(mu_);
  const auto now = sensorNow();
  SimSensor::Settings s = sensor_.settings();
  double v = 0;
  const bool single = !value.empty() && extra.empty();
  if (word == "status" && value.empty()) {
    // nothing to change
  } else if (word == "gas" && single && (value == "off" || (Number(value, v) && v >= 0 && v <= 100000))) {
    sensor_.apply(value == "off" ? 0.0 : v, now);
  } else if (word == "t90" && single && Number(value, v) && v >= 0 && v <= 3600) {
    s.t90Ms = static_cast<int>(std::lround(v * 1000));
  } else if (word == "drift" && single && Number(value, v) && v > -100 && v <= 1000) {
    s.driftPct = v;
  } else if (word == "zero-drift" && single && Number(value, v) && std::fabs(v) <= 10000) {
    s.zeroDrift = v;
  } else if (word == "dead" && single && (value == "on" || value == "off")) {
    s.dead = value == "on";
  } else {
    reply = "not understood: \"" + line + "\"; the control lines are:\n" + controlHelp();
    return false;
  }
  sensor_.setSettings(s, now);
  opts_.sensor = s;
  reply = sensorStatus();
  return true;
}
