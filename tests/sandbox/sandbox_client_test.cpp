// The component's own store, XML, signatures and transport against the sandbox: two independent
// implementations of the wire format must agree on every byte that is signed or parsed.
#include "sandbox_launcher.h"
#include "sbcrypto.h"
#include "sbhost.h"
#include "sbhttp.h"

#include "tbxctx.h"
#include "tbxerr.h"
#include "xmlElement.h"

#include <gtest/gtest.h>

namespace {

MvString S(const std::string& s)
{
  return MvString(s.c_str(), static_cast<unsigned>(s.size()));
}
std::string Str(const MvString& s)
{
  return std::string(s.c_str() ? s.c_str() : "", s.length());
}

class SandboxClientTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    char tmpl[] = "/tmp/kestrum-sandbox-client-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    m_Root = tmpl;
    ASSERT_TRUE(m_Host.Start(m_Root + "/state"));
    m_Store.Open(S(m_Root + "/store"));
    TBX_Context::CreatePath(S(m_Root + "/store/keys"));
    TBX_Context::CreatePath(S(m_Root + "/store/keys/private"));
    TBX_Context::CreatePath(S(m_Root + "/store/keys/public"));
  }

  void TearDown() override
  {
    EXPECT_EQ(m_Host.Stop(), 0);
    sandbox_test::RemoveTree(m_Root);
  }

  // One round trip as the component runs it (request element, then the host exchange). Returns
  // the answer's text.
  std::string RoundTrip(const std::string& endpoint, const std::string& type,
                        const std::vector<std::pair<std::string, std::string>>& attrs,
                        const std::string& expected, const std::string& keyId = "")
  {
    xmlElementPtr request, response;
    const MvString key = S(keyId);
    TBX_Context::XmlCreateRequest(S(type), request.receive());
    for (const auto& a : attrs)
      request->setAttribute(S(a.first), S(a.second));
    std::string body;
    MvString answer;
    m_Store.Exchange(S(endpoint), nullptr, request.get(), keyId.empty() ? nullptr : &key,
                     S(expected), response, &answer);
    body = Str(answer);
    return body;
  }

  std::string Config(const char* name)
  {
    MvString value;
    EXPECT_TRUE(m_Store.QueryValue(MvString("config.xml"), MvString(name), value)) << name;
    return Str(value);
  }

  // The set-up exchanges, in the order the component runs them, storing what it stores.
  std::string SetUpStore()
  {
    m_Store.SetOption(MvString("UserName"), MvString("e40215536"));
    m_Store.SetOption(MvString("Password"), MvString("Pq7mWz2L"));
    const std::string endpoint = m_Host.url + "/user/setup.asp";
    m_Store.UpdateFile(MvString("config.xml"),
                       S(RoundTrip(endpoint, "SetupRequest", {{"VERSION", "0"}}, "SetupResponse")));
    m_Store.UpdateFile(MvString("default.xml"),
                       S(RoundTrip(endpoint, "LoadDefaultsRequest", {}, "LoadDefaultsResponse")));
    const std::string hostKey = Config("VTKEYID");
    xmlElementPtr answer;
    TBX_Context::XmlFromString(
        S(RoundTrip(endpoint, "KeyQueryRequest", {{"KEYID", hostKey}}, "KeyQueryResponse")),
        answer.receive());
    MvString blob;
    EXPECT_TRUE(answer->getAttribute(MvString("KEYBLOB"), blob));
    EXPECT_TRUE(TBX_Context::IsPublicKeyText(blob));
    m_Store.UpdateFile(S("keys/public/" + hostKey), blob);

    const std::string keyId = "0-" + Config("CUSTOMERID") + "-" + Str(TBX_Context::CreateUuid());
    m_Store.GenKey(S(keyId));
    MvString publicKey;
    EXPECT_TRUE(m_Store.QueryValue(S("keys/public/" + keyId), MvString(""), publicKey));
    RoundTrip(endpoint, "KeyExportRequest", {{"KEYID", keyId}, {"KEYBLOB", Str(publicKey)}},
              "KeyExportResponse");
    m_Store.UpdateFile(MvString("keys/current"), S(keyId));
    // Requests after the set-up carry no credentials, as message objects send them.
    m_Store.SetOption(MvString("UserName"), MvString(""));
    m_Store.SetOption(MvString("Password"), MvString(""));
    return keyId;
  }

  sandbox_test::SandboxProcess m_Host;
  std::string m_Root;
  TBX_Context m_Store;
};

TEST_F(SandboxClientTest, WholePaymentWithTheComponentsOwnPieces)
{
  const std::string keyId = SetUpStore();

  // The offer URL, built as the component builds it.
  xmlElementPtr offer;
  TBX_Context::XmlCreateRequest(MvString("PayInit"), offer.receive());
  const std::string token = Str(TBX_Context::CreateUuid());
  MvString successLink;
  ASSERT_TRUE(m_Store.QueryValue(MvString("default.xml"), MvString("SUCCESSLINK"), successLink));
  for (const auto& a : std::vector<std::pair<std::string, std::string>>{
           {"KEYID", keyId},
           {"TOKEN", token},
           {"SUCCESSLINK", Str(successLink)},
           {"EXPIRATION", sandbox::FormatTime(time(nullptr) + 600)},
           {"AMOUNT", "1560"},
           {"CURRENCY", "EUR"},
           {"DESCRIPTION", "Caf\xe9 & <Co> \"quoted\" 'x'"}})
    offer->setAttribute(S(a.first), S(a.second));
  MvStringStream offerText;
  offer->toStream(offerText);
  MvString signature, url;
  m_Store.SignData(offerText.str(), S(keyId), signature);
  m_Store.RequestToURL(S(Config("VTURL")), offerText, signature, url);

  // The shopper's browser at the offer URL.
  const std::string offerUrl = Str(url);
  ASSERT_EQ(offerUrl.compare(0, m_Host.url.size(), m_Host.url), 0) << offerUrl;
  sandbox_test::Reply r = sandbox_test::Exchange(
      m_Host.port, sandbox_test::ClientRequest(offerUrl.substr(m_Host.url.size())));
  ASSERT_EQ(r.status, 302) << r.body;
  std::string location = r.Header("Location"), data, sig;
  sandbox::HttpRequest back;
  back.query = location.substr(location.find('?') + 1);
  ASSERT_TRUE(back.Param("DATA", data) && back.Param("SIGNATURE", sig)) << location;

  // The confirmation verifies with the host key the store imported, and parses.
  m_Store.VerifyData(S(data), S(Config("VTKEYID")), S(sig));
  xmlElementPtr confirm;
  TBX_Context::XmlFromString(S(data), confirm.receive());
  MvString id, value;
  ASSERT_TRUE(confirm->getAttribute(MvString("ID"), id));
  ASSERT_TRUE(confirm->getAttribute(MvString("DESCRIPTION"), value));
  EXPECT_EQ(Str(value), "Caf\xe9 & <Co> \"quoted\" 'x'");

  // Capture once, then the host's refusal reaches the component with its message.
  const std::vector<std::pair<std::string, std::string>> capture = {
      {"KEYID", keyId}, {"CONFIGPATH", m_Root + "/store"}, {"ID", Str(id)}, {"TOKEN", token}};
  RoundTrip(Config("CAPTUREURL"), "PayComplete", capture, "PayConfirm", keyId);
  try {
    RoundTrip(Config("CAPTUREURL"), "PayComplete", capture, "PayConfirm", keyId);
    ADD_FAILURE() << "a second capture must be refused";
  } catch (const TBX_Exception& e) {
    EXPECT_EQ(static_cast<unsigned long>(e.m_Result) & 0xffffffffUL, 0x80040213UL);
    EXPECT_NE(Str(e.m_Message).find("payment '" + Str(id) + "' already captured"),
              std::string::npos)
        << Str(e.m_Message);
  }

  // A general request comes back as its response type with the attributes sent.
  std::string pong = RoundTrip(Config("CAPTUREURL"), "PingRequest", {{"KEYID", keyId}, {"N", "1"}},
                               "PingResponse", keyId);
  EXPECT_EQ(pong, "<TBX MSGTYPE=\"PingResponse\" N=\"1\"/>");
}

TEST_F(SandboxClientTest, FaultsSurfaceAsTheComponentsResultCodes)
{
  SetUpStore();
  const std::string endpoint = m_Host.url + "/user/setup.asp";
  m_Store.SetOption(MvString("UserName"), MvString("e40215536"));
  m_Store.SetOption(MvString("Password"), MvString("Pq7mWz2L"));
  struct
  {
    const char* fault;
    unsigned long code;
  } cases[] = {
      {"MODE=error&MESSAGE=no%20today", 0x80040213UL},
      {"MODE=msgtype", 0x80040208UL},
      {"MODE=notxml", 0x80040204UL},
      {"MODE=status&STATUS=503", 0x800421F7UL},
      {"MODE=close", 0x80042022UL},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    sandbox_test::Reply set = sandbox_test::Exchange(
        m_Host.port, sandbox_test::ClientRequest(std::string("/admin/fault?") + c.fault));
    ASSERT_EQ(set.status, 200);
    try {
      RoundTrip(endpoint, "SetupRequest", {{"VERSION", "1"}}, "SetupResponse");
      ADD_FAILURE() << "the fault did not reach the component";
    } catch (const TBX_Exception& e) {
      EXPECT_EQ(static_cast<unsigned long>(e.m_Result) & 0xffffffffUL, c.code) << Str(e.m_Message);
    }
  }
  m_Store.SetOption(MvString("Password"), MvString("wrong"));
  try {
    RoundTrip(endpoint, "SetupRequest", {{"VERSION", "1"}}, "SetupResponse");
    ADD_FAILURE() << "wrong credentials accepted";
  } catch (const TBX_Exception& e) {
    EXPECT_EQ(static_cast<unsigned long>(e.m_Result) & 0xffffffffUL, 0x80042191UL);
  }
}

// The component verifies the sandbox's certificate against DIR/ca.pem, by address and by name.
TEST_F(SandboxClientTest, HttpsVerifiesWithTheSandboxCa)
{
  ASSERT_EQ(m_Host.Stop(), 0);
  ASSERT_TRUE(m_Host.Start(m_Root + "/state", {"--tls"}));
  m_Store.SetOption(MvString("UserName"), MvString("e40215536"));
  m_Store.SetOption(MvString("Password"), MvString("Pq7mWz2L"));
  const std::string port = std::to_string(m_Host.port);
  EXPECT_THROW(RoundTrip(m_Host.url + "/user/setup.asp", "SetupRequest", {{"VERSION", "0"}},
                         "SetupResponse"),
               TBX_Exception)
      << "a certificate of an unknown CA must be refused";
  m_Store.SetValue(MvString("settings.xml"), MvString("SSLCAFILE"), S(m_Root + "/state/ca.pem"),
                   true);
  for (const std::string& host : {std::string("127.0.0.1"), std::string("localhost")}) {
    std::string config = RoundTrip("https://" + host + ":" + port + "/user/setup.asp",
                                   "SetupRequest", {{"VERSION", "0"}}, "SetupResponse");
    EXPECT_NE(config.find("VTURL=\"https://127.0.0.1:" + port + "/offer\""), std::string::npos)
        << config;
  }
}

}  // namespace
