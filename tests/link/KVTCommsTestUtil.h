// Shared by the link tests: a link on a scripted port and a recorder of its trace.
#pragma once

#include "link/KVTComms.h"
#include "model/Checksum.h"
#include "tests/support/ScriptedStream.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using Bytes = ScriptedStream::Bytes;

// `bytes` followed by their CRC-16, high byte first: what a detector sends.
inline Bytes WithCRC(Bytes bytes) {
  const uint16_t crc = GetCRC16(bytes.data(), static_cast<int>(bytes.size()));
  bytes.push_back(static_cast<uint8_t>(crc >> 8));
  bytes.push_back(static_cast<uint8_t>(crc & 0xFF));
  return bytes;
}

inline const Bytes kAck{0xB5, 0xB7, 0xC1};
inline const Bytes kNak{0xB6, 0xB6, 0x81};

struct LinkOnScript {
  ScriptedStream* port;
  std::unique_ptr<TComKVT> link;
  std::vector<std::string> lines;        // trace lines in the order raised
  std::vector<TDateTime> times;
  std::vector<size_t> framesAtLine;      // frames written when each line was raised

  explicit LinkOnScript(bool traced = true) {
    auto stream = std::make_unique<ScriptedStream>();
    port = stream.get();
    link = std::make_unique<TComKVT>(std::move(stream));
    if (traced) {
      link->FOnKVTEvent = [this](TComKVT* sender, TDateTime rNow, const std::string& sLog) {
        EXPECT_EQ(sender, link.get());
        lines.push_back(sLog);
        times.push_back(rNow);
        framesAtLine.push_back(port->Frames.size());
      };
    }
  }
  TComKVT* operator->() { return link.get(); }
};

inline std::string Hex(const Bytes& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string s;
  for (uint8_t b : bytes) {
    s += kDigits[b >> 4];
    s += kDigits[b & 0x0F];
    s += ' ';
  }
  return s;
}
