#include "app/device/Operation.h"

#include "link/PortDoctor.h"
#include "app/core/Results.h"
#include "app/records/ServiceRecords.h"
#include "link/KVTComms.h"
#include "link/USBtoUART.h"
#include "model/DeviceUtils.h"

#include <cstdlib>


namespace {
// The codes after which the detector is still listening in this connection.
bool Answered(uint8_t code) {
  return code == LINK_OK || code == APP_NOTKVT || code == LINK_NAK || code == LINK_ERROR || code == LINK_CRCERROR ||
         code == LINK_BLOCKCRC || code == LINK_LOGSIZE;
}
}  // namespace

uint8_t RunOperation(Operator& op, TComKVT& link, const std::string& name, const std::function<uint8_t()>& commands,
                     const ROperationOptions& options) {
  const float seconds =
      options.connectSeconds >= 0.0f ? options.connectSeconds : ConnectSeconds();
  TOperationRecord own(name);
  TOperationRecord& record = options.record ? *options.record : own;
  ShowStatus(op, StatusColour::Running, name + "...");
  // The record's store and key are opened while the detector answers the first connect frame.
  link.AfterNextWrite([] { PrepareRecords(RecordsDatabasePath()); });
  uint8_t code;
  try {
    code = link.OpenUSB(seconds);
  } catch (...) {
    // Opening may fail half way with the device open; it must not stay open for the next try.
    link.AfterNextWrite(nullptr);
    link.ComClose();
    throw;
  }
  link.AfterNextWrite(nullptr);
  const bool talked = code == LINK_OK;
  if (code == LINK_OK && commands) {
    try {
      code = commands();
    } catch (...) {
      // Not a result code: close as after a detector's answer and let the handler report it.
      link.CloseUSB(LINK_ERROR);
      record.End(LINK_ERROR, name + ResultText(LINK_ERROR).mSuffix, talked);
      if (!record.FHold) CommitOperationRecord(op, record);
      throw;
    }
  }
  // The record names the detector that answered in this connection: what the operation itself
  // asked, or, for a command that asks nothing, one question now (never a second one).
  if (talked && !record.HasDevice()) {
    RKVTIdenty identity{};
    if (const RKVTIdenty* asked = link.ConnectionIdentity())
      record.Identity(*asked);
    else if (!link.IdentityAsked() && Answered(code) && link.RequireIdenty(identity) == LINK_OK)
      record.Identity(identity);
  }
  const std::string portReason = PortErrorReason(link);
  // The port the link opened (read from its own entry, no discovery). Only a connection that
  // answered is recorded.
  if (talked) RecordPort(record, link.PortDevice());
  // A result already final is sealed and flushed once the connection's end frame is written,
  // while the detector answers it: the detector never waits for the disk. A result mapped
  // after the close (it may ask the operator) is recorded after it.
  TPendingRecord pending;
  bool posted = false;
  const auto post = [&] {
    if (posted) return;
    posted = true;
    pending = CommitOperationRecordLater(record);
  };
  if (!options.mapResult) {
    record.End(code, name + ResultText(code).mSuffix, talked);
    if (!record.FHold) link.AfterNextWrite(post);
  }
  try {
    if (options.close)
      options.close(link, code);
    else
      link.CloseUSB(code);
  } catch (...) {
    link.AfterNextWrite(nullptr);
    if (!options.mapResult && !record.FHold) post();
    FinishRecord(op, pending);  // the operator still hears what became of the record
    throw;
  }
  link.AfterNextWrite(nullptr);
  if (!options.mapResult && !record.FHold) post();  // a close that sent no end frame
  if (options.mapResult) {
    code = options.mapResult(code);
    record.End(code, name + ResultText(code).mSuffix, talked);
  }
  EndOperation(op, code, name, portReason);
  if (options.mapResult) {
    if (!record.FHold) CommitOperationRecord(op, record);
  } else {
    FinishRecord(op, pending);
  }
  return code;
}

void RecordPort(TOperationRecord& record, const std::string& device) {
  bool adapter = false;
  const std::string description = PortDescription(device, adapter);
  record.Port(description, adapter);
}

std::string CurrentPortDevice() {
  if (std::string named = PortOverride(); !named.empty()) return named;
  TPortTable ports;  // a look of its own: the link's numbers stay as they are
  int port = 0;
  try {
    if (FindComPort(ports, 0, port) == 0 && port > 0) return ports.PortDeviceName(port);
  } catch (...) {
    // Only wanted for the text of an error box; an error here must not replace that one.
  }
  return "";
}

void ReportPortOpenError(Operator& op, const std::string& name, const std::exception& error) {
  ShowStatus(op, StatusColour::Failure, name + ResultText(LINK_PORTERROR).mSuffix);
  op.detailedMessage(MessageIcon::Error, name, PortOpenErrorText(error.what(), CurrentPortDevice()),
                     AdapterCheckDetails());
}

uint8_t OpenUSBCaught(TComKVT& link) {
  try {
    return link.OpenUSB(ConnectSeconds());
  } catch (const ECommError&) {
    link.ComClose();
    return LINK_PORTERROR;
  }
}

void ShowRefused(Operator& op, const std::string& name, const char* suffix) {
  ShowStatus(op, StatusColour::Failure, name + suffix);
}

void ShowCancelled(Operator& op, const std::string& name) { ShowStatus(op, StatusColour::Running, name + kCancelledSuffix); }

std::string FileNameOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

float ConnectSeconds() { return static_cast<float>(DeviceCFG.mConnectTime) / 1000.0f; }
