#include "app/core/IniFile.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace {

const char* kHandWritten =
    "; BeamDock settings, edited by hand\r\n"
    "[Environment]\r\n"
    "ModeEntry = MRW_TQP__   \r\n"
    "  ConnectTime=2500ms\r\n"
    "\r\n"
    "# old value kept for reference\r\n"
    "[FLASH]\r\n"
    "ImageFile=/opt/img/kvt 1.3.img\r\n"
    "DownloadRetry = 0\r\n"
    "Retry=4\r\n"
    "\r\n"
    "[flash]\r\n"
    "Retry=9\r\n"
    "[EVENT]\r\n"
    "SaveDirectory=\r\n";

TEST(IniFile, ReadsNamesWithoutCaseAndTrimsValues) {
  TempDir dir;
  dir.write("a.ini", kHandWritten);
  TIniFile ini(dir.path() + "a.ini");
  EXPECT_EQ(ini.ReadString("environment", "MODEENTRY", "USER"), "MRW_TQP__");
  EXPECT_EQ(ini.ReadString("Environment", "connecttime", "3000"), "2500ms");
  EXPECT_EQ(ini.ReadString("FLASH", "ImageFile", ""), "/opt/img/kvt 1.3.img");
  // The first section and the first key of a name win, as Windows reads them.
  EXPECT_EQ(ini.ReadString("FLASH", "Retry", "3"), "4");
  // An empty value is a value, not a missing key.
  EXPECT_EQ(ini.ReadString("EVENT", "SaveDirectory", "x"), "");
  EXPECT_TRUE(ini.ValueExists("event", "savedirectory"));
  EXPECT_FALSE(ini.ValueExists("EVENT", "PacketSize"));
  EXPECT_EQ(ini.ReadString("EVENT", "PacketSize", "9"), "9");
  EXPECT_EQ(ini.ReadString("Logging", "Interval", "1"), "1");
  EXPECT_TRUE(ini.SectionExists("Flash"));
  EXPECT_FALSE(ini.SectionExists("Logging"));
  // Comments are not keys.
  EXPECT_EQ(ini.ReadString("Environment", "# old value kept for reference", "none"), "none");
}

TEST(IniFile, MissingFileAndOddLinesGiveDefaults) {
  TempDir dir;
  TIniFile missing(dir.path() + "none.ini");
  EXPECT_EQ(missing.ReadString("Environment", "ModeEntry", "USER"), "USER");
  EXPECT_EQ(missing.ReadInteger("WINDOW", "WIDTH", 500), 500);
  EXPECT_TRUE(missing.ReadSectionValues("SENSOR").empty());
  EXPECT_FALSE(dir.exists("none.ini"));  // reading creates nothing

  // A UTF-8 mark before the first section, keys before any section, lines without '='.
  dir.write("b.ini", "\xEF\xBB\xBF[SENSOR]\nH2S=1,ppm,H,180,0,100\nnot an entry\n=5\n  CO = 2,ppm \n");
  TIniFile ini(dir.path() + "b.ini");
  auto entries = ini.ReadSectionValues("sensor");
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0], (std::pair<std::string, std::string>{"H2S", "1,ppm,H,180,0,100"}));
  EXPECT_EQ(entries[1], (std::pair<std::string, std::string>{"CO", "2,ppm"}));
}

TEST(IniFile, IntegersAreWholeDecimalNumbers) {
  TempDir dir;
  dir.write("c.ini", "[ETC]\nA=true\nB=1\nC= -12 \nD=12x\nE=99999999999\nF=+7\nG=\nH=-2147483648\n");
  TIniFile ini(dir.path() + "c.ini");
  EXPECT_EQ(ini.ReadInteger("ETC", "A", 0), 0);
  EXPECT_EQ(ini.ReadInteger("ETC", "B", 0), 1);
  EXPECT_EQ(ini.ReadInteger("ETC", "C", 0), -12);
  EXPECT_EQ(ini.ReadInteger("ETC", "D", 5), 5);
  EXPECT_EQ(ini.ReadInteger("ETC", "E", 5), 5);
  EXPECT_EQ(ini.ReadInteger("ETC", "F", 0), 7);
  EXPECT_EQ(ini.ReadInteger("ETC", "G", 3), 3);
  EXPECT_EQ(ini.ReadInteger("ETC", "H", 0), -2147483647 - 1);
}

TEST(IniFile, RewritesOneKeyAndLeavesTheRestAsWritten) {
  TempDir dir;
  dir.write("a.ini", kHandWritten);
  TIniFile ini(dir.path() + "a.ini");
  ASSERT_TRUE(ini.WriteInteger("flash", "downloadretry", 3));
  std::string expected = kHandWritten;
  expected.replace(expected.find("DownloadRetry = 0"), 17, "DownloadRetry = 3");
  EXPECT_EQ(dir.read("a.ini"), expected);

  ASSERT_TRUE(ini.WriteString("EVENT", "SaveDirectory", "/data/EVENT/"));
  expected.replace(expected.find("SaveDirectory="), 14, "SaveDirectory=/data/EVENT/");
  EXPECT_EQ(dir.read("a.ini"), expected);

  // No temporary file is left beside it.
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
    (void)e;
    ++files;
  }
  EXPECT_EQ(files, 1);
}

TEST(IniFile, AddsKeysAtTheEndOfTheirSectionAndNewSectionsAtTheEnd) {
  TempDir dir;
  dir.write("a.ini", kHandWritten);
  TIniFile ini(dir.path() + "a.ini");
  ASSERT_TRUE(ini.WriteString("Environment", "AVOperate", "1000"));
  ASSERT_TRUE(ini.WriteStrings("WINDOW", {{"WIDTH", "640"}, {"HEIGHT", "480"}}));
  std::string expected = kHandWritten;
  expected.insert(expected.find("\r\n\r\n# old") + 2, "AVOperate=1000\r\n");
  expected += "\r\n[WINDOW]\r\nWIDTH=640\r\nHEIGHT=480\r\n";
  EXPECT_EQ(dir.read("a.ini"), expected);
  EXPECT_EQ(ini.ReadInteger("window", "height", 0), 480);
}

TEST(IniFile, KeepsTheFilesOwnLineEnds) {
  TempDir dir;
  // LF file whose last line has no line end.
  dir.write("lf.ini", "[UNIT]\nPacketSize=16\n[EVENT]\nPacketSize=9");
  TIniFile lf(dir.path() + "lf.ini");
  ASSERT_TRUE(lf.WriteString("EVENT", "ReadPacketSize", "32"));
  EXPECT_EQ(dir.read("lf.ini"), "[UNIT]\nPacketSize=16\n[EVENT]\nPacketSize=9\nReadPacketSize=32");
  ASSERT_TRUE(lf.WriteString("UNIT", "PacketSize", "32"));
  EXPECT_EQ(dir.read("lf.ini"), "[UNIT]\nPacketSize=32\n[EVENT]\nPacketSize=9\nReadPacketSize=32");

  // A new file is written with CR LF, as every file of the program.
  TIniFile fresh(dir.path() + "new.ini");
  ASSERT_TRUE(fresh.WriteInteger("FLASH", "DownloadRetry", 3));
  EXPECT_EQ(dir.read("new.ini"), "[FLASH]\r\nDownloadRetry=3\r\n");
}

// A snapshot keeps the version it read, yet its writes keep what another writer added since.
TEST(IniFile, SnapshotReadsOneVersionAndWritesOverTheCurrentFile) {
  TempDir dir;
  dir.write("a.ini", "[UNIT]\r\nPacketSize=16\r\n");
  const TIniFile snap = TIniFile::Snapshot(dir.path() + "a.ini");
  TIniFile(dir.path() + "a.ini").WriteString("UNIT", "PacketSize", "64");
  EXPECT_EQ(snap.ReadInteger("UNIT", "PacketSize", 0), 16);

  TIniFile writer = snap;
  ASSERT_TRUE(writer.WriteString("EVENT", "SaveDirectory", "/data/EVENT/"));
  EXPECT_EQ(dir.read("a.ini"), "[UNIT]\r\nPacketSize=64\r\n\r\n[EVENT]\r\nSaveDirectory=/data/EVENT/\r\n");
  EXPECT_EQ(writer.ReadInteger("UNIT", "PacketSize", 0), 64);
  EXPECT_EQ(writer.ReadString("EVENT", "SaveDirectory", ""), "/data/EVENT/");
  EXPECT_EQ(snap.ReadInteger("UNIT", "PacketSize", 0), 16);  // the copy was not shared
}

TEST(IniFile, RefusesWhatWouldBreakTheFile) {
  TempDir dir;
  dir.write("a.ini", kHandWritten);
  TIniFile ini(dir.path() + "a.ini");
  std::string error;
  EXPECT_FALSE(ini.WriteString("EVENT", "SaveDirectory", "/a\r\n[Environment]\r\nModeEntry=MRW_TQP__", &error));
  EXPECT_FALSE(ini.WriteString("EVENT", "Save=Directory", "x", &error));
  EXPECT_FALSE(ini.WriteString("EV]ENT", "SaveDirectory", "x", &error));
  EXPECT_EQ(dir.read("a.ini"), kHandWritten);
}

TEST(IniFile, WritesThroughASymbolicLink) {
  TempDir dir;
  dir.write("real.ini", "[A]\nx=1\n");
  ASSERT_EQ(::symlink((dir.path() + "real.ini").c_str(), (dir.path() + "link.ini").c_str()), 0);
  TIniFile ini(dir.path() + "link.ini");
  ASSERT_TRUE(ini.WriteString("A", "x", "2"));
  struct stat st {};
  ASSERT_EQ(::lstat((dir.path() + "link.ini").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(dir.read("real.ini"), "[A]\nx=2\n");
}

TEST(IniFile, AFullDiskLeavesTheOldFileWhole) {
  TempDir dir;
  std::string big = kHandWritten;
  for (int i = 0; i < 100; ++i) big += "Key" + std::to_string(i) + "=some value to make the file long\r\n";
  dir.write("a.ini", big);
  TIniFile ini(dir.path() + "a.ini");

  // A file size limit makes the write fail part way, as a full disk would.
  struct rlimit old {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  struct rlimit small = old;
  small.rlim_cur = 1024;
  auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string error;
  const bool written = ini.WriteInteger("FLASH", "DownloadRetry", 3, &error);
  ::setrlimit(RLIMIT_FSIZE, &old);
  ::signal(SIGXFSZ, oldHandler);

  EXPECT_FALSE(written);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(dir.read("a.ini"), big);
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
    (void)e;
    ++files;
  }
  EXPECT_EQ(files, 1);  // the temporary file is gone
}

TEST(IniFile, AFileThatCannotBeWrittenOrReadStaysAsItWas) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  TempDir dir;
  dir.write("a.ini", kHandWritten);
  TIniFile ini(dir.path() + "a.ini");

  // The folder cannot take the temporary file.
  ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
  std::string error;
  EXPECT_FALSE(ini.WriteInteger("FLASH", "DownloadRetry", 3, &error));
  EXPECT_FALSE(error.empty());
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  EXPECT_EQ(dir.read("a.ini"), kHandWritten);

  // A file that cannot be read is not replaced by one holding a single key.
  ASSERT_EQ(::chmod((dir.path() + "a.ini").c_str(), 0200), 0);
  EXPECT_FALSE(ini.WriteInteger("FLASH", "DownloadRetry", 3, &error));
  ASSERT_EQ(::chmod((dir.path() + "a.ini").c_str(), 0644), 0);
  EXPECT_EQ(dir.read("a.ini"), kHandWritten);
}

TEST(IniFile, KeepsTheModeOfTheFileItReplaces) {
  TempDir dir;
  dir.write("a.ini", "[A]\nx=1\n");
  ASSERT_EQ(::chmod((dir.path() + "a.ini").c_str(), 0640), 0);
  ASSERT_TRUE(TIniFile(dir.path() + "a.ini").WriteString("A", "x", "2"));
  struct stat st {};
  ASSERT_EQ(::stat((dir.path() + "a.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

}  // namespace
