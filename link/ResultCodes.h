// Every result code of the program and its text, in one table: the link's codes and the
// application's own share one byte, 0 meaning success. One name per value; nothing else
// defines a code.
#pragma once

#include <cstdint>

// The link's codes.
constexpr uint8_t LINK_OK = 0x00;
// A bridge enumeration's statuses, passed on as the result of discovery.
constexpr uint8_t BRIDGE_NOT_FOUND = 0x01;        // no device at that index (unplugged meanwhile)
constexpr uint8_t BRIDGE_INVALID_HANDLE = 0x02;   // a handle that Open did not give
constexpr uint8_t BRIDGE_VID_UNREADABLE = 0x03;
constexpr uint8_t BRIDGE_PID_UNREADABLE = 0x04;
constexpr uint8_t BRIDGE_SERIAL_UNREADABLE = 0x05;
constexpr uint8_t LINK_NOCONNECT = 0xA0;       // the detector did not answer the handshake
constexpr uint8_t LINK_PORTERROR = 0xA1;       // the port failed during an exchange
constexpr uint8_t LINK_NORESPONSE = 0xA2;      // no reply in time
constexpr uint8_t LINK_NAK = 0xB0;
constexpr uint8_t LINK_ERROR = 0xB1;           // the detector refused the command
constexpr uint8_t LINK_CRCERROR = 0xB2;
constexpr uint8_t LINK_BLOCKCRC = 0xC0;        // a configuration block failed its own CRC
constexpr uint8_t LINK_LIMIT = 0xC4;           // a transfer outside the link's limits (link/LinkLimits.h)
constexpr uint8_t LINK_LOGSIZE = 0xC5;         // the detector reports an event log larger than any detector keeps
constexpr uint8_t LINK_OSNOTSUPPORTED = 0xFD;
constexpr uint8_t LINK_MULTIADAPTER = 0xFE;
constexpr uint8_t LINK_NOADAPTER = 0xFF;

// The application's codes, carried in the same byte.
constexpr uint8_t APP_FILEOPEN = 0x80;       // image file cannot be opened or read
constexpr uint8_t APP_FILESIZE = 0x81;       // image file size
constexpr uint8_t APP_FILECRC = 0x82;        // image checksum
constexpr uint8_t APP_FILETYPE = 0x83;       // image product type
constexpr uint8_t APP_NOTOLDVERSION = 0x84;  // older image declined
constexpr uint8_t APP_NOTUSEFUL = 0x85;      // image needs a newer detector
constexpr uint8_t APP_USERSTOP = 0x86;       // download cancelled
constexpr uint8_t APP_VALIDATION = 0x87;     // detector rejected the new program
constexpr uint8_t APP_NOTKVT = 0x92;         // product type not accepted (CheckProduct)
constexpr uint8_t APP_SENSORTYPE = 0x94;     // sensor type differs
constexpr uint8_t APP_READBACK = 0x95;       // a configuration read back differs from what was written
constexpr uint8_t APP_ZEROINGAS = 0x96;      // a zero refused: the detector read gas just before it
constexpr uint8_t APP_LOGNOTKEPT = 0x97;     // Log Reset: the entries could be kept nowhere, so nothing was cleared
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

// The commands of SensorCalibration (nCom).
constexpr uint8_t CAL_ZERO = 0x40;        // "Zero CAL."
constexpr uint8_t CAL_SPAN = 0x41;        // "Span CAL."
constexpr uint8_t CAL_ZEROSPAN = 0x42;    // "Zero/Span CAL.", the factory "Calibration"
constexpr uint8_t CAL_CLEAR = 0x43;       // "Clear CAL.", also ends a calibration run
constexpr uint8_t CAL_CLEARPEAK = 0x44;   // "Clear Peak"
constexpr uint8_t CAL_BUMPFAIL = 0x45;    // "Send Bump Fail"
constexpr uint8_t CAL_BUMPPASS = 0x46;    // "Send Bump Pass"

// The outputs of AVOn (0x33 is none).
constexpr uint8_t AV_BEEP = 0x30;
constexpr uint8_t AV_RLED = 0x31;
constexpr uint8_t AV_LLED = 0x32;
constexpr uint8_t AV_VIBRATOR = 0x34;
