// One exchange with the host: request text, signature, request URL, fetch, answer checked.
#include "tbxexchange.h"

#include "spliturl.h"
#include "tbxctx.h"
#include "tbxurl.h"

void TBX_Exchange(TBX_Context& context, const MvString& endpoint, const char* setting,
                  xmlElement* request, const MvString* keyId, const MvString& expected,
                  xmlElementPtr& response, MvString* answerText)
{
  MvStringStream text;
  request->toStream(text);
  MvString signature;
  if (keyId != nullptr)
    context.SignData(text.str(), *keyId, signature);
  MvString url;
  context.RequestToURL(endpoint, text, signature, url, setting);

  URL_INFO info;
  TBX_SplitLocation(url, info);
  // The options' credentials replace those the endpoint's URL carries; without options, the
  // URL's own are sent.
  if (!context.GetUserName().empty() || !context.GetPassword().empty()) {
    info.m_User = context.GetUserName();
    info.m_Password = context.GetPassword();
  }
  MvStringStream answer;
  context.Fetch(info, answer);
  const MvString received = answerText != nullptr ? answer.str() : MvString();
  xmlElementPtr parsed;
  TBX_Context::CheckAnswer(answer, expected, url, parsed.receive());
  if (answerText != nullptr)
    *answerText = received;
  response = parsed;
}
