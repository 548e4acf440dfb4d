// Stream sources: local files, and HTTP locations fetched with the store's settings applied,
// against loopback peers.
#include <sys/stat.h>

#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "loopback_server.h"
#include "store_test_util.h"
#include "tbxctx.h"
#include "test_certs.h"

using namespace storetest;
using tbxtest::LoopbackServer;

namespace {

std::vector<tbxtest::Step> Ok(const std::string& body)
{
  return {tbxtest::Send(tbxtest::HttpAnswer("200 OK", body))};
}

std::string FirstLine(const std::string& request)
{
  return request.substr(0, request.find("\r\n"));
}

std::vector<std::string> RequestLines(LoopbackServer& server)
{
  std::vector<std::string> lines;
  for (const std::string& r : server.Requests())
    lines.push_back(FirstLine(r));
  return lines;
}

class StreamTest : public ::testing::Test
{
protected:
  void SetUp() override { ASSERT_PASSES(m_Ctx.Open(Mv(m_Dir.path()))); }

  void Settings(const std::string& xml) { WriteAll(m_Dir / "settings.xml", xml); }

  // Fetches `location`; the body, or "raised 0x..." with the code.
  std::string Fetch(const std::string& location)
  {
    MvStringStream out;
    try {
      m_Ctx.StreamFromURL(Mv(location), out);
    } catch (const TBX_Exception& e) {
      return "raised " + Hex(e.m_Result);
    }
    return Str(out.str());
  }

  TempDir m_Dir;
  TBX_Context m_Ctx;
};

}  // namespace

TEST_F(StreamTest, LocalFilesAreReadWhole)
{
  const std::string bytes("<TBX/>\0\x01\xff tail", 14);
  WriteAll(m_Dir / "f", bytes);
  MvStringStream out;
  out << "prefix:";
  ASSERT_PASSES(m_Ctx.StreamFromURL(Mv(m_Dir / "f"), out));
  EXPECT_EQ(Str(out.str()), "prefix:" + bytes);

  // Larger than one read.
  const std::string large(100000, 'z');
  WriteAll(m_Dir / "large", large);
  EXPECT_EQ(Fetch(m_Dir / "large"), large);
}

TEST_F(StreamTest, MissingLocalFilesNameTheLocation)
{
  ASSERT_EQ(mkdir((m_Dir / "dir").c_str(), 0755), 0);
  for (const std::string& location :
       {m_Dir / "missing", m_Dir / "dir", std::string("HTTP://127.0.0.1/x"), std::string("")}) {
    MvStringStream out;
    try {
      m_Ctx.StreamFromURL(Mv(location), out);
      ADD_FAILURE() << "no failure for " << location;
    } catch (const TBX_Exception& e) {
      EXPECT_EQ(Hex(e.m_Result), Hex(TBX_E_SOURCE_NOT_OPENED)) << location;
      EXPECT_EQ(e.m_Line, 84);
      EXPECT_EQ(Str(e.m_File), "tbxurl");
      EXPECT_NE(Str(e.m_Message).find(location), std::string::npos) << Str(e.m_Message);
    }
    EXPECT_TRUE(out.str().empty());
  }
}

TEST_F(StreamTest, DirectFetchWithoutSettings)
{
  LoopbackServer origin(Ok("<TBX MSGTYPE=\"SetupResponse\"/>"));
  MvStringStream out;
  ASSERT_PASSES(m_Ctx.StreamFromURL(Mv(origin.Url("/setup?DATA=x")), out));
  EXPECT_EQ(Str(out.str()), "<TBX MSGTYPE=\"SetupResponse\"/>");
  ASSERT_EQ(RequestLines(origin).size(), 1u);
  EXPECT_EQ(RequestLines(origin)[0], "GET /setup?DATA=x HTTP/1.0");
}

TEST_F(StreamTest, ProxySettings)
{
  struct Case
  {
    const char* settings;  // %P: the proxy's port
    bool viaProxy;
  } cases[] = {
      {"<TBX USEPROXY=\"1\" PROXYHOST=\"127.0.0.1\" PROXYPORT=\"%P\"/>", true},
      {"<TBX USEPROXY=\"yes\" PROXYHOST=\"127.0.0.1\" PROXYPORT=\"%P\"/>", false},
      {"<TBX USEPROXY=\"true\" PROXYHOST=\"127.0.0.1\" PROXYPORT=\"%P\"/>", false},
      {"<TBX USEPROXY=\"1\" PROXYPORT=\"%P\"/>", false},
      {"<TBX USEPROXY=\"1\" PROXYHOST=\"\" PROXYPORT=\"%P\"/>", false},
      {"<TBX PROXYHOST=\"127.0.0.1\" PROXYPORT=\"%P\"/>", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.settings);
    LoopbackServer origin(Ok("direct"));
    LoopbackServer proxy(Ok("proxied"));
    std::string settings = c.settings;
    settings.replace(settings.find("%P"), 2, std::to_string(proxy.port()));
    Settings(settings);
    const std::string url = origin.Url("/a/b?DATA=1");
    EXPECT_EQ(Fetch(url), c.viaProxy ? "proxied" : "direct");
    if (c.viaProxy) {
      ASSERT_EQ(RequestLines(proxy).size(), 1u);
      EXPECT_EQ(RequestLines(proxy)[0], "GET " + url + " HTTP/1.0");
      EXPECT_TRUE(origin.Requests().empty());
    }
  }
}

TEST_F(StreamTest, TraceOptionPrintsTheExchange)
{
  LoopbackServer origin(Ok("body"));
  Settings("<TBX TRACEOPT=\"x,rawhttp\"/>");
  ::testing::internal::CaptureStdout();
  const std::string body = Fetch(origin.Url("/t"));
  const std::string printed = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(body, "body");
  EXPECT_NE(printed.find("GET /t HTTP/1.0"), std::string::npos) << printed;
  EXPECT_NE(printed.find("HTTP/1.0 200 OK"), std::string::npos) << printed;
}

TEST_F(StreamTest, TimeoutSetting)
{
  LoopbackServer silent({tbxtest::Hang()});
  Settings("<TBX TIMEOUT=\"1\"/>");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Fetch(silent.Url("/slow")), "raised " + Hex(TBX_E_CONNECTION_TIMEOUT));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));

  for (const char* bad : {"x", "-1", "1.5", "10s", "99999999999"}) {
    Settings(std::string("<TBX TIMEOUT=\"") + bad + "\"/>");
    EXPECT_EQ(Fetch("http://127.0.0.1:9/x"), "raised " + Hex(TBX_E_INVALID_OPTION)) << bad;
  }
}

TEST_F(StreamTest, BrokenSettingsOrUrlsFailBeforeAnyConnection)
{
  Settings("<TBX USEPROXY='1'");
  EXPECT_EQ(Fetch("http://127.0.0.1:9/x"), "raised " + Hex(TBX_E_INVALID_FORMAT));
  Settings("<TBX/>");
  EXPECT_EQ(Fetch("http:/127.0.0.1/x"), "raised " + Hex(TBX_E_HTTP_BAD_URL));
  EXPECT_EQ(Fetch("http://127.0.0.1/a\r\nX: y"), "raised " + Hex(TBX_E_HTTP_BAD_URL));

  TBX_Context closed;
  MvStringStream out;
  EXPECT_RAISES(TBX_E_NO_CONTEXT, closed.StreamFromURL(MvString("http://127.0.0.1:9/x"), out));
}

TEST(StreamUrlStore, SettingsOfAUrlStoreAreReadWithoutProxy)
{
  // The store itself lives on `origin`; its settings send every other fetch through `proxy`.
  LoopbackServer proxy(Ok("<TBX VTURL=\"via-proxy\"/>"));
  LoopbackServer origin(Ok("<TBX USEPROXY=\"1\" PROXYHOST=\"127.0.0.1\" PROXYPORT=\"" +
                           std::to_string(proxy.port()) + "\"/>"));
  const std::string store = origin.Url("/store");
  TBX_Context ctx;
  ASSERT_PASSES(ctx.Open(Mv(store)));
  MvString value;
  ASSERT_PASSES(ctx.QueryValue(MvString("config.xml"), MvString("VTURL"), value));
  EXPECT_EQ(Str(value), "via-proxy");
  ASSERT_EQ(RequestLines(origin).size(), 1u);
  EXPECT_EQ(RequestLines(origin)[0], "GET /store/settings.xml HTTP/1.0");
  ASSERT_EQ(RequestLines(proxy).size(), 1u);
  EXPECT_EQ(RequestLines(proxy)[0], "GET " + store + "/config.xml HTTP/1.0");
}

TEST_F(StreamTest, TlsSettings)
{
  tbxtest::TestPki pki;
  ASSERT_TRUE(tbxtest::WritePem(m_Dir / "ca.pem", pki.ca.get()));
  auto tls = tbxtest::ServerContext(pki.good.get(), pki.serverKey.get());
  LoopbackServer::Options options;
  options.tls = tls.get();
  LoopbackServer server(Ok("secret"), options);
  const std::string url = server.Url("/s", "https");

  struct Case
  {
    std::string settings;
    bool accepted;
  } cases[] = {
      {"", false},  // no settings.xml: verified against the system's trust store
      {"<TBX SSLCAFILE=\"" + (m_Dir / "ca.pem") + "\"/>", true},
      {"<TBX SSLVERIFY=\"0\"/>", true},
      {"<TBX SSLVERIFY=\"no\"/>", false},
      {"<TBX SSLVERIFY=\"1\" SSLCAFILE=\"" + (m_Dir / "ca.pem") + "\"/>", true},
      {"<TBX SSLCAFILE=\"" + (m_Dir / "missing.pem") + "\"/>", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.settings);
    unlink((m_Dir / "settings.xml").c_str());
    if (!c.settings.empty())
      Settings(c.settings);
    MvStringStream out;
    try {
      m_Ctx.StreamFromURL(Mv(url), out);
      EXPECT_TRUE(c.accepted);
      EXPECT_EQ(Str(out.str()), "secret");
    } catch (const TBX_Exception& e) {
      EXPECT_FALSE(c.accepted) << Str(e.m_Message);
      EXPECT_EQ(static_cast<unsigned long>(e.m_Result) & 0xFFFFF000ul, 0x80044000ul)
          << Hex(e.m_Result) << " " << Str(e.m_Message);
    }
  }
}

// A file the web server does not have is absent, as in a directory.
TEST(StreamUrlStore, AUrlStoreWithoutSettingsHasNone)
{
  LoopbackServer origin({tbxtest::Send(tbxtest::HttpAnswer("404 Not Found", ""))});
  TBX_Context ctx;
  ASSERT_PASSES(ctx.Open(Mv(origin.Url("/store"))));
  MvString value("before");
  bool found = true;
  ASSERT_PASSES(found = ctx.QueryValue(MvString("config.xml"), MvString("VTURL"), value));
  EXPECT_FALSE(found);
  EXPECT_EQ(Str(value), "before");
  EXPECT_EQ(RequestLines(origin), (std::vector<std::string>{"GET /store/settings.xml HTTP/1.0",
                                                            "GET /store/config.xml HTTP/1.0"}));
}
