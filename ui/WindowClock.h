// The clock of a long run in a window: waiting runs the window's event loop, so the dialog
// repaints and takes clicks, and a button that asks for something ends the wait at once.
// No core is spent between two passes.
#pragma once

#include "app/core/RunClock.h"

class QEventLoop;

class TWindowRunClock : public TRunClock {
 public:
  TimePoint Now() override;
  void WaitUntil(TimePoint deadline) override;
  // A button was pressed: the run's next pass comes now.
  void Wake() override;
  // For tests: time runs this many times faster than the steady clock.
  void SetSpeed(double speed) { FSpeed = speed; }

 private:
  QEventLoop* FLoop = nullptr;
  bool FWoken = false;
  double FSpeed = 1.0;
  TimePoint FOrigin = std::chrono::steady_clock::now();
};
