// The limits the link enforces on every transfer, in one place. Each check runs before a
// single byte is sent (except the log size, which only the detector can tell us and which is
// checked the moment it arrives), refuses with LINK_LIMIT and leaves every caller buffer as
// the command's first step leaves it. Whatever a detector sends, nothing is written past a
// 1024-byte buffer.
//
// | Operation                        | Refused when                                                    |
// |----------------------------------|-----------------------------------------------------------------|
// | SendReceive                      | nRevSize < 3 or > 1024 (a reply is at least one byte + CRC and  |
// |                                  | must fit FReadBuf); FSendBuf.mData < 1 or > 1024                |
// | SendPacket / SendCommand         | nCount < 0, nCount > 0 without data, frame (command byte +      |
// |                                  | nCount + 2 CRC bytes) > 1024                                    |
// | ReadUnitCFGData,                 | nPacket < 2; nSize != 64 (the record is exactly 64 bytes);      |
// | ReadSensorCFGData                | nSize not a multiple of nPacket                                 |
// | WriteCFGData                     | nSize 0 (the window skips empty ranges, so 0 is a settings      |
// |                                  | fault), nSize > 128, nAddress + nSize > 128 (outside the image; |
// |                                  | a start setting of 0 gives nAddress 0xFFFF and is refused too)  |
// | RequireSensor                    | nMode > 2 (only 0x20..0x22 exist)                               |
// | LoadLog                          | nReadPacket < 2 or nReadPacket + 2 > 1024; a log size from the  |
// |                                  | detector that rounded up to whole packets exceeds kMaxLogBytes  |
// |                                  | (LINK_LOGSIZE, checked before the first 0x81); a negative one   |
// |                                  | reads nothing                                                   |
// | UpgradeData                      | nPointer not 1 or 3; packet size (mBuf.mData) < 1 or > 1022     |
// | SensorCalibration                | nCom outside 0x40..0x46                                         |
// | ReadEEPROMData                   | nPacket < 2 or > 255 (the header carries its low byte only);    |
// |                                  | the data the loop reads plus the packet of 0xFF > 1024 bytes    |
// |                                  | (or > the capacity of a buffer the caller passes)               |
// | AVOn                             | nCom not 0x30, 0x31, 0x32 or 0x34                               |
//
// Packets of 0x81 reads are at least 2 bytes: a 1-byte packet makes a 3-byte reply, which the
// transport classifies as a status reply, so every data byte but 0xB5 would read as a failure.
//
// Result code LINK_LIMIT (0xC4, link/ResultCodes.h) is shown with the status suffix "... FAIL" and the message
// kLinkLimitMessage. With a trace handler the refusal is also traced as "[LIMIT] " followed by
// the reason, and the reason is kept in TComKVT::LastRefusal().
#pragma once

#include "link/ResultCodes.h"

#include <cstdint>

inline constexpr const char* kLinkLimitMessage =
    "Transfer size outside the link limits\rCheck the packet and size settings or the device";

inline constexpr const char* kLogSizeMessage =
    "The detector reports an event log larger than any detector keeps (over 256 KB)\rNothing was saved: check the detector";

namespace link_limits {
constexpr int kBufSize = 1024;      // RComKVTReadBuf::mBuf
constexpr int kChunk = 256;         // bytes asked of the port in one read
constexpr int kMinReply = 3;        // status byte + CRC
constexpr int kMinPacket = 2;       // data bytes of one 0x81 reply
constexpr int kBlockSize = 64;      // one configuration block
constexpr int kImageSize = 128;     // unit block + sensor block
constexpr int kMaxHeaderPacket = 255;
// An event log larger than this is no detector's: 29,127 entries of 9 bytes, far more than a
// detector's memory holds, and still a download (and an entry sort) of seconds at most.
constexpr int kMaxLogBytes = 256 * 1024;
}  // namespace link_limits
