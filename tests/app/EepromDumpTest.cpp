// The EEPROM group against the simulated detector: what Read shows for a range, the files
// of Save File and Read/Save Log, and the folder remembered.
#include "app/EepromDump.h"
#include "app/Settings.h"
#include "link/KVTComms.h"
#include "model/DeviceUtils.h"
#include "tests/support/ScriptedOperator.h"
#include "tests/support/SimPort.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

class EepromDumpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FSaved = DeviceCFG;
    FSavedDir = AppDir;
    DeviceCFG = RDeviceCFG{};
    AppDir = FDir.path();
    DeviceCFG.mEEPROMSaveDir = FDir.path();
  }
  void TearDown() override {
    DeviceCFG = FSaved;
    AppDir = FSavedDir;
  }
  TempDir FDir;

 private:
  RDeviceCFG FSaved;
  std::string FSavedDir;
};

// Every byte differs from its neighbours and from 0xFF.
std::vector<uint8_t> Image(size_t size) {
  std::vector<uint8_t> e(size);
  for (size_t i = 0; i < size; ++i) e[i] = static_cast<uint8_t>((i * 7 + i / 256) % 255);
  return e;
}

size_t Count(const KvtSim& sim, const std::string& what) {
  size_t n = 0;
  for (const KvtSim::Frame& f : sim.received()) n += f.what == what;
  return n;
}

TEST_F(EepromDumpTest, ReadShowsEveryByteOfTheRangeAtItsOwnAddressAndFFElsewhere) {
  struct Case {
    uint16_t max, start, packet;
    size_t packets;
    int firstShown, endShown;  // addresses that must show the detector's bytes
  } cases[] = {
      {1024, 0, 32, 32, 0, 1024},       // the last 32 bytes too, not filler
      {1024, 256, 32, 24, 256, 1024},   // rows 0 to 15 keep what they showed
      {1024, 8, 32, 32, 8, 1024},       // an address that starts inside a row
      {1000, 0, 128, 8, 0, 992},        // 62 rows
      {4096, 0, 32, 32, 0, 1024},       // more than one read shows: the rest stays FF
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("max " + std::to_string(c.max) + " start " + std::to_string(c.start));
    KvtSim::Options o;
    o.eeprom = Image(4096);
    o.eepromSize = 4096;
    SimPort port(o);
    TComKVT link;
    ScriptedOperator op;
    DeviceCFG.mEEPROMMaxAddress = c.max;
    DeviceCFG.mEEPROMReadAddress = c.start;
    DeviceCFG.mEEPROMPacketSize = c.packet;
    TEEPROMGrid grid = NewEEPROMGrid(c.max);
    for (int r = 0; r < 16; ++r) grid[r][1] = "77";  // an earlier read's bytes

    ASSERT_EQ(EEPROMRead(op, link, grid), 0);
    EXPECT_EQ(Count(port.sim(), "81"), c.packets);
    EXPECT_EQ(op.lastStatus().text, "Read EEPROM data... OK");
    ASSERT_EQ(grid.size(), c.max / 16u);
    for (int a = 0; a < static_cast<int>(grid.size()) * 16; ++a) {
      std::string want = "FF";
      if (a >= c.firstShown && a < c.endShown) want = EEPROMByteText(o.eeprom[a]);
      else if (a < c.start - c.start % 16 && a % 16 == 0) want = "77";
      ASSERT_EQ(grid[a / 16][a % 16 + 1], want) << "address " << a;
    }
    EXPECT_EQ(grid.back()[0], EEPROMGridAddressText(static_cast<int>(grid.size()) - 1));
  }
}

TEST_F(EepromDumpTest, SaveFileWritesTheGridAsShownAndRemembersTheFolderUnlessCancelled) {
  ScriptedOperator op;
  op.saveFile(std::nullopt).saveFile(FDir.path() + "sub/dump.csv").saveFile(FDir.path() + "none/x.csv");
  TEEPROMGrid grid = NewEEPROMGrid(1024);
  FileRequest dialog{"", "Data file|*.csv", "csv", "", ""};

  EXPECT_EQ(EEPROMSaveFile(op, dialog, grid), TEEPROMSave::Cancelled);
  EXPECT_EQ(ReadSetting("EEPROM", "SaveDirectory", "unset"), "unset");
  EXPECT_EQ(dialog.title, "Save EEPROM Data...");
  EXPECT_EQ(dialog.fileName.size(), std::string("EEPROM_240315140709.CSV").size());

  ::mkdir((FDir.path() + "sub").c_str(), 0755);
  grid[0][16] = "0A";  // an edited cell
  EXPECT_EQ(EEPROMSaveFile(op, dialog, grid), TEEPROMSave::Saved);
  const std::string text = FDir.read("sub/dump.csv");
  std::string want;
  for (int r = 0; r < 64; ++r) {
    want += "0x" + EEPROMGridAddressText(r) + ",";
    for (int c = 1; c <= 16; ++c) want += (r == 0 && c == 16 ? "0A" : "FF") + std::string(",");
    want += "\r\n";
  }
  EXPECT_EQ(text, want);
  EXPECT_EQ(ReadSetting("EEPROM", "SaveDirectory", ""), FDir.path() + "sub/");

  EXPECT_EQ(EEPROMSaveFile(op, dialog, grid), TEEPROMSave::Failed);
  ASSERT_EQ(op.messages().size(), 1u);
  EXPECT_EQ(op.messages()[0].text, kEEPROMSaveFailed);
  EXPECT_EQ(ReadSetting("EEPROM", "SaveDirectory", ""), FDir.path() + "none/");
}

TEST_F(EepromDumpTest, ReadSaveLogWritesTheLoggedValuesUnderTheSerialsSafeName) {
  std::vector<uint8_t> e = Image(1024);
  const std::string serial = std::string("A/B 1\0\0-_z", 10);
  for (int i = 0; i < 10; ++i) e[16 + i] = static_cast<uint8_t>(serial[i]);
  e[30] = 60, e[31] = 0;
  const uint16_t words[] = {0x8000, 0x8001, 0xFFFF, 0x0000, 125};
  for (int i = 0; i < 5; ++i) e[128 + 2 * i] = words[i] & 0xFF, e[129 + 2 * i] = words[i] >> 8;
  e[992] = 0x34, e[993] = 0x12;  // the last value: 466.0
  KvtSim::Options o;
  o.eeprom = e;
  SimPort port(o);
  TComKVT link;
  ScriptedOperator op;
  TEEPROMGrid grid = NewEEPROMGrid(1024);

  const REEPROMLogResult r = EEPROMReadSaveLog(op, link, grid);
  ASSERT_EQ(r.mCode, 0);
  ASSERT_TRUE(r.mSaved);
  EXPECT_EQ(r.mPath.rfind(FDir.path() + "AB1-_z_", 0), 0u) << r.mPath;
  EXPECT_EQ(grid[62][1], EEPROMByteText(e[992]));
  const std::string text = FDir.read(r.mPath.substr(FDir.path().size()));
  EXPECT_EQ(text.rfind("0,3276.8\r\n60,-3276.7\r\n120,-0.1\r\n180,0.0\r\n240,12.5\r\n", 0), 0u) << text.substr(0, 60);
  EXPECT_NE(text.find("\r\n25920,466.0\r\n"), std::string::npos);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 433);
  ASSERT_EQ(op.messages().size(), 1u);
  EXPECT_EQ(op.messages()[0].text, "SAVE:" + r.mPath);

  EXPECT_EQ(EEPROMLogFileName("/x", std::vector<uint8_t>(1024, 0), 0).substr(0, 12), "/x/NOSERIAL_");

  // A folder that cannot take the file: an error box, no SAVE.
  DeviceCFG.mEEPROMSaveDir = FDir.path() + "gone/";
  ScriptedOperator failed;
  EXPECT_FALSE(EEPROMReadSaveLog(failed, link, grid).mSaved);
  ASSERT_EQ(failed.messages().size(), 1u);
  EXPECT_EQ(failed.messages()[0].text, kEEPROMLogFailed);
}

}  // namespace
