// A PostgreSQL 15 cluster of the test program's own: made with initdb in a temporary folder, started
// on first use, stopped (and the folder removed) when the program ends, also when a test failed.
// The server is a child of the test program and ends with it even when the program crashes. It
// listens on a socket in its own folder only, holds the build's beamdock_seal module in its
// library path, and trades durability for speed (no fsync).
#pragma once

#include <sys/types.h>

#include <atomic>
#include <string>
#include <vector>

class TPgServer {
 public:
  // One per test program; throws std::runtime_error with the server's log when it cannot start.
  // Call it first from the main thread: the server is told to end when the thread that started it
  // does.
  static TPgServer& Shared();
  // A new, empty database owned by the superuser; returns its name. Names are unique per call.
  std::string CreateDatabase();
  // libpq connection string to database db as user (the superuser when user is empty):
  // "host=<socket folder> port=<port> dbname=<db> user=<user>"
  std::string ConnInfo(const std::string& db, const std::string& user = "") const;
  // Runs SQL as the superuser in db (several statements allowed); throws std::runtime_error with the
  // server's message on failure. For fixtures (CREATE ROLE station1 LOGIN IN ROLE ...).
  void Sql(const std::string& db, const std::string& sql) const;
  void Stop();   // fast shutdown; ConnInfo stays valid, connections then fail
  void Start();  // after Stop: the same cluster, same port and socket

  TPgServer(const TPgServer&) = delete;
  TPgServer& operator=(const TPgServer&) = delete;
  ~TPgServer();

 private:
  TPgServer();
  // Runs the server's program (initdb, postgres) as the account that may run it; returns its pid.
  pid_t Spawn(const std::vector<std::string>& argv, const std::string& logFile) const;
  void Remove();

  std::string FDir;  // ends without '/'; the socket is here, the cluster in FDir/data
  pid_t FOwner = -1;  // the test program (a forked child that exits must not stop the server)
  pid_t FPid = -1;    // the postmaster while it runs
  // Running as root: the server runs as the postgres account instead, which root may not be.
  bool FDropPrivileges = false;
  uid_t FUid = 0;
  gid_t FGid = 0;
  std::vector<gid_t> FGroups;
  std::atomic<int> FNextDb{0};
};
