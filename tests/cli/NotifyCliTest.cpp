// fleet --notify against a mail server and a web hook of the test's own on 127.0.0.1: each
// detector that falls due is told once per recipient, a change is told again, what could not be
// delivered is tried again, and two computers that share a site server tell it once.
#include "tests/support/Loopback.h"
#include "tests/support/MiniJson.h"
#include "tests/support/PgServer.h"
#include "tests/support/Process.h"
#include "tests/support/SimPort.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <ctime>
#include <sstream>
#include <fstream>
#include <mutex>
#include <thread>

namespace {

// A plain SMTP server (no STARTTLS, no AUTH) or an HTTP server that keeps what it is sent. Its
// clients are served one after another; failing makes it refuse (451 to MAIL, HTTP 500).
class TListener {
 public:
  enum class TKind { Smtp, Http };
  explicit TListener(TKind kind) : FKind(kind) {
    FSocket = ListenOnLoopback(&FPort);
    FThread = std::thread([this] { Serve(); });
  }
  ~TListener() {
    FStop = true;
    FThread.join();
    ::close(FSocket);
  }
  int Port() const { return FPort; }
  void Fail(bool fail) { FFail = fail; }
  // What was taken (mail: "RCPT address\n" then the message; http: the body), and forgotten.
  std::vector<std::string> Take() {
    std::lock_guard<std::mutex> lock(FMutex);
    return std::exchange(FTaken, {});
  }

 private:
  void Serve() {
    while (!FStop) {
      pollfd p{FSocket, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      const int c = ::accept4(FSocket, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) continue;
      FIn.clear();
      FKind == TKind::Smtp ? Smtp(c) : Http(c);
      ::close(c);
    }
  }
  // One line without its CR LF; false when the client went.
  bool Line(int c, std::string& line) {
    for (size_t end; (end = FIn.find("\r\n")) == std::string::npos;) {
      char buffer[4096];
      pollfd p{c, POLLIN, 0};
      if (::poll(&p, 1, 5000) <= 0) return false;
      const ssize_t n = ::read(c, buffer, sizeof buffer);
      if (n <= 0) return false;
      FIn.append(buffer, static_cast<size_t>(n));
    }
    const size_t end = FIn.find("\r\n");
    line = FIn.substr(0, end);
    FIn.erase(0, end + 2);
    return true;
  }
  static void Say(int c, const std::string& text) { (void)!::write(c, text.data(), text.size()); }
  void Smtp(int c) {
    Say(c, "220 test ESMTP\r\n");
    std::string line, rcpt;
    while (Line(c, line)) {
      const std::string verb = line.substr(0, 4);
      if (verb == "EHLO" || verb == "HELO") {
        Say(c, "250 test\r\n");
      } else if (verb == "MAIL") {
        Say(c, FFail ? "451 4.3.0 try again later\r\n" : "250 OK\r\n");
        rcpt.clear();
      } else if (verb == "RCPT") {
        rcpt += "RCPT " + line.substr(line.find('<') + 1, line.find('>') - line.find('<') - 1) + "\n";
        Say(c, "250 OK\r\n");
      } else if (verb == "DATA") {
        Say(c, "354 go on\r\n");
        std::string message;
        while (Line(c, line) && line != ".") message += (line.rfind("..", 0) == 0 ? line.substr(1) : line) + "\n";
        std::lock_guard<std::mutex> lock(FMutex);
        FTaken.push_back(rcpt + message);
        Say(c, "250 OK\r\n");
      } else if (verb == "QUIT") {
        Say(c, "221 bye\r\n");
        return;
      } else {
        Say(c, "250 OK\r\n");
      }
    }
  }
  void Http(int c) {
    std::string line;
    size_t length = 0;
    while (Line(c, line) && !line.empty())
      if (strncasecmp(line.c_str(), "Content-Length:", 15) == 0) length = std::stoul(line.substr(15));
    while (FIn.size() < length) {
      char buffer[4096];
      const ssize_t n = ::read(c, buffer, sizeof buffer);
      if (n <= 0) break;
      FIn.append(buffer, static_cast<size_t>(n));
    }
    if (!FFail) {
      std::lock_guard<std::mutex> lock(FMutex);
      FTaken.push_back(FIn.substr(0, length));
    }
    Say(c, FFail ? "HTTP/1.1 500 Broken\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"
                 : "HTTP/1.1 204 No Content\r\nConnection: close\r\n\r\n");
  }

  TKind FKind;
  int FSocket = -1, FPort = 0;
  std::atomic<bool> FStop{false}, FFail{false};
  std::thread FThread;
  std::mutex FMutex;
  std::vector<std::string> FTaken;
  std::string FIn;
};

std::string Unbase64(const std::string& text) {
  std::string out;
  uint32_t bits = 0;
  int n = 0;
  for (const char c : text) {
    const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const char* at = c ? std::strchr(digits, c) : nullptr;
    if (!at) continue;
    bits = bits << 6 | static_cast<uint32_t>(at - digits);
    if ((n += 6) >= 8) out += static_cast<char>(bits >> (n -= 8) & 0xff);
  }
  return out;
}

// A mail as the listener took it: its recipients, its subject, its text and its attachment.
struct TMail {
  std::string rcpt, subject, text, pdf;
};
TMail MailOf(const std::string& taken) {
  TMail m;
  std::vector<std::string> parts(1);
  std::istringstream in(taken);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("RCPT ", 0) == 0) m.rcpt += line.substr(5) + " ";
    if (line.rfind("--beamdock-", 0) == 0) parts.emplace_back();
    else parts.back() += line + "\n";
  }
  if (const size_t at = parts[0].find("\nSubject: "); at != std::string::npos)
    m.subject = parts[0].substr(at + 10, parts[0].find('\n', at + 1) - at - 10);
  for (size_t i = 1; i < parts.size(); ++i) {
    const size_t body = parts[i].find("\n\n");
    if (body == std::string::npos) continue;
    (parts[i].substr(0, body).find("application/pdf") != std::string::npos ? m.pdf : m.text) =
        Unbase64(parts[i].substr(body));
  }
  return m;
}

struct TStation {
  TempDir dir;
  ProcessResult Cli(std::vector<std::string> args, const std::string& device = "") const {
    args.insert(args.begin(), {BinPath("beamdock-cli"), "--dir", dir.path()});
    if (!device.empty()) args.insert(args.begin() + 3, {"--port", device});
    return RunProcess(args);
  }
};

std::string NotifyIni(const TListener& smtp, const TListener& hook, const std::string& more = "") {
  return "[NOTIFY]\r\nTo=ada@example.org, bob@example.org\r\nFrom=beamdock@example.org\r\nSmtp=smtp://127.0.0.1:" +
         std::to_string(smtp.Port()) + "\r\nHook=http://127.0.0.1:" + std::to_string(hook.Port()) + "/h/s3cret\r\n" +
         more;
}

TEST(CliNotify, EachChangeIsToldOnceAndWhatWasNotDeliveredIsTriedAgain) {
  TListener smtp(TListener::TKind::Smtp), hook(TListener::TKind::Http);
  KvtSim::Options o;
  std::memcpy(o.config.mUnit.mSerial, "KV00000042", 10);
  KvtSim::fillCRCs(o.config);
  SimPort port(o);
  TStation s;
  s.dir.write("BEAMDOCK.INI", NotifyIni(smtp, hook));
  ASSERT_EQ(s.Cli({"bump", "pass"}, port.device()).exitCode, 0);

  // A dry run shows the notices and sends and remembers nothing.
  ProcessResult r = s.Cli({"fleet", "--notify", "--dry-run"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("would mail ada@example.org"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("would POST to hook http://127.0.0.1:" + std::to_string(hook.Port()) + ":\n"), std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("s3cret"), std::string::npos) << "a hook's secret path is not shown";
  EXPECT_TRUE(smtp.Take().empty());

  // The first run tells each address in a message of its own, with the fleet report, and the hook.
  r = s.Cli({"fleet", "--notify"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::vector<std::string> mails = smtp.Take(), posts = hook.Take();
  ASSERT_EQ(mails.size(), 2u);
  std::string rcpts;
  for (const std::string& taken : mails) {
    const TMail m = MailOf(taken);
    rcpts += m.rcpt;
    EXPECT_NE(m.subject.find("1 detector became due, overdue or failed"), std::string::npos) << m.subject;
    for (const char* text : {"KV00000042", "never              now", "DUE", "verified: this computer"})
      EXPECT_NE(m.text.find(text), std::string::npos) << text << "\n" << m.text;
    EXPECT_EQ(m.pdf.rfind("%PDF-", 0), 0u) << taken.substr(0, 2000);
  }
  EXPECT_EQ(rcpts, "ada@example.org bob@example.org ");
  s.dir.write("attached.pdf", MailOf(mails[0]).pdf);
  r = RunProcess({"/usr/bin/pdftotext", "-raw", s.dir.path() + "attached.pdf", "-"});
  EXPECT_NE(r.out.find("KV00000042"), std::string::npos) << r.out;
  ASSERT_EQ(posts.size(), 1u);
  std::optional<JsonValue> json = ParseJson(posts[0]);
  ASSERT_TRUE(json && json->find("changed")) << posts[0];
  ASSERT_EQ(json->find("changed")->array.size(), 1u);
  const JsonValue& row = json->find("changed")->array[0];
  EXPECT_EQ(row.find("serial")->string, "KV00000042");
  EXPECT_EQ(row.find("status")->string, "DUE");
  EXPECT_EQ(row.find("calibration_due")->string, "now");

  // Nothing changed: nothing is sent.
  r = s.Cli({"fleet", "--notify"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("nothing to send"), std::string::npos) << r.out;
  EXPECT_TRUE(smtp.Take().empty());
  EXPECT_TRUE(hook.Take().empty());

  // The detector fails its bump test while the mail server refuses: the hook hears of it, the
  // mail is tried again at the next run, and only the mail.
  ASSERT_EQ(s.Cli({"bump", "fail"}, port.device()).exitCode, 0);
  smtp.Fail(true);
  r = s.Cli({"fleet", "--notify"});
  EXPECT_EQ(r.exitCode, 75);
  EXPECT_NE(r.err.find("the notice to ada@example.org was not delivered: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("451"), std::string::npos) << r.err;
  posts = hook.Take();
  ASSERT_EQ(posts.size(), 1u);
  json = ParseJson(posts[0]);
  EXPECT_EQ(json->find("changed")->array.at(0).find("status")->string, "FAILED");
  smtp.Fail(false);
  r = s.Cli({"fleet", "--notify"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  mails = smtp.Take();
  ASSERT_EQ(mails.size(), 2u);
  EXPECT_NE(MailOf(mails[0]).text.find("FAILED"), std::string::npos);
  EXPECT_TRUE(hook.Take().empty());

  // A week after the last reminder, those still so are told again.
  const std::string memory = s.dir.read("BEAMDOCK.DB.notified");
  std::string aged;
  std::istringstream lines(memory);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("R ada@example.org ", 0) == 0) line = "R ada@example.org " + std::to_string(time(nullptr) - 8 * 86400);
    aged += line + "\n";
  }
  s.dir.write("BEAMDOCK.DB.notified", aged);
  r = s.Cli({"fleet", "--notify"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  mails = smtp.Take();
  ASSERT_EQ(mails.size(), 1u);
  const TMail reminder = MailOf(mails[0]);
  EXPECT_EQ(reminder.rcpt, "ada@example.org ");
  EXPECT_NE(reminder.subject.find("weekly reminder, 0 new"), std::string::npos) << reminder.subject;
  EXPECT_NE(reminder.text.find("Still DUE, OVERDUE or FAILED"), std::string::npos) << reminder.text;

  // A login file others may read is refused (and the hook still goes); one of this account
  // alone is sent over TLS only, which this server does not offer.
  ASSERT_EQ(s.Cli({"bump", "pass"}, port.device()).exitCode, 0);
  s.dir.write("login", "mailer:pa55word\n");
  s.dir.write("BEAMDOCK.INI", NotifyIni(smtp, hook, "SmtpLogin=login\r\n"));
  ::chmod((s.dir.path() + "login").c_str(), 0644);
  r = s.Cli({"fleet", "--notify"});
  EXPECT_EQ(r.exitCode, 75);
  EXPECT_NE(r.err.find("SmtpLogin " + s.dir.path() + "login may be read or changed by other accounts (mode 0644)"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(hook.Take().size(), 1u);
  ::chmod((s.dir.path() + "login").c_str(), 0600);
  r = s.Cli({"fleet", "--notify"});
  EXPECT_EQ(r.exitCode, 75);
  EXPECT_NE(r.err.find("was not delivered"), std::string::npos) << r.err;
  for (const std::string& taken : smtp.Take()) EXPECT_EQ(taken.find("pa55word"), std::string::npos);
}

TEST(CliNotify, TwoComputersSharingASiteServerTellOnce) {
  TPgServer& pg = TPgServer::Shared();
  const std::string db = pg.CreateDatabase();
  TListener smtp(TListener::TKind::Smtp), hook(TListener::TKind::Http);
  KvtSim::Options o;
  std::memcpy(o.config.mUnit.mSerial, "KV00000077", 10);
  KvtSim::fillCRCs(o.config);
  SimPort port(o);
  // The administrator's folder makes the records (its own station is admitted at once); two
  // computers of the station role send the notices.
  TStation admin, a, b;
  admin.dir.write("BEAMDOCK.INI", "[RECORDS]\r\nServer=" + pg.ConnInfo(db) + "\r\n");
  ASSERT_EQ(admin.Cli({"records", "init-server"}).exitCode, 0);
  pg.Sql(db, "CREATE ROLE " + db + "_tech LOGIN IN ROLE beamdock_station");
  ASSERT_EQ(admin.Cli({"bump", "fail"}, port.device()).exitCode, 0);
  ASSERT_EQ(admin.Cli({"records", "push"}).exitCode, 0);
  for (const TStation* s : {&a, &b})
    s->dir.write("BEAMDOCK.INI", "[RECORDS]\r\nServer=" + pg.ConnInfo(db, db + "_tech") + "\r\n" + NotifyIni(smtp, hook));

  ProcessResult ra, rb;
  std::thread other([&] { rb = b.Cli({"fleet", "--notify"}); });
  ra = a.Cli({"fleet", "--notify"});
  other.join();
  EXPECT_EQ(ra.exitCode, 0) << ra.err;
  EXPECT_EQ(rb.exitCode, 0) << rb.err;
  const std::vector<std::string> mails = smtp.Take();
  EXPECT_EQ(mails.size(), 2u) << ra.out << rb.out;
  EXPECT_EQ(hook.Take().size(), 1u) << ra.out << rb.out;
  for (const std::string& taken : mails) {
    const TMail m = MailOf(taken);
    EXPECT_NE(m.text.find("KV00000077"), std::string::npos) << m.text;
    EXPECT_NE(m.text.find("verified: site server"), std::string::npos) << m.text;
  }
  EXPECT_FALSE(a.dir.exists("BEAMDOCK.DB.notified"));
  EXPECT_FALSE(b.dir.exists("BEAMDOCK.DB.notified"));
  for (const TStation* s : {&a, &b}) {
    const ProcessResult r = s->Cli({"fleet", "--notify"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("nothing to send"), std::string::npos) << r.out;
  }
  EXPECT_TRUE(smtp.Take().empty());
  // The station role notes only through the function, and only under the notices' lock.
  PGconn* tech = PQconnectdb(pg.ConnInfo(db, db + "_tech").c_str());
  for (const char* sql : {"DELETE FROM beamdock.notice_states", "SELECT beamdock.notices_note('x', false, '{}', '{}')"}) {
    PGresult* result = PQexec(tech, sql);
    const char* state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
    EXPECT_STREQ(state ? state : "", std::string(sql).rfind("DELETE", 0) == 0 ? "42501" : "BD011") << sql;
    PQclear(result);
  }
  PQfinish(tech);
}

}  // namespace
