/*
 * tbxhttp.h - the HTTP transport: encodings, plain and TLS connections, and the HTTP/1.0 session
 * that fetches one URL.
 */
#ifndef TBXHTTP_H
#define TBXHTTP_H

#include <cstddef>

#include <netinet/in.h>
#include <openssl/types.h>
#include <sys/socket.h>

#include "mvstring.h"
#include "spliturl.h"

/* Named bounds of the transport. */
enum : size_t {
    kHttpReadChunk = 1024,                   /* bytes asked of one receive */
    kHttpMaxBody = 16u * 1024 * 1024,        /* largest response body accepted */
    kHttpMaxHeader = 64u * 1024,             /* room for the status line and headers */
    kHttpMaxResponse = kHttpMaxBody + kHttpMaxHeader, /* most bytes one response may hold */
    kHttpMaxProxyAnswer = 16u * 1024,        /* largest proxy answer to CONNECT */
};

/* Appends the Base64 form (RFC 4648, '=' padding, no line breaks) of `in`'s unread bytes. */
void Base64Encode(MvStringStream& in, MvStringStream& out);
/* Appends `in`'s unread bytes up to the first zero byte, ASCII letters and digits as they are and
 * every other byte as "%" and two lower-case hex digits. */
void UrlEncode(MvStringStream& in, MvStringStream& out);

/* The addresses a host name resolved to, tried in this order. */
struct TBX_HostAddr {
    enum { kMaxAddrs = 8 };
    int m_Count = 0;
    struct sockaddr_storage m_Addr[kMaxAddrs];
};

/*
 * Fills `addr` with the addresses of `host` (a dotted IPv4 address or IPv6 literal is used as it
 * is, with no lookup; a name is resolved) and `port` (decimal; a text that is not a port in
 * 1..65535 gives port 0, which no connect reaches). Returns 0, or TBX_E_DNS_LOOKUP leaving
 * `addr` untouched.
 */
long MakeHostAddr(const MvString& host, const MvString& port, TBX_HostAddr* addr);
/* Resolves `name` (getaddrinfo, IPv4 and IPv6), appends its addresses (port 0) to `addr` and
 * raises the "DNS LOOKUP" trace event. Returns the number of addresses, or -1 when the name
 * does not resolve. */
int HttpHostByName(const char* name, TBX_HostAddr* addr);

/*
 * One connection to a host or a proxy. Operations never throw: they answer a byte count, -1, or
 * a result code, and LastError() gives the code of the last failure. All sends and receives are
 * bounded by the connection's time-out and never raise SIGPIPE. The destructor closes the
 * descriptor unless it was given away with Detach().
 */
class TBX_Connection {
public:
    virtual ~TBX_Connection();
    /* Opens a socket of the address's family and connects it; 0 or a result code. */
    virtual int Connect(const struct sockaddr* addr) = 0;
    /* Shuts down the sending direction; answers 0. */
    virtual int Disconnect() = 0;
    /* Receives once (at most kHttpReadChunk bytes) and appends every byte; answers the count,
     * 0 when the peer closed, -1 on failure. */
    virtual int Read(MvStringStream& stream) = 0;
    /* Sends the whole text of `stream`; answers the count or a negative value. */
    virtual int Write(MvStringStream& stream) = 0;
    virtual int LastError() = 0;
    /* Adopts a connected descriptor (the connection then owns it). */
    virtual int Attach(int sock) = 0;
    /* Gives up the descriptor: answers it (or -1) and forgets it. */
    virtual int Detach() = 0;
    /* Protocol set-up once connected (the TLS handshake); 0 or a result code. */
    virtual int Setup() = 0;
    /* What went wrong in the last failure, for messages ("certificate verify failed: ..."). */
    virtual MvString LastErrorText();
};

/* A plain TCP connection. `timeout` in seconds, 0 for none. */
class SockConnection : public TBX_Connection {
public:
    explicit SockConnection(long timeout = 0);
    ~SockConnection() override;
    int Connect(const struct sockaddr* addr) override;
    int Disconnect() override;
    int Read(MvStringStream& stream) override;
    int Write(MvStringStream& stream) override;
    int LastError() override;
    int Attach(int sock) override;
    int Detach() override;
    int Setup() override;

private:
    SockConnection(const SockConnection&) = delete;
    SockConnection& operator=(const SockConnection&) = delete;

    int m_Socket;
    int m_LastResult;
    int m_Errno;   /* error number of the last failed call, ETIMEDOUT on a time-out */
    long m_Timeout;
    char m_Buffer[kHttpReadChunk + 1];
};

/*
 * A TLS client connection. The certificate chain is verified against `caFile` (PEM) or, when
 * that is empty, the system trust store, and the certificate must name `host` (as a DNS name,
 * or as an IP address for an address literal); SNI carries a host name. `verify` false skips
 * both checks.
 */
class SslConnection : public TBX_Connection {
public:
    SslConnection(const MvString& host, bool verify, const MvString& caFile, long timeout = 0);
    ~SslConnection() override;
    int Connect(const struct sockaddr* addr) override;
    int Disconnect() override;
    int Read(MvStringStream& stream) override;
    int Write(MvStringStream& stream) override;
    /* A time-out gives TBX_E_CONNECTION_TIMEOUT; with a TLS session, 0x80044000 OR the
     * SSL_get_error value of the failed call; without one, LastSocketError(). */
    int LastError() override;
    int Attach(int sock) override;
    int Detach() override;
    int Setup() override;
    MvString LastErrorText() override;
    int LastSocketError();

private:
    friend struct TBX_SslBio;
    SslConnection(const SslConnection&) = delete;
    SslConnection& operator=(const SslConnection&) = delete;
    void NoteSslFailure(int ret);

    int m_Socket;
    int m_LastResult;
    char m_Buffer[kHttpReadChunk + 1];
    SSL_CTX* m_Ctx;
    SSL* m_Ssl;
    int m_SslError;    /* SSL_get_error of the last failed call, 0 when none */
    int m_Errno;       /* error number of the last failed socket call, ETIMEDOUT on a time-out */
    long m_Timeout;
    bool m_PeerClosed; /* the socket reached its end (a receive answered 0) */
    bool m_Verify;
    MvString m_Host;
    MvString m_CaFile;
    MvString m_ErrorText;
};

/*
 * One HTTP/1.0 GET of one URL. The steps run in order, each once; a step called out of order
 * raises 0x80042023. The session keeps a reference to `url`, which must outlive it.
 */
class TBX_HttpSession {
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
    TBX_HttpSession(const TBX_HttpSession&) = delete;
    TBX_HttpSession& operator=(const TBX_HttpSession&) = delete;

    int m_State;
    const URL_INFO& m_Url;
    TBX_Connection* m_Connection;
    MvStringStream m_Request;
    MvStringStream m_Response;
};

/* Fetches `url` and appends the response body to `out`; throws TBX_Exception on any failure,
 * leaving `out` untouched. */
void HttpSession(const URL_INFO& url, MvStringStream& out);

/* Appends a GET request text for `url` with a Basic authorization of `user` and `password`
 * (null counts as empty) to `out`; sends nothing. */
void HttpRequest(const char* url, const char* user, const char* password, MvStringStream* out);

/*
 * The response checks of ExtractResponse, on `len` bytes at `text` (only the text before the
 * first zero byte counts). Returns 0 and sets `*status`, `*bodyOffset` and `*bodyLen`, or the
 * failure code: TBX_E_HTTP_BAD_RESPONSE for a malformed response or a body over kHttpMaxBody,
 * 0x80042000 OR the status for a status other than 200.
 */
long ParseHttpResponse(const char* text, size_t len, int* status, size_t* bodyOffset,
                       size_t* bodyLen);
/*
 * The checks of a proxy's answer to CONNECT. Returns 0 for status 200, else
 * TBX_E_HTTP_BAD_RESPONSE or 0x80042000 OR the status; `*status` gets the status read (0 if none).
 */
long ParseProxyAnswer(const char* text, size_t len, int* status);

#endif /* TBXHTTP_H */
