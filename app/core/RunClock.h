// The shape every long run has (firmware download, output-test hold, logging with its
// calibration monitor, the calibration run, the production line), and the clock and the
// driver loop that serve the window, the terminal and the tests alike.
//
// How a run plugs in:
//   - its states are an enum class, one Step() does what one pass does and returns false once
//     the run has ended, NextDue() says when the next pass is wanted (Now() for "at once");
//   - it owns a TStopRequest that exists from the press of its button or command, before the
//     run has sent anything; every run's button calls Stop(). The run reads it before every
//     command that changes the detector and then ends as its Stop or Cancel does; a stop that
//     came before the first such command sends none;
//   - DriveRun(run, clock) runs it: a pass, then the clock's wait, where the window takes its
//     clicks and a stop (button, Ctrl-C) ends the wait early;
//   - the window's handler takes the TOperationGuard (app/core/Operator.h) for the whole run.
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
  // A button asked for something: the wait in progress, or the next one, returns at once.
  virtual void Wake() {}
};

// The run's Stop or Cancel: pressed in the window, or Ctrl-C in the terminal (Watch gives the
// signal handler's flag, which counts as pressed while it is set).
class TStopRequest {
 public:
  void Request() { FRequested = true; }
  bool Requested() const { return FRequested || (FSignal && *FSignal); }
  // A new run of the same dialog starts unstopped; Ctrl-C stays for the whole command.
  void Clear() { FRequested = false; }
  void Watch(const volatile std::sig_atomic_t* signal) { FSignal = signal; }

 private:
  bool FRequested = false;
  const volatile std::sig_atomic_t* FSignal = nullptr;
};

class TLongRun {
 public:
  virtual ~TLongRun() = default;
  virtual bool Step() = 0;
  virtual TRunClock::TimePoint NextDue() const = 0;
  // The run's Stop or Cancel button, whatever the window calls it; a run that must do more at
  // the press than note it overrides this and calls it too.
  virtual void Stop() { FStop.Request(); }
  // For Ctrl-C (Watch), and for the run itself, which reads it before every command that
  // changes the detector.
  TStopRequest& StopRequest() { return FStop; }
  const TStopRequest& StopRequest() const { return FStop; }

 private:
  TStopRequest FStop;
};

// Steps run to its end, waiting on clock between passes; afterPass (may be empty) runs after
// every pass that did not end the run (the window enables its Cancel buttons there).
void DriveRun(TLongRun& run, TRunClock& clock, const std::function<void()>& afterPass = {});

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
