/*
 * KrptSign.cpp - the crypto module over OpenSSL 3's EVP, encoder and decoder interfaces.
 */
#include "KrptSign.h"
#include "KrptCache.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/decoder.h>
#include <openssl/encoder.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>

#include <climits>
#include <cstring>

namespace {

/* Public exponent of every generated key. */
const unsigned int RSA_EXPONENT = 65537;

/*
 * Keeps OpenSSL's thread-local error queue as the caller left it: the decoders push errors even
 * while probing, and nothing here reports through the queue.
 */
class ErrorMark
{
public:
  // ERR_set_mark answers 0 for an empty queue: no second look at the queue on every call.
  ErrorMark() : m_Clean(ERR_set_mark() == 0) {}
  ~ErrorMark() { ERR_pop_to_mark(); }
  ErrorMark(const ErrorMark&) = delete;
  ErrorMark& operator=(const ErrorMark&) = delete;

  /*
   * The result of a failed step: KRPT_OUT_OF_MEMORY as it stands, and -1 unless OpenSSL recorded
   * an allocation failure since the mark. All its errors are looked at when the queue was empty
   * before the mark (they are all ours to drop); otherwise only the latest, so the caller's stay.
   */
  int Failure(int rc = -1) const
  {
    if (rc == KRPT_OUT_OF_MEMORY)
      return rc;
    bool allocation = false;
    if (!m_Clean) {
      allocation = IsAllocationFailure(ERR_peek_last_error());
    } else {
      unsigned long error;
      while ((error = ERR_get_error()) != 0)
        allocation = allocation || IsAllocationFailure(error);
    }
    return allocation ? KRPT_OUT_OF_MEMORY : -1;
  }

private:
  static bool IsAllocationFailure(unsigned long error)
  {
    return ERR_GET_REASON(error) == ERR_R_MALLOC_FAILURE;
  }

  bool m_Clean;
};

/* Owns an EVP_PKEY or an EVP_PKEY_CTX for the length of one call. */
struct PkeyHolder
{
  EVP_PKEY* key = nullptr;
  ~PkeyHolder() { EVP_PKEY_free(key); }
};
struct PkeyCtxHolder
{
  EVP_PKEY_CTX* ctx = nullptr;
  ~PkeyCtxHolder() { EVP_PKEY_CTX_free(ctx); }
};

/*
 * Decodes a PKCS#1 DER key ("type-specific" structure: RSAPublicKey or RSAPrivateKey). Bytes
 * after the structure are ignored, as the store's readers always did. Keys above the size bound
 * are refused so that a hostile blob cannot make one call run for seconds.
 */
int DecodeKey(const unsigned char* der, int length, int selection, EVP_PKEY** out)
{
  if (der == nullptr || length <= 0)
    return -1;
  EVP_PKEY* key = nullptr;
  OSSL_DECODER_CTX* dctx = OSSL_DECODER_CTX_new_for_pkey(&key, "DER", "type-specific", "RSA",
                                                         selection, nullptr, nullptr);
  // Without a context, a decoder or the input buffer nothing was tried: OpenSSL ran short, the
  // key is not at fault.
  BIO* in = dctx != nullptr && OSSL_DECODER_CTX_get_num_decoders(dctx) > 0
                ? BIO_new_mem_buf(der, length)
                : nullptr;
  if (in == nullptr) {
    OSSL_DECODER_CTX_free(dctx);
    return KRPT_OUT_OF_MEMORY;
  }
  int ok = OSSL_DECODER_from_bio(dctx, in);
  BIO_free(in);
  OSSL_DECODER_CTX_free(dctx);
  if (!ok || key == nullptr || EVP_PKEY_get_bits(key) > KRPT_MAX_KEY_BITS) {
    EVP_PKEY_free(key);
    return -1;
  }
  *out = key;
  return 0;
}

int DecodePublicKey(const unsigned char* der, int length, EVP_PKEY** out)
{
  return DecodeKey(der, length, OSSL_KEYMGMT_SELECT_PUBLIC_KEY, out);
}

int DecodePrivateKey(const unsigned char* der, int length, EVP_PKEY** out)
{
  return DecodeKey(der, length, OSSL_KEYMGMT_SELECT_KEYPAIR, out);
}

/*
 * The soundness rules of KRPT_CheckPublicKey; `modulusBytes` receives the key's size. The numbers
 * are read from the key itself: the sizes OpenSSL caches beside it are left at 0 when an
 * allocation failed while it decoded.
 */
int CheckSoundness(EVP_PKEY* key, int* modulusBytes)
{
  BIGNUM* n = nullptr;
  BIGNUM* e = nullptr;
  int rc = 0;
  if (EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_N, &n) != 1 ||
      EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_E, &e) != 1) {
    rc = KRPT_OUT_OF_MEMORY;
  } else {
    const int bits = BN_num_bits(n);
    if (bits < KRPT_MIN_KEY_BITS || bits > KRPT_MAX_KEY_BITS || !BN_is_odd(n) || !BN_is_odd(e) ||
        BN_is_one(e))
      rc = KRPT_UNSOUND_KEY;
    *modulusBytes = BN_num_bytes(n);
  }
  BN_free(n);
  BN_free(e);
  return rc;
}

/* Writes the PKCS#1 DER form of `key` (public or key pair per `selection`) into `out`. */
bool EncodeKey(EVP_PKEY* key, int selection, unsigned char* out, int* length)
{
  OSSL_ENCODER_CTX* ectx =
      OSSL_ENCODER_CTX_new_for_pkey(key, selection, "DER", "type-specific", nullptr);
  if (ectx == nullptr)
    return false;
  unsigned char* der = nullptr;
  size_t derLength = 0;
  bool ok = OSSL_ENCODER_to_data(ectx, &der, &derLength) == 1 && der != nullptr &&
            derLength <= static_cast<size_t>(*length);
  if (ok) {
    memcpy(out, der, derLength);
    *length = static_cast<int>(derLength);
  }
  if (der != nullptr)
    OPENSSL_clear_free(der, derLength);
  OSSL_ENCODER_CTX_free(ectx);
  return ok;
}

bool Sha1(const unsigned char* data, unsigned long length, unsigned char digest[KRPT_DIGEST_LENGTH])
{
  static const unsigned char empty = 0;
  if (data == nullptr)
    data = &empty;
  unsigned int digestLength = 0;
  // This thread's implementation and context, set up once: EVP_sha1() would be looked up, and a
  // context allocated, on every call.
  const EVP_MD* sha1 = KRPT_Sha1();
  EVP_MD_CTX* ctx = sha1 != nullptr ? KRPT_Sha1Context() : nullptr;
  if (ctx == nullptr)
    return EVP_Digest(data, length, digest, &digestLength, EVP_sha1(), nullptr) == 1 &&
           digestLength == KRPT_DIGEST_LENGTH;
  return EVP_DigestInit_ex2(ctx, sha1, nullptr) == 1 && EVP_DigestUpdate(ctx, data, length) == 1 &&
         EVP_DigestFinal_ex(ctx, digest, &digestLength) == 1 && digestLength == KRPT_DIGEST_LENGTH;
}

/*
 * Runs one PKCS#1 v1.5 RSA operation: init selects sign, verify-recover, encrypt or decrypt.
 * 0, -1 when the operation refuses its input, KRPT_OUT_OF_MEMORY when it cannot be set up (a
 * decoded RSA key always can).
 */
template <typename Init, typename Op>
int RsaOperation(EVP_PKEY* key, Init init, Op op, const unsigned char* in, size_t inLength,
                 unsigned char* out, size_t* outLength)
{
  PkeyCtxHolder ctx;
  ctx.ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
  if (ctx.ctx == nullptr || init(ctx.ctx) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.ctx, RSA_PKCS1_PADDING) != 1)
    return KRPT_OUT_OF_MEMORY;
  return op(ctx.ctx, out, outLength, in, inLength) == 1 ? 0 : -1;
}

/* RsaOperation on a cached key, with the operation it keeps; one that fails is set up afresh
 * next time, so that no state of a refused input outlives its call. */
template <typename Init, typename Op>
int CachedOperation(const KrptKeyEntry& entry, Init init, Op op, const unsigned char* in,
                    size_t inLength, unsigned char* out, size_t* outLength)
{
  if (entry.operation == nullptr)
    return RsaOperation(entry.key, init, op, in, inLength, out, outLength);
  if (op(entry.operation, out, outLength, in, inLength) == 1)
    return 0;
  KRPT_DiscardOperation(&entry);
  return -1;
}

/*
 * The two raw PKCS#1 v1.5 (block type 2) operations on a key decoded for the call. The block is
 * made in a work buffer first, so that a capacity below the key size fails cleanly instead of
 * depending on how OpenSSL treats a short output; the buffer is cleansed on every path, as it
 * may hold a decrypted secret.
 */
template <typename Init, typename Op>
int BlockOperation(int (*decode)(const unsigned char*, int, EVP_PKEY**), Init init, Op op,
                   const unsigned char* der, int derLength, const unsigned char* input,
                   unsigned long inputLength, unsigned char* output, unsigned long* outputLength)
{
  if (input == nullptr || output == nullptr || outputLength == nullptr)
    return -1;
  ErrorMark mark;
  PkeyHolder key;
  int rc = decode(der, derLength, &key.key);
  if (rc != 0)
    return mark.Failure(rc);
  unsigned char block[KRPT_MAX_KEY_BITS / 8];
  size_t length = sizeof block;
  rc = RsaOperation(key.key, init, op, input, inputLength, block, &length);
  const bool fits = rc == 0 && length <= *outputLength;
  if (fits) {
    memcpy(output, block, length);
    *outputLength = length;
  }
  OPENSSL_cleanse(block, sizeof block);
  if (rc != 0)
    return mark.Failure(rc);
  return fits ? 0 : -1;
}

/* What the cache runs on a miss: the decode and, for a key that verifies, its soundness. */
int DecodeSigningKey(const unsigned char* der, int length, EVP_PKEY** key, int* modulusBytes)
{
  const int rc = DecodePrivateKey(der, length, key);
  if (rc == 0)
    *modulusBytes = EVP_PKEY_get_size(*key);
  return rc;
}

int DecodeVerifyingKey(const unsigned char* der, int length, EVP_PKEY** key, int* modulusBytes)
{
  int rc = DecodePublicKey(der, length, key);
  if (rc == 0)
    rc = CheckSoundness(*key, modulusBytes);
  if (rc != 0 && *key != nullptr) {
    EVP_PKEY_free(*key);
    *key = nullptr;
  }
  return rc;
}

}  // namespace

int KRPT_GenerateKeys(unsigned char* publicKey, int* publicLength, unsigned char* privateKey,
                      int* privateLength, const unsigned char* seed, int seedLength, int bits)
{
  if (publicKey == nullptr || publicLength == nullptr || privateKey == nullptr ||
      privateLength == nullptr || bits < 512 || bits > KRPT_MAX_KEY_BITS)
    return -1;
  ErrorMark mark;
  if (seedLength > 0 && seed != nullptr)
    RAND_seed(seed, seedLength);

  PkeyCtxHolder ctx;
  ctx.ctx = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
  if (ctx.ctx == nullptr || EVP_PKEY_keygen_init(ctx.ctx) != 1 ||
      EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.ctx, bits) != 1)
    return mark.Failure();
  BIGNUM* exponent = BN_new();
  if (exponent == nullptr || BN_set_word(exponent, RSA_EXPONENT) != 1 ||
      EVP_PKEY_CTX_set1_rsa_keygen_pubexp(ctx.ctx, exponent) != 1) {
    BN_free(exponent);
    return mark.Failure();
  }
  BN_free(exponent);

  PkeyHolder key;
  if (EVP_PKEY_generate(ctx.ctx, &key.key) != 1)
    return mark.Failure();
  int pubLength = *publicLength;
  int privLength = *privateLength;
  if (!EncodeKey(key.key, OSSL_KEYMGMT_SELECT_PUBLIC_KEY, publicKey, &pubLength) ||
      !EncodeKey(key.key, OSSL_KEYMGMT_SELECT_KEYPAIR, privateKey, &privLength))
    return mark.Failure();
  *publicLength = pubLength;
  *privateLength = privLength;
  return 0;
}

int KRPT_Signature(const unsigned char* privateKey, int privateLength, const unsigned char* data,
                   unsigned long dataLength, unsigned char* signature,
                   unsigned long* signatureLength)
{
  if (signature == nullptr || signatureLength == nullptr || (data == nullptr && dataLength != 0))
    return -1;
  ErrorMark mark;
  const KrptKeyEntry* key = nullptr;
  int rc = KRPT_AcquireKey(KRPT_SIGNING_KEY, privateKey, privateLength, DecodeSigningKey, key);
  if (rc != 0)
    return mark.Failure(rc);
  unsigned char digest[KRPT_DIGEST_LENGTH];
  // Hashing fails only for want of memory.
  if (!Sha1(data, dataLength, digest))
    return KRPT_OUT_OF_MEMORY;
  // No signature digest is set on the context: the bare digest is padded (block type 1) and
  // signed as it is, with no DigestInfo.
  size_t length = *signatureLength;
  rc = CachedOperation(*key, EVP_PKEY_sign_init, EVP_PKEY_sign, digest, sizeof digest, signature,
                       &length);
  if (rc != 0)
    return mark.Failure(rc);
  *signatureLength = length;
  return 0;
}

int KRPT_Verify(const unsigned char* publicKey, int publicLength, const unsigned char* data,
                unsigned long dataLength, const unsigned char* signature,
                unsigned long signatureLength)
{
  if (signature == nullptr || (data == nullptr && dataLength != 0))
    return -1;
  ErrorMark mark;
  // The soundness checks run when the key is decoded, once per key the cache holds.
  const KrptKeyEntry* key = nullptr;
  int rc = KRPT_AcquireKey(KRPT_VERIFYING_KEY, publicKey, publicLength, DecodeVerifyingKey, key);
  if (rc == KRPT_UNSOUND_KEY)
    return rc;
  if (rc != 0)
    return mark.Failure(rc);
  // OpenSSL would take a shorter text as the same number with leading zeros.
  if (signatureLength != static_cast<unsigned long>(key->modulusBytes))
    return KRPT_BAD_SIGNATURE_LENGTH;
  unsigned char digest[KRPT_DIGEST_LENGTH];
  if (!Sha1(data, dataLength, digest))
    return KRPT_OUT_OF_MEMORY;
  unsigned char recovered[KRPT_MAX_KEY_BITS / 8];
  size_t recoveredLength = sizeof recovered;
  rc = CachedOperation(*key, EVP_PKEY_verify_recover_init, EVP_PKEY_verify_recover, signature,
                       signatureLength, recovered, &recoveredLength);
  if (rc != 0)
    return mark.Failure(rc);
  if (recoveredLength != KRPT_DIGEST_LENGTH ||
      CRYPTO_memcmp(recovered, digest, KRPT_DIGEST_LENGTH) != 0)
    return -1;
  return 0;
}

int KRPT_CryptDigest(const unsigned char* publicKey, int publicLength, const unsigned char* input,
                     unsigned long inputLength, unsigned char* output, unsigned long* outputLength)
{
  return BlockOperation(DecodePublicKey, EVP_PKEY_encrypt_init, EVP_PKEY_encrypt, publicKey,
                        publicLength, input, inputLength, output, outputLength);
}

int KRPT_DecryptDigest(const unsigned char* privateKey, int privateLength,
                       const unsigned char* input, unsigned long inputLength, unsigned char* output,
                       unsigned long* outputLength)
{
  return BlockOperation(DecodePrivateKey, EVP_PKEY_decrypt_init, EVP_PKEY_decrypt, privateKey,
                        privateLength, input, inputLength, output, outputLength);
}

int KRPT_CheckPublicKey(const unsigned char* publicKey, int publicLength)
{
  ErrorMark mark;
  PkeyHolder key;
  int rc = DecodePublicKey(publicKey, publicLength, &key.key);
  int modulusBytes = 0;
  if (rc == 0)
    rc = CheckSoundness(key.key, &modulusBytes);
  if (rc == KRPT_UNSOUND_KEY)
    return -1;
  return rc == 0 ? 0 : mark.Failure(rc);
}
