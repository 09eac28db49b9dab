// The station held open between records, and the records worker: the store and key are opened
// while a detector is talked to, and a record is sealed and flushed while the connection's end
// goes out, so neither the detector nor the operator waits for the disk twice.
#include "app/records/HeldStation.h"

#include "app/records/CryptoLibrary.h"

#include "app/core/Settings.h"

#include <array>
#include <atomic>
#include <cstdlib>
#include <pthread.h>
#include <condition_variable>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <future>
#include <optional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// A file kept open so that it is used again only while its path still names that very file:
// the descriptor keeps the inode alive, so its number cannot pass to another file meanwhile.
class THeldFile {
 public:
  THeldFile() = default;
  THeldFile(const THeldFile&) = delete;
  THeldFile& operator=(const THeldFile&) = delete;
  ~THeldFile() { Close(); }

  void Hold(const std::string& path) {
    Close();
    FFd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (FFd >= 0 && ::fstat(FFd, &FSeen) != 0) Close();
  }
  void Close() {
    if (FFd >= 0) ::close(FFd);
    FFd = -1;
  }
  // What the file is now counts as unwritten from here on.
  void Restamp() {
    if (FFd >= 0 && ::fstat(FFd, &FSeen) != 0) Close();
  }
  // path names the held file, which is not deleted; unwritten: nor has it been written since.
  bool Names(const std::string& path, bool unwritten) const {
    struct stat held {}, named {};
    if (FFd < 0 || ::fstat(FFd, &held) != 0 || held.st_nlink == 0 || ::stat(path.c_str(), &named) != 0) return false;
    if (held.st_dev != named.st_dev || held.st_ino != named.st_ino) return false;
    return !unwritten || (held.st_size == FSeen.st_size && held.st_mtim.tv_sec == FSeen.st_mtim.tv_sec &&
                          held.st_mtim.tv_nsec == FSeen.st_mtim.tv_nsec && held.st_ctim.tv_sec == FSeen.st_ctim.tv_sec &&
                          held.st_ctim.tv_nsec == FSeen.st_ctim.tv_nsec);
  }

 private:
  int FFd = -1;
  struct stat FSeen {};
};

constexpr std::array<const char*, 3> kStoreFiles = {"", "-wal", "-shm"};

struct RHeldStation {
  std::string mStorePath;
  std::optional<TRecordStore> mStore;
  std::array<THeldFile, kStoreFiles.size()> mStoreFiles;  // the store, its log, the log's index
  std::string mKeyPath;
  std::optional<TStationKey> mKey;
  THeldFile mKeyFile;

  // The store's file as this program left it: only then is its log copied into it.
  bool Untouched() const {
    if (!mStore) return false;
    for (size_t i = 0; i < kStoreFiles.size(); ++i)
      if (!mStoreFiles[i].Names(mStorePath + kStoreFiles[i], i == 0)) return false;
    return true;
  }
  void CloseStore() {
    if (mStore && !Untouched()) mStore->LeaveLogOnClose();
    mStore.reset();
    for (THeldFile& f : mStoreFiles) f.Close();
  }
  ~RHeldStation() { CloseStore(); }
};

// One thread, jobs in the order given; started on first use, drained and joined at exit. Once
// it has had nothing to do for a moment it runs the idle work asked for since.
class TRecordsWorker {
 public:
  explicit TRecordsWorker(std::function<void()> idle) : FIdle(std::move(idle)) {}
  ~TRecordsWorker() {
    {
      std::lock_guard<std::mutex> g(FMutex);
      FStop = true;
    }
    FWake.notify_all();
    if (FThread.joinable()) FThread.join();
  }
  void Post(std::function<void()> job) {
    std::lock_guard<std::mutex> g(FMutex);
    FJobs.push_back(std::move(job));
    Start();
  }
  void AskIdleWork() {
    std::lock_guard<std::mutex> g(FMutex);
    FIdleDue = true;
    Start();
  }

 private:
  static constexpr auto kIdleAfter = std::chrono::milliseconds(200);
  void Start() {
    if (!FThread.joinable()) FThread = std::thread([this] { Run(); });
    FWake.notify_one();
  }
  void Run() {
    std::unique_lock<std::mutex> lock(FMutex);
    for (;;) {
      const auto woken = [this] { return FStop || !FJobs.empty(); };
      if (FJobs.empty() && !FStop && FIdleDue && !FWake.wait_for(lock, kIdleAfter, woken)) {
        FIdleDue = false;
        lock.unlock();
        FIdle();
        lock.lock();
        continue;
      }
      FWake.wait(lock, [&] { return woken() || FIdleDue; });
      if (FJobs.empty()) {
        if (FStop) return;  // what the idle work would do, closing the store does
        continue;
      }
      std::function<void()> job = std::move(FJobs.front());
      FJobs.pop_front();
      lock.unlock();
      job();
      // What the cryptographic library keeps for this thread goes with each job: at the exit
      // the library is torn down before this thread ends, and would leave it behind.
      CryptoThreadStop();
      lock.lock();
    }
  }
  std::function<void()> FIdle;
  std::mutex FMutex;
  std::condition_variable FWake;
  std::deque<std::function<void()>> FJobs;
  bool FIdleDue = false;
  bool FStop = false;
  std::thread FThread;
};

void Settle();

// The worker is destroyed first (it is declared last): its jobs finish before the station closes.
struct RRecordsRuntime {
  std::mutex mStationMutex;
  RHeldStation mStation;
  TRecordsWorker mWorker{Settle};
};

// One per process. A child made by fork() abandons its parent's (never closing the store the
// parent still writes, nor waiting for a worker thread it does not have) and makes its own.
std::atomic<RRecordsRuntime*> gRuntime{nullptr};
RRecordsRuntime* gAbandoned = nullptr;  // the parent's, kept (not freed, not closed) in the child

void AbandonAfterFork() { gAbandoned = gRuntime.exchange(nullptr); }
// Still named while it ends: its worker's last work uses the station it holds.
void EndRuntime() {
  if (RRecordsRuntime* runtime = gRuntime.load()) {
    delete runtime;
    gRuntime.store(nullptr);
  }
}

RRecordsRuntime& Runtime() {
  static const bool hooked = [] {
    pthread_atfork(nullptr, nullptr, AbandonAfterFork);
    // The runtime ends at the exit, before the cryptographic library does (the station's key
    // freed, the worker's thread gone).
    AtExitBeforeCrypto(EndRuntime);
    return true;
  }();
  (void)hooked;
  RRecordsRuntime* runtime = gRuntime.load();
  if (runtime) return *runtime;
  auto* made = new RRecordsRuntime;
  if (gRuntime.compare_exchange_strong(runtime, made)) return *made;
  delete made;
  return *runtime;
}

// The held store's log copied into its file, while that file is still the one held.
void Settle() {
  const THeldStationLock lock;
  RHeldStation& h = Runtime().mStation;
  if (h.Untouched()) h.mStore->Checkpoint();
}

}  // namespace

void SettleWhenIdle() { Runtime().mWorker.AskIdleWork(); }

void SettleRecords() {
  std::promise<void> drained;
  Runtime().mWorker.Post([&drained] { drained.set_value(); });
  drained.get_future().wait();
  Settle();
}

THeldStationLock::THeldStationLock() : FLock(Runtime().mStationMutex) {}

// The store as this use leaves it: a change found by the next use was made by someone else.
THeldStationLock::~THeldStationLock() { Runtime().mStation.mStoreFiles[0].Restamp(); }

TRecordStore& HeldStore(const std::string& path) {
  RHeldStation& h = Runtime().mStation;
  bool same = h.mStore && h.mStorePath == path;
  for (size_t i = 0; same && i < kStoreFiles.size(); ++i) same = h.mStoreFiles[i].Names(path + kStoreFiles[i], false);
  if (same) {
    // Written by another program since (a copy laid over it, say): read it as a fresh open
    // would, not from the pages read before. Writers through the log are seen by the log.
    if (!h.mStoreFiles[0].Names(path, true)) h.mStore->ForgetPages();
    return *h.mStore;
  }
  h.CloseStore();
  h.mStorePath = path;
  h.mStore.emplace(path, TRecordStore::TMode::Write);
  for (size_t i = 0; i < kStoreFiles.size(); ++i) h.mStoreFiles[i].Hold(path + kStoreFiles[i]);
  return *h.mStore;
}

const TStationKey& HeldKey(const std::string& path, bool mayCreate) {
  RHeldStation& h = Runtime().mStation;
  if (h.mKey && h.mKeyPath == path && h.mKeyFile.Names(path + ".key", true)) {
    h.mKey->KeepPublicHalf(path);
    return *h.mKey;
  }
  h.mKey.reset();
  h.mKeyFile.Close();
  TStationKey key = TStationKey::Open(path, mayCreate);
  h.mKeyFile.Hold(path + ".key");
  h.mKeyPath = path;
  return h.mKey.emplace(std::move(key));
}

void PrepareRecords(const std::string& path) {
  if (path.empty()) return;
  Runtime().mWorker.Post([path] {
    // Only what exists is opened: a store or key is made by the first record, not by a look.
    try {
      const THeldStationLock lock;
      if (::access(path.c_str(), F_OK) == 0) HeldStore(path);
      if (::access((path + ".key").c_str(), F_OK) == 0) HeldKey(path, false);
    } catch (...) {
      // The record itself meets the same fault and says what it is.
    }
  });
}

TPendingRecord CommitRecordLater(const std::string& path, RServiceRecord record) {
  std::vector<RServiceRecord> records{std::move(record)};
  auto done = std::make_shared<std::promise<std::pair<TRecordFate, std::string>>>();
  TPendingRecord pending(path, done->get_future());
  Runtime().mWorker.Post([path, appDir = AppDir, records = std::move(records), done]() mutable {
    std::string why;
    TRecordFate fate = TRecordFate::Lost;
    try {
      CompleteRecords(records, appDir);
      fate = StoreRecords(path, records, &why);
    } catch (const std::exception& e) {
      why = e.what();
    }
    CryptoThreadStop();  // before the caller, who may end the program, hears of it
    done->set_value({fate, why});
  });
  return pending;
}

TRecordFate TPendingRecord::Wait(std::string* why) {
  if (!FFate.valid()) return TRecordFate::NotRecorded;
  const auto [fate, reason] = FFate.get();
  if (why) *why = reason;
  return fate;
}
