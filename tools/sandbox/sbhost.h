// The payment host's side of every exchange: the set-up endpoint, the offer URL with the shopper's
// authorisation, the capture URL with general requests, stand-in shop pages for the offer's links,
// and the administration paths that inject faults and show what the host received.
#ifndef SBHOST_H
#define SBHOST_H

#include "sbanswer.h"
#include "sbcheckout.h"
#include "sbhttp.h"
#include "sbstate.h"
#include "sbxml.h"

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace sandbox {

// Paths served below the base URL.
constexpr const char* kSetupPath = "/user/setup.asp";
constexpr const char* kOfferPath = "/offer";
constexpr const char* kCapturePath = "/capture";
constexpr const char* kShopSuccessPath = "/shop/success";
constexpr const char* kShopFailPath = "/shop/fail";
constexpr const char* kShopBackPath = "/shop/back";

constexpr size_t kMaxLogEntries = 1000;  // the request log keeps the newest entries
constexpr long kMaxFaultDelayMs = 600000;

class Host
{
public:
  // `baseUrl` is how clients reach this host, e.g. "http://127.0.0.1:41234".
  Host(State& state, const std::string& baseUrl, bool quiet);

  HttpResponse Handle(const HttpRequest& req);

private:
  struct Fault
  {
    std::string mode;     // error, msgtype, notxml, status, slow, silent, close, drop, decline
    std::string match;    // "any", an endpoint ("setup", "offer", "capture") or a MSGTYPE
    std::string message;  // MESSAGE of error answers, reason of declined offers
    std::string type;     // MSGTYPE of msgtype answers
    int status = 503;
    long delayMs = 0;
    long count = 1;  // answers still affected; 0 = until cleared
  };

  HttpResponse SetupEndpoint(const HttpRequest& req);
  HttpResponse OfferEndpoint(const HttpRequest& req);
  HttpResponse CheckoutGet(const std::string& data, const Message& offer,
                           const std::string& signature);
  HttpResponse CheckoutPost(const HttpRequest& req);
  HttpResponse CaptureEndpoint(const HttpRequest& req);
  HttpResponse ShopPage(const HttpRequest& req);
  HttpResponse AdminFault(const HttpRequest& req);
  HttpResponse AdminLog(const HttpRequest& req);
  HttpResponse AdminAccount(const HttpRequest& req);

  Message SetupAnswer(const Message& request, const Message& account);
  Message CaptureAnswer(const Message& request, const Message& key);
  HttpResponse AuthoriseUnlessFaulted(const std::string& data, const Message& offer,
                                      const std::string& signature, const std::string& card);
  HttpResponse Authorise(const std::string& data, const Message& offer,
                         const std::string& signature, const std::string& refusal,
                         const std::string& confirmType, const std::string& card = "");
  std::string VerifyOffer(const std::string& data, const Message& offer,
                          const std::string& signature, Message& key) const;
  bool RecordPayment(const std::string& data, const Message& offer, const Message& key,
                     const std::string& confirmType, const std::string& card, Message& payment,
                     std::string& refusal);
  std::string FormToken(const std::string& data) const;
  CheckoutView OfferView(const std::string& data, const Message& offer,
                         const std::string& signature, const Message& key) const;

  bool Authenticate(const HttpRequest& req, Message& account) const;
  // The answer of an XML exchange at `endpoint`: `normal()` unless a fault set for the endpoint
  // or the request's type shapes it.
  HttpResponse Exchange(const std::string& endpoint, const Message& request,
                        const std::function<HttpResponse()>& normal);
  bool TakeFault(const std::string& endpoint, const std::string& type, Fault& fault);
  void Record(const std::string& endpoint, const std::string& data);
  void Note(const std::string& text) const;

  State& m_State;
  std::string m_BaseUrl;
  bool m_Quiet;
  std::mutex m_FaultMutex;
  std::vector<Fault> m_Faults;
  std::mutex m_LogMutex;
  std::deque<std::string> m_Log;
};

}  // namespace sandbox

#endif
