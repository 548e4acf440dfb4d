/*
 * tbxhttp.h - the HTTP/1.0 session that fetches one URL: the transport as the rest of the
 * component sees it.
 */
#ifndef TBXHTTP_H
#define TBXHTTP_H

#include <memory>

#include "httpsocket.h"
#include "mvstring.h"
#include "spliturl.h"

/*
 * One HTTP/1.0 GET of one URL. The steps run in order, each once; a step called out of order
 * raises 0x80042023. The session keeps a reference to `url`, which must outlive it. The URL's
 * time-out bounds the whole exchange from the session's start: connect, the proxy's tunnel, the
 * TLS handshake, the send and the whole answer.
 */
class TBX_HttpSession
{
public:
  explicit TBX_HttpSession(const URL_INFO& url);
  virtual ~TBX_HttpSession();

  void ConnectNetwork();
  void ProxyConnect();
  void BuildRequest();
  void SendRequest();
  void ReceiveResponse();
  /* Checks the status and appends the body to `out`; `out` is untouched on failure. */
  void ExtractResponse(MvStringStream& out);

  static const char m_UserAgent[];

private:
  /* The steps done so far; each step needs the one before it. */
  enum class State
  {
    kNew,
    kConnected,
    kRequestBuilt,
    kRequestSent,
    kResponseReceived
  };

  TBX_HttpSession(const TBX_HttpSession&) = delete;
  TBX_HttpSession& operator=(const TBX_HttpSession&) = delete;
  /* Raises 0x80042023 naming `step` unless the session is in state `needed`. */
  void Expect(State needed, const char* step, long site) const;

  State m_State;
  const URL_INFO& m_Url;
  TBX_Deadline m_Deadline;
  std::unique_ptr<TBX_Connection> m_Connection;
  MvStringStream m_Request;
  MvStringStream m_Response;
};

/* Fetches `url` and appends the response body to `out`; throws TBX_Exception on any failure,
 * leaving `out` untouched. */
void HttpSession(const URL_INFO& url, MvStringStream& out);

/* Appends a GET request text for `url` with a Basic authorization of `user` and `password`
 * (null counts as empty) to `out`; sends nothing. */
void HttpRequest(const char* url, const char* user, const char* password, MvStringStream* out);

#endif /* TBXHTTP_H */
