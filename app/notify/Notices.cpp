#include "app/notify/Notices.h"

#include "app/core/Settings.h"
#include "app/notify/Delivery.h"
#include "app/records/StationKey.h"
#include "app/site/SiteServer.h"
#include "model/FileUtils.h"
#include "model/JsonText.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

std::string Trimmed(const std::string& text) {
  const size_t from = text.find_first_not_of(" \t\r\n");
  if (from == std::string::npos) return "";
  return text.substr(from, text.find_last_not_of(" \t\r\n") - from + 1);
}

// An address as MAIL FROM and RCPT TO take it, and nothing a header could be broken with.
bool PlainAddress(const std::string& a) {
  const size_t at = a.find('@');
  if (at == 0 || at == std::string::npos || at + 1 == a.size() || a.size() > 254) return false;
  for (const unsigned char c : a)
    if (c <= 0x20 || c == 0x7f || std::string("<>()[],;:\\\"").find(static_cast<char>(c)) != std::string::npos)
      return false;
  return true;
}

// The authority of a URL: between "://" and the next '/', '?' or '#'.
std::string Authority(const std::string& url) {
  const size_t from = url.find("://");
  if (from == std::string::npos) return "";
  return url.substr(from + 3, url.find_first_of("/?#", from + 3) - (from + 3));
}

bool HasScheme(const std::string& url, std::initializer_list<const char*> schemes) {
  for (const char* s : schemes)
    if (url.rfind(std::string(s) + "://", 0) == 0 && !Authority(url).empty()) return true;
  return false;
}

std::string HookRecipient(const std::string& url) { return "hook " + Sha256Hex(url).substr(0, 16); }

// A hook's URL often carries its secret in the path: only its scheme and host are shown.
std::string HookShown(const std::string& url) {
  std::string authority = Authority(url);
  if (const size_t at = authority.rfind('@'); at != std::string::npos) authority = authority.substr(at + 1);
  return url.substr(0, url.find("://") + 3) + authority;
}

// Why the mail part of the settings cannot send; empty when it can. Fills *login.
std::string MailProblem(const RNoticeSettings& s, RSmtpServer* server) {
  if (s.mSmtp.empty()) return "[NOTIFY] Smtp is not set (smtp://host:port or smtps://host:port)";
  if (!HasScheme(s.mSmtp, {"smtp", "smtps"}))
    return "[NOTIFY] Smtp is no smtp://host:port or smtps://host:port URL: " + s.mSmtp;
  if (Authority(s.mSmtp).find('@') != std::string::npos)
    return "[NOTIFY] Smtp names a login: keep it in the file that [NOTIFY] SmtpLogin names, never in BEAMDOCK.INI";
  if (!PlainAddress(s.mFrom)) return "[NOTIFY] From is no plain address (name@host): \"" + s.mFrom + "\"";
  server->mUrl = s.mSmtp;
  server->mRequireTls = s.mRequireTls;
  if (!s.mSmtpLogin.empty()) {
    std::string why;
    const std::optional<RSmtpLogin> login = ReadSmtpLogin(s.mSmtpLogin, &why);
    if (!login) return why;
    server->mUser = login->mUser;
    server->mPassword = login->mPassword;
  }
  return "";
}

// Text fields of the local memory file: bytes that would break a line or a field as %XX.
std::string Escaped(const std::string& text) {
  std::string out;
  for (const unsigned char c : text) {
    if (c <= 0x20 || c == '%' || c == 0x7f) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string Unescaped(const std::string& text) {
  const auto digit = [](char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
  };
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && digit(text[i + 1]) >= 0 && digit(text[i + 2]) >= 0) {
      out += static_cast<char>(digit(text[i + 1]) * 16 + digit(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

class TLocalMemory : public TNoticeMemoryStore {
 public:
  explicit TLocalMemory(std::string storePath) : FPath(storePath + ".notified"), FLockPath(storePath + ".notifylock") {}
  ~TLocalMemory() override {
    if (FLock >= 0) ::close(FLock);
  }

  bool Lock() override {
    FLock = ::open(FLockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (FLock < 0) throw std::runtime_error(FLockPath + " cannot be opened: " + std::strerror(errno));
    return ::flock(FLock, LOCK_EX | LOCK_NB) == 0;
  }

  std::map<std::string, RNoticeMemory> Read() override {
    FMemory.clear();
    std::ifstream in(FPath, std::ios::binary);
    if (!in) {
      if (::access(FPath.c_str(), F_OK) == 0) throw std::runtime_error(FPath + " cannot be read");
      return FMemory;  // nobody told yet
    }
    const std::time_t now = std::time(nullptr);
    std::string line;
    if (!std::getline(in, line) || line != kHeader) throw std::runtime_error(FPath + " is no notice memory of BeamDock");
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string kind, recipient, a, b;
      fields >> kind >> recipient >> a >> b;
      if (kind == "R" && !recipient.empty()) {
        RNoticeMemory& m = FMemory[Unescaped(recipient)];
        if (a != "-") m.mRemindedAgo = now - static_cast<std::time_t>(std::stoll(a));
      } else if (kind == "S" && !b.empty()) {
        FMemory[Unescaped(recipient)].mStates[Unescaped(a)] = Unescaped(b);
      } else if (!kind.empty()) {
        throw std::runtime_error(FPath + ": a line that is no notice memory: " + line.substr(0, 60));
      }
    }
    return FMemory;
  }

  void Note(const std::string& recipient, const std::map<std::string, std::string>& states, bool reminded) override {
    RNoticeMemory& m = FMemory[recipient];
    m.mStates = states;
    if (reminded) m.mRemindedAgo = 0;
    const std::time_t now = std::time(nullptr);
    std::string text = std::string(kHeader) + "\n";
    for (const auto& [who, memory] : FMemory) {
      text += "R " + Escaped(who) + " " +
              (memory.mRemindedAgo ? std::to_string(static_cast<long long>(now - *memory.mRemindedAgo)) : "-") + "\n";
      for (const auto& [serial, state] : memory.mStates)
        text += "S " + Escaped(who) + " " + Escaped(serial) + " " + Escaped(state) + "\n";
    }
    std::string error;
    if (!WriteFileAtomic(FPath, text, &error)) throw std::runtime_error(FPath + " could not be written: " + error);
  }

  std::string Where() const override { return FPath; }

 private:
  static constexpr const char* kHeader = "beamdock-notified 1";
  std::string FPath, FLockPath;
  int FLock = -1;
  std::map<std::string, RNoticeMemory> FMemory;
};

// A PostgreSQL array literal of any texts.
std::string ArrayOf(const std::vector<std::string>& items) {
  std::string out = "{";
  for (size_t i = 0; i < items.size(); ++i) {
    out += i ? ",\"" : "\"";
    for (const char c : items[i]) {
      if (c == '"' || c == '\\') out += '\\';
      out += c;
    }
    out += '"';
  }
  return out + "}";
}

class TSiteMemory : public TNoticeMemoryStore {
 public:
  explicit TSiteMemory(const std::string& server) : FSession(RSiteConnection(server)) {}

  // An advisory lock of this session: held until it ends, however it ends.
  bool Lock() override { return FSession.Exec("SELECT beamdock.notices_lock()").at(0).at(0) == "t"; }

  std::map<std::string, RNoticeMemory> Read() override {
    std::map<std::string, RNoticeMemory> memory;
    for (const auto& row : FSession.Exec("SELECT recipient, extract(epoch FROM now() - reminded_at)::bigint "
                                         "FROM beamdock.notice_recipients")) {
      RNoticeMemory& m = memory[row.at(0)];
      if (!row.at(1).empty()) m.mRemindedAgo = std::stoll(row.at(1));
    }
    for (const auto& row : FSession.Exec("SELECT recipient, serial, state FROM beamdock.notice_states"))
      memory[row.at(0)].mStates[row.at(1)] = row.at(2);
    return memory;
  }

  void Note(const std::string& recipient, const std::map<std::string, std::string>& states, bool reminded) override {
    std::vector<std::string> serials, texts;
    for (const auto& [serial, state] : states) {
      serials.push_back(serial);
      texts.push_back(state);
    }
    FSession.Exec("SELECT beamdock.notices_note($1, $2, $3::text[], $4::text[])",
                  {recipient, reminded ? "true" : "false", ArrayOf(serials), ArrayOf(texts)});
  }

  std::string Where() const override { return "the site server"; }

 private:
  TSiteSession FSession;
};

const char* const kStatusLegend =
    "FAILED: the newest calibration or bump test failed.\n"
    "OVERDUE: a due date has passed.\n"
    "DUE: due within %d days, or never done although an interval asks for it.";

std::string Base64(const std::string& bytes) {
  static const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t line = 0;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const uint32_t n = (static_cast<uint8_t>(bytes[i]) << 16) |
                       (i + 1 < bytes.size() ? static_cast<uint8_t>(bytes[i + 1]) << 8 : 0) |
                       (i + 2 < bytes.size() ? static_cast<uint8_t>(bytes[i + 2]) : 0);
    out += digits[(n >> 18) & 63];
    out += digits[(n >> 12) & 63];
    out += i + 1 < bytes.size() ? digits[(n >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? digits[n & 63] : '=';
    if ((line += 4) == 76) {
      out += "\r\n";
      line = 0;
    }
  }
  if (line) out += "\r\n";
  return out;
}

// A header's text: as it is when plain ASCII, else as an encoded word.
std::string HeaderText(const std::string& text) {
  for (const unsigned char c : text)
    if (c < 0x20 || c > 0x7e) {
      std::string b = Base64(text);
      for (size_t at; (at = b.find("\r\n")) != std::string::npos;) b.erase(at, 2);
      return "=?UTF-8?B?" + b + "?=";
    }
  return text;
}

std::string MailDate(std::time_t t) {
  static const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm tm{};
  gmtime_r(&t, &tm);
  char out[64];
  std::snprintf(out, sizeof out, "%s, %02d %s %04d %02d:%02d:%02d +0000", days[tm.tm_wday], tm.tm_mday,
                months[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return out;
}

std::string RowsJson(const std::vector<RFleetRow>& rows) {
  std::string out = "[";
  for (const RFleetRow& r : rows) {
    const std::vector<std::string> cells = FleetCells(r);
    out += std::string(out.size() > 1 ? "," : "") + "{\"serial\":" + JsonString(r.mSerial) +
           ",\"sensor\":" + JsonString(r.mSensor) + ",\"status\":" + JsonString(FleetStatusText(r.mStatus)) +
           ",\"calibration_due\":" + JsonString(cells[3]) + ",\"bump_due\":" + JsonString(cells[5]) +
           ",\"last_calibration\":" + JsonString(cells[2]) + ",\"last_bump\":" + JsonString(cells[4]) + "}";
  }
  return out + "]";
}

}  // namespace

RNoticeSettings NoticeSettings() {
  const TSettingsFile ini = AppSettings();
  RNoticeSettings s;
  std::istringstream to(ini.ReadString("NOTIFY", "To", ""));
  for (std::string a; std::getline(to, a, ',');)
    if (!Trimmed(a).empty()) s.mTo.push_back(Trimmed(a));
  s.mFrom = Trimmed(ini.ReadString("NOTIFY", "From", ""));
  s.mSmtp = Trimmed(ini.ReadString("NOTIFY", "Smtp", ""));
  s.mRequireTls = ini.ReadInteger("NOTIFY", "RequireTls", 0) != 0;
  s.mSmtpLogin = Trimmed(ini.ReadString("NOTIFY", "SmtpLogin", ""));
  if (!s.mSmtpLogin.empty() && s.mSmtpLogin[0] != '/') s.mSmtpLogin = AppDir + s.mSmtpLogin;
  s.mHook = Trimmed(ini.ReadString("NOTIFY", "Hook", ""));
  return s;
}

std::optional<RSmtpLogin> ReadSmtpLogin(const std::string& path, std::string* why) {
  const auto refuse = [&](const std::string& text) {
    if (why) *why = "[NOTIFY] SmtpLogin " + path + " " + text;
    return std::nullopt;
  };
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return refuse(std::string("cannot be read: ") + std::strerror(errno));
  struct stat st {};
  std::string text;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) text.assign(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  if (!S_ISREG(st.st_mode)) return refuse("is no file");
  if (st.st_uid != ::geteuid())
    return refuse("belongs to another account (uid " + std::to_string(st.st_uid) +
                  "): it must be a file of the account that sends the notices, readable by it alone");
  if (st.st_mode & (S_IRWXG | S_IRWXO)) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return refuse(std::string("may be read or changed by other accounts (mode ") + mode +
                  "): it must be readable by this account alone (chmod 600 " + path + ")");
  }
  text = text.substr(0, text.find_first_of("\r\n"));
  const size_t colon = text.find(':');
  if (colon == std::string::npos || colon == 0)
    return refuse("holds no user:password on its first line");
  return RSmtpLogin{text.substr(0, colon), text.substr(colon + 1)};
}

std::string NoticeState(const RFleetRow& row) {
  const std::vector<std::string> cells = FleetCells(row);
  return std::string(FleetStatusText(row.mStatus)) + " " + cells[3] + " " + cells[5];
}

RNoticePlan PlanNotice(const std::string& recipient, const std::vector<RFleetRow>& rows, const RNoticeMemory& memory) {
  RNoticePlan plan;
  plan.mRecipient = recipient;
  std::vector<RFleetRow> unchanged;
  for (const RFleetRow& r : rows) {
    if (r.mStatus == TFleetStatus::Ok) continue;
    const std::string state = NoticeState(r);
    plan.mStates[r.mSerial] = state;
    const auto known = memory.mStates.find(r.mSerial);
    (known != memory.mStates.end() && known->second == state ? unchanged : plan.mChanged).push_back(r);
  }
  if (!plan.mStates.empty() && (!memory.mRemindedAgo || *memory.mRemindedAgo >= kNoticeReminderS)) {
    plan.mReminder = true;
    plan.mStill = std::move(unchanged);
  }
  return plan;
}

std::string NoticeSubject(const RNoticePlan& plan, const RNoticeContext& context) {
  const size_t all = plan.mChanged.size() + plan.mStill.size();
  const std::string site = context.mSite.empty() ? "" : " " + context.mSite;
  const auto detectors = [](size_t n) { return std::to_string(n) + (n == 1 ? " detector" : " detectors"); };
  if (plan.mReminder && !plan.mStill.empty())
    return "BeamDock" + site + ": " + detectors(all) + " due, overdue or failed (weekly reminder, " +
           std::to_string(plan.mChanged.size()) + " new)";
  return "BeamDock" + site + ": " + detectors(plan.mChanged.size()) +
         " became due, overdue or failed";
}

std::string NoticeText(const RNoticePlan& plan, const RNoticeContext& context) {
  std::string t = "BeamDock fleet notice" + (context.mSite.empty() ? "" : " for " + context.mSite) + ", " +
                  context.mDate + " (dates in UTC)\n\n";
  if (!plan.mChanged.empty())
    t += "Detectors that became DUE, OVERDUE or FAILED since the last notice:\n\n" + FleetText(plan.mChanged) + "\n";
  if (!plan.mStill.empty()) t += "Still DUE, OVERDUE or FAILED (the weekly reminder):\n\n" + FleetText(plan.mStill) + "\n";
  char legend[256];
  std::snprintf(legend, sizeof legend, kStatusLegend, context.mDueDays);
  t += std::string(legend) + "\nThe records: " + context.mVerified + "\n";
  return t;
}

std::string NoticeJson(const RNoticePlan& plan, const RNoticeContext& context) {
  return "{\"site\":" + JsonString(context.mSite) + ",\"date\":" + JsonString(context.mDate) +
         ",\"verified\":" + JsonString(context.mVerified) + ",\"reminder\":" + (plan.mReminder ? "true" : "false") +
         ",\"changed\":" + RowsJson(plan.mChanged) + ",\"still\":" + RowsJson(plan.mStill) +
         ",\"subject\":" + JsonString(NoticeSubject(plan, context)) + ",\"text\":" + JsonString(NoticeText(plan, context)) +
         "}";
}

std::string NoticeMail(const RNoticePlan& plan, const RNoticeContext& context, const std::string& from,
                       const std::string& to, const std::string& pdf, const std::string& pdfName,
                       const std::string& pdfWhyNot) {
  const std::time_t now = std::time(nullptr);
  const std::string tag = Sha256Hex(to + "\n" + std::to_string(now) + "\n" + std::to_string(::getpid()) + "\n" +
                                    NoticeText(plan, context)).substr(0, 24);
  const std::string boundary = "beamdock-" + tag;
  std::string text = NoticeText(plan, context);
  text += pdf.empty() ? "The fleet report could not be attached: " + pdfWhyNot + "\n"
                      : "The fleet report is attached (" + pdfName + ").\n";
  std::string crlf;
  for (const char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  std::string m = "From: " + from + "\r\nTo: " + to + "\r\nSubject: " + HeaderText(NoticeSubject(plan, context)) +
                  "\r\nDate: " + MailDate(now) + "\r\nMessage-ID: <" + tag + "@beamdock.notice>\r\nMIME-Version: 1.0\r\n";
  m += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n";
  m += "--" + boundary + "\r\nContent-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
       Base64(crlf);
  if (!pdf.empty())
    m += "--" + boundary + "\r\nContent-Type: application/pdf; name=\"" + pdfName +
         "\"\r\nContent-Disposition: attachment; filename=\"" + pdfName +
         "\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" + Base64(pdf);
  return m + "--" + boundary + "--\r\n";
}

std::unique_ptr<TNoticeMemoryStore> LocalNoticeMemory(const std::string& storePath) {
  return std::make_unique<TLocalMemory>(storePath);
}

std::unique_ptr<TNoticeMemoryStore> SiteNoticeMemory(const std::string& server) {
  return std::make_unique<TSiteMemory>(server);
}

int RunNotices(const std::vector<RFleetRow>& rows, const RNoticeRun& run) {
  const RNoticeSettings& s = run.mSettings;
  if (s.mTo.empty() && s.mHook.empty()) {
    run.mWarn("[NOTIFY] names nobody to tell: set To (with From and Smtp) or Hook in BEAMDOCK.INI");
    return kNoticeNotDelivered;
  }
  int status = 0;
  RSmtpServer smtp;
  std::string mailProblem;
  if (!s.mTo.empty()) {
    mailProblem = MailProblem(s, &smtp);
    for (const std::string& to : s.mTo)
      if (mailProblem.empty() && !PlainAddress(to))
        mailProblem = "[NOTIFY] To holds no plain address (name@host): \"" + to + "\"";
  }
  std::string hookProblem;
  if (!s.mHook.empty() && !HasScheme(s.mHook, {"http", "https"}))
    hookProblem = "[NOTIFY] Hook is no http:// or https:// URL";
  for (const std::string& problem : {mailProblem, hookProblem}) {
    if (problem.empty()) continue;
    run.mWarn(problem + (run.mDryRun ? "" : ": nothing is sent there"));
    status = kNoticeNotDelivered;
  }

  // The memory: the site's when it answers (every computer sees the same), else this computer's.
  std::unique_ptr<TNoticeMemoryStore> memory;
  std::map<std::string, RNoticeMemory> known;
  try {
    if (!run.mServer.empty()) {
      try {
        memory = SiteNoticeMemory(run.mServer);
        if (!run.mDryRun && !memory->Lock()) {
          run.mSay("another run is sending the notices now (here or on another computer): nothing sent by this one");
          return status;
        }
        known = memory->Read();
      } catch (const ESiteServer& e) {
        run.mWarn(std::string(e.what()) + ": what this computer sent is remembered instead");
        memory.reset();
      }
    }
    if (!memory) {
      memory = LocalNoticeMemory(run.mStorePath);
      if (!run.mDryRun && !memory->Lock()) {
        run.mSay("another run is sending the notices now: nothing sent by this one");
        return status;
      }
      known = memory->Read();
    }
  } catch (const std::exception& e) {
    run.mWarn(std::string("the notices' memory cannot be read: ") + e.what() + ": nothing was sent");
    return kNoticeNotDelivered;
  }

  struct TRecipient {
    std::string key, to;  // to: an address, or the hook's URL
    bool hook;
  };
  std::vector<TRecipient> recipients;
  for (const std::string& to : s.mTo) recipients.push_back({to, to, false});
  if (!s.mHook.empty()) recipients.push_back({HookRecipient(s.mHook), s.mHook, true});

  const std::string pdfName = "fleet-" + run.mContext.mDate + ".pdf";
  std::optional<std::string> pdf;
  std::string pdfWhy;
  bool sentAny = false;
  for (const TRecipient& r : recipients) {
    const RNoticePlan plan = PlanNotice(r.key, rows, known[r.key]);
    const bool news = plan.mStates != known[r.key].mStates;
    const std::string shown = r.hook ? "hook " + HookShown(r.to) : r.to;
    if (!plan.Send()) {
      if (news && !run.mDryRun) {
        try {
          memory->Note(r.key, plan.mStates, false);
        } catch (const std::exception& e) {
          run.mWarn(std::string("the notices' memory could not be written: ") + e.what());
          status = kNoticeNotDelivered;
        }
      }
      continue;
    }
    sentAny = true;
    const size_t count = plan.mChanged.size() + plan.mStill.size();
    const std::string detectors = std::to_string(count) + (count == 1 ? " detector" : " detectors");
    if (run.mDryRun) {
      if (r.hook)
        run.mSay("would POST to " + shown + ":\n" + NoticeJson(plan, run.mContext) + "\n");
      else
        run.mSay("would mail " + r.to + " (with " + pdfName + "):\nSubject: " + NoticeSubject(plan, run.mContext) +
                 "\n\n" + NoticeText(plan, run.mContext));
      continue;
    }
    std::string why;
    bool delivered = false;
    if (!(r.hook ? hookProblem : mailProblem).empty()) continue;  // said once above
    if (r.hook) {
      delivered = PostJson(r.to, NoticeJson(plan, run.mContext), &why);
    } else {
      if (!pdf) {
        pdf = run.mPdf ? run.mPdf(&pdfWhy) : std::string();
        if (pdf->empty() && pdfWhy.empty()) pdfWhy = "no fleet report was made";
      }
      const std::string mail = NoticeMail(plan, run.mContext, s.mFrom, r.to, *pdf, pdfName, pdfWhy);
      delivered = SendMail(smtp, s.mFrom, r.to, mail, &why);
    }
    if (!delivered) {
      run.mWarn("the notice to " + shown + " was not delivered: " + why + " (it is tried again at the next run)");
      status = kNoticeNotDelivered;
      continue;
    }
    run.mSay("sent: " + shown + ", " + detectors + (plan.mReminder && !plan.mStill.empty() ? " (weekly reminder)" : ""));
    try {
      memory->Note(r.key, plan.mStates, plan.mReminder);
    } catch (const std::exception& e) {
      run.mWarn("the notice to " + shown + " was sent, but could not be remembered (" + e.what() +
                "): it may be sent again");
      status = kNoticeNotDelivered;
    }
  }
  if (!sentAny) run.mSay("nothing to send: no detector became DUE, OVERDUE or FAILED since the last notice");
  return status;
}
