// Two start folders acting as two stations of one site: each pushes its records after the
// operation, either lists both, and a server that is down costs an operation nothing.
#include "tests/support/Loopback.h"
#include "tests/support/PgServer.h"
#include "tests/support/Process.h"
#include "tests/support/SimPort.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
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
  // Each station asks; their records wait until the administrator admits them.
  for (const TempDir* dir : {&a, &b}) {
    r = cli(*dir, {"records", "register-station"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string id = r.out.substr(8, 16);
    EXPECT_NE(r.out.find("has asked the site server to be admitted (login " + db + "_tech)"), std::string::npos) << r.out;
    EXPECT_EQ(cli(*dir, {"records", "push"}).exitCode, 65);
    r = cli(admin, {"records", "admit-station", id});
    EXPECT_EQ(r.out, "station " + id + " is admitted: login " + db + "_tech pushes its records\n") << r.err;
    EXPECT_EQ(cli(*dir, {"records", "push"}).exitCode, 0);
  }
  r = cli(a, {"records", "status"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("server: last record 1 of this station\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\nclock: within a minute"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\nwaiting: 0\n"), std::string::npos) << r.out;
  r = cli(b, {"history", "KV00000042"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("KV00000042  bump  Send Bump Pass  PASS (hand)  Ada  "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("KV00000042  service  Clear Peak  PASS  Bob  "), std::string::npos) << r.out;
  r = cli(b, {"history", "--verify", "--server"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "intact: 2 records of 2 stations on the site server\n");

  // The server down: the operation ends as ever, its push fails in the background, and the
  // next operation says why its records wait.
  pg.Stop();
  r = cli(a, {"bump", "pass"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err.find("wait to be sent"), std::string::npos) << r.err;
  EXPECT_EQ(cli(a, {"records", "status"}).out, "waiting: 1\n");
  r = cli(a, {"clear-peak"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  const size_t status = r.err.find("Clear Peak"), waits = r.err.find("2 service records wait to be sent");
  EXPECT_TRUE(status != std::string::npos && waits != std::string::npos && status < waits) << r.err;
  r = cli(a, {"history"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.err.find("the records of this computer only"), std::string::npos) << r.err;
  EXPECT_EQ(cli(a, {"records", "status"}).out, "waiting: 2\n");
  pg.Start();
  r = cli(a, {"records", "push"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("sent: 2 records"), std::string::npos) << r.out;
  EXPECT_EQ(cli(b, {"history", "KV00000042"}).out.find("the records of this computer only"), std::string::npos);
}

// A server that takes the connection and never answers holds no command's exit: the push goes
// on in the background, and a read gives the server up and says so.
TEST(CliSite, ASilentServerHoldsNoCommandsExit) {
  int silentPort = 0;
  const int silent = ListenOnLoopback(&silentPort);
  ASSERT_GE(silent, 0);
  TempDir dir;
  dir.write("BEAMDOCK.INI", "[RECORDS]\r\nServer=postgresql://station@127.0.0.1:" + std::to_string(silentPort) +
                                "/beamdock\r\n");
  SimPort port;
  const auto timed = [&](std::vector<std::string> args, double& seconds) {
    args.insert(args.begin(), {BinPath("beamdock-cli"), "--dir", dir.path(), "--port", port.device()});
    const auto start = std::chrono::steady_clock::now();
    ProcessResult r = RunProcess(args);
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return r;
  };
  double seconds = 0;
  ProcessResult r = timed({"bump", "pass"}, seconds);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_LT(seconds, 1.5);  // the connection alone may take 2 s to give up
  r = timed({"history"}, seconds);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("the records of this computer only"), std::string::npos) << r.err;
  EXPECT_LT(seconds, 8.0);
  ::close(silent);
}

}  // namespace
