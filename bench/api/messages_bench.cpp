// Offers per second (MessageFactory_CreatePayInit, two MessageObject_SetAttribute, GetURL measured
// then fetched, DestroyMessageObject) and confirmations per second
// (MessageFactory_VerifyPayConfirm, DestroyMessageObject with a 1024-bit host key), on one thread
// and on two (handles of their own), each beside the OpenSSL-direct baseline (openssl_direct.h) in
// the same run; FromString of the 1.40 MB document. The step benchmarks show where the time of an
// offer goes.
#include <benchmark/benchmark.h>

#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/decoder.h>

#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "KrptSign.h"
#include "bench_document.h"
#include "openssl_direct.h"
#include "tbxapp.h"
#include "tbxctx.h"
#include "tbxmessage.h"
#include "test_store.h"

namespace {

// The store of every benchmark: the test store (512-bit merchant key) with a 1024-bit host key in
// keys/public/, and a confirmation signed with it.
struct Fixture
{
  tbxtest::TestStore store;
  std::string confirmation;
  std::string confirmationSignature;

  Fixture()
  {
    unsigned char pub[KRPT_KEY_BUFFER_SIZE], priv[KRPT_KEY_BUFFER_SIZE];
    int pubLength = sizeof pub, privLength = sizeof priv;
    if (KRPT_GenerateKeys(pub, &pubLength, priv, &privLength, nullptr, 0, 1024) != 0)
      throw std::runtime_error("key generation failed");
    store.Write("keys/public/" + store.HostKeyId(),
                tbxtest::ToHex(std::vector<unsigned char>(pub, pub + pubLength)));
    confirmation = "<TBX MSGTYPE=\"PayConfirm\" KEYID=\"" + store.HostKeyId() +
                   "\" ID=\"7a1b9c\" TOKEN=\"0123456789abcdef0123456789abcdef\" AMOUNT=\"1560\" "
                   "CURRENCY=\"EUR\"/>";
    const std::vector<unsigned char> wide = tbxtest::Widen(confirmation);
    unsigned char signature[KRPT_SIGNATURE_BUFFER_SIZE];
    unsigned long length = sizeof signature;
    if (KRPT_Signature(priv, privLength, wide.data(), wide.size(), signature, &length) != 0)
      throw std::runtime_error("host signing failed");
    confirmationSignature =
        tbxtest::ToHex(std::vector<unsigned char>(signature, signature + length));
  }
};

Fixture& Bench()
{
  static Fixture fixture;
  return fixture;
}

tbxtest::TestStore& Store()
{
  return Bench().store;
}

// The XML text of an offer as GetURL signs it.
std::string SampleOffer()
{
  void* factory = CreateMessageFactory();
  MessageFactory_Open(factory, Store().Path().c_str());
  void* offer = nullptr;
  MessageFactory_CreatePayInit(factory, &offer);
  MessageObject_SetAttribute(offer, "AMOUNT", "1560");
  MessageObject_SetAttribute(offer, "CURRENCY", "EUR");
  std::vector<char> buffer(4096);
  long length = static_cast<long>(buffer.size());
  MessageObject_ToString(offer, &length, buffer.data());
  DestroyMessageObject(offer);
  DestroyMessageFactory(factory);
  return buffer.data();
}

EVP_PKEY* LoadKey(const std::string& hex, bool isPrivate)
{
  std::vector<unsigned char> der;
  tbxtest::FromHex(hex, der);
  EVP_PKEY* key = nullptr;
  OSSL_DECODER_CTX* dctx = OSSL_DECODER_CTX_new_for_pkey(
      &key, "DER", "type-specific", "RSA",
      isPrivate ? OSSL_KEYMGMT_SELECT_KEYPAIR : OSSL_KEYMGMT_SELECT_PUBLIC_KEY, nullptr, nullptr);
  const unsigned char* p = der.data();
  size_t length = der.size();
  OSSL_DECODER_from_data(dctx, &p, &length);
  OSSL_DECODER_CTX_free(dctx);
  return key;
}

// ---- Offers ------------------------------------------------------------------------------

void BM_Offer(benchmark::State& state)
{
  void* factory = CreateMessageFactory();
  MessageFactory_Open(factory, Store().Path().c_str());
  std::vector<char> buffer(4096);
  for (auto _ : state) {
    void* offer = nullptr;
    if (MessageFactory_CreatePayInit(factory, &offer) != TBX_OK) {
      state.SkipWithError("CreatePayInit failed");
      break;
    }
    MessageObject_SetAttribute(offer, "AMOUNT", "1560");
    MessageObject_SetAttribute(offer, "CURRENCY", "EUR");
    // As a C caller does it: the length first, then the URL into a buffer of that length.
    long length = 0;
    MessageObject_GetURL(offer, &length, nullptr);
    if (length <= 0 || length > static_cast<long>(buffer.size()) ||
        MessageObject_GetURL(offer, &length, buffer.data()) != TBX_OK) {
      state.SkipWithError("GetURL failed");
      break;
    }
    DestroyMessageObject(offer);
  }
  DestroyMessageFactory(factory);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Offer)->Unit(benchmark::kMicrosecond)->UseRealTime()->Threads(1)->Threads(2);

// The same signature made the shortest way a script can go on OpenSSL (see openssl_direct.h).
void BM_OfferBaseline_Direct(benchmark::State& state)
{
  const std::string keyFile = Store().Path() + "/keys/private/" + Store().MerchantKeyId();
  const std::string text = SampleOffer();
  std::string signature;
  for (auto _ : state) {
    if (!DirectSign(keyFile, text, signature)) {
      state.SkipWithError("sign failed");
      break;
    }
    benchmark::DoNotOptimize(signature.data());
  }
  if (!Store().VerifyMerchant(text, signature))
    state.SkipWithError("the baseline's signature does not verify");
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OfferBaseline_Direct)->Unit(benchmark::kMicrosecond);

// Only the RSA operation, key decoded once: what no store-based design can go below.
void BM_Step_RSASignOnly(benchmark::State& state)
{
  EVP_PKEY* key = LoadKey(Store().Read("keys/private/" + Store().MerchantKeyId()), true);
  unsigned char digest[KRPT_DIGEST_LENGTH] = {1, 2, 3};
  for (auto _ : state) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
    EVP_PKEY_sign_init(ctx);
    EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING);
    unsigned char signature[512];
    size_t length = sizeof signature;
    EVP_PKEY_sign(ctx, signature, &length, digest, sizeof digest);
    benchmark::DoNotOptimize(signature);
    EVP_PKEY_CTX_free(ctx);
  }
  EVP_PKEY_free(key);
}
BENCHMARK(BM_Step_RSASignOnly)->Unit(benchmark::kMicrosecond);

void BM_Step_DecodePrivateKey(benchmark::State& state)
{
  const std::string hex = Store().Read("keys/private/" + Store().MerchantKeyId());
  for (auto _ : state) {
    EVP_PKEY* key = LoadKey(hex, true);
    benchmark::DoNotOptimize(key);
    EVP_PKEY_free(key);
  }
}
BENCHMARK(BM_Step_DecodePrivateKey)->Unit(benchmark::kMicrosecond);

// Steps of an offer, to see where the time goes.
void BM_Step_CreatePayInitOnly(benchmark::State& state)
{
  void* factory = CreateMessageFactory();
  MessageFactory_Open(factory, Store().Path().c_str());
  for (auto _ : state) {
    void* offer = nullptr;
    MessageFactory_CreatePayInit(factory, &offer);
    DestroyMessageObject(offer);
  }
  DestroyMessageFactory(factory);
}
BENCHMARK(BM_Step_CreatePayInitOnly)->Unit(benchmark::kMicrosecond);

// GetURL on one offer changed by one attribute each time (an unchanged one hands its last URL
// back): serialises, reads VTURL and the key, signs, encodes.
void BM_Step_GetURL(benchmark::State& state)
{
  void* factory = CreateMessageFactory();
  MessageFactory_Open(factory, Store().Path().c_str());
  void* offer = nullptr;
  MessageFactory_CreatePayInit(factory, &offer);
  std::vector<char> buffer(4096);
  bool odd = false;
  for (auto _ : state) {
    MessageObject_SetAttribute(offer, "AMOUNT", (odd = !odd) ? "1560" : "1561");
    long length = static_cast<long>(buffer.size());
    MessageObject_GetURL(offer, &length, buffer.data());
  }
  DestroyMessageObject(offer);
  DestroyMessageFactory(factory);
}
BENCHMARK(BM_Step_GetURL)->Unit(benchmark::kMicrosecond);

void BM_Step_SignData(benchmark::State& state)
{
  TBX_Context context;
  context.Open(MvString(Store().Path().c_str()));
  const MvString text(SampleOffer().c_str());
  const MvString keyId(Store().MerchantKeyId().c_str());
  for (auto _ : state) {
    MvString signature;
    context.SignData(text, keyId, signature);
    benchmark::DoNotOptimize(signature);
  }
}
BENCHMARK(BM_Step_SignData)->Unit(benchmark::kMicrosecond);

void BM_Step_ReadDefaults(benchmark::State& state)
{
  TBX_Context context;
  context.Open(MvString(Store().Path().c_str()));
  for (auto _ : state) {
    MvString text;
    context.QueryValue(MvString("default.xml"), MvString(), text);
    xmlElementPtr root;
    context.XmlFromString(text, root.receive());
    benchmark::DoNotOptimize(root.get());
  }
}
BENCHMARK(BM_Step_ReadDefaults)->Unit(benchmark::kMicrosecond);

void BM_Step_CreateUuid(benchmark::State& state)
{
  for (auto _ : state)
    benchmark::DoNotOptimize(TBX_Context::CreateUuid());
}
BENCHMARK(BM_Step_CreateUuid)->Unit(benchmark::kMicrosecond);

// ---- Verifications -----------------------------------------------------------------------

void BM_Verify(benchmark::State& state)
{
  void* factory = CreateMessageFactory();
  MessageFactory_Open(factory, Store().Path().c_str());
  const std::string& data = Bench().confirmation;
  const std::string& signature = Bench().confirmationSignature;
  for (auto _ : state) {
    void* confirmed = nullptr;
    if (MessageFactory_VerifyPayConfirm(factory, data.c_str(), signature.c_str(), &confirmed) !=
        TBX_OK) {
      state.SkipWithError("VerifyPayConfirm failed");
      break;
    }
    DestroyMessageObject(confirmed);
  }
  DestroyMessageFactory(factory);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Verify)->Unit(benchmark::kMicrosecond)->UseRealTime()->Threads(1)->Threads(2);

void BM_VerifyBaseline_Direct(benchmark::State& state)
{
  const std::string keyFile = Store().Path() + "/keys/public/" + Store().HostKeyId();
  const std::string& data = Bench().confirmation;
  const std::string& signature = Bench().confirmationSignature;
  for (auto _ : state) {
    if (!DirectVerify(keyFile, data, signature)) {
      state.SkipWithError("verify failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_VerifyBaseline_Direct)->Unit(benchmark::kMicrosecond);

// ---- Parsing -------------------------------------------------------------------------------

// MessageObject_FromString of the 1.40 MB document; each call also frees the previous tree.
void BM_FromString(benchmark::State& state)
{
  const std::string doc = BenchDocument();
  void* object = CreateMessageObject();
  if (MessageObject_Open(object, Store().Path().c_str()) != TBX_OK)
    state.SkipWithError("Open failed");
  for (auto _ : state) {
    if (MessageObject_FromString(object, doc.c_str()) != TBX_OK) {
      state.SkipWithError("FromString failed");
      break;
    }
  }
  DestroyMessageObject(object);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(doc.size()));
}
BENCHMARK(BM_FromString)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
