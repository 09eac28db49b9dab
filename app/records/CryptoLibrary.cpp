#include "app/records/CryptoLibrary.h"

#include "app/records/StationKey.h"

#include <dlfcn.h>
#include <openssl/opensslv.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

static_assert(OPENSSL_VERSION_MAJOR == 3, "the library is opened by the name of its version 3");

namespace {

constexpr const char* kLibraryName = "libcrypto.so.3";

struct ROpened {
  std::mutex mMutex;
  std::atomic<bool> mOpen{false};
  RCryptoLibrary mFunctions;
  std::string mWhy;  // why it could not be opened
  std::vector<void (*)()> mEnds;
};

ROpened& Opened() {
  static ROpened* opened = new ROpened;  // never freed: the library's own exit handlers may reach it
  return *opened;
}

std::string Open(RCryptoLibrary& f) {
  // Never closed: keys and contexts made from it live until the exit.
  void* handle = ::dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
  if (!handle) return std::string("the cryptographic library cannot be opened: ") + ::dlerror();
#define BEAMDOCK_CRYPTO_FIND(name)                                                               \
  f.name = reinterpret_cast<decltype(&::name)>(::dlsym(handle, #name));                         \
  if (!f.name) return std::string("the cryptographic library ") + kLibraryName + " has no " #name;
  BEAMDOCK_CRYPTO_FUNCTIONS(BEAMDOCK_CRYPTO_FIND)
#undef BEAMDOCK_CRYPTO_FIND
  if (f.OPENSSL_init_crypto(0, nullptr) != 1) return std::string("the cryptographic library cannot start");
  return "";
}

// end runs before the library's teardown: from the library's own exit handler, and from one
// registered after the library started (exit handlers run last first), so end normally runs
// while the library is still whole, not inside its cleanup. end runs once however often called.
void Hook(const RCryptoLibrary& f, void (*end)()) {
  f.OPENSSL_atexit(end);
  std::atexit(end);
}

}  // namespace

const RCryptoLibrary& Crypto() {
  ROpened& o = Opened();
  if (o.mOpen.load(std::memory_order_acquire)) return o.mFunctions;
  std::lock_guard<std::mutex> g(o.mMutex);
  if (!o.mOpen.load() && o.mWhy.empty()) {
    RCryptoLibrary f;
    o.mWhy = Open(f);
    if (o.mWhy.empty()) {
      o.mFunctions = f;
      for (void (*end)() : o.mEnds) Hook(f, end);
      o.mOpen.store(true, std::memory_order_release);
    }
  }
  if (!o.mOpen.load()) throw EStationKey(o.mWhy);
  return o.mFunctions;
}

void CryptoThreadStop() {
  ROpened& o = Opened();
  if (o.mOpen.load(std::memory_order_acquire)) o.mFunctions.OPENSSL_thread_stop();
}

void AtExitBeforeCrypto(void (*end)()) {
  ROpened& o = Opened();
  std::lock_guard<std::mutex> g(o.mMutex);
  o.mEnds.push_back(end);
  if (o.mOpen.load())
    Hook(o.mFunctions, end);
  else
    std::atexit(end);  // the library, opened later, hooks it again
}
