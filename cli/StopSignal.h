// Ctrl-C as the Stop or Cancel button of a long run: the signal only sets a flag, and the
// run's clock, which wakes on it, presses the button.
#pragma once

#include "app/RunClock.h"

#include <functional>

// Installs the SIGINT handler (until the program ends) and clears the flag.
void CatchCtrlC();

class TCliRunClock : public TSteadyRunClock {
 public:
  explicit TCliRunClock(std::function<void()> onStop);
  void WaitUntil(TimePoint deadline) override;

 private:
  std::function<void()> FOnStop;
};
