// Fetches through HTTP proxies: a scripted proxy that records the exact bytes, and Debian's
// tinyproxy started on a free port.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "http_test_util.h"
#include "loopback_server.h"
#include "test_certs.h"

using namespace tbxtest;

namespace {

const char kConnectLine[] =
    "Pragma: no-cache\r\nUserAgent: Kestrum Application Component 1.0\r\n\r\n";

URL_INFO ViaProxy(const std::string& url, int proxyPort, long timeout = 5)
{
  URL_INFO info = Info(url, timeout);
  info.m_ProxyHost = "127.0.0.1";
  info.m_ProxyPort = M(std::to_string(proxyPort));
  return info;
}

TEST(ScriptedProxy, HttpGoesAsAnAbsoluteUriWithoutResolvingTheHost)
{
  LoopbackServer proxy({Send(HttpAnswer("200 OK", "<TBX/>"))});
  // The target name is never looked up by us: only the proxy resolves it.
  Fetched r = Fetch(ViaProxy("http://u:p@host.invalid:8080/pay?DATA=1", proxy.port()));
  ASSERT_EQ(0, r.code) << r.message;
  EXPECT_EQ("<TBX/>", r.body);
  EXPECT_EQ(DirectRequest("http://host.invalid:8080/pay?DATA=1", "u", "p"), proxy.LastRequest());
}

TEST(ScriptedProxy, StatusAnswersOfTheProxy)
{
  struct Case
  {
    const char* url;
    std::vector<Step> script;
    long code;
  };
  const Case cases[] = {
      {"http://h.invalid/x", {Send(HttpAnswer("404 Not Found", ""))}, TBX_RESULT(0x80042194u)},
      {"http://h.invalid/x",
       {Send(HttpAnswer("503 Service Unavailable", ""))},
       TBX_RESULT(0x800421F7u)},
      {"https://h.invalid/x",
       {Send("HTTP/1.0 407 Proxy Authentication Required\r\n\r\n")},
       TBX_RESULT(0x80042197u)},
      // Split in one-byte pieces: the whole answer is read, not just the first piece.
      {"https://h.invalid/x",
       {Drip("HTTP/1.1 407 Proxy Authentication Required\r\n\r\n", 1, 2)},
       TBX_RESULT(0x80042197u)},
      {"https://h.invalid/x", {Send("SSH-2.0-x\r\n\r\n")}, TBX_E_HTTP_BAD_RESPONSE},
      // The status-line rule of host answers: "HTTP/1." first, not anywhere.
      {"https://h.invalid/x", {Send("SSH-2.0-x 200 HTTP/1\r\n\r\n")}, TBX_E_HTTP_BAD_RESPONSE},
      {"https://h.invalid/x", {Send("xHTTP/1.0 200 OK\r\n\r\n")}, TBX_E_HTTP_BAD_RESPONSE},
      {"https://h.invalid/x", {Send("HTTP/1.0 200 OK\r\n")}, TBX_E_HTTP_BAD_RESPONSE},
      {"https://h.invalid/x", {}, TBX_E_HTTP_BAD_RESPONSE},
      {"https://h.invalid/x",
       {Send("HTTP/1.0 200 " + std::string(20000, 'x'))},
       TBX_E_HTTP_BAD_RESPONSE},
      {"ftp://h.invalid/x", {}, TBX_RESULT(0x80042020u)},
  };
  for (const Case& c : cases) {
    LoopbackServer proxy(c.script);
    testing::internal::CaptureStderr();
    Fetched r = Fetch(ViaProxy(c.url, proxy.port()));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(Hex(c.code), Hex(r.code)) << c.url << ": " << r.message;
    if (std::string(c.url).compare(0, 6, "https:") == 0 && c.code != TBX_E_HTTP_BAD_RESPONSE) {
      EXPECT_EQ("CONNECT h.invalid:443 HTTP/1.0\r\n" + std::string(kConnectLine),
                proxy.LastRequest());
      EXPECT_EQ(0u, err.find("Proxy response:\nHTTP/1")) << err;
    }
  }
}

TEST(ScriptedProxy, SilentProxyTimesOut)
{
  LoopbackServer proxy({Hang()});
  Fetched r = Fetch(ViaProxy("https://h.invalid/x", proxy.port(), 1));
  EXPECT_EQ(Hex(TBX_E_CONNECTION_TIMEOUT), Hex(r.code)) << r.message;
}

TEST(ScriptedProxy, UnresolvableOrRefusingProxy)
{
  URL_INFO info = Info("http://127.0.0.1/x");
  info.m_ProxyHost = M(std::string(64, 'p') + ".invalid");
  info.m_ProxyPort = "8080";
  Fetched r = Fetch(info);
  EXPECT_EQ(Hex(TBX_E_DNS_LOOKUP), Hex(r.code));
  EXPECT_NE(std::string::npos,
            r.message.find("the proxy address is invalid or could not be resolved"));

  Fetched refused = Fetch(ViaProxy("https://h.invalid/x", UnusedPort()));
  EXPECT_EQ(Hex(TBX_E_CONNECTION_REFUSED), Hex(refused.code));
}

class ProxyTls : public testing::Test
{
protected:
  void SetUp() override
  {
    char dir[] = "/tmp/tbx-proxy-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    m_Dir = dir;
    m_CaFile = m_Dir + "/ca.pem";
    ASSERT_TRUE(WritePem(m_CaFile, m_Pki.ca.get()));
    m_Ctx = ServerContext(m_Pki.good.get(), m_Pki.serverKey.get());
    LoopbackServer::Options o;
    o.tls = m_Ctx.get();
    m_Origin.reset(
        new LoopbackServer({Send(HttpAnswer("200 OK", "<TBX MSGTYPE=\"tunnel\"/>"))}, o));
  }
  void TearDown() override
  {
    m_Origin.reset();
    unlink(m_CaFile.c_str());
    rmdir(m_Dir.c_str());
  }

  TestPki m_Pki;
  CtxPtr m_Ctx;
  std::string m_Dir;
  std::string m_CaFile;
  std::unique_ptr<LoopbackServer> m_Origin;
};

TEST_F(ProxyTls, TunnelAfterAnAnswerInPieces)
{
  LoopbackServer proxy({Drip("HTTP/1.0 200 Connection established\r\nProxy-Agent: x\r\n\r\n", 7, 5),
                        Tunnel(m_Origin->port())});
  URL_INFO info =
      ViaProxy("https://localhost:" + std::to_string(m_Origin->port()) + "/cap?x=1", proxy.port());
  info.m_SslCaFile = M(m_CaFile);
  testing::internal::CaptureStderr();
  Fetched r = Fetch(info);
  testing::internal::GetCapturedStderr();
  ASSERT_EQ(0, r.code) << r.message;
  EXPECT_EQ("<TBX MSGTYPE=\"tunnel\"/>", r.body);
  EXPECT_EQ("CONNECT localhost:" + std::to_string(m_Origin->port()) + " HTTP/1.0\r\n" +
                kConnectLine,
            proxy.LastRequest());
  // Inside the tunnel the GET carries only the path, and the host's name was verified.
  EXPECT_EQ(DirectRequest("/cap?x=1"), m_Origin->LastRequest());
  EXPECT_EQ(std::vector<std::string>{"localhost"}, m_Origin->ServerNames());
}

// Debian's tinyproxy on a free port of 127.0.0.1, in the foreground, stopped by the destructor.
class TinyProxy
{
public:
  TinyProxy(const std::string& dir, int connectPort)
  {
    const char* candidates[] = {"/usr/bin/tinyproxy", "/usr/sbin/tinyproxy"};
    for (const char* c : candidates)
      if (access(c, X_OK) == 0)
        m_Binary = c;
    if (m_Binary.empty())
      return;
    m_Conf = dir + "/tinyproxy.conf";
    for (int attempt = 0; attempt < 5 && m_Pid <= 0; ++attempt) {
      m_Port = UnusedPort();
      std::ofstream conf(m_Conf);
      conf << "Port " << m_Port << "\nListen 127.0.0.1\nTimeout 20\nMaxClients 8\n"
           << "Allow 127.0.0.1\nConnectPort " << connectPort << "\nDisableViaHeader Yes\n"
           << "LogLevel Critical\n";
      conf.close();
      pid_t pid = fork();
      if (pid == 0) {
        int null = open("/dev/null", O_RDWR);
        dup2(null, 1);
        dup2(null, 2);
        execl(m_Binary.c_str(), "tinyproxy", "-d", "-c", m_Conf.c_str(), (char*)nullptr);
        _exit(127);
      }
      if (WaitListening(pid))
        m_Pid = pid;
    }
  }
  ~TinyProxy()
  {
    if (m_Pid > 0) {
      kill(m_Pid, SIGTERM);
      waitpid(m_Pid, nullptr, 0);
    }
    if (!m_Conf.empty())
      unlink(m_Conf.c_str());
  }
  bool missing() const { return m_Binary.empty(); }
  bool running() const { return m_Pid > 0; }
  int port() const { return m_Port; }

private:
  bool WaitListening(pid_t pid)
  {
    for (int i = 0; i < 100; ++i) {
      if (waitpid(pid, nullptr, WNOHANG) == pid)
        return false;  // it exited (port taken meanwhile?)
      int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      a.sin_port = htons(static_cast<uint16_t>(m_Port));
      bool up = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
      close(fd);
      if (up)
        return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    return false;
  }

  std::string m_Binary;
  std::string m_Conf;
  int m_Port = 0;
  pid_t m_Pid = -1;
};

TEST_F(ProxyTls, TinyproxyForwardsGetsAndTunnels)
{
  LoopbackServer plain({Send(HttpAnswer("200 OK", "<TBX MSGTYPE=\"plain\"/>"))});
  TinyProxy tiny(m_Dir, m_Origin->port());
  if (tiny.missing())
    GTEST_SKIP() << "tinyproxy is not installed (scripts/install-deps adds it)";
  ASSERT_TRUE(tiny.running()) << "tinyproxy did not start";

  Fetched r = Fetch(ViaProxy(plain.Url("/plain?DATA=7", "http", "u:p@127.0.0.1"), tiny.port()));
  ASSERT_EQ(0, r.code) << r.message;
  EXPECT_EQ("<TBX MSGTYPE=\"plain\"/>", r.body);
  // The origin got our GET, rewritten by the proxy to a path, credentials intact.
  EXPECT_EQ(0u, plain.LastRequest().find("GET /plain?DATA=7 HTTP/1.0\r\n")) << plain.LastRequest();
  EXPECT_NE(std::string::npos,
            plain.LastRequest().find("Authorization: Basic " + Base64("u:p") + "\r\n"));

  URL_INFO info = ViaProxy(m_Origin->Url("/secure", "https", "localhost"), tiny.port());
  info.m_SslCaFile = M(m_CaFile);
  testing::internal::CaptureStderr();
  Fetched t = Fetch(info);
  std::string err = testing::internal::GetCapturedStderr();
  ASSERT_EQ(0, t.code) << t.message;
  EXPECT_EQ("<TBX MSGTYPE=\"tunnel\"/>", t.body);
  EXPECT_EQ(DirectRequest("/secure"), m_Origin->LastRequest());
  EXPECT_EQ(0u, err.find("Proxy response:\nHTTP/1.0 200")) << err;

  // Tunnels only to the allowed port: the proxy's refusal is the fetch's result.
  URL_INFO other = ViaProxy("https://localhost:" + std::to_string(UnusedPort()) + "/", tiny.port());
  testing::internal::CaptureStderr();
  Fetched refused = Fetch(other);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(TBX_E_HTTP_STATUS_BASE, static_cast<unsigned long>(refused.code) & 0xFFFFFC00ul)
      << Hex(refused.code) << " " << refused.message;
}

}  // namespace
