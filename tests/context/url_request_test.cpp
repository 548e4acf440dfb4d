// Request URLs: shapes, credentials and the recognition of HTTP locations.
#include <string>

#include <gtest/gtest.h>

#include "spliturl.h"
#include "store_test_util.h"
#include "tbxctx.h"
#include "tbxurl.h"

using namespace storetest;

namespace {

std::string Build(TBX_Context& ctx, const std::string& endpoint, const std::string& text,
                  const std::string& signature)
{
  MvStringStream request;
  request << Mv(text);
  MvString url;
  ctx.RequestToURL(Mv(endpoint), request, Mv(signature), url);
  return Str(url);
}

}  // namespace

TEST(RequestUrl, Shapes)
{
  struct Case
  {
    const char* user;
    const char* password;
    const char* endpoint;
    const char* text;
    const char* signature;
    const char* url;
  } cases[] = {
      {"", "", "https://192.0.2.7/setup", "ab", "", "https://192.0.2.7/setup?DATA=ab"},
      {"u", "", "https://192.0.2.7/setup", "ab", "", "https://u:@192.0.2.7/setup?DATA=ab"},
      {"", "p", "http://h:81/x", "", "", "http://:p@h:81/x?DATA="},
      {"merchant", "s3cret", "https://h/s", "a b-c", "0a1f",
       "https://merchant:s3cret@h/s?DATA=a%20b%2dc&SIGNATURE=0a1f"},
      {"", "", "https://h/s", "<TBX MSGTYPE=\"PayInit\"/>", "",
       "https://h/s?DATA=%3cTBX%20MSGTYPE%3d%22PayInit%22%2f%3e"},
      {"", "", "http://h", "\xe9.~_", "", "http://h?DATA=%e9%2e%7e%5f"},
      // Credentials cannot redirect the request: '@', ':', '/' and the rest are encoded.
      {"a@b", "p:w/d@evil.example?#%", "https://h/s", "", "",
       "https://a%40b:p%3aw%2fd%40evil.example%3f%23%25@h/s?DATA="},
      {"user.name-x_y~z", "", "https://h/s", "", "", "https://user.name-x_y~z:@h/s?DATA="},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    TBX_Context ctx;
    ctx.SetOption(MvString("UserName"), MvString(c.user));
    ctx.SetOption(MvString("Password"), MvString(c.password));
    EXPECT_EQ(Build(ctx, c.endpoint, c.text, c.signature), c.url);
  }
}

TEST(RequestUrl, EndpointWithoutSchemeSeparator)
{
  TBX_Context ctx;
  for (const char* endpoint : {"://x", "x", "", "http:/x", "http//x"}) {
    MvStringStream request;
    MvString url("kept");
    EXPECT_RAISES_AT(TBX_E_INVALID_URL, 145,
                     ctx.RequestToURL(MvString(endpoint), request, MvString(), url))
        << endpoint;
    EXPECT_EQ(Str(url), "kept");
  }
}

TEST(RequestUrl, CredentialsSurviveTheTransportSplit)
{
  const std::string user = "shop@example.org";
  const std::string password = "p@ss:w/rd?&%41";
  TBX_Context ctx;
  ctx.SetOption(MvString("UserName"), Mv(user));
  ctx.SetOption(MvString("Password"), Mv(password));
  URL_INFO info;
  ASSERT_TRUE(SplitUrl(Mv(Build(ctx, "https://192.0.2.7:8443/setup", "<TBX/>", "ff")), info));
  EXPECT_EQ(Str(info.m_Host), "192.0.2.7");
  EXPECT_EQ(Str(info.m_Port), "8443");
  EXPECT_EQ(Str(info.m_User), user);
  EXPECT_EQ(Str(info.m_Password), password);
  EXPECT_EQ(Str(info.m_Path), "/setup?DATA=%3cTBX%2f%3e&SIGNATURE=ff");
}

TEST(RequestUrl, IsHttpNeedsTheColon)
{
  struct Case
  {
    const char* location;
    bool http;
  } cases[] = {
      {"http://h/x", true},     {"https://h/x", true},      {"http:", true},      {"https:", true},
      {"http:x", true},         {"httpsdocs/store", false}, {"httpdocs", false},  {"https", false},
      {"http", false},          {"HTTP://h/x", false},      {"Https://h", false}, {"", false},
      {"/var/http://x", false}, {"ftp://h", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(IsHttp(MvString(c.location)), c.http) << c.location;
}
