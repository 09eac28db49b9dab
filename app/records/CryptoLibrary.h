// The cryptographic library, opened the first time something is sealed, verified or hashed: a
// terminal command that does none of that starts without it (mapping and binding it is about a
// millisecond, a third of a light command's start).
#pragma once

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

// Each function the records use, with the type its header gives it.
#define BEAMDOCK_CRYPTO_FUNCTIONS(X)                                                                      \
  X(BIO_ctrl) X(BIO_free) X(BIO_new) X(BIO_new_mem_buf) X(BIO_s_mem) X(EVP_Digest) X(EVP_DigestSign)      \
  X(EVP_DigestSignInit) X(EVP_DigestVerify) X(EVP_DigestVerifyInit) X(EVP_MD_CTX_free) X(EVP_MD_CTX_new)  \
  X(EVP_PKEY_Q_keygen) X(EVP_PKEY_free) X(EVP_PKEY_get_id) X(EVP_PKEY_get_raw_private_key)                \
  X(EVP_PKEY_get_raw_public_key) X(EVP_PKEY_new_raw_private_key) X(EVP_PKEY_new_raw_public_key)           \
  X(EVP_sha256) X(OPENSSL_atexit) X(OPENSSL_init_crypto) X(OPENSSL_thread_stop) X(PEM_read_bio_PUBKEY)    \
  X(PEM_read_bio_PrivateKey) X(PEM_write_bio_PUBKEY) X(PEM_write_bio_PrivateKey)

struct RCryptoLibrary {
#define BEAMDOCK_CRYPTO_MEMBER(name) decltype(&::name) name = nullptr;
  BEAMDOCK_CRYPTO_FUNCTIONS(BEAMDOCK_CRYPTO_MEMBER)
#undef BEAMDOCK_CRYPTO_MEMBER
};

// The library, opened on the first call. Throws EStationKey when it cannot be opened (a record
// then waits unsealed in the outbox, as for any other fault of its seal).
const RCryptoLibrary& Crypto();
// What the library keeps for the calling thread, let go (nothing when it was never opened): a
// thread that outlives its work must not hold it into the library's teardown.
void CryptoThreadStop();
// end runs at the exit, and before the library's teardown whenever the library is opened; it
// must be safe to run twice.
void AtExitBeforeCrypto(void (*end)());
