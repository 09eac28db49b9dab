// What the fuzz targets share: the list of targets, a reader over the fuzz bytes, a scratch
// folder for targets that read files, an operator that answers without a person, and a port
// whose far end is the fuzz bytes.
#pragma once

#include "app/core/Operator.h"
#include "link/ByteStream.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using TFuzzRun = int (*)(const uint8_t* data, size_t size);
struct RFuzzTarget {
  const char* mName;  // also the folder of its corpus
  TFuzzRun mRun;
};
extern const RFuzzTarget kFuzzTargets[];
extern const size_t kFuzzTargetCount;

// A fuzz target found a fault the sanitizers cannot see: abort so the fuzzer keeps the input.
#define FUZZ_CHECK(cond) ((cond) ? (void)0 : FuzzFail(#cond, __FILE__, __LINE__))
[[noreturn]] void FuzzFail(const char* what, const char* file, int line);
// The input being replayed, named in a failure (the fuzzer names its own).
extern const char* gFuzzInputName;

class TFuzzBytes {
 public:
  TFuzzBytes(const uint8_t* data, size_t size) : FData(data), FSize(size) {}
  uint8_t Byte() { return FAt < FSize ? FData[FAt++] : 0; }
  uint16_t Word() { return static_cast<uint16_t>(Byte() | Byte() << 8); }
  uint32_t Long() { return Word() | static_cast<uint32_t>(Word()) << 16; }
  // Up to n bytes (fewer at the end of the input).
  std::vector<uint8_t> Take(size_t n);
  std::vector<uint8_t> Rest() { return Take(FSize - FAt); }
  bool Empty() const { return FAt >= FSize; }

 private:
  const uint8_t* FData;
  size_t FSize;
  size_t FAt = 0;
};

// A folder of this process, empty at first use, on a memory file system where there is one.
const std::string& FuzzScratchDir();  // ends with '/'
void WriteScratchFile(const std::string& path, const std::vector<uint8_t>& bytes);

// Answers every question with No, every file dialog with the path given, ignores the rest.
class TFuzzOperator : public Operator {
 public:
  explicit TFuzzOperator(std::string saveFile = {}) : FSaveFile(std::move(saveFile)) {}
  void showStatus(StatusColour, const std::string&) override {}
  void message(MessageIcon, const std::string&, const std::string&) override {}
  bool ask(const std::string&, const std::string&) override { return false; }
  std::optional<std::string> chooseOpenFile(const FileRequest&) override { return FSaveFile; }
  std::optional<std::string> chooseSaveFile(const FileRequest&) override { return FSaveFile; }
  void memoLine(const std::string&) override {}
  void pump() override {}

 private:
  std::string FSaveFile;
};

// The far end of the link, scripted by the fuzz bytes: each piece is what one read finds. A
// piece starts with a control byte, low 6 bits its length (0: nothing has arrived), top bits
// what to mend so the bytes pass the frame checks and reach the code behind them:
//   0x40: the piece's last two bytes become the CRC of the reply so far (since the last write),
//   0x80: every whole triple of the piece gets its CRC (the handshake's acknowledgements).
// A piece longer than a read is handed out over several reads. Once the pieces run out the port
// fails like one pulled out, so no exchange waits out a real time-out.
class TFuzzStream : public TByteStream {
 public:
  explicit TFuzzStream(TFuzzBytes& in) : FIn(in) {}
  void OpenDevice(const std::string&) override { FOpen = true; }
  void Close() override { FOpen = false; }
  bool Enabled() const override { return FOpen; }
  int Write(const void* buf, int count) override;
  int Read(void* buf, int count) override;
  void PurgeIn() override {}
  bool WaitReadable(long) override { return false; }

  int Writes = 0;

 private:
  bool NextPiece();

  TFuzzBytes& FIn;
  bool FOpen = true;
  std::vector<uint8_t> FReply;  // bytes handed out since the last write
  std::vector<uint8_t> FPiece;
  size_t FUsed = 0;
};
