#include "app/device/Service.h"

#include "app/device/Identify.h"
#include "app/device/Operation.h"
#include "app/device/ZeroCheck.h"
#include "app/core/Settings.h"
#include "app/core/Results.h"
#include "app/records/ServiceRecords.h"
#include "link/CommInt.h"
#include "link/KVTComms.h"
#include "model/DeviceUtils.h"
#include "model/SensorTypes.h"


namespace {

struct RServiceRow {
  const char* mName;
  bool mProductCheck;  // RequireIdenty and CheckProduct before the command
  uint8_t mRefusal;    // what a refusal (0xB1) becomes; 0 keeps it
};

RServiceRow Row(TServiceCommand command) {
  switch (command) {
    case TServiceCommand::Calibration: return {"Calibration", true, APP_ZEROCAL};
    case TServiceCommand::TurnOff: return {"Power Down", true, APP_POWEROFF};
    case TServiceCommand::FactoryReset: return {"Fatory Reset", false, 0};
    case TServiceCommand::ClearPeak: return {"Clear Peak", false, 0};
    case TServiceCommand::BumpFail: return {"Send Bump Fail", false, 0};
    case TServiceCommand::BumpPass: return {"Send Bump Pass", false, 0};
  }
  return {"", false, 0};
}

uint8_t Send(TComKVT& link, TServiceCommand command) {
  switch (command) {
    case TServiceCommand::Calibration: return link.SensorCalibration(CAL_ZEROSPAN);
    case TServiceCommand::TurnOff: return link.ResetUnit();
    case TServiceCommand::FactoryReset: return link.FactoryReset();
    case TServiceCommand::ClearPeak: return link.SensorCalibration(CAL_CLEARPEAK);
    case TServiceCommand::BumpFail: return link.SensorCalibration(CAL_BUMPFAIL);
    case TServiceCommand::BumpPass: return link.SensorCalibration(CAL_BUMPPASS);
  }
  return LINK_LIMIT;
}


const char* OutputName(uint8_t command) {
  switch (command) {
    case AV_BEEP: return "Beep ON";
    case AV_RLED: return "R LED ON";
    case AV_LLED: return "L LED ON";
    case AV_VIBRATOR: return "Vibrator";
  }
  return "Output Test";
}

// Bump Pass and Bump Fail send what the operator decided; nothing was measured.
void RecordHandVerdict(TOperationRecord& record) {
  record.Detail("verdict", "hand");
  record.Detail("note", "verdict given by hand, no reading recorded");
}

// The button starts with a zero: not in gas unless the operator says so, with the reading shown.
uint8_t CheckZeroInGas(Operator& op, TComKVT& link, TOperationRecord& record) {
  RKVTSensorCFG sensor{};
  uint8_t code = link.ReadSensorCFGData(sensor, DeviceCFG.mUnitPacketSize, DeviceCFG.mUnitSensorDataSize);
  if (code != LINK_OK) return code;
  const RZeroReading zero = ReadZeroReading(link, sensor);
  if (zero.mRead) record.Detail("zero_as_found", zero.mText);
  if (!ZeroMayProceed(op, zero, sensor)) {
    record.Detail("reason", ZeroRefusedText(zero));
    return APP_ZEROINGAS;
  }
  // The question may have taken long enough for the detector to drop the connection.
  if (zero.mInGas && link.ConnectKVTCheck() != LINK_OK) code = link.ConnectKVT(ConnectSeconds());
  return code;
}

}  // namespace

std::string ServiceName(TServiceCommand command) { return Row(command).mName; }

uint8_t RunServiceCommand(Operator& op, TComKVT& link, TServiceCommand command) {
  const RServiceRow row = Row(command);
  ROperationOptions options;
  if (command == TServiceCommand::TurnOff) {
    // The detector has switched itself off: the closing exchange would only wake it.
    options.close = [](TComKVT& l, uint8_t code) {
      if (code == LINK_OK)
        l.ComClose();
      else
        l.CloseUSB(code);
    };
  }
  if (row.mRefusal != 0) {
    const uint8_t refusal = row.mRefusal;
    options.mapResult = [refusal](uint8_t code) { return code == LINK_ERROR ? refusal : code; };
  }
  TOperationRecord record(row.mName);
  options.record = &record;
  return CatchingPortErrors(op, row.mName, [&] {
    return RunOperation(
        op, link, row.mName,
        [&] {
          if (row.mProductCheck) {
            RKVTIdenty ident{};
            uint8_t code = link.RequireIdenty(ident);
            if (code == LINK_OK) record.Identity(ident);
            if (code == LINK_OK) code = CheckProduct(ident.mPID, 0);
            if (code != LINK_OK) return code;
          }
          if (command == TServiceCommand::Calibration) {
            const uint8_t code = CheckZeroInGas(op, link, record);
            if (code != LINK_OK) return code;
          }
          if (command == TServiceCommand::BumpPass || command == TServiceCommand::BumpFail) RecordHandVerdict(record);
          return Send(link, command);
        },
        options);
  });
}

uint8_t RunIdentifyButton(Operator& op, TComKVT& link) {
  return CatchingPortErrors(op, kIdentifyName, [&] { return RunIdentify(op, link); });
}

uint8_t OutputCommand(int tag) {
  switch (tag) {
    case 1: return AV_BEEP;
    case 2: return AV_RLED;
    case 3: return AV_LLED;
    case 4: return AV_VIBRATOR;
  }
  return 0;
}

TOutputTest::TOutputTest(TComKVT& link, uint8_t command, uint16_t holdMs, TRunClock& clock)
    : FLink(link), FCommand(command), FHold(holdMs), FClock(clock) {}

bool TOutputTest::Step() {
  switch (FState) {
    case TState::Start:
      if (StopRequest().Requested()) {
        FResult = APP_USERSTOP;
        FState = TState::Done;
        return false;
      }
      try {
        FResult = FLink.OpenUSB(ConnectSeconds());
      } catch (...) {
        FLink.ComClose();
        FState = TState::Done;
        throw;
      }
      FTalked = FResult == LINK_OK;
      // The handshake may take seconds: a stop pressed meanwhile still keeps the output off.
      if (FResult == LINK_OK && StopRequest().Requested()) FResult = APP_USERSTOP;
      if (FResult == LINK_OK) FResult = FLink.AVOn(FCommand);
      // Who the detector is, for the record; asked in this connection, after the command.
      if (FResult == LINK_OK) FIdentified = FLink.RequireIdenty(FIdentity) == LINK_OK;
      if (FResult == LINK_OK) {
        FUntil = FClock.Now() + FHold;
        FState = TState::Holding;
        return true;
      }
      FLink.CloseUSB(FResult == APP_USERSTOP ? LINK_OK : FResult);
      FState = TState::Done;
      return false;
    case TState::Holding:
      if (StopRequest().Requested()) FResult = APP_USERSTOP;
      else if (FClock.Now() < FUntil) return true;
      FLink.CloseUSB(LINK_OK);
      FState = TState::Done;
      return false;
    case TState::Done:
      break;
  }
  return false;
}

uint8_t RunOutputTest(Operator& op, TComKVT& link, uint8_t command, uint16_t holdMs, TRunClock& clock,
                      const volatile std::sig_atomic_t* stop) {
  return CatchingPortErrors(op, OutputName(command), [&] {
    TOperationRecord record(OutputName(command));
    TOutputTest test(link, command, holdMs, clock);
    test.StopRequest().Watch(stop);
    ShowStatus(op, StatusColour::Running, std::string(OutputName(command)) + "...");
    DriveRun(test, clock, [&] { op.pump(); });
    // The output is what the operator watches; the status line says whether the command went.
    ShowStatus(op, test.Result() == LINK_OK ? StatusColour::Success : StatusColour::Failure,
               std::string(OutputName(command)) + ResultText(test.Result()).mSuffix);
    if (test.Identity()) record.Identity(*test.Identity());
    if (test.Talked()) RecordPort(record, link.PortDevice());
    record.End(test.Result(), std::string(OutputName(command)) + ResultText(test.Result()).mSuffix, test.Talked());
    CommitOperationRecord(op, record);
    return test.Result();
  });
}

bool ConfirmFactoryReset(Operator& op) {
  return op.ask("Factory Reset",
                "Reset the detector to its factory settings?\rIts alarm levels, intervals, user ID and display "
                "settings are replaced by the factory values. Use Read Device and Write File first to keep "
                "them in a file.");
}
