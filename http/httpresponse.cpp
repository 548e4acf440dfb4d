/*
 * httpresponse.cpp - reading status lines and headers of what a host or a proxy answered.
 */
#include "httpresponse.h"

#include <cstring>
#include <strings.h>

#include "tbxcodes.h"

namespace {

int HttpStatusCode(int status)
{
  return static_cast<int>(TBX_E_HTTP_STATUS_BASE | static_cast<unsigned>(status));
}

const char* FindBytes(const char* hay, size_t n, const char* needle, size_t m)
{
  return static_cast<const char*>(memmem(hay, n, needle, m));
}

bool IsSpaceOrTab(char c)
{
  return c == ' ' || c == '\t';
}

/* Exactly three digits, not followed by a fourth, valued 100 to 999; else 0. */
int ReadStatus(const char* p, const char* end)
{
  int value = 0;
  for (int i = 0; i < 3; ++i) {
    if (p + i >= end || p[i] < '0' || p[i] > '9')
      return 0;
    value = value * 10 + (p[i] - '0');
  }
  if (p + 3 < end && p[3] >= '0' && p[3] <= '9')
    return 0;
  return value >= 100 ? value : 0;
}

/*
 * The value of the Content-Length header among the header lines [from, to): -1 when there is
 * none, -2 when it is not a decimal number or two of them disagree.
 */
long long ContentLength(const char* from, const char* to)
{
  static const char kName[] = "content-length:";
  const size_t nameLength = sizeof kName - 1;
  long long found = -1;
  for (const char* line = from; line < to;) {
    const char* eol = FindBytes(line, to - line, "\r\n", 2);
    if (eol == nullptr)
      eol = to;
    if (static_cast<size_t>(eol - line) >= nameLength &&
        strncasecmp(line, kName, nameLength) == 0) {
      const char* p = line + nameLength;
      while (p < eol && IsSpaceOrTab(*p))
        ++p;
      long long value = 0;
      const char* digits = p;
      while (p < eol && *p >= '0' && *p <= '9' && value <= static_cast<long long>(kHttpMaxResponse))
        value = value * 10 + (*p++ - '0');
      while (p < eol && IsSpaceOrTab(*p))
        ++p;
      if (p == digits || p != eol || (found >= 0 && found != value))
        return -2;
      found = value;
    }
    line = eol + 2;
  }
  return found;
}

/* A failure for `reason`, noted when the caller asked for it. */
long Failed(long code, TBX_AnswerFault* fault, TBX_AnswerFault reason)
{
  if (fault != nullptr)
    *fault = reason;
  return code;
}

/* The status line's rule, shared by hosts and proxies: "HTTP/1." first, then after the first space
 * a status of three digits (proxies may put more blanks before it). Returns 0 and sets
 * `*status`, or the failure with its reason. */
long ReadStatusLine(const char* text, size_t n, bool moreBlanks, int* status,
                    TBX_AnswerFault* fault)
{
  if (n < 7 || std::memcmp(text, "HTTP/1.", 7) != 0)
    return Failed(TBX_E_HTTP_BAD_RESPONSE, fault, TBX_AnswerFault::kNotHttp);
  const char* p = static_cast<const char*>(std::memchr(text, ' ', n));
  if (p == nullptr)
    return Failed(TBX_E_HTTP_BAD_RESPONSE, fault, TBX_AnswerFault::kNoSpace);
  ++p;
  while (moreBlanks && p < text + n && IsSpaceOrTab(*p))
    ++p;
  *status = ReadStatus(p, text + n);
  if (*status == 0)
    return Failed(TBX_E_HTTP_BAD_RESPONSE, fault, TBX_AnswerFault::kBadStatus);
  return 0;
}

}  // namespace

long long AnnouncedAnswerSize(const char* text, size_t len)
{
  const size_t head = len < kHttpMaxHeader ? len : kHttpMaxHeader;
  const char* blank = text != nullptr ? FindBytes(text, head, "\r\n\r\n", 4) : nullptr;
  if (blank == nullptr)
    return len < kHttpMaxHeader ? kAnswerHeadOpen : kAnswerUntilClose;
  const char* headers = static_cast<const char*>(std::memchr(text, '\n', len)) + 1;
  if (len < 7 || std::memcmp(text, "HTTP/1.", 7) != 0 || headers > blank)
    return kAnswerUntilClose;
  const long long announced = ContentLength(headers, blank + 2);
  if (announced < 0)
    return kAnswerUntilClose;
  return static_cast<long long>(blank + 4 - text) + announced;
}

long ParseHttpResponse(const char* text, size_t len, int* status, size_t* bodyOffset,
                       size_t* bodyLen, TBX_AnswerFault* fault)
{
  *status = 0;
  *bodyOffset = 0;
  *bodyLen = 0;
  const size_t n = text != nullptr ? strnlen(text, len) : 0;
  const char* end = text + n;
  // Whatever else a peer sends (another protocol, an error page of a TLS port) is not an answer.
  const long rc = ReadStatusLine(text, n, false, status, fault);
  if (rc != 0)
    return rc;
  const char* space = static_cast<const char*>(std::memchr(text, ' ', n));
  if (*status != 200)
    return Failed(HttpStatusCode(*status), fault, TBX_AnswerFault::kNotOk);
  const char* blank = FindBytes(space, static_cast<size_t>(end - space), "\r\n\r\n", 4);
  if (blank == nullptr)
    return Failed(TBX_E_HTTP_BAD_RESPONSE, fault, TBX_AnswerFault::kNoBlankLine);
  size_t off = static_cast<size_t>(blank + 4 - text);
  size_t body = n - off;
  // A connection that ends before the announced length was cut: a part of an answer is not an
  // answer. Bytes beyond it are not part of the answer either.
  const char* headers = static_cast<const char*>(std::memchr(text, '\n', n)) + 1;
  const long long announced = headers <= blank ? ContentLength(headers, blank + 2) : -1;
  if (announced == -2)
    return Failed(TBX_E_HTTP_BAD_RESPONSE, fault, TBX_AnswerFault::kBadContentLength);
  if (announced >= 0) {
    if (len - off < static_cast<unsigned long long>(announced))
      return Failed(TBX_E_HTTP_BAD_RESPONSE, fault, TBX_AnswerFault::kShortBody);
    if (body > static_cast<unsigned long long>(announced))
      body = static_cast<size_t>(announced);
  }
  if (body > kHttpMaxBody)
    return Failed(TBX_E_HTTP_BAD_RESPONSE, fault, TBX_AnswerFault::kBodyTooLong);
  *bodyOffset = off;
  *bodyLen = body;
  return 0;
}

long ParseProxyAnswer(const char* text, size_t len, int* status, TBX_AnswerFault* fault)
{
  *status = 0;
  const size_t n = text != nullptr ? strnlen(text, len) : 0;
  const long rc = ReadStatusLine(text, n, true, status, fault);
  if (rc != 0)
    return rc;
  if (*status != 200)
    return Failed(HttpStatusCode(*status), fault, TBX_AnswerFault::kNotOk);
  /* The tunnel starts after the answer's blank line; without it the answer is cut short. */
  if (FindBytes(text, n, "\r\n\r\n", 4) == nullptr)
    return Failed(TBX_E_HTTP_BAD_RESPONSE, fault, TBX_AnswerFault::kNoBlankLine);
  return 0;
}
