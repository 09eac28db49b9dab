// fleet --notify: the fleet as fleet reads it, told to [NOTIFY]'s recipients (app/notify).
#include "app/core/Settings.h"
#include "app/notify/Notices.h"
#include "app/records/ServiceRecords.h"
#include "app/site/SiteServer.h"
#include "cli/Cli.h"
#include "report/DocumentApp.h"
#include "report/FleetReport.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

int FleetNotify(CliContext&, const std::vector<RFleetRow>& rows, const std::string& verified, int dueDays,
                std::time_t now, bool dryRun) {
  RNoticeRun run;
  run.mSettings = NoticeSettings();
  run.mContext = {FleetSiteName(), UtcDateText(now), dueDays, verified};
  run.mDryRun = dryRun;
  run.mStorePath = RecordsDatabasePath();
  run.mServer = SiteServerSetting();
  // The report is drawn only when a mail goes out: most runs have nothing to send.
  run.mPdf = [&](std::string* why) -> std::string {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const char* tmp = std::getenv("TMPDIR");
    std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/beamdock-fleet-XXXXXX";
    const int fd = ::mkstemp(path.data());
    if (fd < 0) {
      *why = "no temporary file for it";
      return "";
    }
    ::close(fd);
    std::string bytes;
    {
      TDocumentApp app;
      if (WriteFleetPdf(rows, run.mContext.mSite, run.mContext.mDate, dueDays, verified, path, why)) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream all;
        all << in.rdbuf();
        bytes = all.str();
      }
    }
    ::unlink(path.c_str());
    return bytes;
  };
  run.mSay = [](const std::string& text) {
    std::fputs((text + "\n").c_str(), stdout);
    std::fflush(stdout);
  };
  run.mWarn = [](const std::string& text) { std::fprintf(stderr, "fleet: %s\n", text.c_str()); };
  return RunNotices(rows, run);
}
