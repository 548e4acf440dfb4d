// What a user reads when something fails: the common failures, each through kestrum against real
// processes (the sandbox over http and over TLS, a port nobody listens on, a host name that cannot
// resolve). Each report must name what the failure was about, give the obvious action, and show
// no secret.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "kestrum_runner.h"
#include "sandbox_launcher.h"

using namespace clitest;

namespace {

const char kUser[] = "e40215536";
const char kPassword[] = "Pq7mWz2L";
const char kWrongPassword[] = "Wr0ngPass";
const char kUrlSecret[] = "Zx81Secret";

// Texts no report may hold: passwords, credentials of a URL, the authorisation header.
const char* const kSecrets[] = {kPassword,   kWrongPassword,  kUrlSecret,
                                "merchant:", "Authorization", "ZTQwMjE1NTM2"};

// A run of 64 or more hex digits: signature or key material.
bool HasLongHex(const std::string& text)
{
  size_t run = 0;
  for (char c : text) {
    run = std::isxdigit(static_cast<unsigned char>(c)) ? run + 1 : 0;
    if (run >= 64)
      return true;
  }
  return false;
}

// A port of 127.0.0.1 bound but never listening: connections are refused, and no other program
// can take the port while the test holds it.
class ClosedPort
{
public:
  ClosedPort() : m_Fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
  {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(m_Fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(m_Fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
      port = std::to_string(ntohs(a.sin_port));
  }
  ~ClosedPort() { ::close(m_Fd); }
  std::string port;

private:
  int m_Fd;
};

struct FailureCase
{
  const char* name;
  std::function<void()> prepare;  // may be empty
  std::vector<std::string> args;
  std::string firstLine;          // the report's first line (its form is fixed)
  std::vector<std::string> says;  // what the second line must hold: the object, the hint
};

class KestrumFailures : public ::testing::Test
{
protected:
  void SetUp() override
  {
    char pattern[] = "/tmp/kestrum-failures-XXXXXX";
    ASSERT_NE(nullptr, ::mkdtemp(pattern));
    m_Dir = pattern;
    m_Store = m_Dir + "/store";
    ASSERT_TRUE(m_Host.Start(m_Dir + "/host")) << "kestrum-sandbox did not start";
    ASSERT_TRUE(m_Tls.Start(m_Dir + "/tls", {"--tls"})) << "kestrum-sandbox --tls did not start";
    ASSERT_FALSE(m_Closed.port.empty());
    const Outcome r = RunKestrum(Conf("store", SetupUrl()));
    ASSERT_EQ(0, r.status) << r.err;
  }
  void TearDown() override
  {
    EXPECT_EQ(0, m_Host.Stop());
    EXPECT_EQ(0, m_Tls.Stop());
    sandbox_test::RemoveTree(m_Dir);
  }

  std::string SetupUrl() const { return m_Host.url + "/user/setup.asp"; }
  // -conf of the store `name` against `url`, and -capt of a made-up payment from `store`.
  std::vector<std::string> Conf(const std::string& name, const std::string& url) const
  {
    return {"-conf", "-p", m_Dir + "/" + name, "-r", url, "-u", kUser, "-w", kPassword};
  }
  static std::vector<std::string> Capture(const std::string& store)
  {
    return {"-capt", "-p", store, "-i", "1", "-t", "2"};
  }
  std::string TlsSetupUrl() const { return m_Tls.url + "/user/setup.asp"; }

  // A copy of the set-up store, with `settings` as its settings.xml when not empty.
  std::string CopyOfStore(const std::string& name, const std::string& settings = "")
  {
    const std::string copy = m_Dir + "/" + name;
    std::filesystem::copy(m_Store, copy, std::filesystem::copy_options::recursive);
    if (!settings.empty())
      WriteFile(copy + "/settings.xml", settings);
    return copy;
  }

  // The store's config.xml with CAPTUREURL set to `url`.
  void SetCaptureUrl(const std::string& store, const std::string& url)
  {
    std::string config = ReadFile(store + "/config.xml");
    const size_t at = config.find("CAPTUREURL=\"") + 12;
    config.replace(at, config.find('"', at) - at, url);
    WriteFile(store + "/config.xml", config);
  }

  void Fault(const std::string& query)
  {
    const sandbox_test::Reply r =
        sandbox_test::Exchange(m_Host.port, "GET /admin/fault?" + query + " HTTP/1.0\r\n\r\n");
    ASSERT_EQ(200, r.status) << r.body;
  }

  sandbox_test::SandboxProcess m_Host, m_Tls;
  ClosedPort m_Closed;
  std::string m_Dir, m_Store;
};

TEST_F(KestrumFailures, EachReportNamesItsObjectAndTheActionWithoutSecrets)
{
  const std::string closed = m_Closed.port;
  const std::string tlsPort = std::to_string(m_Tls.port);
  const std::string plainPort = std::to_string(m_Host.port);
  const std::string captureUrl = [&] {
    const std::string config = ReadFile(m_Store + "/config.xml");
    const size_t at = config.find("CAPTUREURL=\"") + 12;
    return config.substr(at, config.find('"', at) - at);
  }();

  const FailureCase cases[] = {
      {"a store never set up",
       nullptr,
       {"-payinit", "-p", m_Dir + "/newstore", "-a", "AMOUNT", "100"},
       "[kestrum] ERROR: 0x8004020E (no key identifier specified)",
       {"the store " + m_Dir + "/newstore has no keys/current",
        "set the store up first) - with kestrum: kestrum -conf -p " + m_Dir +
            "/newstore -r URL -u USER, the password in KESTRUM_PASSWORD"}},
      {"a capture to a host that is down",
       [&] { SetCaptureUrl(CopyOfStore("down"), "http://127.0.0.1:" + closed + "/capture"); },
       Capture(m_Dir + "/down"),
       "[kestrum] ERROR: 0x8004303D (connection refused)",
       {"http://127.0.0.1:" + closed + "/capture: failed to connect to host 127.0.0.1 port " +
            closed,
        "check that the host is running"}},
      {"a proxy that is down",
       [&] {
         CopyOfStore("proxied",
                     "<TBX USEPROXY=\"1\" PROXYHOST=\"127.0.0.1\" PROXYPORT=\"" + closed + "\"/>");
       },
       Capture(m_Dir + "/proxied"),
       "[kestrum] ERROR: 0x8004303D (connection refused)",
       {captureUrl + " through the proxy 127.0.0.1 port " + closed,
        "check PROXYHOST and PROXYPORT"}},
      // An empty label is refused before any query is sent: no network is needed to fail.
      {"a set-up URL whose name does not resolve",
       nullptr,
       Conf("dns", "https://no..such.invalid/user/setup.asp"),
       "[kestrum] ERROR: 0x80042021 (DNS lookup failed)",
       {"'no..such.invalid'", "check the host name in the URL"}},
      {"a wrong password",
       nullptr,
       {"-conf", "-p", m_Dir + "/pw", "-r", SetupUrl(), "-u", kUser, "-w", kWrongPassword},
       "[kestrum] ERROR: 0x80042191 (access to URL resource denied)",
       {SetupUrl() + ": the host answered 401", "refusing the user name and password; check them"}},
      {"credentials in the capture URL",
       [&] {
         SetCaptureUrl(CopyOfStore("cred"), "http://merchant:" + std::string(kUrlSecret) +
                                                "@127.0.0.1:" + closed + "/capture");
       },
       Capture(m_Dir + "/cred"),
       "[kestrum] ERROR: 0x8004303D (connection refused)",
       {"http://127.0.0.1:" + closed + "/capture: failed to connect"}},
      {"http:// to a TLS port",
       nullptr,
       Conf("scheme", "http://127.0.0.1:" + tlsPort + "/user/setup.asp"),
       "ERROR: 80042022",
       {"http://127.0.0.1:" + tlsPort + "/user/setup.asp: ", "is the scheme https?"}},
      {"TLS without the host's CA",
       nullptr,
       Conf("ca", TlsSetupUrl()),
       "ERROR: 80044001",
       {TlsSetupUrl() + ": failed to setup protocol: certificate verify failed",
        "set SSLCAFILE in the store's settings.xml to the PEM file of the CA"}},
      // The TLS code depends on how the plain host ends the talk.
      {"https:// to a plain port",
       nullptr,
       Conf("tls", "https://127.0.0.1:" + plainPort + "/user/setup.asp"),
       "",
       {"https://127.0.0.1:" + plainPort + "/user/setup.asp: failed to setup protocol",
        "is the scheme http?"}},
      {"a host slower than TIMEOUT",
       [&] {
         CopyOfStore("slow", "<TBX TIMEOUT=\"1\"/>");
         Fault("MODE=silent&MATCH=capture&DELAY=3000&COUNT=1");
       },
       Capture(m_Dir + "/slow"),
       "[kestrum] ERROR: 0x8004303C (connection timeout)",
       {captureUrl + ": failed to receive from host", "outcome at the host is unknown",
        "raise TIMEOUT in settings.xml (now 1 second)"}},
      {"a capture answered by a dropped connection",
       [&] { Fault("MODE=drop&MATCH=capture&COUNT=1"); },
       Capture(m_Store),
       "ERROR: 80042022",
       {captureUrl + ": the host closed the connection without an answer",
        "outcome at the host is unknown"}},
      // Any other scheme would be read as a local file named after the request.
      {"a capture URL with a mistyped scheme",
       [&] { SetCaptureUrl(CopyOfStore("typo"), "htps://127.0.0.1:" + closed + "/capture"); },
       Capture(m_Dir + "/typo"),
       "[kestrum] ERROR: 0x80040206 (invalid URL)",
       {"CAPTUREURL 'htps://127.0.0.1:" + closed + "/capture'",
        "must begin with http:// or https://"}},
      {"an answer that is not XML",
       [&] { Fault("MODE=notxml&MATCH=capture&COUNT=1"); },
       Capture(m_Store),
       "[kestrum] ERROR: 0x80040204 (invalid file format)",
       {"the answer from " + captureUrl + " is not XML"}},
      {"a capture URL the host does not know",
       [&] { Fault("MODE=status&STATUS=404&MATCH=capture&COUNT=1"); },
       Capture(m_Store),
       "[kestrum] ERROR: 0x80042194 (URL resource not found)",
       {captureUrl + ": the host answered 404", "check the URL's path"}},
      {"a store whose parent directory is missing",
       nullptr,
       {"-payinit", "-p", m_Dir + "/none/store", "-a", "AMOUNT", "1"},
       "ERROR: 00000002",
       {"cannot create the directory " + m_Dir + "/none/store", "its parent directory must exist"}},
      {"defaults before the set-up",
       nullptr,
       {"-attr", "-p", m_Dir + "/fresh", "-a", "LANGID", "de"},
       "[kestrum] ERROR: 0x80040204 (invalid file format)",
       {m_Dir + "/fresh/default.xml does not exist", "set the store up first"}},
      {"a saved message that is missing",
       nullptr,
       {"-capt", "-p", m_Store, "-f", m_Dir + "/none.log"},
       "[kestrum] ERROR: 0x80040202 (file not found)",
       {"cannot read the saved message " + m_Dir + "/none.log: No such file or directory"}},
      {"a saved message that is not one",
       [&] { WriteFile(m_Dir + "/garbage.log", "not a message"); },
       {"-capt", "-p", m_Store, "-f", m_Dir + "/garbage.log"},
       "[kestrum] ERROR: 0x80040204 (invalid file format)",
       {m_Dir + "/garbage.log: ", "not a saved message"}},
      {"a confirmation under a key the store lacks",
       nullptr,
       {"-payconfirm", "-p", m_Store, "-d", "<TBX MSGTYPE=\"PayConfirm\" KEYID=\"vt-9\"/>", "-s",
        std::string(128, 'a')},
       "[kestrum] ERROR: 0x8004020D (requested item was not found)",
       {"the store has no keys/public/vt-9", "set the store up again"}},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.prepare) {
      ASSERT_NO_FATAL_FAILURE(c.prepare());
    }
    const Outcome r = RunKestrum(c.args);
    EXPECT_NE(0, r.status);
    EXPECT_TRUE(r.out.empty() || r.out == "SSL ERROR: connect failed\n") << r.out;
    const size_t eol = r.err.find('\n');
    ASSERT_NE(std::string::npos, eol) << r.err;
    if (!c.firstLine.empty()) {
      EXPECT_EQ(c.firstLine, r.err.substr(0, eol));
    } else {
      EXPECT_EQ(0u, r.err.find("ERROR: 8004400")) << r.err;
    }
    const std::string second = r.err.substr(eol + 1);
    EXPECT_EQ(0u, second.find("[kestrum] ")) << r.err;
    for (const std::string& part : c.says)
      EXPECT_NE(std::string::npos, second.find(part)) << part << "\n" << r.err;
    for (const char* secret : kSecrets)
      EXPECT_EQ(std::string::npos, r.err.find(secret)) << secret << "\n" << r.err;
    EXPECT_FALSE(HasLongHex(r.err)) << r.err;
    EXPECT_EQ(std::string::npos, r.err.find("@127.0.0.1")) << r.err;
    EXPECT_EQ(std::string::npos, r.err.find("DATA=")) << r.err;
    EXPECT_EQ(std::string::npos, r.err.find(" -w ")) << r.err;
  }
}

// Credentials written into a store path or a proxy setting, with the characters a generated
// password holds: neither the report nor the trace shows them.
TEST_F(KestrumFailures, CredentialsStayOutOfReportsAndTraces)
{
  const std::string host = "127.0.0.1:" + std::to_string(m_Host.port);
  const std::string trace = m_Dir + "/trace.log";
  struct Case
  {
    std::string name;
    std::function<std::vector<std::string>()> args;
  };
  std::vector<Case> cases;
  for (const char* password :
       {"Zx81/Secret", "Zx81#Secret", "Zx81'Secret", "Zx81\"Secret", "Zx81 Secret"})
    cases.push_back({std::string("store URL with password ") + password, [=] {
                       return std::vector<std::string>{
                           "-payinit",
                           "-p",
                           "http://merchant:" + std::string(password) + "@" + host + "/nostore",
                           "-a",
                           "AMOUNT",
                           "1"};
                     }});
  cases.push_back({"proxy host with credentials", [&] {
                     const std::string store =
                         CopyOfStore("proxycred",
                                     "<TBX USEPROXY=\"1\" PROXYHOST=\"merchant:Zx81/"
                                     "Secret@127.0.0.1\" PROXYPORT=\"" +
                                         m_Closed.port + "\"/>");
                     return Capture(store);
                   }});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::remove(trace.c_str());
    const Outcome r = RunKestrum(c.args(), {{"TBXTRACE", trace.c_str()}});
    EXPECT_NE(0, r.status);
    const std::string traced = ReadFile(trace);
    EXPECT_NE(std::string::npos, traced.find("OPEN CONTEXT")) << traced;
    for (const std::string& text : {r.out, r.err, traced}) {
      EXPECT_EQ(std::string::npos, text.find("Secret")) << text;
      EXPECT_EQ(std::string::npos, text.find("merchant")) << text;
    }
  }
}

}  // namespace
