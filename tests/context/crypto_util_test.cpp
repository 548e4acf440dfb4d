// Encodings, string conversions, key identifiers and key sizes.
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

TEST(CryptoUtil, BufferToHex)
{
  const unsigned char bytes[] = {0x00, 0xAB, 0x10, 0xFF, 0x7F};
  EXPECT_EQ(Str(BufferToHex(bytes, 3)), "00ab10");
  EXPECT_EQ(Str(BufferToHex(bytes, 5)), "00ab10ff7f");
  EXPECT_TRUE(BufferToHex(bytes, 0).empty());
}

TEST(CryptoUtil, HexToBufferCases)
{
  struct Case
  {
    const char* text;
    unsigned long capacity;
    long rc;
    const char* bytesHex;  // decoded bytes (on success) as lowercase hex
  } cases[] = {
      {"00AB10", 3, 0, "00ab10"},
      {"00ab10", 8, 0, "00ab10"},
      {"aBcD", 2, 0, "abcd"},
      {"abc", 2, 0, "ab"},                     // the odd digit is dropped
      {"abc", 1, TBX_E_BUFFER_TOO_SMALL, ""},  // ...but still tested against the capacity
      {"0011", 1, TBX_E_BUFFER_TOO_SMALL, ""},
      {"00", 0, TBX_E_BUFFER_TOO_SMALL, ""},
      {"", 0, 0, ""},
      {"", 4, 0, ""},
      {"0g", 4, TBX_E_COMMAND_FAILED, ""},
      {"g0", 4, TBX_E_COMMAND_FAILED, ""},
      {"00 1", 4, TBX_E_COMMAND_FAILED, ""},
      {"0x10", 4, TBX_E_COMMAND_FAILED, ""},
      {"-1", 4, TBX_E_COMMAND_FAILED, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("\"") + c.text + "\" capacity " + std::to_string(c.capacity));
    unsigned char buf[8] = {0};
    unsigned long length = c.capacity;
    EXPECT_EQ(HexToBuffer(MvString(c.text), buf, length), c.rc);
    if (c.rc == 0)
      EXPECT_EQ(ToHex(buf, length), c.bytesHex);
    else
      EXPECT_EQ(length, c.capacity);  // untouched on failure
  }

  // Every byte value survives the round trip, and nothing is written past the capacity.
  Bytes all;
  for (int b = 0; b < 256; ++b)
    all.push_back(static_cast<unsigned char>(b));
  MvString hex = BufferToHex(all.data(), all.size());
  Bytes back(300, 0xEE);
  unsigned long length = 256;
  ASSERT_EQ(HexToBuffer(hex, back.data(), length), 0);
  EXPECT_EQ(length, 256UL);
  EXPECT_EQ(Bytes(back.begin(), back.begin() + 256), all);
  EXPECT_EQ(back[256], 0xEE);
  back[255] = 0xEE;
  length = 255;
  EXPECT_EQ(HexToBuffer(hex, back.data(), length), TBX_E_BUFFER_TOO_SMALL);
  EXPECT_EQ(back[255], 0xEE);

  // A zero byte inside the text is not a digit.
  unsigned char buf[4];
  length = 4;
  EXPECT_EQ(HexToBuffer(MvString("ab\0cd", 5), buf, length), TBX_E_COMMAND_FAILED);
}

TEST(CryptoUtil, EncodeEveryByteValue)
{
  std::string all;
  std::string expected;
  for (int b = 0; b < 256; ++b) {
    char c = static_cast<char>(b);
    bool keep = (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
    std::string want =
        keep ? std::string(1, c) : "%" + ToHex(Bytes(1, static_cast<unsigned char>(b)));
    EXPECT_EQ(Str(Encode(Mv(std::string(1, c)))), want) << "byte " << b;
    all += c;
    expected += want;
  }
  EXPECT_EQ(Str(Encode(Mv(all))), expected);  // the zero byte included
  EXPECT_TRUE(Encode(MvString()).empty());
  EXPECT_TRUE(Encode(MvString("")).empty());

  for (const Json& v : Vectors()["url_data_encoding"].arr)
    EXPECT_EQ(Str(Encode(Mv(v["in"].str))), v["out"].str) << v["in"].str;
}

TEST(CryptoUtil, SlToBackSl)
{
  const char* cases[][2] = {{"a/b/c", "a\\b\\c"}, {"//", "\\\\"}, {"none", "none"}, {"", ""}};
  for (auto& c : cases) {
    MvString s(c[0]);
    SlToBackSl(s);
    EXPECT_EQ(Str(s), c[1]);
  }
  MvString empty;
  SlToBackSl(empty);
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
