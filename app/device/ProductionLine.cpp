#include "app/device/ProductionLine.h"

#include "app/config/CfgView.h"
#include "app/device/DeviceSession.h"
#include "app/device/Operation.h"
#include "app/core/Results.h"
#include "app/records/ServiceRecords.h"
#include "link/CommInt.h"
#include "link/KVTComms.h"
#include "model/CfgFile.h"
#include "model/Checksum.h"
#include "model/CsvText.h"
#include "model/DeviceUtils.h"
#include "model/SensorTypes.h"
#include "model/TimeText.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

// A line runs unattended: the operations' boxes and status lines would stop it at every
// unit, so they are kept here and the line reports each unit once in its own view.
class TLineOperator : public Operator {
 public:
  explicit TLineOperator(Operator& inner) : FInner(inner) {}
  void showStatus(StatusColour, const std::string&) override {}
  void message(MessageIcon, const std::string&, const std::string& text) override { FLastMessage = text; }
  bool ask(const std::string&, const std::string&) override { return false; }
  std::optional<std::string> chooseOpenFile(const FileRequest&) override { return std::nullopt; }
  std::optional<std::string> chooseSaveFile(const FileRequest&) override { return std::nullopt; }
  void memoLine(const std::string& line) override { FInner.memoLine(line); }
  void pump() override { FInner.pump(); }
  TOperationGate& Gate() override { return FInner.Gate(); }
  std::string FLastMessage;

 private:
  Operator& FInner;
};

std::string FirstLine(const std::string& text) {
  const size_t end = text.find_first_of("\r\n");
  return end == std::string::npos ? text : text.substr(0, end);
}

// A detector's life counter runs down while it is on; a read-back this much below the value
// written is still the value written.
constexpr uint32_t kLifeRunDownSeconds = 60;


}  // namespace

std::string LineUnitText(const RLineUnit& u) {
  std::string t = u.mTime + " " + (u.mSerial.empty() ? "-" : u.mSerial) + " " + (u.mPass ? "PASS" : "FAIL");
  if (!u.mPass) t += " " + u.mReason;
  const std::string names = ChangedNames(u.mChanges);
  if (!names.empty()) t += (u.mPass ? " " : "; changed ") + names;
  return t;
}

std::string LineCSV(const std::vector<RLineUnit>& units) {
  std::string t = "Time,Serial,Result,Reason,Fields changed\r\n";
  for (const RLineUnit& u : units)
    t += CsvQuoted(u.mTime) + "," + CsvQuoted(u.mSerial) + "," + (u.mPass ? "PASS" : "FAIL") + "," +
         CsvQuoted(u.mReason) + "," + CsvQuoted(ChangedNames(u.mChanges)) + "\r\n";
  return t;
}

TProductionLine::TProductionLine(Operator& op, TComKVT& link, const RKVTCFG& fileCfg, TLineView& view,
                                 TRunClock& clock, int count)
    : FAttemptSeconds(std::min(1.0, static_cast<double>(ConnectSeconds()))),
      FOp(op),
      FLink(link),
      FFileCfg(fileCfg),
      FView(view),
      FClock(clock),
      FCount(count) {}

std::optional<RWriteRefusal> TProductionLine::Refusal() const {
  // Every value the rules look at comes from the file, whichever detector it meets.
  RKVTCFG cfg{};
  SetDefaultCFG(cfg);
  TakeOverFileFields(cfg, FFileCfg);
  return RefuseForDevice(cfg, FactoryMode);
}

int TProductionLine::Passed() const {
  int n = 0;
  for (const RLineUnit& u : FUnits) n += u.mPass ? 1 : 0;
  return n;
}

bool TProductionLine::Step() {
  // A pass that does not rest is followed by the next at once.
  FNextDue = FClock.Now();
  if (Running() && StopRequest().Requested())
    FState = TState::Done;
  else if (FState == TState::WaitUnit)
    TryUnit();
  else if (FState == TState::WaitGone)
    TryGone();
  return Running();
}

// The rest counts from the end of the attempt.
void TProductionLine::Rest() { FNextDue = AfterSeconds(FClock.Now(), FPauseSeconds); }

void TProductionLine::TryUnit() {
  TLineOperator quiet(FOp);
  bool talked = false;
  RLineUnit unit;
  std::string step = "connect";
  uint8_t code = LINK_OK;
  std::string error;
  ROperationOptions options;
  options.connectSeconds = static_cast<float>(FAttemptSeconds);
  TOperationRecord record(kWriteDeviceName);
  options.record = &record;
  try {
    code = RunOperation(
        quiet, FLink, kWriteDeviceName,
        [&] {
          talked = true;
          return Unit(unit, step, record);
        },
        options);
  } catch (const ECommError& e) {
    error = e.what();
  } catch (const std::exception& e) {
    if (!talked) throw;
    error = e.what();
    code = LINK_ERROR;
  }
  if (!talked) {
    const std::string what = !error.empty()             ? "Adapter: " + error
                             : code == LINK_NOCONNECT ? std::string("Waiting for a detector")
                                                      : "Waiting: " + FirstLine(ResultText(code).mMessage);
    if (what != FWaiting) FView.ShowWaiting(FWaiting = what);
    Rest();
    return;
  }
  FWaiting.clear();
  unit.mTime = LocalDateTimeText(std::time(nullptr));
  unit.mCode = code;
  unit.mPass = code == LINK_OK;
  if (!unit.mPass && unit.mReason.empty()) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", code);
    const std::string why = !error.empty() ? error : FirstLine(quiet.FLastMessage.empty() ? ResultText(code).mMessage
                                                                                          : quiet.FLastMessage);
    unit.mReason = step + " (" + hex + "): " + why;
  }
  FUnits.push_back(unit);
  FView.ShowUnit(unit);
  if (FAfterUnit) FAfterUnit();
  if (StopRequest().Requested() || (FCount > 0 && static_cast<int>(FUnits.size()) >= FCount)) {
    FState = TState::Done;
    return;
  }
  FState = TState::WaitGone;
  FMisses = 0;
  FView.ShowWaiting(FWaiting = "Take the detector away");
}

void TProductionLine::TryGone() {
  uint8_t code;
  try {
    code = FLink.OpenUSB(static_cast<float>(FAttemptSeconds));
  } catch (const ECommError&) {
    code = LINK_PORTERROR;
  }
  FLink.CloseUSB(code);
  // Only silence counts: an adapter that cannot be opened says nothing about the detector.
  FMisses = code == LINK_NOCONNECT ? FMisses + 1 : code == LINK_OK ? 0 : FMisses;
  if (FMisses >= 2) {
    FState = TState::WaitUnit;
    FView.ShowWaiting(FWaiting = "Waiting for a detector");
    return;
  }
  Rest();
}

uint8_t TProductionLine::Unit(RLineUnit& unit, std::string& step, TOperationRecord& record) {
  TDeviceSession session;
  step = "read";
  uint8_t code = session.ReadDeviceInfo(FLink, &record);
  unit.mSerial = SerialText(session.FIdentity.mSerial);
  if (code == APP_NOTKVT) step = "product type";
  if (code != LINK_OK) return code;
  const RKVTCFG before = session.FKVTCFG;
  unit.mSerial = SerialText(before.mUnit.mSerial);
  record.Detail("line", FFileName);
  record.Data().mCfgBefore = CfgImage(before);

  if (session.FIdentity.mSensor != FFileCfg.mSensor.mSensorType) {
    step = "sensor type";
    unit.mReason = "sensor type: detector " + std::to_string(session.FIdentity.mSensor) + ", file " +
                   std::to_string(FFileCfg.mSensor.mSensorType);
    return APP_SENSORTYPE;
  }

  // The file's settings over what the detector holds, as Read File does; every unit keeps its
  // own serial number, the file's would give the whole line one.
  RKVTCFG working = before;
  TakeOverFileFields(working, FFileCfg);
  std::memcpy(working.mUnit.mSerial, before.mUnit.mSerial, sizeof working.mUnit.mSerial);
  session.FKVTCFG = working;
  session.ShowCFG();
  const RKVTCFG collected = session.CollectShown(true);
  if (const std::optional<RWriteRefusal> refusal = RefuseForDevice(collected, FactoryMode)) {
    step = "check";
    unit.mReason = "check: " + FirstLine(refusal->mText);
    return APP_SENSORTYPE;
  }
  step = "write";
  session.FKVTCFG = collected;
  code = session.WriteDeviceInfo(FLink);
  if (code != LINK_OK) return code;

  // The read of any operation, which also keeps what it read as the record's configuration.
  step = "read back";
  TDeviceSession readBack;
  code = readBack.ReadDeviceInfo(FLink);
  if (code != LINK_OK) return code;
  const RKVTCFG back = readBack.FKVTCFG;
  unit.mChanges = DiffCFG(before, back);
  record.Config(back);
  record.Detail("changed", ChangedNames(unit.mChanges));

  // Every byte written must be there; the life counter may have run down meanwhile.
  const RKVTCFG expected = AfterWrite(before, collected, FactoryMode);
  std::vector<bool> mask = WrittenMask(FactoryMode);
  const size_t life = offsetof(RKVTUnitCFG, mLifeRemaining);
  if (FactoryMode) {
    for (size_t i = 0; i < sizeof(uint32_t); ++i) mask[life + i] = false;
  }
  RKVTCFG got = expected;
  const auto* b = reinterpret_cast<const uint8_t*>(&back);
  auto* g = reinterpret_cast<uint8_t*>(&got);
  for (size_t i = 0; i < mask.size(); ++i)
    if (mask[i]) g[i] = b[i];
  const uint32_t wantLife = expected.mUnit.mLifeRemaining, gotLife = back.mUnit.mLifeRemaining;
  if (FactoryMode && (gotLife > wantLife || wantLife - gotLife > kLifeRunDownSeconds)) got.mUnit.mLifeRemaining = gotLife;
  FillBlockCRCs(got);
  const std::vector<RFieldChange> wrong = DiffCFG(expected, got);
  if (!wrong.empty()) {
    const RFieldChange& w = wrong.front();
    unit.mReason = "read back: " + w.mName + " written " + w.mFrom + ", read " + w.mTo;
    record.Detail("readback", unit.mReason);
    return APP_READBACK;
  }
  record.Detail("readback", "OK");
  return LINK_OK;
}
