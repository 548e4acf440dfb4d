/*
 * KrptCache.cpp - the per-thread cache of decoded keys and the SHA-1 state.
 */
#include "KrptCache.h"

#include "KrptSign.h"

#include <openssl/crypto.h>
#include <openssl/rsa.h>

#include <atomic>
#include <cstring>

namespace {

// Bumped by a flush; each thread empties its cache when it sees a newer value.
std::atomic<unsigned long> g_Generation{0};

struct Slot
{
  KrptKeyEntry entry = {nullptr, 0, nullptr};
  int kind = 0;
  unsigned char* der = nullptr;  // OPENSSL_malloc'd copy, cleansed when freed
  size_t length = 0;
  unsigned long long lastUse = 0;

  bool Holds(int k, const unsigned char* bytes, size_t size) const
  {
    return der != nullptr && kind == k && length == size && std::memcmp(der, bytes, size) == 0;
  }
  void Free()
  {
    EVP_PKEY_CTX_free(entry.operation);
    EVP_PKEY_free(entry.key);  // frees the private numbers with BN_clear_free
    OPENSSL_clear_free(der, length);
    *this = Slot();
  }
};

class ThreadKeys
{
public:
  ThreadKeys() = default;
  ThreadKeys(const ThreadKeys&) = delete;
  ThreadKeys& operator=(const ThreadKeys&) = delete;
  ~ThreadKeys() { Flush(); }

  static ThreadKeys& Get()
  {
    thread_local ThreadKeys keys;
    return keys;
  }

  int Acquire(KrptKeyKind kind, const unsigned char* der, int length, KrptDecodeFn decode,
              const KrptKeyEntry*& out);
  void Discard(const KrptKeyEntry* entry)
  {
    for (Slot& slot : m_Slots) {
      if (&slot.entry == entry) {
        EVP_PKEY_CTX_free(slot.entry.operation);
        slot.entry.operation = nullptr;
      }
    }
  }
  // Frees everything; only between operations of this thread.
  void Flush()
  {
    for (Slot& slot : m_Slots)
      slot.Free();
    EVP_MD_CTX_free(m_Sha1Context);
    m_Sha1Context = nullptr;
    EVP_MD_free(m_Sha1);
    m_Sha1 = nullptr;
  }
  const EVP_MD* Sha1()
  {
    // Fetched by each thread for itself: a shared one would have its reference count changed
    // by every thread's digest.
    if (m_Sha1 == nullptr)
      m_Sha1 = EVP_MD_fetch(nullptr, "SHA1", nullptr);
    return m_Sha1;
  }
  EVP_MD_CTX* Sha1Context()
  {
    if (m_Sha1Context == nullptr)
      m_Sha1Context = EVP_MD_CTX_new();
    return m_Sha1Context;
  }

private:
  static EVP_PKEY_CTX* NewOperation(KrptKeyKind kind, EVP_PKEY* key);

  Slot m_Slots[KRPT_CACHE_KEYS];
  unsigned long long m_Clock = 0;
  unsigned long m_Generation = 0;
  EVP_MD* m_Sha1 = nullptr;
  EVP_MD_CTX* m_Sha1Context = nullptr;
};

EVP_PKEY_CTX* ThreadKeys::NewOperation(KrptKeyKind kind, EVP_PKEY* key)
{
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
  const int init = ctx == nullptr             ? 0
                   : kind == KRPT_SIGNING_KEY ? EVP_PKEY_sign_init(ctx)
                                              : EVP_PKEY_verify_recover_init(ctx);
  if (init == 1 && EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) == 1)
    return ctx;
  EVP_PKEY_CTX_free(ctx);
  return nullptr;
}

int ThreadKeys::Acquire(KrptKeyKind kind, const unsigned char* der, int length, KrptDecodeFn decode,
                        const KrptKeyEntry*& out)
{
  if (der == nullptr || length <= 0)
    return -1;
  // Another thread's flush empties this cache at its next operation (this is its start).
  const unsigned long generation = g_Generation.load(std::memory_order_acquire);
  if (m_Generation != generation) {
    Flush();
    m_Generation = generation;
  }
  const size_t size = static_cast<size_t>(length);
  Slot* victim = &m_Slots[0];
  for (Slot& slot : m_Slots) {
    if (slot.Holds(kind, der, size)) {
      slot.lastUse = ++m_Clock;
      // An operation given up after a failure is set up again.
      if (slot.entry.operation == nullptr)
        slot.entry.operation = NewOperation(kind, slot.entry.key);
      out = &slot.entry;
      return 0;
    }
    if (victim->der != nullptr && (slot.der == nullptr || slot.lastUse < victim->lastUse))
      victim = &slot;
  }

  EVP_PKEY* key = nullptr;
  int modulusBytes = 0;
  const int rc = decode(der, length, &key, &modulusBytes);
  if (rc != 0)
    return rc;
  unsigned char* copy = static_cast<unsigned char*>(OPENSSL_malloc(size));
  if (copy == nullptr) {
    EVP_PKEY_free(key);
    return KRPT_OUT_OF_MEMORY;
  }
  std::memcpy(copy, der, size);
  victim->Free();
  victim->kind = kind;
  victim->der = copy;
  victim->length = size;
  victim->entry.key = key;
  victim->entry.modulusBytes = modulusBytes;
  // Without it each call sets one up from the key.
  victim->entry.operation = NewOperation(kind, key);
  victim->lastUse = ++m_Clock;
  out = &victim->entry;
  return 0;
}

}  // namespace

int KRPT_AcquireKey(KrptKeyKind kind, const unsigned char* der, int length, KrptDecodeFn decode,
                    const KrptKeyEntry*& out)
{
  return ThreadKeys::Get().Acquire(kind, der, length, decode, out);
}

void KRPT_DiscardOperation(const KrptKeyEntry* entry)
{
  ThreadKeys::Get().Discard(entry);
}

void KRPT_FlushKeyCache()
{
  g_Generation.fetch_add(1, std::memory_order_acq_rel);
  ThreadKeys::Get().Flush();
}

const EVP_MD* KRPT_Sha1()
{
  return ThreadKeys::Get().Sha1();
}

EVP_MD_CTX* KRPT_Sha1Context()
{
  return ThreadKeys::Get().Sha1Context();
}
