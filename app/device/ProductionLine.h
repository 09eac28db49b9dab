// The production line: one configuration file into detector after detector. Each unit is
// one write operation (recorded like Write Device): wait for a detector, read it, refuse a
// product or sensor type that does not fit, write the file's configuration with the view's
// write ranges, read it back and compare every byte written; then wait until the detector
// is taken away (two connect attempts in a row without an answer) before the next.
//
// A long run like the firmware download: Step() does one pass and never waits; NextDue()
// says when the next is wanted, and DriveRun waits for it on the window's, the terminal's or
// a test's clock, so nothing is burnt while no detector is there.
#pragma once

#include "app/config/CfgFields.h"
#include "app/core/Operator.h"
#include "app/core/RunClock.h"
#include "model/Records.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class TComKVT;
class TOperationRecord;

struct RLineUnit {
  std::string mTime;     // local time, YYYY-MM-DD HH:MM:SS
  std::string mSerial;
  bool mPass = false;
  uint8_t mCode = 0;
  std::string mReason;   // FAIL: the step and what went wrong
  std::vector<RFieldChange> mChanges;  // what the write changed in the detector
};

// "time serial PASS fields" / "time serial FAIL reason"; the CSV of --report.
std::string LineUnitText(const RLineUnit& unit);
std::string LineCSV(const std::vector<RLineUnit>& units);

class TLineView {
 public:
  virtual ~TLineView() = default;
  virtual void ShowWaiting(const std::string& what) = 0;  // "Waiting for a detector", ...
  virtual void ShowUnit(const RLineUnit& unit) = 0;
};

class TProductionLine : public TLongRun {
 public:
  // fileCfg: the file as read (ReadCFGFile). count > 0 ends after that many units' records.
  TProductionLine(Operator& op, TComKVT& link, const RKVTCFG& fileCfg, TLineView& view, TRunClock& clock,
                  int count = 0);

  // The file's configuration as it would be written, checked before any detector is
  // touched; a refusal ends the line before it starts.
  std::optional<RWriteRefusal> Refusal() const;

  // Stop() ends the line after the unit under way.
  bool Step() override;  // false once the line has ended
  // At once after a unit or once the detector has gone; after the rest otherwise (the
  // window's Stop and Ctrl-C wake the clock).
  TRunClock::TimePoint NextDue() const override { return FNextDue; }
  bool Running() const { return FState != TState::Done; }
  const std::vector<RLineUnit>& Units() const { return FUnits; }
  int Passed() const;
  int Failed() const { return static_cast<int>(FUnits.size()) - Passed(); }

  // While no detector is there the line tries one handshake of FAttemptSeconds (frames
  // spaced as in any operation), then rests FPauseSeconds: a detector put on is found within
  // both, and the handshake's CPU is spent a third of the time at most.
  double FAttemptSeconds;      // the settings' handshake time, at most 1 s
  double FPauseSeconds = 2.0;
  std::string FFileName;       // for the record
  // After each unit's record is kept. A line runs for hours: the faces send each unit's
  // record to the site server here while the next unit waits.
  std::function<void()> FAfterUnit;

 private:
  enum class TState { WaitUnit, WaitGone, Done };
  void TryUnit();
  void TryGone();
  uint8_t Unit(RLineUnit& unit, std::string& step, TOperationRecord& record);
  void Rest();  // the next pass after FPauseSeconds

  Operator& FOp;
  TComKVT& FLink;
  RKVTCFG FFileCfg;
  TLineView& FView;
  TRunClock& FClock;
  int FCount;
  TState FState = TState::WaitUnit;
  TRunClock::TimePoint FNextDue{};
  int FMisses = 0;
  std::string FWaiting;
  std::vector<RLineUnit> FUnits;
};
