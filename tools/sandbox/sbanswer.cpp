#include "sbanswer.h"

#include <cstdio>
#include <ctime>

namespace sandbox {

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

std::string Outcome(const Message& answer)
{
  return answer.Type() + (answer.Type() == "Error" ? " (" + answer.Value("MESSAGE") + ")" : "");
}

HttpResponse FaultAnswer(const std::string& mode, const std::string& message,
                         const std::string& type, int status, long delayMs,
                         const std::function<HttpResponse()>& normal)
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

}  // namespace sandbox
