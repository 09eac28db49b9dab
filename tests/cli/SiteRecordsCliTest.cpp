// Two start folders acting as two stations of one site: each pushes its records after the
// operation, either lists both, and a server that is down costs an operation nothing.
#include "tests/support/PgServer.h"
#include "tests/support/Process.h"
#include "tests/support/SimPort.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(CliSite, TwoStationsShareOneServerAndAServerDownCostsTheOperationNothing) {
  TPgServer& pg = TPgServer::Shared();
  const std::string db = pg.CreateDatabase();
  TempDir admin, a, b;
  admin.write("BEAMDOCK.INI", "[RECORDS]\r\nServer=" + pg.ConnInfo(db) + "\r\n");
  KvtSim::Options o;
  std::memcpy(o.config.mUnit.mSerial, "KV00000042", 10);
  KvtSim::fillCRCs(o.config);
  SimPort port(o);
  const auto cli = [&](const TempDir& dir, std::vector<std::string> args) {
    args.insert(args.begin(), {BinPath("beamdock-cli"), "--dir", dir.path(), "--port", port.device()});
    return RunProcess(args);
  };
  ProcessResult r = cli(admin, {"records", "init-server"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  pg.Sql(db, "CREATE ROLE " + db + "_tech LOGIN IN ROLE beamdock_station");
  for (const auto& [dir, who] : {std::pair{&a, "Ada"}, std::pair{&b, "Bob"}})
    dir->write("BEAMDOCK.INI", std::string("[RECORDS]\r\nTechnician=") + who + "\r\nServer=" + pg.ConnInfo(db, db + "_tech") + "\r\n");

  ASSERT_EQ(cli(a, {"bump", "pass"}).exitCode, 0);
  ASSERT_EQ(cli(b, {"clear-peak"}).exitCode, 0);
  r = cli(a, {"records", "status"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("server: last record 1 of this station\nwaiting: 0\n"), std::string::npos) << r.out;
  r = cli(b, {"history", "KV00000042"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("KV00000042  bump  Send Bump Pass  PASS  Ada  "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("KV00000042  service  Clear Peak  PASS  Bob  "), std::string::npos) << r.out;
  r = cli(b, {"history", "--verify", "--server"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "intact: 2 records of 2 stations on the site server\n");

  pg.Stop();
  r = cli(a, {"bump", "pass"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  const size_t status = r.err.find("Send Bump Pass"), waits = r.err.find("1 service records wait to be sent");
  EXPECT_TRUE(status != std::string::npos && waits != std::string::npos && status < waits) << r.err;
  r = cli(a, {"history"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.err.find("the records of this computer only"), std::string::npos) << r.err;
  EXPECT_EQ(cli(a, {"records", "status"}).out, "waiting: 1\n");
  pg.Start();
  r = cli(a, {"records", "push"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("sent: 1 records"), std::string::npos) << r.out;
  EXPECT_EQ(cli(b, {"history", "KV00000042"}).out.find("the records of this computer only"), std::string::npos);
}

}  // namespace
