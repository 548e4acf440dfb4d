// A whole payment through the exported functions against the sandbox host: set-up, offer, the
// shopper's authorisation at the host, confirmation, capture, and a second capture refused.
#include <gtest/gtest.h>

#include <string>

#include "payment_steps.h"
#include "sandbox_fixture.h"
#include "tbxapp.h"

using namespace setuptest;

namespace {

class PaymentTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    ASSERT_TRUE(m_Host.Start()) << "kestrum-sandbox did not start";
    m_Store = m_Dir.path() + "/store";
  }
  void TearDown() override { EXPECT_EQ(0, m_Host.Stop()); }

  // Sets the store up against the sandbox and opens a message factory on it.
  void SetUpStoreAndOpen(Handles& h)
  {
    h.setup = CreateConfigurationSetup();
    ASSERT_EQ(TBX_OK, ConfigurationSetup_SetConfiguration(h.setup, m_Store.c_str()));
    ASSERT_EQ(TBX_OK,
              ConfigurationSetup_Reconfigure(h.setup, m_Host.setupUrl().c_str(), kUser, kPassword))
        << LastErrorMessage();
    h.factory = CreateMessageFactory();
    ASSERT_EQ(TBX_OK, MessageFactory_Open(h.factory, m_Store.c_str()));
  }

  Sandbox m_Host;
  TempDir m_Dir;
  std::string m_Store;
};

TEST_F(PaymentTest, OfferAuthoriseConfirmCaptureOnce)
{
  Handles h;
  ASSERT_NO_FATAL_FAILURE(SetUpStoreAndOpen(h));

  // The offer.
  ASSERT_EQ(TBX_OK, MessageFactory_CreatePayInit(h.factory, &h.offer)) << LastErrorMessage();
  ASSERT_EQ(TBX_OK, MessageObject_SetAttribute(h.offer, "AMOUNT", "1560"));
  ASSERT_EQ(TBX_OK, MessageObject_SetAttribute(h.offer, "CURRENCY", "EUR"));
  ASSERT_EQ(TBX_OK, MessageObject_SetAttribute(h.offer, "DESCRIPTION", "Tea & biscuits"));
  const std::string token = Attribute(h.offer, "TOKEN");
  const std::string url = OfferUrl(h.offer);
  ASSERT_EQ(0u, url.find(m_Host.url() + "/offer?DATA=")) << url << " " << LastErrorMessage();

  // The shopper's browser at the host: authorised, sent on to SUCCESSLINK with the
  // confirmation, which the page also shows.
  int status = 0;
  const std::string page = HttpGet(m_Host.port(), url.substr(m_Host.url().size()), &status);
  ASSERT_EQ(302, status) << page;
  const std::string data = PageLine(page, "DATA");
  const std::string signature = PageLine(page, "SIGNATURE");
  ASSERT_FALSE(data.empty()) << page;
  ASSERT_FALSE(signature.empty()) << page;

  // The confirmation verifies under the host's key and names the offer's payment.
  ASSERT_EQ(TBX_OK,
            MessageFactory_VerifyPayConfirm(h.factory, data.c_str(), signature.c_str(), &h.confirm))
      << LastErrorMessage();
  EXPECT_EQ("PayConfirm", Attribute(h.confirm, "MSGTYPE"));
  EXPECT_EQ(token, Attribute(h.confirm, "TOKEN"));
  EXPECT_EQ("1560", Attribute(h.confirm, "AMOUNT"));
  EXPECT_EQ("EUR", Attribute(h.confirm, "CURRENCY"));
  EXPECT_EQ("Tea & biscuits", Attribute(h.confirm, "DESCRIPTION"));
  const std::string id = Attribute(h.confirm, "ID");
  ASSERT_FALSE(id.empty());

  // A changed confirmation, and the merchant's own offer handed back as one, are refused.
  std::string forged = data;
  forged.replace(forged.find("1560"), 4, "9560");
  void* none = nullptr;
  EXPECT_EQ(TBX_E_INVALID_SIGNATURE,
            MessageFactory_VerifyPayConfirm(h.factory, forged.c_str(), signature.c_str(), &none));
  const size_t dataAt = url.find("?DATA=") + 6;
  const size_t sig = url.find("&SIGNATURE=");
  ASSERT_NE(std::string::npos, sig);
  const std::string offerData = PercentDecode(url.substr(dataAt, sig - dataAt));
  EXPECT_EQ(TBX_E_INVALID_SIGNATURE,
            MessageFactory_VerifyPayConfirm(h.factory, offerData.c_str(),
                                            url.substr(sig + 11).c_str(), &none));
  EXPECT_EQ(nullptr, none);

  // Capture once; the host refuses a second capture and says why.
  ASSERT_EQ(TBX_OK,
            MessageFactory_CreatePayComplete(h.factory, id.c_str(), token.c_str(), &h.capture));
  ASSERT_EQ(TBX_OK, MessageObject_Capture(h.capture)) << LastErrorMessage();
  ASSERT_EQ(TBX_OK,
            MessageFactory_CreatePayComplete(h.factory, id.c_str(), token.c_str(), &h.again));
  EXPECT_EQ(TBX_E_HOST_ERROR, MessageObject_Capture(h.again));
  EXPECT_NE(std::string::npos, LastErrorMessage().find("already captured")) << LastErrorMessage();
}

TEST_F(PaymentTest, CaptureOfUnknownOrMismatchedPaymentIsRefused)
{
  Handles h;
  ASSERT_NO_FATAL_FAILURE(SetUpStoreAndOpen(h));

  // An authorised payment, from an offer the shopper's visit confirmed.
  ASSERT_EQ(TBX_OK, MessageFactory_CreatePayInit(h.factory, &h.offer)) << LastErrorMessage();
  ASSERT_EQ(TBX_OK, MessageObject_SetAttribute(h.offer, "AMOUNT", "99"));
  ASSERT_EQ(TBX_OK, MessageObject_SetAttribute(h.offer, "CURRENCY", "CHF"));
  const std::string token = Attribute(h.offer, "TOKEN");
  const std::string url = OfferUrl(h.offer);
  ASSERT_FALSE(url.empty()) << LastErrorMessage();
  const std::string page = HttpGet(m_Host.port(), url.substr(m_Host.url().size()));
  const std::string id = PageLine(page, "ID");
  ASSERT_FALSE(id.empty()) << page;

  struct Case
  {
    std::string id;
    std::string token;
    const char* reason;
  } refused[] = {
      {"NOSUCHPAYMENT", token, "unknown payment"},
      {id, token + "0", "does not match"},
  };
  for (const Case& c : refused) {
    void* capture = nullptr;
    ASSERT_EQ(TBX_OK,
              MessageFactory_CreatePayComplete(h.factory, c.id.c_str(), c.token.c_str(), &capture));
    EXPECT_EQ(TBX_E_HOST_ERROR, MessageObject_Capture(capture)) << c.reason;
    EXPECT_NE(std::string::npos, LastErrorMessage().find(c.reason)) << LastErrorMessage();
    DestroyMessageObject(capture);
  }
  // The refusals captured nothing: the right pair still captures.
  ASSERT_EQ(TBX_OK,
            MessageFactory_CreatePayComplete(h.factory, id.c_str(), token.c_str(), &h.capture));
  EXPECT_EQ(TBX_OK, MessageObject_Capture(h.capture)) << LastErrorMessage();
}

}  // namespace
