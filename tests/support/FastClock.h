// A run clock for tests that runs many times faster than the steady clock, so a calibration
// of minutes passes in a second while the simulated detector still answers in real time.
#pragma once

#include "app/core/RunClock.h"

#include <functional>

class TFastClock : public TRunClock {
 public:
  explicit TFastClock(double speed) : FSpeed(speed) {}
  TimePoint Now() override;
  void WaitUntil(TimePoint deadline) override;
  // Called after every wait: a test presses its buttons here.
  std::function<void()> OnWait;

 private:
  double FSpeed;
  TimePoint FOrigin = std::chrono::steady_clock::now();
};
