// Targets for the files a technician brings: .cfg configurations and firmware images.
#include "fuzzers/FuzzSupport.h"

#include "app/device/Firmware.h"
#include "app/core/Settings.h"
#include "model/CfgFile.h"
#include "model/Checksum.h"
#include "model/DeviceUtils.h"
#include "model/SensorTypes.h"

#include <cstring>

// The header and body as read from disk. An accepted file must survive being written back
// as version 7 and read again with the same settings.
int FuzzCfgFile(const uint8_t* data, size_t size) {
  const CFGFileContent content = ParseCFGFile(std::span<const uint8_t>(data, size));
  if (size >= 4) {
    int32_t version = 0;
    std::memcpy(&version, data, 4);
    if (ConvertCFGFile(version, std::span<const uint8_t>(data, size).subspan(4))) {
      FUZZ_CHECK(CFGBodySize(version) > 0 && CFGBodySize(version) <= size - 4);
    }
  }
  FUZZ_CHECK(CFGRefusalText(content.refusal).empty() == content.ok());
  if (!content.ok()) return 0;
  FUZZ_CHECK(size >= kCFGHeadSize + CFGBodySize(content.version));

  const std::string again = BuildCFGFileV7(content.cfg, content.saveTime, content.mode == 1);
  FUZZ_CHECK(again.size() == kCFGV7FileSize);
  const CFGFileContent reread = ParseCFGFile(again);
  FUZZ_CHECK(reread.ok() && reread.version == kCFGWriteVersion);
  RKVTCFG first{}, second{};
  TakeOverFileFields(first, content.cfg);
  TakeOverFileFields(second, reread.cfg);
  // What version 7 carries comes back unchanged.
  FUZZ_CHECK(CFGToFileV7(first) == CFGToFileV7(second));
  return 0;
}

// A firmware image. The first bytes choose the image geometry (so the size check can pass)
// and whether to pad the file to it and mend its CRC (so the product check is reached).
int FuzzImage(const uint8_t* data, size_t size) {
  TFuzzBytes in(data, size);
  DeviceCFG.mFLASHMaxAddress = static_cast<uint16_t>(1 + in.Byte() % 8);
  DeviceCFG.mFALSHPacketSize = static_cast<uint16_t>(1 + in.Byte() % 64);
  const uint8_t mend = in.Byte();
  FactoryMode = mend & 4;
  std::vector<uint8_t> file = in.Rest();
  const size_t want = size_t{DeviceCFG.mFLASHMaxAddress} * DeviceCFG.mFALSHPacketSize;
  if (mend & 1) file.resize(want, 0xFF);
  if ((mend & 2) && file.size() >= 2) {
    uint16_t crc = 0;
    for (size_t i = 2; i < file.size(); ++i) crc = UpdateCRC16(crc, file[i]);
    file[0] = static_cast<uint8_t>(crc & 0xFF);
    file[1] = static_cast<uint8_t>(crc >> 8);
  }
  AppDir = FuzzScratchDir();
  const std::string path = AppDir + "image.img";
  WriteScratchFile(path, file);

  TFuzzOperator op;
  TUpgradeImage image;
  RFirmwareBox box;
  const uint8_t code = LoadUpgradeFile(op, path, false, image, box);
  FUZZ_CHECK(box.mUpgradeEnabled == (code == 0));
  if (code == 0) {
    FUZZ_CHECK(file.size() == want && image.size() == DeviceCFG.mFLASHMaxAddress);
    size_t at = 0;
    for (const auto& row : image) {
      FUZZ_CHECK(row.size() == DeviceCFG.mFALSHPacketSize);
      FUZZ_CHECK(std::memcmp(row.data(), file.data() + at, row.size()) == 0);
      at += row.size();
    }
  }
  return 0;
}
