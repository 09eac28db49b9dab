// CRC-16 of frames, configuration blocks and firmware images, and the configuration
// image helpers built on it.
#pragma once

#include "model/Records.h"

#include <cstdint>

uint16_t UpdateCRC16(uint16_t crc, uint8_t byte);
// Checksum of the first count bytes (at most the 1024 of a frame buffer); count <= 0 gives 0.
uint16_t GetCRC16(const uint8_t* buffer, int count);

void SetDefaultCFG(RKVTCFG& cfg);
void ReplyToUnitCFG(const RComKVTReadBuf& buf, RKVTUnitCFG& unit);
void ReplyToSensorCFG(const RComKVTReadBuf& buf, RKVTSensorCFG& sensor);
void CFGToSendBuf(const RKVTCFG& cfg, RComKVTReadBuf& buf);

// A 64-byte block read from the detector is valid when the CRC of bytes 0..61 equals
// the little-endian word at 62..63.
bool BlockCRCValid(const uint8_t* block64);
// Gives both blocks the check a detector stores with them.
void FillBlockCRCs(RKVTCFG& cfg);
