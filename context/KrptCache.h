/*
 * KrptCache.h - the process's cache of decoded keys, behind KRPT_Signature and KRPT_Verify.
 *
 * Decoding a DER key through OpenSSL's decoders costs many times the RSA operation itself, so a
 * decoded key is kept, found again by the exact DER bytes the caller read on this call (the key
 * files are still read every time: a replaced file takes effect at once, and a key's bytes either
 * match exactly or are decoded afresh). Each entry keeps an operation context set up once (sign,
 * or verify-recover, with PKCS#1 padding), which a call duplicates instead of fetching the
 * algorithm again.
 *
 * Bounded: KRPT_CACHE_SHARDS shards of KRPT_CACHE_WAYS entries, the least recently used one of a
 * shard making room. A lookup locks only its shard, for a compare and a reference count, so
 * threads working with different or the same keys do not wait on each other for the RSA work. An
 * entry leaves the cache (eviction, KRPT_FlushKeyCache, library unload) but lives on while a
 * call still uses it; when its last user lets it go, OpenSSL clears the key's numbers and the
 * copy of the DER bytes is cleansed.
 */
#ifndef KRPTCACHE_H
#define KRPTCACHE_H

#include <openssl/evp.h>

#include <cstddef>
#include <memory>

enum
{
  KRPT_CACHE_SHARDS = 8,
  KRPT_CACHE_WAYS = 4
};

/* What a cache miss produces: the decoded key and its modulus size in bytes; 0 or the KRPT
 * result of a failed decode or check (failures are not cached). */
typedef int (*KrptDecodeFn)(const unsigned char* der, int length, EVP_PKEY** key,
                            int* modulusBytes);

class KrptKeyEntry
{
public:
  KrptKeyEntry(const KrptKeyEntry&) = delete;
  KrptKeyEntry& operator=(const KrptKeyEntry&) = delete;
  ~KrptKeyEntry();

  EVP_PKEY* Key() const { return m_Key; }
  int ModulusBytes() const { return m_ModulusBytes; }
  /* A new context for the entry's operation, already initialised (the caller frees it); null
   * when it could not be made. */
  EVP_PKEY_CTX* NewOperation() const;

private:
  friend class KrptKeyCache;
  KrptKeyEntry() = default;

  int m_Kind = 0;
  size_t m_Hash = 0;
  unsigned char* m_Der = nullptr;
  size_t m_Length = 0;
  EVP_PKEY* m_Key = nullptr;
  EVP_PKEY_CTX* m_Operation = nullptr;  // never used itself: only duplicated
  int m_ModulusBytes = 0;
};

enum KrptKeyKind
{
  KRPT_SIGNING_KEY = 1,
  KRPT_VERIFYING_KEY = 2
};

/*
 * The entry for `der` of `kind`: found, or decoded by `decode` (and its checks) and stored. 0
 * with `out` set, or the failure of `decode`, or KRPT_OUT_OF_MEMORY (no memory for the entry).
 * Never throws.
 */
int KRPT_AcquireKey(KrptKeyKind kind, const unsigned char* der, int length, KrptDecodeFn decode,
                    std::shared_ptr<const KrptKeyEntry>& out);

/* Empties the cache (its entries are freed once no call uses them). */
void KRPT_FlushKeyCache();

/* The SHA-1 implementation, fetched once; null when it could not be fetched (the caller then
 * lets OpenSSL fetch it). */
const EVP_MD* KRPT_Sha1();

#endif /* KRPTCACHE_H */
