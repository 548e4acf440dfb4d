// Offers per second (MessageFactory_CreatePayInit + MessageObject_GetURL on a ready store) and
// verifications per second (MessageFactory_VerifyPayConfirm), each beside OpenSSL doing only the
// RSA and SHA-1 work of the same operation, measured in the same run. The step benchmarks show
// where the time of an offer goes.
#include <benchmark/benchmark.h>

#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>
#include <openssl/decoder.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tbxapp.h"
#include "tbxctx.h"
#include "tbxmessage.h"
#include "test_store.h"

namespace {

tbxtest::TestStore& Store()
{
  static tbxtest::TestStore store;
  return store;
}

// A typical offer's XML text, the size of what the library signs.
std::string SampleOffer()
{
  return "<TBX MSGTYPE=\"PayInit\" KEYID=\"" + Store().MerchantKeyId() +
         "\" TOKEN=\"0123456789abcdef0123456789abcdef\" ALLOWCOLLECT=\"no\" LANGID=\"DE\" "
         "FAILLINK=\"https://shop.test/fail\" EXPIRATION=\"20261209 10:00:00\" AMOUNT=\"1560\" "
         "CURRENCY=\"EUR\"/>";
}

std::string ConfirmationText()
{
  return "<TBX MSGTYPE=\"PayConfirm\" KEYID=\"" + Store().HostKeyId() +
         "\" ID=\"7a1b9c\" TOKEN=\"0123456789abcdef0123456789abcdef\" AMOUNT=\"1560\" "
         "CURRENCY=\"EUR\"/>";
}

EVP_PKEY* LoadKey(const std::string& hex, bool isPrivate)
{
  std::vector<unsigned char> der;
  tbxtest::FromHex(hex, der);
  EVP_PKEY* key = nullptr;
  OSSL_DECODER_CTX* dctx = OSSL_DECODER_CTX_new_for_pkey(
    &key, "DER", "type-specific", "RSA", isPrivate ? OSSL_KEYMGMT_SELECT_KEYPAIR : OSSL_KEYMGMT_SELECT_PUBLIC_KEY,
    nullptr, nullptr);
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
    long length = static_cast<long>(buffer.size());
    if (MessageObject_GetURL(offer, &length, buffer.data()) != TBX_OK) {
      state.SkipWithError("GetURL failed");
      break;
    }
    DestroyMessageObject(offer);
  }
  DestroyMessageFactory(factory);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Offer)->Unit(benchmark::kMicrosecond);

// The unavoidable work of an offer with OpenSSL alone, as the context's baseline does it: read the
// key file (nothing is cached between calls), decode hex and DER, SHA-1 of the widened text,
// PKCS #1 type 1 signature of the bare digest.
void BM_OfferBaseline_OpenSSLSign(benchmark::State& state)
{
  const std::string keyFile = "keys/private/" + Store().MerchantKeyId();
  const std::vector<unsigned char> wide = tbxtest::Widen(SampleOffer());
  for (auto _ : state) {
    EVP_PKEY* key = LoadKey(Store().Read(keyFile), true);
    unsigned char digest[SHA_DIGEST_LENGTH];
    EVP_Digest(wide.data(), wide.size(), digest, nullptr, EVP_sha1(), nullptr);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
    EVP_PKEY_sign_init(ctx);
    EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING);
    unsigned char signature[512];
    size_t length = sizeof signature;
    if (EVP_PKEY_sign(ctx, signature, &length, digest, sizeof digest) != 1)
      state.SkipWithError("sign failed");
    benchmark::DoNotOptimize(signature);
    EVP_PKEY_CTX_free(ctx);
    EVP_PKEY_free(key);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OfferBaseline_OpenSSLSign)->Unit(benchmark::kMicrosecond);

// Only the RSA operation, key decoded once: what no store-based design can go below.
void BM_Step_RSASignOnly(benchmark::State& state)
{
  EVP_PKEY* key = LoadKey(Store().Read("keys/private/" + Store().MerchantKeyId()), true);
  unsigned char digest[SHA_DIGEST_LENGTH] = {1, 2, 3};
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

// GetURL alone on one offer: reads VTURL, serialises, signs, encodes.
void BM_Step_GetURL(benchmark::State& state)
{
  void* factory = CreateMessageFactory();
  MessageFactory_Open(factory, Store().Path().c_str());
  void* offer = nullptr;
  MessageFactory_CreatePayInit(factory, &offer);
  std::vector<char> buffer(4096);
  for (auto _ : state) {
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
  const std::string data = ConfirmationText();
  const std::string signature = Store().SignAsHost(data);
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
BENCHMARK(BM_Verify)->Unit(benchmark::kMicrosecond);

void BM_VerifyBaseline_OpenSSLVerify(benchmark::State& state)
{
  const std::string keyFile = "keys/public/" + Store().HostKeyId();
  const std::string data = ConfirmationText();
  std::vector<unsigned char> signature;
  tbxtest::FromHex(Store().SignAsHost(data), signature);
  const std::vector<unsigned char> wide = tbxtest::Widen(data);
  for (auto _ : state) {
    EVP_PKEY* key = LoadKey(Store().Read(keyFile), false);
    unsigned char digest[SHA_DIGEST_LENGTH];
    EVP_Digest(wide.data(), wide.size(), digest, nullptr, EVP_sha1(), nullptr);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
    EVP_PKEY_verify_init(ctx);
    EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING);
    if (EVP_PKEY_verify(ctx, signature.data(), signature.size(), digest, sizeof digest) != 1)
      state.SkipWithError("verify failed");
    EVP_PKEY_CTX_free(ctx);
    EVP_PKEY_free(key);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_VerifyBaseline_OpenSSLVerify)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
