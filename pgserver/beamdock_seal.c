/* The site server's own check of a station's records, run inside the database server: the
 * insert function trusts no client, so it verifies the Ed25519 seal and splits the sealed text
 * into its fields itself. Both functions answer false or NULL for bad input instead of raising
 * an error, so the SQL that calls them decides what a refused record means. */
#include "postgres.h"

#include "catalog/pg_type.h"
#include "fmgr.h"
#include "mb/pg_wchar.h"
#include "utils/array.h"
#include "utils/builtins.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <string.h>

PG_MODULE_MAGIC;

PG_FUNCTION_INFO_V1(beamdock_ed25519_verify);
PG_FUNCTION_INFO_V1(beamdock_sealed_fields);

/* A sealed text larger than this, or with more fields, is no record of ours. */
#define SEALED_MAX_BYTES 1000000
#define SEALED_MAX_FIELDS 64

Datum beamdock_ed25519_verify(PG_FUNCTION_ARGS) {
  bytea* key = PG_GETARG_BYTEA_PP(0);
  bytea* message = PG_GETARG_BYTEA_PP(1);
  bytea* signature = PG_GETARG_BYTEA_PP(2);
  bool valid = false;

  /* Nothing between here and the frees can raise a server error, so nothing can leak. */
  if (VARSIZE_ANY_EXHDR(key) == 32 && VARSIZE_ANY_EXHDR(signature) == 64) {
    EVP_PKEY* pkey = EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, NULL, (const unsigned char*)VARDATA_ANY(key), 32);
    EVP_MD_CTX* ctx = pkey ? EVP_MD_CTX_new() : NULL;
    valid = ctx && EVP_DigestVerifyInit(ctx, NULL, NULL, NULL, pkey) == 1 &&
            EVP_DigestVerify(ctx, (const unsigned char*)VARDATA_ANY(signature), 64,
                             (const unsigned char*)VARDATA_ANY(message), VARSIZE_ANY_EXHDR(message)) == 1;
    EVP_MD_CTX_free(ctx);
    EVP_PKEY_free(pkey);
  }
  /* A refused signature leaves errors queued; the server's own TLS code reads that queue. */
  ERR_clear_error();
  PG_RETURN_BOOL(valid);
}

/* Each field is its length in decimal (no sign, no leading zero), ':', then that many bytes.
 * Returns the number of fields, or -1 when text is not such a run. */
static int ParseSealed(const char* text, size_t size, size_t* starts, size_t* lengths) {
  size_t at = 0;
  int count = 0;
  if (size > SEALED_MAX_BYTES) return -1;
  while (at < size) {
    size_t length = 0;
    const size_t digits = at;
    while (at < size && text[at] >= '0' && text[at] <= '9') {
      length = length * 10 + (size_t)(text[at] - '0');
      if (length > SEALED_MAX_BYTES) return -1;
      ++at;
    }
    /* One spelling per text: "01:a" would seal the same fields as "1:a" under another digest. */
    if (at == digits || (text[digits] == '0' && at - digits > 1)) return -1;
    if (at >= size || text[at] != ':') return -1;
    ++at;
    if (length > size - at) return -1;
    if (count == SEALED_MAX_FIELDS) return -1;
    if (memchr(text + at, '\0', length) != NULL || !pg_verify_mbstr(PG_UTF8, text + at, (int)length, true))
      return -1;
    starts[count] = at;
    lengths[count] = length;
    ++count;
    at += length;
  }
  return count;
}

Datum beamdock_sealed_fields(PG_FUNCTION_ARGS) {
  bytea* sealed = PG_GETARG_BYTEA_PP(0);
  const char* text = VARDATA_ANY(sealed);
  const size_t size = VARSIZE_ANY_EXHDR(sealed);
  size_t starts[SEALED_MAX_FIELDS], lengths[SEALED_MAX_FIELDS];
  Datum fields[SEALED_MAX_FIELDS];
  const int count = ParseSealed(text, size, starts, lengths);
  int i;

  if (count < 0) PG_RETURN_NULL();
  if (count == 0) PG_RETURN_ARRAYTYPE_P(construct_empty_array(TEXTOID));
  for (i = 0; i < count; ++i) fields[i] = PointerGetDatum(cstring_to_text_with_len(text + starts[i], (int)lengths[i]));
  PG_RETURN_ARRAYTYPE_P(construct_array(fields, count, TEXTOID, -1, false, TYPALIGN_INT));
}
