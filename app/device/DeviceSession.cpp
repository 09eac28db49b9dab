#include "app/device/DeviceSession.h"

#include "app/config/CfgFields.h"
#include "app/config/CfgView.h"
#include "app/device/Operation.h"
#include "app/core/Results.h"
#include "app/records/ServiceRecords.h"
#include "link/CommInt.h"
#include "link/KVTComms.h"
#include "model/CfgFile.h"
#include "model/Checksum.h"
#include "model/DeviceUtils.h"
#include "model/SensorTypes.h"

#include <algorithm>
#include <cstddef>
#include <optional>

namespace {

// Up to kCFGAttempts tries, stopping at the first success; the result is that of the last try.
template <class F>
uint8_t Attempts(F&& step) {
  uint8_t code = LINK_OK;
  for (int i = 0; i < kCFGAttempts; ++i) {
    code = step();
    if (code == LINK_OK) break;
  }
  return code;
}


// Hibernate's read ends without the green status when it succeeds: open, commands, close.
// Mirrors the operation frame's handling of errors raised while the port is open.
uint8_t OpenRunClose(Operator& op, TComKVT& link, const std::string& name, const std::function<uint8_t()>& commands) {
  ShowStatus(op, StatusColour::Running, name + "...");
  uint8_t code;
  try {
    code = link.OpenUSB(ConnectSeconds());
  } catch (...) {
    link.ComClose();
    throw;
  }
  if (code == LINK_OK) {
    try {
      code = commands();
    } catch (...) {
      link.CloseUSB(LINK_ERROR);
      throw;
    }
  }
  link.CloseUSB(code);
  return code;
}


double Clamp(double v, double lo, double hi) { return std::clamp(v, lo, std::max(lo, hi)); }
int Clamp(int v, int lo, int hi) { return std::clamp(v, lo, std::max(lo, hi)); }

}  // namespace

FileRequest CFGOpenDialog() { return {kCFGOpenTitle, kCFGFilter, kCFGDefaultExt, AppDir + kCFGFolder, {}}; }
FileRequest CFGSaveDialog() { return {kCFGSaveTitle, kCFGFilter, kCFGDefaultExt, AppDir + kCFGFolder, {}}; }

TDeviceSession::TDeviceSession() { SetDefaultCFG(FKVTCFG); }

void TDeviceSession::SetProductName(const std::string& name) {
  FProductName = name;
  if (OnProductName) OnProductName(name);
}

void TDeviceSession::ShowCFG() {
  const int pos = FindSensorType(FKVTCFG.mSensor.mSensorType);
  if (pos >= 0) {
    FRangeMin = SensorTypes[static_cast<size_t>(pos)].mMin;
    FRangeMax = SensorTypes[static_cast<size_t>(pos)].mMax;
  }
  if (OnShowCFG) OnShowCFG();
  FUnwrittenEdits = false;  // the form shows FKVTCFG again
}

uint8_t TDeviceSession::ReadDeviceInfo(TComKVT& link, TOperationRecord* record) {
  SetProductName("");
  RKVTIdenty identity{};
  uint8_t code = link.RequireIdenty(identity);
  if (code == LINK_OK) FIdentity = identity;
  if (code == LINK_OK && record) record->Identity(identity);
  if (code == LINK_OK) code = CheckProduct(identity.mPID, 0);
  RKVTUnitCFG unit{};
  RKVTSensorCFG sensor{};
  if (code == LINK_OK) {
    SetProductName(GetProductName(identity.mPID));
    code = Attempts([&] { return link.ReadUnitCFGData(unit, DeviceCFG.mUnitPacketSize, DeviceCFG.mUnitDataSize); });
  }
  if (code == LINK_OK)
    code = Attempts(
        [&] { return link.ReadSensorCFGData(sensor, DeviceCFG.mUnitPacketSize, DeviceCFG.mUnitSensorDataSize); });
  if (code == LINK_OK) {
    FKVTCFG.mUnit = unit;
    FKVTCFG.mSensor = sensor;
    FReadSW = FKVTCFG.mUnit.mFWVersion;
    FFormKnown = true;
    ShowCFG();
    if (record) record->Config(FKVTCFG);
  }
  return code;
}

uint8_t TDeviceSession::WriteDeviceInfo(TComKVT& link, TOperationRecord* record) {
  RKVTIdenty identity{};
  uint8_t code = link.RequireIdenty(identity);
  if (code == LINK_OK) FIdentity = identity;
  if (code == LINK_OK && record) record->Identity(identity);
  if (code == LINK_OK) code = CheckProduct(identity.mPID, 0);
  // The user view may not change a detector's sensor: its alarm levels belong to that sensor.
  if (!FactoryMode && code == LINK_OK && FKVTCFG.mSensor.mSensorType != identity.mSensor) code = APP_SENSORTYPE;

  RComKVTReadBuf image{};
  CFGToSendBuf(FKVTCFG, image);
  const struct {
    uint16_t start, size;
  } steps[] = {{DeviceCFG.mUnitWriteFactoryStart, DeviceCFG.mUnitWriteFactorySize},
               {DeviceCFG.mUnitWriteUserStart, DeviceCFG.mUnitWriteUserSize},
               {DeviceCFG.mSensorWriteFactoryStart, DeviceCFG.mSensorWriteFactorySize},
               {DeviceCFG.mSensorWriteUserStart, DeviceCFG.mSensorWriteUserSize}};
  for (const auto& step : steps) {
    if (code != LINK_OK) break;
    if (step.size == 0) continue;
    // Start counts from 1; a start of 0 wraps to an address the link refuses, never a write.
    const auto address = static_cast<uint16_t>(step.start - 1);
    code = Attempts([&] { return link.WriteCFGData(image, address, step.size); });
    if (code == LINK_OK && record) record->WrittenBytes(FKVTCFG, address, step.size);
  }
  if (FactoryMode && code == LINK_OK) {
    code = Attempts([&] { return link.WriteCFGTimeData(FKVTCFG.mUnit.mLifeRemaining); });
    if (code == LINK_OK && record)
      record->WrittenBytes(FKVTCFG, offsetof(RKVTUnitCFG, mLifeRemaining), sizeof FKVTCFG.mUnit.mLifeRemaining);
  }
  return code;
}

RSessionResult TDeviceSession::ReadDevice(Operator& op, TComKVT& link) {
  BeginAction();
  // The record keeps the configuration read, so the fleet's due dates follow reads too.
  const uint8_t code = CatchingPortErrors(op, kReadDeviceName, [&] {
    TOperationRecord record(kReadDeviceName);
    ROperationOptions options;
    options.record = &record;
    return RunOperation(op, link, kReadDeviceName, [&] { return ReadDeviceInfo(link, &record); }, options);
  });
  return {code};
}

bool TDeviceSession::RefuseTyped(Operator& op, bool device, const std::vector<RShownNumber>& shown) {
  const std::optional<RWriteRefusal> typed = RefuseOutOfRange(shown, device ? "the detector" : "the file");
  if (!typed) return false;
  BeginAction();
  op.message(MessageIcon::Error, kWriteRefusedCaption, typed->mText);
  ShowRefused(op, device ? kWriteDeviceName : kWriteFileName);
  return true;
}

RSessionResult TDeviceSession::WriteDevice(Operator& op, TComKVT& link, const RKVTCFG& collected) {
  BeginAction();
  FKVTCFG = collected;
  if (FKVTCFG.mSensor.mSensorType == 0) {
    op.message(MessageIcon::Error, kNoSensorCaption, FactoryMode ? kNoSensorFactoryText : kNoSensorUserText);
    ShowRefused(op, kWriteDeviceName);
    return {0, TSessionStop::NoSensor};
  }
  if (const RSessionResult refused = RefuseWrite(op, FKVTCFG); refused.mStop != TSessionStop::None) {
    ShowRefused(op, kWriteDeviceName);
    return refused;
  }
  if (!FFormKnown) {
    if (!FactoryMode) {
      op.message(MessageIcon::Error, kUnknownFormCaption, kUnknownFormUserText);
      ShowRefused(op, kWriteDeviceName);
      return {0, TSessionStop::WriteRefused};
    }
    if (!op.ask(kUnknownFormCaption, kUnknownFormFactoryText)) {
      ShowCancelled(op, kWriteDeviceName);
      return {0, TSessionStop::Declined};
    }
  }
  const uint8_t code = CatchingPortErrors(op, kWriteDeviceName, [&] {
    TOperationRecord record(kWriteDeviceName);
    ROperationOptions options;
    options.record = &record;
    return RunOperation(op, link, kWriteDeviceName, [&] { return WriteDeviceInfo(link, &record); }, options);
  });
  if (code == LINK_OK) FFormKnown = true, FUnwrittenEdits = false;  // the detector holds it now
  return {code};
}

RSessionResult TDeviceSession::RefuseWrite(Operator& op, const RKVTCFG& cfg) {
  const std::optional<RWriteRefusal> refusal = RefuseForDevice(cfg, FactoryMode);
  if (!refusal) return {};
  op.message(MessageIcon::Error, kWriteRefusedCaption, refusal->mText);
  return {0, TSessionStop::WriteRefused};
}

RSessionResult TDeviceSession::Hibernate(Operator& op, TComKVT& link) {
  if (FUnwrittenEdits && !op.ask(kHibernateCaption, kHibernateEditsText)) {
    ShowCancelled(op, kHibernateName);
    return {0, TSessionStop::Declined};
  }
  uint8_t code;
  try {
    code = OpenRunClose(op, link, kReadDeviceName, [&] { return ReadDeviceInfo(link); });
  } catch (const ECommError& e) {
    ReportPortOpenError(op, kReadDeviceName, e);
    return {LINK_PORTERROR};
  }
  if (code != LINK_OK) {
    EndOperation(op, code, kReadDeviceName, PortErrorReason(link));
    return {code};
  }
  // The read went well; what the stops below leave on the status line is Hibernate's own end.
  if (FKVTCFG.mUnit.mAllowSuspend != kAllowSuspend) {
    op.message(MessageIcon::Error, kCheckUnitCaption, kCheckUnitText);
    ShowRefused(op, kHibernateName, kNotSupportedSuffix);
    return {0, TSessionStop::CheckUnit};
  }
  if (!FHibernateBtn && !op.ask(kHibernateCaption, kHibernateQuestion)) {
    ShowCancelled(op, kHibernateName);
    return {0, TSessionStop::Declined};
  }
  FHibernateBtn = true;

  ROperationOptions options;
  // A closing command would wake the detector that has just gone to sleep.
  options.close = [](TComKVT& l, uint8_t c) { l.CloseUSB(c == LINK_OK ? APP_HIBERNATE : c); };
  options.mapResult = [](uint8_t c) { return c == LINK_ERROR ? APP_HIBERNATE : c; };
  // No identity request after the command: it would wake the detector. The detector is the one
  // the read just before found.
  TOperationRecord record(kHibernateName);
  record.Device(FKVTCFG.mUnit.mSerial, FKVTCFG.mSensor.mSensorType);
  options.record = &record;
  code = CatchingPortErrors(op, kHibernateName, [&] {
    return RunOperation(op, link, kHibernateName, [&] { return link.SendHibernate(); }, options);
  });
  return {code};
}

RSessionResult TDeviceSession::ReadFile(Operator& op, FileRequest& dialog) {
  BeginAction();
  dialog.folder = AppDir + kCFGFolder;
  const std::optional<std::string> file = op.chooseOpenFile(dialog);
  if (!file) {
    ShowCancelled(op, kReadFileName);
    return {0, TSessionStop::Cancelled};
  }
  RKVTCFG working = FKVTCFG;
  const CFGRefusal refusal = LoadCFGFileInto(*file, working);
  if (refusal != CFGRefusal::None) {
    ShowStatus(op, StatusColour::Failure, std::string(kReadFileName) + "... FAIL");
    op.message(MessageIcon::Error, kCFGReadCaption, CFGRefusalText(refusal));
    return {0, TSessionStop::FileRefused};
  }
  FKVTCFG = working;
  FFormKnown = true;
  ShowCFG();
  ShowStatus(op, StatusColour::Success, std::string(kReadFileName) + "... OK: " + FileNameOf(*file));
  return {};
}

RSessionResult TDeviceSession::WriteFile(Operator& op, FileRequest& dialog, const RKVTCFG& collected) {
  BeginAction();
  FKVTCFG = collected;
  dialog.folder = AppDir + kCFGFolder;
  const std::optional<std::string> file = op.chooseSaveFile(dialog);
  if (!file) {
    ShowCancelled(op, kWriteFileName);
    return {0, TSessionStop::Cancelled};
  }
  return SaveFile(op, *file);
}

RSessionResult TDeviceSession::SaveFile(Operator& op, const std::string& path) {
  std::string error;
  if (!SaveCFGFile(path, FKVTCFG, FactoryMode, &error)) {
    ShowStatus(op, StatusColour::Failure, std::string(kWriteFileName) + "... FAIL");
    op.message(MessageIcon::Error, kCFGWriteCaption, kCFGNotSavedText);
    return {0, TSessionStop::FileNotSaved};
  }
  FUnwrittenEdits = false;  // kept in the file
  ShowStatus(op, StatusColour::Success, std::string(kWriteFileName) + "... OK: " + FileNameOf(path));
  return {};
}

RKVTCFG TDeviceSession::CollectShown(bool forDevice, bool* lifeLimited) const {
  if (lifeLimited) *lifeLimited = false;
  const int pos = FindSensorType(FKVTCFG.mSensor.mSensorType);
  const double lo = FRangeMin, hi = FRangeMax;
  // The limits of the boxes (the alarm boxes take the sensor's range in ShowCFG).
  RUserFields user = UserFieldsFromCFG(FKVTCFG, pos);
  user.mAlarmHigh = Clamp(user.mAlarmHigh, lo, hi);
  user.mAlarmLow = Clamp(user.mAlarmLow, lo, hi);
  user.mCalDays = Clamp(user.mCalDays, 0, 365);
  user.mBumpDays = Clamp(user.mBumpDays, 0, 365);
  user.mTestHours = Clamp(user.mTestHours, 6, 24);
  if (!FactoryMode) return CollectUserCFG(user, forDevice, FReadSW, SensorTypes);

  user.mMonths = static_cast<uint32_t>(std::min<uint32_t>(user.mMonths, 24));
  user.mDays = static_cast<uint32_t>(std::min<uint32_t>(user.mDays, 31));
  RFactoryFields factory = FactoryFieldsFromCFG(FKVTCFG);
  factory.mBatCritical = Clamp(factory.mBatCritical, 0, 1024);
  factory.mBatStartup = Clamp(factory.mBatStartup, 0, 1024);
  factory.mBat1 = Clamp(factory.mBat1, 0, 1024);
  factory.mBat2 = Clamp(factory.mBat2, 0, 1024);
  factory.mSpanGas = Clamp(factory.mSpanGas, lo, hi);
  factory.mSensorMax = Clamp(factory.mSensorMax, lo, hi);
  factory.mSensorBase = Clamp(factory.mSensorBase, lo, hi);
  factory.mDeadZone = Clamp(factory.mDeadZone, lo, hi);
  const RFactoryCollect r = CollectFactoryCFG(FKVTCFG, user, factory, forDevice, FReadSW, SensorTypes);
  if (lifeLimited) *lifeLimited = r.mLifeLimited;
  return r.mCFG;
}
