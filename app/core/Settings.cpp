#include "app/core/Settings.h"

#include "model/TextHelpers.h"

#include <sys/stat.h>

#include <charconv>
#include <cstdio>
#include <stdexcept>

namespace {

bool isDirectory(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isFile(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// One level, as the folders are documented; a parent that is missing is not made up.
void makeFolder(const std::string& path) {
  if (!isDirectory(path)) ::mkdir(path.c_str(), 0777);
}

std::string withSlash(std::string dir) {
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

uint16_t readWord(const TSettingsFile& ini, const char* section, const char* key, const char* def, uint16_t lo,
                  uint16_t hi) {
  return StrToWordRange(ini.ReadString(section, key, def), lo, hi);
}

// A [SENSOR] field too long for 32 bits must not stop the start; it reads as no number.
long integerOf(const std::string& text) {
  try {
    return std::stol(NormalizeNumText(NumMode::Integer, text));
  } catch (const std::exception&) {
    return 0;
  }
}

// from_chars: '.' is the separator whatever the locale says.
float decimalOf(const std::string& text) {
  const std::string t = NormalizeNumText(NumMode::Decimal, text);
  float v = 0.0f;
  if (std::from_chars(t.data(), t.data() + t.size(), v).ec != std::errc()) return 0.0f;
  return v;
}

std::string dropLeadingBlanks(const std::string& s) {
  size_t b = 0;
  while (b < s.size() && (s[b] == ' ' || s[b] == '\t')) ++b;
  return s.substr(b);
}

void fillFactoryView(const TSettingsFile& ini, RDeviceCFG& d) {
  d.mConnectTime = readWord(ini, "Environment", "ConnectTime", "3000", 500, 60000);
  d.mAVOperate = readWord(ini, "Environment", "AVOperate", "1000", 100, 5000);

  d.mUnitPacketSize = readWord(ini, "UNIT", "PacketSize", "32", 1, 128);
  d.mUnitDataSize = readWord(ini, "UNIT", "UnitDataSize", "64", 1, 256);
  d.mUnitSensorDataSize = readWord(ini, "UNIT", "SensorDataSize", "64", 1, 256);
  d.mUnitWriteUserStart = readWord(ini, "UNIT", "UnitWriteUserStart", "1", 1, 256);
  d.mUnitWriteUserSize = readWord(ini, "UNIT", "UnitWriteUserSize", "0", 0, 128);
  d.mUnitWriteFactoryStart = readWord(ini, "UNIT", "UnitWriteFactoryStart", "17", 1, 256);
  d.mUnitWriteFactorySize = readWord(ini, "UNIT", "UnitWriteFactorySize", "0", 0, 128);
  d.mSensorWriteUserStart = readWord(ini, "UNIT", "SensorWriteUserStart", "65", 1, 256);
  d.mSensorWriteUserSize = readWord(ini, "UNIT", "SensorWriteUserSize", "10", 0, 128);
  d.mSensorWriteFactoryStart = readWord(ini, "UNIT", "SensorWriteFactoryStart", "86", 1, 256);
  d.mSensorWriteFactorySize = readWord(ini, "UNIT", "SensorWriteFactorySize", "0", 0, 128);

  d.mEEPROMPacketSize = readWord(ini, "EEPROM", "PacketSize", "32", 1, 128);
  d.mEEPROMMaxAddress = readWord(ini, "EEPROM", "MaxAddress", "1024", 1, 32768);
  d.mEEPROMReadAddress = readWord(ini, "EEPROM", "ReadStartAddress", "0", 0, d.mEEPROMMaxAddress);
  d.mEEPROMSaveDir = ini.ReadString("EEPROM", "SaveDirectory", "");

  d.mFLASHFile = ini.ReadString("FLASH", "ImageFile", "");
  d.mFALSHPacketSize = readWord(ini, "FLASH", "PacketSize", "128", 1, 256);
  d.mFLASHMaxAddress = readWord(ini, "FLASH", "MaxAddress", "128", 1, 256);
  d.mFLASHDownloadRetry = readWord(ini, "FLASH", "DownloadRetry", "0", 1, 5);
  d.mFLASHRetry = static_cast<uint8_t>(readWord(ini, "FLASH", "Retry", "3", 1, 10));

  d.mEVENTReadPacketSize = readWord(ini, "EVENT", "ReadPacketSize", "32", 1, 128);
  d.mEVENTPacketSize = readWord(ini, "EVENT", "PacketSize", "9", 1, 128);
  d.mEVENTSaveDir = ini.ReadString("EVENT", "SaveDirectory", "");

  d.mLogSaveDir = ini.ReadString("Logging", "SaveDirectory", "");
  d.mLogInterval = readWord(ini, "Logging", "Interval", "1", 1, 600);
  d.mLogDisplayTime =
      readWord(ini, "Logging", "DisplayTime", "120", static_cast<uint16_t>(d.mLogInterval * 100), 60000);
  d.mLogConnectTime = readWord(ini, "Logging", "ConnectTime", "1000", 500, 1500);

  d.mCalTime = readWord(ini, "Calibration", "CalibrationTime", "180", 30, 300);
  d.mCalCheckTime = readWord(ini, "Calibration", "CalibrationCheckTime", "5", 1, 30);
}

void fillUserView(TSettingsFile& ini, const std::string& appDir, RDeviceCFG& d) {
  d.mConnectTime = 3000;
  d.mAVOperate = 1000;

  d.mUnitPacketSize = 32;
  d.mUnitDataSize = 64;
  d.mUnitSensorDataSize = 64;
  d.mUnitWriteUserStart = 1;
  d.mUnitWriteUserSize = 8;
  d.mUnitWriteFactoryStart = 17;
  d.mUnitWriteFactorySize = 0;
  d.mSensorWriteUserStart = 65;
  d.mSensorWriteUserSize = 10;
  d.mSensorWriteFactoryStart = 86;
  d.mSensorWriteFactorySize = 0;

  d.mEEPROMPacketSize = 32;
  d.mEEPROMMaxAddress = 1024;
  d.mEEPROMReadAddress = 0;
  d.mEEPROMSaveDir = appDir + "EEPROM/";

  d.mFLASHFile = ini.ReadString("FLASH", "ImageFile", "");
  d.mFALSHPacketSize = 128;
  d.mFLASHMaxAddress = 128;
  d.mFLASHDownloadRetry = readWord(ini, "FLASH", "DownloadRetry", "0", 0, 5);
  if (d.mFLASHDownloadRetry == 0) {
    d.mFLASHDownloadRetry = 3;
    ini.WriteInteger("FLASH", "DownloadRetry", 3);
  }
  d.mFLASHRetry = 3;

  d.mEVENTReadPacketSize = 32;
  d.mEVENTPacketSize = 9;
  d.mEVENTSaveDir = ini.ReadString("EVENT", "SaveDirectory", "");

  d.mLogSaveDir = appDir + "DAT/";
  d.mLogInterval = 1;
  d.mLogDisplayTime = 120;
  d.mLogConnectTime = 800;

  d.mCalTime = 180;
  d.mCalCheckTime = 5;
}

// A configured save folder that does not exist falls back to its default under the start
// folder, which is created and remembered in the file.
void settleFolder(TSettingsFile& ini, const std::string& appDir, std::string& folder, const char* section,
                  const char* defaultName) {
  folder = ResolveFolder(appDir, folder);
  if (!folder.empty() && isDirectory(folder)) return;
  folder = appDir + defaultName;
  makeFolder(folder);
  ini.WriteString(section, "SaveDirectory", folder);
}

}  // namespace

TSettingsFile::TSettingsFile(const std::string& appDir) : FIni(appDir + kSettingsFileName) {}

TSettingsFile TSettingsFile::Snapshot(const std::string& appDir) {
  return TSettingsFile(TIniFile::Snapshot(appDir + kSettingsFileName));
}

TSettingsFile AppSettings() { return TSettingsFile(AppDir); }

std::string ResolveFolder(const std::string& appDir, const std::string& folder) {
  if (folder.empty()) return folder;
  return withSlash(folder[0] == '/' ? folder : appDir + folder);
}

std::string FolderOfFile(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

std::vector<RSensorType> ReadSensorTypes(const TSettingsFile& ini) {
  std::vector<RSensorType> table;
  for (const auto& [key, value] : ini.ReadSectionValues("SENSOR")) {
    const std::vector<std::string> entry = SplitText(key + "=" + value, "=", 2);
    const std::vector<std::string> f = SplitText(entry[1], ",", 6);
    RSensorType t{};
    t.mName = entry[0];
    t.mIndex = static_cast<uint8_t>(integerOf(dropLeadingBlanks(f[0])) & 0xFF);
    t.mUnit = dropLeadingBlanks(f[1]);
    t.mSpec = SensorSpecText(dropLeadingBlanks(f[2]));
    t.mCalTime = static_cast<uint16_t>(integerOf(dropLeadingBlanks(f[3])) & 0xFFFF);
    t.mMin = decimalOf(dropLeadingBlanks(f[4]));
    t.mMax = decimalOf(dropLeadingBlanks(f[5]));
    ApplySensorRangeRule(t);
    table.push_back(t);
  }
  if (table.empty()) table = BuiltInSensorTypes();
  return table;
}

RSettings ReadSettings(const std::string& startDir) {
  const std::string appDir = withSlash(startDir);
  TSettingsFile ini = TSettingsFile::Snapshot(appDir);
  RSettings s;
  s.mFactoryMode = ini.ReadString("Environment", "ModeEntry", "USER") == kFactoryModeEntry;
  s.mSensorTypes = ReadSensorTypes(ini);

  RDeviceCFG& d = s.mDevice;
  if (s.mFactoryMode)
    fillFactoryView(ini, d);
  else
    fillUserView(ini, appDir, d);
  int logEnable = 0;
  d.mLogEnable = ParseIniInteger(ini.ReadString("ETC", "LogEnable", "0"), logEnable) && logEnable != 0;

  // A remembered image that is gone is forgotten for this run; the file keeps its path.
  const std::string image = d.mFLASHFile.empty() || d.mFLASHFile[0] == '/' ? d.mFLASHFile : appDir + d.mFLASHFile;
  if (isFile(image)) {
    d.mFLASHFile = image;
    d.mFLASHSaveDir = FolderOfFile(image);
  } else {
    d.mFLASHFile.clear();
    d.mFLASHSaveDir = appDir + "IMG/";
  }

  makeFolder(d.mFLASHSaveDir);
  settleFolder(ini, appDir, d.mEVENTSaveDir, "EVENT", "EVENT/");
  if (s.mFactoryMode) {
    settleFolder(ini, appDir, d.mEEPROMSaveDir, "EEPROM", "EEPROM/");
    settleFolder(ini, appDir, d.mLogSaveDir, "Logging", "DAT/");
  }
  makeFolder(appDir + "Configure/");
  return s;
}

void LoadSettings(const std::string& startDir) {
  AppDir = withSlash(startDir);
  RSettings s = ReadSettings(AppDir);
  FactoryMode = s.mFactoryMode;
  DeviceCFG = s.mDevice;
  SensorTypes = std::move(s.mSensorTypes);
}

RWindowGeometry ReadWindowGeometry(const std::string& appDir) {
  const TSettingsFile ini = TSettingsFile::Snapshot(appDir);
  RWindowGeometry g;
  g.mWidth = ini.ReadInteger("WINDOW", "WIDTH", g.mWidth);
  g.mHeight = ini.ReadInteger("WINDOW", "HEIGHT", g.mHeight);
  g.mLeft = ini.ReadInteger("WINDOW", "LEFT", g.mLeft);
  g.mTop = ini.ReadInteger("WINDOW", "TOP", g.mTop);
  return g;
}

bool WriteWindowGeometry(const std::string& appDir, const RWindowGeometry& g, std::string* error) {
  return TSettingsFile(appDir).WriteStrings("WINDOW",
                                            {{"WIDTH", std::to_string(g.mWidth)},
                                             {"HEIGHT", std::to_string(g.mHeight)},
                                             {"LEFT", std::to_string(g.mLeft)},
                                             {"TOP", std::to_string(g.mTop)}},
                                            error);
}

int EEPROMGridRowCount(uint16_t maxAddress) { return maxAddress / 16; }

std::string EEPROMGridAddressText(int row) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04X", static_cast<unsigned>(row * 16) & 0xFFFFu);
  return buf;
}
