#include "app/device/Calibration.h"

#include "app/device/DataLog.h"
#include "app/device/DeviceSession.h"
#include "app/core/IniFile.h"
#include "app/device/Operation.h"
#include "app/core/Results.h"
#include "app/records/ServiceRecords.h"
#include "app/core/Settings.h"
#include "app/device/ZeroCheck.h"
#include "link/CommInt.h"
#include "link/KVTComms.h"
#include "model/Checksum.h"
#include "model/DeviceUtils.h"
#include "model/TimeText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace {

constexpr const char* kSection = "SENSORCAL";
constexpr const char* kWrongSensorCaption = "Wrong Sensor";
constexpr const char* kWrongSensorText = "Sensor type is wrong\rDid not sensor calibration";
constexpr const char* kReadCaption = "Read KVT Information";
constexpr uint8_t kSensorO2 = 4;
constexpr uint16_t kSpanGasAddress = 88;  // mSpanGas in the 128-byte configuration image


// The temperature reading with its unit.
std::string FormatTemperature(const RKVTSensor& t) {
  const int dec = t.mHistory & 3;
  char text[24];
  std::snprintf(text, sizeof text, "%.*f \u00B0C", dec, static_cast<uint16_t>(t.mSensor) / std::pow(10.0, dec));
  return text;
}

// "#0.#" of a value in tenths.
std::string SpanText(uint16_t tenths) {
  return tenths % 10 == 0 ? std::to_string(tenths / 10) : FormatDecimals(tenths, 1);
}

}  // namespace

double ApplyO2Rule(uint8_t sensorType, double spinValue) {
  const long tenths = std::lround(spinValue * 10);
  return sensorType == kSensorO2 && tenths > 190 && tenths < 235 ? 18.0 : spinValue;
}

bool CheckSensorCalibration(Operator& op, TComKVT& link, TDeviceSession& session, uint8_t& code) {
  session.BeginAction();
  try {
    code = link.OpenUSB(ConnectSeconds());
  } catch (const ECommError& e) {
    link.ComClose();
    ReportPortOpenError(op, kReadSensorName, e);
    code = LINK_PORTERROR;
    return false;
  }
  if (code == LINK_OK) code = session.ReadDeviceInfo(link);
  const std::string portReason = PortErrorReason(link);
  link.CloseUSB(code);
  if (code != LINK_OK) {
    EndOperation(op, code, kReadSensorName, portReason);
    return false;
  }
  if (FindSensorType(session.FKVTCFG.mSensor.mSensorType) < 0) {
    op.message(MessageIcon::Error, kWrongSensorCaption, kWrongSensorText);
    code = APP_SENSORTYPE;
    return false;
  }
  return true;
}

bool TSensorCal::ShowDlg(Operator& op, const RKVTCFG& cfg) {
  FCalib = TCalib::Idle;
  FSensorType = cfg.mSensor.mSensorType;
  FPSensor = FindSensorType(FSensorType);
  if (FPSensor < 0) {
    op.message(MessageIcon::Error, kWrongSensorCaption, kWrongSensorText);
    return false;
  }
  FDefSpan = cfg.mSensor.mSpanGas;
  TSettingsFile settings = AppSettings();
  const std::string& name = Sensor().mName;
  if (!settings.ValueExists(kSection, name)) settings.WriteInteger(kSection, name, FDefSpan);
  FDefSpan = static_cast<uint16_t>(settings.ReadInteger(kSection, name, FDefSpan));
  return true;
}

double TSensorCal::SpinValue() const {
  const double lo = Sensor().mMin, hi = Sensor().mMax;
  return std::clamp(FDefSpan / 10.0, lo, std::max(lo, hi));
}

bool TSensorCal::PrepareCalibration(Operator& op, TComKVT& link, RKVTCFG& cfg, double& spinValue, uint8_t& code,
                                    const TStopRequest* stop) {
  spinValue = ApplyO2Rule(FSensorType, spinValue);
  const auto span = static_cast<uint16_t>(std::lround(spinValue * 10));
  if (span != FDefSpan) {
    FDefSpan = span;
    AppSettings().WriteInteger(kSection, Sensor().mName, FDefSpan);
  }

  RKVTIdenty identity{};
  code = OpenUSBCaught(link);
  if (code == LINK_OK) code = link.RequireIdenty(identity);
  if (code == LINK_OK) code = CheckProduct(identity.mPID, 0);
  if (code == LINK_OK) code = link.ReadUnitCFGData(cfg.mUnit, DeviceCFG.mUnitPacketSize, DeviceCFG.mUnitDataSize);
  if (code == LINK_OK)
    code = link.ReadSensorCFGData(cfg.mSensor, DeviceCFG.mUnitPacketSize, DeviceCFG.mUnitSensorDataSize);
  if (code == LINK_OK && cfg.mSensor.mSpanGas != FDefSpan && stop && stop->Requested()) code = APP_USERSTOP;
  if (code == LINK_OK && cfg.mSensor.mSpanGas != FDefSpan) {
    // Only the two bytes of the span value: the rest of the detector stays as it is.
    cfg.mSensor.mSpanGas = FDefSpan;
    RComKVTReadBuf image{};
    CFGToSendBuf(cfg, image);
    code = link.WriteCFGData(image, kSpanGasAddress, 2);
    if (code == LINK_OK)
      code = link.ReadSensorCFGData(cfg.mSensor, DeviceCFG.mUnitPacketSize, DeviceCFG.mUnitSensorDataSize);
  }
  link.CloseUSB(code == APP_USERSTOP ? LINK_OK : code);

  if (code == APP_USERSTOP) {
    // Cancel was pressed: the run says so; no box.
  } else if (code == APP_NOTKVT) {
    op.message(MessageIcon::Error, kReadCaption, "This is not KVT module");
  } else if (code != LINK_OK) {
    op.message(MessageIcon::Error, kReadCaption, "KVT comunication error\rCheck BEAMDOCK and KVT connection");
  } else if (cfg.mSensor.mSensorType != FSensorType) {
    op.message(MessageIcon::Error, kReadCaption, "Different sensor type");
    code = APP_NOTKVT;
  }
  return code == LINK_OK;
}

RCalResult TSensorCal::CalBtnClick(Operator& op, TComKVT& link, TCalView& view, TRunClock& clock, RKVTCFG& cfg,
                                   double& spinValue, const volatile std::sig_atomic_t* stop) {
  TCalibrationRun run(*this, op, link, view, clock, cfg, &spinValue);
  run.StopRequest().Watch(stop);
  DriveRun(run, clock);
  return run.Result();
}

RCalResult TSensorCal::RunCalibration(Operator& op, TComKVT& link, TCalView& view, TRunClock& clock,
                                      const RKVTCFG& cfg) {
  RKVTCFG prepared = cfg;
  TCalibrationRun run(*this, op, link, view, clock, prepared, nullptr);
  DriveRun(run, clock);
  return run.Result();
}

void TSensorCal::RecordCalibration(Operator& op, const RKVTCFG& cfg, const RCalResult& result, double zeroSeconds,
                                   double spanSeconds, const std::string& portDevice) const {
  // No record when the detector never answered.
  const uint8_t c = result.mCode;
  if (result.mOutcome == TCalOutcome::LinkFailure &&
      (c == LINK_NOCONNECT || c == LINK_PORTERROR || c == LINK_NORESPONSE || c < 0x10 || c >= 0xFC))
    return;
  static const char* const kSpan[] = {"OK", "FAIL", "time-out", "user stop", "-", "-", "-"};
  const bool zeroOk = result.mOutcome != TCalOutcome::LinkFailure &&
                      !(result.mOutcome == TCalOutcome::Failed && result.mCode == LINK_ERROR);
  TOperationRecord record("Sensor Calibration");
  record.Device(cfg.mUnit.mSerial, cfg.mSensor.mSensorType);
  record.Config(cfg);
  RecordPort(record, portDevice);
  RServiceRecord& r = record.Data();
  r.mProduct = FProduct;
  r.mKind = "calibration";
  r.mZero = zeroOk ? "OK" : "FAIL";
  r.mSpan = zeroOk ? kSpan[static_cast<int>(result.mOutcome)] : "-";
  // The span step ended as the detector said, but what it read afterwards does not pass.
  if (FOutOfTolerance) r.mSpan = "FAIL";
  r.mResult = result.mOutcome == TCalOutcome::Ok         ? "PASS"
              : result.mOutcome == TCalOutcome::TimeOut  ? "Time-out"
              : result.mOutcome == TCalOutcome::UserStop ? "User Stop"
                                                         : "FAIL";
  r.mSpanGas = SpanText(cfg.mSensor.mSpanGas) + " " + Sensor().mUnit;
  r.mAsFound = FAsFound.empty() ? "" : FAsFound + " " + Sensor().mUnit;
  r.mAsLeft = FAsLeft.empty() ? "" : FAsLeft + " " + Sensor().mUnit;
  r.mLot = FLot;
  r.mExpiry = FExpiry;
  record.Detail("zero_s", std::to_string(std::lround(zeroSeconds)));
  record.Detail("span_s", std::to_string(zeroOk ? std::lround(spanSeconds) : 0));
  const std::string tolerance = PercentText(SpanTolerancePct());
  record.Detail("tolerance_pct", tolerance);
  record.Detail("rule", "as left within \u00B1" + tolerance + " % of the span gas");
  if (!FZeroAsFound.empty()) record.Detail("zero_as_found", FZeroAsFound);
  if (!FZeroAsLeft.empty()) record.Detail("zero_as_left", FZeroAsLeft);
  if (!FTemperature.empty()) record.Detail("temperature", FTemperature);
  record.Detail("cylinder", FLot.empty() || FExpiry.empty() ? "not recorded" : "lot " + FLot + ", expiry " + FExpiry);
  const std::string status = FOutOfTolerance                            ? "Calibration ... FAIL: as left out of tolerance"
                             : result.mOutcome == TCalOutcome::Ok       ? "Calibration ... OK"
                             : result.mOutcome == TCalOutcome::TimeOut  ? "Calibration... Time-out"
                             : result.mOutcome == TCalOutcome::UserStop ? "Calibration... User Stop"
                             : zeroOk                                   ? "Calibration ... FAIL"
                                                                        : "Zero Calibration... FAIL";
  record.End(static_cast<uint8_t>(CalibrationExitStatus(result)), status, true);
  CommitOperationRecord(op, record);
}

int CalibrationExitStatus(const RCalResult& r) {
  switch (r.mOutcome) {
    case TCalOutcome::Ok: return 0;
    case TCalOutcome::Failed: return 67;
    case TCalOutcome::TimeOut: return 68;
    case TCalOutcome::UserStop: return 69;
    case TCalOutcome::ZeroRefused: return 65;
    default: return r.mCode;
  }
}

TCalibrationRun::TCalibrationRun(TSensorCal& cal, Operator& op, TComKVT& link, TCalView& view, TRunClock& clock,
                                 RKVTCFG& cfg, double* spinValue)
    : FCal(cal), FOp(op), FLink(link), FView(view), FClock(clock), FCFG(cfg), FSpin(spinValue),
      FPhase(spinValue ? TPhase::Prepare : TPhase::Start) {
  // The run, and with it Cancel, exists from the press.
  FCal.FRun = this;
  FView.CalRunning(true);
  FNextDue = FClock.Now();
}

TCalibrationRun::~TCalibrationRun() {
  if (FPhase != TPhase::Done) FView.CalRunning(false);
  FCal.FCalib = TCalib::Idle;
  if (FCal.FRun == this) FCal.FRun = nullptr;
}

bool TCalibrationRun::Step() {
  switch (FPhase) {
    case TPhase::Prepare: Prepare(); break;
    case TPhase::Start: Start(); break;
    case TPhase::Monitor: Monitor(); break;
    case TPhase::Done: break;
  }
  if (FPhase == TPhase::Done && FCal.FRun == this) Finish();
  return FPhase != TPhase::Done;
}

void TCalibrationRun::Prepare() {
  uint8_t code = APP_USERSTOP;
  if (!StopRequest().Requested()) FCal.PrepareCalibration(FOp, FLink, FCFG, *FSpin, code, &StopRequest());
  if (code == APP_USERSTOP) {
    EndStopped();
  } else if (code != LINK_OK) {
    FResult = {TCalOutcome::NotStarted, code};
    FPhase = TPhase::Done;
  } else {
    FPhase = TPhase::Start;
  }
  FNextDue = FClock.Now();
}

void TCalibrationRun::EndStopped() {
  FView.CalText(2, "Calibration... User Stop", TCalColour::Red);
  FResult = {TCalOutcome::UserStop, 0};
  FPhase = TPhase::Done;
}

void TCalibrationRun::Start() {
  const RSensorType& sensor = FCal.Sensor();
  FCal.FCalib = TCalib::Running;
  FCal.FAsFound.clear();
  FCal.FAsLeft.clear();
  FCal.FAsLeftValue = 0;
  FCal.FAsLeftOverRange = false;
  FCal.FZeroAsFound.clear();
  FCal.FZeroAsLeft.clear();
  FCal.FTemperature.clear();
  FCal.FOutOfTolerance = false;
  for (int i = 0; i < 3; ++i) FView.CalText(i, "", TCalColour::Blue);
  FView.CalProgress(0, sensor.mCalTime);
  FStartTime = FClock.Now();
  FPhase = TPhase::Done;
  if (StopRequest().Requested()) return EndStopped();

  uint8_t code = OpenUSBCaught(FLink);
  if (code != LINK_OK) {
    FLink.CloseUSB(code);
    FOp.message(MessageIcon::Error, "Sensor Connection Fail", "Sensor connection failed\rCheck KVT unit and BEAMDOCK");
    FResult.mCode = code;
    return;
  }
  // The handshake may have taken seconds: a Cancel pressed meanwhile keeps 0x42 unsent.
  if (StopRequest().Requested()) {
    FLink.CloseUSB(LINK_OK);
    return EndStopped();
  }
  // 0x42 zeroes first: what the detector reads just before it must be clean air.
  const RZeroReading zero = ReadZeroReading(FLink, FCFG.mSensor);
  FCal.FZeroAsFound = zero.mText;
  RKVTSensor temperature{};
  if (FLink.RequireSensor(temperature, 1) == LINK_OK)
    FCal.FTemperature = FormatTemperature(temperature);
  if (zero.mInGas) {
    FLink.CloseUSB(LINK_OK);
    if (!ZeroMayProceed(FOp, zero, FCFG.mSensor)) {
      FView.CalText(0, ZeroRefusedText(zero), TCalColour::Red);
      FResult = {TCalOutcome::ZeroRefused, APP_ZEROINGAS};
      return;
    }
    code = OpenUSBCaught(FLink);
    if (code == LINK_OK && StopRequest().Requested()) {
      FLink.CloseUSB(LINK_OK);
      return EndStopped();
    }
    if (code != LINK_OK) {
      FLink.CloseUSB(code);
      FOp.message(MessageIcon::Error, "Sensor Connection Fail", "Sensor connection failed\rCheck KVT unit and BEAMDOCK");
      FResult.mCode = code;
      return;
    }
  }
  code = FLink.SensorCalibration(CAL_ZEROSPAN);
  FStarted = true;
  // The zero is taken at the command: the reading now is the zero as left.
  if (code == LINK_OK) FCal.FZeroAsLeft = ReadZeroReading(FLink, FCFG.mSensor).mText;
  FLink.CloseUSB(code);
  FZeroSeconds = SecondsBetween(FStartTime, FClock.Now());
  FResult.mCode = code;
  if (code == LINK_OK) {
    FView.CalText(0, "Zero Calibration... OK", TCalColour::Blue);
    FView.CalText(1,
                  "Apply SPAN Gas (" + sensor.mName + ")... " + SpanText(FCFG.mSensor.mSpanGas) + " " + sensor.mUnit,
                  TCalColour::Blue);
    // "SPAN Calibration..." waits for the first poll: the operator applies the gas first.
    FSpanShown = false;
    FNextPoll = AfterSeconds(FStartTime, DeviceCFG.mCalCheckTime);
    FLimit = AfterSeconds(FStartTime, sensor.mCalTime) + std::chrono::milliseconds(1);
    FNextDue = std::min(FNextPoll, FLimit);
    FPhase = TPhase::Monitor;
  } else if (code == LINK_ERROR) {
    FView.CalText(0, "Zero Calibration... FAIL", TCalColour::Red);
    FResult.mOutcome = TCalOutcome::Failed;
  } else {
    FOp.message(MessageIcon::Error, "Sensor Calibration Fail", "Sensor calibration failed ... Communication error");
  }
}

void TCalibrationRun::Monitor() {
  const RSensorType& sensor = FCal.Sensor();
  const TRunClock::TimePoint now = FClock.Now();
  const double elapsed = SecondsBetween(FStartTime, now);
  // Cancel first, the limit second: a pass that finds both reports the time-out.
  if (FCal.FCalib == TCalib::Running && StopRequest().Requested()) FCal.FCalib = TCalib::StopAsked;
  if (elapsed > sensor.mCalTime) FCal.FCalib = TCalib::TimeLimit;
  bool ended = false;
  if (FCal.FCalib == TCalib::Running && now >= FNextPoll) {
    if (!FSpanShown) FView.CalText(2, "SPAN Calibration...", TCalColour::Blue);
    FSpanShown = true;
    RKVTSensor reading{};
    uint8_t poll = OpenUSBCaught(FLink);
    if (poll == LINK_OK) poll = FLink.RequireSensor(reading, 0);
    if (poll == LINK_OK) {
      // With span gas applied: the first reading is as found, the one at the end as left.
      char text[24];
      const long v = static_cast<int16_t>(reading.mSensor);
      const int dec = reading.mHistory & 3;
      std::snprintf(text, sizeof text, "%.*f", dec, v / std::pow(10.0, dec));
      if (FCal.FAsFound.empty()) FCal.FAsFound = text;
      FCal.FAsLeft = text;
      FCal.FAsLeftValue = v / std::pow(10.0, dec);
      FCal.FAsLeftOverRange = reading.mSensor == kOverRange;
    }
    if (poll == LINK_OK && !(reading.mHistory & 0x80)) {
      if (reading.mHistory & 0x08) {
        FView.CalText(2, "Calibration ... FAIL", TCalColour::Red);
        FResult = {TCalOutcome::Failed, 0};
      } else if (FCal.FAsLeftOverRange ||
                 !WithinTolerance(FCal.FAsLeftValue, FCFG.mSensor.mSpanGas / 10.0, SpanTolerancePct())) {
        // The detector says OK; what it reads on the span gas says otherwise.
        FCal.FOutOfTolerance = true;
        // Short enough for the dialog's result line; the rule goes into the record.
        FView.CalText(2,
                      "FAIL: as left out of tolerance (" +
                          (FCal.FAsLeftOverRange ? std::string("O.L.") : FCal.FAsLeft + " " + sensor.mUnit) + ")",
                      TCalColour::Red);
        FResult = {TCalOutcome::Failed, 0};
      } else {
        FView.CalText(2, "Calibration ... OK", TCalColour::Blue);
        FView.CalProgress(sensor.mCalTime, sensor.mCalTime);
        FResult = {TCalOutcome::Ok, 0};
      }
      ended = true;
    }
    FLink.CloseUSB(poll);
    FNextPoll = AfterSeconds(FClock.Now(), poll == LINK_OK ? DeviceCFG.mCalCheckTime : 1.0);
  } else if (FCal.FCalib != TCalib::Running) {
    const bool stopped = FCal.FCalib == TCalib::StopAsked;
    FView.CalText(2, stopped ? "Calibration... User Stop" : "Calibration... Time-out", TCalColour::Red);
    FResult = {stopped ? TCalOutcome::UserStop : TCalOutcome::TimeOut, 0};
    // The abort's own result is not reported: the run has ended either way.
    const uint8_t abort = OpenUSBCaught(FLink);
    FLink.CloseUSB(abort == LINK_OK ? FLink.SensorCalibration(CAL_CLEAR) : abort);
    ended = true;
  }
  if (!ended || FResult.mOutcome != TCalOutcome::Ok)
    FView.CalProgress(static_cast<int>(std::lround(elapsed)), sensor.mCalTime);
  FOp.pump();
  if (ended) {
    FPhase = TPhase::Done;
    return;
  }
  // Wake for the next poll, the limit, or the next whole second of the progress bar.
  const TRunClock::TimePoint tick = AfterSeconds(FStartTime, std::floor(elapsed + 0.5) + 0.5);
  FNextDue = std::min({FNextPoll, FLimit, tick});
}

void TCalibrationRun::Finish() {
  FView.CalRunning(false);
  FCal.FCalib = TCalib::Idle;
  FCal.FRun = nullptr;
  // A run stopped or refused before 0x42 did nothing to the detector: no calibration record.
  if (FStarted || FResult.mOutcome == TCalOutcome::LinkFailure)
    FCal.RecordCalibration(FOp, FCFG, FResult, FZeroSeconds, SecondsBetween(FStartTime, FClock.Now()) - FZeroSeconds,
                           FLink.PortDevice());
}

double SpanTolerancePct() {
  const std::string text = AppSettings().ReadString(kSection, "Tolerance", "10");
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  // A value that is no number, or none a calibration can be judged by, gives the default.
  return end != text.c_str() && *end == '\0' && v >= 1 && v <= 50 ? v : 10.0;
}

bool WithinTolerance(double reading, double spanGas, double tolerancePct) {
  // A hair of slack, so 22.5 on 25 at 10 % is not lost to the binary fractions.
  return std::fabs(reading - spanGas) <= spanGas * tolerancePct / 100.0 + 1e-9;
}

std::string PercentText(double pct) {
  char text[16];
  std::snprintf(text, sizeof text, "%g", pct);
  return text;
}

RCylinder LoadCylinder() {
  const TSettingsFile settings = AppSettings();
  return {settings.ReadString("SENSORCAL", "CylinderLot", ""), settings.ReadString("SENSORCAL", "CylinderExpiry", "")};
}

void SaveCylinder(const std::string& lot, const std::string& expiry) {
  TSettingsFile settings = AppSettings();
  settings.WriteString("SENSORCAL", "CylinderLot", lot);
  settings.WriteString("SENSORCAL", "CylinderExpiry", expiry);
}

std::string CylinderExpiryProblem(const std::string& expiry, const std::string& today) {
  if (expiry.empty()) return "";
  if (!ValidDateText(expiry)) return "The cylinder's expiry date \"" + expiry + "\" is not a date (YYYY-MM-DD).";
  // Both are YYYY-MM-DD, so text order is date order.
  if (expiry < today) return "The span gas cylinder expired on " + expiry + ".\rUse a cylinder within its date.";
  return "";
}
