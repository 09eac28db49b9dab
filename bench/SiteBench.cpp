// The site server's costs, against a PostgreSQL cluster of its own: pushing 10,000 records, the
// time an operation's end waits on a server that does not answer, and one detector's history on a
// server that holds 1,000,000 records. Prints "key value" lines for bench/report.
//   bench_SiteBench [records on the server (1000000)]
#include "bench/BenchSupport.h"
#include "app/records/Fleet.h"
#include "app/records/ServiceRecords.h"
#include "app/core/Settings.h"
#include "app/site/SiteServer.h"
#include "app/records/StationKey.h"
#include "tests/support/PgServer.h"
#include "tests/support/SealedRecords.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

double Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string TempFolder() {
  char templ[] = "/tmp/beamdock-sitebench-XXXXXX";
  if (!::mkdtemp(templ)) std::exit(2);
  return std::string(templ) + "/";
}

}  // namespace

int main(int argc, char** argv) {
  const long onServer = argc > 1 ? std::atol(argv[1]) : 1000000;
  TPgServer& pg = TPgServer::Shared();
  const std::string db = pg.CreateDatabase();
  InitSiteServer(pg.ConnInfo(db));
  const std::string dir = TempFolder();

  // Pushing 10,000 records.
  FillStore(dir + "PUSH.DB", 10000, "KV10000001");
  auto start = std::chrono::steady_clock::now();
  const RPushResult pushed = PushStore(pg.ConnInfo(db), dir + "PUSH.DB");
  std::printf("site_push_10k_s %.3f\n", Since(start));
  if (pushed.mSent != 10000) std::fprintf(stderr, "pushed %lld of 10000\n", static_cast<long long>(pushed.mSent));

  // An operation's end with a server that takes the connection and never answers: the record is
  // committed and the operation is over before anyone asks the server.
  int port = 0;
  const int silent = ListenOnLoopback(&port, 64);  // a site server that never answers
  const std::string ini = "[RECORDS]\r\nServer=host=127.0.0.1 port=" + std::to_string(port) +
                          " dbname=x\r\n";
  const auto endOfOperation = [&](bool withServer) {
    std::FILE* f = std::fopen((dir + "BEAMDOCK.INI").c_str(), "wb");
    std::fputs(withServer ? ini.c_str() : "[RECORDS]\r\n", f);
    std::fclose(f);
    LoadSettings(dir);
    std::vector<double> times;
    for (int i = 0; i < 21; ++i) {  // the first makes the station's key: not counted
      RServiceRecord r;
      r.mOperation = "Send Bump Pass";
      r.mSerial = "KV00000042";
      r.mResult = "PASS";
      const auto t = std::chrono::steady_clock::now();
      CommitRecordTo(RecordsDatabasePath(), r);
      if (i > 0) times.push_back(Since(t) * 1000);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
  };
  const double without = endOfOperation(false), with = endOfOperation(true);
  std::printf("site_end_wait_ms %.3f\n", std::max(0.0, with - without));
  std::fprintf(stderr, "an operation's record, median of 20: %.2f ms without a server, %.2f ms with a silent one\n",
               without, with);
  start = std::chrono::steady_clock::now();
  try {
    PushStore(SiteServerSetting(), RecordsDatabasePath());
  } catch (const ESiteServer&) {
  }
  std::printf("site_silent_push_s %.2f\n", Since(start));
  ::close(silent);

  // One serial's history among onServer records of 10,000 detectors, written straight into the
  // table (the seals are not checked on reading a history).
  start = std::chrono::steady_clock::now();
  pg.Sql(db,
         "SET session_replication_role = replica;"
         "INSERT INTO beamdock.records(server_seq, server_time, station, seq, serial, time, kind, hash, signature,"
         " sealed, has_cfg, pushed_by, server_prev, server_hash)"
         " SELECT 20000 + g, '2026-12-10T08:00:00.000000Z', s.station, 20000 + g, 'KV' || (20000000 + g % 10000),"
         "  to_char(timestamp '2020-01-01' + g * interval '1 minute', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"'), 'bump', '', '',"
         "  convert_to(beamdock.fields('beamdock-record-2', s.station, '', to_char(timestamp '2020-01-01' + g * interval"
         "  '1 minute', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"'), md5(g::text), 'KV' || (20000000 + g % 10000), 'CO', '', '',"
         "  '', 'bump', 'Send Bump Pass', 'PASS', 'OK', 'Ada', 'ada', 'no adapter /dev/pts/3', '', '', '', '', '', '',"
         "  '', '', (20000 + g)::text, '0', '0', '', ''), 'UTF8'), false, 'bench', '', ''"
         " FROM generate_series(1, " + std::to_string(onServer) + ") AS g, (SELECT station FROM beamdock.stations LIMIT 1) s;"
         "INSERT INTO beamdock.newest SELECT DISTINCT ON (serial, kind, has_cfg) serial, kind, has_cfg, time,"
         " server_seq FROM beamdock.records ORDER BY serial, kind, has_cfg, time DESC, server_seq DESC"
         " ON CONFLICT DO NOTHING;"
         "ANALYZE beamdock.records;");
  std::fprintf(stderr, "%ld records written in %.1f s\n", onServer, Since(start));
  double worst = 0;
  size_t found = 0;
  for (int i = 0; i < 5; ++i) {
    start = std::chrono::steady_clock::now();
    found = SiteHistory(pg.ConnInfo(db), "KV" + std::to_string(20000000 + 1234 + i)).size();
    worst = std::max(worst, Since(start));
  }
  std::printf("site_history_1m_ms %.2f\n", worst * 1000);
  start = std::chrono::steady_clock::now();
  const size_t detectors = FleetRows(FleetEventsFrom(SiteFleetRecords(pg.ConnInfo(db))), std::time(nullptr), 7).size();
  std::printf("site_fleet_1m_s %.3f\n", Since(start));
  std::fprintf(stderr, "%zu detectors in the site's fleet\n", detectors);
  std::fprintf(stderr, "%zu records of that serial\n", found);
  std::system(("rm -rf '" + dir + "'").c_str());
  return 0;
}
