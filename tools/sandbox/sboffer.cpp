// The offer URL: the shopper's authorisation of a signed offer, played at once for a client
// without a browser or through the payment page, and the way back to the shop.
#include "sbanswer.h"
#include "sbcheckout.h"
#include "sbcrypto.h"
#include "sbhost.h"

#include <ctime>
#include <openssl/crypto.h>
#include <openssl/evp.h>

namespace sandbox {

namespace {

// Offer attributes a confirmation repeats after ID, TOKEN, AMOUNT and CURRENCY, when present.
const char* const kEchoedOfferAttributes[] = {"DESCRIPTION", "ACCOUNTID", "ORDERID"};

// Transaction identifiers: 28 letters and digits.
const char kIdAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

std::string Sha256Hex(const std::string& text)
{
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EVP_Digest(text.data(), text.size(), digest, &len, EVP_sha256(), nullptr);
  return ToHex(std::string(reinterpret_cast<char*>(digest), len));
}

// A link the host may send a browser to: http(s) and nothing that could end a header line.
bool IsWebLink(const std::string& link)
{
  if (link.compare(0, 7, "http://") != 0 && link.compare(0, 8, "https://") != 0)
    return false;
  for (unsigned char c : link) {
    if (c <= 0x20 || c == 0x7f)
      return false;
  }
  return true;
}

std::string AppendQuery(const std::string& link, const std::string& query)
{
  return link + (link.find('?') == std::string::npos ? "?" : "&") + query;
}

bool IsAmount(const std::string& s)
{
  if (s.empty() || s.size() > 15 || s.find_first_not_of("0123456789") != std::string::npos)
    return false;
  return s.find_first_not_of('0') != std::string::npos;
}

bool IsCurrency(const std::string& s)
{
  return s.size() == 3 && s.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ") == std::string::npos;
}

const char kRefusedTitle[] = "Payment not possible";

// The terms of a genuine offer that a shopper may pay; "" when they hold.
std::string CheckTerms(const Message& offer)
{
  long long expires = 0;
  const std::string expiration = offer.Value("EXPIRATION");
  if (!ParseTime(expiration, expires))
    return "the offer's EXPIRATION '" + expiration + "' is not a time";
  if (expires < static_cast<long long>(time(nullptr)))
    return "the offer expired at " + expiration + " UTC";
  const std::string amount = offer.Value("AMOUNT"), currency = offer.Value("CURRENCY");
  if (offer.Value("TOKEN").empty())
    return "the offer carries no TOKEN";
  if (!IsAmount(amount))
    return "the offer's AMOUNT '" + amount + "' is not a positive whole number";
  if (!IsCurrency(currency))
    return "the offer's CURRENCY '" + currency + "' is not a three-letter code";
  if (!IsWebLink(offer.Value("SUCCESSLINK")))
    return "the offer's SUCCESSLINK is not an http or https link";
  return std::string();
}

HttpResponse HtmlPage(int status, const std::string& html)
{
  HttpResponse resp;
  resp.status = status;
  resp.contentType = "text/html; charset=utf-8";
  resp.headers.emplace_back("Content-Security-Policy", kPageSecurityPolicy);
  resp.headers.emplace_back("X-Content-Type-Options", "nosniff");
  resp.headers.emplace_back("Cache-Control", "no-store");
  resp.headers.emplace_back("Referrer-Policy", "no-referrer");
  resp.body = html;
  return resp;
}

HttpResponse Redirect(const std::string& location, const std::string& text)
{
  HttpResponse resp = TextPage(302, text + "\nContinue: " + location + "\n");
  resp.headers.emplace_back("Location", location);
  return resp;
}

// The browser's page for an offer that cannot be paid. A genuine offer's usable FAILLINK leads back
// to the shop with the reason, as a refusal does.
HttpResponse RefusalPage(const std::string& reason, const std::string& failLink)
{
  std::string link;
  if (IsWebLink(failLink))
    link = AppendQuery(failLink, "REASON=" + UrlEncode(reason));
  return HtmlPage(400, ErrorPage(kRefusedTitle, "The payment cannot be made: " + reason + ".", link,
                                 "Back to the shop"));
}

// The way back to the shop with the signed confirmation of an authorised payment.
HttpResponse Confirmation(const Message& payment)
{
  const std::string confirmData = payment.Value("CONFIRMDATA");
  const std::string confirmSignature = payment.Value("CONFIRMSIGNATURE");
  const std::string location =
      AppendQuery(payment.Value("SUCCESSLINK"),
                  "DATA=" + UrlEncode(confirmData) + "&SIGNATURE=" + confirmSignature);
  return Redirect(location, "Payment authorised.\nID=" + payment.Value("ID") +
                                "\nDATA=" + confirmData + "\nSIGNATURE=" + confirmSignature);
}

}  // namespace

HttpResponse Host::OfferEndpoint(const HttpRequest& req)
{
  if (req.method == "POST")
    return CheckoutPost(req);
  // A browser gets the payment page; every other client plays a shopper who agrees at once.
  const bool browser = AsksForHtml(req.Header("accept"));
  std::string data, signature, error;
  Message offer;
  if (!req.Param("DATA", data)) {
    Record("offer", "-");
    return browser ? RefusalPage("the offer carries no DATA", "")
                   : TextPage(400, "Payment refused: the offer carries no DATA.\n");
  }
  Record("offer", data);
  if (!Message::Parse(data, offer, error))
    return browser ? RefusalPage("the offer is not readable (" + error + ")", "")
                   : TextPage(400, "Payment refused: the offer is not readable (" + error + ").\n");
  req.Param("SIGNATURE", signature);
  if (browser)
    return CheckoutGet(data, offer, signature);
  return AuthoriseUnlessFaulted(data, offer, signature, "");
}

// Faults of the offer URL apply where the shopper's agreement is given: at once for a client
// without a browser, at the payment page's Pay for a browser.
HttpResponse Host::AuthoriseUnlessFaulted(const std::string& data, const Message& offer,
                                          const std::string& signature, const std::string& card)
{
  Fault fault;
  if (TakeFault("offer", offer.Type(), fault)) {
    Note("offer: fault " + fault.mode);
    if (fault.mode == "error" || fault.mode == "decline" || fault.mode == "notxml")
      return Authorise(data, offer, signature,
                       fault.message.empty() ? std::string("sandbox fault") : fault.message,
                       "PayConfirm", card);
    if (fault.mode == "msgtype")
      return Authorise(data, offer, signature, "", fault.type, card);
    return FaultAnswer(fault.mode, fault.message, fault.type, fault.status, fault.delayMs,
                       [&] { return Authorise(data, offer, signature, "", "PayConfirm", card); });
  }
  return Authorise(data, offer, signature, "", "PayConfirm", card);
}

// "" when `offer` is a PayInit signed with a registered merchant key (`key` then holds it).
std::string Host::VerifyOffer(const std::string& data, const Message& offer,
                              const std::string& signature, Message& key) const
{
  if (offer.Type() != "PayInit")
    return "the offer's MSGTYPE is '" + offer.Type() + "', not 'PayInit'";
  if (signature.empty())
    return "the offer carries no SIGNATURE";
  const std::string keyId = offer.Value("KEYID");
  if (!m_State.FindMerchantKey(keyId, key))
    return "the merchant key '" + keyId + "' is not registered";
  if (!Verify(data, key.Value("KEYBLOB"), signature))
    return "the offer's signature is not valid";
  return std::string();
}

// Plays the shopper's authorisation of a parsed offer: checks it, records the payment, signs the
// confirmation and sends the browser to SUCCESSLINK (or, for a verified offer, to FAILLINK with the
// reason). A `refusal` makes the shopper refuse a valid offer; `confirmType` is the confirmation's
// MSGTYPE. `card` (the last four digits of a test card) marks a payment made on the payment page.
HttpResponse Host::Authorise(const std::string& data, const Message& offer,
                             const std::string& signature, const std::string& refusal,
                             const std::string& confirmType, const std::string& card)
{
  // Only a verified offer's FAILLINK is the merchant's: anybody can write one into an unsigned
  // offer, and the host's name must not send a shopper there.
  auto refuse = [&](const std::string& reason, bool verified) {
    Note("offer refused: " + reason);
    const std::string failLink = verified ? offer.Value("FAILLINK") : std::string();
    if (!IsWebLink(failLink))
      return card.empty() ? TextPage(400, "Payment refused: " + reason + "\n")
                          : RefusalPage(reason, "");
    return Redirect(AppendQuery(failLink, "REASON=" + UrlEncode(reason)),
                    "Payment refused: " + reason);
  };

  Message key, payment;
  std::string reason = VerifyOffer(data, offer, signature, key);
  if (!reason.empty())
    return refuse(reason, false);
  reason = CheckTerms(offer);
  if (reason.empty())
    reason = refusal;
  if (reason.empty() && !RecordPayment(data, offer, key, confirmType, card, payment, reason))
    reason = reason.empty() ? "the payment could not be recorded" : reason;
  if (!reason.empty())
    return refuse(reason, true);
  Note("offer authorised: payment " + payment.Value("ID") + " of " + payment.Value("AMOUNT") + " " +
       payment.Value("CURRENCY"));
  return Confirmation(payment);
}

// Records the payment of a checked offer, or finds the one a visit of the same offer recorded
// before (a reload is not a second payment). False with `refusal` set otherwise.
bool Host::RecordPayment(const std::string& data, const Message& offer, const Message& key,
                         const std::string& confirmType, const std::string& card, Message& payment,
                         std::string& refusal)
{
  const std::string user = key.Value("USER"), token = offer.Value("TOKEN");
  const std::string offerDigest = Sha256Hex(data);
  std::lock_guard<std::mutex> lock(m_State.Mutex());
  if (m_State.FindPaymentByToken(user, token, payment)) {
    if (payment.Value("OFFER") == offerDigest)
      return true;
    refusal = "the offer's TOKEN was already used by another offer";
    return false;
  }
  std::string id;
  do {
    id = RandomText(28, kIdAlphabet);
  } while (m_State.FindPayment(id, payment));
  Message confirm(confirmType);
  confirm.Set("KEYID", m_State.HostKeyId());
  confirm.Set("ID", id);
  confirm.Set("TOKEN", token);
  confirm.Set("AMOUNT", offer.Value("AMOUNT"));
  confirm.Set("CURRENCY", offer.Value("CURRENCY"));
  for (const char* name : kEchoedOfferAttributes) {
    std::string value;
    if (offer.Get(name, value))
      confirm.Set(name, value);
  }
  std::string confirmData = confirm.ToText(), confirmSignature, error;
  if (!Sign(confirmData, m_State.HostPrivateKey(), confirmSignature)) {
    refusal = "the host could not sign the confirmation";
    return false;
  }
  payment = Message();
  payment.Set("ID", id);
  payment.Set("TOKEN", token);
  payment.Set("USER", user);
  payment.Set("KEYID", key.Value("KEYID"));
  payment.Set("AMOUNT", offer.Value("AMOUNT"));
  payment.Set("CURRENCY", offer.Value("CURRENCY"));
  payment.Set("STATE", "authorised");
  payment.Set("AUTHORISED", FormatTime(time(nullptr)));
  payment.Set("OFFER", offerDigest);
  payment.Set("SUCCESSLINK", offer.Value("SUCCESSLINK"));
  payment.Set("CONFIRMDATA", confirmData);
  payment.Set("CONFIRMSIGNATURE", confirmSignature);
  if (!card.empty())
    payment.Set("CARD", card);
  if (!m_State.SavePayment(payment, error)) {
    refusal = "the payment could not be stored: " + error;
    return false;
  }
  return true;
}

// Binds a post of the payment form to the offer it was made for: an HMAC of the offer text under a
// secret derived from the host's private key, so it survives restarts and nobody else can make one.
std::string Host::FormToken(const std::string& data) const
{
  const std::string secret = "kestrum-sandbox payment form\n" + m_State.HostPrivateKey();
  unsigned char key[EVP_MAX_MD_SIZE], mac[EVP_MAX_MD_SIZE];
  unsigned int keyLen = 0;
  size_t macLen = 0;
  if (EVP_Digest(secret.data(), secret.size(), key, &keyLen, EVP_sha256(), nullptr) != 1 ||
      !EVP_Q_mac(nullptr, "HMAC", nullptr, "SHA256", nullptr, key, keyLen,
                 reinterpret_cast<const unsigned char*>(data.data()), data.size(), mac, sizeof mac,
                 &macLen))
    return std::string();
  return ToHex(std::string(reinterpret_cast<char*>(mac), macLen));
}

CheckoutView Host::OfferView(const std::string& data, const Message& offer,
                             const std::string& signature, const Message& key) const
{
  CheckoutView view;
  Message account;
  view.merchant = key.Value("USER");
  if (m_State.FindAccount(view.merchant, account) && !account.Value("CUSTOMERID").empty())
    view.merchant += " (customer " + account.Value("CUSTOMERID") + ")";
  view.amount = FormatAmount(offer.Value("AMOUNT"), offer.Value("CURRENCY"));
  view.description = offer.Value("DESCRIPTION");
  view.orderId = offer.Value("ORDERID");
  view.expiration = offer.Value("EXPIRATION");
  // Percent-encoded: a form would turn line breaks into CR LF and the page's UTF-8 would re-encode
  // other bytes, and the signature covers the exact text.
  view.offer = UrlEncode(data);
  view.signature = signature;
  view.formToken = FormToken(data);
  view.card = GroupedCardNumber(kTestCards[0].number);
  view.cardExpiry = DefaultCardExpiry(time(nullptr));
  view.cardCvc = "123";
  return view;
}

HttpResponse Host::CheckoutGet(const std::string& data, const Message& offer,
                               const std::string& signature)
{
  Message key, payment;
  std::string reason = VerifyOffer(data, offer, signature, key);
  if (!reason.empty()) {
    Note("offer page refused: " + reason);
    return RefusalPage(reason, "");
  }
  const std::string failLink = offer.Value("FAILLINK");
  reason = CheckTerms(offer);
  if (reason.empty()) {
    std::lock_guard<std::mutex> lock(m_State.Mutex());
    if (m_State.FindPaymentByToken(key.Value("USER"), offer.Value("TOKEN"), payment)) {
      if (payment.Value("OFFER") != Sha256Hex(data))
        reason = "the offer's TOKEN was already used by another offer";
    }
  }
  if (!reason.empty()) {
    Note("offer page refused: " + reason);
    return RefusalPage(reason, failLink);
  }
  if (payment.Has("ID"))
    return Confirmation(payment);  // paid already: back to the shop as after the first visit
  return HtmlPage(200, CheckoutPage(OfferView(data, offer, signature, key)));
}

HttpResponse Host::CheckoutPost(const HttpRequest& req)
{
  std::string encoded, data, signature, form, action, error;
  Message offer, key;
  if (!req.FormParam("OFFER", encoded) || !UrlDecode(encoded, data) || data.empty()) {
    Record("offer", "-");
    return RefusalPage("the form carries no offer", "");
  }
  Record("offer", data);
  if (!Message::Parse(data, offer, error))
    return RefusalPage("the offer is not readable (" + error + ")", "");
  req.FormParam("SIGNATURE", signature);
  req.FormParam("FORM", form);
  req.FormParam("ACTION", action);
  const std::string expected = FormToken(data);
  if (expected.empty() || form.size() != expected.size() ||
      CRYPTO_memcmp(form.data(), expected.data(), expected.size()) != 0) {
    Note("payment form refused: its token does not belong to the offer");
    return RefusalPage("the form was not made for this offer; open the shop's payment link again",
                       "");
  }
  std::string reason = VerifyOffer(data, offer, signature, key);
  if (!reason.empty())
    return RefusalPage(reason, "");

  if (action == "cancel") {
    const std::string backLink = offer.Value("BACKLINK");
    Note("offer cancelled by the shopper");
    if (IsWebLink(backLink))
      return Redirect(backLink, "Payment cancelled.");
    return HtmlPage(200,
                    NoticePage("Payment cancelled",
                               "The payment was cancelled. The shop gave no page to return to."));
  }
  if (action != "pay")
    return RefusalPage("the form's ACTION '" + action + "' is neither 'pay' nor 'cancel'", "");
  const std::string failLink = offer.Value("FAILLINK");
  reason = CheckTerms(offer);
  if (!reason.empty())
    return RefusalPage(reason, failLink);

  CheckoutView view = OfferView(data, offer, signature, key);
  req.FormParam("CARD", view.card);
  req.FormParam("EXPIRY", view.cardExpiry);
  req.FormParam("CVC", view.cardCvc);
  const TestCard* card = FindTestCard(view.card);
  if (!card) {
    // Not shown again: it may be a real card number typed by mistake.
    view.card.clear();
    view.problem = "This card number is not one of the sandbox's test cards (listed below).";
  } else if (CheckCardExpiry(view.cardExpiry, time(nullptr), view.problem)) {
    if (view.cardCvc.size() < 3 || view.cardCvc.size() > 4 ||
        view.cardCvc.find_first_not_of("0123456789") != std::string::npos)
      view.problem = "The CVC must be three or four digits.";
  }
  if (!view.problem.empty())
    return HtmlPage(400, CheckoutPage(view));

  const std::string lastFour = std::string(card->number).substr(12);
  switch (card->outcome) {
  case CardOutcome::SessionExpires:
    Note("offer refused: the test card " + lastFour + " ends the session");
    return RefusalPage("the payment session expired", failLink);
  case CardOutcome::Declined:
    return Authorise(data, offer, signature, "the card issuer declined the payment", "PayConfirm",
                     lastFour);
  case CardOutcome::Approved:
    break;
  }
  return AuthoriseUnlessFaulted(data, offer, signature, lastFour);
}

}  // namespace sandbox
