/*
 * httptls.cpp - the TLS client connection over a socket BIO of our own.
 */
#include "httptls.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include "tbxerr.h"
#include "tbxhttp_sites.h"
#include "tbxtrace.h"

namespace {

int TlsErrorCode(int sslError)
{
  return static_cast<int>(TBX_E_TLS_BASE | (static_cast<unsigned>(sslError) & 0xFFFu));
}

bool IsIpLiteral(const char* host)
{
  unsigned char buf[sizeof(struct in6_addr)];
  return host != nullptr &&
         (inet_pton(AF_INET, host, buf) == 1 || inet_pton(AF_INET6, host, buf) == 1);
}

}  // namespace

/*
 * TLS traffic goes through a socket BIO of our own: OpenSSL's sends could raise SIGPIPE and its
 * blocking reads know no time-out. The BIO sends with MSG_NOSIGNAL and waits with poll().
 */
struct TBX_SslBio
{
  static int Write(BIO* bio, const char* data, int len)
  {
    SslConnection* c = static_cast<SslConnection*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    if (len <= 0)
      return 0;
    long n = c->SendBytes(data, static_cast<size_t>(len));
    return n < 0 ? -1 : static_cast<int>(n);
  }
  static int Read(BIO* bio, char* buf, int len)
  {
    SslConnection* c = static_cast<SslConnection*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    if (len <= 0)
      return 0;
    long n = c->ReceiveBytes(buf, static_cast<size_t>(len));
    if (n < 0)
      return -1;
    if (n == 0)
      c->m_PeerClosed = true;
    return static_cast<int>(n);
  }
  static long Ctrl(BIO* bio, int cmd, long, void*)
  {
    if (cmd == BIO_CTRL_FLUSH)
      return 1;
    /* OpenSSL asks this to tell a plain close from a failed read. */
    if (cmd == BIO_CTRL_EOF)
      return static_cast<SslConnection*>(BIO_get_data(bio))->m_PeerClosed ? 1 : 0;
    return 0;
  }
  static int Create(BIO* bio)
  {
    BIO_set_init(bio, 1);
    return 1;
  }
  static int Destroy(BIO*) { return 1; /* the descriptor belongs to the connection */ }
  /* Built once and never changed: a constant table in all but name. */
  static BIO_METHOD* Method()
  {
    static BIO_METHOD* const method = [] {
      BIO_METHOD* m = BIO_meth_new(BIO_TYPE_SOURCE_SINK | BIO_get_new_index(), "tbx socket");
      if (m != nullptr) {
        BIO_meth_set_write(m, Write);
        BIO_meth_set_read(m, Read);
        BIO_meth_set_ctrl(m, Ctrl);
        BIO_meth_set_create(m, Create);
        BIO_meth_set_destroy(m, Destroy);
      }
      return m;
    }();
    return method;
  }
};

SslConnection::SslConnection(const MvString& host, bool verify, const MvString& caFile,
                             long timeout)
    : SslConnection(host, verify, caFile, TBX_Deadline(timeout))
{}

SslConnection::SslConnection(const MvString& host, bool verify, const MvString& caFile,
                             const TBX_Deadline& deadline)
    : TBX_SocketConnection(deadline), m_Ctx(nullptr), m_Ssl(nullptr), m_SslError(0),
      m_PeerClosed(false), m_Verify(verify), m_Host(host), m_CaFile(caFile)
{
  OPENSSL_init_ssl(0, nullptr);
  m_Ctx = SSL_CTX_new(TLS_client_method());
  if (m_Ctx != nullptr)
    /* We read until the server closes; a close without close-notify ends the stream as a
     * plain close does. */
    SSL_CTX_set_options(m_Ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
}

SslConnection::~SslConnection()
{
  if (m_Ssl != nullptr)
    SSL_free(m_Ssl);
  if (m_Ctx != nullptr)
    SSL_CTX_free(m_Ctx);
}

void SslConnection::NoteSslFailure(int ret)
{
  m_LastResult = ret;
  m_SslError = m_Ssl != nullptr ? SSL_get_error(m_Ssl, ret) : SSL_ERROR_SSL;
  m_ErrorText.clear();
  if (m_Errno == ETIMEDOUT) {
    m_ErrorText = "timed out";
  } else {
    unsigned long e = ERR_peek_last_error();
    const char* reason = e != 0 ? ERR_reason_error_string(e) : nullptr;
    if (reason != nullptr)
      m_ErrorText = reason;
    long vr = m_Ssl != nullptr ? SSL_get_verify_result(m_Ssl) : X509_V_OK;
    if (vr != X509_V_OK) {
      if (!m_ErrorText.empty())
        m_ErrorText += ": ";
      m_ErrorText += X509_verify_cert_error_string(vr);
    }
    if (m_ErrorText.empty() && m_Errno != 0)
      m_ErrorText = std::strerror(m_Errno);
  }
  /* The error queue is per thread; leave nothing behind for other code on this thread. */
  ERR_clear_error();
}

int SslConnection::Setup()
{
  TBX_TraceLog::Write(kUnit, kSiteUseSsl, 0, MvString("USE SSL"), MvString());
  ERR_clear_error();
  m_Errno = 0;
  m_SslError = 0;
  m_ErrorText.clear();
  if (m_Ctx == nullptr) {
    NoteSslFailure(-1);
    m_ErrorText = MvString("cannot create a TLS context");
    return TlsErrorCode(m_SslError);
  }
  if (m_Verify) {
    if (!m_CaFile.empty()) {
      if (SSL_CTX_load_verify_locations(m_Ctx, m_CaFile.c_str(), nullptr) != 1) {
        NoteSslFailure(-1);
        m_ErrorText = MvString("cannot load the CA file ") + m_CaFile;
        return TlsErrorCode(m_SslError);
      }
    } else {
      SSL_CTX_set_default_verify_paths(m_Ctx);
    }
    SSL_CTX_set_verify(m_Ctx, SSL_VERIFY_PEER, nullptr);
  } else {
    SSL_CTX_set_verify(m_Ctx, SSL_VERIFY_NONE, nullptr);
  }

  if (m_Ssl != nullptr)
    SSL_free(m_Ssl);
  m_Ssl = SSL_new(m_Ctx);
  BIO* bio = BIO_new(TBX_SslBio::Method());
  if (m_Ssl == nullptr || bio == nullptr) {
    if (bio != nullptr)
      BIO_free(bio);
    NoteSslFailure(-1);
    return TlsErrorCode(m_SslError);
  }
  BIO_set_data(bio, this);
  m_PeerClosed = false;
  SSL_set_bio(m_Ssl, bio, bio);

  const char* host = m_Host.c_str() != nullptr ? m_Host.c_str() : "";
  bool ok = true;
  if (IsIpLiteral(host)) {
    /* No SNI for addresses; SSL_set1_host would compare the address with DNS names only. */
    if (m_Verify)
      ok = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(m_Ssl), host) == 1;
  } else {
    if (*host != '\0')
      ok = SSL_set_tlsext_host_name(m_Ssl, host) == 1;
    if (ok && m_Verify)
      ok = SSL_set1_host(m_Ssl, host) == 1;
  }
  if (!ok) {
    NoteSslFailure(-1);
    m_ErrorText = MvString("cannot set the host name to verify");
    return TlsErrorCode(m_SslError);
  }

  int ret = SSL_connect(m_Ssl);
  m_LastResult = ret;
  if (ret != 1) {
    NoteSslFailure(ret);
    // Required output: a failed handshake is announced on standard output.
    TBX_WriteStdStream(TBX_StdStream::Out, "SSL ERROR: connect failed\n");
    return LastError();
  }
  return 0;
}

int SslConnection::Disconnect()
{
  ShutdownSend();
  if (m_Ssl != nullptr) {
    SSL_free(m_Ssl);
    m_Ssl = nullptr;
  }
  return 0;
}

int SslConnection::Read(MvStringStream& stream)
{
  if (m_Ssl == nullptr) {
    m_Errno = ENOTCONN;
    m_LastResult = -1;
    return -1;
  }
  m_Errno = 0;
  ERR_clear_error();
  int n = SSL_read(m_Ssl, m_Buffer, static_cast<int>(kHttpReadChunk));
  if (n <= 0) {
    if (SSL_get_error(m_Ssl, n) == SSL_ERROR_ZERO_RETURN) {
      ERR_clear_error();
      m_LastResult = 0;
      return 0;
    }
    NoteSslFailure(n);
    return -1;
  }
  return Deliver(stream, n);
}

int SslConnection::Write(MvStringStream& stream)
{
  const MvString& text = stream.str();
  if (m_Ssl == nullptr) {
    m_Errno = ENOTCONN;
    m_LastResult = -1;
    return LastSocketError();
  }
  if (text.size() == 0) {
    m_LastResult = 0;
    return 0;
  }
  m_Errno = 0;
  ERR_clear_error();
  int n = SSL_write(m_Ssl, text.c_str(), static_cast<int>(text.size()));
  if (n <= 0) {
    NoteSslFailure(n);
    return LastError();
  }
  m_LastResult = n;
  return n;
}

int SslConnection::LastError()
{
  if (m_Errno == ETIMEDOUT || m_Ssl == nullptr)
    return LastSocketError();
  return TlsErrorCode(m_SslError);
}

MvString SslConnection::LastErrorText()
{
  return m_ErrorText;
}
