// history / certificate: the service records of the start folder's store, listed, checked,
// exported, and a detector's calibration certificate as a PDF. Both only read the store.
#include "app/records/ServiceRecords.h"
#include "app/site/SiteServer.h"
#include "app/core/Settings.h"
#include "app/records/StationKey.h"
#include "cli/Cli.h"
#include "report/Certificate.h"
#include "report/DocumentApp.h"
#include "report/FleetReport.h"
#include "app/records/Fleet.h"
#include "model/FileUtils.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>

namespace {

constexpr int kExitBroken = 65;  // the records do not verify, or no certificate may be issued
constexpr int kExitNoStore = 74;

int Verified(const RChainCheck& check) {
  if (!check.mIntact) {
    std::printf("NOT intact: %s\n", check.mWhy.c_str());
    return kExitBroken;
  }
  std::printf("intact: %lld records", static_cast<long long>(check.mCount));
  if (check.mWaiting > 0)
    std::printf(" (%lld of them sealed and waiting in the outbox for the store)", static_cast<long long>(check.mWaiting));
  if (check.mEarlier > 0)
    std::printf(" (and %lld earlier records from before the seals, chained but not signed)",
                static_cast<long long>(check.mEarlier));
  std::printf("\n");
  return 0;
}

int VerifiedSite(CliContext& ctx, const std::string& path) {
  const std::string server = SiteServerSetting();
  if (server.empty())
    return UsageError(ctx, "history: --server needs a site server ([RECORDS] Server in " + ctx.appDir + "BEAMDOCK.INI)");
  RSiteCheck check;
  try {
    check = VerifySite(server, path);
  } catch (const ESiteServer& e) {
    std::fprintf(stderr, "history: %s\n", e.what());
    return kExitNoStore;
  }
  if (!check.mIntact) {
    std::printf("NOT intact: %s\n", check.mWhy.c_str());
    return kExitBroken;
  }
  std::printf("intact: %lld records of %lld stations on the site server\n", static_cast<long long>(check.mRecords),
              static_cast<long long>(check.mStations));
  return 0;
}

// A certificate's QR against the station's key: the store's own, or a key file given.
int VerifiedQr(CliContext& ctx, const std::string& text, const std::string& keyFile) {
  std::string pem;
  std::vector<RServiceRecord> known;
  if (!keyFile.empty()) {
    std::ifstream in(keyFile, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    pem = all.str();
  } else {
    LoadSettings(ctx.appDir);
    const std::string path = RecordsDatabasePath();
    try {
      const std::optional<TStationKey> k = TStationKey::PublicOf(path);
      if (k) pem = k->PublicPem();
      VerifyStore(path, &known);
    } catch (const std::exception&) {
    }
    if (pem.empty()) {
      std::fprintf(stderr, "history: %s has no station key: give one with --key KEYFILE\n", path.c_str());
      return kExitNoStore;
    }
  }
  const RQrCheck check = CheckSealQr(text, pem, known);
  if (!check.mGenuine) {
    std::printf("NOT genuine: %s\n", check.mText.c_str());
    return kExitBroken;
  }
  std::printf("%s\n", check.mText.c_str());
  return 0;
}

int History(CliContext& ctx, const std::vector<std::string>& args) {
  std::string serial, csv, exportFile, file, key, qr;
  bool verify = false, stationKey = false, server = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const bool value = i + 1 < args.size() && !args[i + 1].empty();
    if (args[i] == "--verify")
      verify = true;
    else if (args[i] == "--server")
      server = true;
    else if (args[i] == "--station-key")
      stationKey = true;
    else if (args[i] == "--csv" && value)
      csv = args[++i];
    else if (args[i] == "--export" && value)
      exportFile = args[++i];
    else if (args[i] == "--file" && value)
      file = args[++i];
    else if (args[i] == "--key" && value)
      key = args[++i];
    else if (args[i] == "--verify-qr" && value)
      qr = args[++i];
    else if (args[i].empty() || args[i][0] == '-' || !serial.empty())
      return UsageError(ctx, "history: unexpected argument " + args[i]);
    else
      serial = args[i];
  }
  if (!qr.empty()) {
    if (verify || server || !file.empty() || !serial.empty() || !csv.empty() || !exportFile.empty())
      return UsageError(ctx, "history: --verify-qr TEXT goes alone, or with --key KEYFILE");
    return VerifiedQr(ctx, qr, key);
  }
  if (file.empty() != key.empty() || (!file.empty() && !verify))
    return UsageError(ctx, "history: --file and --key go together, with --verify");
  if (server && (!verify || !file.empty() || !serial.empty()))
    return UsageError(ctx, "history: --server goes with --verify alone");
  if (!file.empty()) return Verified(VerifyExport(file, key));
  LoadSettings(ctx.appDir);
  const std::string path = RecordsDatabasePath();
  if (server) return VerifiedSite(ctx, path);
  if (verify) return Verified(VerifyStore(path));
  try {
    if (stationKey) {
      const std::optional<TStationKey> k = TStationKey::PublicOf(path);
      if (!k) {
        std::fprintf(stderr, "history: %s has no station key yet\n", path.c_str());
        return kExitNoStore;
      }
      std::fputs(k->PublicPem().c_str(), stdout);
      return 0;
    }
    if (!exportFile.empty()) {
      ExportRecords(path, exportFile);
      std::printf("%s\n", exportFile.c_str());
      return 0;
    }
    const RRecordsRead read = ReadRecords(serial);
    std::fprintf(stderr, "%s\n", read.mVerified.c_str());
    if (!read.mNote.empty()) std::fprintf(stderr, "history: %s\n", read.mNote.c_str());
    const std::vector<RServiceRecord>& records = read.mRecords;
    if (!csv.empty()) {
      std::ofstream out(csv, std::ios::binary | std::ios::trunc);
      out << HistoryCSV(records, read.mVerified);
      out.close();
      if (!out) {
        std::fprintf(stderr, "history: %s could not be written\n", csv.c_str());
        return kExitSoftware;
      }
      std::printf("%s\n", csv.c_str());
      return 0;
    }
    for (const RServiceRecord& r : records)
      std::printf("%s  %s  %s  %s  %s  %s  %s\n", LocalTimeText(r.mTime).c_str(),
                  r.mSerial.empty() ? "-" : r.mSerial.c_str(), r.mKind.c_str(), r.mOperation.c_str(),
                  ResultText(r).c_str(), r.mTechnician.empty() ? r.mUser.c_str() : r.mTechnician.c_str(),
                  r.Sealed() ? (r.mStation + "-" + std::to_string(r.mSeq)).c_str() : "earlier");
    const std::vector<RServiceRecord> waiting = OutboxRecords(path);
    if (!waiting.empty())
      std::fprintf(stderr, "history: %zu records wait in the outbox to be moved into the store\n", waiting.size());
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "history: %s: %s\n", path.c_str(), e.what());
    return kExitNoStore;
  }
}

int Certificate(CliContext& ctx, const std::vector<std::string>& args) {
  std::string serial, output;
  for (size_t i = 0; i < args.size(); ++i) {
    if ((args[i] == "-o" || args[i] == "--output") && i + 1 < args.size() && !args[i + 1].empty())
      output = args[++i];
    else if (args[i].empty() || args[i][0] == '-' || !serial.empty())
      return UsageError(ctx, "certificate: unexpected argument " + args[i]);
    else
      serial = args[i];
  }
  if (serial.empty()) return UsageError(ctx, "certificate needs a serial number");
  LoadSettings(ctx.appDir);
  RCertificateChoice choice;
  try {
    std::string note;
    choice = CertificateOfRecords(serial, &note);
    if (!note.empty()) std::fprintf(stderr, "certificate: %s\n", note.c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "certificate: %s\n", e.what());  // the reason names the store
    return kExitNoStore;
  }
  if (!choice.mCertificate) {
    std::fprintf(stderr, "certificate: refused for %s: %s\n", serial.c_str(), choice.mRefusal.c_str());
    return kExitBroken;
  }
  const RCertificate& certificate = *choice.mCertificate;
  if (output.empty()) output = AppDir + "Certificate-" + serial + "-" + certificate.mDateTime.substr(0, 10) + ".pdf";
  // The PDF's fonts need a GUI application; this one never shows a window.
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  TDocumentApp app;
  std::string error;
  if (!WriteCertificatePdf(certificate, output, &error)) {
    std::fprintf(stderr, "certificate: %s: %s\n", output.c_str(), error.c_str());
    return kExitSoftware;
  }
  if (certificate.mWithoutAdapter)
    std::fprintf(stderr, "certificate: the calibration was made without a BeamDock adapter: "
                         "NOT A CALIBRATION CERTIFICATE\n");
  std::printf("%s\n", output.c_str());
  return 0;
}

// Every detector the records know, most urgent first; exit 1 when any is OVERDUE or FAILED.
int Fleet(CliContext& ctx, const std::vector<std::string>& args) {
  int dueDays = 7;
  std::string csv, pdf;
  bool notify = false, dryRun = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const bool hasValue = i + 1 < args.size() && !args[i + 1].empty();
    if (args[i] == "--due" && hasValue) {
      char* end = nullptr;
      const long n = std::strtol(args[++i].c_str(), &end, 10);
      if (!end || *end || n < 0 || n > 3650) return UsageError(ctx, "fleet: --due needs a number of days");
      dueDays = static_cast<int>(n);
    } else if (args[i] == "--csv" && hasValue) {
      csv = args[++i];
    } else if (args[i] == "--pdf" && hasValue) {
      pdf = args[++i];
    } else if (args[i] == "--notify") {
      notify = true;
    } else if (args[i] == "--dry-run") {
      dryRun = true;
    } else {
      return UsageError(ctx, "fleet: unexpected argument " + args[i]);
    }
  }
  if (dryRun && !notify) return UsageError(ctx, "fleet: --dry-run goes with --notify");
  if (notify && (!csv.empty() || !pdf.empty())) return UsageError(ctx, "fleet: --notify goes without --csv and --pdf");
  LoadSettings(ctx.appDir);
  const std::string path = RecordsDatabasePath();
  std::vector<RFleetRow> rows;
  std::string verified;
  const std::time_t now = std::time(nullptr);
  try {
    const RRecordsRead read = ReadRecords("", true);
    std::fprintf(stderr, "%s\n", read.mVerified.c_str());
    if (!read.mNote.empty()) std::fprintf(stderr, "fleet: %s\n", read.mNote.c_str());
    rows = FleetRows(FleetEventsFrom(read.mRecords), now, dueDays, FleetHandResetsDue());
    verified = read.mVerified;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "fleet: %s: %s\n", path.c_str(), e.what());
    return kExitNoStore;
  }
  if (notify) return FleetNotify(ctx, rows, verified, dueDays, now, dryRun);
  std::fputs(FleetText(rows).c_str(), stdout);
  std::fflush(stdout);
  std::string error;
  if (!csv.empty() && !WriteFileAtomic(csv, FleetCSV(rows, verified), &error)) {
    std::fprintf(stderr, "fleet: %s could not be written: %s\n", csv.c_str(), error.c_str());
    return kExitSoftware;
  }
  if (!pdf.empty()) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    TDocumentApp app;
    if (!WriteFleetPdf(rows, FleetSiteName(), UtcDateText(now), dueDays, verified, pdf, &error)) {
      std::fprintf(stderr, "fleet: %s: %s\n", pdf.c_str(), error.c_str());
      return kExitSoftware;
    }
  }
  for (const RFleetRow& r : rows)
    if (r.mStatus == TFleetStatus::Overdue || r.mStatus == TFleetStatus::Failed) return 1;
  return 0;
}

const CommandRegistrar historyRegistrar("history", &History);
const CommandRegistrar fleetRegistrar("fleet", &Fleet);
const CommandRegistrar certificateRegistrar("certificate", &Certificate);

}  // namespace
