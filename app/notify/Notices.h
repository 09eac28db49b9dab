// Due notices: each recipient is told of the detectors that became DUE, OVERDUE or FAILED since
// it was told last, and once a week of those still so; by mail (with the fleet report) and by
// a POST of JSON to a web hook. What each recipient was told is remembered on the site server
// when there is one, so that any number of computers sending notices tell it once, else beside
// this computer's store.
#pragma once

#include "app/records/Fleet.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// [NOTIFY] of the settings file.
struct RNoticeSettings {
  std::vector<std::string> mTo;  // addresses
  std::string mFrom;
  std::string mSmtp;       // smtp://host:port or smtps://host:port
  bool mRequireTls = false;
  std::string mSmtpLogin;  // the path of a file holding user:password (relative: under the start folder)
  std::string mHook;       // a URL that receives a POST of JSON
};
RNoticeSettings NoticeSettings();

struct RSmtpLogin {
  std::string mUser, mPassword;
};
// The login file: "user:password" on its first line, in a file of this account that no other
// may read or change. nullopt, with why, when it is refused or cannot be read.
std::optional<RSmtpLogin> ReadSmtpLogin(const std::string& path, std::string* why);

// What a recipient was told: the state of each detector it heard of, and how long ago it was
// last reminded of them all.
struct RNoticeMemory {
  std::map<std::string, std::string> mStates;  // serial -> NoticeState
  std::optional<int64_t> mRemindedAgo;         // seconds; nullopt: never
};
constexpr int64_t kNoticeReminderS = 7 * 86400;

// A detector's state as the notices compare it: its status and due dates. A change of any of
// them (a new failure, a new due date) is news.
std::string NoticeState(const RFleetRow& row);

struct RNoticePlan {
  std::string mRecipient;
  std::vector<RFleetRow> mChanged;  // DUE, OVERDUE or FAILED, and not as the recipient was told
  std::vector<RFleetRow> mStill;    // the weekly reminder: the others still so
  bool mReminder = false;           // the message lists every detector that is not OK
  std::map<std::string, std::string> mStates;  // what the recipient knows once it got the message
  bool Send() const { return !mChanged.empty() || !mStill.empty(); }
};
RNoticePlan PlanNotice(const std::string& recipient, const std::vector<RFleetRow>& rows, const RNoticeMemory& memory);

// What every message of one run says besides its detectors.
struct RNoticeContext {
  std::string mSite, mDate;  // the date (UTC) the fleet was read
  int mDueDays = 7;
  std::string mVerified;     // whether and where the records were verified
};
std::string NoticeSubject(const RNoticePlan& plan, const RNoticeContext& context);
std::string NoticeText(const RNoticePlan& plan, const RNoticeContext& context);
std::string NoticeJson(const RNoticePlan& plan, const RNoticeContext& context);
// The whole mail (headers, text, the fleet report attached as pdfName; when pdf is empty the
// text says why it is not), with CR LF line ends.
std::string NoticeMail(const RNoticePlan& plan, const RNoticeContext& context, const std::string& from,
                       const std::string& to, const std::string& pdf, const std::string& pdfName,
                       const std::string& pdfWhyNot);

// Where the recipients' memory is kept. Lock first (false: another run is sending now), then
// Read, then Note each recipient as it was told. Throws std::runtime_error when it cannot be
// read or written.
class TNoticeMemoryStore {
 public:
  virtual ~TNoticeMemoryStore() = default;
  virtual bool Lock() = 0;
  virtual std::map<std::string, RNoticeMemory> Read() = 0;
  virtual void Note(const std::string& recipient, const std::map<std::string, std::string>& states, bool reminded) = 0;
  virtual std::string Where() const = 0;
};
// BEAMDOCK.DB.notified beside the store (and its lock, BEAMDOCK.DB.notifylock).
std::unique_ptr<TNoticeMemoryStore> LocalNoticeMemory(const std::string& storePath);
// The site server's notice tables; throws ESiteServer when it cannot be reached.
std::unique_ptr<TNoticeMemoryStore> SiteNoticeMemory(const std::string& server);

// One run of fleet --notify over the fleet's rows. say: what was sent (or, dry, what would be);
// warn: what went wrong. pdf makes the fleet report when a mail needs it (empty with why when it
// cannot). Returns 0 when every notice due was delivered (or none was due), 75 otherwise: what
// was not delivered is not noted, so the next run tries it again.
constexpr int kNoticeNotDelivered = 75;
struct RNoticeRun {
  RNoticeSettings mSettings;
  RNoticeContext mContext;
  bool mDryRun = false;
  std::string mStorePath, mServer;  // the store, and the site server when one is set
  std::function<std::string(std::string* why)> mPdf;
  std::function<void(const std::string&)> mSay, mWarn;
};
int RunNotices(const std::vector<RFleetRow>& rows, const RNoticeRun& run);
