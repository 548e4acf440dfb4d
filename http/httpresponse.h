/*
 * httpresponse.h - the checks of a host's response and of a proxy's answer to CONNECT.
 */
#ifndef HTTPRESPONSE_H
#define HTTPRESPONSE_H

#include <cstddef>

/* Named bounds of what a peer may send. */
enum : size_t
{
  kHttpMaxBody = 16u * 1024 * 1024,                 /* largest response body accepted */
  kHttpMaxHeader = 64u * 1024,                      /* room for the status line and headers */
  kHttpMaxResponse = kHttpMaxBody + kHttpMaxHeader, /* most bytes one response may hold */
  kHttpMaxProxyAnswer = 16u * 1024,                 /* largest proxy answer to CONNECT */
};

/* Why a host's or a proxy's answer was refused. */
enum class TBX_AnswerFault
{
  kNone,
  kNotHttp,          /* does not begin with "HTTP/1." */
  kNoSpace,          /* no space after the version */
  kBadStatus,        /* no three-digit status */
  kNotOk,            /* a status other than 200 */
  kNoBlankLine,      /* the headers never end */
  kBadContentLength, /* a Content-Length that is malformed or given twice differently */
  kShortBody,        /* the body ends before its Content-Length */
  kBodyTooLong,      /* the body is larger than kHttpMaxBody */
};

/*
 * The response checks of the session, on `len` bytes at `text` (only the text before the first
 * zero byte counts). Returns 0 and sets `*status`, `*bodyOffset` and `*bodyLen`, or the failure
 * code: TBX_E_HTTP_BAD_RESPONSE for a malformed response or a body over kHttpMaxBody,
 * 0x80042000 OR the status for a status other than 200. On a failure `*fault`, when given, gets
 * the reason.
 */
long ParseHttpResponse(const char* text, size_t len, int* status, size_t* bodyOffset,
                       size_t* bodyLen, TBX_AnswerFault* fault = nullptr);
/* What a host's answer in `len` bytes at `text` says its own length is: the bytes up to its blank
 * line plus its Content-Length. kAnswerHeadOpen while the status line and headers are not yet
 * complete; kAnswerUntilClose when the answer is not HTTP or announces no usable length, so that
 * only the peer's close ends it. */
enum : long long
{
  kAnswerHeadOpen = -1,
  kAnswerUntilClose = -2,
};
long long AnnouncedAnswerSize(const char* text, size_t len);

/*
 * The checks of a proxy's answer to CONNECT. Returns 0 for status 200, else
 * TBX_E_HTTP_BAD_RESPONSE or 0x80042000 OR the status; `*status` gets the status read (0 if
 * none), and on a failure `*fault`, when given, the reason.
 */
long ParseProxyAnswer(const char* text, size_t len, int* status, TBX_AnswerFault* fault = nullptr);

#endif /* HTTPRESPONSE_H */
