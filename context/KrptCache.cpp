/*
 * KrptCache.cpp - the decoded-key cache and the algorithms fetched once.
 */
#include "KrptCache.h"

#include "KrptSign.h"

#include <openssl/crypto.h>
#include <openssl/rsa.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <new>

namespace {

// FNV-1a over the kind and the bytes; equal hashes are confirmed by comparing the bytes.
size_t HashOf(int kind, const unsigned char* der, size_t length)
{
  uint64_t h = 14695981039346656037ull ^ static_cast<uint64_t>(kind);
  for (size_t i = 0; i < length; ++i)
    h = (h ^ der[i]) * 1099511628211ull;
  return static_cast<size_t>(h ^ (h >> 32));
}

}  // namespace

class KrptKeyCache
{
public:
  static KrptKeyCache& Instance();

  int Acquire(KrptKeyKind kind, const unsigned char* der, int length, KrptDecodeFn decode,
              std::shared_ptr<const KrptKeyEntry>& out);
  void Flush();
  const EVP_MD* Sha1();

  ~KrptKeyCache()
  {
    Flush();
    EVP_MD_free(m_Sha1.load());
  }

private:
  struct Slot
  {
    std::shared_ptr<const KrptKeyEntry> entry;
    uint64_t lastUse = 0;
  };
  struct Shard
  {
    std::mutex lock;
    Slot slots[KRPT_CACHE_WAYS];
    uint64_t clock = 0;
  };

  KrptKeyCache() = default;
  // The slot holding the key of these bytes, or null; the shard is locked.
  static Slot* Find(Shard& shard, KrptKeyKind kind, size_t hash, const unsigned char* der,
                    size_t size)
  {
    for (Slot& slot : shard.slots) {
      const KrptKeyEntry* e = slot.entry.get();
      if (e != nullptr && e->m_Hash == hash && e->m_Kind == kind && e->m_Length == size &&
          std::memcmp(e->m_Der, der, size) == 0)
        return &slot;
    }
    return nullptr;
  }
  static std::shared_ptr<const KrptKeyEntry> NewEntry(KrptKeyKind kind, size_t hash,
                                                      const unsigned char* der, size_t length,
                                                      EVP_PKEY* key, int modulusBytes);

  Shard m_Shards[KRPT_CACHE_SHARDS];
  std::atomic<EVP_MD*> m_Sha1{nullptr};
};

KrptKeyCache& KrptKeyCache::Instance()
{
  // OpenSSL is initialised first, so that its clean-up at exit (registered as it initialises)
  // runs after this cache has let its keys go.
  static KrptKeyCache* const cache = [] {
    OPENSSL_init_crypto(0, nullptr);
    static KrptKeyCache instance;
    return &instance;
  }();
  return *cache;
}

KrptKeyEntry::~KrptKeyEntry()
{
  EVP_PKEY_CTX_free(m_Operation);
  EVP_PKEY_free(m_Key);  // frees the private numbers with BN_clear_free
  OPENSSL_clear_free(m_Der, m_Length);
}

EVP_PKEY_CTX* KrptKeyEntry::NewOperation() const
{
  return m_Operation != nullptr ? EVP_PKEY_CTX_dup(m_Operation) : nullptr;
}

std::shared_ptr<const KrptKeyEntry> KrptKeyCache::NewEntry(KrptKeyKind kind, size_t hash,
                                                           const unsigned char* der, size_t length,
                                                           EVP_PKEY* key, int modulusBytes)
{
  std::shared_ptr<KrptKeyEntry> entry;
  try {
    entry.reset(new KrptKeyEntry);
  } catch (const std::bad_alloc&) {
    EVP_PKEY_free(key);
    return nullptr;
  }
  entry->m_Kind = kind;
  entry->m_Hash = hash;
  entry->m_Key = key;
  entry->m_ModulusBytes = modulusBytes;
  entry->m_Der = static_cast<unsigned char*>(OPENSSL_malloc(length));
  if (entry->m_Der == nullptr)
    return nullptr;
  std::memcpy(entry->m_Der, der, length);
  entry->m_Length = length;
  // The operation is set up once here; without it each call sets one up from the key.
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
  const int init = ctx == nullptr             ? 0
                   : kind == KRPT_SIGNING_KEY ? EVP_PKEY_sign_init(ctx)
                                              : EVP_PKEY_verify_recover_init(ctx);
  if (init == 1 && EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) == 1)
    entry->m_Operation = ctx;
  else
    EVP_PKEY_CTX_free(ctx);
  return entry;
}

int KrptKeyCache::Acquire(KrptKeyKind kind, const unsigned char* der, int length,
                          KrptDecodeFn decode, std::shared_ptr<const KrptKeyEntry>& out)
{
  if (der == nullptr || length <= 0)
    return -1;
  const size_t size = static_cast<size_t>(length);
  const size_t hash = HashOf(kind, der, size);
  Shard& shard = m_Shards[hash % KRPT_CACHE_SHARDS];
  {
    std::lock_guard<std::mutex> hold(shard.lock);
    if (Slot* slot = Find(shard, kind, hash, der, size)) {
      slot->lastUse = ++shard.clock;
      out = slot->entry;
      return 0;
    }
  }

  // A miss: decoded and checked outside the lock (two threads missing on one key both decode;
  // the second to store finds the first's entry and keeps it).
  EVP_PKEY* key = nullptr;
  int modulusBytes = 0;
  const int rc = decode(der, length, &key, &modulusBytes);
  if (rc != 0)
    return rc;
  std::shared_ptr<const KrptKeyEntry> entry = NewEntry(kind, hash, der, size, key, modulusBytes);
  if (entry == nullptr)
    return KRPT_OUT_OF_MEMORY;

  std::shared_ptr<const KrptKeyEntry> evicted;  // let go after the lock
  {
    std::lock_guard<std::mutex> hold(shard.lock);
    if (Slot* slot = Find(shard, kind, hash, der, size)) {
      slot->lastUse = ++shard.clock;
      out = slot->entry;
      return 0;
    }
    // An empty slot, else the least recently used.
    Slot* victim = &shard.slots[0];
    for (Slot& slot : shard.slots) {
      if (slot.entry == nullptr || (victim->entry != nullptr && slot.lastUse < victim->lastUse))
        victim = &slot;
    }
    evicted.swap(victim->entry);
    victim->entry = entry;
    victim->lastUse = ++shard.clock;
  }
  out = std::move(entry);
  return 0;
}

void KrptKeyCache::Flush()
{
  for (Shard& shard : m_Shards) {
    Slot taken[KRPT_CACHE_WAYS];
    {
      std::lock_guard<std::mutex> hold(shard.lock);
      for (int i = 0; i < KRPT_CACHE_WAYS; ++i)
        taken[i].entry.swap(shard.slots[i].entry);
    }
  }
}

const EVP_MD* KrptKeyCache::Sha1()
{
  EVP_MD* md = m_Sha1.load(std::memory_order_acquire);
  if (md != nullptr)
    return md;
  md = EVP_MD_fetch(nullptr, "SHA1", nullptr);
  if (md == nullptr)
    return nullptr;
  EVP_MD* expected = nullptr;
  if (!m_Sha1.compare_exchange_strong(expected, md, std::memory_order_acq_rel)) {
    EVP_MD_free(md);  // another thread stored one first
    return expected;
  }
  return md;
}

int KRPT_AcquireKey(KrptKeyKind kind, const unsigned char* der, int length, KrptDecodeFn decode,
                    std::shared_ptr<const KrptKeyEntry>& out)
{
  try {
    return KrptKeyCache::Instance().Acquire(kind, der, length, decode, out);
  } catch (const std::exception&) {
    // A mutex that cannot be locked: the library is going down or broken; no verdict.
    return KRPT_OUT_OF_MEMORY;
  }
}

void KRPT_FlushKeyCache()
{
  KrptKeyCache::Instance().Flush();
}

const EVP_MD* KRPT_Sha1()
{
  return KrptKeyCache::Instance().Sha1();
}
