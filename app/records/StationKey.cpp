#include "app/records/StationKey.h"

#include "app/records/CryptoLibrary.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <vector>

struct TStationKey::TKey {
  EVP_PKEY* mKey = nullptr;
  bool mPrivate = false;
  ~TKey() {
    if (mKey) Crypto().EVP_PKEY_free(mKey);
  }
};

namespace {

[[noreturn]] void Fail(const std::string& what) { throw EStationKey(what); }

std::string SysError(const std::string& path) { return path + ": " + std::strerror(errno); }

std::optional<std::string> ReadWhole(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string text;
  char chunk[4096];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n > 0) {
      text.append(chunk, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      const bool ok = n == 0;
      ::close(fd);
      if (!ok) return std::nullopt;
      return text;
    }
  }
}

// Written to a temporary file, flushed, then moved in place: a crash leaves the old file or the
// new one. With keep, an existing file is never replaced (a second writer's key loses).
void WriteFileAtomically(const std::string& path, const std::string& text, mode_t mode, bool keep) {
  const std::string temp = path + ".tmp" + std::to_string(::getpid());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) Fail(SysError(temp));
  bool ok = ::fchmod(fd, mode) == 0;
  for (size_t done = 0; ok && done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n <= 0 && errno != EINTR) ok = false;
    if (n > 0) done += static_cast<size_t>(n);
  }
  ok = ok && ::fsync(fd) == 0;
  const int saved = errno;
  ::close(fd);
  if (ok) ok = keep ? (::link(temp.c_str(), path.c_str()) == 0 || errno == EEXIST) : ::rename(temp.c_str(), path.c_str()) == 0;
  const int why = ok ? 0 : (errno ? errno : saved);
  if (keep || !ok) ::unlink(temp.c_str());  // a rename leaves no temporary behind
  if (!ok) {
    errno = why;
    Fail(SysError(path));
  }
}

EVP_PKEY* ReadPem(const std::string& pem, bool privateKey) {
  const RCryptoLibrary& c = Crypto();
  BIO* bio = c.BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  if (!bio) return nullptr;
  EVP_PKEY* key = privateKey ? c.PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr)
                             : c.PEM_read_bio_PUBKEY(bio, nullptr, nullptr, nullptr);
  c.BIO_free(bio);
  if (key && c.EVP_PKEY_get_id(key) != EVP_PKEY_ED25519) {
    c.EVP_PKEY_free(key);
    return nullptr;
  }
  return key;
}

std::string PemOf(EVP_PKEY* key, bool privateKey) {
  const RCryptoLibrary& c = Crypto();
  BIO* bio = c.BIO_new(c.BIO_s_mem());
  if (!bio) Fail("out of memory");
  const int ok = privateKey ? c.PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr)
                            : c.PEM_write_bio_PUBKEY(bio, key);
  char* data = nullptr;
  const long size = c.BIO_ctrl(bio, BIO_CTRL_INFO, 0, &data);
  std::string text = ok == 1 && size > 0 ? std::string(data, static_cast<size_t>(size)) : std::string();
  c.BIO_free(bio);
  if (text.empty()) Fail("the station key could not be written as PEM");
  return text;
}

// The private key file holds the raw 32-byte key in hexadecimal behind a name: read on every
// record, and a PEM decoder costs a millisecond of CPU where this costs microseconds.
constexpr const char* kPrivateTag = "ED25519-PRIVATE-KEY ";

std::string RawPrivateText(EVP_PKEY* key) {
  uint8_t raw[32];
  size_t size = sizeof raw;
  if (Crypto().EVP_PKEY_get_raw_private_key(key, raw, &size) != 1 || size != 32) Fail("the station key cannot be written");
  std::string hex;
  static const char digits[] = "0123456789abcdef";
  for (uint8_t b : raw) hex += digits[b >> 4], hex += digits[b & 15];
  return kPrivateTag + hex + "\n";
}

EVP_PKEY* ReadPrivate(const std::string& text) {
  if (text.rfind(kPrivateTag, 0) != 0) return ReadPem(text, true);
  const std::vector<uint8_t> raw = BytesOfHex(text.substr(std::strlen(kPrivateTag), 64));
  if (raw.size() != 32) return nullptr;
  return Crypto().EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, raw.data(), raw.size());
}


}  // namespace

std::string HexOf(const uint8_t* p, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(n * 2);
  for (size_t i = 0; i < n; ++i) {
    out += digits[p[i] >> 4];
    out += digits[p[i] & 15];
  }
  return out;
}

std::vector<uint8_t> BytesOfHex(const std::string& hex) {
  std::vector<uint8_t> out;
  if (hex.size() % 2) return out;
  for (size_t i = 0; i < hex.size(); i += 2) {
    unsigned v = 0;
    for (size_t j = i; j < i + 2; ++j) {
      const char c = hex[j];
      const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
      if (d < 0) return {};
      v = v * 16 + static_cast<unsigned>(d);
    }
    out.push_back(static_cast<uint8_t>(v));
  }
  return out;
}

std::string Sha256Hex(const std::string& text) {
  const RCryptoLibrary& c = Crypto();
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (c.EVP_Digest(text.data(), text.size(), md, &size, c.EVP_sha256(), nullptr) != 1) Fail("SHA-256 is not available");
  return HexOf(md, size);
}

namespace {

std::string RawPublic(EVP_PKEY* key) {
  uint8_t raw[64];
  size_t size = sizeof raw;
  if (Crypto().EVP_PKEY_get_raw_public_key(key, raw, &size) != 1) Fail("the station key has no public half");
  return std::string(reinterpret_cast<const char*>(raw), size);
}

}  // namespace

TStationKey::TStationKey(TKey* key) : FKey(key) {
  const std::string raw = RawPublic(FKey->mKey);
  FId = Sha256Hex(raw).substr(0, 16);
  FPublicHex = HexOf(reinterpret_cast<const uint8_t*>(raw.data()), raw.size());
}
TStationKey::TStationKey(TStationKey&&) noexcept = default;
TStationKey& TStationKey::operator=(TStationKey&&) noexcept = default;
TStationKey::~TStationKey() = default;

TStationKey TStationKey::Open(const std::string& storePath, bool mayCreate) {
  const std::string path = storePath + ".key";
  std::optional<std::string> pem = ReadWhole(path);
  if (!pem) {
    if (errno != ENOENT) Fail(SysError(path));
    // A key that was there and is gone is never replaced: a new key would make every record
    // sealed before it unverifiable, and would let whoever deleted the key start afresh unseen.
    if (!mayCreate) throw EStationKeyMissing(path + " is missing");
    EVP_PKEY* made = Crypto().EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519");
    if (!made) Fail("no Ed25519 key could be made");
    TKey holder{made, true};
    WriteFileAtomically(path, RawPrivateText(made), 0600, true);
    holder.mKey = nullptr;
    Crypto().EVP_PKEY_free(made);
    pem = ReadWhole(path);  // a writer that came first keeps its key
    if (!pem) Fail(SysError(path));
  }
  auto* key = new TKey{ReadPrivate(*pem), true};
  if (!key->mKey) {
    delete key;
    Fail(path + ": not an Ed25519 private key");
  }
  TStationKey station(key);
  station.KeepPublicHalf(storePath);  // for readers that may not read the key
  return station;
}

void TStationKey::KeepPublicHalf(const std::string& storePath) const {
  if (::access((storePath + ".pub").c_str(), F_OK) != 0)
    WriteFileAtomically(storePath + ".pub", PublicPem(), 0644, true);
}

std::optional<TStationKey> TStationKey::PublicOf(const std::string& storePath) {
  if (const std::optional<std::string> pem = ReadWhole(storePath + ".pub")) return FromPublicPem(*pem);
  if (const std::optional<std::string> pem = ReadWhole(storePath + ".key")) {
    auto* key = new TKey{ReadPrivate(*pem), true};
    if (key->mKey) return TStationKey(key);
    delete key;
  }
  return std::nullopt;
}

TStationKey TStationKey::FromPublicHex(const std::string& hex) {
  const std::vector<uint8_t> raw = BytesOfHex(hex);
  auto* key = new TKey{raw.size() == 32 ? Crypto().EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, raw.data(), raw.size())
                                        : nullptr,
                       false};
  if (!key->mKey) {
    delete key;
    Fail("not an Ed25519 public key");
  }
  return TStationKey(key);
}

TStationKey TStationKey::FromPublicPem(const std::string& pem) {
  auto* key = new TKey{ReadPem(pem, false), false};
  if (!key->mKey) {
    delete key;
    Fail("not an Ed25519 public key");
  }
  return TStationKey(key);
}

std::string TStationKey::PublicPem() const { return PemOf(FKey->mKey, false); }

std::string TStationKey::Sign(const std::string& text) const {
  const RCryptoLibrary& c = Crypto();
  if (!FKey->mPrivate) Fail("this station key has no private half");
  EVP_MD_CTX* ctx = c.EVP_MD_CTX_new();
  uint8_t sig[64];
  size_t size = sizeof sig;
  const bool ok = ctx && c.EVP_DigestSignInit(ctx, nullptr, nullptr, nullptr, FKey->mKey) == 1 &&
                  c.EVP_DigestSign(ctx, sig, &size, reinterpret_cast<const uint8_t*>(text.data()), text.size()) == 1;
  c.EVP_MD_CTX_free(ctx);
  if (!ok) Fail("the record could not be signed");
  return HexOf(sig, size);
}

bool TStationKey::Check(const std::string& text, const std::string& signatureHex) const {
  const RCryptoLibrary& c = Crypto();
  const std::vector<uint8_t> sig = BytesOfHex(signatureHex);
  if (sig.size() != 64) return false;
  EVP_MD_CTX* ctx = c.EVP_MD_CTX_new();
  const bool ok = ctx && c.EVP_DigestVerifyInit(ctx, nullptr, nullptr, nullptr, FKey->mKey) == 1 &&
                  c.EVP_DigestVerify(ctx, sig.data(), sig.size(), reinterpret_cast<const uint8_t*>(text.data()),
                                   text.size()) == 1;
  c.EVP_MD_CTX_free(ctx);
  return ok;
}

namespace {

// The note keeps two slots, each in a disk sector of its own: a new note overwrites the older
// slot in place, so a write cut short (a power failure, a reader looking meanwhile) spoils at
// most that slot, and its check tells it; the other still names a record the station wrote.
// In place, the note costs one flush of a block instead of a new file and a rename.
constexpr size_t kSlotSize = 512;

// Tells a slot written whole from one cut short (64-bit FNV-1a); the slot is no secret.
std::string SlotCheck(int64_t seq, const std::string& digest) {
  uint64_t h = 0xcbf29ce484222325ULL;
  for (const char c : std::to_string(seq) + " " + digest) h = (h ^ static_cast<uint8_t>(c)) * 0x100000001b3ULL;
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
  return hex;
}

std::string SlotText(const RSealNote& note) {
  std::string slot = std::to_string(note.mSeq) + " " + note.mDigest + " " + SlotCheck(note.mSeq, note.mDigest) + "\n";
  slot.resize(kSlotSize, '\n');
  return slot;
}

// "seq digest", and with `checked` the check after them: a slot whose check fails is one that
// was being written.
std::optional<RSealNote> ParseNote(const std::string& text, bool checked) {
  std::istringstream in(text);
  RSealNote note;
  std::string check;
  if (!(in >> note.mSeq >> note.mDigest) || note.mSeq < 0) return std::nullopt;
  if (checked && (!(in >> check) || check != SlotCheck(note.mSeq, note.mDigest))) return std::nullopt;
  return note;
}

std::optional<RSealNote> SlotNote(const std::string& text, size_t slot) {
  return ParseNote(text.substr(slot * kSlotSize, kSlotSize), true);
}

// The newer of the two slots; the index of the slot to write next (the other one) in *older.
std::optional<RSealNote> NewerSlot(const std::string& text, size_t* older = nullptr) {
  const std::optional<RSealNote> a = SlotNote(text, 0), b = SlotNote(text, 1);
  const bool first = a && (!b || a->mSeq >= b->mSeq);
  if (older) *older = first ? 1 : 0;
  return first ? a : b;
}

}  // namespace

std::optional<RSealNote> ReadSealNote(const std::string& storePath) {
  const std::optional<std::string> text = ReadWhole(storePath + ".seal");
  if (!text) return std::nullopt;
  // A note shorter than its slots is one line, as stations wrote it before the slots.
  const std::optional<RSealNote> note = text->size() >= 2 * kSlotSize ? NewerSlot(*text) : ParseNote(*text, false);
  return note ? *note : RSealNote{-1, ""};  // -1: unreadable
}

void WriteSealNote(const std::string& storePath, const RSealNote& note) {
  const std::string path = storePath + ".seal";
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (fd >= 0) {
    char both[2 * kSlotSize + 1];  // one byte more tells a longer file
    size_t older = 0;
    const bool slotted = ::pread(fd, both, sizeof both, 0) == static_cast<ssize_t>(2 * kSlotSize) &&
                         NewerSlot(std::string(both, 2 * kSlotSize), &older);
    if (slotted) {
      const std::string slot = SlotText(note);
      const bool ok = ::pwrite(fd, slot.data(), slot.size(), static_cast<off_t>(older * kSlotSize)) ==
                          static_cast<ssize_t>(slot.size()) &&
                      ::fdatasync(fd) == 0;
      const int why = errno;
      ::close(fd);
      if (ok) return;
      errno = why;
      Fail(SysError(path));
    }
    ::close(fd);
  }
  // No note yet, one of a line, or one that cannot be read: a whole new file, both slots alike.
  WriteFileAtomically(path, SlotText(note) + SlotText(note), 0644, false);
}

TStationLock::TStationLock(const std::string& storePath) {
  const std::string path = storePath + ".lock";
  FFd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (FFd < 0) Fail(SysError(path));
  while (::flock(FFd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      const std::string why = SysError(path);
      ::close(FFd);
      Fail(why);
    }
  }
}

TStationLock::~TStationLock() {
  if (FFd >= 0) ::close(FFd);
}
