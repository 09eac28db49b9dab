#include "app/device/Logging.h"
#include "app/device/ZeroCheck.h"

#include "app/core/IniFile.h"
#include "app/device/Operation.h"
#include "app/records/ServiceRecords.h"
#include "app/core/Settings.h"
#include "link/CommInt.h"
#include "link/KVTComms.h"
#include "model/DeviceUtils.h"
#include "model/SensorTypes.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr const char* kUnitErrorCaption = "KVT Unit Information Error";
constexpr const char* kUnitErrorText = "Do not read KVT unit configuration data\rCheck KVT and BEAMDOCK connection";
constexpr const char* kFatalCaption = "BEAMDOCK Error";
constexpr const char* kFatalText = "BEAMDOCK Error\rCheck BEAMDOCK connection\rData logging stopped";

// A detector that never reports its calibration running is given up after this long.
constexpr double kCalStartLimit = 10.0;
// How often the held port is looked at between exchanges: a pulled-out adapter is told
// within a second whatever the poll and check intervals are.
constexpr auto kPortWatch = std::chrono::milliseconds(500);

struct RCalButton {
  uint8_t code;
  const char* name;
};
// Indexed by FBtnSel - 1.
constexpr RCalButton kCalButtons[] = {{CAL_ZEROSPAN, "Zero/Span CAL."}, {CAL_ZERO, "Zero CAL."}, {CAL_SPAN, "Span CAL."},
                                      {CAL_CLEAR, "Clear CAL."}, {CAL_CLEARPEAK, "Clear Peak"}, {CAL_BUMPPASS, "Send Bump Pass"},
                                      {CAL_BUMPFAIL, "Send Bump Fail"}};

const char* CalName(uint8_t code) {
  for (const RCalButton& b : kCalButtons)
    if (b.code == code) return b.name;
  return "";
}


}  // namespace

bool IsFatalLoggingStatus(uint8_t code) {
  return (code >= 1 && code <= 6) || code == 8 || code == 9 || code == LINK_PORTERROR || code >= 0xFC;
}

TLoggingRun::TLoggingRun(TComKVT& link, Operator& op, TLoggingView& view, TRunClock& clock)
    : FLink(link), FOp(op), FView(view), FClock(clock) {
  FHistory.Reset(DeviceCFG.mLogDisplayTime);
}

uint8_t TLoggingRun::StartLogging() {
  StopRequest().Clear();
  FLogStart = true;
  FView.LoggingButtons(true);
  FView.CalProgress(0, DeviceCFG.mCalTime);
  FView.ShowCalLabel("", TLabelColour::Blue);

  uint8_t code = OpenUSBCaught(FLink);
  if (code == LINK_OK) code = FLink.RequireIdenty(FIdentity);
  if (code == LINK_OK) code = CheckProduct(FIdentity.mPID, 0);
  if (code == LINK_OK) code = FLink.ReadUnitCFGData(FUnit, DeviceCFG.mUnitPacketSize, DeviceCFG.mUnitDataSize);
  if (code == LINK_OK)
    code = FLink.ReadSensorCFGData(FSensor, DeviceCFG.mUnitPacketSize, DeviceCFG.mUnitSensorDataSize);
  FLink.CloseUSB(code);
  if (code == LINK_OK) FView.ShowSensorBlock(FSensor);

  if (code != LINK_OK) {
    FOp.message(MessageIcon::Error, kUnitErrorCaption, kUnitErrorText);
  } else if (StopRequest().Requested()) {
    code = LINK_OK;
  } else {
    FileRequest dialog{"Save Data Logging Data...", "Data file|*.csv", "csv", DeviceCFG.mLogSaveDir,
                       DataLogFileName(FIdentity.mSerial, std::chrono::system_clock::now())};
    std::string fileName;
    if (const std::optional<std::string> file = FOp.chooseSaveFile(dialog)) {
      fileName = *file;
      DeviceCFG.mLogSaveDir = FolderOfFile(fileName);
      AppSettings().WriteString("Logging", "SaveDirectory", DeviceCFG.mLogSaveDir);
      FFile = TDataLogFile(fileName);
      FFileErrorTold = false;
      if (!FFile.WriteHeader(FUnit)) {
        FView.DataLogError(FFile.Error());
        FFileErrorTold = true;
      }
    }
    code = Loop(fileName);
  }

  FLogStart = false;
  FView.LoggingButtons(false);
  FView.CalProgress(0, DeviceCFG.mCalTime);
  FView.ShowCalLabel("", TLabelColour::Blue);
  return code;
}

uint8_t TLoggingRun::RunLogging(const std::string& fileName) {
  StopRequest().Clear();
  FLogStart = true;
  return Loop(fileName);
}

uint8_t TLoggingRun::Loop(const std::string& fileName) {
  if (FFile.FileName() != fileName) {
    FFile = TDataLogFile(fileName);
    FFileErrorTold = false;
  }
  FBtnSel = 0;
  FHistory.Reset(DeviceCFG.mLogDisplayTime);
  FView.ChartReset(FHistory.AxisMin(), FHistory.AxisMax(), FHistory.Increment());
  FStart = FClock.Now();
  FNextPoll = FNextCheck = FStart;
  FMonitor = TMonitor::Idle;
  FPollInterval = DeviceCFG.mLogInterval;

  if (StopRequest().Requested()) FLogStart = false;
  if (!FLogStart) return LINK_OK;
  FStatus = OpenUSBCaught(FLink);
  FConnected = FStatus == LINK_OK;
  DriveRun(*this, FClock);
  FLink.CloseUSB(FStatus);
  FLogStart = false;
  return IsFatalLoggingStatus(FStatus) ? FStatus : LINK_OK;
}

TRunClock::TimePoint TLoggingRun::NextDue() const {
  // A pending button or a calibration about to set up polling is served at once.
  if (FBtnSel != 0 || FMonitor == TMonitor::SetUp) return FClock.Now();
  return std::min({FNextPoll, FNextCheck, FClock.Now() + kPortWatch});
}

bool TLoggingRun::Pass() {
  // Read before anything is sent: the handshake or a wait may have taken the press.
  if (StopRequest().Requested()) {
    FLogStart = false;
    return false;
  }
  if (FLink.PortLost()) FStatus = LINK_PORTERROR;
  if (IsFatalLoggingStatus(FStatus)) {
    FLogStart = false;
    FOp.message(MessageIcon::Error, kFatalCaption, kFatalText);
    return false;
  }
  if (FBtnSel != 0) {
    SendCalCommand(kCalButtons[std::min<uint8_t>(FBtnSel, 7) - 1].code);
    FBtnSel = 0;
  }
  MonitorStep();

  const TRunClock::TimePoint now = FClock.Now();
  const bool pollDue = now >= FNextPoll;
  if (pollDue || now >= FNextCheck) {
    uint8_t code;
    bool shown = false;
    if (FConnected && pollDue) {
      code = FLink.RequireSensor(FSet.mSensor, 0);
      if (code == LINK_OK && FView.BatteryTicked()) code = FLink.RequireSensor(FSet.mBattery, 2);
      if (code == LINK_OK && FView.TemperatureTicked()) code = FLink.RequireSensor(FSet.mTemperature, 1);
      if (code == LINK_OK) {
        ShowReading(FSet, SecondsBetween(FStart, FClock.Now()));
        shown = true;
      }
      FNextPoll = AfterSeconds(FClock.Now(), FPollInterval);
    } else if (FConnected) {
      code = FLink.ConnectKVTCheck();
    } else {
      code = FLink.ConnectKVT(ConnectSeconds());
    }
    FConnected = code == LINK_OK;
    FStatus = code;
    FNextCheck = FClock.Now() + std::chrono::milliseconds(DeviceCFG.mLogConnectTime);
    if (shown && OnReading) OnReading(FSet);
  }
  FOp.pump();
  return true;
}

void TLoggingRun::ShowReading(const RReadingSet& set, double seconds) {
  FSet = set;
  FShownHistory = set.mSensor.mHistory;
  FView.ShowReading(ReadingTexts(set));
  if (FHistory.Add(seconds, ChartValue(set.mSensor)))
    FView.ChartScroll(FHistory.AxisMin(), FHistory.AxisMax(), FHistory.Visible());
  else
    FView.ChartAdd({seconds, ChartValue(set.mSensor)});
  // One clock reading per row: the terminal prints the very row the file got.
  FRow = DataLogRow(set, std::chrono::system_clock::now());
  if (FFile.Enabled() && !FFile.AppendLine(FRow) && !FFileErrorTold) {
    FView.DataLogError(FFile.Error());
    FFileErrorTold = true;
  }
}

void TLoggingRun::SendCalCommand(uint8_t code) {
  const std::string name = CalName(code);
  FView.ShowCalLabel("", TLabelColour::Blue);
  uint8_t result = FLink.ConnectKVTCheck();
  if (result != LINK_OK) result = FLink.ConnectKVT(ConnectSeconds());
  if (result == LINK_OK && (code == CAL_ZERO || code == CAL_ZEROSPAN)) {
    // Both start with a zero: not in gas, unless the operator says so with the reading shown.
    const RZeroReading zero = ReadZeroReading(FLink, FSensor);
    if (!ZeroMayProceed(FOp, zero, FSensor)) {
      FView.ShowCalLabel(name + " ... Refused: reads " + zero.mText, TLabelColour::Red);
      return;
    }
    if (zero.mInGas && FLink.ConnectKVTCheck() != LINK_OK) result = FLink.ConnectKVT(ConnectSeconds());
  }
  if (result == LINK_OK) result = FLink.SensorCalibration(code);

  if (result == LINK_OK) {
    if (code == CAL_SPAN || code == CAL_ZEROSPAN) {
      // Recorded when the monitor sees the outcome.
      FCalCode = code;
      FView.CalButtons(false);
      FView.CalProgress(0, DeviceCFG.mCalTime);
      FView.ShowCalLabel(name + " ... START", TLabelColour::Blue);
      FMonitor = TMonitor::SetUp;
      FCalStart = FClock.Now();
    } else {
      if ((code == CAL_ZERO || code == CAL_CLEAR) && FMonitor != TMonitor::Idle) FMonitor = TMonitor::Done;
      FView.ShowCalLabel(name + " ... OK", TLabelColour::Blue);
      RecordAction(code, result, name + " ... OK", code == CAL_ZERO ? "zero=OK\n" : "");
    }
    return;
  }
  std::string text;
  if (result == LINK_NAK)
    text = name + " ... Negative";
  else if (result == LINK_ERROR)
    text = name + (code == CAL_ZEROSPAN ? " ... Zero Cal. FAIL" : " ... FAIL");
  else
    text = name + " ... Communication Error";
  FView.ShowCalLabel(text, TLabelColour::Red);
  if (!IsFatalLoggingStatus(result) && result != LINK_NORESPONSE && result != LINK_NOCONNECT)
    RecordAction(code, result, text, code == CAL_ZERO || code == CAL_ZEROSPAN ? "zero=FAIL\n" : "");
}

void TLoggingRun::RecordAction(uint8_t code, uint8_t result, const std::string& text, std::string details) {
  // The detector is the one this logging run's connection met at its start.
  TOperationRecord record(CalName(code));
  record.Identity(FIdentity);
  RecordPort(record, FLink.PortDevice());
  record.Data().mDetails = details;
  const bool ok = result == LINK_OK && text.find("FAIL") == std::string::npos && text.find("Abort") == std::string::npos;
  if (!ok) record.Data().mResult = text.find("Timeout") != std::string::npos ? "Time-out" : "FAIL";
  if (ok && code == CAL_BUMPFAIL) record.Data().mResult = "FAIL";  // a bump sent as failed
  if (code == CAL_BUMPPASS || code == CAL_BUMPFAIL) {
    // The operator's verdict: the readings on screen are not what it rests on.
    record.Detail("verdict", "hand");
    record.Detail("note", "verdict given by hand, no reading recorded");
  }
  record.End(result != LINK_OK ? result : ok ? 0 : 67, text, true);
  CommitOperationRecord(FOp, record);
}

void TLoggingRun::RecordCalOutcome(const std::string& text, const char* span) {
  if (FCalCode == 0) return;
  RecordAction(FCalCode, 0, text,
               std::string("zero=") + (FCalCode == CAL_ZEROSPAN ? "OK" : "-") + "\nspan=" + span + "\nspan_s=" +
                   std::to_string(std::lround(SecondsBetween(FCalStart, FClock.Now()))) + "\n");
  FCalCode = 0;
}

void TLoggingRun::MonitorStep() {
  const bool inProgress = FShownHistory & 0x80;
  const bool failed = FShownHistory & 0x08;
  switch (FMonitor) {
    case TMonitor::SetUp:
      FPollInterval = 1;
      FNextPoll = FClock.Now();
      FMonitor = TMonitor::WaitStart;
      break;
    case TMonitor::WaitStart:
      if (inProgress) {
        FView.ShowCalLabel("Span Calibration....", TLabelColour::Blue);
        FCalStart = FClock.Now();
        FMonitor = TMonitor::Running;
      } else if (SecondsBetween(FCalStart, FClock.Now()) > kCalStartLimit) {
        SendCalCommand(CAL_CLEAR);
        FView.ShowCalLabel("Calibration Abort ... Timeout", TLabelColour::Red);
        RecordCalOutcome("Calibration Abort ... Timeout", "time-out");
        FMonitor = TMonitor::Done;
      }
      break;
    case TMonitor::Running: {
      const double elapsed = SecondsBetween(FCalStart, FClock.Now());
      FView.CalProgress(static_cast<int>(std::lround(elapsed)), DeviceCFG.mCalTime);
      if (inProgress && elapsed > DeviceCFG.mCalTime) {
        SendCalCommand(CAL_CLEAR);
        FView.ShowCalLabel("Calibration FAIL ... Timeout", TLabelColour::Red);
        RecordCalOutcome("Calibration FAIL ... Timeout", "time-out");
        FMonitor = TMonitor::Done;
      } else if (!inProgress) {
        if (failed)
          FView.ShowCalLabel("Calibration ... FAIL", TLabelColour::Red);
        else
          FView.ShowCalLabel("Calibration ... OK", TLabelColour::Blue);
        RecordCalOutcome(failed ? "Calibration ... FAIL" : "Calibration ... OK", failed ? "FAIL" : "OK");
        FMonitor = TMonitor::Done;
      }
      break;
    }
    case TMonitor::Done:
      FPollInterval = DeviceCFG.mLogInterval;
      FView.CalButtons(true);
      break;
    default:
      break;
  }
}
