// Several threads, each with handles of its own, run whole payments against one sandbox host at
// the same time: first each on a store it sets up itself, then all on one shared store, as the
// workers of a shop do. CI runs this under ThreadSanitizer.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "KrptCache.h"
#include "KrptSign.h"
#include "payment_steps.h"
#include "sandbox_fixture.h"

using namespace setuptest;

namespace {

constexpr int kThreads = 4;
constexpr int kPayments = 3;

// Runs kPayments payments on each of kThreads threads; the first payment of a thread sets up its
// store when `setUp` is given.
void RunSideBySide(const Sandbox& host, const std::vector<std::string>& stores, bool setUp)
{
  std::vector<std::vector<std::string>> got(kThreads * kPayments);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int p = 0; p < kPayments; ++p)
        got[t * kPayments + p] =
            RunPayment(host, stores[t], setUp && p == 0, std::to_string(100 * (t + 1) + p));
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  for (int t = 0; t < kThreads; ++t)
    for (int p = 0; p < kPayments; ++p)
      EXPECT_EQ(ExpectedPayment(setUp && p == 0, std::to_string(100 * (t + 1) + p)),
                got[t * kPayments + p])
          << "thread " << t << ", payment " << p;
}

TEST(Threads, PaymentsRunSideBySide)
{
  Sandbox host;
  ASSERT_TRUE(host.Start()) << "kestrum-sandbox did not start";
  TempDir dir;
  std::vector<std::string> own;
  for (int t = 0; t < kThreads; ++t)
    own.push_back(dir.path() + "/store" + std::to_string(t));
  RunSideBySide(host, own, true);
  RunSideBySide(host, std::vector<std::string>(kThreads, own[0]), false);
  EXPECT_EQ(0, host.Stop());
}

// The decoded-key caches under threads: more keys than a thread holds, so that entries are
// evicted between uses, and flushes from another thread; every signature and check must come out
// as it does with an empty cache, whichever thread decoded the key.
TEST(Threads, KeyCacheEvictedAndFlushed)
{
  struct Pair
  {
    std::vector<unsigned char> pub, priv, signature;
  };
  const int keys = KRPT_CACHE_KEYS + 8;
  const std::string text = "<TBX MSGTYPE=\"PayInit\" AMOUNT=\"1560\"/>";
  const unsigned char* data = reinterpret_cast<const unsigned char*>(text.data());
  std::vector<Pair> pairs(keys);
  for (Pair& p : pairs) {
    unsigned char pub[KRPT_KEY_BUFFER_SIZE], priv[KRPT_KEY_BUFFER_SIZE];
    int pubLength = sizeof pub, privLength = sizeof priv;
    ASSERT_EQ(0, KRPT_GenerateKeys(pub, &pubLength, priv, &privLength, nullptr, 0));
    p.pub.assign(pub, pub + pubLength);
    p.priv.assign(priv, priv + privLength);
  }
  KRPT_FlushKeyCache();
  for (Pair& p : pairs) {
    unsigned char signature[KRPT_SIGNATURE_BUFFER_SIZE];
    unsigned long length = sizeof signature;
    ASSERT_EQ(0, KRPT_Signature(p.priv.data(), static_cast<int>(p.priv.size()), data, text.size(),
                                signature, &length));
    p.signature.assign(signature, signature + length);
    KRPT_FlushKeyCache();
  }

  std::vector<int> wrong(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 3; ++round) {
        for (int k = 0; k < keys; ++k) {
          // Each thread walks the keys in another order.
          const int at = (k * (2 * t + 1) + round) % keys;
          const Pair& p = pairs[at];
          unsigned char signature[KRPT_SIGNATURE_BUFFER_SIZE];
          unsigned long length = sizeof signature;
          if (KRPT_Signature(p.priv.data(), static_cast<int>(p.priv.size()), data, text.size(),
                             signature, &length) != 0 ||
              std::vector<unsigned char>(signature, signature + length) != p.signature)
            ++wrong[t];
          if (KRPT_Verify(p.pub.data(), static_cast<int>(p.pub.size()), data, text.size(),
                          p.signature.data(), p.signature.size()) != 0)
            ++wrong[t];
          // The signature of the next key must not verify under this one.
          const Pair& other = pairs[(at + 1) % keys];
          if (KRPT_Verify(p.pub.data(), static_cast<int>(p.pub.size()), data, text.size(),
                          other.signature.data(), other.signature.size()) == 0)
            ++wrong[t];
        }
        if (t == 0)
          KRPT_FlushKeyCache();
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  for (int t = 0; t < kThreads; ++t)
    EXPECT_EQ(0, wrong[t]) << "thread " << t;
}

}  // namespace
