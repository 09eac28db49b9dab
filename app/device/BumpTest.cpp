#include "app/device/BumpTest.h"

#include "app/core/IniFile.h"
#include "app/core/Results.h"
#include "app/core/Settings.h"
#include "app/device/Calibration.h"
#include "app/device/DataLog.h"
#include "app/device/Logging.h"
#include "app/device/Operation.h"
#include "app/device/ZeroCheck.h"
#include "app/records/ServiceRecords.h"
#include "link/CommInt.h"
#include "link/KVTComms.h"
#include "model/DeviceUtils.h"
#include "model/SensorTypes.h"
#include "model/TimeText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

constexpr const char* kSection = "BUMP";
constexpr const char* kCaption = "Bump Test";
// Polls without a new peak after both alarms before the reading counts as settled.
constexpr int kSettledPolls = 3;
// Polls in a row that may fail before the run ends as the link's failure.
constexpr int kFailedPollLimit = 5;

double SettingNumber(const char* key, double fallback, double lo, double hi) {
  const std::string text = AppSettings().ReadString(kSection, key, "");
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  return end != text.c_str() && *end == '\0' && v >= lo && v <= hi ? v : fallback;
}

double ReadingValue(const RKVTSensor& r) {
  return static_cast<double>(SignedReading(r.mSensor)) / std::pow(10.0, RecordDecimals(r));
}

// The poll interval of Log Readings, but no coarser than a second: it is the resolution of
// the alarm times.
double PollSeconds() { return std::clamp<double>(DeviceCFG.mLogInterval, 0.2, 1.0); }

}  // namespace

std::string SecondsText(double seconds) {
  char text[24];
  std::snprintf(text, sizeof text, "%.1f", seconds);
  return text;
}

double BumpTimeLimit() { return SettingNumber("TimeLimit", 90, 1, 3600); }
double BumpTolerancePct() { return SettingNumber("Tolerance", 20, 1, 100); }

RBumpGas LoadBumpGas(const std::string& sensorName, double fallback) {
  const TSettingsFile s = AppSettings();
  RBumpGas g;
  g.mGas = s.ReadInteger(kSection, sensorName, static_cast<int>(std::lround(fallback * 10))) / 10.0;
  g.mLot = s.ReadString(kSection, "CylinderLot", "");
  g.mExpiry = s.ReadString(kSection, "CylinderExpiry", "");
  return g;
}

void SaveBumpGas(const std::string& sensorName, const RBumpGas& gas) {
  TSettingsFile s = AppSettings();
  s.WriteInteger(kSection, sensorName, static_cast<int>(std::lround(gas.mGas * 10)));
  s.WriteString(kSection, "CylinderLot", gas.mLot);
  s.WriteString(kSection, "CylinderExpiry", gas.mExpiry);
}

int BumpExitStatus(const RBumpResult& r) {
  switch (r.mOutcome) {
    case TBumpOutcome::Pass: return r.mSendCode != 0 ? r.mSendCode : r.mCleared ? 0 : 68;
    case TBumpOutcome::Fail: return r.mSendCode != 0 ? r.mSendCode : r.mCleared ? 67 : 68;
    case TBumpOutcome::UserStop: return 69;
    case TBumpOutcome::Refused: return 65;
    case TBumpOutcome::LinkFailure: return r.mCode;
  }
  return r.mCode;
}

TBumpTestRun::TBumpTestRun(Operator& op, TComKVT& link, TBumpView& view, TRunClock& clock, const RBumpSetup& setup)
    : FOp(op), FLink(link), FView(view), FClock(clock), FSetup(setup) {
  FNextDue = FClock.Now();
  FView.BumpPhase(FPhase);
}

TBumpTestRun::~TBumpTestRun() {
  if (FHeld) FLink.CloseUSB(LINK_OK);
}

void TBumpTestRun::GasOn() {
  // The timing starts at the operator's word, not at the pass that follows it.
  if (!FGasOn && FPhase == TBumpPhase::WaitGasOn) FGasOnAt = FClock.Now();
  FGasOn = FPhase == TBumpPhase::WaitGasOn;
  FClock.Wake();
}

void TBumpTestRun::GasRemoved() {
  FGasRemoved = true;
  FClock.Wake();
}

void TBumpTestRun::Stop() {
  TLongRun::Stop();
  FClock.Wake();
}

void TBumpTestRun::SetPhase(TBumpPhase phase) {
  FPhase = phase;
  FView.BumpPhase(phase);
}

std::string TBumpTestRun::ApplyText() const {
  const RSensorType& s = SensorTypes[static_cast<size_t>(FSensorIndex)];
  return "Apply " + s.mName + " " + PercentText(FSetup.mGas) + " " + s.mUnit + " (lot " + FSetup.mLot + ", expiry " +
         FSetup.mExpiry + "); alarms at " + PercentText(FCFG.mSensor.mAlarmLow / 10.0) + " and " +
         PercentText(FCFG.mSensor.mAlarmHigh / 10.0) + " " + s.mUnit;
}

bool TBumpTestRun::Step() {
  if (FPhase != TBumpPhase::Done && FPhase != TBumpPhase::Send && FPhase != TBumpPhase::Read &&
      StopRequest().Requested()) {
    EndStopped();
  } else {
    switch (FPhase) {
      case TBumpPhase::Read: Read(); break;
      case TBumpPhase::WaitGasOn:
        if (FGasOn) {
          FNextPoll = FClock.Now();
          const uint8_t code = OpenUSBCaught(FLink);
          if (code != LINK_OK) {
            FLink.CloseUSB(code);
            EndLinkFailure(code);
            break;
          }
          FHeld = true;
          SetPhase(TBumpPhase::Measure);
        }
        break;
      case TBumpPhase::Measure: Measure(); break;
      case TBumpPhase::WaitGasOff:
      case TBumpPhase::Clear: Clear(); break;
      case TBumpPhase::Send: Send(); break;
      case TBumpPhase::Done: break;
    }
  }
  FOp.pump();
  const TRunClock::TimePoint now = FClock.Now();
  // Waiting for the operator: woken by the button, or a second later to look again.
  FNextDue = FPhase == TBumpPhase::WaitGasOn ? (FGasOn ? now : now + std::chrono::seconds(1))
             : FPhase == TBumpPhase::Send    ? now
                                             : std::max(now, FNextPoll);
  return FPhase != TBumpPhase::Done;
}

void TBumpTestRun::Read() {
  // The cylinder first: an expired one is refused before anything is sent.
  const std::string today = LocalDateText(std::time(nullptr));
  std::string problem;
  if (!ValidDateText(FSetup.mExpiry))
    problem = "The test gas cylinder's expiry date \"" + FSetup.mExpiry + "\" is not a date (YYYY-MM-DD).";
  else if (!CylinderExpiryProblem(FSetup.mExpiry, today).empty())
    problem = "The test gas cylinder expired on " + FSetup.mExpiry + ".\rUse a cylinder within its date.";
  if (problem.empty() && StopRequest().Requested()) return EndStopped();
  if (problem.empty()) {
    RKVTIdenty identity{};
    uint8_t code = OpenUSBCaught(FLink);
    if (code == LINK_OK) code = FLink.RequireIdenty(identity);
    if (code == LINK_OK) code = CheckProduct(identity.mPID, 0);
    if (code == LINK_OK) code = FLink.ReadUnitCFGData(FCFG.mUnit, DeviceCFG.mUnitPacketSize, DeviceCFG.mUnitDataSize);
    if (code == LINK_OK)
      code = FLink.ReadSensorCFGData(FCFG.mSensor, DeviceCFG.mUnitPacketSize, DeviceCFG.mUnitSensorDataSize);
    const std::string portReason = PortErrorReason(FLink);
    FLink.CloseUSB(code);
    if (code != LINK_OK) {
      EndOperation(FOp, code, kBumpTestName, portReason);
      FResult.mOutcome = TBumpOutcome::LinkFailure, FResult.mCode = code;
      return SetPhase(TBumpPhase::Done);
    }
    FSensorIndex = FindSensorType(FCFG.mSensor.mSensorType);
    const double highest = std::max(FCFG.mSensor.mAlarmLow, FCFG.mSensor.mAlarmHigh) / 10.0;
    if (FSensorIndex < 0) {
      problem = "Sensor type is wrong\rDid not bump test";
    } else if (FSetup.mGas < highest - 1e-9) {
      // Below the highest level the high alarm cannot come: a PASS would prove nothing.
      const RSensorType& s = SensorTypes[static_cast<size_t>(FSensorIndex)];
      problem = "The test gas " + PercentText(FSetup.mGas) + " " + s.mUnit + " is below the detector's highest alarm level " +
                PercentText(highest) + " " + s.mUnit + ".\rUse a gas at or above it.";
    }
  }
  if (!problem.empty()) {
    FOp.message(MessageIcon::Error, kCaption, problem);
    ShowRefused(FOp, kBumpTestName);
    FResult.mOutcome = TBumpOutcome::Refused;
    return SetPhase(TBumpPhase::Done);
  }
  // The gas and its cylinder are remembered for the next test, like the span gas.
  SaveBumpGas(SensorTypes[static_cast<size_t>(FSensorIndex)].mName, {FSetup.mGas, FSetup.mLot, FSetup.mExpiry});
  FView.BumpLevels(FCFG.mSensor);
  FView.BumpPrompt(ApplyText());
  ShowStatus(FOp, StatusColour::Running, std::string(kBumpTestName) + "...");
  SetPhase(TBumpPhase::WaitGasOn);
}

bool TBumpTestRun::Poll(RKVTSensor& reading) {
  const TRunClock::TimePoint now = FClock.Now();
  if (now < FNextPoll) return false;
  FNextPoll = AfterSeconds(now, PollSeconds());
  // After a failed poll the detector may have dropped the connection: a handshake first.
  uint8_t code = FFailedPolls > 0 ? FLink.ConnectKVT(ConnectSeconds()) : LINK_OK;
  if (code == LINK_OK) code = FLink.RequireSensor(reading, 0);
  if (code == LINK_OK) {
    FFailedPolls = 0;
    FView.BumpReading(SecondsBetween(FGasOnAt, now), ReadingWithUnit(reading, FCFG.mSensor.mSensorType),
                      reading.mAlarm & 0x04, reading.mAlarm & 0x08);
    return true;
  }
  // The adapter or the port is gone, or the detector no longer answers: no verdict can rest
  // on readings that are not had, so the run ends without one.
  if (IsFatalLoggingStatus(code) || ++FFailedPolls >= kFailedPollLimit) EndLinkFailure(code);
  return false;
}

void TBumpTestRun::Measure() {
  RKVTSensor reading{};
  const TRunClock::TimePoint now = FClock.Now();
  const double t = SecondsBetween(FGasOnAt, now);
  if (Poll(reading)) {
    FHaveReading = true;
    if (reading.mSensor == kOverRange) {
      FPeakOverRange = true;
    } else if (const double v = ReadingValue(reading); v > FPeak) {
      FPeak = v;
      FSettled = 0;
    } else {
      ++FSettled;
    }
    if ((reading.mAlarm & 0x04) && !FResult.mLowAfter && t <= FSetup.mTimeLimit) {
      FResult.mLowAfter = t;
      FView.BumpAlarm(false, t);
    }
    if ((reading.mAlarm & 0x08) && !FResult.mHighAfter && t <= FSetup.mTimeLimit) {
      FResult.mHighAfter = t;
      FView.BumpAlarm(true, t);
    }
  }
  if (FPhase != TBumpPhase::Measure) return;  // the link failed
  const bool bothAlarms = FResult.mLowAfter && FResult.mHighAfter;
  if ((bothAlarms && (FSettled >= kSettledPolls || FPeakOverRange)) || t >= FSetup.mTimeLimit) {
    Judge();
    return;
  }
  FNextPoll = std::min(FNextPoll, AfterSeconds(FGasOnAt, FSetup.mTimeLimit));
}

void TBumpTestRun::Judge() {
  const RSensorType& s = SensorTypes[static_cast<size_t>(FSensorIndex)];
  const std::string limit = PercentText(FSetup.mTimeLimit) + " s";
  FResult.mPeak = FPeakOverRange ? "O.L." : FHaveReading ? FormatDecimals(std::lround(FPeak * 10), 1) + " " + s.mUnit : "";
  std::string reason;
  auto add = [&](const std::string& r) { reason += (reason.empty() ? "" : "; ") + r; };
  if (!FResult.mLowAfter) add("no low alarm within " + limit);
  if (!FResult.mHighAfter) add("no high alarm within " + limit);
  if (!FHaveReading)
    add("no reading");
  else if (FPeakOverRange)
    add("peak over range on " + PercentText(FSetup.mGas) + " " + s.mUnit);
  else if (!WithinTolerance(FPeak, FSetup.mGas, FSetup.mTolerance))
    add("peak " + FResult.mPeak + " outside \u00B1" + PercentText(FSetup.mTolerance) + " % of " +
        PercentText(FSetup.mGas) + " " + s.mUnit);
  FResult.mReason = reason;
  FResult.mOutcome = reason.empty() ? TBumpOutcome::Pass : TBumpOutcome::Fail;
  FView.BumpVerdict(FResult);
  FView.BumpPrompt("Remove the gas from the detector");
  SetPhase(TBumpPhase::WaitGasOff);
}

void TBumpTestRun::Clear() {
  RKVTSensor reading{};
  const bool read = Poll(reading);
  if (FPhase == TBumpPhase::Done) return;  // the link failed
  if (FPhase == TBumpPhase::WaitGasOff) {
    if (!FGasRemoved) return;
    FClearFrom = FClock.Now();
    SetPhase(TBumpPhase::Clear);
    return;
  }
  if (read && !(reading.mAlarm & 0x0C)) {
    FResult.mCleared = true;
  } else if (SecondsBetween(FClearFrom, FClock.Now()) < FSetup.mTimeLimit) {
    FNextPoll = std::min(FNextPoll, AfterSeconds(FClearFrom, FSetup.mTimeLimit));
    return;
  }
  FLink.CloseUSB(LINK_OK);
  FHeld = false;
  SetPhase(TBumpPhase::Send);
}

void TBumpTestRun::Send() {
  // The detector keeps the verdict the measurement gave, even when its alarms did not clear.
  const bool pass = FResult.mOutcome == TBumpOutcome::Pass;
  const std::string name = pass ? "Send Bump Pass" : "Send Bump Fail";
  TOperationRecord record(kBumpTestName);
  Fill(record);
  record.Data().mResult = pass ? "PASS" : "FAIL";
  ROperationOptions options;
  options.record = &record;
  record.FHold = true;
  const uint8_t code = CatchingPortErrors(FOp, name, [&] {
    return RunOperation(FOp, FLink, name, [&] { return FLink.SensorCalibration(pass ? CAL_BUMPPASS : CAL_BUMPFAIL); },
                        options);
  });
  FResult.mSendCode = code;
  // The measurement is kept even when the detector could not be told: the record says so.
  if (code != LINK_OK) record.Detail("detector_told", "no");
  if (!record.Ended() || !record.Talked()) {
    RecordPort(record, FLink.PortDevice());
    record.End(code, name + ResultText(code).mSuffix, true);
  }
  CommitOperationRecord(FOp, record);
  SetPhase(TBumpPhase::Done);
}

void TBumpTestRun::Fill(TOperationRecord& record) const {
  record.Device(FCFG.mUnit.mSerial, FCFG.mSensor.mSensorType);
  record.Config(FCFG);
  RServiceRecord& r = record.Data();
  const RSensorType& s = SensorTypes[static_cast<size_t>(FSensorIndex)];
  r.mKind = "bump";
  r.mSpanGas = PercentText(FSetup.mGas) + " " + s.mUnit;
  r.mLot = FSetup.mLot;
  r.mExpiry = FSetup.mExpiry;
  auto after = [](const std::optional<double>& t) { return t ? SecondsText(*t) : std::string("none"); };
  record.Detail("verdict", "measured");
  record.Detail("time_limit_s", PercentText(FSetup.mTimeLimit));
  record.Detail("t_low_s", after(FResult.mLowAfter));
  record.Detail("t_high_s", after(FResult.mHighAfter));
  record.Detail("peak", FResult.mPeak.empty() ? "none" : FResult.mPeak);
  record.Detail("tolerance_pct", PercentText(FSetup.mTolerance));
  record.Detail("rule", "every alarm within " + PercentText(FSetup.mTimeLimit) + " s of the gas, peak within \u00B1" +
                            PercentText(FSetup.mTolerance) + " % of the test gas");
  if (FResult.mOutcome == TBumpOutcome::Fail) record.Detail("reason", FResult.mReason);
  if (FPhase == TBumpPhase::Send) record.Detail("alarms_cleared", FResult.mCleared ? "yes" : "no");
}

// A run that ended before its verdict was sent: recorded as not done.
void TBumpTestRun::RecordNotDone(uint8_t code, const std::string& status, const std::string& result) {
  TOperationRecord record(kBumpTestName);
  Fill(record);
  record.Data().mResult = result;
  RecordPort(record, FLink.PortDevice());
  record.End(code, status, true);
  CommitOperationRecord(FOp, record);
}

void TBumpTestRun::EndStopped() {
  if (FHeld) FLink.CloseUSB(LINK_OK);
  FHeld = false;
  const bool measured = FPhase != TBumpPhase::Read && FPhase != TBumpPhase::WaitGasOn;
  FResult.mOutcome = TBumpOutcome::UserStop;
  FResult.mCode = APP_USERSTOP;
  if (measured) {
    ShowStatus(FOp, StatusColour::Failure, std::string(kBumpTestName) + "... User Stop");
    RecordNotDone(APP_USERSTOP, std::string(kBumpTestName) + "... User Stop", "User Stop");
  } else {
    ShowCancelled(FOp, kBumpTestName);
  }
  SetPhase(TBumpPhase::Done);
}

void TBumpTestRun::EndLinkFailure(uint8_t code) {
  if (FHeld) FLink.CloseUSB(code);
  FHeld = false;
  const bool measured = FPhase != TBumpPhase::Read && FPhase != TBumpPhase::WaitGasOn;
  FResult.mOutcome = TBumpOutcome::LinkFailure;
  FResult.mCode = code;
  EndOperation(FOp, code, kBumpTestName);
  if (measured) RecordNotDone(code, std::string(kBumpTestName) + ResultText(code).mSuffix, "");
  SetPhase(TBumpPhase::Done);
}
