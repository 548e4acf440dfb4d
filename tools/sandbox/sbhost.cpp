#include "sbhost.h"

#include "sbcheckout.h"
#include "sbcrypto.h"

#include <cstdio>
#include <ctime>
#include <openssl/crypto.h>
#include <openssl/evp.h>

namespace sandbox {

namespace {

// Offer attributes a confirmation repeats after ID, TOKEN, AMOUNT and CURRENCY, when present.
const char* const kEchoedOfferAttributes[] = {"DESCRIPTION", "ACCOUNTID", "ORDERID"};

// Transaction identifiers: 28 letters and digits.
const char kIdAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

Message ErrorMessage(const std::string& text)
{
  Message msg("Error");
  msg.Set("MESSAGE", text);
  return msg;
}

HttpResponse XmlAnswer(const Message& msg)
{
  HttpResponse resp;
  resp.body = msg.ToText();
  return resp;
}

HttpResponse TextPage(int status, const std::string& text)
{
  HttpResponse resp;
  resp.status = status;
  resp.contentType = "text/plain; charset=utf-8";
  resp.body = text;
  return resp;
}

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

bool ParseNumber(const std::string& s, long lo, long hi, long& out)
{
  if (s.empty() || s.size() > 9 || s.find_first_not_of("0123456789") != std::string::npos)
    return false;
  long v = std::stol(s);
  if (v < lo || v > hi)
    return false;
  out = v;
  return true;
}

// One line of the request log: control characters would split an entry.
std::string OneLine(const std::string& text)
{
  std::string out;
  for (char c : text) {
    if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else
      out.push_back(c);
  }
  return out;
}

}  // namespace

std::string FormatTime(long long epochSeconds)
{
  time_t t = static_cast<time_t>(epochSeconds);
  struct tm tm;
  if (!gmtime_r(&t, &tm))
    return std::string();
  char buf[64];
  snprintf(buf, sizeof buf, "%04d%02d%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
           tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

bool ParseTime(const std::string& text, long long& epochSeconds)
{
  if (text.size() != 17 || text[8] != ' ' || text[11] != ':' || text[14] != ':')
    return false;
  for (size_t i : {0, 1, 2, 3, 4, 5, 6, 7, 9, 10, 12, 13, 15, 16}) {
    if (text[i] < '0' || text[i] > '9')
      return false;
  }
  struct tm tm = {};
  tm.tm_year = std::stoi(text.substr(0, 4)) - 1900;
  tm.tm_mon = std::stoi(text.substr(4, 2)) - 1;
  tm.tm_mday = std::stoi(text.substr(6, 2));
  tm.tm_hour = std::stoi(text.substr(9, 2));
  tm.tm_min = std::stoi(text.substr(12, 2));
  tm.tm_sec = std::stoi(text.substr(15, 2));
  time_t t = timegm(&tm);
  // timegm normalises 31 February into March: only a text that formats back is a real time.
  if (t == static_cast<time_t>(-1) || FormatTime(t) != text)
    return false;
  epochSeconds = t;
  return true;
}

Host::Host(State& state, const std::string& baseUrl, bool quiet)
    : m_State(state), m_BaseUrl(baseUrl), m_Quiet(quiet)
{
}

void Host::Note(const std::string& text) const
{
  if (!m_Quiet)
    fprintf(stderr, "kestrum-sandbox: %s\n", OneLine(text).c_str());
}

void Host::Record(const std::string& endpoint, const std::string& data)
{
  std::lock_guard<std::mutex> lock(m_LogMutex);
  m_Log.push_back(endpoint + " " + OneLine(data));
  while (m_Log.size() > kMaxLogEntries)
    m_Log.pop_front();
}

bool Host::TakeFault(const std::string& endpoint, const std::string& type, Fault& fault)
{
  std::lock_guard<std::mutex> lock(m_FaultMutex);
  for (auto it = m_Faults.begin(); it != m_Faults.end(); ++it) {
    if (it->match != "any" && it->match != endpoint && it->match != type)
      continue;
    fault = *it;
    if (it->count > 0 && --it->count == 0)
      m_Faults.erase(it);
    return true;
  }
  return false;
}

HttpResponse Host::Handle(const HttpRequest& req)
{
  // Only the payment page's form is posted.
  const bool offerPath = req.path == kOfferPath;
  if (req.method != "GET" && !(offerPath && req.method == "POST")) {
    HttpResponse resp = TextPage(405, offerPath ? "only GET and POST are served here\n"
                                                : "only GET is served here\n");
    resp.headers.emplace_back("Allow", offerPath ? "GET, POST" : "GET");
    return resp;
  }
  if (req.path == kSetupPath)
    return SetupEndpoint(req);
  if (req.path == kOfferPath)
    return OfferEndpoint(req);
  if (req.path == kCapturePath)
    return CaptureEndpoint(req);
  if (req.path == kShopSuccessPath || req.path == kShopFailPath || req.path == kShopBackPath)
    return ShopPage(req);
  if (req.path == "/admin/fault")
    return AdminFault(req);
  if (req.path == "/admin/log")
    return AdminLog(req);
  if (req.path == "/admin/account")
    return AdminAccount(req);
  if (req.path == "/")
    return TextPage(200,
                    "kestrum-sandbox payment host\n"
                    "set-up endpoint: " + m_BaseUrl + kSetupPath + "\n"
                    "offers:          " + m_BaseUrl + kOfferPath + "\n"
                    "captures:        " + m_BaseUrl + kCapturePath + "\n");
  return TextPage(404, "no such page: " + req.path + "\n");
}

// --- faults applied to XML exchanges ------------------------------------------------------------

namespace {

// Shapes the answer of a faulted XML exchange; `normal` does the exchange's real work.
template <typename Work>
HttpResponse FaultAnswer(const std::string& mode, const std::string& message,
                         const std::string& type, int status, long delayMs, Work normal)
{
  if (mode == "error" || mode == "decline")
    return XmlAnswer(ErrorMessage(message));
  if (mode == "msgtype")
    return XmlAnswer(Message(type));
  if (mode == "notxml")
    return TextPage(200, "sandbox fault: this answer is not XML\n");
  if (mode == "status")
    return TextPage(status, "sandbox fault: HTTP status " + std::to_string(status) + "\n");
  HttpResponse resp;
  if (mode == "slow") {
    resp = normal();
    resp.delayMs = delayMs;
  } else if (mode == "silent") {
    resp.delivery = HttpResponse::Delivery::Silent;
    resp.delayMs = delayMs;
  } else if (mode == "drop") {
    // The work is done but the answer is lost on the way back.
    resp = normal();
    resp.delivery = HttpResponse::Delivery::Close;
  } else {
    resp.delivery = HttpResponse::Delivery::Close;
  }
  return resp;
}

}  // namespace

// --- set-up endpoint ----------------------------------------------------------------------------

bool Host::Authenticate(const HttpRequest& req, Message& account) const
{
  std::string auth = req.Header("authorization");
  if (auth.size() < 6)
    return false;
  std::string scheme = auth.substr(0, 6);
  for (char& c : scheme)
    c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  std::string pair;
  if (scheme != "basic " || !Base64Decode(auth.substr(6), pair))
    return false;
  size_t colon = pair.find(':');
  if (colon == std::string::npos)
    return false;
  std::string user = pair.substr(0, colon), password = pair.substr(colon + 1);
  Message found;
  if (!m_State.FindAccount(user, found))
    return false;
  std::string expected = found.Value("PASSWORD");
  if (expected.empty() || expected.size() != password.size() ||
      CRYPTO_memcmp(expected.data(), password.data(), password.size()) != 0)
    return false;
  account = found;
  return true;
}

HttpResponse Host::SetupEndpoint(const HttpRequest& req)
{
  std::string data, error;
  Message request;
  if (!req.Param("DATA", data)) {
    Record("setup", "-");
    return XmlAnswer(ErrorMessage("the request carries no DATA"));
  }
  Record("setup", data);
  if (!Message::Parse(data, request, error)) {
    Note("setup: unreadable request: " + error);
    return XmlAnswer(ErrorMessage("the request is not readable: " + error));
  }
  auto normal = [&] {
    Message account;
    if (!Authenticate(req, account)) {
      Note("setup " + request.Type() + ": credentials refused");
      HttpResponse resp = XmlAnswer(ErrorMessage("unknown user or wrong password"));
      resp.status = 401;
      resp.headers.emplace_back("WWW-Authenticate", "Basic realm=\"kestrum-sandbox\"");
      return resp;
    }
    Message answer = SetupAnswer(request, account);
    Note("setup " + request.Type() + " from " + account.Value("USER") + ": " + answer.Type() +
         (answer.Type() == "Error" ? " (" + answer.Value("MESSAGE") + ")" : ""));
    return XmlAnswer(answer);
  };
  Fault fault;
  if (TakeFault("setup", request.Type(), fault)) {
    Note("setup " + request.Type() + ": fault " + fault.mode);
    return FaultAnswer(fault.mode, fault.message, fault.type, fault.status, fault.delayMs, normal);
  }
  return normal();
}

Message Host::SetupAnswer(const Message& request, const Message& account)
{
  const std::string type = request.Type();
  if (type == "SetupRequest") {
    Message answer("SetupResponse");
    answer.Set("VERSION", account.Value("VERSION").empty() ? "1" : account.Value("VERSION"));
    answer.Set("CUSTOMERID", account.Value("CUSTOMERID"));
    answer.Set("VTKEYID", m_State.HostKeyId());
    answer.Set("TBX.VTAUTOURL", m_BaseUrl + kSetupPath);
    answer.Set("VTURL", m_BaseUrl + kOfferPath);
    answer.Set("CAPTUREURL", m_BaseUrl + kCapturePath);
    return answer;
  }
  if (type == "LoadDefaultsRequest") {
    Message answer("LoadDefaultsResponse");
    answer.Set("TBX.ISVALID", "yes");
    answer.Set("ALLOWCOLLECT", "no");
    answer.Set("DELIVERY", "no");
    answer.Set("LANGID", "en");
    answer.Set("SUCCESSLINK", m_BaseUrl + kShopSuccessPath);
    answer.Set("FAILLINK", m_BaseUrl + kShopFailPath);
    answer.Set("BACKLINK", m_BaseUrl + kShopBackPath);
    return answer;
  }
  if (type == "KeyQueryRequest") {
    std::string keyId = request.Value("KEYID");
    if (keyId != m_State.HostKeyId())
      return ErrorMessage("unknown host key identifier '" + keyId + "'");
    Message answer("KeyQueryResponse");
    answer.Set("KEYID", keyId);
    answer.Set("KEYBLOB", m_State.HostPublicKey());
    return answer;
  }
  if (type == "KeyExportRequest") {
    std::string keyId = request.Value("KEYID"), blob = request.Value("KEYBLOB");
    const std::string user = account.Value("USER");
    if (!State::IsFileName(keyId) || keyId == m_State.HostKeyId())
      return ErrorMessage("KEYID '" + keyId + "' is not a usable key identifier");
    if (PublicKeyBits(blob) < 512)
      return ErrorMessage("KEYBLOB is not an RSA public key of 512 to 4096 bits");
    std::lock_guard<std::mutex> lock(m_State.Mutex());
    Message existing;
    if (m_State.FindMerchantKey(keyId, existing)) {
      if (existing.Value("USER") != user)
        return ErrorMessage("key identifier '" + keyId + "' belongs to another account");
      if (existing.Value("KEYBLOB") != blob)
        return ErrorMessage("key identifier '" + keyId + "' is registered with another key");
    } else {
      Message key;
      key.Set("KEYID", keyId);
      key.Set("USER", user);
      key.Set("KEYBLOB", blob);
      key.Set("REGISTERED", FormatTime(time(nullptr)));
      std::string error;
      if (!m_State.SaveMerchantKey(key, error))
        return ErrorMessage("the key could not be stored: " + error);
    }
    Message answer("KeyExportResponse");
    answer.Set("KEYID", keyId);
    return answer;
  }
  return ErrorMessage("message type '" + type + "' is not served at the set-up endpoint");
}

// --- offer URL ----------------------------------------------------------------------------------

namespace {

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
  return Redirect(location, "Payment authorised.\nID=" + payment.Value("ID") + "\nDATA=" +
                                confirmData + "\nSIGNATURE=" + confirmSignature);
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
// confirmation and sends the browser to SUCCESSLINK (or to FAILLINK with the reason). A
// `refusal` makes the shopper refuse a valid offer; `confirmType` is the confirmation's MSGTYPE.
// `card` (the last four digits of a test card) marks a payment made on the payment page.
HttpResponse Host::Authorise(const std::string& data, const Message& offer,
                             const std::string& signature, const std::string& refusal,
                             const std::string& confirmType, const std::string& card)
{
  const std::string failLink = offer.Value("FAILLINK");
  auto refuse = [&](const std::string& reason) {
    Note("offer refused: " + reason);
    if (!IsWebLink(failLink))
      return card.empty() ? TextPage(400, "Payment refused: " + reason + "\n")
                          : RefusalPage(reason, "");
    return Redirect(AppendQuery(failLink, "REASON=" + UrlEncode(reason)), "Payment refused: " + reason);
  };

  Message key, payment;
  std::string reason = VerifyOffer(data, offer, signature, key);
  if (reason.empty())
    reason = CheckTerms(offer);
  if (reason.empty())
    reason = refusal;
  if (reason.empty() && !RecordPayment(data, offer, key, confirmType, card, payment, reason))
    reason = reason.empty() ? "the payment could not be recorded" : reason;
  if (!reason.empty())
    return refuse(reason);
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

// --- the payment page ---------------------------------------------------------------------------

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
    return RefusalPage("the form was not made for this offer; open the shop's payment link again", "");
  }
  std::string reason = VerifyOffer(data, offer, signature, key);
  if (!reason.empty())
    return RefusalPage(reason, "");

  if (action == "cancel") {
    const std::string backLink = offer.Value("BACKLINK");
    Note("offer cancelled by the shopper");
    if (IsWebLink(backLink))
      return Redirect(backLink, "Payment cancelled.");
    return HtmlPage(200, NoticePage("Payment cancelled",
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

// --- capture URL --------------------------------------------------------------------------------

HttpResponse Host::CaptureEndpoint(const HttpRequest& req)
{
  std::string data, signature, error;
  Message request;
  if (!req.Param("DATA", data)) {
    Record("capture", "-");
    return XmlAnswer(ErrorMessage("the request carries no DATA"));
  }
  Record("capture", data);
  if (!Message::Parse(data, request, error))
    return XmlAnswer(ErrorMessage("the request is not readable: " + error));
  req.Param("SIGNATURE", signature);

  auto normal = [&] {
    const std::string keyId = request.Value("KEYID");
    Message key;
    Message answer;
    if (signature.empty())
      answer = ErrorMessage("the request carries no SIGNATURE");
    else if (!m_State.FindMerchantKey(keyId, key))
      answer = ErrorMessage("the merchant key '" + keyId + "' is not registered");
    else if (!Verify(data, key.Value("KEYBLOB"), signature))
      answer = ErrorMessage("the request's signature is not valid");
    else
      answer = CaptureAnswer(request, key);
    Note("capture " + request.Type() + ": " + answer.Type() +
         (answer.Type() == "Error" ? " (" + answer.Value("MESSAGE") + ")" : ""));
    return XmlAnswer(answer);
  };
  Fault fault;
  if (TakeFault("capture", request.Type(), fault)) {
    Note("capture " + request.Type() + ": fault " + fault.mode);
    return FaultAnswer(fault.mode, fault.message, fault.type, fault.status, fault.delayMs, normal);
  }
  return normal();
}

Message Host::CaptureAnswer(const Message& request, const Message& key)
{
  const std::string type = request.Type(), user = key.Value("USER");
  const std::string suffix = "Request";
  if (type == "PayComplete") {
    std::string id, token;
    if (!request.Get("ID", id) || id.empty())
      return ErrorMessage("the capture carries no ID");
    if (!request.Get("TOKEN", token))
      return ErrorMessage("the capture carries no TOKEN");
    std::lock_guard<std::mutex> lock(m_State.Mutex());
    Message payment;
    // Payments of other accounts are as unknown as payments that never were.
    if (!m_State.FindPayment(id, payment) || payment.Value("USER") != user)
      return ErrorMessage("unknown payment '" + id + "'");
    if (payment.Value("TOKEN") != token)
      return ErrorMessage("the TOKEN does not match payment '" + id + "'");
    if (payment.Value("STATE") == "captured")
      return ErrorMessage("payment '" + id + "' already captured");
    payment.Set("STATE", "captured");
    payment.Set("CAPTURED", FormatTime(time(nullptr)));
    std::string error;
    if (!m_State.SavePayment(payment, error))
      return ErrorMessage("the capture could not be stored: " + error);
    Message answer("PayConfirm");
    answer.Set("KEYID", m_State.HostKeyId());
    answer.Set("ID", id);
    answer.Set("TOKEN", token);
    answer.Set("AMOUNT", payment.Value("AMOUNT"));
    answer.Set("CURRENCY", payment.Value("CURRENCY"));
    answer.Set("STATE", "captured");
    return answer;
  }
  if (type.size() >= suffix.size() &&
      type.compare(type.size() - suffix.size(), suffix.size(), suffix) == 0) {
    const std::string base = type.substr(0, type.size() - suffix.size());
    Message answer(base + "Response");
    if (base == "Status") {
      // The state of one of the account's payments.
      std::string id = request.Value("ID");
      std::lock_guard<std::mutex> lock(m_State.Mutex());
      Message payment;
      if (!m_State.FindPayment(id, payment) || payment.Value("USER") != user)
        return ErrorMessage("unknown payment '" + id + "'");
      for (const char* name : {"ID", "AMOUNT", "CURRENCY", "STATE", "AUTHORISED", "CAPTURED"}) {
        std::string value;
        if (payment.Get(name, value))
          answer.Set(name, value);
      }
      return answer;
    }
    // Any other request: its attributes come back, so a caller sees what arrived.
    for (const auto& attr : request.Attributes()) {
      if (attr.first != "MSGTYPE" && attr.first != "KEYID" && attr.first != "CONFIGPATH")
        answer.Set(attr.first, attr.second);
    }
    return answer;
  }
  return ErrorMessage("message type '" + type + "' is not served at the capture URL");
}

// --- stand-in shop pages ------------------------------------------------------------------------

HttpResponse Host::ShopPage(const HttpRequest& req)
{
  if (req.path == kShopSuccessPath) {
    std::string data, signature;
    if (!req.Param("DATA", data) || !req.Param("SIGNATURE", signature))
      return TextPage(400, "Shop: no confirmation received.\n");
    return TextPage(200, "Shop: payment confirmed by the host.\nDATA=" + data +
                             "\nSIGNATURE=" + signature + "\n");
  }
  if (req.path == kShopFailPath) {
    std::string reason;
    req.Param("REASON", reason);
    return TextPage(200, "Shop: payment failed: " + reason + "\n");
  }
  return TextPage(200, "Shop: payment cancelled by the shopper.\n");
}

// --- administration -----------------------------------------------------------------------------

HttpResponse Host::AdminFault(const HttpRequest& req)
{
  std::string mode, value;
  if (!req.Param("MODE", mode))
    return TextPage(400, "MODE is missing\n");
  if (mode == "clear") {
    std::lock_guard<std::mutex> lock(m_FaultMutex);
    m_Faults.clear();
    return TextPage(200, "faults cleared\n");
  }
  static const char* const modes[] = {"error", "msgtype", "notxml", "status", "slow",
                                      "silent", "close", "drop", "decline"};
  bool known = false;
  for (const char* m : modes)
    known = known || mode == m;
  if (!known)
    return TextPage(400, "unknown MODE '" + mode + "'\n");
  Fault fault;
  fault.mode = mode;
  fault.match = req.Param("MATCH", value) && !value.empty() ? value : "any";
  fault.message = req.Param("MESSAGE", value) ? value
                  : mode == "decline"          ? "the card issuer declined the payment"
                                               : "sandbox fault";
  fault.type = req.Param("TYPE", value) ? value : "UnexpectedResponse";
  fault.delayMs = mode == "silent" ? 30000 : 2000;
  long number = 0;
  if (req.Param("STATUS", value)) {
    if (!ParseNumber(value, 100, 599, number))
      return TextPage(400, "STATUS must be a number from 100 to 599\n");
    fault.status = static_cast<int>(number);
  }
  if (req.Param("DELAY", value)) {
    if (!ParseNumber(value, 0, kMaxFaultDelayMs, number))
      return TextPage(400, "DELAY must be a number of milliseconds up to " +
                               std::to_string(kMaxFaultDelayMs) + "\n");
    fault.delayMs = number;
  }
  if (req.Param("COUNT", value)) {
    if (!ParseNumber(value, 0, 1000000, number))
      return TextPage(400, "COUNT must be a number (0: until cleared)\n");
    fault.count = number;
  }
  std::lock_guard<std::mutex> lock(m_FaultMutex);
  m_Faults.push_back(fault);
  return TextPage(200, "fault " + fault.mode + " set for " + fault.match + "\n");
}

HttpResponse Host::AdminLog(const HttpRequest& req)
{
  std::string body, ignored;
  std::lock_guard<std::mutex> lock(m_LogMutex);
  for (const auto& line : m_Log)
    body += line + "\n";
  if (req.Param("CLEAR", ignored))
    m_Log.clear();
  return TextPage(200, body);
}

HttpResponse Host::AdminAccount(const HttpRequest& req)
{
  std::string user, password, customerId, error;
  if (!req.Param("USER", user) || !req.Param("PASSWORD", password) || password.empty() ||
      !req.Param("CUSTOMERID", customerId))
    return TextPage(400, "USER, PASSWORD and CUSTOMERID are needed\n");
  if (!State::IsFileName(user) || !Message::IsName(customerId))
    return TextPage(400, "USER and CUSTOMERID must be plain names\n");
  Message account;
  account.Set("USER", user);
  account.Set("PASSWORD", password);
  account.Set("CUSTOMERID", customerId);
  account.Set("VERSION", "1");
  std::lock_guard<std::mutex> lock(m_State.Mutex());
  if (!m_State.SaveAccount(account, error))
    return TextPage(500, error + "\n");
  return TextPage(200, "account " + user + " saved\n");
}

}  // namespace sandbox
