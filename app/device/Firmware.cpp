#include "app/device/Firmware.h"
#include "app/records/ServiceRecords.h"

#include "app/device/Operation.h"
#include "app/core/Results.h"
#include "app/core/Settings.h"
#include "app/core/Trace.h"
#include "link/CommInt.h"
#include "link/KVTComms.h"
#include "model/Checksum.h"
#include "model/DeviceUtils.h"
#include "model/SensorTypes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

// Header byte i of the image, counted over the rows (a packet may be shorter than the header).
uint8_t HeaderByte(const TUpgradeImage& image, size_t i) {
  for (const std::vector<uint8_t>& row : image) {
    if (i < row.size()) return row[i];
    i -= row.size();
  }
  return 0;
}

uint8_t ReadImage(const std::string& fileName, TUpgradeImage& image) {
  const size_t rows = DeviceCFG.mFLASHMaxAddress, cols = DeviceCFG.mFALSHPacketSize;
  image.assign(rows, std::vector<uint8_t>(cols, 0));
  // Opened without blocking and looked at before a byte is read: a FIFO or a device would
  // otherwise hold the program in open() or read() for ever.
  const int fd = ::open(fileName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return APP_FILEOPEN;
  struct stat st0 {};
  if (::fstat(fd, &st0) != 0 || !S_ISREG(st0.st_mode)) {
    ::close(fd);
    return APP_FILEOPEN;
  }
  std::FILE* f = ::fdopen(fd, "rb");
  if (!f) {
    ::close(fd);
    return APP_FILEOPEN;
  }
  struct stat st {};
  uint8_t code = APP_FILEOPEN;
  if (::fstat(::fileno(f), &st) == 0 && S_ISREG(st.st_mode)) {
    if (static_cast<unsigned long long>(st.st_size) != rows * cols) {
      code = APP_FILESIZE;
    } else {
      code = 0;
      for (std::vector<uint8_t>& row : image)
        if (std::fread(row.data(), 1, cols, f) != cols) code = APP_FILEOPEN;
    }
  }
  std::fclose(f);
  if (code != 0) return code;

  uint16_t crc = 0;
  size_t at = 0;
  for (const std::vector<uint8_t>& row : image)
    for (uint8_t b : row)
      if (at++ >= 2) crc = UpdateCRC16(crc, b);
  if (crc != HeaderByte(image, 0) + 256 * HeaderByte(image, 1)) return APP_FILECRC;
  if (CheckProduct(HeaderByte(image, 2), 0) != 0) return APP_FILETYPE;
  return 0;
}

}  // namespace

FileRequest FirmwareOpenDialog() {
  return {"Select Firmware Upgrade File", "Image File|*.img", "img", DeviceCFG.mFLASHSaveDir, {}};
}

uint8_t LoadUpgradeFile(Operator& op, const std::string& fileName, bool quiet, TUpgradeImage& image,
                        RFirmwareBox& box) {
  if (!quiet) ShowStatus(op, StatusColour::Running, std::string(kLoadingUpgradeName) + "...");
  const uint8_t code = ReadImage(fileName, image);
  if (code != 0) {
    box = RFirmwareBox{};
  } else {
    DeviceCFG.mFLASHFile = fileName;
    AppSettings().WriteString("FLASH", "ImageFile", fileName);
    DeviceCFG.mFLASHSaveDir = FolderOfFile(fileName);
    box.mFileLabel = fileName;
    box.mDescLabel = kFirmwareDescPrefix + FWVersionText(HeaderByte(image, 3));
    box.mUpgradeEnabled = true;
  }
  if (!quiet) EndOperation(op, code, kLoadingUpgradeName);
  return code;
}

namespace {
void RecordImage(TOperationRecord& record, const TUpgradeImage& image) {
  char crc[8];
  std::snprintf(crc, sizeof crc, "0x%04X", HeaderByte(image, 0) + 256 * HeaderByte(image, 1));
  record.Detail("image_version", FWVersionText(HeaderByte(image, 3)));
  record.Detail("image_crc", crc);
}
}  // namespace

uint8_t CheckProgram(Operator& op, TComKVT& link, const TUpgradeImage& image, const TStopRequest* stop,
                     RKVTIdenty* seen) {
  RKVTIdenty identity{};
  TOperationRecord record(kCheckProgramName);
  RecordImage(record, image);
  ROperationOptions options;
  options.record = &record;
  // The header checks come after the link is closed, before the operation's end.
  options.mapResult = [&](uint8_t code) -> uint8_t {
    if (code != LINK_OK) return code;
    if (HeaderByte(image, 5) > identity.mSW || HeaderByte(image, 6) > identity.mHW) return APP_NOTUSEFUL;
    if (HeaderByte(image, 3) < identity.mSW || HeaderByte(image, 4) < identity.mHW) {
      if ((stop && stop->Requested()) || !op.ask(kVersionCheckCaption, kVersionCheckQuestion) ||
          (stop && stop->Requested()))
        return APP_NOTOLDVERSION;
    }
    return LINK_OK;
  };
  return CatchingPortErrors(op, kCheckProgramName, [&] {
    return RunOperation(
        op, link, kCheckProgramName,
        [&] {
          uint8_t c = link.RequireIdenty(identity);
          if (c == LINK_OK) record.Identity(identity);
          if (c == LINK_OK && seen) *seen = identity;
          if (c == LINK_OK) c = CheckProduct(identity.mPID, 0);
          return c;
        },
        options);
  });
}

TFirmwareDownload::TFirmwareDownload(Operator& op, TComKVT& link, const TUpgradeImage& image, TFirmwareView& view,
                                     TClock clock)
    : FOp(op), FLink(link), FImage(image), FView(view), FClock(std::move(clock)) {}

uint8_t TFirmwareDownload::Run() {
  TSteadyRunClock clock;
  DriveRun(*this, clock);
  return FCode;
}

bool TFirmwareDownload::Step() {
  switch (FState) {
    case TState::Check:
      FCode = CheckProgram(FOp, FLink, FImage, &StopRequest(), &FIdentity);
      FState = FCode == 0 ? TState::StartAttempt : TState::Done;
      break;
    case TState::StartAttempt:
      StartAttempt();
      break;
    case TState::Packet:
      SendPacket();
      break;
    case TState::EndAttempt:
      EndAttempt();
      break;
    case TState::Done:
      break;
  }
  return FState != TState::Done;
}

void TFirmwareDownload::StartAttempt() {
  ++FAttempt;
  FPacket = 0;
  FView.ShowProgress(0, static_cast<int>(FImage.size()), FAttempt, DeviceCFG.mFLASHDownloadRetry);
  ShowStatus(FOp, StatusColour::Running, std::string(kDownloadImageName) + "...");
  // A port that cannot be opened is this attempt's failure; the end reports its code. A stop
  // pressed before the start, or during the handshake, sends no firmware frame at all.
  FCode = StopRequest().Requested() ? APP_USERSTOP : OpenUSBCaught(FLink);
  if (FCode == LINK_OK && StopRequest().Requested()) FCode = APP_USERSTOP;
  if (FCode == LINK_OK) FCode = FLink.UpgradeStart();
  FState = FCode == LINK_OK && !FImage.empty() ? TState::Packet : TState::EndAttempt;
}

void TFirmwareDownload::SendPacket() {
  const std::vector<uint8_t>& row = FImage[static_cast<size_t>(FPacket)];
  RComKVTReadBuf buffer{};
  buffer.mData = static_cast<int32_t>(std::min(row.size(), sizeof buffer.mBuf));
  std::memcpy(buffer.mBuf, row.data(), static_cast<size_t>(buffer.mData));
  FCode = FLink.UpgradeData(1, buffer);
  for (int repeat = 0; repeat < DeviceCFG.mFLASHRetry && FCode != LINK_OK; ++repeat) {
    Memo(" [SEND] Retry ", FPacket);
    FCode = FLink.UpgradeData(3, buffer);
  }
  if (FCode == LINK_OK) Memo(" [SEND] OK ", FPacket);
  if (!FUpgrade) FCode = APP_USERSTOP;
  ++FPacket;
  FView.ShowProgress(FPacket, static_cast<int>(FImage.size()), FAttempt, DeviceCFG.mFLASHDownloadRetry);
  FOp.pump();  // where a Cancel click arrives
  if (StopRequest().Requested()) FUpgrade = false;
  if (FCode != LINK_OK || FPacket >= static_cast<int>(FImage.size())) FState = TState::EndAttempt;
}

void TFirmwareDownload::EndAttempt() {
  if (FCode == LINK_OK && FLink.UpgradeExecute() != LINK_OK) FCode = APP_VALIDATION;
  const std::string portReason = PortErrorReason(FLink);
  FLink.CloseUSB(FCode);
  if (FCode != LINK_OK && FCode != APP_USERSTOP)
    ShowStatus(FOp, StatusColour::Failure, std::string(kDownloadImageName) + "...Fail");
  if (FCode == LINK_OK || FCode == APP_USERSTOP || FAttempt >= DeviceCFG.mFLASHDownloadRetry) {
    EndOperation(FOp, FCode, kDownloadImageName, portReason);
    FState = TState::Done;
    // The download is framed by its attempts, not by one operation, so it records itself; the
    // detector is the one the check met (after the upgrade it restarts and cannot be asked).
    TOperationRecord record(kDownloadImageName);
    record.Identity(FIdentity);
    RecordPort(record, FLink.PortDevice());
    RecordImage(record, FImage);
    record.Detail("attempts", std::to_string(FAttempt));
    record.Detail("outcome", FCode == LINK_OK ? "OK" : FCode == APP_USERSTOP ? "user stop" : "FAIL");
    record.End(FCode, std::string(kDownloadImageName) + ResultText(FCode).mSuffix, true);
    CommitOperationRecord(FOp, record);
  } else {
    FState = TState::StartAttempt;
  }
}

void TFirmwareDownload::Memo(const std::string& text, int packet) {
  FOp.memoLine(TraceTimeText(FClock()) + text + std::to_string(packet));
}
