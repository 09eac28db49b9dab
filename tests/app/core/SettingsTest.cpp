#include "app/core/Settings.h"
#include "tests/support/ProgramState.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kFactory = "[Environment]\r\nModeEntry=MRW_TQP__\r\n";

RSettings readWith(const TempDir& dir, const std::string& ini) {
  dir.write("BEAMDOCK.INI", ini);
  return ReadSettings(dir.path());
}

TEST(Settings, NoSettingsFileGivesTheUserViewAndWritesBackItsDefaults) {
  TempDir dir;
  RSettings s = ReadSettings(dir.path());
  EXPECT_FALSE(s.mFactoryMode);
  const RDeviceCFG& d = s.mDevice;
  EXPECT_EQ(d.mConnectTime, 3000);
  EXPECT_EQ(d.mFLASHDownloadRetry, 3);
  EXPECT_EQ(d.mUnitWriteUserSize, 8);  // the user view writes the user bytes of the unit block
  EXPECT_EQ(d.mLogConnectTime, 800);
  EXPECT_EQ(d.mEEPROMMaxAddress, 1024);
  EXPECT_FALSE(d.mLogEnable);
  EXPECT_EQ(d.mFLASHFile, "");
  EXPECT_EQ(d.mFLASHSaveDir, dir.path() + "IMG/");
  EXPECT_EQ(d.mEVENTSaveDir, dir.path() + "EVENT/");
  EXPECT_EQ(d.mEEPROMSaveDir, dir.path() + "EEPROM/");
  EXPECT_EQ(d.mLogSaveDir, dir.path() + "DAT/");
  ASSERT_EQ(s.mSensorTypes.size(), 3u);
  EXPECT_EQ(s.mSensorTypes[2].mName, "O2");

  TIniFile ini(dir.path() + "BEAMDOCK.INI");
  EXPECT_EQ(ini.ReadString("FLASH", "DownloadRetry", ""), "3");
  EXPECT_EQ(ini.ReadString("EVENT", "SaveDirectory", ""), dir.path() + "EVENT/");
  EXPECT_TRUE(dir.isDir("IMG"));
  EXPECT_TRUE(dir.isDir("EVENT"));
  EXPECT_TRUE(dir.isDir("Configure"));
  // Factory folders only in the factory view.
  EXPECT_FALSE(dir.exists("EEPROM"));
  EXPECT_FALSE(dir.exists("DAT"));
}

TEST(Settings, OnlyTheExactUpperCaseModeEntrySelectsTheFactoryView) {
  TempDir dir;
  EXPECT_TRUE(readWith(dir, "[environment]\nmodeentry =  MRW_TQP__ \n").mFactoryMode);
  EXPECT_FALSE(readWith(dir, "[Environment]\nModeEntry=mrw_tqp__\n").mFactoryMode);
  EXPECT_FALSE(readWith(dir, "[Environment]\nModeEntry=MRW_TQP_\n").mFactoryMode);
  EXPECT_FALSE(readWith(dir, "[Environment]\nModeEntry=USER\n").mFactoryMode);
}

TEST(Settings, FactoryNumbersAreClampedToTheirRanges) {
  TempDir dir;
  auto connect = [&](const std::string& value) {
    return readWith(dir, kFactory + "ConnectTime=" + value + "\r\n").mDevice.mConnectTime;
  };
  EXPECT_EQ(connect("100"), 500);
  EXPECT_EQ(connect("-1"), 60000);  // 65535 as 16 bits: above the range
  EXPECT_EQ(connect("2500ms"), 2500);
  EXPECT_EQ(connect("abc"), 500);  // no digits reads as 0
  EXPECT_EQ(connect("70000"), 4464);  // cut to 16 bits, then inside the range
  EXPECT_EQ(connect("99999999999"), 60000);  // too long for 32 bits: no refusal to start

  RDeviceCFG d = readWith(dir, kFactory +
                                   "[UNIT]\r\nPacketSize=0\r\nUnitWriteUserSize=200\r\n"
                                   "[FLASH]\r\nRetry=11\r\nPacketSize=300\r\n"
                                   "[Calibration]\r\nCalibrationTime=10\r\nCalibrationCheckTime=31\r\n")
                     .mDevice;
  EXPECT_EQ(d.mUnitPacketSize, 1);
  EXPECT_EQ(d.mUnitWriteUserSize, 128);
  EXPECT_EQ(d.mFLASHRetry, 10);
  EXPECT_EQ(d.mFALSHPacketSize, 256);
  EXPECT_EQ(d.mCalTime, 30);
  EXPECT_EQ(d.mCalCheckTime, 30);
  // Keys not in the file take their defaults in the factory view.
  EXPECT_EQ(d.mUnitWriteFactoryStart, 17);
  EXPECT_EQ(d.mSensorWriteUserSize, 10);
  EXPECT_EQ(d.mLogConnectTime, 1000);
  EXPECT_EQ(d.mEVENTPacketSize, 9);
}

TEST(Settings, RangesThatDependOnTheKeyJustRead) {
  TempDir dir;
  RDeviceCFG d = readWith(dir, kFactory + "[Logging]\r\nInterval=10\r\nDisplayTime=120\r\n").mDevice;
  EXPECT_EQ(d.mLogInterval, 10);
  EXPECT_EQ(d.mLogDisplayTime, 1000);
  d = readWith(dir, kFactory + "[Logging]\r\nInterval=0\r\nDisplayTime=50\r\n").mDevice;
  EXPECT_EQ(d.mLogInterval, 1);
  EXPECT_EQ(d.mLogDisplayTime, 100);

  d = readWith(dir, kFactory + "[EEPROM]\r\nMaxAddress=512\r\nReadStartAddress=600\r\n").mDevice;
  EXPECT_EQ(d.mEEPROMMaxAddress, 512);
  EXPECT_EQ(d.mEEPROMReadAddress, 512);
  d = readWith(dir, kFactory + "[EEPROM]\r\nMaxAddress=40000\r\nReadStartAddress=32000\r\n").mDevice;
  EXPECT_EQ(d.mEEPROMMaxAddress, 32768);
  EXPECT_EQ(d.mEEPROMReadAddress, 32000);
}

TEST(Settings, DownloadRetryInBothViews) {
  TempDir dir;
  // Factory view without the key: one attempt, and nothing is written back.
  RSettings f = readWith(dir, kFactory);
  EXPECT_EQ(f.mDevice.mFLASHDownloadRetry, 1);
  EXPECT_FALSE(TIniFile(dir.path() + "BEAMDOCK.INI").ValueExists("FLASH", "DownloadRetry"));

  RSettings u = readWith(dir, "[FLASH]\r\nRetry=9\r\n");
  EXPECT_EQ(u.mDevice.mFLASHDownloadRetry, 3);
  EXPECT_EQ(u.mDevice.mFLASHRetry, 3);  // the user view does not read Retry
  EXPECT_EQ(TIniFile(dir.path() + "BEAMDOCK.INI").ReadString("FLASH", "DownloadRetry", ""), "3");

  EXPECT_EQ(readWith(dir, "[FLASH]\r\nDownloadRetry=0\r\n").mDevice.mFLASHDownloadRetry, 3);
  EXPECT_EQ(readWith(dir, "[FLASH]\r\nDownloadRetry=2\r\n").mDevice.mFLASHDownloadRetry, 2);
  EXPECT_EQ(dir.read("BEAMDOCK.INI").rfind("[FLASH]\r\nDownloadRetry=2\r\n", 0), 0u);  // left as it was
  EXPECT_EQ(readWith(dir, "[FLASH]\r\nDownloadRetry=9\r\n").mDevice.mFLASHDownloadRetry, 5);
  EXPECT_EQ(readWith(dir, kFactory + "[FLASH]\r\nDownloadRetry=9\r\n").mDevice.mFLASHDownloadRetry, 5);
}

TEST(Settings, TheUserViewIgnoresTheFilesNumbers) {
  TempDir dir;
  RDeviceCFG d = readWith(dir,
                          "[Environment]\r\nConnectTime=100\r\nAVOperate=5000\r\n[UNIT]\r\nUnitWriteUserSize=0\r\n"
                          "[Logging]\r\nInterval=10\r\nConnectTime=1500\r\n[EEPROM]\r\nMaxAddress=1000\r\n")
                     .mDevice;
  EXPECT_EQ(d.mConnectTime, 3000);
  EXPECT_EQ(d.mAVOperate, 1000);
  EXPECT_EQ(d.mUnitWriteUserSize, 8);
  EXPECT_EQ(d.mLogInterval, 1);
  EXPECT_EQ(d.mLogDisplayTime, 120);
  EXPECT_EQ(d.mLogConnectTime, 800);
  EXPECT_EQ(d.mEEPROMMaxAddress, 1024);
}

TEST(Settings, SensorTableFromTheFile) {
  TempDir dir;
  std::vector<RSensorType> t = readWith(dir,
                                        "[SENSOR]\r\n"
                                        "NH3=7,ppm,N,120,0,0\r\n"
                                        "CO =  2 , ppm,COX, 90, 50 ,50.05\r\n"
                                        "LEL=260,%LEL,,abc,0,100\r\n"
                                        "; a comment, no row\r\n"
                                        "Cl2=9,ppm,L,60,0.5,20.25\r\n")
                                   .mSensorTypes;
  ASSERT_EQ(t.size(), 4u);
  EXPECT_EQ(t[0].mName, "NH3");
  EXPECT_EQ(+t[0].mIndex, 7);
  EXPECT_EQ(t[0].mUnit, "ppm");
  EXPECT_EQ(t[0].mSpec, "SN");
  EXPECT_EQ(t[0].mCalTime, 120);
  EXPECT_FLOAT_EQ(t[0].mMin, 0.0f);
  EXPECT_FLOAT_EQ(t[0].mMax, 100.0f);

  // Blanks before a field go, those after it stay; a range too narrow takes that of the code.
  EXPECT_EQ(t[1].mName, "CO");
  EXPECT_EQ(+t[1].mIndex, 2);
  EXPECT_EQ(t[1].mUnit, "ppm");
  EXPECT_EQ(t[1].mSpec, "CO");
  EXPECT_EQ(t[1].mCalTime, 90);
  EXPECT_FLOAT_EQ(t[1].mMin, 0.0f);
  EXPECT_FLOAT_EQ(t[1].mMax, 300.0f);

  EXPECT_EQ(+t[2].mIndex, 4);  // 260, low 8 bits
  EXPECT_EQ(t[2].mSpec, "SS");
  EXPECT_EQ(t[2].mCalTime, 0);
  EXPECT_FLOAT_EQ(t[2].mMax, 100.0f);

  EXPECT_FLOAT_EQ(t[3].mMin, 0.5f);
  EXPECT_FLOAT_EQ(t[3].mMax, 20.25f);

  // An empty section is no table: the built-in one is used.
  std::vector<RSensorType> builtIn = readWith(dir, "[SENSOR]\r\n\r\n[UNIT]\r\n").mSensorTypes;
  ASSERT_EQ(builtIn.size(), 3u);
  EXPECT_EQ(builtIn[0].mName, "H2S");
}

TEST(Settings, TraceSwitchIsAnIntegerInBothViews) {
  TempDir dir;
  EXPECT_FALSE(readWith(dir, "[ETC]\r\nLogEnable=true\r\n").mDevice.mLogEnable);
  EXPECT_TRUE(readWith(dir, "[ETC]\r\nLogEnable=1\r\n").mDevice.mLogEnable);
  EXPECT_TRUE(readWith(dir, "[ETC]\r\nLogEnable= 2 \r\n").mDevice.mLogEnable);
  EXPECT_FALSE(readWith(dir, "[ETC]\r\nLogEnable=0\r\n").mDevice.mLogEnable);
  EXPECT_FALSE(readWith(dir, kFactory + "[ETC]\r\nLogEnable=true\r\n").mDevice.mLogEnable);
  EXPECT_TRUE(readWith(dir, kFactory + "[ETC]\r\nLogEnable=1\r\n").mDevice.mLogEnable);
}

TEST(Settings, RememberedImageAndItsFolder) {
  TempDir dir;
  dir.write("kvt13.img", "image");
  RDeviceCFG d = readWith(dir, "[FLASH]\r\nImageFile=" + dir.path() + "kvt13.img\r\n").mDevice;
  EXPECT_EQ(d.mFLASHFile, dir.path() + "kvt13.img");
  EXPECT_EQ(d.mFLASHSaveDir, dir.path());
  EXPECT_FALSE(dir.exists("IMG"));

  // A relative path is taken under the start folder, as when the window starts there.
  d = readWith(dir, "[FLASH]\r\nImageFile=kvt13.img\r\n").mDevice;
  EXPECT_EQ(d.mFLASHFile, dir.path() + "kvt13.img");

  // Gone: forgotten for the run, while the file keeps the path.
  d = readWith(dir, "[FLASH]\r\nImageFile=" + dir.path() + "gone.img\r\n").mDevice;
  EXPECT_EQ(d.mFLASHFile, "");
  EXPECT_EQ(d.mFLASHSaveDir, dir.path() + "IMG/");
  EXPECT_TRUE(dir.isDir("IMG"));
  EXPECT_EQ(TIniFile(dir.path() + "BEAMDOCK.INI").ReadString("FLASH", "ImageFile", ""), dir.path() + "gone.img");
}

TEST(Settings, SaveFoldersThatDoNotExistFallBackAndAreWrittenBack) {
  TempDir dir;
  TempDir elsewhere;
  RSettings s = readWith(dir, kFactory + "[EVENT]\r\nSaveDirectory=" + elsewhere.path() +
                                  "\r\n[EEPROM]\r\nSaveDirectory=/nonexistent/dump/\r\n"
                                  "[Logging]\r\nSaveDirectory=" +
                                  elsewhere.path() + "nothere\r\n");
  EXPECT_EQ(s.mDevice.mEVENTSaveDir, elsewhere.path());
  EXPECT_EQ(s.mDevice.mEEPROMSaveDir, dir.path() + "EEPROM/");
  EXPECT_EQ(s.mDevice.mLogSaveDir, dir.path() + "DAT/");
  EXPECT_TRUE(dir.isDir("EEPROM"));
  EXPECT_TRUE(dir.isDir("DAT"));
  EXPECT_FALSE(elsewhere.exists("nothere"));
  TIniFile ini(dir.path() + "BEAMDOCK.INI");
  EXPECT_EQ(ini.ReadString("EVENT", "SaveDirectory", ""), elsewhere.path());
  EXPECT_EQ(ini.ReadString("EEPROM", "SaveDirectory", ""), dir.path() + "EEPROM/");
  EXPECT_EQ(ini.ReadString("Logging", "SaveDirectory", ""), dir.path() + "DAT/");

  // An existing folder written without its '/' is used with one; the file is not touched.
  const std::string noSlash = elsewhere.path().substr(0, elsewhere.path().size() - 1);
  s = readWith(dir, "[EVENT]\r\nSaveDirectory=" + noSlash + "\r\n[FLASH]\r\nDownloadRetry=3\r\n");
  EXPECT_EQ(s.mDevice.mEVENTSaveDir, elsewhere.path());
  EXPECT_EQ(dir.read("BEAMDOCK.INI"), "[EVENT]\r\nSaveDirectory=" + noSlash + "\r\n[FLASH]\r\nDownloadRetry=3\r\n");
}

TEST(Settings, LoadSettingsSetsTheProgramWideState) {
  ProgramState kept;
  TempDir dir;
  dir.write("BEAMDOCK.INI", kFactory + "ConnectTime=1500\r\n[SENSOR]\r\nNH3=7,ppm,N,120,0,0\r\n");
  const std::string noSlash = dir.path().substr(0, dir.path().size() - 1);
  LoadSettings(noSlash);
  EXPECT_EQ(AppDir, dir.path());
  EXPECT_TRUE(FactoryMode);
  EXPECT_EQ(DeviceCFG.mConnectTime, 1500);
  ASSERT_EQ(SensorTypes.size(), 1u);
  EXPECT_EQ(FindSensorType(7), 0);
  EXPECT_TRUE(AppSettings().WriteString("SENSORCAL", "NH3", "50"));
  EXPECT_EQ(AppSettings().ReadString("sensorcal", "nh3", ""), "50");

  TempDir user;
  LoadSettings(user.path());
  EXPECT_FALSE(FactoryMode);
  EXPECT_EQ(SensorTypes.size(), 3u);
}

TEST(Settings, WindowGeometry) {
  TempDir dir;
  RWindowGeometry g = ReadWindowGeometry(dir.path());
  EXPECT_EQ(g.mWidth, 500);
  EXPECT_EQ(g.mHeight, 750);
  EXPECT_EQ(g.mLeft, 0);
  EXPECT_EQ(g.mTop, 0);
  dir.write("BEAMDOCK.INI", "[WINDOW]\r\nWIDTH=abc\r\nHEIGHT=600\r\nLEFT=-20\r\n");
  g = ReadWindowGeometry(dir.path());
  EXPECT_EQ(g.mWidth, 500);
  EXPECT_EQ(g.mHeight, 600);
  EXPECT_EQ(g.mLeft, -20);
  ASSERT_TRUE(WriteWindowGeometry(dir.path(), {820, 640, 30, 40}));
  EXPECT_EQ(dir.read("BEAMDOCK.INI"), "[WINDOW]\r\nWIDTH=820\r\nHEIGHT=640\r\nLEFT=30\r\nTOP=40\r\n");
}

TEST(EEPROMGrid, RowsAndAddressCells) {
  EXPECT_EQ(EEPROMGridRowCount(1000), 62);
  EXPECT_EQ(EEPROMGridAddressText(61), "03D0");
  EXPECT_EQ(EEPROMGridRowCount(1024), 64);
  EXPECT_EQ(EEPROMGridAddressText(0), "0000");
  EXPECT_EQ(EEPROMGridRowCount(15), 0);
  EXPECT_EQ(EEPROMGridAddressText(2047), "7FF0");
}

}  // namespace
