// The site server against a real PostgreSQL cluster of the test program's own: stations push
// their sealed records, the server takes them only through its checked function, and neither a
// stopped server, a rolled-back store nor eight stations at once lose or double a record.
#include "app/records/Fleet.h"
#include "app/records/ServiceRecords.h"
#include "app/site/SiteServer.h"
#include "app/records/StationKey.h"
#include "tests/support/PgServer.h"
#include "tests/support/SealedRecords.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <atomic>
#include <filesystem>
#include <optional>
#include <set>
#include <thread>

using namespace std::string_literals;

namespace {

// The SQLSTATE a statement ends with ("" when it succeeds), through libpq as the given role.
std::string StateOf(const std::string& conninfo, const std::string& sql, std::string* value = nullptr) {
  PGconn* c = PQconnectdb(conninfo.c_str());
  PGresult* r = PQexec(c, sql.c_str());
  const ExecStatusType s = PQresultStatus(r);
  std::string state;
  if (s != PGRES_TUPLES_OK && s != PGRES_COMMAND_OK) {
    const char* code = PQresultErrorField(r, PG_DIAG_SQLSTATE);
    state = code ? code : "connection";
  } else if (value && PQntuples(r) > 0) {
    *value = PQgetvalue(r, 0, 0);
  }
  PQclear(r);
  PQfinish(c);
  return state;
}

// How f failed; nullopt when it did not.
template <class F>
std::optional<ESiteServer> FailureOf(F f) {
  try {
    f();
  } catch (const ESiteServer& e) {
    return e;
  }
  return std::nullopt;
}

// One site: a fresh database with the schema, and a login role of the station role.
struct TSite {
  TPgServer& pg = TPgServer::Shared();
  std::string db = pg.CreateDatabase();
  std::string admin = pg.ConnInfo(db);
  std::string station = pg.ConnInfo(db, db + "_station");
  TSite() {
    InitSiteServer(admin);
    pg.Sql(db, "CREATE ROLE " + db + "_station LOGIN IN ROLE beamdock_station");
  }
  // The station of the store at path asks (its own login), and the administrator admits it.
  void Admit(const std::string& path) const { AdmitStation(admin, RegisterStation(station, path).mStation); }
  int64_t Count(const std::string& where = "true") const {
    std::string n;
    EXPECT_EQ(StateOf(admin, "SELECT count(*) FROM beamdock.records WHERE " + where, &n), "");
    return std::stoll(n);
  }
};

std::string SealedHex(const RServiceRecord& r) {
  const std::string text = SealedText(r);
  return HexOf(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

TEST(SiteServer, TwoStationsShareOneServerAndARecordSentTwiceIsKeptOnce) {
  TSite site;
  EXPECT_NE(InitSiteServer(site.admin).find("up to date"), std::string::npos);  // a second run only refreshes
  TempDir a, b, old;
  const std::string pa = a.path() + "BEAMDOCK.DB", pb = b.path() + "BEAMDOCK.DB", po = old.path() + "OLD.DB";
  FillStore(pa, 3, "KV1");
  FillStore(pb, 2, "KV1");
  FillStore(pb, 1, "KVé2");  // field lengths count bytes
  FillStore(po, 4, "KV3");
  for (const std::string& p : {pa, pb, po}) site.Admit(p);
  EXPECT_EQ(WaitingRecords(pa), 3);
  EXPECT_EQ(PushStore(site.station, pa).mSent, 3);
  EXPECT_EQ(PushStore(site.station, pb, true, 2).mSent, 3);
  EXPECT_EQ(WaitingRecords(pa), 0);
  // The answer lost after the server took the records: the next push sends nothing twice.
  std::filesystem::remove(pa + ".pushed");
  EXPECT_EQ(WaitingRecords(pa), 3);
  EXPECT_EQ(PushStore(site.station, pa).mSent, 0);
  const RServiceRecord first = TRecordStore(pa, TRecordStore::TMode::Read).Sealed(0).front();
  EXPECT_EQ(StateOf(site.station, "SELECT beamdock.push_records('{" + SealedHex(first) + "}', '{" + first.mSignature +
                                      "}')"),
            "");
  EXPECT_EQ(site.Count(), 6);
  // Another computer's file moves in under its own station id.
  EXPECT_EQ(ImportStore(site.station, po).mSent, 4);

  const std::vector<RServiceRecord> kv1 = SiteHistory(site.station, "KV1");
  ASSERT_EQ(kv1.size(), 5u);
  std::set<std::string> stations;
  for (const RServiceRecord& r : kv1) stations.insert(r.mStation);
  EXPECT_EQ(stations.size(), 2u);
  EXPECT_GE(kv1.front().mTime, kv1.back().mTime);
  EXPECT_EQ(SiteHistory(site.station, "").size(), 10u);
  RSiteCheck check = VerifySite(site.station, pa);
  EXPECT_TRUE(check.mIntact) << check.mWhy;
  EXPECT_EQ(check.mRecords, 10);
  EXPECT_EQ(check.mStations, 3);
  // The fleet reads each detector's newest records only, and sees what all of them say.
  const auto fleet = [](const std::vector<RServiceRecord>& r) { return FleetText(FleetRows(FleetEventsFrom(r), 0, 7)); };
  EXPECT_EQ(SiteFleetRecords(site.station).size(), 5u);
  EXPECT_EQ(fleet(SiteFleetRecords(site.station)), fleet(SiteHistory(site.station, "")));
  // The index changes only with the records; a superuser who disables that finds it checked.
  EXPECT_EQ(StateOf(site.admin, "UPDATE beamdock.newest SET server_seq = 1 WHERE serial = 'KVé2'"), "BD010");
  site.pg.Sql(site.db, "SET session_replication_role = replica; UPDATE beamdock.newest SET server_seq = 1 WHERE serial = 'KVé2'");
  check = VerifySite(site.station, pa);
  EXPECT_NE(check.mWhy.find("the fleet's index"), std::string::npos) << check.mWhy;
  EXPECT_EQ(StateOf(site.admin, "UPDATE beamdock.head SET server_hash = repeat('1', 64)"), "");
  check = VerifySite(site.station, pa);
  EXPECT_NE(check.mWhy.find("the head was rewritten"), std::string::npos) << check.mWhy;
  // A password never comes from the settings file, and a setting that is no connection string says so.
  for (const std::string& bad : {"postgresql://ws1:secret@/beamdock"s, site.station + " password=x", "host"s}) {
    const auto e = FailureOf([&] { PushStore(bad, pa); });
    EXPECT_TRUE(e && std::string(e->what()).find("[RECORDS] Server") != std::string::npos) << bad;
  }
  const RSiteStatus status = SiteStatus(site.station, pb);
  EXPECT_EQ(status.mServerLast, 3);
  EXPECT_EQ(status.mWaiting, 0);
  // A server that holds none of what this store pushed (a new one, or one restored from an older
  // copy) gets every record at the first push.
  const TSite fresh;
  fresh.Admit(pa);
  EXPECT_EQ(PushStore(fresh.station, pa).mSent, 3);
  // A new store (a new key) beside the old one's mark has sent nothing yet.
  for (const char* suffix : {"", ".key", ".pub", ".seal"}) std::filesystem::remove(pa + suffix);
  FillStore(pa, 1, "KV1");
  std::filesystem::remove(pa + ".sitehead");  // the new station has seen no head of this server
  check = VerifySite(fresh.station, pa);
  EXPECT_TRUE(check.mIntact) << check.mWhy;
  fresh.Admit(pa);
  EXPECT_EQ(PushStore(fresh.station, pa).mSent, 1);
}

TEST(SiteServer, AStationAppendsOnlyThroughTheCheckedFunction) {
  TSite site;
  TempDir a, other;
  const std::string pa = a.path() + "BEAMDOCK.DB", po = other.path() + "BEAMDOCK.DB";
  FillStore(pa, 3, "KV1");
  FillStore(po, 1, "KV1");
  site.Admit(pa);
  ASSERT_EQ(PushStore(site.station, pa).mSent, 3);
  FillStore(pa, 2, "KV1");
  const std::vector<RServiceRecord> next = TRecordStore(pa, TRecordStore::TMode::Read).Sealed(3);
  const RServiceRecord stranger = TRecordStore(po, TRecordStore::TMode::Read).Sealed(0).front();
  std::string badSignature = next[0].mSignature;
  badSignature[5] = badSignature[5] == '0' ? '1' : '0';
  RServiceRecord changed = next[0];
  changed.mResult = "FAIL";  // the content no longer matches its signature
  const auto push = [](const RServiceRecord& r, const std::string& signature) {
    return "SELECT beamdock.push_records('{" + SealedHex(r) + "}', '{" + signature + "}')";
  };
  const RServiceRecord sent = TRecordStore(pa, TRecordStore::TMode::Read).Sealed(0).front();
  const auto replays = [&](int n) {
    const std::string times = "'::text, ARRAY[" + std::to_string(n) + "])";
    return "SELECT beamdock.push_records(array_fill('" + SealedHex(sent) + times + ", array_fill('" + sent.mSignature +
           times + ")";
  };
  const struct {
    std::string sql, state;
  } cases[] = {
      {"UPDATE beamdock.records SET serial = 'KV9'", "42501"},
      {"DELETE FROM beamdock.records", "42501"},
      {"TRUNCATE beamdock.records", "42501"},
      {"DROP TABLE beamdock.records", "42501"},
      {"ALTER TABLE beamdock.records ADD COLUMN x int", "42501"},
      {"INSERT INTO beamdock.stations(station, public_key, registered_by) VALUES ('x', '\\x00', 'me')", "42501"},
      {"UPDATE beamdock.stations SET last_seq = 0", "42501"},
      {"SELECT beamdock.sealed_fields('\\x00')", "42501"},
      {push(next[0], badSignature), "BD003"},
      {push(changed, next[0].mSignature), "BD003"},
      {push(next[1], next[1].mSignature), "BD005"},  // record 5 before 4
      {push(stranger, stranger.mSignature), "BD002"},  // a station never registered
      {"SELECT beamdock.push_records('{6869}', '{00}')", "BD001"},
      {push(next[0], next[0].mSignature + "00"), "BD003"},  // 65 bytes: no signature
      {replays(1000), ""},
      {replays(1001), "BD001"},  // one station may not hold the chain for ever
      {"SELECT count(*) FROM beamdock.records", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(StateOf(site.station, c.sql), c.state) << c.sql;
  // The server's own split of a sealed text refuses, and never trips over, a malformed one.
  std::string fields65;
  for (int i = 0; i < 65; ++i) fields65 += "0:";
  for (const std::string& text : {":abc"s, "x3:abc"s, "3:abc "s, "4:abc"s, "3:abc2"s, "01:a"s, "99999999999999999999999:a"s,
                                  "3:a\0b"s, "2:\xff\xfe"s, "1:\xc3"s, fields65, "999994:" + std::string(999994, 'a')}) {
    const std::string hex = HexOf(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    EXPECT_EQ(StateOf(site.station, "SELECT beamdock.push_records('{" + hex + "}', '{" + sent.mSignature + "}')"),
              "BD001")
        << text.substr(0, 30);
  }
  // Not even the owner changes what was taken.
  EXPECT_EQ(StateOf(site.admin, "DELETE FROM beamdock.records"), "BD010");
  EXPECT_EQ(StateOf(site.admin, "UPDATE beamdock.stations SET last_seq = 1"), "BD010");
  EXPECT_EQ(site.Count(), 3);
  EXPECT_EQ(PushStore(site.station, pa).mSent, 2);
  EXPECT_TRUE(VerifySite(site.station, pa).mIntact);
  // A superuser who removes the newest record and rewrites the head, the index and the station
  // to match leaves a chain that holds: the station remembers the head it saw, and what the
  // server took; the record sent again makes another chain, which it never saw.
  site.pg.Sql(site.db,
              "SET session_replication_role = replica; DELETE FROM beamdock.records WHERE server_seq = 5;"
              "DELETE FROM beamdock.record_facts WHERE server_seq = 5;"
              "UPDATE beamdock.newest SET server_seq = 2 WHERE server_seq = 5;"
              "UPDATE beamdock.head SET (server_seq, server_hash) = (SELECT 4, server_hash FROM beamdock.records "
              "WHERE server_seq = 4); UPDATE beamdock.stations SET (last_seq, last_hash) = (SELECT 4, hash FROM "
              "beamdock.records WHERE server_seq = 4)");
  const RSiteCheck check = VerifySite(site.station, pa);
  EXPECT_NE(check.mWhy.find("this station saw its record 5: records were removed"), std::string::npos) << check.mWhy;
  EXPECT_EQ(PushStore(site.station, pa).mSent, 1);
  EXPECT_NE(VerifySite(site.station, pa).mWhy.find("the server's chain was rewritten"), std::string::npos);
  // A station that holds the chain's lock in an open transaction loses it within a second; the
  // other station's push waits its turn and gets through.
  FillStore(pa, 1, "KV1");
  site.Admit(po);
  const RServiceRecord sixth = TRecordStore(pa, TRecordStore::TMode::Read).Sealed(5).front();
  PGconn* holder = PQconnectdb(site.station.c_str());
  PQclear(PQexec(holder, ("BEGIN; " + push(sixth, sixth.mSignature)).c_str()));
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(PushStore(site.station, po).mSent, 1);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
  PGresult* gone = PQexec(holder, "COMMIT");
  EXPECT_NE(PQresultStatus(gone), PGRES_COMMAND_OK);  // its session was ended, its push undone
  PQclear(gone);
  PQfinish(holder);
  EXPECT_TRUE(VerifySite(site.station, po).mIntact);
}

TEST(SiteServer, AServerStoppedDuringAPushGetsEveryRecordOnce) {
  TSite site;
  TempDir a;
  const std::string pa = a.path() + "BEAMDOCK.DB";
  FillStore(pa, 3000, "KV1");
  site.Admit(pa);
  std::optional<ESiteServer> failed;
  std::thread push([&] { failed = FailureOf([&] { PushStore(site.station, pa, true, 50); }); });
  while (site.Count() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  site.pg.Stop();
  push.join();
  EXPECT_TRUE(failed && failed->Failure() == TSiteFailure::Unreachable);
  EXPECT_THROW(PushStore(site.station, pa), ESiteServer);
  EXPECT_GT(WaitingRecords(pa), 0);
  site.pg.Start();
  PushStore(site.station, pa);
  EXPECT_EQ(WaitingRecords(pa), 0);
  EXPECT_EQ(site.Count(), 3000);
  EXPECT_EQ(site.Count("seq BETWEEN 1 AND 3000"), 3000);  // and station + seq is unique
  EXPECT_TRUE(VerifySite(site.station, pa).mIntact);
}

TEST(SiteServer, AStoreReplacedByAnOlderCopyIsFoundAndSendsNothing) {
  TSite site;
  TempDir a, copy;
  const std::string pa = a.path() + "BEAMDOCK.DB";
  FillStore(pa, 2, "KV1");
  SettleRecords();  // the store's file alone is copied
  for (const char* suffix : {"", ".key", ".pub", ".seal"})
    std::filesystem::copy_file(pa + suffix, copy.path() + "BEAMDOCK.DB" + suffix);
  FillStore(pa, 2, "KV1");
  site.Admit(pa);
  PushStore(site.station, pa);
  for (const char* suffix : {"", ".key", ".pub", ".seal"})
    std::filesystem::copy_file(copy.path() + "BEAMDOCK.DB" + suffix, pa + suffix,
                               std::filesystem::copy_options::overwrite_existing);
  EXPECT_TRUE(VerifyStore(pa).mIntact);  // on its own the copy holds together
  RSiteCheck check = VerifySite(site.station, pa);
  EXPECT_FALSE(check.mIntact);
  EXPECT_NE(check.mWhy.find("behind what it already sent: it ends at record 2"), std::string::npos) << check.mWhy;
  // It goes on writing records 3 and 4 of its own: not the ones the server holds.
  FillStore(pa, 2, "KV7");
  check = VerifySite(site.station, pa);
  EXPECT_NE(check.mWhy.find("is not the one station"), std::string::npos) << check.mWhy;
  const auto refused = FailureOf([&] { PushStore(site.station, pa); });
  EXPECT_TRUE(refused && refused->Failure() == TSiteFailure::Refused);
  EXPECT_EQ(site.Count(), 4);
  EXPECT_EQ(site.Count("serial = 'KV7'"), 0);
}

TEST(SiteServer, EightStationsPushingAtOnce) {
  TSite site;
  std::vector<std::unique_ptr<TempDir>> dirs;
  for (int i = 0; i < 8; ++i) {
    dirs.push_back(std::make_unique<TempDir>());
    FillStore(dirs.back()->path() + "BEAMDOCK.DB", 150, "KV" + std::to_string(i));
    site.Admit(dirs.back()->path() + "BEAMDOCK.DB");
  }
  std::vector<std::thread> pushes;
  std::atomic<int> failures{0};
  // Each store twice at once too: the second push of a store finds its records there.
  for (int i = 0; i < 16; ++i)
    pushes.emplace_back([&, i] {
      failures += FailureOf([&] { PushStore(site.station, dirs[i % 8]->path() + "BEAMDOCK.DB", false, 20); }) ? 1 : 0;
    });
  for (std::thread& t : pushes) t.join();
  EXPECT_EQ(failures, 0);
  const RSiteCheck check = VerifySite(site.station, dirs[0]->path() + "BEAMDOCK.DB");
  EXPECT_TRUE(check.mIntact) << check.mWhy;
  EXPECT_EQ(check.mRecords, 1200);
  EXPECT_EQ(check.mStations, 8);
}

// What a station login or the owner could once make the site say, each closed: keys nobody
// admitted, a login pushing for another's station, records from the future, an order by the
// records' own clocks, a certificate blind to this computer's unsent FAIL, a cut seen only by
// its victims, a dropped table, and a status that hid a rollback.
TEST(SiteServer, NeitherAStationLoginNorTheOwnerMakesTheSiteSayWhatDidNotHappen) {
  TSite site;
  const std::string rogue = site.pg.ConnInfo(site.db, site.db + "_rogue");
  site.pg.Sql(site.db, "CREATE ROLE " + site.db + "_rogue LOGIN IN ROLE beamdock_station");
  TempDir a, b, r;
  const std::string pa = a.path() + "BEAMDOCK.DB", pb = b.path() + "BEAMDOCK.DB", pr = r.path() + "BEAMDOCK.DB";
  const auto dated = [](const char* time, const char* result) {
    return [=](RServiceRecord& rec) { rec.mTime = time, rec.mResult = result, rec.mKind = "calibration"; };
  };
  FillStore(pa, 1, "KV1", dated("2026-12-10T08:00:00Z", "PASS"));
  site.Admit(pa);
  ASSERT_EQ(PushStore(site.station, pa).mSent, 1);
  // A rogue login's own key is a request only, and it may not push for a station it did not ask for.
  FillStore(pr, 1, "KV1", dated("2026-12-10T08:00:00Z", "PASS"));
  EXPECT_EQ(FailureOf([&] { PushStore(rogue, pr); })->SqlState(), "BD008");
  FillStore(pa, 1, "KV1", dated("2026-12-10T08:01:00Z", "PASS"));
  EXPECT_EQ(FailureOf([&] { PushStore(rogue, pa); })->SqlState(), "BD008");
  EXPECT_EQ(StateOf(rogue, "SELECT beamdock.admit_station('" + RegisterStation(rogue, pr).mStation + "')"), "42501");
  // The server's clock: a record from 2099 or from no time at all is refused with its reason.
  TempDir f;
  const std::string pf = f.path() + "BEAMDOCK.DB";
  FillStore(pf, 1, "KV1", dated("2099-01-01T00:00:00Z", "PASS"));
  site.Admit(pf);
  const auto future = FailureOf([&] { PushStore(site.station, pf); });
  ASSERT_TRUE(future);
  EXPECT_NE(std::string(future->what()).find("more than 10 minutes ahead of the server's clock"), std::string::npos);
  TempDir n;
  FillStore(n.path() + "BEAMDOCK.DB", 1, "KV1", dated("yesterday", "PASS"));
  site.Admit(n.path() + "BEAMDOCK.DB");
  EXPECT_EQ(FailureOf([&] { PushStore(site.station, n.path() + "BEAMDOCK.DB"); })->SqlState(), "BD007");
  // Two stations with clocks an hour apart: the later FAIL, dated earlier, is the newest.
  FillStore(pb, 1, "KV1", dated("2026-12-10T07:30:00Z", "FAIL"));
  site.Admit(pb);
  ASSERT_EQ(PushStore(site.station, pb).mSent, 1);
  const std::vector<RServiceRecord> kv1 = SiteHistory(site.station, "KV1");
  ASSERT_FALSE(kv1.empty());
  EXPECT_EQ(kv1.front().mResult, "FAIL");
  // This computer's FAIL that the server does not hold yet outranks the site's PASS.
  FillStore(pa, 1, "KV1", [](RServiceRecord& rec) {
    rec.mKind = "calibration", rec.mResult = "FAIL", rec.mSpan = "FAIL", rec.mLot = "L", rec.mExpiry = "2030-01-01";
  });
  std::vector<RServiceRecord> unsent;
  std::string why;
  ASSERT_TRUE(LocalUnsent(site.station, pa, "KV1", unsent, why)) << why;
  ASSERT_EQ(unsent.size(), 2u);  // the one the rogue could not push, and the FAIL
  EXPECT_NE(CertificateOfSite(site.station, "KV1", unsent).mRefusal.find("did not pass"), std::string::npos);
  ASSERT_EQ(PushStore(site.station, pa).mSent, 2);
  ASSERT_TRUE(VerifySite(site.station, pb).mIntact);  // b saw the head with a's records in it
  // The owner cuts a's newest records with the triggers off: b, which lost nothing, finds it.
  site.pg.Sql(site.db,
              "SET session_replication_role = replica; DELETE FROM beamdock.records WHERE server_seq > 2;"
              "DELETE FROM beamdock.record_facts WHERE server_seq > 2;"
              "DELETE FROM beamdock.newest WHERE server_seq > 2;"
              "UPDATE beamdock.head SET (server_seq, server_hash) = (SELECT 2, server_hash FROM beamdock.records "
              "WHERE server_seq = 2); UPDATE beamdock.stations SET (last_seq, last_hash) = (SELECT 1, hash FROM "
              "beamdock.records WHERE server_seq = 1) WHERE station = (SELECT station FROM beamdock.records WHERE "
              "server_seq = 1)");
  const RSiteCheck cut = VerifySite(site.station, pb);
  EXPECT_NE(cut.mWhy.find("records were removed from the server"), std::string::npos) << cut.mWhy;
  // a's store is now ahead of what the server holds; a store put back behind it is said so.
  RSiteStatus status = SiteStatus(site.station, pa);
  EXPECT_EQ(status.mLocalLast - *status.mServerLast, 2);
  EXPECT_EQ(status.mWaiting, 2);
  site.pg.Sql(site.db, "DROP TABLE beamdock.records CASCADE");
  const RSiteCheck dropped = VerifySite(site.station, pb);
  EXPECT_FALSE(dropped.mIntact);
  EXPECT_NE(dropped.mWhy.find("holds no BeamDock records"), std::string::npos) << dropped.mWhy;
}

// A reporting tool's login reads the views, in which each record's fields are decoded and each
// detector's due dates computed, and nothing else.
TEST(SiteServer, AReaderSeesTheDecodedViewsAndNothingElse) {
  TSite site;
  const std::string reader = site.pg.ConnInfo(site.db, site.db + "_report");
  site.pg.Sql(site.db, "CREATE ROLE " + site.db + "_report LOGIN IN ROLE beamdock_reader");
  TempDir a;
  const std::string pa = a.path() + "BEAMDOCK.DB";
  RKVTCFG cfg{};
  cfg.mSensor.mCalInterval = 30 * 86400, cfg.mSensor.mBumpInterval = 1;
  FillStore(pa, 2, "KV5", [&](RServiceRecord& r) {
    r.mTime = r.mKind == "bump" ? "2026-01-02T08:00:00Z" : "2026-01-01T08:00:00Z";
    r.mCfgAfter = CfgImage(cfg), r.mAsLeft = "25.0 ppm", r.mDetails = "tolerance_pct=10\n";
  });
  site.Admit(pa);
  ASSERT_EQ(PushStore(site.station, pa).mSent, 2);
  std::string value;
  EXPECT_EQ(StateOf(reader, "SELECT status || ' ' || calibration_due::date || ' ' || bump_due::date FROM beamdock.fleet_view "
                            "WHERE serial = 'KV5'", &value), "");
  EXPECT_EQ(value, "OVERDUE 2026-01-31 2026-01-03");
  EXPECT_EQ(StateOf(reader, "SELECT as_left || ' ' || tolerance_pct FROM beamdock.record_view WHERE kind = 'calibration'",
                    &value), "");
  EXPECT_EQ(value, "25.0 ppm 10");
  EXPECT_EQ(StateOf(reader, "SELECT count(*) FROM beamdock.event_view"), "");
  for (const char* sql : {"SELECT * FROM beamdock.records", "SELECT * FROM beamdock.record_facts",
                          "SELECT * FROM beamdock.stations", "SELECT beamdock.sealed_fields('\\x00')",
                          "SELECT beamdock.push_records('{}', '{}')", "SELECT beamdock.register_station('00')"})
    EXPECT_EQ(StateOf(reader, sql), "42501") << sql;
  // Not even the owner writes the decoded facts by hand.
  EXPECT_EQ(StateOf(site.admin, "UPDATE beamdock.record_facts SET result = 'PASS'"), "BD010");
}

}  // namespace
