// What a merchant needs beyond a genuine signature, through the exported functions against the
// sandbox host: a confirmation is accepted only for its own order, and a failed exchange says
// whether its request had reached the host.
#include <gtest/gtest.h>

#include <string>

#include "payment_steps.h"
#include "sandbox_fixture.h"
#include "tbxapp.h"

using namespace setuptest;

namespace {

class GuardsTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    ASSERT_TRUE(m_Host.Start()) << "kestrum-sandbox did not start";
    m_Store = m_Dir.path() + "/store";
    m_Handles.setup = CreateConfigurationSetup();
    ASSERT_EQ(TBX_OK, ConfigurationSetup_SetConfiguration(m_Handles.setup, m_Store.c_str()));
    ASSERT_EQ(TBX_OK, ConfigurationSetup_Reconfigure(m_Handles.setup, m_Host.setupUrl().c_str(),
                                                     kUser, kPassword))
        << LastErrorMessage();
    m_Handles.factory = CreateMessageFactory();
    ASSERT_EQ(TBX_OK, MessageFactory_Open(m_Handles.factory, m_Store.c_str()));
  }
  void TearDown() override { EXPECT_EQ(0, m_Host.Stop()); }

  struct Paid
  {
    std::string token, id, data, signature;
  };

  // An offer of `amount` `currency`, authorised at the host.
  Paid Pay(const char* amount, const char* currency)
  {
    Paid paid;
    void* offer = nullptr;
    EXPECT_EQ(TBX_OK, MessageFactory_CreatePayInit(m_Handles.factory, &offer));
    MessageObject_SetAttribute(offer, "AMOUNT", amount);
    MessageObject_SetAttribute(offer, "CURRENCY", currency);
    paid.token = Attribute(offer, "TOKEN");
    const std::string url = OfferUrl(offer);
    DestroyMessageObject(offer);
    const std::string page = HttpGet(m_Host.port(), url.substr(m_Host.url().size()));
    paid.id = PageLine(page, "ID");
    paid.data = PageLine(page, "DATA");
    paid.signature = PageLine(page, "SIGNATURE");
    EXPECT_FALSE(paid.data.empty()) << page;
    return paid;
  }

  // Captures `paid` (or the payment `id`), returning the result.
  long Capture(const Paid& paid, const std::string& id = std::string())
  {
    void* capture = nullptr;
    long rc = MessageFactory_CreatePayComplete(
        m_Handles.factory, (id.empty() ? paid.id : id).c_str(), paid.token.c_str(), &capture);
    if (rc == TBX_OK)
      rc = MessageObject_Capture(capture);
    DestroyMessageObject(capture);
    return rc;
  }

  void SetCaptureUrl(const std::string& url)
  {
    ASSERT_EQ(TBX_OK, ConfigurationSetup_SetAttribute(m_Handles.setup, "config.xml", "CAPTUREURL",
                                                      url.c_str()));
  }

  Sandbox m_Host;
  TempDir m_Dir;
  std::string m_Store;
  Handles m_Handles;
};

TEST_F(GuardsTest, ConfirmationIsAcceptedOnlyForItsOwnOrder)
{
  const Paid expensive = Pay("9900", "EUR");
  const Paid cheap = Pay("500", "EUR");
  std::string forged = expensive.data;
  forged.replace(forged.find("9900"), 4, "9901");

  struct Case
  {
    const char* what;
    const std::string& data;
    const std::string& signature;
    std::string token, amount, currency;
    long code;
    const char* named;  // in the last error message
  } cases[] = {
      {"its own order", expensive.data, expensive.signature, expensive.token, "9900", "EUR", TBX_OK,
       ""},
      {"a cheaper order's confirmation", cheap.data, cheap.signature, expensive.token, "9900",
       "EUR", TBX_E_ORDER_MISMATCH, "AMOUNT is '500', the order's is '9900'"},
      {"another order's token", cheap.data, cheap.signature, expensive.token, "500", "EUR",
       TBX_E_ORDER_MISMATCH, "TOKEN is not the order's"},
      {"another currency", expensive.data, expensive.signature, expensive.token, "9900", "CHF",
       TBX_E_ORDER_MISMATCH, "CURRENCY is 'EUR', the order's is 'CHF'"},
      {"an amount written otherwise", expensive.data, expensive.signature, expensive.token, "99.00",
       "EUR", TBX_E_ORDER_MISMATCH, "AMOUNT"},
      {"a forged confirmation of the right order", forged, expensive.signature, expensive.token,
       "9900", "EUR", TBX_E_INVALID_SIGNATURE, ""},
      {"no currency given", expensive.data, expensive.signature, expensive.token, "9900", "",
       TBX_E_INVALID_ARGUMENT, "CURRENCY"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    void* confirmation = nullptr;
    EXPECT_EQ(c.code, MessageFactory_VerifyPayConfirmForOrder(
                          m_Handles.factory, c.data.c_str(), c.signature.c_str(), c.token.c_str(),
                          c.amount.c_str(), c.currency.c_str(), &confirmation))
        << LastErrorMessage();
    EXPECT_EQ(c.code == TBX_OK, confirmation != nullptr);
    if (c.code != TBX_OK) {
      EXPECT_NE(std::string::npos, LastErrorMessage().find(c.named)) << LastErrorMessage();
      EXPECT_EQ(std::string::npos, LastErrorMessage().find(expensive.token));
      EXPECT_EQ(std::string::npos, LastErrorMessage().find(cheap.token));
    }
    DestroyMessageObject(confirmation);
  }
}

TEST_F(GuardsTest, FailureSaysWhetherTheRequestReachedTheHost)
{
  const std::string captureUrl = m_Host.url() + "/capture";
  WriteFile(m_Store + "/settings.xml", "<TBX TIMEOUT=\"1\"/>");

  struct Case
  {
    const char* what;
    std::string fault;       // sandbox fault for the capture, "" for none
    std::string captureUrl;  // "" for the host's own
    long sent;
    bool captured;  // by the host, as a later capture shows
  } cases[] = {
      {"connection refused", "", "http://127.0.0.1:1/capture", 0, false},
      {"name not resolved", "", "http://no-such-host.invalid/capture", 0, false},
      {"closed before capturing", "MODE=close&MATCH=PayComplete", "", 1, false},
      {"closed after capturing", "MODE=drop&MATCH=PayComplete", "", 1, true},
      {"no answer in time", "MODE=silent&MATCH=PayComplete&DELAY=3000", "", 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Paid paid = Pay("1560", "EUR");
    SetCaptureUrl(c.captureUrl.empty() ? captureUrl : c.captureUrl);
    if (!c.fault.empty()) {
      ASSERT_TRUE(m_Host.Fault(c.fault));
    }
    EXPECT_NE(TBX_OK, Capture(paid));
    EXPECT_EQ(c.sent, TBX_LastRequestWasSent()) << LastErrorMessage();
    m_Host.Fault("MODE=clear");
    SetCaptureUrl(captureUrl);
    // Settled by the host: a capture it did refuses a second one, which is itself a sent request.
    const long again = Capture(paid);
    EXPECT_EQ(c.captured ? TBX_E_HOST_ERROR : TBX_OK, again) << LastErrorMessage();
    if (c.captured) {
      EXPECT_EQ(1, TBX_LastRequestWasSent());
    }
  }

  // A host's refusal is an answer to a request that went out; a failure before any request is not.
  EXPECT_EQ(TBX_E_HOST_ERROR, Capture(Pay("1560", "EUR"), "NOSUCHPAYMENT"));
  EXPECT_EQ(1, TBX_LastRequestWasSent());
  EXPECT_EQ(TBX_E_INVALID_HANDLE, MessageObject_Capture(nullptr));
  EXPECT_EQ(-1, TBX_LastRequestWasSent());
}

}  // namespace
