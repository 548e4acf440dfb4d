#include "tbxerr.h"

#include <gtest/gtest.h>

#include <cstdlib>
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

class ScopedEnv
{
public:
  ScopedEnv(const char* name, const char* value) : m_name(name)
  {
    const char* old = std::getenv(name);
    m_had = old != nullptr;
    if (m_had)
      m_old = old;
    if (value != nullptr)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~ScopedEnv()
  {
    if (m_had)
      setenv(m_name, m_old.c_str(), 1);
    else
      unsetenv(m_name);
  }

private:
  const char* m_name;
  bool m_had = false;
  std::string m_old;
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

TEST(Exception, ComposedMessage)
{
  ScopedEnv env("TBXDEBUG", nullptr);
  EXPECT_STREQ(
      TBX_Exception(TBX_E_MISSING_SIGNATURE, MvString(""), "tbxctx", 722).m_Message.c_str(),
      "missing signature");
  EXPECT_STREQ(TBX_Exception(TBX_E_INVALID_ARGUMENT, MvString("abc"), "x", 1).m_Message.c_str(),
               "ErrorCode = 0x80040218 (abc)");
  EXPECT_STREQ(TBX_Exception(TBX_E_HOST_ERROR, MvString("payment already captured"), "x", 1)
                   .m_Message.c_str(),
               "the request failed (payment already captured)");
  // Small codes print without leading zeros.
  EXPECT_STREQ(TBX_Exception(0x0102, MvString(""), "x", 1).m_Message.c_str(), "ErrorCode = 0x102");

  TBX_Exception e(TBX_E_FILE_IO, MvString(""), "tbxbase", 212);
  EXPECT_EQ(e.m_Result, TBX_E_FILE_IO);
  EXPECT_STREQ(e.m_File.c_str(), "tbxbase");
  EXPECT_EQ(e.m_Line, 212);
  TBX_Exception copy(e);
  EXPECT_STREQ(copy.m_Message.c_str(), "file I/O error");
}

TEST(Exception, ExtendedFormWhenTbxdebugIsDefined)
{
  for (const char* value : {"1", ""}) {
    ScopedEnv env("TBXDEBUG", value);
    EXPECT_TRUE(TBX_ErrorLookup::UseExtendedErrorInfo());
    EXPECT_STREQ(
        TBX_Exception(TBX_E_MISSING_SIGNATURE, MvString(""), "tbxctx", 722).m_Message.c_str(),
        "tbxctx(722) : error 8004021a : missing signature");
    EXPECT_STREQ(TBX_Exception(TBX_E_INVALID_ARGUMENT, MvString("abc"), "cli", 7).m_Message.c_str(),
                 "cli(7) : error 80040218 : ErrorCode = 0x80040218 (abc)");
  }
  ScopedEnv env("TBXDEBUG", nullptr);
  EXPECT_FALSE(TBX_ErrorLookup::UseExtendedErrorInfo());
}

TEST(Exception, ThrowMacroCarriesUnitAndLine)
{
  try {
    TBX_THROW(TBX_E_NO_ENDPOINT, "", "tbxctx", 442);
    FAIL() << "no exception";
  } catch (const TBX_Exception& e) {
    EXPECT_EQ(e.m_Result, TBX_E_NO_ENDPOINT);
    EXPECT_STREQ(e.m_File.c_str(), "tbxctx");
    EXPECT_EQ(e.m_Line, 442);
  }
}

}  // namespace
