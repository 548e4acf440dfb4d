/*
 * tbxexchange.h - the exchanges with the host, as set-up, capture and general requests all run
 * them: the request element as text, signed under a merchant key or not, sent as the query of one
 * GET of the endpoint ("?DATA=" + the encoded text [+ "&SIGNATURE=" + the signature]); the
 * answer parsed and checked before anyone uses it.
 *
 * The credentials of the requests (the context's options "UserName" and "Password") are kept
 * here as data and handed to the transport, which puts them in the Authorization header only:
 * no URL text holds them, so no message that shows a URL can.
 */
#ifndef TBXEXCHANGE_H
#define TBXEXCHANGE_H

#include "mvstring.h"
#include "tbxkeys.h"
#include "tbxstore.h"
#include "xmlElement.h"

class TBX_HostExchange
{
public:
  TBX_HostExchange(TBX_Store& store, TBX_Keys& keys) : m_Store(store), m_Keys(keys) {}
  TBX_HostExchange(const TBX_HostExchange&) = delete;
  /* Takes the other's credentials; stays bound to its own store and keys. */
  TBX_HostExchange& operator=(const TBX_HostExchange& other)
  {
    m_UserName = other.m_UserName;
    m_Password = other.m_Password;
    return *this;
  }

  /* The credentials of every request: when either is set they replace any the endpoint's URL
   * carries; when both are empty the URL's own are sent. */
  void SetUserName(const MvString& user) { m_UserName = user; }
  void SetPassword(const MvString& password) { m_Password = password; }

  /*
   * Sends `request` to `endpoint`, signed with keys/private/<*keyId> (unsigned when `keyId` is
   * null; an empty identifier is refused by the signing), and hands out the host's answer:
   * `response` its TBX element, `answerText` (when not null) the text exactly as received. The
   * answer must have MSGTYPE `expected`: "Error" raises 0x80040213 with the host's MESSAGE,
   * another type 0x80040208, text that is not XML with a TBX element 0x80040204. An endpoint
   * that is not an http(s) URL raises 0x80040206 naming `setting`, the configuration value it
   * came from. Failures of signing and of the transport propagate; `response` and `answerText`
   * are written only on success.
   */
  void Send(const MvString& endpoint, const char* setting, xmlElement* request,
            const MvString* keyId, const MvString& expected, xmlElementPtr& response,
            MvString* answerText = nullptr);

  /*
   * `url` := endpoint, "?DATA=", the request text percent-encoded as TBX_Keys::Encode does and,
   * when `signature` is not empty, "&SIGNATURE=" and the signature. 0x80040206 when the endpoint is
   * not an http:// or https:// URL (anything else would be read as a local file); the message names
   * `setting`, the configuration value the endpoint came from, when given.
   */
  static void RequestToURL(const MvString& endpoint, MvStringStream& request, MvString signature,
                           MvString& url, const char* setting = nullptr);

private:
  TBX_Store& m_Store;
  TBX_Keys& m_Keys;
  MvString m_UserName; /* option "UserName" */
  MvString m_Password; /* option "Password" */
};

#endif /* TBXEXCHANGE_H */
