// Key generation, signing and verification on a real store directory.
#include "KrptSign.h"
#include "tbxctx.h"
#include "tbxerr.h"
#include "tbxkeys.h"
#include "tbxutil.h"
#include "crypto_vectors.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sys/stat.h>

using namespace cryptotest;
namespace fs = std::filesystem;

namespace {

std::string Str(const MvString& s)
{
  return std::string(s.begin(), s.end());
}
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
    r.file = Str(e.m_File);
    r.line = e.m_Line;
  }
  return r;
}

class CryptoStore : public ::testing::Test
{
protected:
  void SetUp() override
  {
    char tmpl[] = "/tmp/crypto_store_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    m_Dir = tmpl;
    fs::create_directories(m_Dir / "keys/private");
    fs::create_directories(m_Dir / "keys/public");
    m_Store = MvString(m_Dir.c_str());
    m_Context.Open(m_Store);
  }
  void TearDown() override { fs::remove_all(m_Dir); }

  void Put(const std::string& rel, const std::string& content)
  {
    FILE* f = fopen((m_Dir / rel).c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite(content.data(), 1, content.size(), f);
    fclose(f);
  }
  std::string Get(const std::string& rel)
  {
    std::string text;
    EXPECT_TRUE(ReadFile((m_Dir / rel).c_str(), text)) << rel;
    return text;
  }
  // The vector keys as the store keeps them, under the identifiers "v512" and "v1024".
  void PutVectorKeys()
  {
    for (const char* k : {"512", "1024"}) {
      const Json& key = Vectors()[std::string("key") + k];
      Put(std::string("keys/private/v") + k, key["private_hex"].str);
      Put(std::string("keys/public/v") + k, key["public_hex"].str);
    }
  }
  std::vector<std::string> Listing(const std::string& rel)
  {
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(m_Dir / rel))
      names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path m_Dir;
  MvString m_Store;
  TBX_Context m_Context;
};

}  // namespace

TEST_F(CryptoStore, SignDataAndVerifyDataReproduceEveryVector)
{
  PutVectorKeys();
  for (const Json& v : Vectors()["signatures"].arr) {
    Bytes raw = FromHex(v["text_hex"].str);
    MvString text = Mv(std::string(raw.begin(), raw.end()));
    for (const char* k : {"512", "1024"}) {
      SCOPED_TRACE(std::string("key") + k + " \"" + v["text"].str + "\"");
      const std::string& expected = v[std::string("signature_key") + k].str;
      MvString sig;
      m_Context.SignData(text, MvString((std::string("v") + k).c_str()), sig);
      EXPECT_EQ(Str(sig), expected);
      EXPECT_EQ(Catch([&] {
                  m_Context.VerifyData(text, MvString((std::string("v") + k).c_str()),
                                       Mv(expected));
                }).code,
                0);
    }
  }
}

TEST_F(CryptoStore, TamperedDataAndSignaturesFail)
{
  PutVectorKeys();
  const Json& v = Vectors()["signatures"].arr.at(3);
  Bytes raw = FromHex(v["text_hex"].str);
  std::string text(raw.begin(), raw.end());
  std::string sig = v["signature_key512"].str;
  MvString id("v512");
  auto verify = [&](const std::string& t, const std::string& s) {
    return Catch([&] { m_Context.VerifyData(Mv(t), id, Mv(s)); });
  };
  ASSERT_EQ(verify(text, sig).code, 0);

  // One character of the data changed, anywhere.
  for (size_t i = 0; i < text.size(); i += 9) {
    std::string t = text;
    t[i] = static_cast<char>(t[i] ^ 0x20);
    Raised r = verify(t, sig);
    EXPECT_EQ(r.code, TBX_E_INVALID_SIGNATURE) << "data char " << i;
    EXPECT_EQ(r.line, 384);
  }
  EXPECT_EQ(verify(text + " ", sig).code, TBX_E_INVALID_SIGNATURE);
  EXPECT_EQ(verify(text.substr(1), sig).code, TBX_E_INVALID_SIGNATURE);

  // Any digit of the signature changed to any other digit.
  for (size_t i = 0; i < sig.size(); ++i) {
    std::string s = sig;
    s[i] = s[i] == '0' ? 'f' : '0';
    EXPECT_EQ(verify(text, s).code, TBX_E_INVALID_SIGNATURE) << "digit " << i;
  }
  // Dropped or added whole bytes: only the modulus' size is a signature text.
  EXPECT_EQ(verify(text, sig.substr(2)).code, TBX_E_INVALID_KEY_BLOB);
  EXPECT_EQ(verify(text, sig + "00").code, TBX_E_INVALID_KEY_BLOB);
  EXPECT_EQ(verify(text, "00" + sig).code, TBX_E_INVALID_KEY_BLOB);
  // An odd number of digits is refused outright (a dropped trailing digit would verify).
  for (const std::string& s : {sig + "0", sig.substr(1), std::string("0")}) {
    Raised r = verify(text, s);
    EXPECT_EQ(r.code, TBX_E_INVALID_KEY_BLOB);
    EXPECT_EQ(r.line, 365);
  }
  EXPECT_EQ(verify(text, sig.substr(0, 127) + "g").code, TBX_E_INVALID_KEY_BLOB);
  EXPECT_EQ(verify(text, std::string(8194, '0')).code, TBX_E_INVALID_KEY_BLOB);
  EXPECT_EQ(verify(text, "").code, TBX_E_INVALID_KEY_BLOB);
  // The signature of the other key, and the right signature under the other key.
  EXPECT_EQ(verify(text, v["signature_key1024"].str).code, TBX_E_INVALID_KEY_BLOB);
  EXPECT_EQ(Catch([&] { m_Context.VerifyData(Mv(text), MvString("v1024"), Mv(sig)); }).code,
            TBX_E_INVALID_KEY_BLOB);
}

TEST_F(CryptoStore, KeyFileFailures)
{
  PutVectorKeys();
  const std::string good = Vectors()["key512"]["private_hex"].str;
  const std::string goodPub = Vectors()["key512"]["public_hex"].str;
  Put("keys/private/empty", "");
  Put("keys/public/empty", "");
  Put("keys/private/nothex", good.substr(0, 20) + "zz");
  Put("keys/public/nothex", "30 48");
  Put("keys/private/long", std::string(2 * KRPT_KEY_BUFFER_SIZE + 2, 'a'));
  Put("keys/public/long", std::string(2 * KRPT_PUBLIC_KEY_BUFFER_SIZE + 2, 'a'));
  Put("keys/private/notkey", "300602010002010a");
  Put("keys/public/notkey", "300602010002010a");
  Put("keys/private/withnul", good.substr(0, 10) + std::string(1, '\0') + good.substr(10));
  Put("keys/private/pubonly", goodPub);

  struct Case
  {
    const char* id;
    long signCode;
    long signLine;
    long verifyCode;
    long verifyLine;
  } cases[] = {
      {"missing", TBX_E_ITEM_NOT_FOUND, 403, TBX_E_ITEM_NOT_FOUND, 359},
      {"empty", TBX_E_ITEM_NOT_FOUND, 403, TBX_E_ITEM_NOT_FOUND, 359},
      {"nothex", TBX_E_INVALID_KEY_BLOB, 421, TBX_E_INVALID_KEY_BLOB, 362},
      {"long", TBX_E_INVALID_KEY_BLOB, 421, TBX_E_INVALID_KEY_BLOB, 362},
      {"notkey", TBX_E_CRYPTO, 426, TBX_E_INVALID_KEY_BLOB, 362},  // n = 0: no sound key
      {"withnul", TBX_E_INVALID_KEY_BLOB, 421, TBX_E_ITEM_NOT_FOUND, 359},
      {"pubonly", TBX_E_CRYPTO, 426, TBX_E_ITEM_NOT_FOUND, 359},
  };
  const std::string sig = Vectors()["signatures"].arr.at(1)["signature_key512"].str;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    MvString out("unchanged");
    Raised s = Catch([&] { m_Context.SignData(MvString("ab"), MvString(c.id), out); });
    EXPECT_EQ(s.code, c.signCode);
    EXPECT_EQ(s.line, c.signLine);
    EXPECT_EQ(s.file, "tbxctx");
    EXPECT_EQ(Str(out), "unchanged");
    Raised v = Catch([&] { m_Context.VerifyData(MvString("ab"), MvString(c.id), Mv(sig)); });
    EXPECT_EQ(v.code, c.verifyCode);
    EXPECT_EQ(v.line, c.verifyLine);
  }
  EXPECT_EQ(Listing("keys/private").size(), 8U);  // nothing written
  MvString out;
  EXPECT_EQ(Catch([&] { TBX_Context().SignData(MvString("ab"), MvString("v512"), out); }).code,
            TBX_E_NO_CONTEXT);
}

TEST_F(CryptoStore, IdentifiersThatAreNotPlainNamesTouchNoFile)
{
  PutVectorKeys();
  Put("outside", Vectors()["key512"]["private_hex"].str);
  const char* ids[] = {"", ".", "..", "../../outside", "sub/x", "a\nb"};
  for (const char* id : ids) {
    SCOPED_TRACE(id);
    MvString sig;
    EXPECT_EQ(Catch([&] { m_Context.SignData(MvString("ab"), MvString(id), sig); }).code,
              TBX_E_NO_KEY_ID);
    EXPECT_EQ(
        Catch([&] { m_Context.VerifyData(MvString("ab"), MvString(id), MvString("00")); }).code,
        TBX_E_NO_KEY_ID);
    EXPECT_EQ(Catch([&] { m_Context.GenKey(MvString(id)); }).code, TBX_E_INVALID_FORMAT);
  }
  EXPECT_EQ(Listing("keys/private"), (std::vector<std::string>{"v1024", "v512"}));
  EXPECT_EQ(Listing("keys/public"), (std::vector<std::string>{"v1024", "v512"}));
  EXPECT_EQ(Listing(""), (std::vector<std::string>{"keys", "outside"}));
}

TEST_F(CryptoStore, GenKeyWritesAUsablePrivatePair)
{
  const MvString id("0-4711-0123456789abcdef0123456789abcdef");
  Put("keys/private/0-4711-0123456789abcdef0123456789abcdef", "old");
  m_Context.GenKey(id);

  std::string pub = Get("keys/public/" + Str(id));
  std::string priv = Get("keys/private/" + Str(id));
  EXPECT_EQ(pub.size(), 2 * 74U);  // 512 bits unless settings ask otherwise
  EXPECT_EQ(pub.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_EQ(priv.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_NE(priv, "old");

  struct stat st;
  ASSERT_EQ(stat((m_Dir / "keys/private" / Str(id)).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600U);
  ASSERT_EQ(stat((m_Dir / "keys/public" / Str(id)).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644U);
  // No temporary files left behind.
  EXPECT_EQ(Listing("keys/private").size(), 1U);
  EXPECT_EQ(Listing("keys/public").size(), 1U);

  MvString sig;
  m_Context.SignData(MvString("<TBX/>"), id, sig);
  EXPECT_EQ(sig.size(), 128U);
  EXPECT_EQ(Catch([&] { m_Context.VerifyData(MvString("<TBX/>"), id, sig); }).code, 0);
  EXPECT_EQ(Catch([&] { m_Context.VerifyData(MvString("<TBX />"), id, sig); }).code,
            TBX_E_INVALID_SIGNATURE);

  // A second pair under the same name replaces the first.
  m_Context.GenKey(id);
  EXPECT_NE(Get("keys/private/" + Str(id)), priv);
}

TEST_F(CryptoStore, GenKeyWithoutKeyDirectoryFails)
{
  fs::remove_all(m_Dir / "keys/private");
  Raised r = Catch([&] { m_Context.GenKey(MvString("k")); });
  EXPECT_EQ(r.code, TBX_E_FILE_NOT_FOUND);
  EXPECT_EQ(r.line, 205);
  // The public half was written first and stays, as documented.
  EXPECT_EQ(Listing("keys/public"), (std::vector<std::string>{"k"}));
}

TEST(CryptoKeyTexts, LargerKeysFitTheWorkingBuffers)
{
  MvString pub, priv;
  TBX_CreateKeyTexts(1024, pub, priv);
  EXPECT_EQ(pub.size(), 2 * 140U);
  MvString sig;
  TBX_SignWithKeyText(MvString("<TBX MSGTYPE=\"PayInit\"/>"), priv, sig);
  EXPECT_EQ(sig.size(), 256U);
  EXPECT_EQ(
      Catch([&] { TBX_VerifyWithKeyText(MvString("<TBX MSGTYPE=\"PayInit\"/>"), pub, sig); }).code,
      0);
  EXPECT_EQ(
      Catch([&] { TBX_VerifyWithKeyText(MvString("<TBX MSGTYPE=\"PayInit\" />"), pub, sig); }).code,
      TBX_E_INVALID_SIGNATURE);

  // The largest size a store may choose, as hex texts: its private key (2349 DER bytes) needs
  // more than a 1024-byte working buffer.
  std::string pair;
  ASSERT_TRUE(ReadFile(CRYPTO_DATA_DIR "/crypto_key4096.txt", pair));
  size_t nl = pair.find('\n');
  MvString pub4096 = Mv(pair.substr(0, nl));
  MvString priv4096 = Mv(pair.substr(nl + 1, pair.find('\n', nl + 1) - nl - 1));
  TBX_SignWithKeyText(MvString("offer"), priv4096, sig);
  EXPECT_EQ(sig.size(), 1024U);
  EXPECT_EQ(Catch([&] { TBX_VerifyWithKeyText(MvString("offer"), pub4096, sig); }).code, 0);

  // Sizes outside what a store may ask for are a cryptographic failure at this level.
  for (int bits : {256, 8192}) {
    Raised r = Catch([&] { TBX_CreateKeyTexts(bits, pub, priv); });
    EXPECT_EQ(r.code, TBX_E_CRYPTO);
    EXPECT_EQ(r.line, 321);
  }
}

TEST_F(CryptoStore, GenKeyTakesItsSizeFromSettings)
{
  struct Case
  {
    const char* settings;  // null: no settings.xml
    long code;
    size_t publicDerBytes;
  } cases[] = {
      {nullptr, 0, 74},
      {"<TBX USEPROXY=\"no\"/>", 0, 74},
      {"<TBX KEYBITS=\"\"/>", 0, 74},
      {"<TBX KEYBITS=\"512\"/>", 0, 74},
      {"<TBX KEYBITS=\"1024\" TRACEOPT=\"\"/>", 0, 140},
      {"<TBX KEYBITS=\"768\"/>", TBX_E_INVALID_OPTION, 0},
      {"<TBX KEYBITS=\"1024x\"/>", TBX_E_INVALID_OPTION, 0},
      {"<TBX KEYBITS=\"8192\"/>", TBX_E_INVALID_OPTION, 0},
      {"not xml <", TBX_E_INVALID_FORMAT, 0},
      {"<OTHER KEYBITS=\"1024\"/>", TBX_E_INVALID_FORMAT, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.settings ? c.settings : "(none)");
    fs::remove(m_Dir / "settings.xml");
    if (c.settings)
      Put("settings.xml", c.settings);
    fs::remove(m_Dir / "keys/public/k");
    fs::remove(m_Dir / "keys/private/k");
    EXPECT_EQ(Catch([&] { m_Context.GenKey(MvString("k")); }).code, c.code);
    if (c.code == 0) {
      EXPECT_EQ(Get("keys/public/k").size(), 2 * c.publicDerBytes);
    } else {
      EXPECT_FALSE(fs::exists(m_Dir / "keys/public/k"));
      EXPECT_FALSE(fs::exists(m_Dir / "keys/private/k"));
    }
  }
}
