// history / certificate: the service records of the start folder's database, listed, checked,
// exported as CSV, and a detector's calibration certificate as a PDF.
#include "app/ServiceRecords.h"
#include "app/Settings.h"
#include "cli/Cli.h"
#include "model/DeviceUtils.h"
#include "report/Certificate.h"
#include "report/FleetReport.h"
#include "app/Fleet.h"
#include "model/FileUtils.h"

#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>

namespace {

constexpr int kExitBroken = 65;  // the chain does not hold, or no certificate can be made
constexpr int kExitNoStore = 74;

std::string OneLine(std::string details) {
  while (!details.empty() && details.back() == '\n') details.pop_back();
  for (size_t at; (at = details.find('\n')) != std::string::npos;) details.replace(at, 1, "; ");
  return details;
}

int History(CliContext& ctx, const std::vector<std::string>& args) {
  std::string serial, csv;
  bool verify = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--verify")
      verify = true;
    else if (args[i] == "--csv" && i + 1 < args.size() && !args[i + 1].empty())
      csv = args[++i];
    else if (args[i].empty() || args[i][0] == '-' || !serial.empty())
      return UsageError(ctx, "history: unexpected argument " + args[i]);
    else
      serial = args[i];
  }
  LoadSettings(ctx.appDir);
  const std::string path = RecordsDatabasePath();
  try {
    TRecordStore store(path);
    if (verify) {
      const RChainCheck check = store.Verify();
      if (!check.mIntact) {
        std::printf("chain broken at record %lld: %s\n", static_cast<long long>(check.mBrokenId), check.mWhy.c_str());
        return kExitBroken;
      }
      std::printf("chain intact: %lld records\n", static_cast<long long>(check.mCount));
      return 0;
    }
    const std::vector<RServiceRecord> records = store.History(serial);
    if (!csv.empty()) {
      std::ofstream out(csv, std::ios::binary | std::ios::trunc);
      out << HistoryCSV(records);
      out.close();
      if (!out) {
        std::fprintf(stderr, "history: %s could not be written\n", csv.c_str());
        return kExitSoftware;
      }
      std::printf("%s\n", csv.c_str());
      return 0;
    }
    for (const RServiceRecord& r : records)
      std::printf("%s  %s  %s  %s  %s  %s\n", r.mTime.c_str(), r.mSerial.empty() ? "-" : r.mSerial.c_str(),
                  r.mKind.c_str(), r.mOperation.c_str(), r.mStatus.c_str(), OneLine(r.mDetails).c_str());
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
  const std::string path = RecordsDatabasePath();
  std::optional<RCertificate> certificate;
  try {
    certificate = CertificateFor(TRecordStore(path).History(serial), TechnicianName());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "certificate: %s: %s\n", path.c_str(), e.what());
    return kExitNoStore;
  }
  if (!certificate) {
    std::fprintf(stderr, "certificate: no successful calibration of %s is recorded\n", serial.c_str());
    return kExitBroken;
  }
  if (output.empty()) output = AppDir + "Certificate-" + serial + "-" + certificate->mDate + ".pdf";
  // The PDF's fonts need a GUI application; this one never shows a window.
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int argc = 1;
  char name[] = "beamdock-cli";
  char* argv[] = {name, nullptr};
  QGuiApplication app(argc, argv);
  std::string error;
  if (!WriteCertificatePdf(*certificate, output, &error)) {
    std::fprintf(stderr, "certificate: %s: %s\n", output.c_str(), error.c_str());
    return kExitSoftware;
  }
  std::printf("%s\n", output.c_str());
  return 0;
}

// Every detector the records know, most urgent first; exit 1 when any is OVERDUE or FAILED.
int Fleet(CliContext& ctx, const std::vector<std::string>& args) {
  int dueDays = 7;
  std::string csv, pdf;
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
    } else {
      return UsageError(ctx, "fleet: unexpected argument " + args[i]);
    }
  }
  LoadSettings(ctx.appDir);
  const std::string path = RecordsDatabasePath();
  std::vector<RFleetRow> rows;
  const std::time_t now = std::time(nullptr);
  try {
    rows = FleetRows(FleetEventsFrom(TRecordStore(path).History("")), now, dueDays);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "fleet: %s: %s\n", path.c_str(), e.what());
    return kExitNoStore;
  }
  std::fputs(FleetText(rows).c_str(), stdout);
  std::fflush(stdout);
  std::string error;
  if (!csv.empty() && !WriteFileAtomic(csv, FleetCSV(rows), &error)) {
    std::fprintf(stderr, "fleet: %s could not be written: %s\n", csv.c_str(), error.c_str());
    return kExitSoftware;
  }
  if (!pdf.empty()) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int argc = 1;
    char name[] = "beamdock-cli";
    char* argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);
    if (!WriteFleetPdf(rows, FleetSiteName(), FleetDate(now), dueDays, pdf, &error)) {
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
