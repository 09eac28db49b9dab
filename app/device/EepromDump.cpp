#include "app/device/EepromDump.h"

#include "app/device/Operation.h"
#include "app/core/Results.h"
#include "app/core/Settings.h"
#include "link/CommInt.h"
#include "link/KVTComms.h"
#include "model/DeviceUtils.h"
#include "model/CsvText.h"
#include "model/FileUtils.h"
#include "model/TextHelpers.h"
#include "model/TimeText.h"

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kLogFirst = 128;      // first logged value
constexpr int kLogValues = 433;     // 16-bit values up to bytes 992 and 993
constexpr int kLogStep = 30;        // 16-bit time step
constexpr int kLogSerial = 16;      // 10 serial characters
constexpr uint16_t kLogPacket = 32;

int Word(const std::vector<uint8_t>& b, int at) { return b[at] | (b[at + 1] << 8); }

void ResetRows(TEEPROMGrid& grid, int first, int last) {
  for (int r = std::max(first, 0); r <= last && r < static_cast<int>(grid.size()); ++r)
    for (int c = 1; c <= 16; ++c) grid[r][c] = "FF";
}

// Each byte goes to the cell of its own address; cells outside the grid are not there.
void ShowBytes(TEEPROMGrid& grid, int start, const std::vector<uint8_t>& bytes) {
  const int end = std::min(start + static_cast<int>(bytes.size()), static_cast<int>(grid.size()) * 16);
  for (int a = start; a < end; ++a) grid[a / 16][a % 16 + 1] = EEPROMByteText(bytes[a - start]);
}

uint8_t Framed(Operator& op, TComKVT& link, const std::function<uint8_t()>& commands) {
  return CatchingPortErrors(op, kEEPROMReadName, [&] { return RunOperation(op, link, kEEPROMReadName, commands); });
}

std::string WithSlash(std::string folder) {
  if (folder.empty()) return AppDir;
  if (folder.back() != '/') folder += '/';
  return folder;
}


}  // namespace

std::string EEPROMByteText(uint8_t value) {
  char hex[3];
  std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(value));
  return PadText(true, 2, '0', hex);
}

TEEPROMGrid NewEEPROMGrid(uint16_t maxAddress) {
  TEEPROMGrid grid(EEPROMGridRowCount(maxAddress));
  for (size_t r = 0; r < grid.size(); ++r) {
    grid[r][0] = EEPROMGridAddressText(static_cast<int>(r));
    for (int c = 1; c <= 16; ++c) grid[r][c] = "FF";
  }
  return grid;
}

uint8_t ReadEEPROMBytes(TComKVT& link, uint16_t packet, uint16_t start, int count, std::vector<uint8_t>& bytes) {
  count = std::clamp(count, 0, kEEPROMShownBytes);
  // Room for the data, the last packet's overhang and the packet of 0xFF the link appends.
  std::vector<uint8_t> buf(kEEPROMShownBytes + 2 * link_limits::kMaxHeaderPacket);
  int32_t got = 0;
  // The link reads until nMax - nPacket bytes are in, so this asks for exactly count bytes.
  const auto max = static_cast<uint16_t>(std::min(count + int{packet}, 0xFFFF));
  const uint8_t code = link.ReadEEPROMData(buf.data(), static_cast<int>(buf.size()), got, packet, start, max);
  bytes.assign(buf.begin(), buf.begin() + std::clamp(got, 0, count));
  return code;
}

uint8_t EEPROMRead(Operator& op, TComKVT& link, TEEPROMGrid& grid) {
  const int start = DeviceCFG.mEEPROMReadAddress;
  const int gridEnd = static_cast<int>(grid.size()) * 16;
  const int count = std::clamp(std::min(gridEnd, start + kEEPROMShownBytes) - start, 0, kEEPROMShownBytes);
  ResetRows(grid, start / 16, static_cast<int>(grid.size()) - 1);
  std::vector<uint8_t> bytes;
  const uint8_t code = Framed(op, link, [&] {
    return ReadEEPROMBytes(link, DeviceCFG.mEEPROMPacketSize, static_cast<uint16_t>(start), count, bytes);
  });
  if (code == LINK_OK) ShowBytes(grid, start, bytes);
  return code;
}

std::string EEPROMDumpText(const TEEPROMGrid& grid) {
  std::string text;
  for (const TEEPROMRow& row : grid) {
    text += "0x" + row[0] + ",";
    for (int c = 1; c <= 16; ++c) text += row[c] + ",";
    text += "\r\n";
  }
  return text;
}

std::string EEPROMTimeStamp(std::time_t now) {
  return FileTimeStamp(LocalTm(now));
}

TEEPROMSave EEPROMSaveFile(Operator& op, FileRequest& dialog, const TEEPROMGrid& grid, std::string* path) {
  dialog.title = kEEPROMSaveTitle;
  dialog.folder = DeviceCFG.mEEPROMSaveDir;
  dialog.fileName = "EEPROM_" + EEPROMTimeStamp(std::time(nullptr)) + ".CSV";
  const std::optional<std::string> file = op.chooseSaveFile(dialog);
  if (!file) {
    ShowCancelled(op, kEEPROMSaveCaption);
    return TEEPROMSave::Cancelled;
  }
  if (path) *path = *file;
  const bool saved = WriteFileAtomic(*file, EEPROMDumpText(grid), nullptr);
  ShowStatus(op, saved ? StatusColour::Success : StatusColour::Failure,
             std::string(kEEPROMSaveCaption) + (saved ? "... OK: " + FileNameOf(*file) : std::string("... FAIL")));
  if (!saved) op.message(MessageIcon::Error, kEEPROMSaveCaption, kEEPROMSaveFailed);
  // The folder is remembered even when the file could not be written there.
  DeviceCFG.mEEPROMSaveDir = FolderOfFile(*file);
  AppSettings().WriteString("EEPROM", "SaveDirectory", DeviceCFG.mEEPROMSaveDir);
  return saved ? TEEPROMSave::Saved : TEEPROMSave::Failed;
}

std::string EEPROMLogText(const std::vector<uint8_t>& bytes) {
  if (bytes.size() < static_cast<size_t>(kLogFirst + 2 * kLogValues)) return "";
  const long step = Word(bytes, kLogStep);
  std::string text;
  long t = 0;
  const std::string decimal = CsvDecimalPoint();
  for (int i = 0; i < kLogValues; ++i) {
    const int w = Word(bytes, kLogFirst + 2 * i);
    text += std::to_string(t) + "," + CsvNumber(TenthsText(w <= 0x8000 ? w : w - 0x10000, decimal)) + "\r\n";
    t += step;
  }
  return text;
}

std::string EEPROMLogFileName(const std::string& folder, const std::vector<uint8_t>& bytes, std::time_t now) {
  const size_t from = std::min<size_t>(kLogSerial, bytes.size());
  // The serial ends at its first zero byte, as the identity's does.
  const auto end = std::find(bytes.begin() + from, bytes.begin() + std::min<size_t>(from + 10, bytes.size()), 0);
  std::string serial = SerialFileText(std::string(bytes.begin() + from, end));
  if (serial.empty()) serial = kEEPROMLogFallbackName;
  return WithSlash(folder) + serial + "_" + EEPROMTimeStamp(now) + ".CSV";
}

REEPROMLogResult EEPROMReadSaveLog(Operator& op, TComKVT& link, TEEPROMGrid& grid) {
  REEPROMLogResult result;
  ResetRows(grid, 0, kEEPROMShownBytes / 16 - 1);
  std::vector<uint8_t> bytes;
  result.mCode = Framed(op, link, [&] { return ReadEEPROMBytes(link, kLogPacket, 0, kEEPROMShownBytes, bytes); });
  if (result.mCode != LINK_OK) return result;
  ShowBytes(grid, 0, bytes);
  result.mPath = EEPROMLogFileName(DeviceCFG.mEEPROMSaveDir, bytes, std::time(nullptr));
  result.mSaved = WriteFileAtomic(result.mPath, EEPROMLogText(bytes), nullptr);
  if (result.mSaved)
    op.message(MessageIcon::Information, "KVT BeamDock", "SAVE:" + result.mPath);
  else
    op.message(MessageIcon::Error, kEEPROMReadName, kEEPROMLogFailed);
  return result;
}
