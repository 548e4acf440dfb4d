// The sandbox host's own wire pieces, checked against the client's conventions: signatures against
// independently computed vectors, the URL and entity encodings, and the message text form.
#include "sbcrypto.h"
#include "sbhost.h"
#include "sbvectors.h"
#include "sbxml.h"

#include <gtest/gtest.h>

using namespace sandbox;

namespace {

std::string Unhex(const char* hex)
{
  std::string out;
  EXPECT_TRUE(FromHex(hex, out)) << hex;
  return out;
}

}  // namespace

TEST(SandboxCrypto, SignaturesMatchTheVectorsByteForByte)
{
  for (const auto& c : vectors::kSignatures) {
    std::string text = Unhex(c.textHex), sig;
    ASSERT_TRUE(Sign(text, vectors::kPrivate512, sig));
    EXPECT_EQ(sig, c.signature512) << text;
    ASSERT_TRUE(Sign(text, vectors::kPrivate1024, sig));
    EXPECT_EQ(sig, c.signature1024) << text;
    EXPECT_TRUE(Verify(text, vectors::kPublic512, c.signature512));
    EXPECT_TRUE(Verify(text, vectors::kPublic1024, c.signature1024));
    // Another key, a changed text or a changed digit must fail.
    EXPECT_FALSE(Verify(text, vectors::kPublic1024, c.signature512));
    EXPECT_FALSE(Verify(text + "x", vectors::kPublic512, c.signature512));
    std::string bad = c.signature512;
    bad[bad.size() / 2] = bad[bad.size() / 2] == '0' ? '1' : '0';
    EXPECT_FALSE(Verify(text, vectors::kPublic512, bad));
  }
}

TEST(SandboxCrypto, VerifyRefusesMalformedInput)
{
  const std::string text = Unhex(vectors::kSignatures[1].textHex);
  const std::string sig = vectors::kSignatures[1].signature512;
  EXPECT_FALSE(Verify(text, vectors::kPublic512, ""));
  EXPECT_FALSE(Verify(text, vectors::kPublic512, sig + "0"));   // odd length
  EXPECT_FALSE(Verify(text, vectors::kPublic512, "zz" + sig));  // not hex
  EXPECT_FALSE(Verify(text, vectors::kPublic512, sig + sig));   // longer than the modulus
  EXPECT_FALSE(Verify(text, "", sig));
  EXPECT_FALSE(Verify(text, std::string(vectors::kPublic512) + "00", sig));  // trailing byte
  EXPECT_FALSE(Verify(text, vectors::kPrivate512, sig));  // a private key is no public key
  EXPECT_EQ(PublicKeyBits(vectors::kPublic512), 512);
  EXPECT_EQ(PublicKeyBits(vectors::kPublic1024), 1024);
  EXPECT_EQ(PublicKeyBits("3048"), 0);
}

TEST(SandboxCrypto, GeneratedKeysHaveTheStoreForm)
{
  KeyPair pair;
  ASSERT_TRUE(GenerateKeyPair(512, pair));
  // PKCS#1 DER: RSAPublicKey and RSAPrivateKey sequences, lowercase hex.
  EXPECT_EQ(pair.publicHex.compare(0, 6, "304802"), 0) << pair.publicHex;
  EXPECT_EQ(pair.privateHex.compare(0, 4, "3082"), 0) << pair.privateHex;
  EXPECT_EQ(pair.privateHex.compare(8, 6, "020100"), 0) << pair.privateHex;  // version 0
  EXPECT_EQ(pair.publicHex.find_first_not_of("0123456789abcdef"), std::string::npos);
  std::string sig;
  ASSERT_TRUE(Sign("<TBX/>", pair.privateHex, sig));
  EXPECT_EQ(sig.size(), 128u);
  EXPECT_TRUE(Verify("<TBX/>", pair.publicHex, sig));
}

TEST(SandboxEncoding, UrlAndBase64)
{
  struct
  {
    const char* in;
    const char* out;
  } urls[] = {{"a b-c", "a%20b%2dc"},
              {"\xe9", "%e9"},
              {"<TBX A=\"1\"/>", "%3cTBX%20A%3d%221%22%2f%3e"},
              {"AZaz09-._~ ", "AZaz09%2d%2e%5f%7e%20"},
              {"", ""}};
  for (const auto& c : urls) {
    EXPECT_EQ(UrlEncode(c.in), c.out);
    std::string back;
    ASSERT_TRUE(UrlDecode(c.out, back));
    EXPECT_EQ(back, c.in);
  }
  std::string out;
  EXPECT_TRUE(UrlDecode("%3C%3e+x", out));
  EXPECT_EQ(out, "<> x");
  // Exactly two hex digits: no sign, space or "0x" a number parser might take.
  for (const char* bad : {"%", "%4", "%zz", "a%g1", "%+1", "%-1", "% 1", "%1 ", "%0x1"})
    EXPECT_FALSE(UrlDecode(bad, out)) << bad;
  ASSERT_TRUE(FromHex("00fFaB19", out));
  EXPECT_EQ(out, std::string("\x00\xff\xab\x19", 4));
  for (const char* bad : {"0", "+1", "-1", " 1", "1 ", "0x", "g0", "0G"}) {
    std::string kept = "kept";
    EXPECT_FALSE(FromHex(bad, kept)) << bad;
    EXPECT_EQ(kept, "kept") << bad;
  }

  struct
  {
    const char* in;
    const char* out;
  } b64[] = {{"", ""},       {"Og==", ":"},   {"dXNlcjpwYXNz", "user:pass"}, {"YQ==", "a"},
             {"YWI=", "ab"}, {"YWJj", "abc"}, {"YWJjZA==", "abcd"}};
  for (const auto& c : b64) {
    ASSERT_TRUE(Base64Decode(c.in, out)) << c.in;
    EXPECT_EQ(out, c.out);
  }
  for (const char* bad : {"Og=", "O===", "=Og=", "Og==YQ==", "Y!==", "YQ=a"})
    EXPECT_FALSE(Base64Decode(bad, out)) << bad;
}

TEST(SandboxXml, EntityCodecFollowsTheClient)
{
  EXPECT_EQ(XmlEncode("a<b>&\"'"), "a&lt;b&gt;&amp;&quot;&apos;");
  struct
  {
    const char* in;
    const char* out;
  } cases[] = {
      {"x&lt;y&gt;&amp;&quot;&apos;z", "x<y>&\"'z"},
      {"a&#38;b", "ab"},   // unknown references vanish
      {"a&b", "a"},        // "&b" is no reference, and the end is reached
      {"&quotx!", "\"!"},  // five characters decide, the sixth is skipped
      {"&amp", "&"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(XmlDecode(c.in), c.out) << c.in;
}

TEST(SandboxXml, MessagesWriteTheCompactForm)
{
  Message m("SetupResponse");
  m.Set("VERSION", "1");
  m.Set("VTURL", "a&b");
  m.Set("EMPTY", "");
  m.Set("VERSION", "2");  // keeps its place
  EXPECT_EQ(m.ToText(),
            "<TBX MSGTYPE=\"SetupResponse\" VERSION=\"2\" VTURL=\"a&amp;b\" EMPTY=\"\"/>");
}

TEST(SandboxXml, ParsesWhatTheClientWritesAndRefusesTheRest)
{
  struct
  {
    const char* text;
    bool ok;
    const char* attr;
    const char* value;
  } cases[] = {
      {"<TBX MSGTYPE=\"PayInit\" D=\"Test &amp; Co\"/>", true, "D", "Test & Co"},
      {"<TBX a='1' b=2 c d = \"4\"/>", true, "b", "2"},
      {"  <TBX a='1'/>", true, "c", ""},
      {"<TBX a=\"1\">text<X/></TBX>", true, "a", "1"},
      {"<TBX a=\"1\" a=\"2\"/>", true, "a", "2"},
      {"", false, "", ""},
      {"text", false, "", ""},
      {"<?xml version='1.0'?><TBX/>", false, "", ""},
      {"<OTHER a='1'/>", false, "", ""},
      {"<TBX a='1", false, "", ""},
      {"<TBX a=/>", false, "", ""},
      {"<TBX a='1'", false, "", ""},
      {"<TBX a='1'>", false, "", ""},
      {"<TBX a:b='1'/>", false, "", ""},
      {"<TBX / >", false, "", ""},
  };
  for (const auto& c : cases) {
    Message m;
    std::string error;
    EXPECT_EQ(Message::Parse(c.text, m, error), c.ok) << c.text;
    if (c.ok && *c.attr) {
      EXPECT_EQ(m.Value(c.attr), c.value) << c.text;
    }
    if (!c.ok) {
      EXPECT_FALSE(error.empty()) << c.text;
    }
  }
}

TEST(SandboxTime, ExpirationTexts)
{
  long long t = 0;
  ASSERT_TRUE(ParseTime("20261208 07:03:55", t));
  EXPECT_EQ(t, 1796713435LL);
  EXPECT_EQ(FormatTime(t), "20261208 07:03:55");
  for (const char* bad : {"", "20261208 07:03", "20261208T07:03:55", "20260231 00:00:00",
                          "20261208 24:00:00", "2026120a 07:03:55", "20261208 07:03:55 "})
    EXPECT_FALSE(ParseTime(bad, t)) << bad;
}
