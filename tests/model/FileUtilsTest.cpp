#include "model/FileUtils.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

class AtomicWrite : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "bd_atomic_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir_, ec);
  }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  static std::string contents(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  size_t entries() const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(dir_), fs::directory_iterator{}));
  }
  fs::path dir_;
};

TEST_F(AtomicWrite, CreatesAndReplaces) {
  const std::string p = path("BEAMDOCK.INI");
  std::string error;
  ASSERT_TRUE(WriteFileAtomic(p, "first", &error)) << error;
  EXPECT_EQ(contents(p), "first");
  const std::string binary("a\0b\r\n\xff", 6);
  ASSERT_TRUE(WriteFileAtomic(p, binary, &error)) << error;
  EXPECT_EQ(contents(p), binary);
  ASSERT_TRUE(WriteFileAtomic(p, "", &error)) << error;
  EXPECT_EQ(fs::file_size(p), 0u);
  EXPECT_EQ(entries(), 1u);  // no temporary file left behind
}

TEST_F(AtomicWrite, KeepsPermissionsOfTheReplacedFile) {
  const std::string p = path("settings.ini");
  ASSERT_TRUE(WriteFileAtomic(p, "x", nullptr));
  ASSERT_EQ(chmod(p.c_str(), 0640), 0);
  ASSERT_TRUE(WriteFileAtomic(p, "y", nullptr));
  struct stat st {};
  ASSERT_EQ(stat(p.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(AtomicWrite, TargetThatIsAFolderFailsAndLeavesNoTemporary) {
  const std::string p = path("a.cfg");
  fs::create_directory(p);
  fs::create_directory(p + "/inside");  // a non-empty folder
  std::string error;
  EXPECT_FALSE(WriteFileAtomic(p, "data", &error));
  EXPECT_NE(error.find("a.cfg"), std::string::npos) << error;
  EXPECT_TRUE(fs::is_directory(p + "/inside"));
  EXPECT_EQ(entries(), 1u);
}

TEST_F(AtomicWrite, MissingFolderFails) {
  std::string error;
  EXPECT_FALSE(WriteFileAtomic(path("nowhere/x.cfg"), "data", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(WriteFileAtomic("", "data", &error));
  EXPECT_FALSE(WriteFileAtomic(path("nowhere/x.cfg"), "data", nullptr));  // no error text wanted
}

// A write that fails half way (here: the file size limit) must not touch the earlier file.
TEST_F(AtomicWrite, FailedWriteKeepsTheEarlierFile) {
  const std::string p = path("keep.cfg");
  ASSERT_TRUE(WriteFileAtomic(p, "earlier contents", nullptr));

  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 8;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string error;
  const bool ok = WriteFileAtomic(p, std::string(4096, 'n'), &error);
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);

  EXPECT_FALSE(ok);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(contents(p), "earlier contents");
  EXPECT_EQ(entries(), 1u);
}

TEST_F(AtomicWrite, ReadOnlyFolderKeepsTheEarlierFile) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  const std::string p = path("keep.cfg");
  ASSERT_TRUE(WriteFileAtomic(p, "earlier", nullptr));
  fs::permissions(dir_, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  std::string error;
  EXPECT_FALSE(WriteFileAtomic(p, "new", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(contents(p), "earlier");
}

TEST_F(AtomicWrite, LinkStaysALinkAndItsFileIsReplaced) {
  fs::create_directory(path("real"));
  const std::string real = path("real/BEAMDOCK.INI");
  ASSERT_TRUE(WriteFileAtomic(real, "old", nullptr));
  const std::string link = path("BEAMDOCK.INI");
  fs::create_symlink(real, link);
  ASSERT_TRUE(WriteFileAtomic(link, "new", nullptr));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(contents(real), "new");
}

}  // namespace
