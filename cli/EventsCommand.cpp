// events: the incident report from the records (the site's when a server is set): every alarm
// event of a period, newest first, with the detector's state then, and the totals.
#include "app/core/Settings.h"
#include "app/records/EventRecords.h"
#include "app/site/SiteServer.h"
#include "cli/Cli.h"
#include "model/FileUtils.h"
#include "model/TimeText.h"
#include "report/DocumentApp.h"
#include "report/IncidentReport.h"
#include "app/records/Fleet.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

constexpr int kExitNoStore = 74;

int Events(CliContext& ctx, const std::vector<std::string>& args) {
  RIncidentQuery q;
  std::string csv, pdf;
  for (size_t i = 0; i < args.size(); ++i) {
    const bool value = i + 1 < args.size() && !args[i + 1].empty();
    if ((args[i] == "--since" || args[i] == "--until") && value) {
      const bool until = args[i] == "--until";
      const std::optional<std::time_t> day = LocalDayTime(args[i + 1], until);
      if (!day) return UsageError(ctx, "events: " + args[i] + " needs a date YYYY-MM-DD, not " + args[i + 1]);
      (until ? q.mUntil : q.mSince) = day;
      ++i;
    } else if (args[i] == "--user" && value) {
      q.mUser = args[++i];
    } else if (args[i] == "--since-last-pass") {
      q.mSinceLastPass = true;
    } else if (args[i] == "--csv" && value) {
      csv = args[++i];
    } else if (args[i] == "--pdf" && value) {
      pdf = args[++i];
    } else if (args[i].empty() || args[i][0] == '-' || !q.mSerial.empty()) {
      return UsageError(ctx, "events: unexpected argument " + args[i]);
    } else {
      q.mSerial = args[i];
    }
  }
  if (q.mSinceLastPass && q.mSerial.empty()) return UsageError(ctx, "events: --since-last-pass needs a SERIAL");
  if (q.mSince && q.mUntil && *q.mSince > *q.mUntil) return UsageError(ctx, "events: --since is after --until");

  LoadSettings(ctx.appDir);
  RIncidentReport report;
  std::string verified;
  try {
    const RRecordsRead read = ReadEventRecordsFrom(RecordsSource(), q.mSerial, q.mSince ? UtcIsoText(*q.mSince) : "",
                                                   q.mUntil ? UtcIsoText(*q.mUntil) : "");
    std::fprintf(stderr, "%s\n", read.mVerified.c_str());
    if (!read.mNote.empty()) std::fprintf(stderr, "events: %s\n", read.mNote.c_str());
    verified = read.mVerified;
    report = IncidentReport(read.mRecords, q);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "events: %s: %s\n", RecordsDatabasePath().c_str(), e.what());
    return kExitNoStore;
  }
  if (!report.mNoWindow.empty()) std::fprintf(stderr, "events: %s\n", report.mNoWindow.c_str());
  if (!report.mWindow.empty()) std::fprintf(stderr, "events: %s\n", report.mWindow.c_str());
  if (report.mEvents.empty()) std::fprintf(stderr, "events: no alarm event on record for this selection\n");
  else std::fputs(IncidentText(report).c_str(), stdout);
  std::fflush(stdout);

  std::string error;
  if (!csv.empty() && !WriteFileAtomic(csv, IncidentCSV(report, verified), &error)) {
    std::fprintf(stderr, "events: %s could not be written: %s\n", csv.c_str(), error.c_str());
    return kExitSoftware;
  }
  if (!pdf.empty()) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    TDocumentApp app;
    const RIncidentHead head{FleetSiteName(), IncidentSelectionText(q), LocalTimeText(std::time(nullptr)), verified};
    if (!WriteIncidentPdf(report, head, pdf, &error)) {
      std::fprintf(stderr, "events: %s: %s\n", pdf.c_str(), error.c_str());
      return kExitSoftware;
    }
  }
  return report.AnyOverdue() ? 1 : 0;
}

const CommandRegistrar registrar("events", &Events);

}  // namespace
