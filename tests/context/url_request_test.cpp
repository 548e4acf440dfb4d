// Request URLs: shapes, no credentials, and the recognition of HTTP locations.
#include <string>

#include <gtest/gtest.h>

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
      // The options' credentials never enter the text: the exchange sends them as data.
      {"u", "", "https://192.0.2.7/setup", "ab", "", "https://192.0.2.7/setup?DATA=ab"},
      {"", "p", "http://h:81/x", "", "", "http://h:81/x?DATA="},
      {"merchant", "s3cret", "https://h/s", "a b-c", "0a1f",
       "https://h/s?DATA=a%20b%2dc&SIGNATURE=0a1f"},
      {"merchant", "s3cret", "https://own:pw@h/s", "", "", "https://own:pw@h/s?DATA="},
      {"", "", "https://h/s", "<TBX MSGTYPE=\"PayInit\"/>", "",
       "https://h/s?DATA=%3cTBX%20MSGTYPE%3d%22PayInit%22%2f%3e"},
      {"", "", "http://h", "\xe9.~_", "", "http://h?DATA=%e9%2e%7e%5f"},
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
