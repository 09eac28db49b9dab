// BEAMDOCK.INI: the program-wide settings (DeviceCFG, FactoryMode, SensorTypes), the folders
// the program writes into, and the window geometry.
#pragma once

#include "app/core/IniFile.h"
#include "model/DeviceUtils.h"
#include "model/SensorTypes.h"

#include <cstdint>
#include <string>
#include <vector>

// The ModeEntry text that selects the factory view (exact, upper case).
constexpr const char* kFactoryModeEntry = "MRW_TQP__";
constexpr const char* kSettingsFileName = "BEAMDOCK.INI";

// appDir + "BEAMDOCK.INI"; appDir ends with '/'.
std::string SettingsFileName(const std::string& appDir);

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
std::vector<RSensorType> ReadSensorTypes(const TIniFile& ini);

// [WINDOW], read at the first activation and written at close.
struct RWindowGeometry {
  int mWidth = 500;
  int mHeight = 750;
  int mLeft = 0;
  int mTop = 0;
};
RWindowGeometry ReadWindowGeometry(const std::string& appDir);
bool WriteWindowGeometry(const std::string& appDir, const RWindowGeometry& geometry, std::string* error = nullptr);

// One key of AppDir's settings file, for the Parts that remember a folder or file.
std::string ReadSetting(const std::string& section, const std::string& key, const std::string& def);
bool WriteSetting(const std::string& section, const std::string& key, const std::string& value,
                  std::string* error = nullptr);

// A folder text as the program uses it: relative folders are taken under appDir, and the
// result ends with '/'. Empty stays empty.
std::string ResolveFolder(const std::string& appDir, const std::string& folder);
// The folder of a file path, ending with '/'.
std::string FolderOfFile(const std::string& path);

// EEPROM grid: one row per 16 bytes (size div 16), each headed by its address in four
// upper-case hexadecimal digits.
int EEPROMGridRowCount(uint16_t maxAddress);
std::string EEPROMGridAddressText(int row);
