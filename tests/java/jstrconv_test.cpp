// Bytes to Java text and back, as the natives convert them.
#include <gtest/gtest.h>

#include <string>

#include "jstrconv.h"

namespace {

std::u16string Wide(const std::string& bytes)
{
  return TBXJ_Utf16FromBytes(bytes.data(), bytes.size());
}

std::string Bytes(const std::u16string& text)
{
  return TBXJ_BytesFromUtf16(text.data(), text.size());
}

TEST(JavaStrconv, BytesToUtf16)
{
  struct Case
  {
    const char* what;
    std::string bytes;
    std::u16string text;
  } cases[] = {
      {"ascii", "AMOUNT=1560", u"AMOUNT=1560"},
      {"empty", "", u""},
      {"two-byte utf-8", "Caf\xC3\xA9", u"Caf\u00E9"},
      {"three-byte utf-8",
       "\xE2\x82\xAC"
       "5",
       u"\u20AC5"},
      {"four-byte utf-8 as a pair", "\xF0\x9F\x8D\xB5", u"\U0001F375"},
      {"latin-1 byte", "Caf\xE9", u"Caf\u00E9"},
      {"latin-1 before ascii", "\xE9t\xE9", u"\u00E9t\u00E9"},
      {"lone continuation", "\x80x", u"\u0080x"},
      {"overlong slash", "\xC0\xAF", u"\u00C0\u00AF"},
      {"encoded surrogate", "\xED\xA0\x80", u"\u00ED\u00A0\u0080"},
      {"past U+10FFFF", "\xF4\x90\x80\x80", u"\u00F4\u0090\u0080\u0080"},
      {"cut sequence at the end", "a\xE2\x82", u"a\u00E2\u0082"},
      {"embedded NUL kept", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.text, Wide(c.bytes)) << c.what;
  EXPECT_EQ(u"", TBXJ_Utf16FromBytes(nullptr, 5));
}

TEST(JavaStrconv, Utf16ToBytes)
{
  struct Case
  {
    const char* what;
    std::u16string text;
    std::string bytes;
  } cases[] = {
      {"ascii", u"EUR", "EUR"},
      {"latin-1 range", u"Caf\u00E9", "Caf\xC3\xA9"},
      {"euro", u"\u20AC", "\xE2\x82\xAC"},
      {"pair as one sequence", u"\U0001F375", "\xF0\x9F\x8D\xB5"},
      {"NUL stays inside the C string", std::u16string(u"a\0b", 3),
       "a\xC0\x80"
       "b"},
      {"lone high surrogate", std::u16string(1, u'\xD800'), "\xED\xA0\x80"},
      {"lone low surrogate", std::u16string(1, u'\xDC00'), "\xED\xB0\x80"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.bytes, Bytes(c.text)) << c.what;
}

TEST(JavaStrconv, ValidTextRoundTrips)
{
  const std::u16string text = u"Tea & biscuits \u00E9\u20AC\U0001F375 <TBX/>";
  EXPECT_EQ(text, Wide(Bytes(text)));
}

}  // namespace
