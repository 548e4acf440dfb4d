// Runs the response checks (status line, blank line, Content-Length, body) and the proxy-answer
// checks on arbitrary bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "httpresponse.h"
#include "tbxapp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  const char* text = reinterpret_cast<const char*>(data);
  int status = -1;
  size_t offset = 0, length = 0;
  long rc = ParseHttpResponse(text, size, &status, &offset, &length);
  const size_t n = strnlen(text, size);
  if (rc == 0) {
    // A Content-Length may end the body early, never late; only HTTP/1 answers pass.
    if (status != 200 || offset > n || length > n - offset || length > kHttpMaxBody || n < 7 ||
        std::memcmp(text, "HTTP/1.", 7) != 0)
      abort();
    if (offset < 4 || std::memcmp(text + offset - 4, "\r\n\r\n", 4) != 0)
      abort();
  } else if (rc != TBX_E_HTTP_BAD_RESPONSE) {
    // Any other failure is an HTTP status of three digits, inside its family.
    unsigned long u = static_cast<unsigned long>(rc) & 0xFFFFFFFFul;
    if (u < (TBX_E_HTTP_STATUS_BASE | 100u) || u > (TBX_E_HTTP_STATUS_BASE | 999u) ||
        static_cast<int>(u & 0xFFFu) != status || status == 200)
      abort();
  }

  int proxyStatus = -1;
  long prc = ParseProxyAnswer(text, size, &proxyStatus);
  if (prc == 0 && proxyStatus != 200)
    abort();
  if (prc != 0 && prc != TBX_E_HTTP_BAD_RESPONSE) {
    unsigned long u = static_cast<unsigned long>(prc) & 0xFFFFFFFFul;
    if (u < (TBX_E_HTTP_STATUS_BASE | 100u) || u > (TBX_E_HTTP_STATUS_BASE | 999u))
      abort();
  }
  return 0;
}
