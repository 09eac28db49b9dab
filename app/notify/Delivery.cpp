#include "app/notify/Delivery.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace {

// One easy handle with its header or recipient list and its error text.
class TCurl {
 public:
  TCurl() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    FCurl = curl_easy_init();
    if (!FCurl) return;
    curl_easy_setopt(FCurl, CURLOPT_ERRORBUFFER, FError);
    curl_easy_setopt(FCurl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(FCurl, CURLOPT_CONNECTTIMEOUT, 10L);
  }
  ~TCurl() {
    curl_slist_free_all(FList);
    if (FCurl) curl_easy_cleanup(FCurl);
  }
  TCurl(const TCurl&) = delete;
  TCurl& operator=(const TCurl&) = delete;

  CURL* get() const { return FCurl; }
  curl_slist* Append(const std::string& item) { return FList = curl_slist_append(FList, item.c_str()); }
  // The outcome of perform: true, or false with the clearest reason libcurl has.
  bool Perform(std::string* why) {
    FError[0] = '\0';
    const CURLcode code = curl_easy_perform(FCurl);
    if (code == CURLE_OK) return true;
    if (why) *why = FError[0] ? FError : curl_easy_strerror(code);
    return false;
  }

 private:
  CURL* FCurl = nullptr;
  curl_slist* FList = nullptr;
  char FError[CURL_ERROR_SIZE] = {};
};

struct TSource {
  const std::string* text;
  size_t at = 0;
};

size_t ReadSource(char* buffer, size_t size, size_t count, void* user) {
  TSource& s = *static_cast<TSource*>(user);
  const size_t n = std::min(size * count, s.text->size() - s.at);
  std::memcpy(buffer, s.text->data() + s.at, n);
  s.at += n;
  return n;
}

size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

}  // namespace

bool SendMail(const RSmtpServer& server, const std::string& from, const std::string& to, const std::string& message,
              std::string* why) {
  TCurl curl;
  CURL* c = curl.get();
  if (!c) {
    if (why) *why = "libcurl could not start";
    return false;
  }
  curl_easy_setopt(c, CURLOPT_URL, server.mUrl.c_str());
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
  // A password never crosses the network in clear: a server that offers no STARTTLS (or an
  // attacker who strips the offer) gets no login.
  const bool tls = server.mRequireTls || !server.mUser.empty();
  curl_easy_setopt(c, CURLOPT_USE_SSL, static_cast<long>(tls ? CURLUSESSL_ALL : CURLUSESSL_TRY));
  if (!server.mUser.empty()) {
    curl_easy_setopt(c, CURLOPT_USERNAME, server.mUser.c_str());
    curl_easy_setopt(c, CURLOPT_PASSWORD, server.mPassword.c_str());
  }
  const std::string sender = "<" + from + ">";
  curl_easy_setopt(c, CURLOPT_MAIL_FROM, sender.c_str());
  curl_easy_setopt(c, CURLOPT_MAIL_RCPT, curl.Append("<" + to + ">"));
  TSource source{&message};
  curl_easy_setopt(c, CURLOPT_READFUNCTION, &ReadSource);
  curl_easy_setopt(c, CURLOPT_READDATA, &source);
  curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(message.size()));
  curl_easy_setopt(c, CURLOPT_TIMEOUT, static_cast<long>(server.mTimeoutS));
  return curl.Perform(why);
}

bool PostJson(const std::string& url, const std::string& json, std::string* why, int timeoutS) {
  TCurl curl;
  CURL* c = curl.get();
  if (!c) {
    if (why) *why = "libcurl could not start";
    return false;
  }
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, curl.Append("Content-Type: application/json"));
  curl_easy_setopt(c, CURLOPT_POSTFIELDS, json.c_str());
  curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(json.size()));
  curl_easy_setopt(c, CURLOPT_USERAGENT, "BeamDock notices");
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &Discard);
  curl_easy_setopt(c, CURLOPT_TIMEOUT, static_cast<long>(timeoutS));
  if (!curl.Perform(why)) return false;
  long status = 0;
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
  if (status >= 200 && status < 300) return true;
  if (why) *why = "the hook answered HTTP " + std::to_string(status);
  return false;
}
