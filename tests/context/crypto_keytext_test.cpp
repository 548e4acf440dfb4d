// The store-independent steps of the key operations: keys and signatures as hex texts.
#include "KrptSign.h"
#include "tbxerr.h"
#include "tbxkeys.h"
#include "tbxutil.h"
#include "crypto_vectors.h"

#include <gtest/gtest.h>

#include <functional>

using namespace cryptotest;

namespace {

MvString Mv(const std::string& s)
{
  return MvString(s.data(), static_cast<unsigned>(s.size()));
}

struct Raised
{
  long code = 0;
  std::string file;
  long line = 0;
};

Raised Catch(const std::function<void()>& f)
{
  Raised r;
  try {
    f();
  } catch (const TBX_Exception& e) {
    r.code = e.m_Result;
    r.file = std::string(e.m_File.begin(), e.m_File.end());
    r.line = e.m_Line;
  }
  return r;
}

// The stored 4096-bit pair: public hex on the first line, private hex on the second.
void Key4096(MvString& pub, MvString& priv)
{
  std::string pair;
  ASSERT_TRUE(ReadFile(CRYPTO_DATA_DIR "/crypto_key4096.txt", pair));
  size_t nl = pair.find('\n');
  pub = Mv(pair.substr(0, nl));
  priv = Mv(pair.substr(nl + 1, pair.find('\n', nl + 1) - nl - 1));
}

}  // namespace

TEST(CryptoKeyText, BrokenKeyTexts)
{
  const std::string priv = Vectors()["key512"]["private_hex"].str;
  const std::string pub = Vectors()["key512"]["public_hex"].str;
  const std::string sig = Vectors()["signatures"].arr.at(1)["signature_key512"].str;
  struct Case
  {
    std::string name;
    std::string privateText;
    long signCode, signLine;
    std::string publicText;
    long verifyCode, verifyLine;
  } cases[] = {
      {"not hex", priv.substr(0, 20) + "zz", TBX_E_INVALID_KEY_BLOB, 421, "30 48",
       TBX_E_INVALID_KEY_BLOB, 362},
      {"longer than the buffer", std::string(2 * KRPT_KEY_BUFFER_SIZE + 2, 'a'),
       TBX_E_INVALID_KEY_BLOB, 421, std::string(2 * KRPT_PUBLIC_KEY_BUFFER_SIZE + 2, 'a'),
       TBX_E_INVALID_KEY_BLOB, 362},
      {"zero byte inside", priv.substr(0, 10) + std::string(1, '\0') + priv.substr(10),
       TBX_E_INVALID_KEY_BLOB, 421, pub.substr(0, 10) + std::string(1, '\0') + pub.substr(10),
       TBX_E_INVALID_KEY_BLOB, 362},
      {"DER but no key", "300602010002010a", TBX_E_CRYPTO, 426, "300602010002010a",
       TBX_E_INVALID_KEY_BLOB, 362},
      {"the other half", pub, TBX_E_CRYPTO, 426, priv, TBX_E_INVALID_SIGNATURE, 384},
      {"cut short", priv.substr(0, priv.size() - 2), TBX_E_CRYPTO, 426,
       pub.substr(0, pub.size() - 2), TBX_E_INVALID_SIGNATURE, 384},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MvString out("unchanged");
    Raised s = Catch([&] { TBX_SignWithKeyText(MvString("ab"), Mv(c.privateText), out); });
    EXPECT_EQ(s.code, c.signCode);
    EXPECT_EQ(s.line, c.signLine);
    EXPECT_EQ(s.file, "tbxctx");
    EXPECT_EQ(std::string(out.begin(), out.end()), "unchanged");
    Raised v = Catch([&] { TBX_VerifyWithKeyText(MvString("ab"), Mv(c.publicText), Mv(sig)); });
    EXPECT_EQ(v.code, c.verifyCode);
    EXPECT_EQ(v.line, c.verifyLine);
  }
  // The intact pair, for contrast.
  EXPECT_EQ(Catch([&] { TBX_VerifyWithKeyText(MvString("ab"), Mv(pub), Mv(sig)); }).code, 0);
}

TEST(CryptoKeyText, SignatureTextShapes)
{
  const std::string pub = Vectors()["key512"]["public_hex"].str;
  const std::string sig = Vectors()["signatures"].arr.at(1)["signature_key512"].str;
  auto verify = [&](const std::string& s) {
    return Catch([&] { TBX_VerifyWithKeyText(MvString("ab"), Mv(pub), Mv(s)); });
  };
  struct Case
  {
    std::string text;
    long code;
  } cases[] = {
      {sig, 0},
      {sig + "0", TBX_E_INVALID_KEY_BLOB},  // odd: a dropped digit would still verify
      {sig.substr(1), TBX_E_INVALID_KEY_BLOB},
      {"0", TBX_E_INVALID_KEY_BLOB},
      {sig.substr(0, 126) + "g0", TBX_E_INVALID_KEY_BLOB},
      {std::string(2 * KRPT_RECEIVED_SIGNATURE_BUFFER_SIZE + 2, '0'), TBX_E_INVALID_KEY_BLOB},
      // Whole bytes more or fewer than the modulus: one signature has one text.
      {"00" + sig, TBX_E_INVALID_KEY_BLOB},
      {sig + "00", TBX_E_INVALID_KEY_BLOB},
      {sig.substr(2), TBX_E_INVALID_KEY_BLOB},
      {"", TBX_E_INVALID_KEY_BLOB},
      {"ff" + sig.substr(2), TBX_E_INVALID_SIGNATURE},
  };
  for (const Case& c : cases) {
    Raised r = verify(c.text);
    EXPECT_EQ(r.code, c.code) << c.text;
    if (c.code == TBX_E_INVALID_KEY_BLOB) {
      EXPECT_EQ(r.line, 365) << c.text;
    }
  }
}

TEST(CryptoKeyText, GeneratedAndLargestKeys)
{
  MvString pub, priv;
  TBX_CreateKeyTexts(1024, pub, priv);
  EXPECT_EQ(pub.size(), 2 * 140U);
  const MvString offer("<TBX MSGTYPE=\"PayInit\"/>");
  MvString sig;
  TBX_SignWithKeyText(offer, priv, sig);
  EXPECT_EQ(sig.size(), 256U);
  EXPECT_EQ(Catch([&] { TBX_VerifyWithKeyText(offer, pub, sig); }).code, 0);
  EXPECT_EQ(
      Catch([&] { TBX_VerifyWithKeyText(MvString("<TBX MSGTYPE=\"PayInit\" />"), pub, sig); }).code,
      TBX_E_INVALID_SIGNATURE);

  // The largest size a store may choose: its private key (2349 DER bytes) needs more than a
  // 1024-byte working buffer.
  MvString pub4096, priv4096;
  Key4096(pub4096, priv4096);
  TBX_SignWithKeyText(offer, priv4096, sig);
  EXPECT_EQ(sig.size(), 1024U);
  EXPECT_EQ(Catch([&] { TBX_VerifyWithKeyText(offer, pub4096, sig); }).code, 0);

  // Sizes outside what a store may ask for are a cryptographic failure at this level.
  for (int bits : {256, 8192}) {
    Raised r = Catch([&] { TBX_CreateKeyTexts(bits, pub, priv); });
    EXPECT_EQ(r.code, TBX_E_CRYPTO);
    EXPECT_EQ(r.line, 321);
  }
}
