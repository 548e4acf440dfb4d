#include "sbhost.h"

#include "sbanswer.h"

#include <cstdio>

namespace sandbox {

namespace {

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

Host::Host(State& state, const std::string& baseUrl, bool quiet)
    : m_State(state), m_BaseUrl(baseUrl), m_Quiet(quiet)
{}

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
                    "set-up endpoint: " +
                        m_BaseUrl + kSetupPath + "\noffers:          " + m_BaseUrl + kOfferPath +
                        "\ncaptures:        " + m_BaseUrl + kCapturePath + "\n");
  return TextPage(404, "no such page: " + req.path + "\n");
}

HttpResponse Host::Exchange(const std::string& endpoint, const Message& request,
                            const std::function<HttpResponse()>& normal)
{
  Fault fault;
  if (TakeFault(endpoint, request.Type(), fault)) {
    Note(endpoint + " " + request.Type() + ": fault " + fault.mode);
    return FaultAnswer(fault.mode, fault.message, fault.type, fault.status, fault.delayMs, normal);
  }
  return normal();
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
  static const char* const modes[] = {"error",  "msgtype", "notxml", "status", "slow",
                                      "silent", "close",   "drop",   "decline"};
  bool known = false;
  for (const char* m : modes)
    known = known || mode == m;
  if (!known)
    return TextPage(400, "unknown MODE '" + mode + "'\n");
  Fault fault;
  fault.mode = mode;
  fault.match = req.Param("MATCH", value) && !value.empty() ? value : "any";
  fault.message = req.Param("MESSAGE", value) ? value
                  : mode == "decline"         ? "the card issuer declined the payment"
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
