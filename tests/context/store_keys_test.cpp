// Key files on a real store: their modes whatever the umask, and the check of public key texts.
// (Vectors, tampering, key-file failures, identifiers and key sizes through the context are in
// crypto_store_test.cpp.)
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

TEST_F(KeyStoreTest, PublicKeyTextCheck)
{
  const cryptotest::Json& v = cryptotest::Vectors();
  const std::string pub = v["key1024"]["public_hex"].str;
  EXPECT_TRUE(TBX_Context::IsPublicKeyText(Mv(pub)));
  std::string upper = pub;
  for (char& c : upper)
    c = static_cast<char>(toupper(c));
  EXPECT_TRUE(TBX_Context::IsPublicKeyText(Mv(upper)));
  for (const std::string& bad :
       {std::string(), pub + "0", pub.substr(2), std::string("zz") + pub.substr(2),
        std::string("3000"), v["key512"]["private_hex"].str}) {
    EXPECT_FALSE(TBX_Context::IsPublicKeyText(Mv(bad))) << bad;
  }
}
