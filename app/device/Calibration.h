// The sensor calibration dialog's work: the checks before it opens, the span gas value kept
// per sensor type in the settings file, the preparation that stores the value in the detector,
// and the run that starts the detector's zero/span calibration and follows it by polling.
// The run is stepped on a clock it is given; the dialog and the terminal tool show it
// through TCalView.
#pragma once

#include "app/core/Operator.h"
#include "app/core/RunClock.h"
#include "model/Records.h"
#include "model/SensorTypes.h"

#include <csignal>
#include <cstdint>
#include <string>

class TCalibrationRun;
class TComKVT;
class TDeviceSession;

enum class TCalColour { Blue, Red };

class TCalView {
 public:
  virtual ~TCalView() = default;
  // which: 0 CalLabel (zero step), 1 CalLabel1 (span gas prompt), 2 CalLabel2 (span step, result)
  virtual void CalText(int which, const std::string& text, TCalColour colour) = 0;
  virtual void CalProgress(int position, int maximum) = 0;
  virtual void CalRunning(bool running) = 0;  // Calibration and Close off, Cancel on
};

// How a run ended.
enum class TCalOutcome {
  Ok,           // "Calibration ... OK"
  Failed,       // "Zero Calibration... FAIL" or "Calibration ... FAIL"
  TimeOut,      // "Calibration... Time-out"
  UserStop,     // "Calibration... User Stop"
  LinkFailure,  // the start could not be sent or was not understood; the code says why
  NotStarted,   // the preparation stopped (its box was shown)
  ZeroRefused,  // the detector read gas before the zero and the operator did not say Yes
};

struct RCalResult {
  TCalOutcome mOutcome = TCalOutcome::NotStarted;
  uint8_t mCode = 0;  // the failing exchange's result code (LinkFailure, NotStarted)
};

inline constexpr const char* kReadSensorName = "Read sensor information";

// "Sensor Calibration" before the dialog: read the detector (the session's working
// configuration takes it) and check its sensor type. False when the dialog must not open;
// the failure was shown (EndOperation, or the "Wrong Sensor" box). code gets the read's
// result, or APP_SENSORTYPE for an unknown type.
bool CheckSensorCalibration(Operator& op, TComKVT& link, TDeviceSession& session, uint8_t& code);

// The run state of the dialog, with the numbers it has always had.
enum class TCalib : uint8_t { Idle = 0, Running = 1, StopAsked = 2, TimeLimit = 3 };

class TSensorCal {
 public:
  TCalib FCalib = TCalib::Idle;
  uint8_t FSensorType = 0;
  int FPSensor = -1;   // index into SensorTypes
  uint16_t FDefSpan = 0;

  // The dialog's opening: the sensor type, and the span gas value of section SENSORCAL
  // (written there first when the type has none). False, with the "Wrong Sensor" box, for a
  // type the table does not know.
  bool ShowDlg(Operator& op, const RKVTCFG& cfg);
  const RSensorType& Sensor() const { return SensorTypes[static_cast<size_t>(FPSensor)]; }
  // The span box's first value: FDefSpan in the sensor's unit, within the sensor's range.
  double SpinValue() const;

  // Stores the span value (settings file, detector) and reads the detector back into cfg.
  // spinValue may change (the O2 rule). False, with the box shown, when no run may start;
  // a stop requested before the span write gives APP_USERSTOP and no box.
  bool PrepareCalibration(Operator& op, TComKVT& link, RKVTCFG& cfg, double& spinValue, uint8_t& code,
                          const TStopRequest* stop = nullptr);
  // "Calibration": PrepareCalibration, then the run, stepped on clock. stop, when given, is
  // watched as the run's own (Ctrl-C).
  RCalResult CalBtnClick(Operator& op, TComKVT& link, TCalView& view, TRunClock& clock, RKVTCFG& cfg,
                         double& spinValue, const volatile std::sig_atomic_t* stop = nullptr);
  // The run alone, for a configuration just prepared.
  RCalResult RunCalibration(Operator& op, TComKVT& link, TCalView& view, TRunClock& clock, const RKVTCFG& cfg);

  // The run's service record: span gas, each step's outcome and the time it took.
  // portDevice: the device node the run's link opened.
  void RecordCalibration(Operator& op, const RKVTCFG& cfg, const RCalResult& result, double zeroSeconds,
                         double spanSeconds, const std::string& portDevice) const;

  // The span gas cylinder (the record names it) and the product, set by the dialog or command.
  std::string FLot, FExpiry, FProduct;
  // The readings with span gas applied, first and last, of the run under way.
  std::string FAsFound, FAsLeft;
  double FAsLeftValue = 0;
  bool FAsLeftOverRange = false;
  // The readings at zero before and after the zero step, and the detector's temperature.
  std::string FZeroAsFound, FZeroAsLeft, FTemperature;
  // The detector reported OK, but the reading after the span step lay outside the tolerance.
  bool FOutOfTolerance = false;

  // The run from the press of "Calibration" to its end, whose Stop() is Cancel; null
  // otherwise.
  TCalibrationRun* Run() const { return FRun; }
  // Not from the press until the run has ended: the preparation is part of the run.
  bool CanClose() const { return !FRun; }

 private:
  friend class TCalibrationRun;
  TCalibrationRun* FRun = nullptr;
};

// One press of "Calibration" as a long run.
//
//   Prepare --stored--> Start --0x42 OK--> Monitor --OK, FAIL, limit, Cancel--> Done
//      |                  |                                                    ^
//      +-- refused -------+-- open or start failed, or stopped before 0x42 ----+
//
// FCalib is Running (1) from Start; in Monitor a Cancel makes it StopAsked (2) and the limit
// TimeLimit (3), and either ends the run with the abort code. A Cancel pressed in Prepare or
// Start ends the run as "Calibration... User Stop" before 0x42, so nothing is sent that
// changes the detector (no abort either, as nothing was started).
class TCalibrationRun : public TLongRun {
 public:
  // spinValue null: cfg is prepared already and the run begins with Start.
  TCalibrationRun(TSensorCal& cal, Operator& op, TComKVT& link, TCalView& view, TRunClock& clock, RKVTCFG& cfg,
                  double* spinValue);
  ~TCalibrationRun() override;
  TCalibrationRun(const TCalibrationRun&) = delete;
  TCalibrationRun& operator=(const TCalibrationRun&) = delete;

  bool Step() override;
  TRunClock::TimePoint NextDue() const override { return FNextDue; }
  const RCalResult& Result() const { return FResult; }

 private:
  enum class TPhase { Prepare, Start, Monitor, Done };
  void Prepare();
  void Start();
  void Monitor();
  void Finish();
  void EndStopped();  // "Calibration... User Stop"

  TSensorCal& FCal;
  Operator& FOp;
  TComKVT& FLink;
  TCalView& FView;
  TRunClock& FClock;
  RKVTCFG& FCFG;
  double* FSpin;
  TPhase FPhase;
  RCalResult FResult{TCalOutcome::LinkFailure, 0};
  bool FStarted = false;  // 0x42 was sent
  bool FSpanShown = false;
  double FZeroSeconds = 0;
  TRunClock::TimePoint FStartTime{}, FNextPoll{}, FLimit{}, FNextDue{};
};

// [SENSORCAL] Tolerance: how far, in percent of the span gas, the reading after the span step
// may lie from the span gas for the calibration to pass (default 10, 1 to 50).
double SpanTolerancePct();
// Whether reading lies within tolerancePct of spanGas.
bool WithinTolerance(double reading, double spanGas, double tolerancePct);
// "10", "2.5": a percentage as the records and texts show it.
std::string PercentText(double pct);

// The terminal's exit status of a run, which the record keeps as its code: 0, 67 failed,
// 68 time limit, 69 stopped, 65 a zero refused in gas, otherwise the failing exchange's
// result code.
int CalibrationExitStatus(const RCalResult& result);

// The span gas cylinder, kept in section SENSORCAL of the settings like the span gas value.
struct RCylinder {
  std::string mLot, mExpiry;  // expiry YYYY-MM-DD, or empty
};
RCylinder LoadCylinder();
void SaveCylinder(const std::string& lot, const std::string& expiry);
// Why a cylinder's expiry refuses a calibration on the day today (YYYY-MM-DD): not a date,
// or passed; empty when it may be used. An empty expiry is allowed, as it was never asked.
std::string CylinderExpiryProblem(const std::string& expiry, const std::string& today);

// The O2 rule: a span value between 19.0 and 23.5 (exclusive) for sensor type code 4 is air,
// not span gas; 18.0 is used instead.
double ApplyO2Rule(uint8_t sensorType, double spinValue);
