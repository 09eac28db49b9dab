#include "tests/sim/PtyPort.h"

#include "model/Checksum.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>

using Clock = std::chrono::steady_clock;

const Bytes kAck = {0xB5, 0xB7, 0xC1};
const Bytes kNak = {0xB6, 0xB6, 0x81};

Bytes withCrc(Bytes frame) {
  const uint16_t crc = GetCRC16(frame.data(), static_cast<int>(frame.size()));
  frame.push_back(static_cast<uint8_t>(crc >> 8));
  frame.push_back(static_cast<uint8_t>(crc & 0xFF));
  return frame;
}

bool crcValid(const Bytes& f) {
  if (f.size() < 3) return false;
  const uint16_t crc = GetCRC16(f.data(), static_cast<int>(f.size() - 2));
  return f[f.size() - 2] == (crc >> 8) && f[f.size() - 1] == (crc & 0xFF);
}

PtyPort::PtyPort(const std::string& path, bool exclusive) {
  fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) throw std::runtime_error("cannot open " + path);
  termios t{};
  ::tcgetattr(fd_, &t);
  ::cfmakeraw(&t);
  ::cfsetispeed(&t, B115200);
  ::cfsetospeed(&t, B115200);
  ::tcsetattr(fd_, TCSANOW, &t);
  ::tcflush(fd_, TCIFLUSH);
  if (exclusive) ::ioctl(fd_, TIOCEXCL);
}

PtyPort::~PtyPort() {
  if (fd_ >= 0) ::close(fd_);
}

void PtyPort::writeRaw(const Bytes& bytes) {
  size_t off = 0;
  while (off < bytes.size()) {
    const ssize_t n = ::write(fd_, bytes.data() + off, bytes.size() - off);
    if (n > 0) off += static_cast<size_t>(n);
    else if (n < 0 && errno != EAGAIN && errno != EINTR) throw std::runtime_error("write failed");
  }
}

Bytes PtyPort::readChunks(size_t n, int timeoutMs, std::vector<size_t>& chunks) {
  Bytes out;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (out.size() < n) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left < 0) break;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left) + 1) <= 0) continue;
    uint8_t buf[1024];
    const size_t want = std::min(sizeof buf, n - out.size());
    const ssize_t got = ::read(fd_, buf, want);
    if (got > 0) {
      out.insert(out.end(), buf, buf + got);
      chunks.push_back(static_cast<size_t>(got));
    }
  }
  return out;
}

Bytes PtyPort::read(size_t n, int timeoutMs) {
  std::vector<size_t> chunks;
  return readChunks(n, timeoutMs, chunks);
}

Bytes PtyPort::exchange(const Bytes& payload, size_t replyLen, int timeoutMs) {
  flushInput();
  send(payload);
  return read(replyLen, timeoutMs);
}

bool PtyPort::quiet(int ms) { return read(1, ms).empty(); }

void PtyPort::flushInput() { ::tcflush(fd_, TCIFLUSH); }

Bytes PtyPort::connect(int timeoutMs, bool* ok) {
  const Bytes frame = {0xB2, 0x75, 0x80};
  Bytes seen;
  if (ok) *ok = false;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Clock::now() < deadline) {
    writeRaw(frame);
    std::this_thread::sleep_for(std::chrono::microseconds(1050));
    uint8_t buf[64];
    const ssize_t got = ::read(fd_, buf, sizeof buf);
    if (got <= 0) continue;
    seen.insert(seen.end(), buf, buf + got);
    // Valid triples are taken in order; an acknowledgement ends the handshake.
    for (ssize_t i = 0; i + 3 <= got; i += 3) {
      const Bytes triple(buf + i, buf + i + 3);
      if (!crcValid(triple)) break;
      if (triple == kAck) {
        if (ok) *ok = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        flushInput();
        return seen;
      }
    }
  }
  return seen;
}
