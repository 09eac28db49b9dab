// .cfg configuration files: a 24-byte header whose first field is the format version, then a
// body whose layout depends on it. Versions 1 to 8 are read, version 7 is written. Everything
// here is data handling; the window and the terminal tool only choose files and show messages.
#pragma once

#include "model/Records.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#pragma pack(push, 1)
struct RCFGFileHead {
  int32_t mVersion;
  uint8_t mDummy1[4];
  double mSaveTime;   // local time as days since 1899-12-30, time of day as the fraction
  uint8_t mMode;      // 1 when saved in the factory view
  uint8_t mDummy2[7];
};
#pragma pack(pop)
static_assert(sizeof(RCFGFileHead) == 24);
static_assert(offsetof(RCFGFileHead, mSaveTime) == 8);
static_assert(offsetof(RCFGFileHead, mMode) == 16);

constexpr int32_t kCFGWriteVersion = 7;
constexpr size_t kCFGHeadSize = sizeof(RCFGFileHead);
constexpr size_t kCFGV7BodySize = 116;
constexpr size_t kCFGV7FileSize = kCFGHeadSize + kCFGV7BodySize;  // 140

// The texts of the file dialogs and messages.
inline constexpr const char* kCFGFolder = "Configure/";  // under AppDir
inline constexpr const char* kCFGFilter = "configuration file|*.cfg";
inline constexpr const char* kCFGDefaultExt = "cfg";
inline constexpr const char* kCFGOpenTitle = "Open Configuration File";
inline constexpr const char* kCFGSaveTitle = "Save Configuration File";
inline constexpr const char* kCFGReadCaption = "Read Configuration File";
inline constexpr const char* kCFGWriteCaption = "Write Configuration file";
inline constexpr const char* kCFGNotOpenText = "Configuration File did not open\rRetry READ FILE";
inline constexpr const char* kCFGWrongText = "Configuration File is wrong\rReselect file";
inline constexpr const char* kCFGNotSavedText = "Configuration File did not save\rRetry WRITE FILE";

// Body size of a format version; 0 for a version this system does not read.
size_t CFGBodySize(int32_t version);

// The body of version 1 to 8 as a configuration: fields the version lacks keep their default
// values, reserved bytes and both mCRC are 0 (version 8 is taken byte for byte). nullopt for
// another version or a body shorter than its version's size.
std::optional<RKVTCFG> ConvertCFGFile(int32_t version, std::span<const uint8_t> body);

// The version 7 body of a configuration; reserved bytes are 0.
std::array<uint8_t, kCFGV7BodySize> CFGToFileV7(const RKVTCFG& cfg);

// A time point as days since 1899-12-30 00:00 local time, the time of day as the fraction.
double ToCFGSaveTime(std::chrono::system_clock::time_point when);

// The whole 140-byte version 7 file: header (version 7, save time, mode byte, reserved 0)
// and body.
std::string BuildCFGFileV7(const RKVTCFG& cfg, double saveTime, bool factoryMode);

enum class CFGRefusal {
  None,          // accepted
  NotOpened,     // the file could not be opened or read
  HeaderShort,   // fewer than 24 bytes
  BadVersion,    // mVersion outside 1..8
  BodyShort,     // fewer body bytes than the version needs
};

struct CFGFileContent {
  CFGRefusal refusal = CFGRefusal::None;
  int32_t version = 0;      // valid from HeaderShort on
  double saveTime = 0.0;
  uint8_t mode = 0;
  RKVTCFG cfg{};            // the converted configuration; meaningful only when accepted
  bool ok() const { return refusal == CFGRefusal::None; }
};

// The file's bytes (header and body; bytes after the body are ignored). A refusal takes
// nothing of the file.
CFGFileContent ParseCFGFile(std::span<const uint8_t> bytes);
CFGFileContent ParseCFGFile(const std::string& bytes);

// Reads the file at path and parses it; NotOpened when it cannot be opened or read.
CFGFileContent ReadCFGFile(const std::string& path);

// The message for a refusal: NotOpened -> kCFGNotOpenText, the others -> kCFGWrongText,
// None -> empty.
std::string CFGRefusalText(CFGRefusal refusal);

// The settings fields of a loaded configuration replace those of the working one; the
// detector's counters, calibration values, reserved bytes and checksums stay as they were.
void TakeOverFileFields(RKVTCFG& working, const RKVTCFG& fromFile);

// Read File without the dialogs: on success the settings fields of the file are taken over
// into working; on a refusal working is untouched. Returns the refusal (None on success).
CFGRefusal LoadCFGFileInto(const std::string& path, RKVTCFG& working);

// Write File without the dialogs: writes the 140-byte version 7 file atomically, so a failed
// save leaves an earlier file of that name intact. The save time is now, in local time.
bool SaveCFGFile(const std::string& path, const RKVTCFG& cfg, bool factoryMode, std::string* error);
