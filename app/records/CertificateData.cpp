// What a calibration certificate shows, from the newest calibration of a detector.
#include "app/records/ServiceRecords.h"

#include "app/core/Settings.h"
#include "app/records/StationKey.h"
#include "model/Checksum.h"
#include "model/CsvText.h"
#include "model/DeviceUtils.h"
#include "model/EventLog.h"
#include "model/JsonText.h"
#include "model/SensorTypes.h"
#include "model/TimeText.h"

#include <array>
#include <fcntl.h>
#include <openssl/rand.h>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>

RCertificateChoice CertificateFor(const std::vector<RServiceRecord>& newestFirst) {
  RCertificateChoice choice;
  const RServiceRecord* cal = nullptr;
  for (const RServiceRecord& r : newestFirst)
    if (r.mKind == "calibration" && !r.mSpan.empty()) {
      cal = &r;
      break;
    }
  if (!cal) return choice.mRefusal = "no zero and span calibration is recorded for this detector", choice;
  if (cal->mResult != "PASS")
    return choice.mRefusal = "the newest calibration (" + LocalTimeText(cal->mTime) + ") did not pass: " +
                             cal->mResult,
           choice;
  if (!cal->Sealed()) return choice.mRefusal = "the newest calibration is an earlier record without a seal", choice;
  RCertificate c;
  c.mOrganisation = AppDir.empty() ? "" : AppSettings().ReadString("RECORDS", "Organisation", "");
  c.mSite = AppDir.empty() ? "" : AppSettings().ReadString("RECORDS", "Site", "");
  c.mProduct = cal->mProduct.empty() ? "-" : cal->mProduct;
  c.mSensorType = cal->mSensorType;
  c.mSerial = cal->mSerial;
  c.mHardware = cal->mHardware.empty() ? "-" : cal->mHardware;
  c.mFirmware = cal->mFirmware.empty() ? "-" : cal->mFirmware;
  c.mZeroResult = cal->mZero == "OK" ? "PASS" : "FAIL";
  c.mSpanResult = cal->mSpan == "OK" ? "PASS" : "FAIL";
  c.mAsFound = cal->mAsFound.empty() ? "-" : cal->mAsFound;
  c.mAsLeft = cal->mAsLeft.empty() ? "-" : cal->mAsLeft;
  c.mSpanGas = cal->mSpanGas;
  c.mCylinderLot = cal->mLot.empty() ? "-" : cal->mLot;
  c.mCylinderExpiry = cal->mExpiry.empty() ? "-" : cal->mExpiry;
  c.mDateTime = LocalTimeText(cal->mTime);
  c.mTechnician = cal->mTechnician.empty() ? cal->mUser : cal->mTechnician;
  c.mNextDue = "not set";
  char number[48];
  std::snprintf(number, sizeof number, "%s-%06lld", cal->mStation.c_str(), static_cast<long long>(cal->mSeq));
  c.mNumber = number;
  c.mDigest = cal->mHash;
  c.mWithoutAdapter = !cal->mAdapter;
  RKVTCFG cfg{};
  if (CfgFromImage(cal->mCfgAfter, cfg)) {
    std::string unit;
    for (const RSensorType& t : SensorTypes)
      if (t.mName == cal->mSensorType) unit = " " + t.mUnit;
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", cfg.mSensor.mAlarmLow / 10.0);
    c.mLowAlarm = text + unit;
    std::snprintf(text, sizeof text, "%.1f", cfg.mSensor.mAlarmHigh / 10.0);
    c.mHighAlarm = text + unit;
    const std::optional<std::time_t> t = UtcTimeOf(cal->mTime);
    if (cfg.mSensor.mCalInterval > 0 && t) {
      const std::time_t dueAt = *t + static_cast<std::time_t>(cfg.mSensor.mCalInterval);
      c.mNextDue = LocalDateText(dueAt);
    }
  }
  choice.mCertificate = c;
  return choice;
}

RCertificateChoice CertificateOfStore(const std::string& path, const std::string& serial) {
  // The certificate comes from the very records that were verified, read once.
  std::vector<RServiceRecord> chain;
  const RChainCheck check = VerifyStore(path, &chain);
  if (check.mUnreadable) throw ERecordStore(check.mWhy);
  if (!check.mIntact) return {std::nullopt, "the records do not verify: " + check.mWhy};
  std::vector<RServiceRecord> newestFirst;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it)
    if (it->mSerial == serial) newestFirst.push_back(std::move(*it));
  return CertificateFor(newestFirst);
}

