// The exchanges with the host: request text, signature, request URL, fetch, answer checked.
#include "tbxexchange.h"

#include "mvbytes.h"
#include "spliturl.h"
#include "tbxctx_sites.h"
#include "tbxerr.h"
#include "tbxurl.h"
#include "tbxutil.h"
#include "tbxxml.h"

void TBX_HostExchange::RequestToURL(const MvString& endpoint, MvStringStream& request,
                                    MvString signature, MvString& url, const char* setting)
{
  // MvString::find_first_of finds the whole text "://", not the first of its characters. Any
  // other scheme would be read as a local file named after the whole request.
  const unsigned mark = endpoint.empty() ? MvString::npos : endpoint.find_first_of("://");
  if (mark == MvString::npos || mark == 0 || !IsHttp(endpoint))
    TBX_THROW(TBX_E_INVALID_URL,
              (setting != nullptr ? MvString(setting) + " " : MvString("the endpoint ")) +
                  TBX_Quote(endpoint) + " is not a URL: it must begin with http:// or https://",
              kUnit, kSiteRequestUrl);
  // The credentials stay out of the text: they travel to the Authorization header as data
  // (Send), so no URL shown anywhere can hold them.
  MvString result = endpoint;
  result += "?DATA=";
  result += MvPercentEncode(request.str().c_str(), request.str().size(), MvPercentKeep::kAlnum);
  if (!signature.empty()) {
    result += "&SIGNATURE=";
    result += signature;
  }
  url = result;
}

void TBX_HostExchange::Send(const MvString& endpoint, const char* setting, xmlElement* request,
                            const MvString* keyId, const MvString& expected,
                            xmlElementPtr& response, MvString* answerText)
{
  MvStringStream text;
  request->toStream(text);
  MvString signature;
  if (keyId != nullptr)
    m_Keys.SignData(text.str(), *keyId, signature);
  MvString url;
  RequestToURL(endpoint, text, signature, url, setting);

  URL_INFO info;
  TBX_SplitLocation(url, info);
  // The options' credentials replace those the endpoint's URL carries; without options, the
  // URL's own are sent.
  if (!m_UserName.empty() || !m_Password.empty()) {
    info.m_User = m_UserName;
    info.m_Password = m_Password;
  }
  MvStringStream answer;
  m_Store.Fetch(info, answer);
  const MvString received = answerText != nullptr ? answer.str() : MvString();
  xmlElementPtr parsed;
  TBX_CheckAnswer(answer, expected, url, parsed.receive());
  if (answerText != nullptr)
    *answerText = received;
  response = parsed;
}
