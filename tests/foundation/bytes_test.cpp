// Hexadecimal, character classes, percent-encoding and Base64.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mvbytes.h"
#include "tbxapp.h"

namespace {

std::string S(const MvString& s)
{
  return s.c_str() != nullptr ? std::string(s.c_str(), s.size()) : std::string();
}

// Two lowercase digits per byte, written independently of the code under test.
std::string Hex(const unsigned char* p, size_t n)
{
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    out += "0123456789abcdef"[p[i] >> 4];
    out += "0123456789abcdef"[p[i] & 15];
  }
  return out;
}

}  // namespace

TEST(Bytes, HexDecode)
{
  struct Case
  {
    std::string text;
    unsigned long capacity;
    long rc;
    const char* bytes;  // as lowercase hex: the whole result, or what a failure left behind
  } cases[] = {
      {"", 0, 0, ""},
      {"", 4, 0, ""},
      {"00AB10", 3, 0, "00ab10"},
      {"00ab10", 8, 0, "00ab10"},
      {"aBcD", 2, 0, "abcd"},
      {"abc", 2, 0, "ab"},                       // the odd digit is dropped...
      {"abc", 1, TBX_E_BUFFER_TOO_SMALL, "ab"},  // ...but still counts against the capacity
      {"abg", 2, TBX_E_COMMAND_FAILED, "ab"},    // ...and must be a digit
      {"0011", 1, TBX_E_BUFFER_TOO_SMALL, "00"},
      {"00", 0, TBX_E_BUFFER_TOO_SMALL, ""},
      {"00zz", 1, TBX_E_BUFFER_TOO_SMALL, "00"},  // what lies past the capacity is not read
      {"0g", 4, TBX_E_COMMAND_FAILED, ""},
      {"g0", 4, TBX_E_COMMAND_FAILED, ""},
      {"12 4", 4, TBX_E_COMMAND_FAILED, "12"},
      {"0x10", 4, TBX_E_COMMAND_FAILED, ""},
      {"-1", 4, TBX_E_COMMAND_FAILED, ""},
      {std::string("ab\0cd", 5), 4, TBX_E_COMMAND_FAILED, "ab"},
      {"fG", 4, TBX_E_COMMAND_FAILED, ""},
      {"FfEe", 4, 0, "ffee"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("\"" + c.text + "\" capacity " + std::to_string(c.capacity));
    unsigned char buffer[8];
    std::fill(buffer, buffer + sizeof buffer, 0xEE);
    unsigned long length = c.capacity;
    EXPECT_EQ(MvHexDecode(c.text.data(), c.text.size(), buffer, length), c.rc);
    const std::string want(c.bytes);
    EXPECT_EQ(length, c.rc == 0 ? want.size() / 2 : c.capacity);  // untouched on failure
    EXPECT_EQ(Hex(buffer, want.size() / 2), want);
    EXPECT_EQ(buffer[want.size() / 2], 0xEE);  // nothing written past the decoded bytes
  }

  // Every byte value survives the round trip, and nothing is written past the capacity.
  std::vector<unsigned char> all;
  for (int b = 0; b < 256; ++b)
    all.push_back(static_cast<unsigned char>(b));
  const MvString hex = MvHexEncode(all.data(), all.size());
  EXPECT_EQ(S(hex), Hex(all.data(), all.size()));
  std::vector<unsigned char> back(257, 0xEE);
  unsigned long length = 256;
  ASSERT_EQ(MvHexDecode(hex.c_str(), hex.size(), back.data(), length), 0);
  EXPECT_EQ(std::vector<unsigned char>(back.begin(), back.begin() + 256), all);
  EXPECT_EQ(back[256], 0xEE);
  EXPECT_TRUE(MvHexEncode(all.data(), 0).empty());
}

TEST(Bytes, CharacterClasses)
{
  for (int b = 0; b < 256; ++b) {
    const char c = static_cast<char>(b);
    const bool digit = b >= '0' && b <= '9';
    const bool alpha = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
    const int value = digit                  ? b - '0'
                      : b >= 'a' && b <= 'f' ? b - 'a' + 10
                      : b >= 'A' && b <= 'F' ? b - 'A' + 10
                                             : -1;
    EXPECT_EQ(MvIsAsciiAlnum(c), digit || alpha) << b;
    EXPECT_EQ(MvHexValue(c), value) << b;
    EXPECT_EQ(MvIsHexDigit(c), value >= 0) << b;
  }
}

TEST(Bytes, PercentEncodeEveryByte)
{
  for (MvPercentKeep keep : {MvPercentKeep::kAlnum, MvPercentKeep::kUnreserved}) {
    std::string all, expected;
    for (int b = 0; b < 256; ++b) {
      const unsigned char u = static_cast<unsigned char>(b);
      const bool kept =
          MvIsAsciiAlnum(static_cast<char>(b)) ||
          (keep == MvPercentKeep::kUnreserved && std::string("-._~").find(b) != std::string::npos);
      all += static_cast<char>(b);
      expected += kept ? std::string(1, static_cast<char>(b)) : "%" + Hex(&u, 1);
    }
    EXPECT_EQ(S(MvPercentEncode(all.data(), all.size(), keep)), expected);  // zero byte included
    // Decoding gives every byte back.
    EXPECT_EQ(S(MvPercentDecode(expected.data(), expected.size())), all);
    EXPECT_TRUE(MvPercentEncode("", 0, keep).empty());
  }
  EXPECT_EQ(S(MvPercentEncode("a b-c", 5, MvPercentKeep::kAlnum)), "a%20b%2dc");
  EXPECT_EQ(S(MvPercentEncode("a b-c", 5, MvPercentKeep::kUnreserved)), "a%20b-c");
}

TEST(Bytes, PercentDecodeKeepsWhatIsNoEscape)
{
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},           {"%41%2f%2F", "A//"}, {"%", "%"},
      {"%4", "%4"},       {"a%4", "a%4"},       {"%zz", "%zz"},
      {"%4g", "%4g"},     {"%%41", "%A"},       {"%00x", std::string("\0x", 2)},
      {"p%40ss", "p@ss"}, {"100%", "100%"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(S(MvPercentDecode(c.first.data(), c.first.size())), c.second) << c.first;
}

TEST(Bytes, Base64Padding)
{
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
      {":", "Og=="},
      {std::string("\0\xff\x10", 3), "AP8Q"},
      {"\xfb\xff", "+/8="},
      {"e40215536:Pq7mWz2L", "ZTQwMjE1NTM2OlBxN21XejJM"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(S(MvBase64Encode(c.first.data(), c.first.size())), c.second) << c.first;
}
