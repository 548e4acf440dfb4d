// One exchange with the host: request text, signature, request URL, fetch, answer checked.
#include "tbxexchange.h"

#include "tbxctx.h"

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

  MvStringStream answer;
  context.StreamFromURL(url, answer);
  const MvString received = answerText != nullptr ? answer.str() : MvString();
  xmlElementPtr parsed;
  TBX_Context::CheckAnswer(answer, expected, url, parsed.receive());
  if (answerText != nullptr)
    *answerText = received;
  response = parsed;
}
