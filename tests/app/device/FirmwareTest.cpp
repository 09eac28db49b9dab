// Firmware image loading and the upgrade run, end to end against the simulated detector.
#include "app/device/Firmware.h"
#include "app/core/Results.h"
#include "app/core/Settings.h"
#include "link/KVTComms.h"
#include "model/Checksum.h"
#include "model/DeviceUtils.h"
#include "model/SensorTypes.h"
#include "tests/support/ProgramState.h"
#include "tests/support/ScriptedOperator.h"
#include "tests/support/SimPort.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <optional>

namespace {

using Bytes = std::vector<uint8_t>;

// An image of size bytes: product, version, hardware, lowest firmware and hardware, then data,
// with its own checksum in front.
Bytes Image(size_t size, uint8_t product = 0, uint8_t fw = 13, uint8_t hw = 1, uint8_t minFw = 0, uint8_t minHw = 0) {
  Bytes b(size);
  for (size_t i = 7; i < size; ++i) b[i] = static_cast<uint8_t>(i * 31 + 7);
  b[2] = product, b[3] = fw, b[4] = hw, b[5] = minFw, b[6] = minHw;
  uint16_t crc = 0;
  for (size_t i = 2; i < size; ++i) crc = UpdateCRC16(crc, b[i]);
  b[0] = static_cast<uint8_t>(crc), b[1] = static_cast<uint8_t>(crc >> 8);
  return b;
}

class FirmwareTest : public ::testing::Test {
 protected:
  void SetUp() override { DeviceCFG = RDeviceCFG{}, AppDir = FDir.path(), FactoryMode = false; }
  std::string File(const std::string& name, const Bytes& bytes) {
    FDir.write(name, std::string(bytes.begin(), bytes.end()));
    return FDir.path() + name;
  }
  std::string Fifo(const std::string& name) {
    const std::string path = FDir.path() + name;
    ::mkfifo(path.c_str(), 0600);
    return path;
  }
  ProgramState FKept;
  TempDir FDir;
};

TEST_F(FirmwareTest, ImagesAreCheckedAndOnlyAGoodOneIsRemembered) {
  Bytes changed = Image(16384), swapped = Image(16384);
  changed[100] ^= 1;
  std::swap(swapped[0], swapped[1]);
  const struct {
    std::string file;
    bool factory;
    uint16_t rows, cols;
    uint8_t code;
  } cases[] = {{File("good.img", Image(16384, 0, 12)), false, 128, 128, 0},
               {File("changed.img", changed), false, 128, 128, APP_FILECRC},
               {File("swapped.img", swapped), false, 128, 128, APP_FILECRC},
               {File("long.img", Image(16385)), false, 128, 128, APP_FILESIZE},
               {File("big.img", Image(100000)), false, 128, 128, APP_FILESIZE},
               {File("other.img", Image(16384, 2)), false, 128, 128, APP_FILETYPE},
               {FDir.path() + "missing.img", false, 128, 128, APP_FILEOPEN},
               {Fifo("fifo.img"), false, 128, 128, APP_FILEOPEN},  // never opened for reading
               {FDir.path(), false, 128, 128, APP_FILEOPEN},
               {FDir.path() + "other.img", true, 128, 128, 0},
               {File("narrow.img", Image(16384, 0, 12)), false, 256, 64, 0}};
  for (const auto& c : cases) {
    FactoryMode = c.factory;
    DeviceCFG.mFLASHMaxAddress = c.rows, DeviceCFG.mFALSHPacketSize = c.cols;
    const std::string before = AppSettings().ReadString("FLASH", "ImageFile", "");
    ScriptedOperator op, quiet;
    TUpgradeImage image;
    RFirmwareBox box{"old", "old", true};
    EXPECT_EQ(LoadUpgradeFile(op, c.file, false, image, box), c.code) << c.file;
    EXPECT_EQ(box.mUpgradeEnabled, c.code == 0) << c.file;
    EXPECT_EQ(AppSettings().ReadString("FLASH", "ImageFile", ""), c.code == 0 ? c.file : before) << c.file;
    EXPECT_EQ(op.lastStatus().text, std::string(kLoadingUpgradeName) + ResultText(c.code).mSuffix);
    EXPECT_EQ(box.mDescLabel, c.code ? kSelectFileDesc : c.factory ? kFirmwareDescPrefix + std::string("1.3")
                                                                    : kFirmwareDescPrefix + std::string("1.2"));
    LoadUpgradeFile(quiet, c.file, true, image, box);
    EXPECT_TRUE(quiet.events().empty());
  }
}

struct Recorder : TFirmwareView {
  int packets = 0, total = 0, lastAttempt = 0;
  void ShowProgress(int p, int t, int attempt, int) override { packets = p, total = t, lastAttempt = attempt; }
};

TEST_F(FirmwareTest, UpgradeRunsRetriesCancelsAndRefuses) {
  struct Case {
    const char* name;
    std::vector<KvtSim::Fault> faults;
    Bytes image;
    std::optional<bool> answer;  // to the older-version question
    int cancelAt;                // packet during which Cancel is pressed, -1 never
    uint8_t code;
    int packets, attempts, retryLines, okLines, runs;
  };
  const KvtSim::Fault once{KvtSim::kTargetPacket, KvtSim::FaultKind::Nak, 1, 40};
  const KvtSim::Fault always{KvtSim::kTargetPacket, KvtSim::FaultKind::Nak, 0, -1};
  const KvtSim::Fault refused{0x11, KvtSim::FaultKind::Nak, 0, -1};
  const KvtSim::Fault unanswered{KvtSim::kTargetPacket, KvtSim::FaultKind::Silent, 1, 40};
  const Case cases[] = {{"clean", {}, Image(16384), {}, -1, 0, 128, 1, 0, 128, 1},
                        {"fails once", {once}, Image(16384), {}, -1, 0, 128, 1, 1, 128, 1},
                        {"always fails", {always}, Image(16384), {}, -1, LINK_NAK, 1, 3, 9, 0, 0},
                        {"cancel at 40", {}, Image(16384), {}, 40, APP_USERSTOP, 42, 1, 0, 42, 0},
                        {"cancel in a wait", {unanswered}, Image(16384), {}, -1, APP_USERSTOP, 42, 1, 1, 42, 0},
                        {"cancel at the last", {}, Image(16384), {}, 127, 0, 128, 1, 0, 128, 1},
                        {"execute refused", {refused}, Image(16384), {}, -1, APP_VALIDATION, 128, 3, 0, 384, 0},
                        {"older, No", {}, Image(16384, 0, 11), false, -1, APP_NOTOLDVERSION, 0, 0, 0, 0, 0},
                        {"needs newer", {}, Image(16384, 0, 13, 1, 13), {}, -1, APP_NOTUSEFUL, 0, 0, 0, 0, 0}};
  for (const Case& c : cases) {
    KvtSim::Options o;
    o.config.mUnit.mFWVersion = 12, o.config.mUnit.mHWVersion = 1;
    o.faults = c.faults;
    SimPort port(o);
    ScriptedOperator op;
    if (c.answer) op.answer(*c.answer);
    TUpgradeImage image;
    RFirmwareBox box;
    ASSERT_EQ(LoadUpgradeFile(op, File("fw.img", c.image), true, image, box), 0);
    TComKVT link;
    Recorder view;
    TFirmwareDownload run(op, link, image, view);
    // The Cancel button, pressed while packet cancelAt goes.
    op.onPump = [&] {
      if (c.cancelAt >= 0 && view.packets == c.cancelAt + 1) run.Stop();
    };
    // A click the window takes while the link waits for packet 40's lost answer (a loaded
    // machine may make an earlier answer wait long enough to call the hook too).
    if (c.name == std::string("cancel in a wait"))
      link.IdleHook = [&] {
        if (view.packets == 40) run.Stop();
      };
    EXPECT_EQ(run.Run(), c.code) << c.name;
    EXPECT_EQ(view.packets, c.packets) << c.name;
    EXPECT_EQ(view.lastAttempt, c.attempts) << c.name;
    EXPECT_EQ(port.sim().firmwareRuns(), c.runs) << c.name;
    EXPECT_EQ(op.questions().size(), c.answer ? 1u : 0u) << c.name;

    const std::vector<std::string> memo = op.memo();
    const auto lines = [&](const std::string& text) {
      return std::count_if(memo.begin(), memo.end(), [&](const std::string& l) { return l.find(text) == 12; });
    };
    // A loaded machine may cost a packet a repeat now and then; the injected ones are exact.
    EXPECT_GE(lines(" [SEND] Retry "), c.retryLines) << c.name;
    if (c.attempts == 3 && c.okLines == 0) {
      EXPECT_EQ(lines(" [SEND] Retry "), c.retryLines) << c.name;
    }
    EXPECT_EQ(lines(" [SEND] OK "), c.okLines) << c.name;
    const auto retry =
        std::find_if(memo.begin(), memo.end(), [](const std::string& l) { return l.ends_with("Retry 40"); });
    if (c.retryLines == 1) {
      ASSERT_LT(retry + 1, memo.end());
      EXPECT_EQ((retry + 1)->substr(12), " [SEND] OK 40");
    }
    if (c.attempts > 0) {
      EXPECT_EQ(op.lastStatus().text, std::string(kDownloadImageName) + ResultText(c.code).mSuffix) << c.name;
    }
  }
}

}  // namespace
