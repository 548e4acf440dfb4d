// The baseline reproduces a script's calls, deprecated ones included: they are the shortest path
// OpenSSL offers, and the library is measured against it.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "openssl_direct.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>

#include <cstdio>
#include <vector>

namespace {

bool ReadWhole(const std::string& path, std::string& text)
{
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr)
    return false;
  char buf[4096];
  size_t n;
  text.clear();
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
    text.append(buf, n);
  std::fclose(f);
  return true;
}

int Nibble(char c)
{
  if (c >= '0' && c <= '9')
    return c - '0';
  c = static_cast<char>(c | 0x20);
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

bool Unhex(const std::string& hex, std::vector<unsigned char>& out)
{
  if (hex.size() % 2 != 0)
    return false;
  out.resize(hex.size() / 2);
  for (size_t i = 0; i < out.size(); ++i) {
    const int hi = Nibble(hex[2 * i]), lo = Nibble(hex[2 * i + 1]);
    if (hi < 0 || lo < 0)
      return false;
    out[i] = static_cast<unsigned char>(hi * 16 + lo);
  }
  return true;
}

void WidenedSha1(const std::string& text, unsigned char digest[SHA_DIGEST_LENGTH])
{
  std::vector<unsigned char> wide(2 * text.size());
  for (size_t i = 0; i < text.size(); ++i)
    wide[2 * i] = static_cast<unsigned char>(text[i]);
  SHA1(wide.data(), wide.size(), digest);
}

}  // namespace

bool DirectSign(const std::string& keyFile, const std::string& text, std::string& signatureHex)
{
  std::string hex;
  std::vector<unsigned char> der;
  if (!ReadWhole(keyFile, hex) || !Unhex(hex, der))
    return false;
  const unsigned char* p = der.data();
  RSA* rsa = d2i_RSAPrivateKey(nullptr, &p, static_cast<long>(der.size()));
  OPENSSL_cleanse(der.data(), der.size());
  if (rsa == nullptr)
    return false;
  unsigned char digest[SHA_DIGEST_LENGTH];
  WidenedSha1(text, digest);
  unsigned char signature[512];
  const int n = RSA_private_encrypt(SHA_DIGEST_LENGTH, digest, signature, rsa, RSA_PKCS1_PADDING);
  RSA_free(rsa);
  if (n <= 0)
    return false;
  static const char digits[] = "0123456789abcdef";
  signatureHex.resize(2 * static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    signatureHex[2 * i] = digits[signature[i] >> 4];
    signatureHex[2 * i + 1] = digits[signature[i] & 15];
  }
  return true;
}

bool DirectVerify(const std::string& keyFile, const std::string& text,
                  const std::string& signatureHex)
{
  std::string hex;
  std::vector<unsigned char> der, signature;
  if (!ReadWhole(keyFile, hex) || !Unhex(hex, der) || !Unhex(signatureHex, signature))
    return false;
  const unsigned char* p = der.data();
  RSA* rsa = d2i_RSAPublicKey(nullptr, &p, static_cast<long>(der.size()));
  if (rsa == nullptr)
    return false;
  unsigned char digest[SHA_DIGEST_LENGTH];
  WidenedSha1(text, digest);
  unsigned char recovered[512];
  const int n = RSA_public_decrypt(static_cast<int>(signature.size()), signature.data(), recovered,
                                   rsa, RSA_PKCS1_PADDING);
  RSA_free(rsa);
  return n == SHA_DIGEST_LENGTH && CRYPTO_memcmp(recovered, digest, SHA_DIGEST_LENGTH) == 0;
}
