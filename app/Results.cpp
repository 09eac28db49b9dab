#include "app/Results.h"

#include "app/Operation.h"
#include "link/KVTComms.h"

RResultText ResultText(uint8_t code) {
  switch (code) {
    case LINK_OK:
      return {"... OK", ""};
    case 0x01:
      return {"... BEAMDOCK error", "BEAMDOCK error occurred\rClose program and then restart QRB BEAMDOCK program"};
    case 0x02:
    case 0x03:
    case 0x04:
    case 0x05:
    case 0x06:
    case 0x08:
    case 0x09:
      return {"... BEAMDOCK Connect ERROR",
              "BEAMDOCK connect error\rCheck BEAMDOCK connection or \rBEAMDOCK Re-Install driver"};
    case APP_FILEOPEN:
      return {"... FAIL", "Upgrade data file open error\rCheck Upgrade File"};
    case APP_FILESIZE:
      return {"... FAIL", "Upgrade data file size different\rCheck Upgrade File"};
    case APP_FILECRC:
      return {"... FAIL", "Upgrade data file CRC error\rCheck Upgrade File"};
    case APP_FILETYPE:
      return {"... FAIL", "Upgrade data file wrong type\rCheck Upgrade File"};
    case APP_NOTOLDVERSION:
      return {"... FAIL", "This file is not old version\rCheck Upgrade File"};
    case APP_NOTUSEFUL:
      return {"... FAIL", "This file is not useful to KVT unit\rCheck Upgrade File"};
    case APP_USERSTOP:
      return {"... USER STOP", "User Stop..."};
    case APP_VALIDATION:
      return {"... FAIL", "Program validation failed\rRetry download image"};
    case APP_NOTKVT:
      return {"... FAIL", "This is not KVT module"};
    case APP_SENSORTYPE:
      return {"... FAIL", "Check sensor type and Alarm setting"};
    case LINK_NOCONNECT:
      return {"... KVT Connect ERROR", "KVT connect error\rCheck BEAMDOCK and KVT connection"};
    case LINK_PORTERROR:
      return {"... BEAMDOCK Connect ERROR", "BEAMDOCK connect error\rCheck BEAMDOCK connection"};
    case LINK_NORESPONSE:
      return {"... FAIL", "KVT comunication error - no response"};
    case LINK_NAK:
      return {"... FAIL", "KVT comunication error - negative response"};
    case LINK_ERROR:
      return {"... FAIL", "KVT comunication error"};
    case LINK_CRCERROR:
      return {"... FAIL", "KVT comunication error - CRC error"};
    case LINK_BLOCKCRC:
      return {"... FAIL", "KVT comunication error\rWrong configuration information\rCheck device"};
    case APP_POWEROFF:
      return {"... FAIL", "Must calibration before POWER OFF"};
    case APP_ZEROCAL:
      return {"... FAIL", "Zero calibration failed"};
    case APP_HIBERNATE:
      return {"... FAIL", "Hibernation is not allowed"};
    case LINK_LIMIT:
      return {"... FAIL", kLinkLimitMessage};
    case APP_NOTFOUND:
      return {"... BEAMDOCK isnot found", "BEAMDOCK isnot found\rBEAMDOCK Re-Install driver"};
    case LINK_OSNOTSUPPORTED:
      return {"... O/S is not support", "O/S is not support"};
    case LINK_MULTIADAPTER:
      return {"... BEAMDOCK found 1 more", "BEAMDOCK found one more\rOnly use one BEAMDOCK"};
    case LINK_NOADAPTER:
      return {"... BEAMDOCK isnot found(A)", "BEAMDOCK isnot found\rBEAMDOCK Re-Install driver(A)"};
    default:
      return {"... FAIL", "Error ocuured"};
  }
}

RStatusStyle StatusStyle(StatusColour colour) {
  switch (colour) {
    case StatusColour::Success:
      return {{0, 255, 0}, {0, 0, 0}};
    case StatusColour::Failure:
      return {{255, 0, 0}, {255, 255, 255}};
    case StatusColour::Running:
    default:
      return {{255, 255, 255}, {0, 0, 0}};
  }
}

void ShowStatus(Operator& op, StatusColour colour, const std::string& text) {
  op.showStatus(colour, text);
  op.pump();
}

std::string PortErrorReason(const TComKVT& link) {
  std::string text = link.LastPortError().mText;
  while (!text.empty() && text.back() == ' ') text.pop_back();
  if (text.empty()) return text;
  const int code = link.LastPortError().mErrno;
  return "Port error: " + text + (code > 0 ? " (errno " + std::to_string(code) + ")" : "");
}

void EndOperation(Operator& op, uint8_t code, const std::string& name, const std::string& portReason) {
  const RResultText row = ResultText(code);
  if (code == LINK_OK) {
    ShowStatus(op, StatusColour::Success, name + row.mSuffix);
    return;
  }
  ShowStatus(op, StatusColour::Failure, name + row.mSuffix);
  // "isnot found" says nothing about why: the adapter checks behind Details do.
  if (code == LINK_NOADAPTER || code == APP_NOTFOUND)
    op.detailedMessage(MessageIcon::Error, name, row.mMessage, AdapterCheckDetails());
  else if (code == LINK_PORTERROR && !portReason.empty())
    op.message(MessageIcon::Error, name, std::string(row.mMessage) + "\r" + portReason);
  else
    op.message(MessageIcon::Error, name, row.mMessage);
}
