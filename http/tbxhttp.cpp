/*
 * tbxhttp.cpp - the HTTP/1.0 session: one connection and one GET read until the server closes.
 */
#include "tbxhttp.h"

#include <cstring>
#include <string>

#include "httpencode.h"
#include "httpfailure.h"
#include "httpproxy.h"
#include "httpresolve.h"
#include "httpresponse.h"
#include "httpsocket.h"
#include "httptls.h"
#include "tbxerr.h"
#include "tbxhttp_sites.h"
#include "tbxrequest.h"
#include "tbxtrace.h"

const char TBX_HttpSession::m_UserAgent[] = "Kestrum Application Component 1.0";

namespace {

bool TraceHas(const URL_INFO& url, const char* word)
{
  const char* t = url.m_TraceOptions.c_str();
  return t != nullptr && std::strstr(t, word) != nullptr;
}

/* Required output: with "rawhttp" in TRACEOPT, the request and the response go to standard
 * output. */
void PrintRaw(const URL_INFO& url, const MvString& text)
{
  if (TraceHas(url, "rawhttp")) {
    // Up to the first zero byte, as it has always been printed.
    TBX_WriteStdStream(TBX_StdStream::Out,
                       "\n" + std::string(text.c_str() != nullptr ? text.c_str() : "") + "\n\n");
  }
}

/* The request as the raw trace shows it: the Authorization header's value (the Base64 of the
 * user name and password) hidden, the rest as sent. */
MvString WithoutCredentials(const MvString& request)
{
  static const char kHeader[] = "\r\nAuthorization:";
  const std::string text(request.c_str() != nullptr ? request.c_str() : "", request.size());
  const size_t at = text.find(kHeader);
  if (at == std::string::npos)
    return request;
  const size_t value = at + sizeof kHeader - 1;
  const std::string shown =
      text.substr(0, value) + " [redacted]" + text.substr(text.find("\r\n", value));
  return MvString(shown.c_str(), static_cast<unsigned>(shown.size()));
}

/* Resolves the host or proxy the fetch goes to; `which` names it in the message. */
void Resolve(const URL_INFO& url, const MvString& host, const MvString& port, const char* which,
             const char* hint, long site, TBX_HostAddr* addr)
{
  long rc = MakeHostAddr(host, port, addr);
  if (rc != 0)
    TBX_THROW(rc,
              Told(url,
                   MvString("the ") + which +
                       " address is invalid or could not be "
                       "resolved: '" +
                       ShownHost(host) + "'",
                   hint),
              kUnit, site);
}

[[noreturn]] void UnknownScheme(const URL_INFO& url, long site)
{
  TBX_THROW(TBX_E_HTTP_UNKNOWN_SCHEME,
            Told(url, "the protocol type of the URL is unknown", "use http or https"), kUnit, site);
}

/* Appends the Base64 form of "user:password". */
void AppendBasicCredentials(MvStringStream& out, const MvString& user, const MvString& password)
{
  MvStringStream credentials;
  credentials << user << ":" << password;
  Base64Encode(credentials, out);
}

/* The message of a response that ExtractResponse refused for `fault`. */
MvString ResponseFailure(const URL_INFO& url, TBX_AnswerFault fault, int status,
                         const MvString& text)
{
  /* A TLS port answers a plain request with an alert, or closes. */
  const MvString schemeHint(url.m_Scheme == "http" ? "is the scheme https?" : "");
  switch (fault) {
  case TBX_AnswerFault::kNotOk:
    return Told(url, "the host answered " + StatusText(text) + StatusMeaning(status),
                StatusHint(status));
  case TBX_AnswerFault::kNotHttp:
    if (text.empty())
      return Told(url,
                  "the host closed the connection without an answer; the request was sent, so its "
                  "outcome at the host is unknown",
                  schemeHint);
    return Told(url, "the answer does not begin with HTTP/1.", schemeHint);
  case TBX_AnswerFault::kShortBody:
    return Told(url, "the answer ended before its Content-Length");
  case TBX_AnswerFault::kBadContentLength:
    return Told(url, "the answer's Content-Length is malformed");
  case TBX_AnswerFault::kBodyTooLong:
    return Told(url, "the answer's body is larger than 16 MiB");
  default:
    return Told(url, "the answer's status line or headers are malformed");
  }
}

}  // namespace

TBX_HttpSession::TBX_HttpSession(const URL_INFO& url)
    : m_State(State::kNew), m_Url(url), m_Deadline(url.m_Timeout)
{}

TBX_HttpSession::~TBX_HttpSession()
{
  if (m_Connection != nullptr)
    m_Connection->Disconnect();
}

void TBX_HttpSession::Expect(State needed, const char* step, long site) const
{
  if (m_State != needed)
    TBX_THROW(TBX_E_HTTP_BAD_STATE, MvString("invalid session state during ") + step, kUnit, site);
}

void TBX_HttpSession::ConnectNetwork()
{
  Expect(State::kNew, "ConnectNetwork", kSiteConnectState);

  TBX_HostAddr addr;
  bool tunnel = false;
  const bool https = m_Url.m_Scheme == "https";
  const bool http = m_Url.m_Scheme == "http";
  const bool toProxy = !m_Url.m_ProxyHost.empty();
  if (toProxy) {
    Resolve(m_Url, m_Url.m_ProxyHost, m_Url.m_ProxyPort, "proxy", "check PROXYHOST in settings.xml",
            kSiteProxyAddress, &addr);
    TBX_TraceLog::Write(kUnit, kSiteUseProxy, 0, MvString("USE PROXY"),
                        HostForUri(ShownHost(m_Url.m_ProxyHost)) + ":" + m_Url.m_ProxyPort);
    if (!https && !http)
      UnknownScheme(m_Url, kSiteProxyScheme);
    m_Connection.reset(new SockConnection(m_Deadline));
    tunnel = https;
  } else {
    Resolve(m_Url, m_Url.m_Host, m_Url.m_Port, "host", "check the host name in the URL",
            kSiteHostAddress, &addr);
    if (https)
      m_Connection.reset(
          new SslConnection(m_Url.m_Host, m_Url.m_SslVerify, m_Url.m_SslCaFile, m_Deadline));
    else if (http)
      m_Connection.reset(new SockConnection(m_Deadline));
    else
      UnknownScheme(m_Url, kSiteDirectScheme);
  }

  /* Each address in turn; the first failure is the one reported. */
  int first = 0;
  int rc = -1;
  for (int i = 0; i < addr.m_Count && rc != 0; ++i) {
    rc = m_Connection->Connect(reinterpret_cast<const struct sockaddr*>(&addr.m_Addr[i]));
    if (rc != 0 && first == 0)
      first = rc;
  }
  if (rc != 0) {
    const long code = first != 0 ? first : TBX_E_DNS_LOOKUP;
    const MvString what =
        toProxy ? "failed to connect to the proxy " + HostPort(m_Url.m_ProxyHost, m_Url.m_ProxyPort)
                : "failed to connect to host " + HostPort(m_Url.m_Host, m_Url.m_Port);
    TBX_THROW(code, Told(m_Url, what, NetworkHint(code, m_Url, toProxy)), kUnit, kSiteConnect);
  }

  if (tunnel)
    ProxyConnect();

  rc = m_Connection->Setup();
  if (rc != 0) {
    MvString message("failed to setup protocol");
    MvString detail = m_Connection->LastErrorText();
    if (!detail.empty())
      message += MvString(": ") + detail;
    TBX_THROW(rc, Told(m_Url, message, TlsHint(rc, detail, m_Url)), kUnit, kSiteSetup);
  }
  m_State = State::kConnected;
}

void TBX_HttpSession::ProxyConnect()
{
  m_Connection = OpenProxyTunnel(*m_Connection, m_Url, m_Deadline);
}

void TBX_HttpSession::BuildRequest()
{
  Expect(State::kConnected, "BuildRequest", kSiteBuildState);

  m_Request << "GET ";
  if (!m_Url.m_ProxyHost.empty() && m_Url.m_Scheme != "https")
    m_Request << m_Url.m_Scheme << "://" << HostForUri(m_Url.m_Host) << ":" << m_Url.m_Port;
  m_Request << m_Url.m_Path << " HTTP/1.0\r\n";
  m_Request << "Authorization: Basic ";
  AppendBasicCredentials(m_Request, m_Url.m_User, m_Url.m_Password);
  m_Request << "\r\n";
  m_Request << "UserAgent: " << m_UserAgent << "\r\n";
  m_Request << "\r\n";
  m_State = State::kRequestBuilt;
  PrintRaw(m_Url, WithoutCredentials(m_Request.str()));
}

void TBX_HttpSession::SendRequest()
{
  Expect(State::kRequestBuilt, "SendRequest", kSiteSendState);
  if (m_Connection->Write(m_Request) < 0) {
    const long code = m_Connection->LastError();
    TBX_THROW(code, Told(m_Url, "failed to write to host", NetworkHint(code, m_Url, false)), kUnit,
              kSiteSendWrite);
  }
  m_State = State::kRequestSent;
  TBX_RequestWritten();
}

void TBX_HttpSession::ReceiveResponse()
{
  Expect(State::kRequestSent, "ReceiveResponse", kSiteReceiveState);
  long long announced = kAnswerHeadOpen;
  for (;;) {
    int n = m_Connection->Read(m_Response);
    if (n < 0) {
      /* The request went out whole: whatever it asked for (a capture) may have been done. */
      const long code = m_Connection->LastError();
      TBX_THROW(code,
                Told(m_Url,
                     "failed to receive from host; the request was sent, so its outcome at "
                     "the host is unknown",
                     NetworkHint(code, m_Url, false)),
                kUnit, kSiteReceiveRead);
    }
    if (n == 0)
      break;
    const MvString& text = m_Response.str();
    if (text.size() > kHttpMaxResponse)
      TBX_THROW(TBX_E_HTTP_BAD_RESPONSE, Told(m_Url, "the response is larger than 16 MiB"), kUnit,
                kSiteReceiveTooLong);
    // A host may keep the connection open after a whole answer: its announced length ends it.
    if (announced == kAnswerHeadOpen)
      announced = AnnouncedAnswerSize(text.c_str(), text.size());
    if (announced >= 0 && text.size() >= static_cast<unsigned long long>(announced))
      break;
  }
  m_State = State::kResponseReceived;
}

void TBX_HttpSession::ExtractResponse(MvStringStream& out)
{
  Expect(State::kResponseReceived, "ExtractResponse", kSiteExtractState);
  const MvString& text = m_Response.str();
  PrintRaw(m_Url, text);
  int status = 0;
  size_t offset = 0, length = 0;
  TBX_AnswerFault fault = TBX_AnswerFault::kNone;
  long rc = ParseHttpResponse(text.c_str(), text.size(), &status, &offset, &length, &fault);
  if (rc != 0)
    TBX_THROW(rc, ResponseFailure(m_Url, fault, status, text), kUnit, ResponseSite(fault));
  if (length > 0)
    out.write(text.c_str() + offset, static_cast<unsigned>(length));
}

void HttpSession(const URL_INFO& url, MvStringStream& out)
{
  TBX_RequestStarting();
  TBX_HttpSession session(url);
  TBX_TraceLog::Write(kUnit, kSiteUrlOpen, 0, MvString("URL OPEN"),
                      url.m_Scheme + "://" + HostForUri(url.m_Host) + ":" + url.m_Port);
  session.ConnectNetwork();
  session.BuildRequest();
  session.SendRequest();
  session.ReceiveResponse();
  session.ExtractResponse(out);
}

void HttpRequest(const char* url, const char* user, const char* password, MvStringStream* out)
{
  if (out == nullptr)
    return;
  *out << "GET " << (url != nullptr ? url : "") << " HTTP/1.0\r\nAuthorization: Basic ";
  AppendBasicCredentials(*out, MvString(user != nullptr ? user : ""),
                         MvString(password != nullptr ? password : ""));
  *out << "\r\n\r\n";
}
