/*
 * httpproxy.cpp - CONNECT through a proxy, and the hand-over of its socket to TLS.
 */
#include "httpproxy.h"

#include <cstring>

#include "httpfailure.h"
#include "httpresponse.h"
#include "httptls.h"
#include "tbxerr.h"
#include "tbxhttp.h"
#include "tbxhttp_sites.h"
#include "tbxtrace.h"

namespace {

/* Reads up to the answer's blank line, however the proxy splits it; nothing more arrives
 * before our TLS hello, so no tunnel byte is taken. */
MvString ReadProxyAnswer(TBX_Connection& plain, const URL_INFO& url)
{
  MvStringStream answer;
  for (;;) {
    unsigned before = answer.str().size();
    int n = plain.Read(answer);
    if (n < 0) {
      const long code = plain.LastError();
      TBX_THROW(code,
                Told(url, "failed to receive the proxy's answer to CONNECT",
                     NetworkHint(code, url, true)),
                kUnit, kSiteProxyRead);
    }
    if (n == 0)
      break;
    const MvString& text = answer.str();
    unsigned from = before > 3 ? before - 3 : 0;
    if (memmem(text.c_str() + from, text.size() - from, "\r\n\r\n", 4) != nullptr)
      break;
    if (text.size() > kHttpMaxProxyAnswer)
      TBX_THROW(TBX_E_HTTP_BAD_RESPONSE,
                Told(url, "the proxy's answer to CONNECT is too long",
                     "check PROXYHOST and PROXYPORT in settings.xml"),
                kUnit, kSiteProxyTooLong);
  }
  return answer.str();
}

}  // namespace

std::unique_ptr<TBX_Connection> OpenProxyTunnel(TBX_Connection& plain, const URL_INFO& url,
                                                const TBX_Deadline& deadline)
{
  TBX_TraceLog::Write(kUnit, kSiteHttpConnect, 0, MvString("HTTP CONNECT"), MvString());

  MvStringStream request;
  request << "CONNECT " << HostForUri(url.m_Host) << ":" << url.m_Port << " HTTP/1.0\r\n"
          << "Pragma: no-cache\r\n"
          << "UserAgent: " << TBX_HttpSession::m_UserAgent << "\r\n"
          << "\r\n";
  if (plain.Write(request) < 0) {
    const long code = plain.LastError();
    TBX_THROW(code, Told(url, "failed to send CONNECT to the proxy", NetworkHint(code, url, true)),
              kUnit, kSiteProxyWrite);
  }

  const MvString text = ReadProxyAnswer(plain, url);
  // Required output: the proxy's answer goes to standard error, every time.
  TBX_WriteStdStream(TBX_StdStream::Err,
                     "Proxy response:\n" +
                         std::string(text.c_str() != nullptr ? text.c_str() : "") + "\n");
  int status = 0;
  TBX_AnswerFault fault = TBX_AnswerFault::kNone;
  long rc = ParseProxyAnswer(text.c_str(), text.size(), &status, &fault);
  if (rc != 0)
    TBX_THROW(rc,
              fault == TBX_AnswerFault::kNotOk
                  ? Told(url, "the proxy answered CONNECT with " + StatusText(text),
                         "check that the proxy lets tunnels through to " +
                             HostPort(url.m_Host, url.m_Port))
                  : Told(url, "the proxy's answer to CONNECT is not HTTP",
                         "check PROXYHOST and PROXYPORT in settings.xml"),
              kUnit, ProxyAnswerSite(fault));

  std::unique_ptr<TBX_Connection> tls(
      new SslConnection(url.m_Host, url.m_SslVerify, url.m_SslCaFile, deadline));
  tls->Attach(plain.Detach());
  return tls;
}
