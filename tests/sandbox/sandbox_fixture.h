// The fixture of the tests that drive the built kestrum-sandbox program: a host started with a
// fresh state directory, merchant keys registered at it, offers signed with them, and the
// exchanges of the client, the shopper and the tests' admin paths.
#ifndef SANDBOX_FIXTURE_H
#define SANDBOX_FIXTURE_H

#include "sandbox_launcher.h"
#include "sbcrypto.h"
#include "sbhost.h"
#include "sbxml.h"

#include <ctime>
#include <gtest/gtest.h>
#include <string>

namespace sandbox_test {

using namespace sandbox;

// A reply whose body is read as a message.
struct XReply : sandbox_test::Reply
{
  XReply(const sandbox_test::Reply& r) : sandbox_test::Reply(r) {}  // NOLINT: implicit on purpose
  Message Xml() const
  {
    Message m;
    std::string error;
    EXPECT_TRUE(Message::Parse(body, m, error)) << body;
    return m;
  }
};

inline std::string Query(const Message& msg, const std::string& signature = "")
{
  std::string q = "?DATA=" + UrlEncode(msg.ToText());
  return signature.empty() ? q : q + "&SIGNATURE=" + signature;
}

inline std::string Signed(const Message& msg, const std::string& privateHex)
{
  std::string sig;
  EXPECT_TRUE(Sign(msg.ToText(), privateHex, sig));
  return Query(msg, sig);
}

// Splits "LINK?A=x&B=y" into the link and the decoded parameters.
inline bool ParamOf(const std::string& location, const std::string& name, std::string& value)
{
  HttpRequest req;
  size_t q = location.find('?');
  req.query = q == std::string::npos ? "" : location.substr(q + 1);
  return req.Param(name, value);
}

class SandboxTest : public ::testing::Test
{
protected:
  struct Merchant
  {
    std::string keyId;
    KeyPair keys;
  };

  void SetUp() override
  {
    char tmpl[] = "/tmp/kestrum-sandbox-test-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    m_Root = tmpl;
    m_State = m_Root + "/state";
    ASSERT_TRUE(m_Host.Start(m_State)) << "the sandbox did not print its URL";
  }

  void TearDown() override
  {
    EXPECT_EQ(m_Host.Stop(SIGTERM), 0) << "SIGTERM must end the sandbox cleanly";
    sandbox_test::RemoveTree(m_Root);
  }

  XReply Get(const std::string& target, const std::string& user = "",
             const std::string& password = "")
  {
    return Exchange(m_Host.port, ClientRequest(target, user, password));
  }

  XReply Setup(const Message& request, const std::string& user = "e40215536",
               const std::string& password = "Pq7mWz2L")
  {
    return Get(std::string(kSetupPath) + Query(request), user, password);
  }

  std::string HostKeyId()
  {
    Message req("SetupRequest");
    req.Set("VERSION", "0");
    return Setup(req).Xml().Value("VTKEYID");
  }

  std::string HostKey()
  {
    Message req("KeyQueryRequest");
    req.Set("KEYID", HostKeyId());
    return Setup(req).Xml().Value("KEYBLOB");
  }

  Merchant Register(const std::string& user = "e40215536", const std::string& password = "Pq7mWz2L")
  {
    Merchant m;
    EXPECT_TRUE(GenerateKeyPair(512, m.keys));
    m.keyId = "0-40215-" + RandomText(32, "0123456789abcdef");
    Message req("KeyExportRequest");
    req.Set("KEYID", m.keyId);
    req.Set("KEYBLOB", m.keys.publicHex);
    Message answer = Setup(req, user, password).Xml();
    EXPECT_EQ(answer.Type(), "KeyExportResponse") << answer.Value("MESSAGE");
    return m;
  }

  Message Offer(const Merchant& m)
  {
    Message offer("PayInit");
    offer.Set("KEYID", m.keyId);
    offer.Set("TOKEN", RandomText(32, "0123456789abcdef"));
    offer.Set("SUCCESSLINK", m_Host.url + "/shop/success");
    offer.Set("FAILLINK", m_Host.url + "/shop/fail?ORDER=7");
    offer.Set("EXPIRATION", FormatTime(time(nullptr) + 3600));
    offer.Set("AMOUNT", "1560");
    offer.Set("CURRENCY", "EUR");
    offer.Set("DESCRIPTION", "Test & \"Co\" <1>");
    return offer;
  }

  // Plays the shopper's visit of the offer URL; returns the verified confirmation.
  Message Authorise(const Merchant& m, const Message& offer)
  {
    XReply r = Get(kOfferPath + Signed(offer, m.keys.privateHex));
    EXPECT_EQ(r.status, 302) << r.body;
    std::string location = r.Header("Location"), data, sig;
    EXPECT_EQ(location.compare(0, offer.Value("SUCCESSLINK").size() + 1,
                               offer.Value("SUCCESSLINK") + "?"),
              0)
        << location;
    EXPECT_TRUE(ParamOf(location, "DATA", data) && ParamOf(location, "SIGNATURE", sig)) << location;
    // The page shows the same two values for a user without a browser.
    EXPECT_NE(r.body.find("\nDATA=" + data + "\n"), std::string::npos) << r.body;
    EXPECT_NE(r.body.find("\nSIGNATURE=" + sig + "\n"), std::string::npos) << r.body;
    EXPECT_TRUE(Verify(data, HostKey(), sig)) << data;
    Message confirm;
    std::string error;
    EXPECT_TRUE(Message::Parse(data, confirm, error)) << data;
    return confirm;
  }

  Message Capture(const Merchant& m, const std::string& id, const std::string& token)
  {
    Message req("PayComplete");
    req.Set("KEYID", m.keyId);
    req.Set("CONFIGPATH", "/opt/store");
    req.Set("ID", id);
    req.Set("TOKEN", token);
    return Get(kCapturePath + Signed(req, m.keys.privateHex)).Xml();
  }

  std::string Admin(const std::string& target)
  {
    XReply r = Get(target);
    EXPECT_EQ(r.status, 200) << target << ": " << r.body;
    return r.body;
  }

  SandboxProcess m_Host;
  std::string m_Root, m_State;
};

}  // namespace sandbox_test

#endif
