// URL encoding vectors, string conversions, key identifiers and key sizes.
#include "tbxctx.h"
#include "tbxerr.h"
#include "tbxkeys.h"
#include "tbxutil.h"
#include "crypto_vectors.h"

#include <gtest/gtest.h>

#include <clocale>

using namespace cryptotest;

namespace {

std::string Str(const MvString& s)
{
  return std::string(s.begin(), s.end());
}
MvString Mv(const std::string& s)
{
  return MvString(s.data(), static_cast<unsigned>(s.size()));
}

long CodeOf(void (*f)(const MvString&), const MvString& arg)
{
  try {
    f(arg);
  } catch (const TBX_Exception& e) {
    return e.m_Result;
  }
  return 0;
}

}  // namespace

// The byte rules are tested with the foundation's encoders; here the URL vectors the host
// checks, through the context's own operation.
TEST(CryptoUtil, EncodeMatchesTheUrlVectors)
{
  for (const Json& v : Vectors()["url_data_encoding"].arr)
    EXPECT_EQ(Str(TBX_Context::Encode(Mv(v["in"].str))), v["out"].str) << v["in"].str;
}

TEST(CryptoUtil, SlToBackSl)
{
  const char* cases[][2] = {{"a/b/c", "a\\b\\c"}, {"//", "\\\\"}, {"none", "none"}, {"", ""}};
  for (auto& c : cases) {
    MvString s(c[0]);
    TBX_Context::SlToBackSl(s);
    EXPECT_EQ(Str(s), c[1]);
  }
  MvString empty;
  TBX_Context::SlToBackSl(empty);
  EXPECT_EQ(empty.c_str(), nullptr);
}

TEST(CryptoUtil, StringConversions)
{
  EXPECT_TRUE(mbstoSTRING(nullptr).empty());
  EXPECT_EQ(Str(mbstoSTRING("abc\xe9")), "abc\xe9");

  setlocale(LC_CTYPE, "C");
  char out[16];
  EXPECT_EQ(WCSToMBS(out, L"store", sizeof out), 5U);
  EXPECT_STREQ(out, "store");
  EXPECT_EQ(WCSToMBS(nullptr, L"store", 0), 5U);  // measure only
  EXPECT_EQ(WCSToMBS(out, L"\x263A", sizeof out), static_cast<size_t>(-1));
}

TEST(CryptoUtil, WideningIsLowByteFirstAndTerminated)
{
  TBX_WCHARBuffer wide(MvString("a\xe9\x01"));
  EXPECT_EQ(wide.byteLength(), 6UL);
  EXPECT_EQ(ToHex(wide.bytes(), wide.byteLength()), "6100e9000100");
  EXPECT_EQ(wide.units()[3], 0);

  TBX_WCHARBuffer none{MvString()};
  EXPECT_EQ(none.byteLength(), 0UL);
  EXPECT_EQ(none.units()[0], 0);
}

TEST(CryptoUtil, KeyIdentifiersArePlainNames)
{
  const char* good[] = {"0-4711-0123456789abcdef0123456789abcdef",
                        "1-0",
                        "a",
                        "...",
                        ".x",
                        "a b",
                        "\xe9t\xe9",
                        "x..y"};
  for (const char* id : good)
    EXPECT_TRUE(TBX_IsPlainKeyId(MvString(id))) << id;
  const std::string bad[] = {
      "",     ".",  "..",    "/",    "a/b", "../x", "/etc/passwd", "x/", std::string("a\0b", 3),
      "a\nb", "\t", "a\x7f", "a\x1f"};
  for (const std::string& id : bad) {
    EXPECT_FALSE(TBX_IsPlainKeyId(Mv(id))) << id;
    try {
      TBX_CheckKeyId(Mv(id), TBX_E_NO_KEY_ID);
      ADD_FAILURE() << "accepted " << id;
    } catch (const TBX_Exception& e) {
      EXPECT_EQ(e.m_Result, TBX_E_NO_KEY_ID);
      EXPECT_EQ(Str(e.m_File), "tbxctx");
    }
  }
}

TEST(CryptoUtil, KeyBitsSetting)
{
  const struct
  {
    const char* value;
    int bits;
  } good[] = {{"", 512},      {"512", 512},   {"1024", 1024},
              {"2048", 2048}, {"3072", 3072}, {"4096", 4096}};
  for (auto& g : good)
    EXPECT_EQ(TBX_KeyBitsFromSetting(MvString(g.value)), g.bits) << g.value;
  EXPECT_EQ(TBX_KeyBitsFromSetting(MvString()), 512);
  for (const char* v : {"256", "768", "8192", "1024 ", " 1024", "01024", "abc", "0", "-1"}) {
    EXPECT_EQ(CodeOf([](const MvString& s) { TBX_KeyBitsFromSetting(s); }, MvString(v)),
              TBX_E_INVALID_OPTION)
        << v;
  }
}
