// From a one-byte result code to the status suffix and message box text every operation
// ends with, and the status line itself.
#pragma once

#include "app/Operator.h"

#include <cstdint>
#include <string>

// The application's own codes, carried in the same byte as the link's.
constexpr uint8_t APP_FILEOPEN = 0x80;       // image file cannot be opened or read
constexpr uint8_t APP_FILESIZE = 0x81;       // image file size
constexpr uint8_t APP_FILECRC = 0x82;        // image checksum
constexpr uint8_t APP_FILETYPE = 0x83;       // image product type
constexpr uint8_t APP_NOTOLDVERSION = 0x84;  // older image declined
constexpr uint8_t APP_NOTUSEFUL = 0x85;      // image needs a newer detector
constexpr uint8_t APP_USERSTOP = 0x86;       // download cancelled
constexpr uint8_t APP_VALIDATION = 0x87;     // detector rejected the new program
constexpr uint8_t APP_NOTKVT = 0x92;         // product type not accepted
constexpr uint8_t APP_SENSORTYPE = 0x94;     // sensor type differs
constexpr uint8_t APP_POWEROFF = 0xC1;       // power-down refused
constexpr uint8_t APP_ZEROCAL = 0xC2;        // zero calibration refused
constexpr uint8_t APP_HIBERNATE = 0xC3;      // hibernation refused
constexpr uint8_t APP_NOTFOUND = 0xFC;       // kept for its row; nothing returns it

struct RResultText {
  const char* mSuffix;   // appended to the operation name
  const char* mMessage;  // message box text, '\r' as line break; empty for success
};

// Every byte has a row: codes without one of their own get "... FAIL" / "Error ocuured".
RResultText ResultText(uint8_t code);

// Status line colours of the three states (red, green, blue).
struct RStatusStyle {
  uint8_t mBackground[3];
  uint8_t mText[3];
};
RStatusStyle StatusStyle(StatusColour colour);

// Sets the status line and lets the window paint it before blocking work continues.
void ShowStatus(Operator& op, StatusColour colour, const std::string& text);

// Green "name... OK", or red "name" + suffix and one error box titled with the name. A port
// error's box ends with portReason (see PortErrorReason) when there is one.
void EndOperation(Operator& op, uint8_t code, const std::string& name, const std::string& portReason = {});

class TComKVT;
// The reason of the link's last port error in this connection, as a line for the box; empty
// when none. Take it before closing: a failing close would replace it.
std::string PortErrorReason(const TComKVT& link);
