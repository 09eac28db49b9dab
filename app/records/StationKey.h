// A station's seal: the Ed25519 key pair that signs every record of one records store, and the
// note of the last record the station wrote, both kept beside the store and outside it, so that
// neither an edited record nor a database file swapped for an older copy passes a check.
//
// What a local key cannot stop: whoever can read this account's key file can sign records as
// this station. A site server that holds every station's records removes that.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

class EStationKey : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The station's private key is gone while its records remain.
class EStationKeyMissing : public EStationKey {
 public:
  using EStationKey::EStationKey;
};

class TStationKey {
 public:
  // The key beside storePath (storePath + ".key", 0600, and its public half ".pub"). Made only
  // when mayCreate (a station that has sealed nothing yet); otherwise a missing key throws
  // EStationKeyMissing. Throws EStationKey.
  static TStationKey Open(const std::string& storePath, bool mayCreate);
  // The public half only: from storePath + ".pub", else from the private key file.
  static std::optional<TStationKey> PublicOf(const std::string& storePath);
  // A public key in PEM text. Throws EStationKey when it is no Ed25519 key.
  static TStationKey FromPublicPem(const std::string& pem);
  // A raw 32-byte public key in hexadecimal (as a site server keeps it). Throws EStationKey.
  static TStationKey FromPublicHex(const std::string& hex);

  TStationKey(TStationKey&&) noexcept;
  TStationKey& operator=(TStationKey&&) noexcept;
  ~TStationKey();

  // The station id: the first 16 hexadecimal digits of the public key's SHA-256.
  const std::string& Id() const { return FId; }
  std::string PublicPem() const;
  // The raw 32-byte public key, lower-case hexadecimal.
  const std::string& PublicHex() const { return FPublicHex; }
  // Hexadecimal signature of text; throws EStationKey without the private half.
  std::string Sign(const std::string& text) const;
  // The public half beside storePath, made when missing and never replaced (a public half
  // that is not this key's fails every check of what the key sealed).
  void KeepPublicHalf(const std::string& storePath) const;
  bool Check(const std::string& text, const std::string& signatureHex) const;

 private:
  struct TKey;
  explicit TStationKey(TKey* key);
  std::unique_ptr<TKey> FKey;
  std::string FId;
  std::string FPublicHex;
};

// The last record the station wrote: sequence and digest, in storePath + ".seal" (the newer
// of its two slots).
struct RSealNote {
  int64_t mSeq = 0;
  std::string mDigest;
};
std::optional<RSealNote> ReadSealNote(const std::string& storePath);
// A crash leaves the old note or the new one: the older slot is overwritten in place and
// flushed, or a note without slots is replaced by a whole new file. Throws EStationKey.
void WriteSealNote(const std::string& storePath, const RSealNote& note);

// An exclusive lock of the station (storePath + ".lock") for as long as it lives: one writer
// at a time makes the key, brings the schema up to date and appends. Throws EStationKey.
class TStationLock {
 public:
  explicit TStationLock(const std::string& storePath);
  ~TStationLock();
  TStationLock(const TStationLock&) = delete;
  TStationLock& operator=(const TStationLock&) = delete;

 private:
  int FFd = -1;
};

std::string Sha256Hex(const std::string& text);
std::string HexOf(const uint8_t* data, size_t size);
// The bytes of lower-case hexadecimal text; empty when it is not that.
std::vector<uint8_t> BytesOfHex(const std::string& hex);
