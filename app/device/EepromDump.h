// The EEPROM group of the TEST page: the detector's EEPROM as a grid of hexadecimal bytes,
// read from the detector, saved as it is shown (edits included), and the data-log area of
// its first 1024 bytes saved as a time series.
#pragma once

#include "app/core/Operator.h"

#include <array>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

class TComKVT;

inline constexpr const char* kEEPROMReadName = "Read EEPROM data";
inline constexpr const char* kEEPROMSaveTitle = "Save EEPROM Data...";
inline constexpr const char* kEEPROMSaveCaption = "Save EEPROM Data";
inline constexpr const char* kEEPROMSaveFailed = "EEPROM data file did not save\rRetry SAVE FILE";
inline constexpr const char* kEEPROMLogFailed = "EEPROM log file did not save\rRetry READ/SAVE LOG";
inline constexpr const char* kEEPROMLogFallbackName = "NOSERIAL";

// A read shows at most this many bytes, whatever range the settings give.
constexpr int kEEPROMShownBytes = 1024;

// The grid's texts: column 0 the row's address, columns 1 to 16 its bytes. The window keeps
// it in its table (where cells may be edited) and hands it back for saving.
using TEEPROMRow = std::array<std::string, 17>;
using TEEPROMGrid = std::vector<TEEPROMRow>;

std::string EEPROMByteText(uint8_t value);  // "0A"
// maxAddress div 16 rows of "FF" under their addresses.
TEEPROMGrid NewEEPROMGrid(uint16_t maxAddress);

// Reads count bytes (at most kEEPROMShownBytes) from address start in one connection that
// is already open, every byte from the detector: the read takes one packet more than the
// link's 1024-byte buffer would allow.
uint8_t ReadEEPROMBytes(TComKVT& link, uint16_t packet, uint16_t start, int count, std::vector<uint8_t>& bytes);

// Read: the rows from ReadStartAddress to the end of the grid show "FF", then the bytes read
// from the detector, each in the cell of its own address. Rows beyond the 1024 bytes one read
// shows keep "FF".
uint8_t EEPROMRead(Operator& op, TComKVT& link, TEEPROMGrid& grid);

// Save File: every row as "0x" + address + "," + 16 fields each followed by ",", CR LF.
std::string EEPROMDumpText(const TEEPROMGrid& grid);
enum class TEEPROMSave { Saved, Cancelled, Failed };
// The save dialog (title, folder and proposed name set here), the file, and the folder
// remembered in the settings file unless the dialog was cancelled.
TEEPROMSave EEPROMSaveFile(Operator& op, FileRequest& dialog, const TEEPROMGrid& grid, std::string* path = nullptr);

// Read/Save Log: the time series of the 433 logged values of bytes 128 to 993, t stepping by
// the 16-bit value at 30 and 31; values in tenths, 0x8001 and above negative. The number
// uses the locale's decimal separator (quoted when that is a comma).
std::string EEPROMLogText(const std::vector<uint8_t>& bytes);
// folder + the serial of bytes 16 to 25 reduced to letters, digits, '-' and '_' (a fixed
// name when nothing is left) + "_" + yymmddhhnnss + ".CSV".
std::string EEPROMLogFileName(const std::string& folder, const std::vector<uint8_t>& bytes, std::time_t now);

struct REEPROMLogResult {
  uint8_t mCode = 0;     // the read's result
  bool mSaved = false;   // the log file was written (only tried when mCode is 0)
  std::string mPath;
};
// The button: rows 0 to 63 read with the fixed packet 32 from address 0, the file written,
// "SAVE:" and the path shown when it was, an error box when it was not.
REEPROMLogResult EEPROMReadSaveLog(Operator& op, TComKVT& link, TEEPROMGrid& grid);

// A stamp "yymmddhhnnss" of local time.
std::string EEPROMTimeStamp(std::time_t now);
