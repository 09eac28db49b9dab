// The host side of a test: the simulator's terminal opened with plain POSIX calls, frames
// written with their CRC, replies collected with poll() against a deadline.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

Bytes withCrc(Bytes frame);
bool crcValid(const Bytes& frame);  // CRC (high byte first) over every byte before it

class PtyPort {
 public:
  // exclusive: take the terminal with TIOCEXCL, as the tool's serial port does.
  explicit PtyPort(const std::string& path, bool exclusive = false);
  ~PtyPort();
  PtyPort(const PtyPort&) = delete;
  PtyPort& operator=(const PtyPort&) = delete;

  void writeRaw(const Bytes& bytes);
  void send(const Bytes& payload) { writeRaw(withCrc(payload)); }
  // Collects until n bytes have arrived or timeoutMs passed; returns what came.
  Bytes read(size_t n, int timeoutMs = 300);
  // Like read, but also returns the size of every chunk the reads returned.
  Bytes readChunks(size_t n, int timeoutMs, std::vector<size_t>& chunks);
  // Sends a frame (CRC appended) and collects a reply of replyLen bytes.
  Bytes exchange(const Bytes& payload, size_t replyLen, int timeoutMs = 300);
  // True when nothing arrives for ms milliseconds.
  bool quiet(int ms);
  // The handshake as the tool makes it: a connect frame about every millisecond until one
  // acknowledgement triple arrives. Returns everything read up to then.
  Bytes connect(int timeoutMs = 1000, bool* ok = nullptr);
  void flushInput();

 private:
  int fd_ = -1;
};

extern const Bytes kAck;   // B5 B7 C1
extern const Bytes kNak;   // B6 B6 81

#include "sim/KvtSim.h"

#include <memory>

// A started simulator with the host's end of its terminal open.
struct SimRig {
  std::unique_ptr<KvtSim> sim;
  std::unique_ptr<PtyPort> port;

  explicit SimRig(KvtSim::Options o = KvtSim::Options()) {
    sim = std::make_unique<KvtSim>(std::move(o));
    sim->start();
    port = std::make_unique<PtyPort>(sim->devicePath());
  }
  bool connect() {
    bool ok = false;
    port->connect(1000, &ok);
    return ok;
  }
  Bytes x(const Bytes& payload, size_t replyLen, int timeoutMs = 300) {
    return port->exchange(payload, replyLen, timeoutMs);
  }
};
