/*
 * httptls.h - the TLS client connection.
 */
#ifndef HTTPTLS_H
#define HTTPTLS_H

#include <openssl/types.h>

#include "httpsocket.h"

/*
 * A TLS client connection. The certificate chain is verified against `caFile` (PEM) or, when
 * that is empty, the system trust store, and the certificate must name `host` (as a DNS name,
 * or as an IP address for an address literal); SNI carries a host name. `verify` false skips
 * both checks. Everything it does, handshake included, ends `timeout` seconds (0: no limit)
 * after it is made, or by `deadline`.
 */
class SslConnection : public TBX_SocketConnection
{
public:
  SslConnection(const MvString& host, bool verify, const MvString& caFile, long timeout = 0);
  SslConnection(const MvString& host, bool verify, const MvString& caFile,
                const TBX_Deadline& deadline);
  ~SslConnection() override;
  int Disconnect() override;
  int Read(MvStringStream& stream) override;
  int Write(MvStringStream& stream) override;
  /* A time-out gives TBX_E_CONNECTION_TIMEOUT; with a TLS session, 0x80044000 OR the
   * SSL_get_error value of the failed call; without one, LastSocketError(). */
  int LastError() override;
  int Setup() override;
  MvString LastErrorText() override;

private:
  friend struct TBX_SslBio;
  void NoteSslFailure(int ret);

  SSL_CTX* m_Ctx;
  SSL* m_Ssl;
  int m_SslError;    /* SSL_get_error of the last failed call, 0 when none */
  bool m_PeerClosed; /* the socket reached its end (a receive answered 0) */
  bool m_Verify;
  MvString m_Host;
  MvString m_CaFile;
  MvString m_ErrorText;
};

#endif /* HTTPTLS_H */
