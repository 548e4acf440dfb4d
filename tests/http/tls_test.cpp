// TLS against a real OpenSSL server with certificates made at test time.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "http_test_util.h"
#include "httpresolve.h"
#include "httptls.h"
#include "loopback_server.h"
#include "test_certs.h"

using namespace tbxtest;

namespace {

class Tls : public testing::Test
{
protected:
  void SetUp() override
  {
    char dir[] = "/tmp/tbx-tls-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    m_Dir = dir;
    m_CaFile = m_Dir + "/ca.pem";
    ASSERT_TRUE(WritePem(m_CaFile, m_Pki.ca.get()));
  }
  void TearDown() override
  {
    unlink(m_CaFile.c_str());
    rmdir(m_Dir.c_str());
  }
  CtxPtr Serving(X509* cert) { return ServerContext(cert, m_Pki.serverKey.get()); }
  static LoopbackServer::Options TlsOptions(SSL_CTX* ctx)
  {
    LoopbackServer::Options o;
    o.tls = ctx;
    return o;
  }
  URL_INFO HttpsInfo(const LoopbackServer& server, const std::string& host, bool withCa)
  {
    URL_INFO info = Info(server.Url("/secure?x=1", "https", host));
    if (withCa)
      info.m_SslCaFile = M(m_CaFile);
    return info;
  }

  TestPki m_Pki;
  std::string m_Dir;
  std::string m_CaFile;
};

struct TlsCase
{
  const char* name;
  int cert;  // 0 good, 1 wrong host name, 2 self-signed
  const char* host;
  bool withCa;
  bool verify;
  long code;
  const char* detail;  // expected in the message when refused
};

TEST_F(Tls, VerificationTable)
{
  const long verifyFailed = TBX_RESULT(TBX_E_TLS_BASE | 1u); /* SSL_ERROR_SSL */
  const TlsCase cases[] = {
      {"good, by address", 0, "127.0.0.1", true, true, 0, ""},
      {"good, by name", 0, "localhost", true, true, 0, ""},
      {"unknown CA: refused by default", 0, "localhost", false, true, verifyFailed,
       "failed to setup protocol: certificate verify failed: unable to get local issuer "
       "certificate"},
      {"self-signed", 2, "localhost", true, true, verifyFailed,
       "failed to setup protocol: certificate verify failed: self-signed certificate"},
      {"wrong host name", 1, "localhost", true, true, verifyFailed,
       "certificate verify failed: hostname mismatch"},
      {"wrong address", 1, "127.0.0.1", true, true, verifyFailed,
       "certificate verify failed: IP address mismatch"},
      {"self-signed, not verified", 2, "localhost", false, false, 0, ""},
      {"wrong host, not verified", 1, "127.0.0.1", false, false, 0, ""},
  };
  for (const TlsCase& c : cases) {
    X509* cert = c.cert == 0   ? m_Pki.good.get()
                 : c.cert == 1 ? m_Pki.wrongHost.get()
                               : m_Pki.selfSigned.get();
    CtxPtr ctx = Serving(cert);
    LoopbackServer server({Send(HttpAnswer("200 OK", "<TBX/>"))}, TlsOptions(ctx.get()));
    URL_INFO info = HttpsInfo(server, c.host, c.withCa);
    info.m_SslVerify = c.verify;
    testing::internal::CaptureStdout();
    Fetched r = Fetch(info);
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(Hex(c.code), Hex(r.code)) << c.name << ": " << r.message;
    if (c.code == 0) {
      EXPECT_EQ("<TBX/>", r.body) << c.name;
      EXPECT_EQ(DirectRequest("/secure?x=1"), server.LastRequest()) << c.name;
    } else {
      EXPECT_NE(std::string::npos, r.message.find(c.detail)) << c.name << ": " << r.message;
      EXPECT_EQ("SSL ERROR: connect failed\n", printed) << c.name;
      EXPECT_TRUE(r.body.empty());
    }
  }
}

TEST_F(Tls, NameGoesInSniAddressesDoNot)
{
  CtxPtr ctx = Serving(m_Pki.good.get());
  LoopbackServer server({Send(HttpAnswer("200 OK", "x"))}, TlsOptions(ctx.get()));
  ASSERT_EQ(0, Fetch(HttpsInfo(server, "localhost", true)).code);
  ASSERT_EQ(0, Fetch(HttpsInfo(server, "127.0.0.1", true)).code);
  const auto names = server.ServerNames();
  ASSERT_EQ(2u, names.size());
  EXPECT_EQ("localhost", names[0]);
  EXPECT_EQ("", names[1]);
}

TEST_F(Tls, Ipv6AddressIsVerifiedAsAnAddress)
{
  CtxPtr ctx = Serving(m_Pki.good.get());
  LoopbackServer::Options o = TlsOptions(ctx.get());
  o.ipv6 = true;
  LoopbackServer server({Send(HttpAnswer("200 OK", "v6"))}, o);
  if (!server.ok())
    GTEST_SKIP() << "no IPv6 loopback on this machine";
  URL_INFO info = Info("https://[::1]:" + std::to_string(server.port()) + "/");
  info.m_SslCaFile = M(m_CaFile);
  Fetched r = Fetch(info);
  EXPECT_EQ(0, r.code) << r.message;
  EXPECT_EQ("v6", r.body);
}

TEST_F(Tls, CloseWithoutCloseNotifyEndsTheBody)
{
  CtxPtr ctx = Serving(m_Pki.good.get());
  LoopbackServer server({Send(HttpAnswer("200 OK", "cut short")), Cut()}, TlsOptions(ctx.get()));
  Fetched r = Fetch(HttpsInfo(server, "localhost", true));
  EXPECT_EQ(0, r.code) << r.message;
  EXPECT_EQ("cut short", r.body);
}

TEST_F(Tls, AnswersLargerThanOneRecord)
{
  const std::string body(300 * 1000, 'z');
  CtxPtr ctx = Serving(m_Pki.good.get());
  LoopbackServer server({Send(HttpAnswer("200 OK", body))}, TlsOptions(ctx.get()));
  Fetched r = Fetch(HttpsInfo(server, "localhost", true));
  EXPECT_EQ(0, r.code) << r.message;
  EXPECT_TRUE(body == r.body);
}

TEST_F(Tls, MissingCaFileFailsTheSetup)
{
  CtxPtr ctx = Serving(m_Pki.good.get());
  LoopbackServer server({Send(HttpAnswer("200 OK", "x"))}, TlsOptions(ctx.get()));
  URL_INFO info = HttpsInfo(server, "localhost", false);
  info.m_SslCaFile = M(m_Dir + "/missing.pem");
  Fetched r = Fetch(info);
  EXPECT_EQ(TBX_E_TLS_BASE, static_cast<unsigned long>(r.code) & 0xFFFFF000ul) << Hex(r.code);
  EXPECT_NE(std::string::npos, r.message.find("cannot load the CA file")) << r.message;
}

TEST_F(Tls, SilentServerTimesOutTheHandshake)
{
  LoopbackServer::Options o;
  o.readRequest = false;
  LoopbackServer server({Hang()}, o);  // accepts, then says nothing
  testing::internal::CaptureStdout();
  Fetched r = Fetch(Info(server.Url("/", "https", "localhost"), 1));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(Hex(TBX_E_CONNECTION_TIMEOUT), Hex(r.code)) << r.message;
  EXPECT_NE(std::string::npos, r.message.find("failed to setup protocol")) << r.message;
}

TEST_F(Tls, SilentServerAfterTheRequestTimesOut)
{
  CtxPtr ctx = Serving(m_Pki.good.get());
  LoopbackServer server({Hang()}, TlsOptions(ctx.get()));
  URL_INFO info = HttpsInfo(server, "localhost", true);
  info.m_Timeout = 1;
  Fetched r = Fetch(info);
  EXPECT_EQ(Hex(TBX_E_CONNECTION_TIMEOUT), Hex(r.code)) << r.message;
  EXPECT_NE(std::string::npos, r.message.find("outcome at the host is unknown")) << r.message;
}

TEST_F(Tls, WritingToAClosedPeerFailsWithoutSigpipe)
{
  CtxPtr ctx = Serving(m_Pki.good.get());
  LoopbackServer::Options o = TlsOptions(ctx.get());
  o.readRequest = false;
  LoopbackServer server({Reset()}, o);
  TBX_HostAddr addr;
  ASSERT_EQ(0, MakeHostAddr(MvString("127.0.0.1"), M(std::to_string(server.port())), &addr));
  SslConnection c(MvString("localhost"), true, M(m_CaFile), 2);
  ASSERT_EQ(0, c.Connect(reinterpret_cast<const sockaddr*>(&addr.m_Addr[0])));
  ASSERT_EQ(0, c.Setup()) << S(c.LastErrorText());
  MvStringStream data;
  data << M(std::string(64 * 1024, 'w'));
  int rc = 0;
  for (int i = 0; i < 50 && rc >= 0; ++i) {
    rc = c.Write(data);
    usleep(20 * 1000);
  }
  ASSERT_LT(rc, 0);  // still alive: no SIGPIPE
  EXPECT_EQ(TBX_E_TLS_BASE, static_cast<unsigned long>(c.LastError()) & 0xFFFFF000ul);
  c.Disconnect();
}

}  // namespace
