// The time a long run reads and its wait between passes. Programs use the steady clock; tests
// give a faster one, so a three-minute calibration runs in a second.
#pragma once

#include <chrono>
#include <csignal>
#include <functional>

class TRunClock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  virtual ~TRunClock() = default;
  virtual TimePoint Now() = 0;
  // Returns at the deadline at the latest; earlier when the operator asks for something (a
  // button, Ctrl-C), so the run reacts at once. The window takes clicks meanwhile.
  virtual void WaitUntil(TimePoint deadline) = 0;
};

// The steady clock, sleeping in short slices and returning early once *stop is set (a signal
// handler's flag; may be null).
class TSteadyRunClock : public TRunClock {
 public:
  explicit TSteadyRunClock(const volatile std::sig_atomic_t* stop = nullptr) : FStop(stop) {}
  TimePoint Now() override { return std::chrono::steady_clock::now(); }
  void WaitUntil(TimePoint deadline) override;

 private:
  const volatile std::sig_atomic_t* FStop;
};

// Seconds from a to b.
inline double SecondsBetween(TRunClock::TimePoint a, TRunClock::TimePoint b) {
  return std::chrono::duration<double>(b - a).count();
}

inline TRunClock::TimePoint AfterSeconds(TRunClock::TimePoint t, double seconds) {
  return t + std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
}
