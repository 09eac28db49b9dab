#include "app/device/Identify.h"

#include "app/device/Operation.h"
#include "link/KVTComms.h"
#include "model/SensorTypes.h"
#include "model/TextHelpers.h"

#include <cstdio>
#include <cstring>

std::string IdentifyText(const RKVTIdenty& ident) {
  char serial[sizeof ident.mSerial + 1] = {};
  std::memcpy(serial, ident.mSerial, sizeof ident.mSerial);  // ends at the first zero byte
  char hex[3];
  std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(ident.mSensor));
  const uint32_t life = ident.mLife;
  return "Product ID = " + std::to_string(ident.mPID) + "\r" +
         "Hardware Version = " + HWVersionText(ident.mHW) + "\r" +
         "Firmware Version = " + FWVersionText(ident.mSW) + "\r" +
         "Life Remaining = " + std::to_string(life) + " sec\r" +
         "Sensor present = 0x" + PadText(true, 2, '0', hex) + "\r" +
         "Serial Number = " + serial;
}

uint8_t LoadIdentify(Operator& op, TComKVT& link, RKVTIdenty& ident) {
  ident = RKVTIdenty{};
  return RunOperation(op, link, kIdentifyName, [&] { return link.RequireIdenty(ident); });
}

uint8_t RunIdentify(Operator& op, TComKVT& link) {
  RKVTIdenty ident{};
  const uint8_t code = LoadIdentify(op, link, ident);
  if (code == LINK_OK) op.message(MessageIcon::Information, kIdentifyCaption, IdentifyText(ident));
  return code;
}
