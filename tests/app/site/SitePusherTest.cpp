// The background push against a server that cannot be reached: requests made while a push runs
// fold into one more push, and the end waits for the running push but starts no other.
#include "app/records/ServiceRecords.h"
#include "app/site/SitePusher.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

TEST(SitePusher, FoldsRequestsWhileAPushRunsAndStartsNoneAtItsEnd) {
  TempDir dir;
  const std::string store = dir.path() + "BEAMDOCK.DB", server = "host=/nonexistent port=1 dbname=x";
  ASSERT_EQ(CommitRecordTo(store, RServiceRecord{}), TRecordFate::Stored);
  // Each report holds its push until the test lets it go.
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> failures;
  size_t released = 0;
  auto pusher = std::make_unique<TSitePusher>([&](int64_t waiting, const std::string& failure) {
    std::unique_lock<std::mutex> lock(mutex);
    failures.push_back(waiting == 1 ? failure : "waiting " + std::to_string(waiting));
    changed.notify_all();
    changed.wait(lock, [&, mine = failures.size()] { return released >= mine; });
  });
  const auto heldAt = [&](size_t n) {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return failures.size() == n; });
  };
  const auto release = [&](size_t n) {
    const std::lock_guard<std::mutex> lock(mutex);
    released = n;
    changed.notify_all();
  };
  pusher->Request(server, store);
  heldAt(1);
  for (int i = 0; i < 5; ++i) pusher->Request(server, store);
  release(1);
  heldAt(2);  // the five made one
  pusher->Request(server, store);
  std::thread late([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the end has begun meanwhile
    release(3);
  });
  pusher.reset();
  late.join();
  ASSERT_EQ(failures.size(), 2u);  // the request left at the end was dropped
  for (const std::string& failure : failures) EXPECT_NE(failure.find("cannot be reached"), std::string::npos) << failure;
}
