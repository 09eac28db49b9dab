#include "app/core/RunClock.h"

#include <algorithm>
#include <thread>

void TSteadyRunClock::WaitUntil(TimePoint deadline) {
  // Slices keep Ctrl-C prompt without a signal-aware wait.
  constexpr auto kSlice = std::chrono::milliseconds(50);
  while (!(FStop && *FStop)) {
    const TimePoint now = Now();
    if (now >= deadline) return;
    std::this_thread::sleep_until(std::min(deadline, now + kSlice));
  }
}

void DriveRun(TLongRun& run, TRunClock& clock, const std::function<void()>& afterPass) {
  while (run.Step()) {
    if (afterPass) afterPass();
    clock.WaitUntil(run.NextDue());
  }
}
