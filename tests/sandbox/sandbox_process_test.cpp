// The built kestrum-sandbox program driven from outside, as the client drives it: started on a
// free port with a fresh state directory, spoken to in raw HTTP/1.0 over 127.0.0.1, stopped with a
// signal.
#include "sandbox_fixture.h"
#include "sandbox_launcher.h"
#include "sbcrypto.h"
#include "sbhost.h"
#include "sbxml.h"

#include <cstring>
#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <thread>
#include <vector>

using namespace sandbox;
using sandbox_test::ClientRequest;
using sandbox_test::Exchange;
using sandbox_test::ParamOf;
using sandbox_test::Query;
using sandbox_test::SandboxProcess;
using sandbox_test::SandboxTest;
using sandbox_test::Signed;
using sandbox_test::XReply;

TEST_F(SandboxTest, SetupEndpointRefusesWrongCredentials)
{
  Message req("SetupRequest");
  req.Set("VERSION", "0");
  struct
  {
    const char* user;
    const char* password;
  } refused[] = {{"", ""},
                 {"e40215536", ""},
                 {"e40215536", "pq7mWz2L"},
                 {"e40215536", "Pq7mWz2L "},
                 {"E40215536", "Pq7mWz2L"},
                 {"../accounts/e40215536", "Pq7mWz2L"},
                 {"nobody", "x"}};
  for (const auto& c : refused) {
    XReply r = Setup(req, c.user, c.password);
    EXPECT_EQ(r.status, 401) << c.user << ":" << c.password;
    EXPECT_EQ(r.Xml().Type(), "Error");
  }
  // No Authorization header at all.
  XReply r =
      Exchange(m_Host.port, "GET " + std::string(kSetupPath) + Query(req) + " HTTP/1.0\r\n\r\n");
  EXPECT_EQ(r.status, 401);
}

TEST_F(SandboxTest, SetupExchangesAnswerWhatTheClientStores)
{
  Message req("SetupRequest");
  req.Set("VERSION", "0");
  XReply r = Setup(req);
  ASSERT_EQ(r.status, 200) << r.body;
  EXPECT_EQ(r.Header("Content-Type"), "text/xml");
  Message config = r.Xml();
  std::vector<std::string> names;
  for (const auto& a : config.Attributes())
    names.push_back(a.first);
  EXPECT_EQ(names, (std::vector<std::string>{"MSGTYPE", "VERSION", "CUSTOMERID", "VTKEYID",
                                             "TBX.VTAUTOURL", "VTURL", "CAPTUREURL"}));
  EXPECT_EQ(config.Type(), "SetupResponse");
  EXPECT_EQ(config.Value("CUSTOMERID"), "40215");
  EXPECT_EQ(config.Value("TBX.VTAUTOURL"), m_Host.url + "/user/setup.asp");
  EXPECT_EQ(config.Value("VTURL"), m_Host.url + kOfferPath);
  EXPECT_EQ(config.Value("CAPTUREURL"), m_Host.url + kCapturePath);
  EXPECT_TRUE(Message::IsName(config.Value("VTKEYID")));
  EXPECT_EQ(r.body, config.ToText()) << "the answer is in the compact form";

  Message defaults = Setup(Message("LoadDefaultsRequest")).Xml();
  EXPECT_EQ(defaults.Type(), "LoadDefaultsResponse");
  EXPECT_EQ(defaults.Value("TBX.ISVALID"), "yes");
  EXPECT_EQ(defaults.Value("SUCCESSLINK"), m_Host.url + "/shop/success");

  Message query("KeyQueryRequest");
  query.Set("KEYID", config.Value("VTKEYID"));
  Message key = Setup(query).Xml();
  EXPECT_EQ(key.Type(), "KeyQueryResponse");
  EXPECT_EQ(key.Value("KEYID"), config.Value("VTKEYID"));
  EXPECT_EQ(PublicKeyBits(key.Value("KEYBLOB")), 1024);
  query.Set("KEYID", "1-unknown");
  EXPECT_EQ(Setup(query).Xml().Type(), "Error");

  Merchant m = Register();
  // Registering the same key again is harmless; another key under that identifier is refused.
  Message again("KeyExportRequest");
  again.Set("KEYID", m.keyId);
  again.Set("KEYBLOB", m.keys.publicHex);
  EXPECT_EQ(Setup(again).Xml().Type(), "KeyExportResponse");
  KeyPair other;
  ASSERT_TRUE(GenerateKeyPair(512, other));
  again.Set("KEYBLOB", other.publicHex);
  EXPECT_EQ(Setup(again).Xml().Type(), "Error");

  // Refused registrations and requests.
  struct
  {
    const char* keyId;
    std::string blob;
  } bad[] = {{"../escape", m.keys.publicHex},
             {"", m.keys.publicHex},
             {"0-40215-x", "3048"},
             {"0-40215-y", m.keys.privateHex},
             {"0-40215-z", "not hex"}};
  for (const auto& c : bad) {
    Message req2("KeyExportRequest");
    req2.Set("KEYID", c.keyId);
    req2.Set("KEYBLOB", c.blob);
    Message answer = Setup(req2).Xml();
    EXPECT_EQ(answer.Type(), "Error") << c.keyId;
    EXPECT_FALSE(answer.Value("MESSAGE").empty());
  }
  EXPECT_EQ(Setup(Message("PayInit")).Xml().Type(), "Error");
  std::string log = Admin("/admin/log");
  EXPECT_EQ(log.compare(0, 48, "setup <TBX MSGTYPE=\"SetupRequest\" VERSION=\"0\"/>\n"), 0) << log;
}

TEST_F(SandboxTest, PaymentIsAuthorisedConfirmedAndCapturedOnce)
{
  Merchant m = Register();
  Message offer = Offer(m);
  Message confirm = Authorise(m, offer);
  EXPECT_EQ(confirm.Type(), "PayConfirm");
  EXPECT_EQ(confirm.Value("KEYID"), HostKeyId());
  EXPECT_EQ(confirm.Value("TOKEN"), offer.Value("TOKEN"));
  EXPECT_EQ(confirm.Value("AMOUNT"), "1560");
  EXPECT_EQ(confirm.Value("CURRENCY"), "EUR");
  EXPECT_EQ(confirm.Value("DESCRIPTION"), "Test & \"Co\" <1>");
  const std::string id = confirm.Value("ID");
  EXPECT_TRUE(Message::IsName(id)) << id;

  // The shopper reloads the page: the same payment, not a second one.
  EXPECT_EQ(Authorise(m, offer).ToText(), confirm.ToText());

  Message status("StatusRequest");
  status.Set("KEYID", m.keyId);
  status.Set("ID", id);
  EXPECT_EQ(Get(kCapturePath + Signed(status, m.keys.privateHex)).Xml().Value("STATE"),
            "authorised");

  struct
  {
    std::string id, token, message;
  } refused[] = {{"unknownpayment", offer.Value("TOKEN"), "unknown payment 'unknownpayment'"},
                 {id, "0000", "the TOKEN does not match payment '" + id + "'"},
                 {"", offer.Value("TOKEN"), "the capture carries no ID"}};
  for (const auto& c : refused) {
    Message answer = Capture(m, c.id, c.token);
    EXPECT_EQ(answer.Type(), "Error");
    EXPECT_EQ(answer.Value("MESSAGE"), c.message);
  }

  Message captured = Capture(m, id, offer.Value("TOKEN"));
  EXPECT_EQ(captured.Type(), "PayConfirm") << captured.Value("MESSAGE");
  EXPECT_EQ(captured.Value("ID"), id);
  EXPECT_EQ(captured.Value("STATE"), "captured");

  Message second = Capture(m, id, offer.Value("TOKEN"));
  EXPECT_EQ(second.Type(), "Error");
  EXPECT_EQ(second.Value("MESSAGE"), "payment '" + id + "' already captured");
  EXPECT_EQ(Get(kCapturePath + Signed(status, m.keys.privateHex)).Xml().Value("STATE"), "captured");

  // Another account cannot see or capture the payment, even with a key of its own.
  Admin("/admin/account?USER=other&PASSWORD=secret&CUSTOMERID=777");
  Merchant stranger = Register("other", "secret");
  EXPECT_EQ(Capture(stranger, id, offer.Value("TOKEN")).Value("MESSAGE"),
            "unknown payment '" + id + "'");

  // The capture survives a restart of the host.
  ASSERT_EQ(m_Host.Stop(SIGINT), 0);
  ASSERT_TRUE(m_Host.Start(m_State));
  EXPECT_EQ(Capture(m, id, offer.Value("TOKEN")).Value("MESSAGE"),
            "payment '" + id + "' already captured");
}

TEST_F(SandboxTest, CaptureUrlChecksSignaturesAndAnswersGeneralRequests)
{
  Merchant m = Register();
  Message ping("PingRequest");
  ping.Set("KEYID", m.keyId);
  ping.Set("A", "1 & 2");
  Message pong = Get(kCapturePath + Signed(ping, m.keys.privateHex)).Xml();
  EXPECT_EQ(pong.ToText(), "<TBX MSGTYPE=\"PingResponse\" A=\"1 &amp; 2\"/>");
  Message bare("Request");
  bare.Set("KEYID", m.keyId);
  EXPECT_EQ(Get(kCapturePath + Signed(bare, m.keys.privateHex)).Xml().Type(), "Response");

  std::string sig;
  ASSERT_TRUE(Sign(ping.ToText(), m.keys.privateHex, sig));
  Message changed = ping;
  changed.Set("A", "1 & 3");
  Message unknownKey = ping;
  unknownKey.Set("KEYID", "0-40215-none");
  struct
  {
    std::string target, message;
  } refused[] = {
      {kCapturePath + Query(changed, sig), "the request's signature is not valid"},
      {kCapturePath + Query(ping), "the request carries no SIGNATURE"},
      {kCapturePath + Query(unknownKey, sig), "the merchant key '0-40215-none' is not registered"},
      {std::string(kCapturePath) + "?SIGNATURE=" + sig, "the request carries no DATA"},
      {std::string(kCapturePath) + "?DATA=%3cX%2f%3e&SIGNATURE=" + sig,
       "the request is not readable: the element is 'X', not 'TBX'"},
  };
  for (const auto& c : refused) {
    XReply r = Get(c.target);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.Xml().Type(), "Error") << c.target;
    EXPECT_EQ(r.Xml().Value("MESSAGE"), c.message) << c.target;
  }
  Message offer("PayInit");
  offer.Set("KEYID", m.keyId);
  EXPECT_EQ(Get(kCapturePath + Signed(offer, m.keys.privateHex)).Xml().Type(), "Error");
}

TEST_F(SandboxTest, OnlySignedOffersGoToTheirFailLinkWithAReason)
{
  Merchant m = Register();
  Merchant unregistered;
  ASSERT_TRUE(GenerateKeyPair(512, unregistered.keys));
  unregistered.keyId = "0-40215-unregistered";

  // Only an offer the merchant signed leads to its FAILLINK; any other stays on the host's page.
  struct Case
  {
    const char* name;
    const char* attr;    // attribute changed after signing ("" for none)
    const char* value;   // its new value
    bool verified;       // the offer's signature holds: its FAILLINK may be followed
    const char* reason;  // start of the reason expected
  };
  const Case cases[] = {
      {"tampered", "AMOUNT", "1", false, "the offer's signature is not valid"},
      {"unsigned", "FAILLINK", "http://evil.example/x", false, "the offer carries no SIGNATURE"},
      {"unregistered", "", "", false, "the merchant key '0-40215-unregistered' is not registered"},
      {"wrong type", "", "", false, "the offer's MSGTYPE is 'PayComplete'"},
      {"expired", "", "", true, "the offer expired at "},
      {"bad expiration", "", "", true, "the offer's EXPIRATION"},
      {"zero amount", "", "", true, "the offer's AMOUNT '0'"},
      {"bad currency", "", "", true, "the offer's CURRENCY 'eur'"},
      {"bad success link", "", "", true, "the offer's SUCCESSLINK"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string name = c.name;
    const Merchant& signer = name == "unregistered" ? unregistered : m;
    Message offer = Offer(signer);
    if (name == "expired")
      offer.Set("EXPIRATION", FormatTime(time(nullptr) - 10));
    if (name == "bad expiration")
      offer.Set("EXPIRATION", "tomorrow");
    if (name == "zero amount")
      offer.Set("AMOUNT", "0");
    if (name == "bad currency")
      offer.Set("CURRENCY", "eur");
    if (name == "wrong type")
      offer.Set("MSGTYPE", "PayComplete");
    if (name == "bad success link")
      offer.Set("SUCCESSLINK", "javascript:alert(1)");
    std::string sig;
    ASSERT_TRUE(Sign(offer.ToText(), signer.keys.privateHex, sig));
    if (*c.attr)
      offer.Set(c.attr, c.value);
    XReply r = Get(kOfferPath + Query(offer, name == "unsigned" ? "" : sig));
    std::string location = r.Header("Location"), reason;
    if (!c.verified) {
      EXPECT_EQ(r.status, 400) << r.body;
      EXPECT_EQ(location, "");
      EXPECT_EQ(r.body.rfind("Payment refused: " + std::string(c.reason), 0), 0u) << r.body;
      continue;
    }
    EXPECT_EQ(r.status, 302) << r.body;
    EXPECT_EQ(
        location.compare(0, offer.Value("FAILLINK").size() + 1, offer.Value("FAILLINK") + "&"), 0)
        << location;
    ASSERT_TRUE(ParamOf(location, "REASON", reason)) << location;
    EXPECT_EQ(reason.compare(0, strlen(c.reason), c.reason), 0) << reason;
  }

  // A token is one payment: another offer with it is refused.
  Message first = Offer(m);
  Authorise(m, first);
  Message reused = Offer(m);
  reused.Set("TOKEN", first.Value("TOKEN"));
  reused.Set("AMOUNT", "999");
  std::string reason;
  XReply r = Get(kOfferPath + Signed(reused, m.keys.privateHex));
  ASSERT_TRUE(ParamOf(r.Header("Location"), "REASON", reason)) << r.head << r.body;
  EXPECT_EQ(reason, "the offer's TOKEN was already used by another offer");

  // Without a usable FAILLINK the refusal stays on the host's page; no header is forged.
  Message noLink = Offer(m);
  noLink.Set("FAILLINK", "http://x/\r\nSet-Cookie: a=b");
  noLink.Set("AMOUNT", "-5");
  r = Get(kOfferPath + Signed(noLink, m.keys.privateHex));
  EXPECT_EQ(r.status, 400);
  EXPECT_EQ(r.Header("Location"), "");
  EXPECT_EQ(r.Header("Set-Cookie"), "");
  EXPECT_NE(r.body.find("Payment refused: the offer's AMOUNT '-5'"), std::string::npos) << r.body;
  EXPECT_EQ(Get(std::string(kOfferPath) + "?DATA=garbage").status, 400);
  EXPECT_EQ(Get(kOfferPath).status, 400);
}

TEST_F(SandboxTest, FaultSwitchesShapeTheNextAnswers)
{
  Message setup("SetupRequest");
  setup.Set("VERSION", "0");
  Message query("KeyQueryRequest");
  query.Set("KEYID", HostKeyId());

  Admin("/admin/fault?MODE=error&MATCH=KeyQueryRequest&MESSAGE=host%20down%20for%20tests");
  EXPECT_EQ(Setup(setup).Xml().Type(), "SetupResponse") << "other types are not affected";
  Message e = Setup(query).Xml();
  EXPECT_EQ(e.Type(), "Error");
  EXPECT_EQ(e.Value("MESSAGE"), "host down for tests");
  EXPECT_EQ(Setup(query).Xml().Type(), "KeyQueryResponse") << "COUNT defaults to one answer";

  Admin("/admin/fault?MODE=msgtype&TYPE=Surprise");
  EXPECT_EQ(Setup(setup).Xml().Type(), "Surprise");

  Admin("/admin/fault?MODE=notxml&MATCH=setup");
  XReply r = Setup(setup);
  EXPECT_EQ(r.status, 200);
  Message ignored;
  std::string error;
  EXPECT_FALSE(Message::Parse(r.body, ignored, error)) << r.body;

  Admin("/admin/fault?MODE=status&STATUS=503&COUNT=2");
  EXPECT_EQ(Setup(setup).status, 503);
  EXPECT_EQ(Setup(setup).status, 503);
  EXPECT_EQ(Setup(setup).status, 200);

  Admin("/admin/fault?MODE=close");
  EXPECT_FALSE(Setup(setup).received);
  Admin("/admin/fault?MODE=silent&DELAY=200");
  EXPECT_FALSE(Setup(setup).received);
  Admin("/admin/fault?MODE=slow&DELAY=50");
  EXPECT_EQ(Setup(setup).Xml().Type(), "SetupResponse");

  // A lost answer: the capture happens, the merchant hears nothing, a retry is refused.
  Merchant m = Register();
  Message offer = Offer(m);
  Message confirm = Authorise(m, offer);
  Admin("/admin/fault?MODE=drop&MATCH=PayComplete");
  Message req("PayComplete");
  req.Set("KEYID", m.keyId);
  req.Set("ID", confirm.Value("ID"));
  req.Set("TOKEN", offer.Value("TOKEN"));
  EXPECT_FALSE(Get(kCapturePath + Signed(req, m.keys.privateHex)).received);
  EXPECT_EQ(Capture(m, confirm.Value("ID"), offer.Value("TOKEN")).Value("MESSAGE"),
            "payment '" + confirm.Value("ID") + "' already captured");

  // A declined shopper goes to FAILLINK.
  Admin("/admin/fault?MODE=decline&MATCH=offer");
  r = Get(kOfferPath + Signed(Offer(m), m.keys.privateHex));
  std::string reason;
  ASSERT_TRUE(ParamOf(r.Header("Location"), "REASON", reason)) << r.head;
  EXPECT_EQ(reason, "the card issuer declined the payment");

  // A confirmation of another type, signed like a real one.
  Admin("/admin/fault?MODE=msgtype&MATCH=PayInit&TYPE=PayRefund");
  EXPECT_EQ(Authorise(m, Offer(m)).Type(), "PayRefund");

  Admin("/admin/fault?MODE=error&COUNT=0");
  EXPECT_EQ(Setup(setup).Xml().Type(), "Error");
  EXPECT_EQ(Setup(setup).Xml().Type(), "Error");
  Admin("/admin/fault?MODE=clear");
  EXPECT_EQ(Setup(setup).Xml().Type(), "SetupResponse");

  for (const char* bad :
       {"/admin/fault", "/admin/fault?MODE=explode", "/admin/fault?MODE=status&STATUS=99",
        "/admin/fault?MODE=slow&DELAY=-1", "/admin/fault?MODE=error&COUNT=x"})
    EXPECT_EQ(Get(bad).status, 400) << bad;
}

TEST_F(SandboxTest, SurvivesMalformedRequests)
{
  const std::string big(70 * 1024, 'a');
  struct
  {
    std::string request;
    int status;
  } cases[] = {
      {"garbage\r\n\r\n", 400},
      {"GET\r\n\r\n", 400},
      {"GET nopath HTTP/1.0\r\n\r\n", 400},
      {"GET / HTTP/2\r\n\r\n", 400},
      {"GET / HTTP/1.0\r\nno colon\r\n\r\n", 400},
      {"POST /capture HTTP/1.0\r\n\r\n", 405},
      {"GET /nowhere HTTP/1.0\r\n\r\n", 404},
      {"GET /capture?DATA=%zz HTTP/1.0\r\n\r\n", 200},
      {"GET /user/setup.asp?DATA=%3cTBX HTTP/1.0\r\n\r\n", 200},
      {"GET /user/setup.asp?DATA= HTTP/1.0\r\nAuthorization: Basic !!!\r\n\r\n", 200},
      {"GET /" + big + " HTTP/1.0\r\n\r\n", 431},
      {std::string("GET /\0x HTTP/1.0\r\n\r\n", 20), 400},
      {"GET http://127.0.0.1/ HTTP/1.1\r\nHost: x\r\n\r\n", 200},
  };
  for (const auto& c : cases) {
    XReply r = Exchange(m_Host.port, c.request);
    EXPECT_EQ(r.status, c.status) << c.request.substr(0, 60);
  }
  // A peer that connects and leaves, or sends half a request, disturbs nobody.
  EXPECT_FALSE(Exchange(m_Host.port, "", true).received);
  EXPECT_FALSE(Exchange(m_Host.port, "GET / HT", true).received);
  EXPECT_EQ(Get("/").status, 200);
}

TEST_F(SandboxTest, StateDirectoryIsReusedAndLocked)
{
  const std::string keyId = HostKeyId();
  SandboxProcess second;
  EXPECT_FALSE(second.Start(m_State)) << "two hosts on one state directory";
  EXPECT_EQ(second.Wait(), 1);

  ASSERT_EQ(m_Host.Stop(SIGTERM), 0);
  ASSERT_TRUE(m_Host.Start(m_State));
  EXPECT_EQ(HostKeyId(), keyId) << "the host key survives a restart";

  // Wrong arguments: status 2 and no URL.
  const std::vector<std::vector<std::string>> wrong = {
      {"--port", "70000"}, {"--port", "12x"}, {"--port"}, {"--bogus"}};
  for (const auto& args : wrong) {
    SandboxProcess usage;
    EXPECT_FALSE(usage.Start(m_Root + "/other", args)) << args[0];
    EXPECT_EQ(usage.Wait(), 2) << args[0];
  }
  SandboxProcess noState;
  EXPECT_FALSE(noState.Start(""));
  EXPECT_EQ(noState.Wait(), 2);
}

// https with a certificate that a client can check against DIR/ca.pem.
TEST_F(SandboxTest, TlsServesWithACertificateForLoopback)
{
  ASSERT_EQ(m_Host.Stop(SIGTERM), 0);
  ASSERT_TRUE(m_Host.Start(m_State, {"--tls"}));
  ASSERT_EQ(m_Host.url.compare(0, 8, "https://"), 0) << m_Host.url;

  for (const char* host : {"127.0.0.1", "localhost"}) {
    SCOPED_TRACE(host);
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    ASSERT_EQ(SSL_CTX_load_verify_locations(ctx, (m_State + "/ca.pem").c_str(), nullptr), 1);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    struct timeval tv = {30, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    struct sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(m_Host.port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<struct sockaddr*>(&addr), sizeof addr), 0);
    SSL* ssl = SSL_new(ctx);
    SSL_set_fd(ssl, fd);
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
    if (std::string(host) == "localhost")
      X509_VERIFY_PARAM_set1_host(param, host, 0);
    else
      X509_VERIFY_PARAM_set1_ip_asc(param, host);
    EXPECT_EQ(SSL_connect(ssl), 1) << ERR_reason_error_string(ERR_peek_error());
    EXPECT_EQ(SSL_get_verify_result(ssl), X509_V_OK);
    Message req("SetupRequest");
    req.Set("VERSION", "0");
    std::string request =
        ClientRequest(std::string(kSetupPath) + Query(req), "e40215536", "Pq7mWz2L");
    EXPECT_EQ(SSL_write(ssl, request.data(), static_cast<int>(request.size())),
              static_cast<int>(request.size()));
    std::string raw;
    char buf[4096];
    int n;
    while ((n = SSL_read(ssl, buf, sizeof buf)) > 0)
      raw.append(buf, static_cast<size_t>(n));
    EXPECT_NE(raw.find("VTURL=\"https://127.0.0.1:"), std::string::npos) << raw;
    SSL_free(ssl);
    ::close(fd);
    SSL_CTX_free(ctx);
    ERR_clear_error();
  }

  // The CA is made once and reused, so a store's CA file stays valid across restarts.
  std::string ca;
  {
    FILE* f = fopen((m_State + "/ca.pem").c_str(), "r");
    ASSERT_NE(f, nullptr);
    char buf[8192];
    ca.assign(buf, fread(buf, 1, sizeof buf, f));
    fclose(f);
  }
  ASSERT_EQ(m_Host.Stop(SIGTERM), 0);
  ASSERT_TRUE(m_Host.Start(m_State, {"--tls"}));
  FILE* f = fopen((m_State + "/ca.pem").c_str(), "r");
  ASSERT_NE(f, nullptr);
  char buf[8192];
  std::string again(buf, fread(buf, 1, sizeof buf, f));
  fclose(f);
  EXPECT_EQ(again, ca);
}

// Shoppers and merchants at the same time: one payment captured from many connections at once is
// captured exactly once, and every other attempt hears why.
TEST_F(SandboxTest, ConcurrentCapturesOfOnePaymentSucceedOnce)
{
  Merchant m = Register();
  Message offer = Offer(m);
  Message confirm = Authorise(m, offer);
  Message req("PayComplete");
  req.Set("KEYID", m.keyId);
  req.Set("ID", confirm.Value("ID"));
  req.Set("TOKEN", offer.Value("TOKEN"));
  const std::string request = ClientRequest(kCapturePath + Signed(req, m.keys.privateHex));

  constexpr int kThreads = 8;
  std::vector<std::string> types(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      Message answer;
      std::string error;
      if (Message::Parse(Exchange(m_Host.port, request).body, answer, error))
        types[i] = answer.Type() == "Error" ? answer.Value("MESSAGE") : answer.Type();
    });
  }
  for (auto& t : threads)
    t.join();
  int captured = 0, refused = 0;
  for (const auto& t : types) {
    captured += t == "PayConfirm";
    refused += t == "payment '" + confirm.Value("ID") + "' already captured";
  }
  EXPECT_EQ(captured, 1);
  EXPECT_EQ(refused, kThreads - 1);
}
