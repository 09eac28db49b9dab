// The logging run of the logging dialog: one connection held open, the live readings polled
// at a fixed interval, shown, charted and written to the data log, and the calibration and
// bump buttons performed between two polls, with the monitor that follows a calibration.
//
// The run is a state machine stepped one pass at a time; between passes it waits on the clock
// it is given until the next poll or link check is due (or a button wakes it). The dialog,
// the terminal tool and tests each implement TLoggingView.
//
//   Start Logging --pre-check, file--> loop: Pass (poll, link check, button, monitor) ...
//        |                                 |-- Stop, fatal status --> closed, idle
//        +-- pre-check failed, or Stop pressed meanwhile: no loop, no file --> idle
//
// The monitor that follows a calibration started from the "Calibration" box:
//   Idle(0) --0x41/0x42 sent--> SetUp(1) --1 s polls--> WaitStart(2) --bit 7 seen--> Running(3)
//   WaitStart, Running --cleared, FAIL, time-out--> Done(4): polls back to the interval.
#pragma once

#include "app/device/ChartHistory.h"
#include "app/device/DataLog.h"
#include "app/core/Operator.h"
#include "app/core/RunClock.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TComKVT;

enum class TLabelColour { Blue, Red };

class TLoggingView {
 public:
  virtual ~TLoggingView() = default;
  virtual void ShowReading(const RReadingTexts& texts) = 0;
  // The chart: a new run's empty axis, one point added, or the axis scrolled with the points
  // it now shows (oldest first).
  virtual void ChartReset(double min, double max, double increment) = 0;
  virtual void ChartAdd(const RChartPoint& point) = 0;
  virtual void ChartScroll(double min, double max, const std::vector<RChartPoint>& points) = 0;
  virtual void ShowCalLabel(const std::string& text, TLabelColour colour) = 0;
  // The six buttons other than "Cal. Abort"; all seven when logging starts and ends.
  virtual void CalButtons(bool enabled) = 0;
  virtual void LoggingButtons(bool logging) = 0;  // Start/Stop and the whole "Calibration" box
  virtual void CalProgress(int seconds, int maximum) = 0;  // bar and "(n)"
  // The data log can no longer be written; the display goes on. Told once per file.
  virtual void DataLogError(const std::string& text) = 0;
  virtual bool BatteryTicked() = 0;
  virtual bool TemperatureTicked() = 0;
  // The detector's sensor block as read by the start's check: its alarm levels and sensor
  // type, for a chart that draws the levels.
  virtual void ShowSensorBlock(const RKVTSensorCFG& /*sensor*/) {}
};

// FBtnSel values of the "Calibration" box.
enum : uint8_t {
  kBtnCal = 1, kBtnZero, kBtnSpan, kBtnCalAbort, kBtnClearPeak, kBtnBumpPass, kBtnBumpFail
};

// The link statuses that end logging: the adapter and the port, not the detector.
bool IsFatalLoggingStatus(uint8_t code);

enum class TMonitor : uint8_t { Idle = 0, SetUp = 1, WaitStart = 2, Running = 3, Done = 4 };

class TLoggingRun : public TLongRun {
 public:
  TLoggingRun(TComKVT& link, Operator& op, TLoggingView& view, TRunClock& clock);

  // Buttons: each only records a request that the next pass reads. Stop holds from the press:
  // pressed while the start checks the detector, no poll is made and no file written.
  void Stop() override {
    TLongRun::Stop();
    FLogStart = false;
  }
  void PressCalButton(uint8_t btnSel) { FBtnSel = btnSel; }
  bool Logging() const { return FLogStart; }

  // "Start Logging": the pre-check, the file choice, the header, the loop. Returns the
  // status the loop ended with (0 when stopped), or the pre-check's failure.
  uint8_t StartLogging();
  // The loop alone; an empty file name logs without a file.
  uint8_t RunLogging(const std::string& fileName);

  // After each pass (the terminal tool prints here, tests stop after N readings).
  std::function<void(const RReadingSet&)> OnReading;

  // For tests and the benchmark: one reading shown as a poll would show it.
  void ShowReading(const RReadingSet& set, double seconds);
  const TChartHistory& History() const { return FHistory; }
  uint8_t MonitorState() const { return static_cast<uint8_t>(FMonitor); }
  // The data-log row of the last reading, as the file got it.
  const std::string& LastRow() const { return FRow; }

  bool Step() override { return FLogStart && Pass(); }
  TRunClock::TimePoint NextDue() const override;
  double PollInterval() const { return FPollInterval; }

 private:
  // A Stop pressed while the start was checking the detector is kept: no loop then.
  uint8_t Loop(const std::string& fileName);
  bool Pass();  // one pass; false when the loop ends
  void SendCalCommand(uint8_t code);
  void MonitorStep();
  // Service records of the buttons; a calibration's waits for the monitor's outcome.
  void RecordAction(uint8_t code, uint8_t result, const std::string& text, std::string details);
  void RecordCalOutcome(const std::string& text, const char* span);
  void Poll();

  TComKVT& FLink;
  Operator& FOp;
  TLoggingView& FView;
  TRunClock& FClock;

  bool FLogStart = false;
  uint8_t FBtnSel = 0;
  RKVTUnitCFG FUnit{};
  RKVTSensorCFG FSensor{};
  RKVTIdenty FIdentity{};

  TDataLogFile FFile{""};
  bool FFileErrorTold = false;
  RReadingSet FSet{};
  std::string FRow;
  uint8_t FShownHistory = 0;  // the sensor history bits the dialog shows
  TChartHistory FHistory;

  bool FConnected = false;
  uint8_t FStatus = 0;
  TRunClock::TimePoint FStart{}, FNextPoll{}, FNextCheck{};
  double FPollInterval = 1;

  TMonitor FMonitor = TMonitor::Idle;
  TRunClock::TimePoint FCalStart{};
  uint8_t FCalCode = 0;  // the calibration the monitor follows, for its record
};
