// Mail and web hooks through libcurl, behind one small face: one message to one address, one
// POST of JSON to one hook. Each call says whether it was delivered and, when not, why.
#pragma once

#include <string>

struct RSmtpServer {
  std::string mUrl;  // smtp://host:port (STARTTLS when offered) or smtps://host:port
  bool mRequireTls = false;
  std::string mUser, mPassword;  // no login when mUser is empty; a login is sent over TLS only
  int mTimeoutS = 60;
};

// Sends message (headers and body, lines ending in CR LF) from one address to one; false,
// with the server's or the connection's reason, when it was not taken.
bool SendMail(const RSmtpServer& server, const std::string& from, const std::string& to, const std::string& message,
              std::string* why);

// POSTs json to url (http or https); delivered when the hook answers 2xx.
bool PostJson(const std::string& url, const std::string& json, std::string* why, int timeoutS = 30);
