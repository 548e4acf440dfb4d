// Splits arbitrary bytes as a URL and checks what a split may never yield.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "spliturl.h"
#include "tbxhttp.h"

namespace {

bool Clean(const MvString& s)
{
  for (unsigned i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s.c_str()[i]);
    if (c < 0x20 || c == 0x7F)
      return false;
  }
  return true;
}

bool Same(const MvString& a, const char* b)
{
  return a == b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size > 4096)
    return 0;
  MvString url(reinterpret_cast<const char*>(data), static_cast<unsigned>(size));
  URL_INFO info;
  info.m_Host = "sentinel-host";
  info.m_Port = "1";
  info.m_Path = "/sentinel";
  const bool ok = SplitUrl(url, info);
  if (!ok) {
    // A refused URL leaves the record as it was.
    if (!Same(info.m_Host, "sentinel-host") || !Same(info.m_Port, "1") ||
        !Same(info.m_Path, "/sentinel") || !info.m_Scheme.empty())
      abort();
    return 0;
  }
  // Nothing that reaches a request line may carry a control character.
  if (!Clean(info.m_Host) || !Clean(info.m_Port) || !Clean(info.m_Path))
    abort();
  if (!Same(info.m_Path, "/sentinel") && !info.m_Path.empty() && info.m_Path.c_str()[0] != '/')
    abort();
  // The request text of the split URL is well formed.
  MvStringStream request;
  HttpRequest(info.m_Path.c_str(), info.m_User.c_str(), info.m_Password.c_str(), &request);
  return 0;
}
