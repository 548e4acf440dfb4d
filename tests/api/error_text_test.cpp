#include "tbxapp.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct CodeText
{
  unsigned int code;
  const char* text;  // null: the code has no text
};

// Every code the component knows, with the text it must have (or none).
const CodeText kCodes[] = {
    {0x80040201u, "no context present"},
    {0x80040202u, "file not found"},
    {0x80040203u, "file I/O error"},
    {0x80040204u, "invalid file format"},
    {0x80040205u, "the buffer size is too small"},
    {0x80040206u, "invalid URL"},
    {0x80040207u, "invalid option"},
    {0x80040208u, "request failed"},
    {0x80040209u, "cryptographic error"},
    {0x8004020Au, "no endpoint"},
    {0x8004020Bu, "invalid key blob"},
    {0x8004020Cu, "command failed"},
    {0x8004020Du, "requested item was not found"},
    {0x8004020Eu, "no key identifier specified"},
    {0x8004020Fu, "no configuration found"},
    {0x80040210u, "the requested key was not found"},
    {0x80040211u, "unexpected error"},
    {0x80040212u, "no default path was supplied"},
    {0x80040213u, "the request failed"},
    {0x80040214u, "invalid signature"},
    {0x8004021Au, "missing signature"},
    {0x80070005u, "access to URL resource denied"},
    {0x800C0005u, "URL resource not found"},
    {0x800C0006u, "URL resource not found"},
    {0x800C000Cu, "invalid URL request"},
    {0x8004303Du, "connection refused"},
    {0x8004303Cu, "connection timeout"},
    {0x80043036u, "connection reset"},
    {0x80043035u, "connection aborted"},
    {0x80043033u, "network not reachable"},
    {0x80042021u, "DNS lookup failed"},
    {0x80042191u, "access to URL resource denied"},
    {0x80042194u, "URL resource not found"},
    {0x800421F7u, "server temporarily unavailable"},
    {0x8004021Bu, "confirmation does not match the order"},
    {0x80040215u, nullptr},
    {0x80040216u, nullptr},
    {0x80040217u, nullptr},
    {0x80040218u, nullptr},
    {0x80040219u, nullptr},
    {0x80040281u, nullptr},
    {0x80040292u, nullptr},
    {0x80042000u | 302u, nullptr},
    {0x80042000u | 500u, nullptr},
    {0x80042019u, nullptr},
    {0x80042022u, nullptr},
    {0u, nullptr},
};

TEST(ErrorText, EveryCodeHasItsTextInBothForms)
{
  for (const CodeText& c : kCodes) {
    SCOPED_TRACE(testing::Message() << std::hex << c.code);
    for (long result : {TBX_RESULT(c.code), static_cast<long>(c.code)}) {
      char buffer[64] = "untouched";
      long length = sizeof buffer;
      const int found = TBX_GetErrorStringFromResult(result, &length, buffer);
      if (c.text == nullptr) {
        EXPECT_EQ(found, 0);
        EXPECT_EQ(length, static_cast<long>(sizeof buffer));
        EXPECT_STREQ(buffer, "untouched");
      } else {
        EXPECT_EQ(found, 1);
        EXPECT_STREQ(buffer, c.text);
        EXPECT_EQ(length, static_cast<long>(std::strlen(c.text) + 1));
      }
    }
  }
}

TEST(ErrorText, MeasureTruncateAndNullCases)
{
  char buffer[64];
  long length = 5;
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(TBX_GetErrorStringFromResult(TBX_E_NO_CONTEXT, &length, buffer), 1);
  EXPECT_STREQ(buffer, "no c");
  EXPECT_EQ(length, 19);

  length = 19;  // exactly the size needed
  EXPECT_EQ(TBX_GetErrorStringFromResult(TBX_E_NO_CONTEXT, &length, buffer), 1);
  EXPECT_STREQ(buffer, "no context present");

  for (long room : {0L, -1L, -1000L}) {
    std::memset(buffer, 'x', sizeof buffer);
    length = room;
    EXPECT_EQ(TBX_GetErrorStringFromResult(TBX_E_NO_CONTEXT, &length, buffer), 1);
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_EQ(length, 19);
  }

  length = 64;
  EXPECT_EQ(TBX_GetErrorStringFromResult(TBX_E_NO_CONTEXT, &length, nullptr), 1);
  EXPECT_EQ(length, 19);

  EXPECT_EQ(TBX_GetErrorStringFromResult(TBX_E_NO_CONTEXT, nullptr, buffer), 0);
  EXPECT_EQ(TBX_GetErrorStringFromResult(0, &length, buffer), 0);
}

}  // namespace
