// The payment page a browser gets at the offer URL: its text pieces alone, then the built program
// answering a browser's GET and the posts of its form over 127.0.0.1.
#include "sandbox_fixture.h"
#include "sbcheckout.h"

#include <dirent.h>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>

using namespace sandbox;
using sandbox_test::Exchange;
using sandbox_test::ParamOf;
using sandbox_test::Query;
using sandbox_test::SandboxTest;
using sandbox_test::Signed;
using sandbox_test::XReply;

TEST(SandboxCheckout, AmountsInMajorUnits)
{
  struct
  {
    const char* minor;
    const char* currency;
    const char* shown;
  } cases[] = {{"1560", "EUR", "15.60 EUR"},   {"5", "EUR", "0.05 EUR"},
               {"100", "USD", "1.00 USD"},     {"0001560", "EUR", "15.60 EUR"},
               {"500", "JPY", "500 JPY"},      {"1", "KWD", "0.001 KWD"},
               {"12345", "CLF", "1.2345 CLF"}, {"999999999999999", "CHF", "9999999999999.99 CHF"}};
  for (const auto& c : cases)
    EXPECT_EQ(FormatAmount(c.minor, c.currency), c.shown) << c.minor << " " << c.currency;
}

TEST(SandboxCheckout, HtmlEscapeLeavesNoMarkupAndOnlyUtf8)
{
  struct
  {
    std::string in, out;
  } cases[] = {{"<script>alert('x')</script>", "&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;"},
               {"\" onfocus=\"x", "&quot; onfocus=&quot;x"},
               {"Tom & Jerry", "Tom &amp; Jerry"},
               {"caf\xc3\xa9 \xe2\x82\xac", "caf\xc3\xa9 \xe2\x82\xac"},  // UTF-8 stays
               {"caf\xe9", "caf\xc3\xa9"},                                // Latin-1 becomes UTF-8
               {"\xc3\xa9\xe9", "\xc3\x83\xc2\xa9\xc3\xa9"},  // one bad byte: all Latin-1
               {"\xed\xa0\x80", "\xc3\xad\xc2\xa0\xc2\x80"},  // a surrogate is no UTF-8
               {std::string("a\0b\x1b\x7f", 5),
                "a\xef\xbf\xbd"
                "b\xef\xbf\xbd\xef\xbf\xbd"},
               {"line\nbreak\ttab", "line\nbreak\ttab"}};
  for (const auto& c : cases)
    EXPECT_EQ(HtmlEscape(c.in), c.out) << c.in;
}

TEST(SandboxCheckout, AcceptHeadersOfBrowsersOnly)
{
  struct
  {
    const char* accept;
    bool html;
  } cases[] = {{"text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8", true},
               {"TEXT/HTML", true},
               {"application/xml, text/html ; q=0.5", true},
               {"text/html;q=0", false},
               {"text/html; q=0.00, */*", false},
               {"*/*", false},
               {"text/plain", false},
               {"text/htmlx", false},
               {"", false}};
  for (const auto& c : cases)
    EXPECT_EQ(AsksForHtml(c.accept), c.html) << c.accept;
}

TEST(SandboxCheckout, TestCardsAndExpiryDates)
{
  struct
  {
    const char* typed;
    const char* number;
  } cards[] = {{"0000 0000 0000 1000", "0000000000001000"},
               {"0000-0000-0000-2000", "0000000000002000"},
               {"0000000000003000", "0000000000003000"},
               {"4111 1111 1111 1111", nullptr},
               {"0000 0000 0000 100", nullptr},
               {"0000 0000 0000 1000 0", nullptr},
               {"0000.0000.0000.1000", nullptr},
               {"", nullptr}};
  for (const auto& c : cards) {
    const TestCard* card = FindTestCard(c.typed);
    if (c.number)
      EXPECT_TRUE(card && std::string(card->number) == c.number) << c.typed;
    else
      EXPECT_EQ(card, nullptr) << c.typed;
  }
  for (const TestCard& card : kTestCards)
    EXPECT_EQ(std::string(card.number).compare(0, 4, "0000"), 0) << "no network issues these";

  long long now = 0;
  ASSERT_TRUE(ParseTime("20261208 07:03:55", now));
  struct
  {
    const char* expiry;
    bool ok;
  } expiries[] = {{"12/26", true},  {"01/27", true},  {"11/26", false}, {"12/25", false},
                  {"00/30", false}, {"13/30", false}, {"1/30", false},  {"12/2030", false},
                  {"ab/cd", false}, {"12-30", false}};
  for (const auto& c : expiries) {
    std::string problem;
    EXPECT_EQ(CheckCardExpiry(c.expiry, now, problem), c.ok) << c.expiry;
    EXPECT_EQ(problem.empty(), c.ok) << c.expiry;
  }
  EXPECT_EQ(DefaultCardExpiry(now), "12/29");
}

namespace {

const char kBrowserAccept[] = "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";

// The value of the form field `name` of a payment page.
std::string FieldValue(const std::string& page, const std::string& name)
{
  const std::string key = "name=\"" + name + "\" value=\"";
  const size_t at = page.find(key);
  if (at == std::string::npos)
    return std::string();
  const size_t start = at + key.size();
  return page.substr(start, page.find('"', start) - start);
}

std::string FileText(const std::string& path)
{
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class CheckoutTest : public SandboxTest
{
protected:
  XReply Browse(const std::string& target)
  {
    return Exchange(m_Host.port, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: " +
                                     kBrowserAccept + "\r\nUser-Agent: Mozilla/5.0\r\n\r\n");
  }

  XReply Post(const std::map<std::string, std::string>& fields,
              const std::string& extraHeaders = "")
  {
    std::string body;
    for (const auto& f : fields)
      body += (body.empty() ? "" : "&") + f.first + "=" + UrlEncode(f.second);
    return Exchange(m_Host.port,
                    "POST /offer HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
                    "application/x-www-form-urlencoded\r\nContent-Length: " +
                        std::to_string(body.size()) + "\r\n" + extraHeaders + "\r\n" + body);
  }

  // The fields a browser posts from the page of `offer`: its hidden fields and the prefilled card.
  std::map<std::string, std::string> Form(const Merchant& m, const Message& offer,
                                          const std::string& action = "pay")
  {
    XReply page = Browse(kOfferPath + Signed(offer, m.keys.privateHex));
    EXPECT_EQ(page.status, 200) << page.body;
    std::string offerText;
    EXPECT_TRUE(UrlDecode(FieldValue(page.body, "OFFER"), offerText));
    EXPECT_EQ(offerText, offer.ToText());
    return {{"OFFER", FieldValue(page.body, "OFFER")},
            {"SIGNATURE", FieldValue(page.body, "SIGNATURE")},
            {"FORM", FieldValue(page.body, "FORM")},
            {"CARD", "0000 0000 0000 1000"},
            {"EXPIRY", FieldValue(page.body, "EXPIRY")},
            {"CVC", "123"},
            {"ACTION", action}};
  }

  // Names of the payment records in the state directory.
  std::vector<std::string> Payments()
  {
    std::vector<std::string> names;
    if (DIR* dir = opendir((m_State + "/payments").c_str())) {
      while (struct dirent* e = readdir(dir)) {
        if (e->d_name[0] != '.')
          names.push_back(e->d_name);
      }
      closedir(dir);
    }
    return names;
  }
};

}  // namespace

TEST_F(CheckoutTest, PageShowsTheOfferEscapedAndPayLeadsToTheSuccessLink)
{
  Merchant m = Register();
  Message offer = Offer(m);
  offer.Set("DESCRIPTION", "<script>alert(\"mug\")</script> & 'more'");
  offer.Set("ORDERID", "A-17<b>");
  XReply page = Browse(kOfferPath + Signed(offer, m.keys.privateHex));
  ASSERT_EQ(page.status, 200) << page.body;
  EXPECT_EQ(page.Header("Content-Type"), "text/html; charset=utf-8");
  EXPECT_EQ(page.Header("Content-Security-Policy").compare(0, 17, "default-src 'none"), 0);
  EXPECT_EQ(page.Header("Cache-Control"), "no-store");
  const std::string expiration = offer.Value("EXPIRATION") + " UTC";
  for (const char* shown :
       {"15.60 EUR", "e40215536 (customer 40215)",
        "&lt;script&gt;alert(&quot;mug&quot;)&lt;/script&gt; &amp; &#39;more&#39;", "A-17&lt;b&gt;",
        expiration.c_str(), ">Pay</button>", ">Cancel</button>", "0000 0000 0000 1000",
        "0000 0000 0000 2000", "0000 0000 0000 3000", "name=\"viewport\""})
    EXPECT_NE(page.body.find(shown), std::string::npos) << shown;
  // No script and nothing loaded from elsewhere.
  for (const char* absent : {"<script", "src=", "<link", "url(", "@import", "http://", "https://"})
    EXPECT_EQ(page.body.find(absent), std::string::npos) << absent;

  std::map<std::string, std::string> form = Form(m, offer);
  XReply paid = Post(form);
  ASSERT_EQ(paid.status, 302) << paid.body;
  const std::string location = paid.Header("Location");
  std::string data, sig;
  ASSERT_TRUE(ParamOf(location, "DATA", data) && ParamOf(location, "SIGNATURE", sig)) << location;
  EXPECT_EQ(
      location.compare(0, offer.Value("SUCCESSLINK").size() + 1, offer.Value("SUCCESSLINK") + "?"),
      0);
  EXPECT_TRUE(Verify(data, HostKey(), sig));
  Message confirm;
  std::string error;
  ASSERT_TRUE(Message::Parse(data, confirm, error));
  std::vector<std::string> names;
  for (const auto& a : confirm.Attributes())
    names.push_back(a.first);
  EXPECT_EQ(names, (std::vector<std::string>{"MSGTYPE", "KEYID", "ID", "TOKEN", "AMOUNT",
                                             "CURRENCY", "DESCRIPTION", "ORDERID"}));
  EXPECT_EQ(confirm.Value("DESCRIPTION"), offer.Value("DESCRIPTION"));

  // A second post, a reload of the page and a client's visit all lead to the same payment.
  EXPECT_EQ(Post(form).Header("Location"), location);
  EXPECT_EQ(Browse(kOfferPath + Signed(offer, m.keys.privateHex)).Header("Location"), location);
  EXPECT_EQ(Get(kOfferPath + Signed(offer, m.keys.privateHex)).Header("Location"), location);
  ASSERT_EQ(Payments().size(), 1u);

  // Of the card, the host keeps the last four digits and nothing else.
  const std::string record = FileText(m_State + "/payments/" + Payments()[0]);
  EXPECT_NE(record.find(" CARD=\"1000\""), std::string::npos) << record;
  for (const std::string& text : {record, Admin("/admin/log")}) {
    EXPECT_EQ(text.find("0000000000001000"), std::string::npos);
    EXPECT_EQ(text.find("0000 0000 0000 1000"), std::string::npos);
  }
}

TEST_F(CheckoutTest, CardsAndButtonsDecideWhereTheShopperGoes)
{
  Merchant m = Register();
  struct Case
  {
    const char* name;
    const char* field;  // changed in the form ("" for none)
    const char* value;
    int status;
    const char* where;  // start of Location, or a text of the page
  };
  const Case cases[] = {
      {"declined", "CARD", "0000 0000 0000 2000", 302, "FAILLINK"},
      {"session ends", "CARD", "0000000000003000", 400, "the payment session expired"},
      {"unknown card", "CARD", "4111 1111 1111 1111", 400,
       "not one of the sandbox&#39;s test cards"},
      {"expired card", "EXPIRY", "01/20", 400, "The card expired at the end of 01/20."},
      {"bad expiry", "EXPIRY", "13/30", 400, "month must be 01 to 12"},
      {"bad cvc", "CVC", "12", 400, "The CVC must be three or four digits."},
      {"cancel", "ACTION", "cancel", 302, "BACKLINK"},
      {"unknown action", "ACTION", "refund", 400, "neither &#39;pay&#39; nor &#39;cancel&#39;"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Message offer = Offer(m);
    offer.Set("BACKLINK", m_Host.url + "/shop/back?ORDER=7");
    std::map<std::string, std::string> form = Form(m, offer);
    form[c.field] = c.value;
    XReply r = Post(form);
    EXPECT_EQ(r.status, c.status) << r.body;
    const std::string where = c.where;
    if (where == "FAILLINK" || where == "BACKLINK") {
      const std::string link = offer.Value(where);
      EXPECT_EQ(r.Header("Location").compare(0, link.size(), link), 0) << r.Header("Location");
    } else {
      EXPECT_EQ(r.Header("Content-Type"), "text/html; charset=utf-8");
      EXPECT_NE(r.body.find(where), std::string::npos) << r.body;
    }
  }
  std::string reason;
  Message offer = Offer(m);
  std::map<std::string, std::string> form = Form(m, offer);
  form["CARD"] = "0000 0000 0000 2000";
  ASSERT_TRUE(ParamOf(Post(form).Header("Location"), "REASON", reason));
  EXPECT_EQ(reason, "the card issuer declined the payment");
  EXPECT_TRUE(Payments().empty()) << "only the approved card makes a payment";

  // A number that may be a real card is not shown again.
  form["CARD"] = "4111 1111 1111 1111";
  EXPECT_EQ(Post(form).body.find("4111"), std::string::npos);

  // Cancel without a BACKLINK stays on the host's page.
  form = Form(m, offer, "cancel");
  XReply r = Post(form);
  EXPECT_EQ(r.status, 200);
  EXPECT_NE(r.body.find("Payment cancelled"), std::string::npos) << r.body;

  // The session card of a genuine offer leads back to its FAILLINK.
  form = Form(m, offer);
  form["CARD"] = "0000 0000 0000 3000";
  r = Post(form);
  EXPECT_NE(
      r.body.find("href=\"" + offer.Value("FAILLINK") + "&amp;REASON=the%20payment%20session"),
      std::string::npos)
      << r.body;

  // Faults of the offer URL apply at Pay, not at the page.
  Admin("/admin/fault?MODE=decline&MATCH=offer");
  form = Form(m, offer);
  ASSERT_TRUE(ParamOf(Post(form).Header("Location"), "REASON", reason));
  EXPECT_EQ(reason, "the card issuer declined the payment");
  EXPECT_EQ(Post(form).status, 302);
  EXPECT_EQ(Payments().size(), 1u);
}

TEST_F(CheckoutTest, OffersThatCannotBePaidGetAnErrorPage)
{
  Merchant m = Register();
  Merchant unregistered;
  ASSERT_TRUE(GenerateKeyPair(512, unregistered.keys));
  unregistered.keyId = "0-40215-unregistered";
  Message expired = Offer(m);
  expired.Set("EXPIRATION", FormatTime(time(nullptr) - 10));
  Message good = Offer(m);
  std::string sig;
  ASSERT_TRUE(Sign(good.ToText(), m.keys.privateHex, sig));
  Message tampered = good;
  tampered.Set("AMOUNT", "1");
  Message reused = Offer(m);
  reused.Set("TOKEN", good.Value("TOKEN"));
  reused.Set("AMOUNT", "999");
  Get(kOfferPath + Signed(good, m.keys.privateHex));  // paid by a client

  struct
  {
    const char* name;
    std::string target;
    const char* reason;
    bool link;
  } cases[] = {
      {"expired", kOfferPath + Signed(expired, m.keys.privateHex), "the offer expired at ", true},
      {"forged", kOfferPath + Query(tampered, sig), "the offer&#39;s signature is not valid",
       false},
      {"unsigned", kOfferPath + Query(good), "the offer carries no SIGNATURE", false},
      {"unregistered", kOfferPath + Signed(Offer(unregistered), unregistered.keys.privateHex),
       "the merchant key &#39;0-40215-unregistered&#39; is not registered", false},
      {"token reused", kOfferPath + Signed(reused, m.keys.privateHex),
       "the offer&#39;s TOKEN was already used by another offer", true},
      {"no data", kOfferPath, "the offer carries no DATA", false},
      {"not xml", std::string(kOfferPath) + "?DATA=garbage", "the offer is not readable", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    XReply r = Browse(c.target);
    EXPECT_EQ(r.status, 400);
    EXPECT_EQ(r.Header("Content-Type"), "text/html; charset=utf-8");
    EXPECT_EQ(r.Header("Location"), "");
    EXPECT_NE(r.body.find(c.reason), std::string::npos) << r.body;
    EXPECT_EQ(r.body.find("href=") != std::string::npos, c.link) << r.body;
  }
}

TEST_F(CheckoutTest, FormPostsBelongToTheirOffer)
{
  Merchant m = Register();
  Message first = Offer(m), second = Offer(m);
  second.Set("AMOUNT", "1");
  std::map<std::string, std::string> a = Form(m, first), b = Form(m, second);

  std::map<std::string, std::string> replayed = a;
  replayed["OFFER"] = b["OFFER"];
  replayed["SIGNATURE"] = b["SIGNATURE"];
  std::map<std::string, std::string> noToken = a;
  noToken.erase("FORM");
  std::map<std::string, std::string> noOffer = a;
  noOffer.erase("OFFER");
  std::map<std::string, std::string> badSignature = a;
  badSignature["SIGNATURE"] = b["SIGNATURE"];
  struct
  {
    const char* name;
    std::map<std::string, std::string> form;
    const char* reason;
  } cases[] = {
      {"another offer's token", replayed, "the form was not made for this offer"},
      {"no token", noToken, "the form was not made for this offer"},
      {"no offer", noOffer, "the form carries no offer"},
      {"another signature", badSignature, "the offer&#39;s signature is not valid"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    XReply r = Post(c.form);
    EXPECT_EQ(r.status, 400);
    EXPECT_NE(r.body.find(c.reason), std::string::npos) << r.body;
  }
  EXPECT_TRUE(Payments().empty());
  EXPECT_EQ(Post(b).status, 302) << "each form pays its own offer";
}

TEST_F(CheckoutTest, FormBodiesAreReadByTheirLength)
{
  Merchant m = Register();
  std::map<std::string, std::string> form = Form(m, Offer(m));
  // Longer than one read of the server, and a field it does not know.
  form["PADDING"] = std::string(20000, 'p');
  EXPECT_EQ(Post(form).status, 302);

  struct
  {
    std::string headers;
    int status;
  } refused[] = {{"Content-Length: 70000\r\n", 413},
                 {"Transfer-Encoding: chunked\r\n", 411},
                 {"Content-Length: 5\r\nContent-Length: 5\r\n", 400},
                 {"Content-Length: -5\r\n", 400},
                 {"Content-Length: 0x10\r\n", 400}};
  for (const auto& c : refused) {
    XReply r = Exchange(m_Host.port, "POST /offer HTTP/1.1\r\n" + c.headers + "\r\nOFFER=x");
    EXPECT_EQ(r.status, c.status) << c.headers;
  }
  // A body that ends early gets no answer; the host serves on.
  EXPECT_FALSE(
      Exchange(m_Host.port, "POST /offer HTTP/1.1\r\nContent-Length: 100\r\n\r\nOFFER=x", true)
          .received);
  EXPECT_EQ(Exchange(m_Host.port, "POST /capture HTTP/1.0\r\nContent-Length: 1\r\n\r\nx").status,
            405);
  EXPECT_EQ(Get("/").status, 200);
}
