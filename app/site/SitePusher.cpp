#include "app/site/SitePusher.h"

#include "app/records/ServiceRecords.h"
#include "app/site/SiteServer.h"

#include <exception>
#include <utility>

TSitePusher::TSitePusher(TReport report) : FReport(std::move(report)) {}

TSitePusher::~TSitePusher() {
  {
    const std::lock_guard<std::mutex> lock(FMutex);
    FStop = true;
  }
  FWake.notify_all();
  if (FThread.joinable()) FThread.join();
}

void TSitePusher::Request(const std::string& server, const std::string& storePath) {
  {
    const std::lock_guard<std::mutex> lock(FMutex);
    if (FStop) return;
    FServer = server;
    FStorePath = storePath;
    FPending = true;
    if (!FThread.joinable()) FThread = std::thread([this] { Run(); });
  }
  FWake.notify_all();
}

void TSitePusher::Run() {
  for (;;) {
    std::string server, path;
    {
      std::unique_lock<std::mutex> lock(FMutex);
      FWake.wait(lock, [this] { return FPending || FStop; });
      if (FStop) return;
      FPending = false;
      server = FServer;
      path = FStorePath;
    }
    std::string failure;
    try {
      // Nothing waiting needs no connection, and so costs nothing when the server is down.
      if (WaitingRecords(path) > 0) PushStore(server, path);
    } catch (const std::exception& e) {
      failure = e.what();
    }
    int64_t waiting = 0;
    try {
      waiting = WaitingRecords(path);
    } catch (const std::exception& e) {
      if (failure.empty()) failure = e.what();
    }
    if (FReport) FReport(waiting, failure);
  }
}

void TSitePusher::RequestFromSettings() {
  const std::string server = SiteServerSetting();
  const std::string path = RecordsDatabasePath();
  if (!server.empty() && !path.empty()) Request(server, path);
}
