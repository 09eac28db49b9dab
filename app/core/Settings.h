// BEAMDOCK.INI: the program-wide settings (DeviceCFG, FactoryMode, SensorTypes), the folders
// the program writes into, and the window geometry.
#pragma once

#include "app/core/IniFile.h"
#include "model/DeviceUtils.h"
#include "model/SensorTypes.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// The ModeEntry text that selects the factory view (exact, upper case).
constexpr const char* kFactoryModeEntry = "MRW_TQP__";
constexpr const char* kSettingsFileName = "BEAMDOCK.INI";

// BEAMDOCK.INI of one start folder; every read and write of the settings file goes through
// one of these. Building one costs a file name, and every call opens the file, reads or writes
// it and closes it again, so nothing holds it open and a write replaces it atomically. A
// snapshot reads the file once and answers its reads from that copy; its writes still go to
// the file.
class TSettingsFile {
 public:
  explicit TSettingsFile(const std::string& appDir);  // appDir ends with '/'
  static TSettingsFile Snapshot(const std::string& appDir);

  const std::string& FileName() const { return FIni.FileName(); }

  // A missing file, section or key gives def.
  std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const {
    return FIni.ReadString(section, key, def);
  }
  int ReadInteger(const std::string& section, const std::string& key, int def) const {
    return FIni.ReadInteger(section, key, def);
  }
  bool ValueExists(const std::string& section, const std::string& key) const { return FIni.ValueExists(section, key); }
  std::vector<std::pair<std::string, std::string>> ReadSectionValues(const std::string& section) const {
    return FIni.ReadSectionValues(section);
  }

  // False (with the system's text in *error) when the file could not be replaced.
  bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                   std::string* error = nullptr) {
    return FIni.WriteString(section, key, value, error);
  }
  bool WriteInteger(const std::string& section, const std::string& key, int value, std::string* error = nullptr) {
    return FIni.WriteInteger(section, key, value, error);
  }
  bool WriteStrings(const std::string& section, const std::vector<std::pair<std::string, std::string>>& values,
                    std::string* error = nullptr) {
    return FIni.WriteStrings(section, values, error);
  }

 private:
  explicit TSettingsFile(TIniFile ini) : FIni(std::move(ini)) {}
  TIniFile FIni;
};

// The settings file of the program's start folder, AppDir.
TSettingsFile AppSettings();

struct RSettings {
  bool mFactoryMode = false;
  RDeviceCFG mDevice{};
  std::vector<RSensorType> mSensorTypes;
};

// Reads the settings of the start folder appDir (ending with '/'), creates the folders and
// writes back what start-up writes back ([FLASH] DownloadRetry in the user view, default
// save folders). A missing file, section or key gives its default; nothing is reported.
RSettings ReadSettings(const std::string& appDir);

// The program-wide half of start-up: AppDir := appDir, then FactoryMode, DeviceCFG and
// SensorTypes from ReadSettings.
void LoadSettings(const std::string& appDir);

// [SENSOR] in file order with the range rule; the built-in table when the section has no entries.
std::vector<RSensorType> ReadSensorTypes(const TSettingsFile& settings);

// [WINDOW], read at the first activation and written at close.
struct RWindowGeometry {
  int mWidth = 500;
  int mHeight = 750;
  int mLeft = 0;
  int mTop = 0;
};
RWindowGeometry ReadWindowGeometry(const std::string& appDir);
bool WriteWindowGeometry(const std::string& appDir, const RWindowGeometry& geometry, std::string* error = nullptr);

// A folder text as the program uses it: relative folders are taken under appDir, and the
// result ends with '/'. Empty stays empty.
std::string ResolveFolder(const std::string& appDir, const std::string& folder);
// The folder of a file path, ending with '/'.
std::string FolderOfFile(const std::string& path);

// EEPROM grid: one row per 16 bytes (size div 16), each headed by its address in four
// upper-case hexadecimal digits.
int EEPROMGridRowCount(uint16_t maxAddress);
std::string EEPROMGridAddressText(int row);
