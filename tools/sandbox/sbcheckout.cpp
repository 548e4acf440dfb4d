#include "sbcheckout.h"

#include "sbhttp.h"
#include "sbxml.h"

#include <cstdio>
#include <ctime>

namespace sandbox {

const TestCard kTestCards[3] = {
    {"0000000000001000", CardOutcome::Approved, "approved"},
    {"0000000000002000", CardOutcome::Declined, "declined by the card issuer"},
    {"0000000000003000", CardOutcome::SessionExpires, "the payment session expires"},
};

const char* const kPageSecurityPolicy =
    "default-src 'none'; style-src 'unsafe-inline'; base-uri 'none'; frame-ancestors 'none'";

namespace {

// Length of the UTF-8 sequence starting at `i`, or 0 when it is not a valid one.
size_t Utf8Length(const std::string& s, size_t i)
{
  const unsigned char c = static_cast<unsigned char>(s[i]);
  size_t len;
  unsigned min;
  if (c < 0x80)
    return 1;
  if (c >= 0xc2 && c <= 0xdf) {
    len = 2;
    min = 0x80;
  } else if (c >= 0xe0 && c <= 0xef) {
    len = 3;
    min = 0x800;
  } else if (c >= 0xf0 && c <= 0xf4) {
    len = 4;
    min = 0x10000;
  } else {
    return 0;
  }
  if (i + len > s.size())
    return 0;
  unsigned code = c & (0x7f >> len);
  for (size_t k = 1; k < len; ++k) {
    const unsigned char d = static_cast<unsigned char>(s[i + k]);
    if ((d & 0xc0) != 0x80)
      return 0;
    code = (code << 6) | (d & 0x3f);
  }
  if (code < min || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff))
    return 0;
  return len;
}

bool IsUtf8(const std::string& s)
{
  for (size_t i = 0; i < s.size();) {
    const size_t len = Utf8Length(s, i);
    if (len == 0)
      return false;
    i += len;
  }
  return true;
}

// Digits after the decimal point of each currency that does not have two (ISO 4217).
int MinorDigits(const std::string& currency)
{
  static const char* const kNone[] = {"BIF", "CLP", "DJF", "GNF", "ISK", "JPY", "KMF", "KRW", "PYG",
                                      "RWF", "UGX", "UYI", "VND", "VUV", "XAF", "XOF", "XPF"};
  static const char* const kThree[] = {"BHD", "IQD", "JOD", "KWD", "LYD", "OMR", "TND"};
  static const char* const kFour[] = {"CLF", "UYW"};
  for (const char* c : kNone) {
    if (currency == c)
      return 0;
  }
  for (const char* c : kThree) {
    if (currency == c)
      return 3;
  }
  for (const char* c : kFour) {
    if (currency == c)
      return 4;
  }
  return 2;
}

const char kStyle[] =
    "body{margin:0;font:16px/1.45 system-ui,-apple-system,'Segoe UI',sans-serif;"
    "background:#eef1f5;color:#1c2733}"
    "main{max-width:28rem;margin:0 auto;padding:1rem}"
    ".note{font-size:.85rem;color:#566676;margin:0 0 .75rem}"
    ".box{background:#fff;border-radius:10px;padding:1.25rem;box-shadow:0 1px 3px rgba(0,0,0,.18)}"
    "h1{font-size:1.15rem;margin:0}"
    "h2{font-size:1rem;margin:1.5rem 0 .5rem}"
    ".amount{font-size:2rem;font-weight:700;margin:.2rem 0 .8rem}"
    "dl{display:grid;grid-template-columns:max-content 1fr;gap:.3rem .8rem;margin:0 0 1rem}"
    "dt{color:#566676}dd{margin:0;overflow-wrap:anywhere}"
    "label{display:block;margin:.7rem 0 .2rem;font-weight:600}"
    "input{box-sizing:border-box;width:100%;padding:.6rem;font:inherit;"
    "border:1px solid #8d9baa;border-radius:6px}"
    ".row{display:flex;gap:.8rem}.row>div{flex:1}"
    ".buttons{display:flex;gap:.8rem;margin-top:1.25rem}"
    "button,.button{flex:1;box-sizing:border-box;padding:.75rem;font:inherit;font-weight:600;"
    "border-radius:6px;border:1px solid #1d5fb8;text-align:center;text-decoration:none}"
    ".pay{background:#1d5fb8;color:#fff}.cancel,.button{background:#fff;color:#1d5fb8}"
    ".button{display:inline-block;margin-top:1rem}"
    ".problem{background:#fdecea;border:1px solid #e0a39d;border-radius:6px;padding:.6rem;"
    "margin:0 0 1rem;overflow-wrap:anywhere}"
    "table{border-collapse:collapse;width:100%;font-size:.9rem}"
    "th,td{text-align:left;padding:.35rem .3rem;border-bottom:1px solid #d5dce4}"
    "td:first-child{white-space:nowrap;font-family:ui-monospace,monospace}";

std::string PageStart(const std::string& title)
{
  return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
         "<title>" +
         HtmlEscape(title) + " - kestrum-sandbox</title>\n<style>" + kStyle +
         "</style>\n</head>\n<body>\n<main>\n"
         "<p class=\"note\">kestrum-sandbox: a test payment host. No money moves.</p>\n";
}

const char kPageEnd[] = "</main>\n</body>\n</html>\n";

std::string Hidden(const char* name, const std::string& value)
{
  return std::string("<input type=\"hidden\" name=\"") + name + "\" value=\"" + HtmlEscape(value) +
         "\">\n";
}

}  // namespace

std::string GroupedCardNumber(const std::string& digits)
{
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && i % 4 == 0)
      out += ' ';
    out += digits[i];
  }
  return out;
}

const TestCard* FindTestCard(const std::string& typed)
{
  std::string digits;
  for (char c : typed) {
    if (c >= '0' && c <= '9')
      digits += c;
    else if (c != ' ' && c != '-')
      return nullptr;
  }
  for (const TestCard& card : kTestCards) {
    if (digits == card.number)
      return &card;
  }
  return nullptr;
}

bool CheckCardExpiry(const std::string& mmYY, long long now, std::string& problem)
{
  if (mmYY.size() != 5 || mmYY[2] != '/' ||
      mmYY.substr(0, 2).find_first_not_of("0123456789") != std::string::npos ||
      mmYY.substr(3).find_first_not_of("0123456789") != std::string::npos) {
    problem = "The expiry date must be written MM/YY, for example 12/30.";
    return false;
  }
  const int month = std::stoi(mmYY.substr(0, 2)), year = 2000 + std::stoi(mmYY.substr(3));
  if (month < 1 || month > 12) {
    problem = "The expiry date's month must be 01 to 12.";
    return false;
  }
  time_t t = static_cast<time_t>(now);
  struct tm tm;
  gmtime_r(&t, &tm);
  const int nowYear = tm.tm_year + 1900, nowMonth = tm.tm_mon + 1;
  if (year < nowYear || (year == nowYear && month < nowMonth)) {
    problem = "The card expired at the end of " + mmYY + ".";
    return false;
  }
  return true;
}

std::string DefaultCardExpiry(long long now)
{
  time_t t = static_cast<time_t>(now);
  struct tm tm;
  gmtime_r(&t, &tm);
  char buf[16];
  snprintf(buf, sizeof buf, "12/%02d", (tm.tm_year + 1900 + 3) % 100);
  return buf;
}

bool AsksForHtml(const std::string& accept)
{
  for (std::string range : SplitList(accept, ',')) {
    std::string params;
    const size_t semi = range.find(';');
    if (semi != std::string::npos) {
      params = range.substr(semi);
      range.resize(semi);
    }
    std::string type;
    for (char c : range) {
      if (c != ' ' && c != '\t')
        type += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    if (type != "text/html")
      continue;
    // "q=0", "q=0.0", ...: the client refuses HTML.
    std::string compact;
    for (char c : params) {
      if (c != ' ' && c != '\t')
        compact += c;
    }
    const size_t q = compact.find(";q=");
    if (q != std::string::npos) {
      const std::string value = compact.substr(q + 3, compact.find(';', q + 3) - (q + 3));
      if (!value.empty() && value.find_first_not_of("0.") == std::string::npos)
        continue;
    }
    return true;
  }
  return false;
}

std::string HtmlEscape(const std::string& text)
{
  const bool utf8 = IsUtf8(text);
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (char ch : text) {
    // "&#39;": the apostrophe's entity that every HTML version knows.
    if (AppendEntity(out, ch, "&#39;"))
      continue;
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c == '\t' || c == '\n') {
      out += ch;
    } else if (c < 0x20 || c == 0x7f) {
      out += "\xef\xbf\xbd";
    } else if (c < 0x80 || utf8) {
      out += ch;
    } else {
      out += static_cast<char>(0xc0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3f));
    }
  }
  return out;
}

std::string FormatAmount(const std::string& minor, const std::string& currency)
{
  const size_t digits = static_cast<size_t>(MinorDigits(currency));
  std::string units = minor;
  const size_t first = units.find_first_not_of('0');
  units = first == std::string::npos ? "0" : units.substr(first);
  if (digits > 0) {
    if (units.size() <= digits)
      units.insert(0, digits + 1 - units.size(), '0');
    units.insert(units.size() - digits, ".");
  }
  return units + " " + currency;
}

std::string CheckoutPage(const CheckoutView& v)
{
  std::string page = PageStart("Pay " + v.amount);
  page += "<div class=\"box\">\n<h1>Payment to " + HtmlEscape(v.merchant) + "</h1>\n";
  page += "<p class=\"amount\">" + HtmlEscape(v.amount) + "</p>\n<dl>\n";
  if (!v.description.empty())
    page += "<dt>Description</dt><dd>" + HtmlEscape(v.description) + "</dd>\n";
  if (!v.orderId.empty())
    page += "<dt>Order</dt><dd>" + HtmlEscape(v.orderId) + "</dd>\n";
  page += "<dt>Pay before</dt><dd>" + HtmlEscape(v.expiration) + " UTC</dd>\n</dl>\n";
  if (!v.problem.empty())
    page += "<p class=\"problem\" role=\"alert\">" + HtmlEscape(v.problem) + "</p>\n";
  page += "<form method=\"post\" action=\"/offer\">\n";
  page += Hidden("OFFER", v.offer) + Hidden("SIGNATURE", v.signature) + Hidden("FORM", v.formToken);
  page +=
      "<label for=\"card\">Card number</label>\n"
      "<input id=\"card\" name=\"CARD\" value=\"" +
      HtmlEscape(v.card) +
      "\" inputmode=\"numeric\" autocomplete=\"cc-number\">\n"
      "<div class=\"row\"><div><label for=\"expiry\">Expiry (MM/YY)</label>\n"
      "<input id=\"expiry\" name=\"EXPIRY\" value=\"" +
      HtmlEscape(v.cardExpiry) +
      "\" autocomplete=\"cc-exp\"></div>\n"
      "<div><label for=\"cvc\">CVC</label>\n"
      "<input id=\"cvc\" name=\"CVC\" value=\"" +
      HtmlEscape(v.cardCvc) +
      "\" inputmode=\"numeric\" autocomplete=\"cc-csc\"></div></div>\n"
      "<div class=\"buttons\">"
      "<button type=\"submit\" class=\"pay\" name=\"ACTION\" value=\"pay\">Pay</button>"
      "<button type=\"submit\" class=\"cancel\" name=\"ACTION\" value=\"cancel\">Cancel</button>"
      "</div>\n</form>\n</div>\n";
  page += "<h2>Test cards</h2>\n<table>\n<tr><th>Card number</th><th>Result</th></tr>\n";
  for (const TestCard& card : kTestCards)
    page += std::string("<tr><td>") + GroupedCardNumber(card.number) + "</td><td>" + card.what +
            "</td></tr>\n";
  page +=
      "</table>\n<p class=\"note\">Any future expiry date and any three digits as CVC. Only "
      "the last four digits of the card are kept.</p>\n";
  return page + kPageEnd;
}

std::string ErrorPage(const std::string& title, const std::string& reason, const std::string& link,
                      const std::string& linkText)
{
  std::string page = PageStart(title);
  page += "<div class=\"box\">\n<h1>" + HtmlEscape(title) +
          "</h1>\n<p class=\"problem\" role=\"alert\">" + HtmlEscape(reason) + "</p>\n";
  if (!link.empty())
    page +=
        "<a class=\"button\" href=\"" + HtmlEscape(link) + "\">" + HtmlEscape(linkText) + "</a>\n";
  return page + "</div>\n" + kPageEnd;
}

std::string NoticePage(const std::string& title, const std::string& text)
{
  return PageStart(title) + "<div class=\"box\">\n<h1>" + HtmlEscape(title) + "</h1>\n<p>" +
         HtmlEscape(text) + "</p>\n</div>\n" + kPageEnd;
}

}  // namespace sandbox
