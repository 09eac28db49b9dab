#include "link/ResultCodes.h"

#include "link/LinkLimits.h"

RResultText ResultText(uint8_t code) {
  switch (code) {
    case LINK_OK:
      return {"... OK", ""};
    case BRIDGE_NOT_FOUND:
      return {"... BEAMDOCK error", "BEAMDOCK error occurred\rClose program and then restart QRB BEAMDOCK program"};
    case BRIDGE_INVALID_HANDLE:
    case BRIDGE_VID_UNREADABLE:
    case BRIDGE_PID_UNREADABLE:
    case BRIDGE_SERIAL_UNREADABLE:
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
    case APP_ZEROINGAS:
      return {"... REFUSED", "Zero refused: the detector reads gas\rZero only in clean air"};
    case APP_HIBERNATE:
      return {"... FAIL", "Hibernation is not allowed"};
    case APP_LOGNOTKEPT:
      return {"... NOT CLEARED",
              "The event log was not cleared: its entries could be kept neither in the service records nor in "
              "their outbox\rNothing was deleted from the detector"};
    case LINK_LIMIT:
      return {"... FAIL", kLinkLimitMessage};
    case LINK_LOGSIZE:
      return {"... FAIL", kLogSizeMessage};
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
