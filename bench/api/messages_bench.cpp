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

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
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

std::string Env(const char* name)
{
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string ReadText(const std::string& path)
{
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The store of every benchmark and a confirmation from its host. scripts/bench sets a store up as
// a merchant does (kestrum -conf against kestrum-sandbox, bench/python/bench_store.py) and passes
// it in TBX_BENCH_STORE, TBX_BENCH_DATA and TBX_BENCH_SIGNATURE; without them, the test store
// (512-bit merchant key) with a 1024-bit host key and a confirmation signed with it.
struct Fixture
{
  std::unique_ptr<tbxtest::TestStore> own;
  std::string path, merchantKeyId, hostKeyId;
  std::string confirmation;
  std::string confirmationSignature;

  Fixture()
  {
    path = Env("TBX_BENCH_STORE");
    if (!path.empty()) {
      confirmation = Env("TBX_BENCH_DATA");
      confirmationSignature = Env("TBX_BENCH_SIGNATURE");
      merchantKeyId = ReadText(path + "/keys/current");
      const size_t at = confirmation.find("KEYID=\"");
      if (at == std::string::npos)
        throw std::runtime_error("TBX_BENCH_DATA names no KEYID");
      hostKeyId = confirmation.substr(at + 7, confirmation.find('"', at + 7) - at - 7);
      return;
    }
    own.reset(new tbxtest::TestStore);
    path = own->Path();
    merchantKeyId = own->MerchantKeyId();
    hostKeyId = own->HostKeyId();
    unsigned char pub[KRPT_KEY_BUFFER_SIZE], priv[KRPT_KEY_BUFFER_SIZE];
    int pubLength = sizeof pub, privLength = sizeof priv;
    if (KRPT_GenerateKeys(pub, &pubLength, priv, &privLength, nullptr, 0, 1024) != 0)
      throw std::runtime_error("key generation failed");
    own->Write("keys/public/" + hostKeyId,
               tbxtest::ToHex(std::vector<unsigned char>(pub, pub + pubLength)));
    confirmation = "<TBX MSGTYPE=\"PayConfirm\" KEYID=\"" + hostKeyId +
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

  std::string Read(const std::string& relative) const { return ReadText(path + "/" + relative); }
  // The offer's signature holds under the merchant's public key.
  bool VerifyMerchant(const std::string& text, const std::string& signatureHex) const
  {
    std::vector<unsigned char> key, signature;
    tbxtest::FromHex(Read("keys/public/" + merchantKeyId), key);
    tbxtest::FromHex(signatureHex, signature);
    const std::vector<unsigned char> wide = tbxtest::Widen(text);
    return KRPT_Verify(key.data(), static_cast<int>(key.size()), wide.data(), wide.size(),
                       signature.data(), signature.size()) == 0;
  }
  const std::string& Path() const { return path; }
  const std::string& MerchantKeyId() const { return merchantKeyId; }
  const std::string& HostKeyId() const { return hostKeyId; }
};

Fixture& Bench()
{
  static Fixture fixture;
  return fixture;
}

const Fixture& Store()
{
  return Bench();
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

// The limits no store-based design can go below: the RSA operation alone, on a key decoded and
// an operation set up once, as `openssl speed` measures it. Signing: the merchant's 512-bit key
// (blinding included, as in every private-key operation); verifying: the host's key.
void BM_RawRsaSign(benchmark::State& state)
{
  EVP_PKEY* key = LoadKey(Store().Read("keys/private/" + Store().MerchantKeyId()), true);
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
  EVP_PKEY_sign_init(ctx);
  EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING);
  unsigned char digest[KRPT_DIGEST_LENGTH] = {1, 2, 3};
  for (auto _ : state) {
    unsigned char signature[512];
    size_t length = sizeof signature;
    if (EVP_PKEY_sign(ctx, signature, &length, digest, sizeof digest) != 1) {
      state.SkipWithError("sign failed");
      break;
    }
    benchmark::DoNotOptimize(signature);
  }
  EVP_PKEY_CTX_free(ctx);
  EVP_PKEY_free(key);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RawRsaSign)->Unit(benchmark::kMicrosecond);

void BM_RawRsaVerify(benchmark::State& state)
{
  EVP_PKEY* key = LoadKey(Store().Read("keys/public/" + Store().HostKeyId()), false);
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
  EVP_PKEY_verify_recover_init(ctx);
  EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING);
  std::vector<unsigned char> signature;
  tbxtest::FromHex(Bench().confirmationSignature, signature);
  for (auto _ : state) {
    unsigned char recovered[512];
    size_t length = sizeof recovered;
    if (EVP_PKEY_verify_recover(ctx, recovered, &length, signature.data(), signature.size()) != 1) {
      state.SkipWithError("verify failed");
      break;
    }
    benchmark::DoNotOptimize(recovered);
  }
  EVP_PKEY_CTX_free(ctx);
  EVP_PKEY_free(key);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RawRsaVerify)->Unit(benchmark::kMicrosecond);

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
