// The measured bump test: a known gas at the sensor, each alarm timed from the moment the
// operator says the gas is on, the peak compared with the gas, and only then Send Bump Pass or
// Send Bump Fail, so that the detector's own record and ours rest on what it read.
//
//   Read --refused--> Done (nothing sent, no record)
//    |
//   WaitGasOn --"Gas is on"--> Measure --both alarms and settled, or the limit--> verdict
//   --> WaitGasOff --"Gas removed"--> Clear --alarms off, or the limit--> Send --> Done
//
// Stop works in every phase before Send: nothing is sent, and a run stopped after the gas was
// on is recorded as not done (User Stop), never as PASS or FAIL.
#pragma once

#include "app/core/Operator.h"
#include "app/core/RunClock.h"
#include "model/Records.h"

#include <cstdint>
#include <optional>
#include <string>

class TComKVT;
class TOperationRecord;

inline constexpr const char* kBumpTestName = "Bump Test";

enum class TBumpPhase { Read, WaitGasOn, Measure, WaitGasOff, Clear, Send, Done };

enum class TBumpOutcome {
  Pass,
  Fail,
  UserStop,     // stopped before the verdict was sent: nothing sent
  Refused,      // a check before the measurement refused it (the box says why)
  LinkFailure,  // an exchange failed; mCode says which
};

struct RBumpSetup {
  double mGas = 0;  // the test gas, in the sensor's unit
  std::string mLot, mExpiry;
  double mTimeLimit = 90;   // s, each alarm must come within it
  double mTolerance = 20;   // %, the peak's allowed distance from the gas
};

struct RBumpResult {
  TBumpOutcome mOutcome = TBumpOutcome::Refused;
  uint8_t mCode = 0;
  std::optional<double> mLowAfter, mHighAfter;  // s from "Gas is on"
  std::string mPeak;                            // "24.6 ppm", "O.L.", empty before a reading
  std::string mReason;                          // why FAIL
  bool mCleared = false;                        // the alarms went off after the gas was removed
  uint8_t mSendCode = 0;                        // Send Bump Pass or Fail's own result
};

class TBumpView {
 public:
  virtual ~TBumpView() = default;
  // The buttons follow the phase: "Gas is on" in WaitGasOn, "Gas removed" in WaitGasOff,
  // Stop until Send.
  virtual void BumpPhase(TBumpPhase phase) = 0;
  // What the operator is to do: apply the gas (after the read), remove it (after the verdict).
  virtual void BumpPrompt(const std::string& text) = 0;
  // One reading: seconds from "Gas is on", the reading with its unit, the alarm bits.
  virtual void BumpReading(double seconds, const std::string& reading, bool low, bool high) = 0;
  virtual void BumpAlarm(bool high, double seconds) = 0;
  // The peak and the verdict, once measured.
  virtual void BumpVerdict(const RBumpResult& result) = 0;
  // The detector's alarm levels and the gas, once read.
  virtual void BumpLevels(const RKVTSensorCFG& /*sensor*/) {}
};

class TBumpTestRun : public TLongRun {
 public:
  TBumpTestRun(Operator& op, TComKVT& link, TBumpView& view, TRunClock& clock, const RBumpSetup& setup);
  ~TBumpTestRun() override;
  TBumpTestRun(const TBumpTestRun&) = delete;
  TBumpTestRun& operator=(const TBumpTestRun&) = delete;

  // The operator's two answers; each wakes the clock.
  void GasOn();
  void GasRemoved();
  void Stop() override;

  bool Step() override;
  TRunClock::TimePoint NextDue() const override { return FNextDue; }
  TBumpPhase Phase() const { return FPhase; }
  const RBumpResult& Result() const { return FResult; }
  // The detector's sensor block as read at the start.
  const RKVTSensorCFG& Sensor() const { return FCFG.mSensor; }

  // "Apply H2S 25 ppm (lot L-7, expiry 2031-01-31); alarms at 5 and 10 ppm".
  std::string ApplyText() const;

 private:
  void SetPhase(TBumpPhase phase);
  void Read();
  void Measure();
  void Clear();
  void Send();
  void Judge();
  void EndStopped();
  void EndLinkFailure(uint8_t code);
  // One reading on the held connection; false when the poll failed.
  bool Poll(RKVTSensor& reading);
  void Fill(TOperationRecord& record) const;
  void RecordNotDone(uint8_t code, const std::string& status, const std::string& result);

  Operator& FOp;
  TComKVT& FLink;
  TBumpView& FView;
  TRunClock& FClock;
  RBumpSetup FSetup;
  RKVTCFG FCFG{};
  int FSensorIndex = -1;
  TBumpPhase FPhase = TBumpPhase::Read;
  RBumpResult FResult;
  bool FGasOn = false, FGasRemoved = false;
  bool FHeld = false;  // the connection is open
  double FPeak = 0;
  bool FPeakOverRange = false, FHaveReading = false;
  int FSettled = 0;  // polls since the peak last rose
  int FFailedPolls = 0;  // in a row
  TRunClock::TimePoint FGasOnAt{}, FClearFrom{}, FNextPoll{}, FNextDue{};
};

// [BUMP] TimeLimit (s, default 90) and Tolerance (%, default 20).
double BumpTimeLimit();
double BumpTolerancePct();
// The test gas remembered per sensor type (tenths, like the span gas) and its cylinder.
struct RBumpGas {
  double mGas = 0;
  std::string mLot, mExpiry;
};
RBumpGas LoadBumpGas(const std::string& sensorName, double fallback);
void SaveBumpGas(const std::string& sensorName, const RBumpGas& gas);

// The terminal's exit status: 0 PASS, 67 FAIL, 68 the alarms never cleared (the verdict was
// sent), 69 stopped, 65 refused, otherwise the failing exchange's code.
int BumpExitStatus(const RBumpResult& result);
// "12.3": the seconds the records and the terminal show.
std::string SecondsText(double seconds);
