// The frame of every detector operation: running status, open the link, the commands until
// the first failure, close the link, end with the result's status and message.
#pragma once

#include "app/core/Operator.h"
#include "link/CommInt.h"
#include "link/KVTComms.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <string>


class TOperationRecord;

struct ROperationOptions {
  // How the link is closed; default CloseUSB(code). Power-down closes the port alone.
  std::function<void(TComKVT&, uint8_t code)> close;
  // Applied after the close, before EndOperation (0xB1 of a refused power-down becomes 0xC1).
  std::function<uint8_t(uint8_t code)> mapResult;
  // Handshake time in seconds; below zero means DeviceCFG.mConnectTime / 1000.
  float connectSeconds = -1.0f;
  // The caller's record of this operation, for commands that fill it in (the configuration read,
  // the bytes written); default a record of the frame's own. The frame commits it at the end
  // unless the caller holds it for follow-up work (TOperationRecord::FHold).
  TOperationRecord* record = nullptr;
};

// Returns the operation's result code (0 success). Follow-up work (showing data, writing
// files) is the caller's, and only when the code is 0.
//
// Errors raised while opening the port (ECommError) are not result codes: the port is closed
// again and the error reaches the caller, which shows it with ReportPortOpenError.
uint8_t RunOperation(Operator& op, TComKVT& link, const std::string& name, const std::function<uint8_t()>& commands,
                     const ROperationOptions& options = {});

// One error box for an error raised by opening the port, titled with the operation name,
// and the red status of a port error (the suffix of 0xA1). The box names the device and what
// is wrong with it; its details hold the device checks of `doctor`.
void ReportPortOpenError(Operator& op, const std::string& name, const std::exception& error);

// Runs `body` (usually a RunOperation); a port that cannot be opened raises, and is shown
// once with ReportPortOpenError as a port error (0xA1). The program goes on.
template <class F>
uint8_t CatchingPortErrors(Operator& op, const std::string& name, F&& body);

// An operation that ends without a result code (a refusal before anything was sent, a No, a
// cancelled dialog) still replaces the status line, so that no earlier OK reads as its result:
// a refusal in the failure colours, a cancel in the neutral ones.
inline constexpr const char* kRefusedSuffix = "... REFUSED";
inline constexpr const char* kCancelledSuffix = "... CANCELLED";
inline constexpr const char* kNotSupportedSuffix = "... NOT SUPPORTED";
void ShowRefused(Operator& op, const std::string& name, const char* suffix = kRefusedSuffix);
void ShowCancelled(Operator& op, const std::string& name);
// A path's file name alone, for a status line that has room for little.
std::string FileNameOf(const std::string& path);

// The settings' handshake time in seconds, as OpenUSB and ConnectKVT take it.
float ConnectSeconds();

// OpenUSB with the settings' handshake time for a run that reports its own end: a port that
// cannot be opened (no access, device gone) is closed again and is a port error like any other.
uint8_t OpenUSBCaught(TComKVT& link);

// The box text: the error's own text, then the device and what is wrong, in words (for no
// permission, the group to join). device may be empty when unknown.
std::string PortOpenErrorText(const std::string& errorText, const std::string& device);

// The device the link would open: BEAMDOCK_PORT when set, else the one discovery finds;
// empty when none.
std::string CurrentPortDevice();
// Names the port of device in the record: the adapter's ids and serial, or "no adapter".
void RecordPort(TOperationRecord& record, const std::string& device);

template <class F>
uint8_t CatchingPortErrors(Operator& op, const std::string& name, F&& body) {
  try {
    return body();
  } catch (const ECommError& e) {
    ReportPortOpenError(op, name, e);
    return LINK_PORTERROR;
  }
}
