#include "fuzzers/FuzzSupport.h"

#include "link/CommInt.h"
#include "model/Checksum.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

const char* gFuzzInputName = nullptr;

void FuzzFail(const char* what, const char* file, int line) {
  std::fprintf(stderr, "fuzz check failed: %s (%s:%d)%s%s\n", what, file, line, gFuzzInputName ? " on " : "",
               gFuzzInputName ? gFuzzInputName : "");
  std::abort();
}

std::vector<uint8_t> TFuzzBytes::Take(size_t n) {
  n = std::min(n, FSize - std::min(FAt, FSize));
  std::vector<uint8_t> out(FData + FAt, FData + FAt + n);
  FAt += n;
  return out;
}

const std::string& FuzzScratchDir() {
  static const std::string dir = [] {
    struct stat st {};
    std::string base = ::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) ? "/dev/shm" : "/tmp";
    std::string templ = base + "/beamdock-fuzz-XXXXXX";
    if (!::mkdtemp(templ.data())) throw std::runtime_error("no scratch folder under " + base);
    // Removed at exit with whatever the targets left in it.
    static std::string removeAtExit = templ;
    std::atexit([] {
      const std::string cmd = "rm -rf '" + removeAtExit + "'";
      if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", removeAtExit.c_str());
    });
    return templ + "/";
  }();
  return dir;
}

void WriteScratchFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) FuzzFail("scratch file opens", __FILE__, __LINE__);
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

int TFuzzStream::Write(const void*, int count) {
  if (!FOpen) throw ECommError("port closed", 0);
  ++Writes;
  FReply.clear();
  return count;
}

bool TFuzzStream::NextPiece() {
  if (FIn.Empty()) return false;
  const uint8_t control = FIn.Byte();
  FPiece = FIn.Take(control & 0x3F);
  FUsed = 0;
  if ((control & 0x40) && FPiece.size() >= 2) {
    std::vector<uint8_t> reply = FReply;
    reply.insert(reply.end(), FPiece.begin(), FPiece.end() - 2);
    const uint16_t crc = GetCRC16(reply.data(), static_cast<int>(reply.size()));
    FPiece[FPiece.size() - 2] = static_cast<uint8_t>(crc >> 8);
    FPiece[FPiece.size() - 1] = static_cast<uint8_t>(crc & 0xFF);
  }
  if (control & 0x80) {
    for (size_t i = 0; i + 3 <= FPiece.size(); i += 3) {
      const uint16_t crc = GetCRC16(&FPiece[i], 1);
      FPiece[i + 1] = static_cast<uint8_t>(crc >> 8);
      FPiece[i + 2] = static_cast<uint8_t>(crc & 0xFF);
    }
  }
  return true;
}

int TFuzzStream::Read(void* buf, int count) {
  if (!FOpen) throw ECommError("port closed", 0);
  // An empty piece is used up by the one read that finds nothing.
  if (FUsed >= FPiece.size() && !NextPiece()) throw ECommError("the fuzz input ran out", 0);
  const size_t n = std::min<size_t>(static_cast<size_t>(std::max(count, 0)), FPiece.size() - FUsed);
  if (n > 0) std::memcpy(buf, FPiece.data() + FUsed, n);
  FReply.insert(FReply.end(), FPiece.begin() + static_cast<long>(FUsed), FPiece.begin() + static_cast<long>(FUsed + n));
  FUsed += n;
  return static_cast<int>(n);
}
