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
#include <optional>

namespace {

std::string Bounded(const std::string& text) {
  const std::string line = OneLine(text, kMostFactChars);
  return line.empty() ? "-" : line;
}

constexpr const char* kQrTag = "BDSEAL1";

}  // namespace

std::string RecordNumber(const RServiceRecord& r) {
  char number[48];
  std::snprintf(number, sizeof number, "%s-%06lld", r.mStation.c_str(), static_cast<long long>(r.mSeq));
  return number;
}

std::string SealQrText(const RServiceRecord& r) {
  return std::string(kQrTag) + " " + RecordNumber(r) + " " + r.mHash + " " + r.mSignature;
}

RQrCheck CheckSealQr(const std::string& text, const std::string& publicPem, const std::vector<RServiceRecord>& known) {
  std::istringstream in(text);
  std::string tag, number, digest, signature, extra;
  in >> tag >> number >> digest >> signature;
  const size_t dash = number.rfind('-');
  if (tag != kQrTag || dash == std::string::npos || digest.size() != 64 || signature.size() != 128 || (in >> extra))
    return {false, "not the seal of a BeamDock record"};
  std::optional<TStationKey> key;
  try {
    key = TStationKey::FromPublicPem(publicPem);
  } catch (const EStationKey& e) {
    return {false, std::string("the station's key: ") + e.what()};
  }
  const std::string station = number.substr(0, dash);
  if (key->Id() != station) return {false, "sealed by station " + station + ", not by the station of this key (" + key->Id() + ")"};
  if (!key->Check(digest, signature)) return {false, number + ": the signature is not the station's"};
  for (const RServiceRecord& r : known)
    if (r.Sealed() && RecordNumber(r) == number && r.mHash != digest)
      return {false, number + ": the station's record " + number + " has another digest"};
  return {true, "genuine: " + number};
}

RCertificateChoice CertificateFor(const std::vector<RServiceRecord>& newestFirst) {
  RCertificateChoice choice;
  const RServiceRecord* found = nullptr;
  for (const RServiceRecord& r : newestFirst)
    if (r.mKind == "calibration" && !r.mSpan.empty()) {
      found = &r;
      break;
    }
  if (!found) return choice.mRefusal = "no zero and span calibration is recorded for this detector", choice;
  if (found->mResult != "PASS")
    return choice.mRefusal = "the newest calibration (" + LocalTimeText(found->mTime) + ") did not pass: " +
                             found->mResult,
           choice;
  if (!found->Sealed()) return choice.mRefusal = "the newest calibration is an earlier record without a seal", choice;
  if (found->Detail("cylinder") == "not recorded" || (found->mLot.empty() && found->mExpiry.empty()))
    return choice.mRefusal = "the newest calibration recorded no span gas cylinder (lot and expiry): its traceability is unknown",
           choice;
  std::vector<const RServiceRecord*> corrections;
  const RServiceRecord amended = AmendedRecord(*found, newestFirst, &corrections);
  const RServiceRecord* cal = &amended;
  RCertificate c;
  auto fact = [&](const char* key) { return Bounded(cal->Detail(key)); };
  c.mOrganisation = OneLine(cal->Detail("organisation"), kMostFactChars);
  c.mSite = OneLine(cal->Detail("site"), kMostFactChars);
  c.mProduct = Bounded(cal->mProduct);
  c.mSensorType = Bounded(cal->mSensorType);
  c.mSerial = Bounded(cal->mSerial);
  c.mHardware = Bounded(cal->mHardware);
  c.mFirmware = Bounded(cal->mFirmware);
  c.mZeroResult = cal->mZero == "OK" ? "PASS" : "FAIL";
  c.mSpanResult = cal->mSpan == "OK" ? "PASS" : "FAIL";
  c.mAsFound = Bounded(cal->mAsFound);
  c.mAsLeft = Bounded(cal->mAsLeft);
  c.mSpanGas = Bounded(cal->mSpanGas);
  c.mCylinderLot = Bounded(cal->mLot);
  c.mCylinderExpiry = Bounded(cal->mExpiry);
  c.mDateTime = LocalTimeText(cal->mTime);
  c.mIssued = LocalTimeText(UtcIsoText(std::time(nullptr)));
  c.mTechnician = Bounded(cal->mTechnician.empty() ? cal->mUser : cal->mTechnician);
  c.mProcedure = fact("procedure");
  c.mGasSupplier = fact("gas_supplier");
  c.mCylinderCertificate = fact("cylinder_certificate");
  c.mGasUncertainty = fact("gas_uncertainty");
  c.mZeroGas = fact("zero_gas");
  c.mTemperature = fact("temperature");
  c.mZeroAsFound = fact("zero_as_found");
  c.mZeroAsLeft = fact("zero_as_left");
  c.mTolerance = cal->Detail("tolerance_pct").empty() ? "-" : "±" + Bounded(cal->Detail("tolerance_pct")) + " % of the span gas";
  c.mRule = cal->Detail("rule").empty() ? "PASS as the detector reported its zero and span steps; no tolerance was applied"
                                        : Bounded(cal->Detail("rule"));
  c.mEquipment = Bounded(cal->mPort);
  c.mSoftware = fact("software");
  c.mAuthoriser = fact("authoriser");
  c.mAuthoriserFunction = fact("authoriser_function");
  c.mShowDue = cal->Detail("due_date") == "1";
  c.mNextDue = "not set";
  c.mNumber = RecordNumber(*cal);
  c.mDigest = cal->mHash;
  c.mQrText = SealQrText(*found);
  c.mWithoutAdapter = !cal->mAdapter;
  c.mRevision = 1 + static_cast<int>(corrections.size());
  for (const RServiceRecord* a : corrections)
    c.mRevisionNote += (c.mRevisionNote.empty() ? "" : "; ") + std::string("corrected by record ") + a->mStation + "-" +
                       std::to_string(a->mSeq) + " (" + LocalTimeText(a->mTime) + "): " +
                       OneLine(a->Detail("reason"), kMostFactChars);
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

