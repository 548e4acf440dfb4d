// Signing and verifying through the context's SignData and VerifyData on a real store (the key
// file read and decoded on every call), each beside a baseline that does only the unavoidable
// work with OpenSSL directly: read the key file, decode hex and DER, hash the widened text, sign
// or verify. Compare the pairs measured in the same run.
#include "tbxctx.h"
#include "tbxutil.h"

#include <benchmark/benchmark.h>
#include <openssl/crypto.h>
#include <openssl/decoder.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// The vector keys (hex of DER PKCS#1), as keys/private/ and keys/public/ hold them.
const char* const PRIVATE_512 =
    "3082013a020100024100b1dfeb69b535f4c05270cbf198aacc3da9589775d038cf8bfe961d47fefd4692f7b8f2"
    "a29f1c0c294847be1c42df3f20790a778a3c33b81675bc7555d9ebeddd020301000102406a235553d45f87d622"
    "db4fb6b0046aaef897f678c470c1d7a56869bc8639179ca7b0d0cb898dc9348ce6e4feb6ec017625459d2b312e"
    "1d79152773bc0c6590c1022100e30ea19985c5593e01a61e4e914d5657ff6d51e0adce4d9ed1cbb919fd6fc925"
    "022100c88c5b81e04913de215587d55dcfcf07680ee7f03db2a1c3425ee409e623005902205424d4f04ee9aec3"
    "d2da9bfaa3d05442322f721b606dc6c8279966d461de6e5d0221008b1ba8c1aee4a1ce5bcaeb3c9a24f2530de0"
    "010c488fa6db3d277b004ecd0a8902202667db91bd8fffa4fb33c9ef2258b8ff07726d56c18814b445ebee0850"
    "731675";
const char* const PUBLIC_512 =
    "3048024100b1dfeb69b535f4c05270cbf198aacc3da9589775d038cf8bfe961d47fefd4692f7b8f2a29f1c0c29"
    "4847be1c42df3f20790a778a3c33b81675bc7555d9ebeddd0203010001";

// An offer as the message layer signs it.
const char* const OFFER =
    "<TBX MSGTYPE=\"PayInit\" KEYID=\"0-4711-0123456789abcdef0123456789abcdef\" "
    "TOKEN=\"0123456789abcdef0123456789abcdef\" AMOUNT=\"1560\" CURRENCY=\"EUR\" "
    "DESCRIPTION=\"Test &amp; Co\"/>";

class Store
{
public:
  Store()
  {
    char tmpl[] = "/tmp/crypto_bench_XXXXXX";
    if (mkdtemp(tmpl) == nullptr)
      abort();
    m_Dir = tmpl;
    std::filesystem::create_directories(m_Dir / "keys/private");
    std::filesystem::create_directories(m_Dir / "keys/public");
    Put("keys/private/k", PRIVATE_512);
    Put("keys/public/k", PUBLIC_512);
    m_Context.Open(path());
    // The signature the verify benchmarks check.
    MvString sig;
    m_Context.SignData(MvString(OFFER), MvString("k"), sig);
    m_Signature.assign(sig.begin(), sig.end());
  }
  ~Store() { std::filesystem::remove_all(m_Dir); }

  MvString path() const { return MvString(m_Dir.c_str()); }
  std::string file(const char* rel) const { return (m_Dir / rel).string(); }
  const std::string& signature() const { return m_Signature; }
  TBX_Context& context() { return m_Context; }

private:
  void Put(const char* rel, const char* text)
  {
    FILE* f = fopen((m_Dir / rel).c_str(), "wb");
    fputs(text, f);
    fclose(f);
  }
  std::filesystem::path m_Dir;
  std::string m_Signature;
  TBX_Context m_Context;
};

Store& TheStore()
{
  static Store store;
  return store;
}

// ---- Baseline: the same work with OpenSSL and nothing else -----------------------------------

std::string ReadWhole(const std::string& path)
{
  std::string text;
  FILE* f = fopen(path.c_str(), "rb");
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0)
    text.append(buf, n);
  fclose(f);
  return text;
}

int Nibble(char c)
{
  return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

std::vector<unsigned char> Unhex(const std::string& hex)
{
  std::vector<unsigned char> out(hex.size() / 2);
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<unsigned char>(Nibble(hex[2 * i]) * 16 + Nibble(hex[2 * i + 1]));
  return out;
}

EVP_PKEY* DecodeDer(const std::vector<unsigned char>& der, int selection)
{
  EVP_PKEY* key = nullptr;
  OSSL_DECODER_CTX* dctx = OSSL_DECODER_CTX_new_for_pkey(&key, "DER", "type-specific", "RSA",
                                                         selection, nullptr, nullptr);
  const unsigned char* p = der.data();
  size_t left = der.size();
  OSSL_DECODER_from_data(dctx, &p, &left);
  OSSL_DECODER_CTX_free(dctx);
  return key;
}

void WidenedDigest(const char* text, unsigned char digest[20])
{
  size_t n = strlen(text);
  std::vector<unsigned char> wide(2 * n);
  for (size_t i = 0; i < n; ++i)
    wide[2 * i] = static_cast<unsigned char>(text[i]);
  EVP_Digest(wide.data(), wide.size(), digest, nullptr, EVP_sha1(), nullptr);
}

void BM_SignBaseline(benchmark::State& state)
{
  const std::string path = TheStore().file("keys/private/k");
  for (auto _ : state) {
    EVP_PKEY* key = DecodeDer(Unhex(ReadWhole(path)), OSSL_KEYMGMT_SELECT_KEYPAIR);
    unsigned char digest[20];
    WidenedDigest(OFFER, digest);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    EVP_PKEY_sign_init(ctx);
    EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING);
    unsigned char sig[512];
    size_t sigLength = sizeof sig;
    EVP_PKEY_sign(ctx, sig, &sigLength, digest, sizeof digest);
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (size_t i = 0; i < sigLength; ++i) {
      hex += digits[sig[i] >> 4];
      hex += digits[sig[i] & 15];
    }
    benchmark::DoNotOptimize(hex.data());
    EVP_PKEY_CTX_free(ctx);
    EVP_PKEY_free(key);
  }
}
BENCHMARK(BM_SignBaseline);

void BM_SignData(benchmark::State& state)
{
  TBX_Context& context = TheStore().context();
  const MvString data(OFFER);
  const MvString id("k");
  for (auto _ : state) {
    MvString sig;
    context.SignData(data, id, sig);
    benchmark::DoNotOptimize(sig.c_str());
  }
}
BENCHMARK(BM_SignData);

void BM_VerifyBaseline(benchmark::State& state)
{
  const std::string path = TheStore().file("keys/public/k");
  const std::string& sigText = TheStore().signature();
  for (auto _ : state) {
    EVP_PKEY* key = DecodeDer(Unhex(ReadWhole(path)), OSSL_KEYMGMT_SELECT_PUBLIC_KEY);
    std::vector<unsigned char> sig = Unhex(sigText);
    unsigned char digest[20];
    WidenedDigest(OFFER, digest);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    EVP_PKEY_verify_recover_init(ctx);
    EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING);
    unsigned char recovered[512];
    size_t recoveredLength = sizeof recovered;
    EVP_PKEY_verify_recover(ctx, recovered, &recoveredLength, sig.data(), sig.size());
    bool ok = recoveredLength == 20 && CRYPTO_memcmp(recovered, digest, 20) == 0;
    if (!ok)
      state.SkipWithError("baseline did not verify");
    EVP_PKEY_CTX_free(ctx);
    EVP_PKEY_free(key);
  }
}
BENCHMARK(BM_VerifyBaseline);

void BM_VerifyData(benchmark::State& state)
{
  TBX_Context& context = TheStore().context();
  const MvString data(OFFER);
  const MvString id("k");
  const MvString sig(TheStore().signature().c_str());
  for (auto _ : state)
    context.VerifyData(data, id, sig);
}
BENCHMARK(BM_VerifyData);

}  // namespace

BENCHMARK_MAIN();
