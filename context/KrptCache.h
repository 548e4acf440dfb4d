/*
 * KrptCache.h - the decoded keys behind KRPT_Signature and KRPT_Verify, and the SHA-1 state, kept
 * per thread.
 *
 * Decoding a DER key through OpenSSL's decoders costs many times the RSA operation itself, so a
 * decoded key is kept, found again by the exact DER bytes the caller read on this call: a key's
 * bytes either match exactly or are decoded afresh. Each entry keeps an operation context set up
 * once (sign, or verify-recover, with PKCS#1 padding) that every call on the thread reuses.
 *
 * Per thread, so that the hot path takes no lock and touches no shared reference count: two
 * threads using one key each hold their own copy (OpenSSL locks a key while it uses it).
 * Bounded: each thread keeps KRPT_CACHE_KEYS keys, the least recently used one making room. An
 * entry leaves the cache on eviction, on KRPT_FlushKeyCache and when its thread ends; OpenSSL
 * then clears the key's numbers and the copy of the DER bytes is cleansed.
 */
#ifndef KRPTCACHE_H
#define KRPTCACHE_H

#include <openssl/evp.h>

enum
{
  /* Keys each thread keeps: a merchant key and a host key per store, for a few stores. */
  KRPT_CACHE_KEYS = 8
};

/* What a cache miss produces: the decoded key and its modulus size in bytes; 0 or the KRPT
 * result of a failed decode or check (failures are not cached). */
typedef int (*KrptDecodeFn)(const unsigned char* der, int length, EVP_PKEY** key,
                            int* modulusBytes);

enum KrptKeyKind
{
  KRPT_SIGNING_KEY = 1,
  KRPT_VERIFYING_KEY = 2
};

/* A key of this thread's cache. */
struct KrptKeyEntry
{
  EVP_PKEY* key;
  int modulusBytes;
  /* The operation of the entry's kind, set up once and reused; null when it could not be set
   * up (the caller then sets one up for the call). */
  EVP_PKEY_CTX* operation;
};

/*
 * The entry for `der` of `kind` on this thread: found, or decoded by `decode` (and its checks)
 * and stored. 0 with `out` set, valid until this thread's next KRPT_AcquireKey,
 * or KRPT_FlushKeyCache; or the failure of `decode`, or
 * KRPT_OUT_OF_MEMORY (no memory for the entry). Never throws.
 */
int KRPT_AcquireKey(KrptKeyKind kind, const unsigned char* der, int length, KrptDecodeFn decode,
                    const KrptKeyEntry*& out);

/* Frees the operation of `entry` after it failed, so that the next call sets up a fresh one. */
void KRPT_DiscardOperation(const KrptKeyEntry* entry);

/* Empties this thread's cache now, and every other thread's at its next KRPT_AcquireKey. */
void KRPT_FlushKeyCache();

/* This thread's SHA-1 implementation and digest context, valid until this thread's next
 * KRPT_FlushKeyCache; null when they could not be had (the caller then hashes without them). */
const EVP_MD* KRPT_Sha1();
EVP_MD_CTX* KRPT_Sha1Context();

#endif /* KRPTCACHE_H */
