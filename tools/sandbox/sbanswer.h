// What the host's endpoints answer alike: messages and plain pages, the shapes of a faulted XML
// exchange, and the time text of offers.
#ifndef SBANSWER_H
#define SBANSWER_H

#include "sbhttp.h"
#include "sbxml.h"

#include <functional>
#include <string>

namespace sandbox {

// An "Error" message whose MESSAGE is `text`.
Message ErrorMessage(const std::string& text);
// `msg` as the body of an XML answer.
HttpResponse XmlAnswer(const Message& msg);
// A plain text page.
HttpResponse TextPage(int status, const std::string& text);
// An answer's MSGTYPE for the host's notes, with the MESSAGE of an error.
std::string Outcome(const Message& answer);

// Shapes the answer of a faulted XML exchange (`mode` and its parameters as set by the
// administration path); `normal` does the exchange's real work where the fault keeps it.
HttpResponse FaultAnswer(const std::string& mode, const std::string& message,
                         const std::string& type, int status, long delayMs,
                         const std::function<HttpResponse()>& normal);

// The expiration time text of offers: "YYYYMMDD HH:MM:SS" in UTC.
std::string FormatTime(long long epochSeconds);
// False unless `text` is exactly that form with a real date and time.
bool ParseTime(const std::string& text, long long& epochSeconds);

}  // namespace sandbox

#endif
