// Whatever a peer sends the sandbox host: request heads, query parameters, message texts,
// credentials and times. None may crash it, and a message that parses must write a text that parses
// back to it.
#include "sbcrypto.h"
#include "sbhost.h"
#include "sbhttp.h"
#include "sbxml.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  const std::string input(reinterpret_cast<const char*>(data), size);

  sandbox::HttpRequest req;
  if (sandbox::ParseRequestHead(input, req)) {
    std::string value;
    req.Param("DATA", value);
    req.Param("SIGNATURE", value);
    req.Header("authorization");
  }

  std::string decoded;
  sandbox::UrlDecode(input, decoded);
  sandbox::Base64Decode(input, decoded);
  sandbox::FromHex(input, decoded);
  long long t = 0;
  if (sandbox::ParseTime(input, t) && sandbox::FormatTime(t) != input)
    abort();

  sandbox::Message msg;
  std::string error;
  if (sandbox::Message::Parse(input, msg, error)) {
    sandbox::Message again;
    if (!sandbox::Message::Parse(msg.ToText(), again, error) ||
        again.Attributes() != msg.Attributes())
      abort();
  }
  return 0;
}
