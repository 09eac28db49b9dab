// The background push against a server that cannot be reached: requests made while a push runs
// fold into one more push, and the end waits for the running push but starts none.
#include "app/ServiceRecords.h"
#include "app/SitePusher.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace {

const char* const kDeadServer = "host=/nonexistent port=1 dbname=x connect_timeout=1";

struct RReport {
  int64_t waiting;
  std::string failure;
};

TEST(SitePusher, FoldsRequestsWhileAPushRunsAndStartsNoneAtItsEnd) {
  TempDir dir;
  const std::string store = dir.path() + "BEAMDOCK.DB";
  RServiceRecord r;
  r.mTime = "2026-03-07T14:03:27Z";
  r.mSerial = "KV1";
  r.mOperation = "Send Bump Pass";
  r.mResult = "PASS";
  ASSERT_EQ(CommitRecordTo(store, r), TRecordFate::Stored);

  for (const bool endWhileHeld : {false, true}) {
    SCOPED_TRACE(endWhileHeld ? "ended while a push runs" : "ended idle");
    std::mutex mutex;
    std::vector<RReport> reports;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::promise<void> firstReport;
    auto pusher = std::make_unique<TSitePusher>([&](int64_t waiting, const std::string& failure) {
      bool first = false;
      {
        const std::lock_guard<std::mutex> lock(mutex);
        reports.push_back({waiting, failure});
        first = reports.size() == 1;
      }
      if (first) {
        firstReport.set_value();
        released.wait();  // the first push is still running while the test asks again
      }
    });
    pusher->Request(kDeadServer, store);
    firstReport.get_future().wait();
    for (int i = 0; i < 5; ++i) pusher->Request(kDeadServer, store);
    if (endWhileHeld) {
      // The end begins while the push is held: it waits for it and drops the request.
      std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        release.set_value();
      });
      pusher.reset();
      releaser.join();
    } else {
      release.set_value();
      for (int i = 0; i < 400; ++i) {
        {
          const std::lock_guard<std::mutex> lock(mutex);
          if (reports.size() >= 2) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      pusher.reset();
    }
    const std::lock_guard<std::mutex> lock(mutex);
    ASSERT_EQ(reports.size(), endWhileHeld ? 1u : 2u);
    for (const RReport& report : reports) {
      EXPECT_EQ(report.waiting, 1);  // kept for the next push
      EXPECT_NE(report.failure.find("cannot be reached"), std::string::npos) << report.failure;
    }
  }
}

}  // namespace
