// records: the site server's side of the service records. Every subcommand connects with
// [RECORDS] Server; the records themselves stay in this computer's store, which is pushed.
#include "app/records/ServiceRecords.h"
#include "app/core/Settings.h"
#include "app/site/SiteServer.h"
#include "cli/Cli.h"

#include <cstdio>

namespace {

constexpr int kExitRefused = 65;      // the server (or the file's check) said no
constexpr int kExitUnreachable = 74;  // the records could not be read: no server, or no store

int Failed(const std::string& what, const ESiteServer& e) {
  std::fprintf(stderr, "records %s: %s\n", what.c_str(), e.what());
  return e.Failure() == TSiteFailure::Refused ? kExitRefused : kExitUnreachable;
}

void PrintPush(const RPushResult& r) {
  std::printf("sent: %lld records of station %s; the site server holds its records up to %lld\n",
              static_cast<long long>(r.mSent), r.mStation.c_str(), static_cast<long long>(r.mServerLast));
  if (r.mEarlier > 0)
    std::printf("%lld records from before the seals stay in the store: they carry no signature\n",
                static_cast<long long>(r.mEarlier));
}

// The station's own administration, which needs no server: a new station, a correction.
int StationAdmin(CliContext& ctx, const std::vector<std::string>& args) {
  const std::string& what = args[0];
  std::string reason, number;
  std::vector<std::pair<std::string, std::string>> changes;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--reason" && i + 1 < args.size())
      reason = args[++i];
    else if (what == "amend" && number.empty() && !args[i].empty() && args[i][0] != '-')
      number = args[i];
    else if (const size_t eq = args[i].find('='); what == "amend" && eq != std::string::npos && eq > 0)
      changes.emplace_back(args[i].substr(0, eq), args[i].substr(eq + 1));
    else
      return UsageError(ctx, "records " + what + ": unexpected argument " + args[i]);
  }
  if (reason.empty()) return UsageError(ctx, "records " + what + " needs --reason TEXT");
  if (what == "amend" && (number.empty() || changes.empty()))
    return UsageError(ctx, "records amend needs NUMBER --reason TEXT FIELD=VALUE...");
  LoadSettings(ctx.appDir);
  const std::string path = RecordsDatabasePath();
  try {
    if (what == "new-station") {
      const RNewStation s = StartNewStation(path, reason);
      std::printf("new station %s; the records of station %s (last record %lld) are kept in %s\n", s.mNewStation.c_str(),
                  s.mOldStation.c_str(), static_cast<long long>(s.mOldLast), s.mRetired.c_str());
      if (s.mUnsealed > 0)
        std::printf("%lld records made while the key was missing stay unsealed in %s\n",
                    static_cast<long long>(s.mUnsealed), s.mRetired.c_str());
      std::printf("register the new station with the site server: beamdock-cli records register-station\n");
    } else {
      const RServiceRecord a = AmendRecord(path, number, reason, changes);
      std::printf("record %s-%lld corrects record %s\n", a.mStation.c_str(), static_cast<long long>(a.mSeq),
                  a.Detail("amends").c_str());
    }
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "records %s: %s\n", what.c_str(), e.what());
    return kExitRefused;
  }
}

int Records(CliContext& ctx, const std::vector<std::string>& args) {
  if (!args.empty() && (args[0] == "new-station" || args[0] == "amend")) return StationAdmin(ctx, args);
  // The push after an operation of the terminal tool, run detached by it: no output, its
  // failure kept for the next command.
  if (args.size() == 1 && args[0] == "push-detached") {
    LoadSettings(ctx.appDir);
    if (const std::string server = SiteServerSetting(); !server.empty()) PushKeepingFailure(server, RecordsDatabasePath());
    return 0;
  }
  if (args.empty()) return UsageError(ctx, "records needs status, push, import FILE.DB, init-server or register-station");
  const std::string& what = args[0];
  const bool import = what == "import", admit = what == "admit-station";
  if (import || admit ? args.size() != 2 || args[1].empty() : args.size() != 1)
    return UsageError(ctx, import  ? "records import needs one FILE.DB"
                           : admit ? "records admit-station needs one station ID"
                                   : "records " + what + ": unexpected argument");
  if (what != "status" && what != "push" && !import && !admit && what != "init-server" && what != "register-station")
    return UsageError(ctx, "records: unknown subcommand " + what);
  LoadSettings(ctx.appDir);
  const std::string server = SiteServerSetting();
  if (server.empty())
    return UsageError(ctx, "records: no site server is set ([RECORDS] Server in " + ctx.appDir + "BEAMDOCK.INI)");
  const std::string path = RecordsDatabasePath();
  try {
    if (what == "init-server") {
      std::printf("%s\n", InitSiteServer(server).c_str());
    } else if (what == "register-station") {
      const RStationRequest request = RegisterStation(server, path);
      if (request.mAdmitted)
        std::printf("station %s is registered with the site server\n", request.mStation.c_str());
      else
        std::printf("station %s has asked the site server to be admitted (login %s): an administrator runs "
                    "beamdock-cli records admit-station %s\n",
                    request.mStation.c_str(), request.mLogin.c_str(), request.mStation.c_str());
    } else if (admit) {
      const std::string login = AdmitStation(server, args[1]);
      std::printf("station %s is admitted: login %s pushes its records\n", args[1].c_str(), login.c_str());
    } else if (what == "push") {
      PrintPush(PushStore(server, path));
    } else if (import) {
      PrintPush(ImportStore(server, args[1]));
    } else {
      // A push under way (an operation's, in the background) ends first, so what waits is true.
      WaitForPush(path, RSiteConnection::kAnswerMs + 2000);
      const int64_t waitingHere = WaitingRecords(path);
      RSiteStatus status;
      try {
        status = SiteStatus(server, path);
      } catch (const ESiteServer& e) {
        std::printf("waiting: %lld\n", static_cast<long long>(waitingHere));
        return Failed(what, e);
      }
      if (status.mStation.empty()) {
        std::printf("station: none yet (%s has made no record)\nwaiting: %lld\n", path.c_str(),
                    static_cast<long long>(status.mWaiting));
        return 0;
      }
      std::printf("station: %s\nstore: %s, last record %lld\nserver: ", status.mStation.c_str(), path.c_str(),
                  static_cast<long long>(status.mLocalLast));
      if (status.mServerLast)
        std::printf("last record %lld of this station%s\n", static_cast<long long>(*status.mServerLast),
                    status.mAdmitted ? "" : " (not admitted yet: an administrator runs beamdock-cli records admit-station)");
      else
        std::printf("this station is not registered\n");
      if (status.mServerLast && status.mLocalLast < *status.mServerLast)
        std::printf("behind: the store ends at record %lld, but the server holds %lld records of this station "
                    "(the store was rolled back or replaced)\n",
                    static_cast<long long>(status.mLocalLast), static_cast<long long>(*status.mServerLast));
      if (!status.mClock.empty()) std::printf("clock: %s\n", status.mClock.c_str());
      if (const std::string why = LastPushFailure(path); !why.empty()) std::printf("last push: %s\n", why.c_str());
      std::printf("waiting: %lld\n", static_cast<long long>(status.mWaiting));
    }
    return 0;
  } catch (const ESiteServer& e) {
    if (what == "push") std::fprintf(stderr, "records push: %lld records wait\n", static_cast<long long>(WaitingRecords(path)));
    return Failed(what, e);
  } catch (const ERecordStore& e) {
    std::fprintf(stderr, "records %s: %s\n", what.c_str(), e.what());
    return import ? kExitRefused : kExitUnreachable;
  }
}

const CommandRegistrar recordsRegistrar("records", &Records);

}  // namespace
