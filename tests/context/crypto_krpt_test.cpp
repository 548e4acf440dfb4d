// The crypto module against the signature vectors, tampering, malformed keys and bounds.
#include "KrptSign.h"
#include "crypto_vectors.h"

#include <gtest/gtest.h>
#include <openssl/err.h>

using namespace cryptotest;

namespace {

struct KeyPair
{
  Bytes pub, priv;
};

KeyPair VectorKey(const char* name)
{
  const Json& k = Vectors()[name];
  return {FromHex(k["public_hex"].str), FromHex(k["private_hex"].str)};
}

int Sign(const Bytes& priv, const Bytes& data, Bytes& sig)
{
  sig.assign(KRPT_SIGNATURE_BUFFER_SIZE, 0);
  unsigned long len = sig.size();
  int rc = KRPT_Signature(priv.data(), static_cast<int>(priv.size()), data.data(), data.size(),
                          sig.data(), &len);
  sig.resize(rc == 0 ? len : 0);
  return rc;
}

int Verify(const Bytes& pub, const Bytes& data, const Bytes& sig)
{
  return KRPT_Verify(pub.data(), static_cast<int>(pub.size()), data.data(), data.size(), sig.data(),
                     sig.size());
}

// A DER RSAPublicKey with a modulus of `bytes` bytes (top byte 0xC1, odd) and exponent 65537.
Bytes CraftedPublicKey(size_t bytes)
{
  Bytes modulus(bytes, 0x5A);
  modulus.front() = 0xC1;
  modulus.back() = 0x01;
  Bytes intModulus = {0x02, 0x82, static_cast<unsigned char>((bytes + 1) >> 8),
                      static_cast<unsigned char>((bytes + 1) & 0xFF), 0x00};
  intModulus.insert(intModulus.end(), modulus.begin(), modulus.end());
  Bytes exponent = {0x02, 0x03, 0x01, 0x00, 0x01};
  size_t body = intModulus.size() + exponent.size();
  Bytes der = {0x30, 0x82, static_cast<unsigned char>(body >> 8),
               static_cast<unsigned char>(body & 0xFF)};
  // Reserved first: optimising GCC 12 sees an out-of-bounds copy in growing the 4-byte header.
  der.reserve(der.size() + body);
  der.insert(der.end(), intModulus.begin(), intModulus.end());
  der.insert(der.end(), exponent.begin(), exponent.end());
  return der;
}

class KrptTest : public ::testing::Test
{
protected:
  void TearDown() override
  {
    // The module must leave OpenSSL's error queue as it found it.
    EXPECT_EQ(ERR_peek_error(), 0UL);
  }
};

}  // namespace

TEST_F(KrptTest, ReproducesEveryVectorByteExactly)
{
  const char* keys[][2] = {{"key512", "signature_key512"}, {"key1024", "signature_key1024"}};
  size_t checked = 0;
  for (const Json& v : Vectors()["signatures"].arr) {
    Bytes text = FromHex(v["text_hex"].str);
    for (auto& k : keys) {
      SCOPED_TRACE(std::string(k[0]) + " text \"" + v["text"].str + "\"");
      KeyPair key = VectorKey(k[0]);
      Bytes sig;
      ASSERT_EQ(Sign(key.priv, Widen(text), sig), 0);
      EXPECT_EQ(ToHex(sig), v[k[1]].str);
      EXPECT_EQ(Verify(key.pub, Widen(text), FromHex(v[k[1]].str)), 0);
      // The digest is over the widened text: a signature does not cover the plain bytes,
      // except for the empty text, where both forms are the same.
      EXPECT_EQ(Verify(key.pub, text, sig), text.empty() ? 0 : -1);
      ++checked;
    }
  }
  EXPECT_EQ(checked, 8U);
}

TEST_F(KrptTest, TamperedDataOrSignatureFails)
{
  KeyPair key = VectorKey("key512");
  const Json& v = Vectors()["signatures"].arr.at(2);
  Bytes data = Widen(FromHex(v["text_hex"].str));
  Bytes sig = FromHex(v["signature_key512"].str);
  ASSERT_EQ(Verify(key.pub, data, sig), 0);

  for (size_t i : {size_t(0), data.size() / 2, data.size() - 1}) {
    Bytes d = data;
    d[i] ^= 0x01;
    EXPECT_EQ(Verify(key.pub, d, sig), -1) << "data byte " << i;
  }
  for (size_t i = 0; i < sig.size(); i += 7) {
    Bytes s = sig;
    s[i] ^= 0x80;
    EXPECT_EQ(Verify(key.pub, data, s), -1) << "signature byte " << i;
  }
  Bytes longer = sig;
  longer.push_back(0);
  Bytes shorter(sig.begin(), sig.end() - 1);
  Bytes dataLonger = data;
  dataLonger.push_back(0);
  // One signature has one form: exactly the modulus' size.
  EXPECT_EQ(Verify(key.pub, data, longer), KRPT_BAD_SIGNATURE_LENGTH);
  EXPECT_EQ(Verify(key.pub, data, shorter), KRPT_BAD_SIGNATURE_LENGTH);
  EXPECT_EQ(Verify(key.pub, dataLonger, sig), -1);
  EXPECT_EQ(Verify(key.pub, data, Bytes()), -1);
  // The other key's public half.
  EXPECT_EQ(Verify(VectorKey("key1024").pub, data, sig), KRPT_BAD_SIGNATURE_LENGTH);
}

TEST_F(KrptTest, MalformedKeysFail)
{
  KeyPair key = VectorKey("key512");
  Bytes data = {'a', 0};
  Bytes sig;
  ASSERT_EQ(Sign(key.priv, data, sig), 0);

  Bytes truncatedPriv(key.priv.begin(), key.priv.end() - 1);
  Bytes truncatedPub(key.pub.begin(), key.pub.end() - 1);
  Bytes garbage(64, 0xFF);
  const Bytes* badPrivate[] = {&truncatedPriv, &garbage, &key.pub};
  for (const Bytes* b : badPrivate) {
    Bytes out;
    EXPECT_EQ(Sign(*b, data, out), -1);
  }
  const Bytes* badPublic[] = {&truncatedPub, &garbage, &key.priv};
  for (const Bytes* b : badPublic)
    EXPECT_EQ(Verify(*b, data, sig), -1);

  unsigned long len = 64;
  unsigned char buf[64];
  EXPECT_EQ(KRPT_Signature(nullptr, 0, data.data(), data.size(), buf, &len), -1);
  EXPECT_EQ(KRPT_Signature(key.priv.data(), -5, data.data(), data.size(), buf, &len), -1);
  EXPECT_EQ(KRPT_Verify(nullptr, 0, data.data(), data.size(), sig.data(), sig.size()), -1);
  EXPECT_EQ(KRPT_Verify(key.pub.data(), static_cast<int>(key.pub.size()), data.data(), data.size(),
                        nullptr, 0),
            -1);
}

TEST_F(KrptTest, TrailingBytesAfterTheKeyAreIgnored)
{
  KeyPair key = VectorKey("key512");
  Bytes data = {'x', 0};
  Bytes sig;
  Bytes priv = key.priv;
  priv.push_back(0x00);
  ASSERT_EQ(Sign(priv, data, sig), 0);
  Bytes pub = key.pub;
  pub.push_back(0x07);
  EXPECT_EQ(Verify(pub, data, sig), 0);
}

TEST_F(KrptTest, SignatureNeedsRoomForTheWholeBlock)
{
  KeyPair key = VectorKey("key512");
  unsigned char data[2] = {'a', 0};
  unsigned char sig[KRPT_SIGNATURE_BUFFER_SIZE];
  unsigned long len = 63;
  EXPECT_EQ(KRPT_Signature(key.priv.data(), static_cast<int>(key.priv.size()), data, 2, sig, &len),
            -1);
  EXPECT_EQ(len, 63UL);
  len = 64;
  EXPECT_EQ(KRPT_Signature(key.priv.data(), static_cast<int>(key.priv.size()), data, 2, sig, &len),
            0);
  EXPECT_EQ(len, 64UL);
}

TEST_F(KrptTest, KeySizeBound)
{
  // Host keys up to 4096 bits are read; larger ones are refused before any arithmetic.
  EXPECT_EQ(KRPT_CheckPublicKey(CraftedPublicKey(512).data(), int(CraftedPublicKey(512).size())),
            0);
  Bytes big = CraftedPublicKey(513);
  EXPECT_EQ(KRPT_CheckPublicKey(big.data(), static_cast<int>(big.size())), -1);
  Bytes sig(513, 1);
  Bytes data = {'a', 0};
  EXPECT_EQ(Verify(big, data, sig), -1);
  EXPECT_EQ(KRPT_CheckPublicKey(VectorKey("key1024").pub.data(),
                                static_cast<int>(VectorKey("key1024").pub.size())),
            0);
}

namespace {

KeyPair Generate(int bits)
{
  KeyPair k;
  k.pub.assign(KRPT_KEY_BUFFER_SIZE, 0);
  k.priv.assign(KRPT_KEY_BUFFER_SIZE, 0);
  int pubLen = KRPT_KEY_BUFFER_SIZE, privLen = KRPT_KEY_BUFFER_SIZE;
  if (KRPT_GenerateKeys(k.pub.data(), &pubLen, k.priv.data(), &privLen, nullptr, 0, bits) != 0)
    return KeyPair();
  k.pub.resize(pubLen);
  k.priv.resize(privLen);
  return k;
}

}  // namespace

TEST_F(KrptTest, GeneratedKeysSignAndVerify)
{
  // 4096 bits (slow to generate) is covered by a stored pair below.
  for (int bits : {512, 1024, 2048}) {
    SCOPED_TRACE(bits);
    KeyPair k = Generate(bits);
    ASSERT_FALSE(k.pub.empty());
    // PKCS#1 RSAPublicKey: SEQUENCE { INTEGER n, INTEGER 65537 }.
    EXPECT_EQ(k.pub[0], 0x30);
    EXPECT_EQ(ToHex(Bytes(k.pub.end() - 5, k.pub.end())), "0203010001");
    // PKCS#1 RSAPrivateKey starts with version 0 directly after the SEQUENCE header.
    EXPECT_EQ(ToHex(Bytes(k.priv.begin() + 4, k.priv.begin() + 7)), "020100");
    Bytes data = Widen({'o', 'f', 'f', 'e', 'r'});
    Bytes sig;
    ASSERT_EQ(Sign(k.priv, data, sig), 0);
    EXPECT_EQ(sig.size(), size_t(bits / 8));
    EXPECT_EQ(Verify(k.pub, data, sig), 0);
  }
}

TEST_F(KrptTest, GenerationBounds)
{
  unsigned char pub[KRPT_KEY_BUFFER_SIZE], priv[KRPT_KEY_BUFFER_SIZE];
  for (int bits : {0, 256, 511, 4097, 8192}) {
    int pubLen = sizeof pub, privLen = sizeof priv;
    EXPECT_EQ(KRPT_GenerateKeys(pub, &pubLen, priv, &privLen, nullptr, 0, bits), -1) << bits;
  }
  // Too little room for the private key: fails and reports no lengths.
  int pubLen = sizeof pub, privLen = 100;
  unsigned char seed[] = "seed material";
  EXPECT_EQ(KRPT_GenerateKeys(pub, &pubLen, priv, &privLen, seed, sizeof seed), -1);
  EXPECT_EQ(pubLen, int(sizeof pub));
  EXPECT_EQ(privLen, 100);
}

TEST_F(KrptTest, EncryptAndDecryptRoundTrip)
{
  KeyPair key = VectorKey("key1024");
  const unsigned char secret[] = "twenty bytes of key!";
  unsigned char block[KRPT_SIGNATURE_BUFFER_SIZE];
  unsigned long blockLen = sizeof block;
  ASSERT_EQ(KRPT_CryptDigest(key.pub.data(), int(key.pub.size()), secret, 20, block, &blockLen), 0);
  EXPECT_EQ(blockLen, 128UL);
  unsigned char plain[128];
  unsigned long plainLen = sizeof plain;
  ASSERT_EQ(
      KRPT_DecryptDigest(key.priv.data(), int(key.priv.size()), block, blockLen, plain, &plainLen),
      0);
  EXPECT_EQ(Bytes(plain, plain + plainLen), Bytes(secret, secret + 20));

  // Too little room for the block or for the plain text; input longer than the key allows.
  unsigned long small = 127;
  EXPECT_EQ(KRPT_CryptDigest(key.pub.data(), int(key.pub.size()), secret, 20, block, &small), -1);
  small = 19;
  EXPECT_EQ(
      KRPT_DecryptDigest(key.priv.data(), int(key.priv.size()), block, blockLen, plain, &small),
      -1);
  Bytes tooLong(128 - 10, 'x');
  blockLen = sizeof block;
  EXPECT_EQ(KRPT_CryptDigest(key.pub.data(), int(key.pub.size()), tooLong.data(), tooLong.size(),
                             block, &blockLen),
            -1);
  // A block for the other key does not decrypt.
  KeyPair other = VectorKey("key512");
  blockLen = sizeof block;
  ASSERT_EQ(KRPT_CryptDigest(other.pub.data(), int(other.pub.size()), secret, 20, block, &blockLen),
            0);
  plainLen = sizeof plain;
  EXPECT_EQ(
      KRPT_DecryptDigest(key.priv.data(), int(key.priv.size()), block, blockLen, plain, &plainLen),
      -1);
}

TEST_F(KrptTest, FourThousandNinetySixBitKeys)
{
  // The largest size a store may choose: the private key is 2349 DER bytes, the signature 512.
  std::string text;
  ASSERT_TRUE(ReadFile(CRYPTO_DATA_DIR "/crypto_key4096.txt", text));
  size_t nl = text.find('\n');
  KeyPair k = {FromHex(text.substr(0, nl)),
               FromHex(text.substr(nl + 1, text.find('\n', nl + 1) - nl - 1))};
  EXPECT_EQ(k.priv.size(), 2349U);
  Bytes data = Widen({'o', 'f', 'f', 'e', 'r'});
  Bytes sig;
  ASSERT_EQ(Sign(k.priv, data, sig), 0);
  EXPECT_EQ(sig.size(), 512U);
  EXPECT_EQ(Verify(k.pub, data, sig), 0);
  sig[511] ^= 1;
  EXPECT_EQ(Verify(k.pub, data, sig), -1);
}
