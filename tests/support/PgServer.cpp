#include "tests/support/PgServer.h"

#include <fcntl.h>
#include <grp.h>
#include <libpq-fe.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace {

constexpr int kPort = 5432;  // the socket is in the cluster's own folder, so no other server shares it
const std::string kSuperuser = "beamdock_admin";

[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error("test PostgreSQL server: " + what); }

std::string Program(const char* name) { return std::string(BEAMDOCK_PG_BINDIR) + "/" + name; }

std::string Tail(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  const std::string all = text.str();
  return all.size() > 4000 ? all.substr(all.size() - 4000) : all;
}

// Waits up to timeout for pid to end; true when it has (or is no child of ours any more).
bool Reap(pid_t pid, std::chrono::milliseconds timeout, int* status = nullptr) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int st = 0;
    const pid_t got = ::waitpid(pid, &st, WNOHANG);
    if (got == pid || (got < 0 && errno == ECHILD)) {
      if (status) *status = got == pid ? st : -1;
      return true;
    }
    if (got < 0 && errno != EINTR) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

using TConn = std::unique_ptr<PGconn, decltype(&PQfinish)>;
using TResult = std::unique_ptr<PGresult, decltype(&PQclear)>;

}  // namespace

TPgServer& TPgServer::Shared() {
  static TPgServer server;  // a constructor that threw is tried again on the next call
  return server;
}

TPgServer::TPgServer() : FOwner(::getpid()) {
  if (::geteuid() == 0) {
    // The server refuses to run as root.
    const passwd* account = ::getpwnam("postgres");
    if (!account) Fail("running as root needs the postgres account (the postgresql package makes it)");
    FDropPrivileges = true;
    FUid = account->pw_uid;
    FGid = account->pw_gid;
    int count = 16;
    FGroups.resize(static_cast<size_t>(count));
    if (::getgrouplist("postgres", FGid, FGroups.data(), &count) < 0) {
      FGroups.resize(static_cast<size_t>(count));
      ::getgrouplist("postgres", FGid, FGroups.data(), &count);
    }
    FGroups.resize(static_cast<size_t>(count));
  }
  // Under /tmp, not $TMPDIR: the postgres account must reach it, and the socket path must be short.
  char name[] = "/tmp/beamdock-pg-XXXXXX";
  if (!::mkdtemp(name)) Fail(std::string("mkdtemp: ") + std::strerror(errno));
  FDir = name;
  try {
    namespace fs = std::filesystem;
    if (FDropPrivileges && ::chown(FDir.c_str(), FUid, FGid) != 0) Fail(FDir + ": " + std::strerror(errno));
    fs::create_directory(FDir + "/lib");
    fs::permissions(FDir + "/lib", fs::perms(0755));
    fs::copy_file(BEAMDOCK_PG_MODULE, FDir + "/lib/beamdock_seal.so");
    fs::permissions(FDir + "/lib/beamdock_seal.so", fs::perms(0644));

    const std::string log = FDir + "/initdb.log";
    const pid_t initdb = Spawn({Program("initdb"), "-D", FDir + "/data", "-U", kSuperuser, "-A", "trust", "-E",
                                "UTF8", "--locale=C", "--no-sync", "--no-instructions"},
                               log);
    int status = -1;
    Reap(initdb, std::chrono::minutes(2), &status);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Fail("initdb failed:\n" + Tail(log));

    std::ofstream conf(FDir + "/data/postgresql.conf", std::ios::app);
    conf << "\n# The test program's own server: its socket only, no durability, the build's module.\n"
         << "listen_addresses = ''\n"
         << "unix_socket_directories = '" << FDir << "'\n"
         << "port = " << kPort << "\n"
         << "fsync = off\nsynchronous_commit = off\nfull_page_writes = off\n"
         << "max_connections = 40\nshared_buffers = 16MB\n"
         << "dynamic_library_path = '" << FDir << "/lib:$libdir'\n";
    conf.close();
    if (!conf) Fail("cannot write " + FDir + "/data/postgresql.conf");
    Start();
  } catch (...) {
    Remove();
    throw;
  }
}

TPgServer::~TPgServer() {
  if (::getpid() != FOwner) return;  // a forked test child leaving
  try {
    Stop();
  } catch (...) {
  }
  Remove();
}

void TPgServer::Remove() {
  std::error_code ec;
  std::filesystem::remove_all(FDir, ec);
}

pid_t TPgServer::Spawn(const std::vector<std::string>& argv, const std::string& logFile) const {
  // Everything the child needs is made before fork: a child of a threaded program may not allocate.
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const int log = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (log < 0 || null < 0) Fail(logFile + ": " + std::strerror(errno));
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(null, 0);
    ::dup2(log, 1);
    ::dup2(log, 2);
    // No descriptor of the test (a pipe, a pseudo-terminal) may stay open in the server.
    if (::close_range(3, ~0U, 0) != 0)
      for (int fd = 3; fd < 4096; ++fd) ::close(fd);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    if (FDropPrivileges && (::setgroups(FGroups.size(), FGroups.data()) != 0 || ::setgid(FGid) != 0 ||
                            ::setuid(FUid) != 0))
      ::_exit(126);
    // After setuid, which clears it: the server ends with the test program, even one that crashed.
    ::prctl(PR_SET_PDEATHSIG, SIGQUIT);
    if (::getppid() != parent) ::_exit(1);
    if (::chdir(FDir.c_str()) != 0) ::_exit(126);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  const int forkErrno = errno;
  ::close(log);
  ::close(null);
  if (pid < 0) Fail(std::string("fork: ") + std::strerror(forkErrno));
  return pid;
}

void TPgServer::Start() {
  if (FPid > 0) return;
  const std::string log = FDir + "/server.log";
  FPid = Spawn({Program("postgres"), "-D", FDir + "/data"}, log);
  const std::string probe = ConnInfo("postgres");
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (PQping(probe.c_str()) != PQPING_OK) {
    int status = 0;
    if (::waitpid(FPid, &status, WNOHANG) == FPid) {
      FPid = -1;
      Fail("the server ended while starting:\n" + Tail(log));
    }
    if (std::chrono::steady_clock::now() >= end) {
      ::kill(FPid, SIGQUIT);
      Reap(FPid, std::chrono::seconds(5));
      FPid = -1;
      Fail("the server did not accept connections within 20 s:\n" + Tail(log));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void TPgServer::Stop() {
  if (FPid <= 0) return;
  // Fast shutdown ends the sessions and writes a checkpoint; immediate shutdown, then a kill,
  // only for a server that hangs.
  ::kill(FPid, SIGINT);
  if (!Reap(FPid, std::chrono::seconds(30))) {
    ::kill(FPid, SIGQUIT);
    if (!Reap(FPid, std::chrono::seconds(5))) {
      ::kill(FPid, SIGKILL);
      Reap(FPid, std::chrono::seconds(5));
    }
  }
  FPid = -1;
}

std::string TPgServer::CreateDatabase() {
  const std::string name = "test" + std::to_string(++FNextDb);
  Sql("postgres", "CREATE DATABASE " + name);
  return name;
}

std::string TPgServer::ConnInfo(const std::string& db, const std::string& user) const {
  return "host=" + FDir + " port=" + std::to_string(kPort) + " dbname=" + db + " user=" +
         (user.empty() ? kSuperuser : user);
}

void TPgServer::Sql(const std::string& db, const std::string& sql) const {
  TConn conn(PQconnectdb(ConnInfo(db).c_str()), &PQfinish);
  if (!conn || PQstatus(conn.get()) != CONNECTION_OK)
    Fail(std::string("cannot connect to ") + db + ": " + (conn ? PQerrorMessage(conn.get()) : "out of memory"));
  TResult result(PQexec(conn.get(), sql.c_str()), &PQclear);
  const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK && status != PGRES_EMPTY_QUERY)
    throw std::runtime_error(result ? PQresultErrorMessage(result.get()) : PQerrorMessage(conn.get()));
}
