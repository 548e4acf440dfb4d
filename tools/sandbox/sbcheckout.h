// The shopper's side of the offer URL in a browser: the payment page with its card form, the error
// page, and the sandbox's test cards. Pure text functions; the host decides which page to answer.
// Pages are plain HTML and CSS (no script, nothing loaded from elsewhere), readable on a phone.
#ifndef SBCHECKOUT_H
#define SBCHECKOUT_H

#include <string>

namespace sandbox {

// What a test card does when the shopper pays with it.
enum class CardOutcome
{
  Approved,
  Declined,
  SessionExpires
};

// The sandbox accepts only these numbers. They start with "0000", which no card network issues, so
// none of them is or can become a real card number.
struct TestCard
{
  const char* number;  // 16 digits, shown in groups of four
  CardOutcome outcome;
  const char* what;  // the page's description of it
};
extern const TestCard kTestCards[3];

// The test card of what a shopper typed (spaces and dashes ignored), or nullptr.
const TestCard* FindTestCard(const std::string& typed);

// "0000 0000 0000 1000": a card number in groups of four.
std::string GroupedCardNumber(const std::string& digits);

// True when a card expiry "MM/YY" names a real month that has not ended at `now` (UTC); otherwise
// `problem` says what is wrong.
bool CheckCardExpiry(const std::string& mmYY, long long now, std::string& problem);
// The expiry the form is prefilled with: December, three years after `now`.
std::string DefaultCardExpiry(long long now);

// True when an Accept header asks for text/html (a browser navigating), not with q=0.
bool AsksForHtml(const std::string& accept);

// Text made safe for HTML content and quoted attribute values. Text that is not valid UTF-8 is
// read as Latin-1; control characters become U+FFFD.
std::string HtmlEscape(const std::string& text);

// Minor units as major units with the currency: ("1560", "EUR") gives "15.60 EUR", ("500", "JPY")
// "500 JPY". `minor` must be digits.
std::string FormatAmount(const std::string& minor, const std::string& currency);

// What the payment page shows. All fields are plain text; the page escapes them.
struct CheckoutView
{
  std::string merchant;
  std::string amount;       // formatted, e.g. "15.60 EUR"
  std::string description;  // may be empty
  std::string orderId;      // may be empty
  std::string expiration;   // the offer's EXPIRATION, UTC
  std::string offer;        // the offer text and its signature, carried by the form
  std::string signature;
  std::string formToken;                  // binds a post of the form to this offer
  std::string card, cardExpiry, cardCvc;  // the form's values
  std::string problem;  // why the last post was not accepted; empty for a fresh page
};

std::string CheckoutPage(const CheckoutView& view);

// A page that says why no payment is possible. `link` (an http(s) URL; may be empty) leads on
// with `linkText`.
std::string ErrorPage(const std::string& title, const std::string& reason, const std::string& link,
                      const std::string& linkText);

// A page with a message only (a cancelled payment without a link back).
std::string NoticePage(const std::string& title, const std::string& text);

// Response headers of every page: no script, nothing from elsewhere, not cached, not framed.
extern const char* const kPageSecurityPolicy;

}  // namespace sandbox

#endif
