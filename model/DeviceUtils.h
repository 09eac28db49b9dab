// The program-wide settings record, loaded from BEAMDOCK.INI at start-up. The numeric
// fields are fixed for the run; the folder and file fields follow the files the operator
// saves and opens.
#pragma once

#include <cstdint>
#include <string>

// Until the settings are loaded the numbers are those of the user view without a settings file.
struct RDeviceCFG {
  uint16_t mConnectTime = 3000;           // ms allowed for the handshake; OpenUSB gets it / 1000
  uint16_t mAVOperate = 1000;             // ms an output test keeps its output on
  uint16_t mUnitPacketSize = 32;          // bytes per packet of the configuration read
  uint16_t mUnitDataSize = 64;            // bytes of the unit block read
  uint16_t mUnitSensorDataSize = 64;      // bytes of the sensor block read
  uint16_t mUnitWriteUserStart = 1;       // 1-based positions in the 128-byte image, and sizes
  uint16_t mUnitWriteUserSize = 8;        // (0 skips the step) of the four write steps
  uint16_t mUnitWriteFactoryStart = 17;
  uint16_t mUnitWriteFactorySize = 0;
  uint16_t mSensorWriteUserStart = 65;
  uint16_t mSensorWriteUserSize = 10;
  uint16_t mSensorWriteFactoryStart = 86;
  uint16_t mSensorWriteFactorySize = 0;
  std::string mEEPROMSaveDir;             // folders end with '/'
  uint16_t mEEPROMPacketSize = 32;
  uint16_t mEEPROMMaxAddress = 1024;      // EEPROM bytes shown and read
  uint16_t mEEPROMReadAddress = 0;
  uint16_t mEVENTReadPacketSize = 32;
  uint16_t mEVENTPacketSize = 9;          // bytes per event-log entry
  std::string mEVENTSaveDir;
  std::string mFLASHFile;                 // last firmware image loaded; empty when none
  std::string mFLASHSaveDir;
  uint16_t mFLASHMaxAddress = 128;        // packets in a firmware image
  uint16_t mFALSHPacketSize = 128;        // bytes per firmware packet
  uint16_t mFLASHDownloadRetry = 3;       // whole-download attempts
  uint8_t mFLASHRetry = 3;                // repeats of one failed packet
  std::string mLogSaveDir;
  uint16_t mLogInterval = 1;              // s between logged readings
  uint16_t mLogDisplayTime = 120;         // s across the logging chart
  uint16_t mLogConnectTime = 800;         // ms between link checks while logging
  uint16_t mCalTime = 180;                // s allowed for a calibration followed while logging
  uint16_t mCalCheckTime = 5;             // s between polls in the calibration dialog
  bool mLogEnable = false;                // exchange trace on
};

// Program-wide, set at start-up (LoadSettings in app/Settings.h).
extern RDeviceCFG DeviceCFG;
// The start folder, ending with '/'. The settings file, Comm.TXT and the default folders live here.
extern std::string AppDir;
