#include "tests/support/FastClock.h"

#include <thread>

TRunClock::TimePoint TFastClock::Now() {
  return AfterSeconds(FOrigin, SecondsBetween(FOrigin, std::chrono::steady_clock::now()) * FSpeed);
}

void TFastClock::WaitUntil(TimePoint deadline) {
  const double seconds = SecondsBetween(Now(), deadline) / FSpeed;
  if (seconds > 0) std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  if (OnWait) OnWait();
}
