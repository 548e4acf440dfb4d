#include "sbcrypto.h"

#include "sbfile.h"

#include <charconv>
#include <memory>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace sandbox {

namespace {

struct PkeyFree
{
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct PctxFree
{
  void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
};
struct X509Free
{
  void operator()(X509* p) const { X509_free(p); }
};
struct BioFree
{
  void operator()(BIO* p) const { BIO_free(p); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using Pctx = std::unique_ptr<EVP_PKEY_CTX, PctxFree>;
using Cert = std::unique_ptr<X509, X509Free>;
using Bio = std::unique_ptr<BIO, BioFree>;

// Larger merchant keys are refused at registration: they bound the work one request can cause.
constexpr int kMaxKeyBits = 4096;
constexpr size_t kMaxDer = 4096;

// The byte written as the two hex digits (either case) at `two`; false unless both are digits.
// from_chars takes no sign, space or "0x" for an unsigned value, so only the digits themselves
// pass.
bool HexByte(const char* two, char& byte)
{
  unsigned value = 0;
  const std::from_chars_result got = std::from_chars(two, two + 2, value, 16);
  if (got.ec != std::errc() || got.ptr != two + 2)
    return false;
  byte = static_cast<char>(value);
  return true;
}

Pkey PublicFromHex(const std::string& hex)
{
  std::string der;
  if (!FromHex(hex, der) || der.empty() || der.size() > kMaxDer)
    return nullptr;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
  Pkey key(d2i_PublicKey(EVP_PKEY_RSA, nullptr, &p, static_cast<long>(der.size())));
  // Trailing bytes mean the text is not exactly one key.
  if (key && p != reinterpret_cast<const unsigned char*>(der.data()) + der.size())
    return nullptr;
  return key;
}

Pkey PrivateFromHex(const std::string& hex)
{
  std::string der;
  if (!FromHex(hex, der) || der.empty() || der.size() > 4 * kMaxDer)
    return nullptr;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
  return Pkey(d2i_PrivateKey(EVP_PKEY_RSA, nullptr, &p, static_cast<long>(der.size())));
}

// SHA-1 over the text widened to 16-bit little-endian units.
bool WidenedDigest(const std::string& text, unsigned char digest[20])
{
  std::string wide;
  wide.reserve(text.size() * 2);
  for (char c : text) {
    wide.push_back(c);
    wide.push_back('\0');
  }
  unsigned int len = 0;
  return EVP_Digest(wide.data(), wide.size(), digest, &len, EVP_sha1(), nullptr) == 1 && len == 20;
}

std::string DerOf(EVP_PKEY* key, bool isPrivate)
{
  unsigned char* buf = nullptr;
  int len = isPrivate ? i2d_PrivateKey(key, &buf) : i2d_PublicKey(key, &buf);
  if (len <= 0)
    return std::string();
  std::string der(reinterpret_cast<char*>(buf), static_cast<size_t>(len));
  OPENSSL_free(buf);
  return der;
}

}  // namespace

std::string ToHex(const std::string& bytes)
{
  static const char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char b : bytes) {
    out.push_back(digits[b >> 4]);
    out.push_back(digits[b & 15]);
  }
  return out;
}

bool FromHex(const std::string& hex, std::string& out)
{
  if (hex.size() % 2 != 0)
    return false;
  std::string bytes;
  bytes.reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    char byte;
    if (!HexByte(hex.data() + i, byte))
      return false;
    bytes.push_back(byte);
  }
  out.swap(bytes);
  return true;
}

std::string UrlEncode(const std::string& text)
{
  static const char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size() * 3);
  for (unsigned char c : text) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(digits[c >> 4]);
      out.push_back(digits[c & 15]);
    }
  }
  return out;
}

bool UrlDecode(const std::string& text, std::string& out)
{
  std::string decoded;
  decoded.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%') {
      if (i + 2 >= text.size())
        return false;
      char byte;
      if (!HexByte(text.data() + i + 1, byte))
        return false;
      decoded.push_back(byte);
      i += 2;
    } else if (c == '+') {
      decoded.push_back(' ');
    } else {
      decoded.push_back(c);
    }
  }
  out.swap(decoded);
  return true;
}

bool Base64Decode(const std::string& text, std::string& out)
{
  static const std::string alphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  if (text.size() % 4 != 0)
    return false;
  std::string bytes;
  for (size_t i = 0; i < text.size(); i += 4) {
    unsigned v = 0;
    int pad = 0;
    for (size_t j = 0; j < 4; ++j) {
      char c = text[i + j];
      if (c == '=') {
        // Padding only in the last group's final one or two places.
        if (i + 4 != text.size() || j < 2)
          return false;
        ++pad;
        v <<= 6;
        continue;
      }
      size_t idx = alphabet.find(c);
      if (idx == std::string::npos || pad > 0)
        return false;
      v = (v << 6) | static_cast<unsigned>(idx);
    }
    bytes.push_back(static_cast<char>((v >> 16) & 0xff));
    if (pad < 2)
      bytes.push_back(static_cast<char>((v >> 8) & 0xff));
    if (pad < 1)
      bytes.push_back(static_cast<char>(v & 0xff));
  }
  out.swap(bytes);
  return true;
}

std::string RandomText(size_t length, const std::string& alphabet)
{
  std::string out;
  // Rejection sampling keeps every character equally likely.
  const unsigned limit = 256 - 256 % static_cast<unsigned>(alphabet.size());
  while (out.size() < length) {
    unsigned char buf[64];
    if (RAND_bytes(buf, sizeof buf) != 1)
      continue;
    for (unsigned char b : buf) {
      if (b < limit && out.size() < length)
        out.push_back(alphabet[b % alphabet.size()]);
    }
  }
  return out;
}

bool GenerateKeyPair(int bits, KeyPair& out)
{
  Pkey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(bits)));
  if (!key)
    return false;
  std::string pub = DerOf(key.get(), false), priv = DerOf(key.get(), true);
  if (pub.empty() || priv.empty())
    return false;
  out.publicHex = ToHex(pub);
  out.privateHex = ToHex(priv);
  return true;
}

int PublicKeyBits(const std::string& publicHex)
{
  Pkey key = PublicFromHex(publicHex);
  if (!key)
    return 0;
  int bits = EVP_PKEY_get_bits(key.get());
  return bits > 0 && bits <= kMaxKeyBits ? bits : 0;
}

bool Sign(const std::string& text, const std::string& privateHex, std::string& signatureHex)
{
  Pkey key = PrivateFromHex(privateHex);
  unsigned char digest[20];
  if (!key || !WidenedDigest(text, digest))
    return false;
  Pctx ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr));
  size_t len = 0;
  // No signature digest is set, so the provider pads the bare digest (block type 1) without a
  // DigestInfo around it.
  if (!ctx || EVP_PKEY_sign_init(ctx.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1 ||
      EVP_PKEY_sign(ctx.get(), nullptr, &len, digest, sizeof digest) != 1)
    return false;
  std::string sig(len, '\0');
  if (EVP_PKEY_sign(ctx.get(), reinterpret_cast<unsigned char*>(&sig[0]), &len, digest,
                    sizeof digest) != 1)
    return false;
  sig.resize(len);
  signatureHex = ToHex(sig);
  return true;
}

bool Verify(const std::string& text, const std::string& publicHex, const std::string& signatureHex)
{
  Pkey key = PublicFromHex(publicHex);
  std::string sig;
  unsigned char digest[20];
  if (!key || !FromHex(signatureHex, sig) || sig.empty() || !WidenedDigest(text, digest))
    return false;
  Pctx ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr));
  if (!ctx || EVP_PKEY_verify_recover_init(ctx.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1)
    return false;
  size_t len = 0;
  if (EVP_PKEY_verify_recover(ctx.get(), nullptr, &len,
                              reinterpret_cast<const unsigned char*>(sig.data()), sig.size()) != 1)
    return false;
  std::string recovered(len, '\0');
  if (EVP_PKEY_verify_recover(ctx.get(), reinterpret_cast<unsigned char*>(&recovered[0]), &len,
                              reinterpret_cast<const unsigned char*>(sig.data()), sig.size()) != 1)
    return false;
  return len == sizeof digest && CRYPTO_memcmp(recovered.data(), digest, sizeof digest) == 0;
}

// --- TLS material -------------------------------------------------------------------------------

namespace {

constexpr long kCaDays = 3650;
constexpr long kServerDays = 825;

bool AddExt(X509* cert, X509* issuer, int nid, const char* value)
{
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_nconf_nid(nullptr, &ctx, nid, value);
  if (!ext)
    return false;
  bool ok = X509_add_ext(cert, ext, -1) == 1;
  X509_EXTENSION_free(ext);
  return ok;
}

Cert MakeCert(EVP_PKEY* key, const char* cn, X509* issuer, EVP_PKEY* issuerKey, long days,
              bool isCa)
{
  Cert cert(X509_new());
  if (!cert || X509_set_version(cert.get(), 2) != 1)
    return nullptr;
  unsigned char serial[16];
  if (RAND_bytes(serial, sizeof serial) != 1)
    return nullptr;
  serial[0] &= 0x7f;  // a positive serial number
  BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
  bool ok = bn && BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get())) != nullptr;
  BN_free(bn);
  if (!ok)
    return nullptr;
  // An hour of slack for clocks that lag behind.
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), days * 86400L);
  X509_NAME* name = X509_get_subject_name(cert.get());
  if (X509_set_pubkey(cert.get(), key) != 1 ||
      X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                                 reinterpret_cast<const unsigned char*>("kestrum-sandbox"), -1, -1,
                                 0) != 1 ||
      X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                 reinterpret_cast<const unsigned char*>(cn), -1, -1, 0) != 1)
    return nullptr;
  X509* signer = issuer ? issuer : cert.get();
  if (X509_set_issuer_name(cert.get(), X509_get_subject_name(signer)) != 1)
    return nullptr;
  if (isCa) {
    ok = AddExt(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE,pathlen:0") &&
         AddExt(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign") &&
         AddExt(cert.get(), signer, NID_subject_key_identifier, "hash");
  } else {
    ok = AddExt(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE") &&
         AddExt(cert.get(), signer, NID_key_usage, "critical,digitalSignature") &&
         AddExt(cert.get(), signer, NID_ext_key_usage, "serverAuth") &&
         AddExt(cert.get(), signer, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost") &&
         AddExt(cert.get(), signer, NID_subject_key_identifier, "hash") &&
         AddExt(cert.get(), signer, NID_authority_key_identifier, "keyid:always");
  }
  if (!ok || X509_sign(cert.get(), issuerKey ? issuerKey : key, EVP_sha256()) <= 0)
    return nullptr;
  return cert;
}

// The first object of the PEM file at `path`, read by `read` (a PEM_read_bio_* function); null
// when the file cannot be read or holds none.
template <class Owner, class Read>
Owner LoadPem(const std::string& path, Read read)
{
  std::string pem;
  if (!ReadFile(path, pem))
    return nullptr;
  Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  return Owner(bio ? read(bio.get(), nullptr, nullptr, nullptr) : nullptr);
}

Cert LoadCert(const std::string& path)
{
  return LoadPem<Cert>(path, PEM_read_bio_X509);
}

Pkey LoadKey(const std::string& path)
{
  return LoadPem<Pkey>(path, PEM_read_bio_PrivateKey);
}

std::string BioText(BIO* bio)
{
  char* data = nullptr;
  long len = BIO_get_mem_data(bio, &data);
  return len > 0 ? std::string(data, static_cast<size_t>(len)) : std::string();
}

bool SavePair(const std::string& dir, const std::string& stem, X509* cert, EVP_PKEY* key,
              std::string& error)
{
  Bio certBio(BIO_new(BIO_s_mem())), keyBio(BIO_new(BIO_s_mem()));
  if (!certBio || !keyBio || PEM_write_bio_X509(certBio.get(), cert) != 1 ||
      PEM_write_bio_PrivateKey(keyBio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1) {
    error = "cannot encode the " + stem + " certificate";
    return false;
  }
  // The key first: a certificate on disk always has its key beside it.
  return WriteFileAtomic(dir + "/" + stem + ".key", BioText(keyBio.get()), 0600, error) &&
         WriteFileAtomic(dir + "/" + stem + ".pem", BioText(certBio.get()), 0644, error);
}

// TLS keys are P-256: made in an instant, which keeps a first --tls start quick.
EVP_PKEY* NewTlsKey()
{
  return EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
}

bool ValidForADay(X509* cert)
{
  time_t soon = time(nullptr) + 86400;
  return X509_cmp_time(X509_get0_notAfter(cert), &soon) > 0;
}

}  // namespace

bool EnsureTlsMaterial(const std::string& dir, std::string& error)
{
  Cert ca = LoadCert(dir + "/ca.pem");
  Pkey caKey = LoadKey(dir + "/ca.key");
  bool newCa = false;
  if (!ca || !caKey || X509_check_private_key(ca.get(), caKey.get()) != 1 ||
      !ValidForADay(ca.get())) {
    caKey.reset(NewTlsKey());
    if (!caKey ||
        !(ca = MakeCert(caKey.get(), "kestrum-sandbox CA", nullptr, nullptr, kCaDays, true))) {
      error = "cannot create the sandbox CA";
      return false;
    }
    if (!SavePair(dir, "ca", ca.get(), caKey.get(), error))
      return false;
    newCa = true;
  }
  Cert server = LoadCert(dir + "/server.pem");
  Pkey serverKey = LoadKey(dir + "/server.key");
  if (!newCa && server && serverKey && X509_check_private_key(server.get(), serverKey.get()) == 1 &&
      X509_verify(server.get(), caKey.get()) == 1 && ValidForADay(server.get()))
    return true;
  serverKey.reset(NewTlsKey());
  if (!serverKey || !(server = MakeCert(serverKey.get(), "127.0.0.1", ca.get(), caKey.get(),
                                        kServerDays, false))) {
    error = "cannot create the sandbox server certificate";
    return false;
  }
  return SavePair(dir, "server", server.get(), serverKey.get(), error);
}

}  // namespace sandbox
