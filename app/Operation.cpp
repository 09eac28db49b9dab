#include "app/Operation.h"

#include "app/PortDoctor.h"
#include "app/Results.h"
#include "app/ServiceRecords.h"
#include "link/KVTComms.h"
#include "link/USBtoUART.h"
#include "model/DeviceUtils.h"

#include <cstdlib>


uint8_t RunOperation(Operator& op, TComKVT& link, const std::string& name, const std::function<uint8_t()>& commands,
                     const ROperationOptions& options) {
  const float seconds =
      options.connectSeconds >= 0.0f ? options.connectSeconds : ConnectSeconds();
  ShowStatus(op, StatusColour::Running, name + "...");
  RecordBegin(op, name, link);
  uint8_t code;
  try {
    code = link.OpenUSB(seconds);
  } catch (...) {
    // Opening may fail half way with the device open; it must not stay open for the next try.
    link.ComClose();
    RecordEnd(LINK_PORTERROR, "", link, false);
    throw;
  }
  const bool talked = code == LINK_OK;
  if (code == LINK_OK && commands) {
    try {
      code = commands();
    } catch (...) {
      // Not a result code: close as after a detector's answer and let the handler report it.
      link.CloseUSB(LINK_ERROR);
      RecordEnd(LINK_ERROR, name + ResultText(LINK_ERROR).mSuffix, link, talked);
      throw;
    }
  }
  if (options.close)
    options.close(link, code);
  else
    link.CloseUSB(code);
  if (options.mapResult) code = options.mapResult(code);
  EndOperation(op, code, name);
  RecordEnd(code, name + ResultText(code).mSuffix, link, talked);
  return code;
}

std::string CurrentPortDevice() {
  if (const char* env = std::getenv("BEAMDOCK_PORT"); env && *env) return env;
  int port = 0;
  try {
    if (FindComPort(0, port) == 0 && port > 0) return PortDeviceName(port);
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

std::string AdapterCheckDetails() {
  const char* named = std::getenv("BEAMDOCK_PORT");
  try {
    return DoctorDetails(CurrentDoctorEnv(), named ? named : "");
  } catch (...) {
    // Only an explanation; the error itself must still be shown.
  }
  return "";
}

uint8_t OpenUSBCaught(TComKVT& link) {
  try {
    return link.OpenUSB(ConnectSeconds());
  } catch (const ECommError&) {
    link.ComClose();
    return LINK_PORTERROR;
  }
}

float ConnectSeconds() { return static_cast<float>(DeviceCFG.mConnectTime) / 1000.0f; }
