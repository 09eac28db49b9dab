// The EEPROM group against the simulated detector: what Read shows for a range, the files
// of Save File and Read/Save Log, and the folder remembered.
#include "app/device/EepromDump.h"
#include "app/core/Settings.h"
#include "link/KVTComms.h"
#include "model/DeviceUtils.h"
#include "tests/support/ProgramState.h"
#include "tests/support/ScriptedOperator.h"
#include "tests/support/SimPort.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

class EepromDumpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AppDir = DeviceCFG.mEEPROMSaveDir = FDir.path();
  }
  ProgramState FKept;
  TempDir FDir;
};

TEST_F(EepromDumpTest, ReadShowsEveryByteOfTheRangeAtItsOwnAddressAndFFElsewhere) {
  struct Case {
    uint16_t max, start, packet;
    size_t packets;
    int endShown;  // the detector's bytes from start up to here
  } cases[] = {
      {1024, 0, 32, 32, 1024},    // the last 32 bytes too, not filler
      {1024, 256, 32, 24, 1024},  // rows 0 to 15 keep what they showed
      {1024, 8, 32, 32, 1024},    // a start inside a row
      {1000, 0, 128, 8, 992},     // 62 rows
      {4096, 0, 32, 32, 1024},    // beyond what one read shows the rows stay FF
  };
  KvtSim::Options o;
  o.eepromSize = 4096;
  for (int i = 0; i < 4096; ++i) o.eeprom.push_back(static_cast<uint8_t>((i * 7 + i / 256) % 255));
  for (const Case& c : cases) {
    SCOPED_TRACE("max " + std::to_string(c.max) + " start " + std::to_string(c.start));
    SimPort port(o);
    TComKVT link;
    ScriptedOperator op;
    DeviceCFG.mEEPROMMaxAddress = c.max;
    DeviceCFG.mEEPROMReadAddress = c.start;
    DeviceCFG.mEEPROMPacketSize = c.packet;
    TEEPROMGrid grid = NewEEPROMGrid(c.max);
    for (int r = 0; r < 16; ++r) grid[r][1] = "77";  // an earlier read's bytes

    ASSERT_EQ(EEPROMRead(op, link, grid), 0);
    size_t packets = 0;
    for (const KvtSim::Frame& f : port.sim().received()) packets += f.what == "81";
    EXPECT_EQ(packets, c.packets);
    ASSERT_EQ(grid.size(), c.max / 16u);
    for (int a = 0; a < static_cast<int>(grid.size()) * 16; ++a) {
      std::string want = a >= c.start && a < c.endShown ? EEPROMByteText(o.eeprom[a]) : "FF";
      if (a < c.start - c.start % 16 && a % 16 == 0) want = "77";
      ASSERT_EQ(grid[a / 16][a % 16 + 1], want) << "address " << a;
    }
  }
}

TEST_F(EepromDumpTest, SaveFileWritesTheGridAsShownAndRemembersTheFolderUnlessCancelled) {
  ScriptedOperator op;
  op.saveFile(std::nullopt).saveFile(FDir.path() + "dump.csv").saveFile(FDir.path() + "none/x.csv");
  TEEPROMGrid grid = NewEEPROMGrid(1024);
  FileRequest dialog;

  EXPECT_EQ(EEPROMSaveFile(op, dialog, grid), TEEPROMSave::Cancelled);
  EXPECT_EQ(AppSettings().ReadString("EEPROM", "SaveDirectory", "unset"), "unset");

  grid[0][16] = "0A";  // an edited cell
  EXPECT_EQ(EEPROMSaveFile(op, dialog, grid), TEEPROMSave::Saved);
  std::string want;
  for (int r = 0; r < 64; ++r)
    want += "0x" + EEPROMGridAddressText(r) + ",FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF," +
            (r == 0 ? "0A" : "FF") + ",\r\n";
  EXPECT_EQ(FDir.read("dump.csv"), want);

  EXPECT_EQ(EEPROMSaveFile(op, dialog, grid), TEEPROMSave::Failed);
  ASSERT_EQ(op.messages().size(), 1u);
  EXPECT_EQ(op.messages()[0].text, kEEPROMSaveFailed);
  EXPECT_EQ(AppSettings().ReadString("EEPROM", "SaveDirectory", ""), FDir.path() + "none/");
}

TEST_F(EepromDumpTest, ReadSaveLogWritesTheLoggedValuesUnderTheSerialsSafeName) {
  KvtSim::Options o;
  o.eeprom.assign(1024, 0x11);
  const std::string serial = std::string("A/B 1\0\0-_z", 10);
  std::copy(serial.begin(), serial.end(), o.eeprom.begin() + 16);
  o.eeprom[30] = 60, o.eeprom[31] = 0;
  const uint16_t words[] = {0x8000, 0x8001, 0xFFFF, 0x0000, 125};
  for (int i = 0; i < 5; ++i) o.eeprom[128 + 2 * i] = words[i] & 0xFF, o.eeprom[129 + 2 * i] = words[i] >> 8;
  o.eeprom[992] = 0x34, o.eeprom[993] = 0x12;  // the last value, 466.0
  SimPort port(o);
  TComKVT link;
  ScriptedOperator op;
  TEEPROMGrid grid = NewEEPROMGrid(1024);

  const REEPROMLogResult r = EEPROMReadSaveLog(op, link, grid);
  ASSERT_TRUE(r.mCode == 0 && r.mSaved);
  // The serial ends at its first zero byte, as Identify shows it.
  EXPECT_EQ(r.mPath.rfind(FDir.path() + "AB1_", 0), 0u) << r.mPath;
  const std::string text = FDir.read(r.mPath.substr(FDir.path().size()));
  EXPECT_EQ(text.rfind("0,3276.8\r\n60,-3276.7\r\n120,-0.1\r\n180,0.0\r\n240,12.5\r\n", 0), 0u);
  EXPECT_EQ(text.substr(text.size() - 15), "\r\n25920,466.0\r\n");
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 433);
  ASSERT_EQ(op.messages().size(), 1u);
  EXPECT_EQ(op.messages()[0].text, "SAVE:" + r.mPath);
  EXPECT_EQ(EEPROMLogFileName("/x", std::vector<uint8_t>(1024, 0), 0).substr(0, 12), "/x/NOSERIAL_");

  // A folder that cannot take the file: an error box instead of SAVE.
  DeviceCFG.mEEPROMSaveDir = FDir.path() + "gone/";
  ScriptedOperator failed;
  EXPECT_FALSE(EEPROMReadSaveLog(failed, link, grid).mSaved);
  ASSERT_EQ(failed.messages().size(), 1u);
  EXPECT_EQ(failed.messages()[0].text, kEEPROMLogFailed);
}

}  // namespace
