// Pushes the store's records to the site server in the background, so that no operation
// waits on a server that is slow or down.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class TSitePusher {
 public:
  // Called on the pusher's own thread after each push: the records that still wait, and why
  // the push failed (empty when it did not).
  using TReport = std::function<void(int64_t waiting, const std::string& failure)>;

  explicit TSitePusher(TReport report);
  // Waits for the push that runs (a dead server costs its connect time-out); starts no other.
  ~TSitePusher();
  TSitePusher(const TSitePusher&) = delete;
  TSitePusher& operator=(const TSitePusher&) = delete;

  // Returns at once. A request while a push runs makes one more push after it, however many
  // requests came meanwhile; it takes the newest server and store.
  void Request(const std::string& server, const std::string& storePath);
  // Request with the settings' server and this station's store; nothing when no server is set.
  void RequestFromSettings();

 private:
  void Run();

  TReport FReport;
  std::mutex FMutex;
  std::condition_variable FWake;
  bool FPending = false;
  bool FStop = false;
  std::string FServer;
  std::string FStorePath;
  std::thread FThread;  // started by the first request
};
