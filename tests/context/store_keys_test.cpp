// Keys and signatures on a real store: key files and their modes, key sizes, identifiers, the
// signature vectors and tampering.
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "crypto_vectors.h"
#include "store_test_util.h"
#include "tbxctx.h"

using namespace storetest;

namespace {

class KeyStoreTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    ASSERT_PASSES(m_Ctx.Open(Mv(m_Dir.path())));
    for (const char* d : {"keys", "keys/private", "keys/public"})
      ASSERT_PASSES(TBX_Context::CreatePath(Mv(m_Dir / d)));
  }

  void StoreKeyPair(const std::string& id, const cryptotest::Json& key)
  {
    WriteAll(m_Dir / ("keys/public/" + id), key["public_hex"].str);
    WriteAll(m_Dir / ("keys/private/" + id), key["private_hex"].str);
  }

  std::string Sign(const std::string& data, const std::string& id)
  {
    MvString signature;
    EXPECT_PASSES(m_Ctx.SignData(Mv(data), Mv(id), signature));
    return Str(signature);
  }

  TempDir m_Dir;
  TBX_Context m_Ctx;
};

}  // namespace

TEST_F(KeyStoreTest, EveryVectorThroughTheStore)
{
  const cryptotest::Json& v = cryptotest::Vectors();
  StoreKeyPair("k512", v["key512"]);
  StoreKeyPair("k1024", v["key1024"]);
  const auto& sigs = v["signatures"].arr;
  ASSERT_FALSE(sigs.empty());
  for (const cryptotest::Json& s : sigs) {
    const cryptotest::Bytes raw = cryptotest::FromHex(s["text_hex"].str);
    const std::string text(raw.begin(), raw.end());
    SCOPED_TRACE(s["text_hex"].str);
    EXPECT_EQ(Sign(text, "k512"), s["signature_key512"].str);
    EXPECT_EQ(Sign(text, "k1024"), s["signature_key1024"].str);
    EXPECT_PASSES(m_Ctx.VerifyData(Mv(text), MvString("k512"), Mv(s["signature_key512"].str)));
    EXPECT_PASSES(m_Ctx.VerifyData(Mv(text), MvString("k1024"), Mv(s["signature_key1024"].str)));
  }
}

TEST_F(KeyStoreTest, TamperedDataOrSignaturesFail)
{
  const cryptotest::Json& v = cryptotest::Vectors();
  StoreKeyPair("k", v["key512"]);
  const std::string data = "<TBX MSGTYPE=\"PayConfirm\" AMOUNT=\"1560\" CURRENCY=\"EUR\"/>";
  const std::string sig = Sign(data, "k");
  ASSERT_EQ(sig.size(), 128u);
  ASSERT_PASSES(m_Ctx.VerifyData(Mv(data), MvString("k"), Mv(sig)));

  // One byte of the data changed, anywhere.
  for (size_t i = 0; i < data.size(); i += 7) {
    std::string d = data;
    d[i] ^= 1;
    EXPECT_RAISES_AT(TBX_E_INVALID_SIGNATURE, 384, m_Ctx.VerifyData(Mv(d), MvString("k"), Mv(sig)))
        << i;
  }
  EXPECT_RAISES(TBX_E_INVALID_SIGNATURE, m_Ctx.VerifyData(Mv(data + " "), MvString("k"), Mv(sig)));
  // Any digit of the signature changed.
  for (size_t i = 0; i < sig.size(); ++i) {
    std::string s = sig;
    s[i] = s[i] == '0' ? '1' : '0';
    EXPECT_RAISES(TBX_E_INVALID_SIGNATURE, m_Ctx.VerifyData(Mv(data), MvString("k"), Mv(s))) << i;
  }
  // Upper-case digits are the same bytes; an extra digit or a cut one is not a signature text.
  std::string upper = sig;
  for (char& c : upper)
    c = static_cast<char>(toupper(c));
  EXPECT_PASSES(m_Ctx.VerifyData(Mv(data), MvString("k"), Mv(upper)));
  EXPECT_RAISES(TBX_E_INVALID_KEY_BLOB, m_Ctx.VerifyData(Mv(data), MvString("k"), Mv(sig + "0")));
  EXPECT_RAISES(TBX_E_INVALID_KEY_BLOB,
                m_Ctx.VerifyData(Mv(data), MvString("k"), Mv(sig.substr(1))));
  EXPECT_RAISES(TBX_E_INVALID_SIGNATURE,
                m_Ctx.VerifyData(Mv(data), MvString("k"), Mv(sig.substr(2))));
  EXPECT_RAISES_AT(TBX_E_INVALID_KEY_BLOB, 365,
                   m_Ctx.VerifyData(Mv(data), MvString("k"), Mv("zz" + sig.substr(2))));
  EXPECT_RAISES(TBX_E_INVALID_SIGNATURE, m_Ctx.VerifyData(Mv(data), MvString("k"), MvString("")));
}

TEST_F(KeyStoreTest, MissingEmptyAndBrokenKeyFiles)
{
  MvString sig("unchanged");
  EXPECT_RAISES_AT(TBX_E_ITEM_NOT_FOUND, 403, m_Ctx.SignData(MvString("d"), MvString("none"), sig));
  EXPECT_EQ(Str(sig), "unchanged");
  EXPECT_RAISES_AT(TBX_E_ITEM_NOT_FOUND, 359,
                   m_Ctx.VerifyData(MvString("d"), MvString("none"), MvString("00")));
  EXPECT_EQ(ListDir(m_Dir / "keys/private").size(), 0u);

  WriteAll(m_Dir / "keys/private/empty", "");
  WriteAll(m_Dir / "keys/public/empty", "");
  EXPECT_RAISES(TBX_E_ITEM_NOT_FOUND, m_Ctx.SignData(MvString("d"), MvString("empty"), sig));
  EXPECT_RAISES(TBX_E_ITEM_NOT_FOUND,
                m_Ctx.VerifyData(MvString("d"), MvString("empty"), MvString("00")));

  WriteAll(m_Dir / "keys/private/nothex", "30xx");
  WriteAll(m_Dir / "keys/public/nothex", "30xx");
  EXPECT_RAISES_AT(TBX_E_INVALID_KEY_BLOB, 421, m_Ctx.SignData(MvString("d"), MvString("nothex"), sig));
  EXPECT_RAISES_AT(TBX_E_INVALID_KEY_BLOB, 362,
                   m_Ctx.VerifyData(MvString("d"), MvString("nothex"), MvString("00")));

  WriteAll(m_Dir / "keys/private/notder", "3000");
  EXPECT_RAISES_AT(TBX_E_CRYPTO, 426, m_Ctx.SignData(MvString("d"), MvString("notder"), sig));
  EXPECT_EQ(Str(sig), "unchanged");
}

TEST_F(KeyStoreTest, IdentifiersMustBePlainFileNames)
{
  // A file outside the key directories that an identifier with a path would reach.
  const cryptotest::Json& v = cryptotest::Vectors();
  WriteAll(m_Dir / "keys/outside", v["key512"]["private_hex"].str);
  const char* bad[] = {"", ".", "..", "../outside", "a/b", "/etc/passwd", "a\nb", "a\tb", "\x7f"};
  for (const char* id : bad) {
    SCOPED_TRACE(id);
    MvString sig;
    EXPECT_RAISES(TBX_E_NO_KEY_ID, m_Ctx.SignData(MvString("d"), MvString(id), sig));
    EXPECT_RAISES(TBX_E_NO_KEY_ID, m_Ctx.VerifyData(MvString("d"), MvString(id), MvString("00")));
    EXPECT_RAISES(TBX_E_INVALID_FORMAT, m_Ctx.GenKey(MvString(id)));
  }
  MvString sig;
  EXPECT_RAISES(TBX_E_NO_KEY_ID, m_Ctx.SignData(MvString("d"), MvString("a\0b", 3), sig));
  EXPECT_EQ(ListDir(m_Dir / "keys/private").size(), 0u);
  EXPECT_EQ(ListDir(m_Dir / "keys/public").size(), 0u);
}

TEST_F(KeyStoreTest, GeneratedKeysSignAndStayPrivate)
{
  const mode_t old = umask(0);
  const std::string id = "0-4711-" + Str(TBX_Context::CreateUuid());
  ASSERT_PASSES(m_Ctx.GenKey(Mv(id)));
  umask(old);
  const std::string pub = ReadAll(m_Dir / ("keys/public/" + id));
  const std::string priv = ReadAll(m_Dir / ("keys/private/" + id));
  EXPECT_EQ(ModeOf(m_Dir / ("keys/private/" + id)), 0600u);
  EXPECT_EQ(pub.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_EQ(priv.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_TRUE(TBX_Context::IsPublicKeyText(Mv(pub)));
  EXPECT_FALSE(TBX_Context::IsPublicKeyText(Mv(priv)));

  const std::string sig = Sign("offer", id);
  EXPECT_EQ(sig.size(), 128u);  // 512 bits unless settings.xml says otherwise
  EXPECT_PASSES(m_Ctx.VerifyData(MvString("offer"), Mv(id), Mv(sig)));

  // A new pair under the same name replaces the old one; an old private file loses its
  // looser mode.
  ASSERT_EQ(chmod((m_Dir / ("keys/private/" + id)).c_str(), 0644), 0);
  ASSERT_PASSES(m_Ctx.GenKey(Mv(id)));
  EXPECT_NE(ReadAll(m_Dir / ("keys/private/" + id)), priv);
  EXPECT_EQ(ModeOf(m_Dir / ("keys/private/" + id)), 0600u);
  EXPECT_RAISES(TBX_E_INVALID_SIGNATURE, m_Ctx.VerifyData(MvString("offer"), Mv(id), Mv(sig)));
}

TEST_F(KeyStoreTest, KeyBitsSetting)
{
  struct Case {
    const char* value;
    size_t signatureDigits;  // 0: refused
  } cases[] = {{"1024", 256}, {"2048", 512}, {"512", 128}, {"1000", 0}, {"256", 0},
               {"8192", 0},   {"1024 ", 0},  {"x", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    ASSERT_PASSES(m_Ctx.SetValue(MvString("settings.xml"), MvString("KEYBITS"), MvString(c.value), true));
    const std::string id = std::string("bits-") + c.value;
    if (c.signatureDigits == 0) {
      EXPECT_RAISES(TBX_E_INVALID_OPTION, m_Ctx.GenKey(Mv(id)));
      EXPECT_FALSE(Exists(m_Dir / ("keys/public/" + id)));
      EXPECT_FALSE(Exists(m_Dir / ("keys/private/" + id)));
      continue;
    }
    ASSERT_PASSES(m_Ctx.GenKey(Mv(id)));
    const std::string sig = Sign("x", id);
    EXPECT_EQ(sig.size(), c.signatureDigits);
    EXPECT_PASSES(m_Ctx.VerifyData(MvString("x"), Mv(id), Mv(sig)));
  }
}

TEST_F(KeyStoreTest, PublicKeyTextCheck)
{
  const cryptotest::Json& v = cryptotest::Vectors();
  const std::string pub = v["key1024"]["public_hex"].str;
  EXPECT_TRUE(TBX_Context::IsPublicKeyText(Mv(pub)));
  std::string upper = pub;
  for (char& c : upper)
    c = static_cast<char>(toupper(c));
  EXPECT_TRUE(TBX_Context::IsPublicKeyText(Mv(upper)));
  for (const std::string& bad : {std::string(), pub + "0", pub.substr(2),
                                 std::string("zz") + pub.substr(2), std::string("3000"),
                                 v["key512"]["private_hex"].str}) {
    EXPECT_FALSE(TBX_Context::IsPublicKeyText(Mv(bad))) << bad;
  }
}
