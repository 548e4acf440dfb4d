/*
 * tbxhttp.cpp - encodings, plain and TLS connections, and the HTTP/1.0 session.
 *
 * Every exchange is one connection and one GET read until the server closes. Each connect, send
 * and receive is bounded by the record's time-out; sockets are non-blocking underneath and waited
 * on with poll(), so one clock governs plain and TLS traffic alike.
 */
#include "tbxhttp.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <strings.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include "tbxerr.h"

const char TBX_HttpSession::m_UserAgent[] = "Kestrum Application Component 1.0";

namespace {

const char kUnit[] = "tbxhttp";

/*
 * Raise sites of the session. The numbers appear in the TBXDEBUG form of messages
 * ("tbxhttp(701) : error 8004303d : ..."), which support staff recognise, so they are fixed
 * identifiers and do not follow the lines of this file.
 */
enum RaiseSite : long {
    kSiteConnectState = 646,
    kSiteProxyAddress = 661,
    kSiteUseProxy = 665,
    kSiteProxyScheme = 677,
    kSiteHostAddress = 683,
    kSiteDirectScheme = 695,
    kSiteConnect = 701,
    kSiteSetup = 710,
    kSiteHttpConnect = 719,
    kSiteProxyWrite = 728,
    kSiteProxyRead = 731,
    kSiteProxyTooLong = 733,
    kSiteProxyNoHttp = 738,
    kSiteProxyStatus = 749,
    kSiteProxyNot200 = 752,
    kSiteProxyNoBlankLine = 754,
    kSiteBuildState = 765,
    kSiteSendState = 797,
    kSiteSendWrite = 802,
    kSiteReceiveState = 810,
    kSiteReceiveRead = 821,
    kSiteReceiveTooLong = 823,
    kSiteExtractState = 832,
    kSiteNoSpace = 846,
    kSiteStatus = 852,
    kSiteNot200 = 855,
    kSiteNoBlankLine = 859,
    kSiteBodyTooLong = 861,
    kSiteNotHttp = 843,
    kSiteContentLength = 862,
    kSiteShortBody = 863,
    kSiteUrlOpen = 885,
};

const long kStateError = TBX_RESULT(0x80042023u);
const long kUnknownScheme = TBX_RESULT(0x80042020u);

/* ---- result codes ---------------------------------------------------------------------- */

int HttpStatusCode(int status)
{
    return static_cast<int>(TBX_E_HTTP_STATUS_BASE | static_cast<unsigned>(status));
}

/* The five conditions that have texts keep the numbers those texts were made for, whatever the
 * system's own error numbers; every other error number is carried as it is. */
int SocketErrorCode(int err)
{
    unsigned v;
    switch (err) {
    case ECONNREFUSED: v = 61; break;
    case ETIMEDOUT: v = 60; break;
    case ECONNRESET: v = 54; break;
    case ECONNABORTED: v = 53; break;
    case ENETUNREACH: v = 51; break;
    default: v = static_cast<unsigned>(err) & 0xFFFu; break;
    }
    return static_cast<int>(TBX_E_SOCKET_BASE | v);
}

int TlsErrorCode(int sslError)
{
    return static_cast<int>(TBX_E_TLS_BASE | (static_cast<unsigned>(sslError) & 0xFFFu));
}

/* ---- bounded socket I/O ---------------------------------------------------------------- */

using Clock = std::chrono::steady_clock;

/* The end of one operation's allowance; `seconds` 0 means no limit. */
class Deadline {
public:
    explicit Deadline(long seconds) : m_Unlimited(seconds <= 0)
    {
        if (!m_Unlimited)
            m_At = Clock::now() + std::chrono::seconds(seconds);
    }
    /* Milliseconds left for poll(): -1 without limit, 0 when spent. */
    int RemainingMs() const
    {
        if (m_Unlimited)
            return -1;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_At - Clock::now());
        if (left.count() <= 0)
            return 0;
        return left.count() > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(left.count());
    }

private:
    bool m_Unlimited;
    Clock::time_point m_At;
};

/* Waits until `fd` is ready; 1 when ready (or in error: the next call reports it), 0 with
 * errno ETIMEDOUT when the time is spent, -1 with errno on failure. */
int WaitReady(int fd, short events, const Deadline& deadline)
{
    for (;;) {
        struct pollfd p;
        p.fd = fd;
        p.events = events;
        p.revents = 0;
        int r = poll(&p, 1, deadline.RemainingMs());
        if (r > 0)
            return 1;
        if (r == 0) {
            errno = ETIMEDOUT;
            return 0;
        }
        if (errno != EINTR)
            return -1;
    }
}

socklen_t AddrLen(const struct sockaddr* addr)
{
    if (addr == nullptr)
        return 0;
    if (addr->sa_family == AF_INET)
        return sizeof(struct sockaddr_in);
    if (addr->sa_family == AF_INET6)
        return sizeof(struct sockaddr_in6);
    return 0;
}

/* Opens a non-blocking socket and connects it within `timeout` seconds. Returns the descriptor,
 * or -1 with errno set (the socket closed). */
int OpenAndConnect(const struct sockaddr* addr, long timeout)
{
    socklen_t len = AddrLen(addr);
    if (len == 0) {
        errno = EAFNOSUPPORT;
        return -1;
    }
    int fd = socket(addr->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    Deadline deadline(timeout);
    int err = 0;
    if (connect(fd, addr, len) != 0) {
        err = errno;
        if (err == EINPROGRESS || err == EINTR) {
            if (WaitReady(fd, POLLOUT, deadline) <= 0) {
                err = errno;
            } else {
                socklen_t el = sizeof err;
                if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &el) != 0)
                    err = errno;
            }
        }
    }
    if (err != 0) {
        close(fd);
        errno = err;
        return -1;
    }
    return fd;
}

/* Sends all `len` bytes, continuing partial sends; MSG_NOSIGNAL so that a peer that went away
 * costs an EPIPE, not the process. Returns `len`, or -1 with errno. */
long SendAll(int fd, const char* data, size_t len, long timeout)
{
    Deadline deadline(timeout);
    size_t done = 0;
    while (done < len) {
        ssize_t n = send(fd, data + done, len - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (WaitReady(fd, POLLOUT, deadline) <= 0)
                return -1;
        } else {
            if (n == 0)
                errno = EPIPE;
            return -1;
        }
    }
    return static_cast<long>(done);
}

/* One receive of at most `len` bytes: the count, 0 when the peer closed, -1 with errno. */
long RecvSome(int fd, char* buf, size_t len, long timeout)
{
    Deadline deadline(timeout);
    for (;;) {
        ssize_t n = recv(fd, buf, len, MSG_DONTWAIT);
        if (n >= 0)
            return static_cast<long>(n);
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return -1;
        if (WaitReady(fd, POLLIN, deadline) <= 0)
            return -1;
    }
}

MvString HostForUri(const MvString& host)
{
    if (IsIpv6Literal(host))
        return MvString("[") + host + "]";
    return host;
}

bool TraceHas(const URL_INFO& url, const char* word)
{
    const char* t = url.m_TraceOptions.c_str();
    return t != nullptr && std::strstr(t, word) != nullptr;
}

bool IsIpLiteral(const char* host)
{
    unsigned char buf[sizeof(struct in6_addr)];
    return host != nullptr &&
           (inet_pton(AF_INET, host, buf) == 1 || inet_pton(AF_INET6, host, buf) == 1);
}

const void* FindBytes(const char* hay, size_t n, const char* needle, size_t m)
{
    return memmem(hay, n, needle, m);
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

} // namespace

/* ---- encodings ------------------------------------------------------------------------- */

void Base64Encode(MvStringStream& in, MvStringStream& out)
{
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    unsigned char group[3];
    char quad[4];
    int have = 0;
    char c;
    MvString text;
    while (in.get(c)) {
        group[have++] = static_cast<unsigned char>(c);
        if (have == 3) {
            quad[0] = kAlphabet[group[0] >> 2];
            quad[1] = kAlphabet[((group[0] & 0x03) << 4) | (group[1] >> 4)];
            quad[2] = kAlphabet[((group[1] & 0x0F) << 2) | (group[2] >> 6)];
            quad[3] = kAlphabet[group[2] & 0x3F];
            text.append(quad, 4);
            have = 0;
        }
    }
    if (have > 0) {
        if (have == 1)
            group[1] = 0;
        quad[0] = kAlphabet[group[0] >> 2];
        quad[1] = kAlphabet[((group[0] & 0x03) << 4) | (group[1] >> 4)];
        quad[2] = have == 2 ? kAlphabet[(group[1] & 0x0F) << 2] : '=';
        quad[3] = '=';
        text.append(quad, 4);
    }
    if (!text.empty())
        out << text;
}

void UrlEncode(MvStringStream& in, MvStringStream& out)
{
    MvString text;
    char c;
    while (in.get(c) && c != '\0') {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
            text.append(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02x", static_cast<unsigned char>(c));
            text.append(hex, 3);
        }
    }
    if (!text.empty())
        out << text;
}

/* ---- addresses ------------------------------------------------------------------------- */

int HttpHostByName(const char* name, TBX_HostAddr* addr)
{
    struct addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    struct addrinfo* list = nullptr;
    if (name == nullptr || getaddrinfo(name, nullptr, &hints, &list) != 0 || list == nullptr) {
        if (list != nullptr)
            freeaddrinfo(list);
        return -1;
    }
    int added = 0;
    const struct addrinfo* first = nullptr;
    for (const struct addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
        if (addr->m_Count >= TBX_HostAddr::kMaxAddrs)
            break;
        if ((ai->ai_family != AF_INET && ai->ai_family != AF_INET6) ||
            ai->ai_addrlen > sizeof(struct sockaddr_storage))
            continue;
        std::memset(&addr->m_Addr[addr->m_Count], 0, sizeof(struct sockaddr_storage));
        std::memcpy(&addr->m_Addr[addr->m_Count], ai->ai_addr, ai->ai_addrlen);
        ++addr->m_Count;
        if (first == nullptr)
            first = ai;
        ++added;
    }
    if (added == 0) {
        freeaddrinfo(list);
        TBX_TraceLog::Write(kUnit, __LINE__, TBX_E_DNS_LOOKUP, MvString("DNS LOOKUP"),
                            MvString("failed to lookup host"));
        return -1;
    }
    char text[INET6_ADDRSTRLEN] = "";
    if (first->ai_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const struct sockaddr_in*>(first->ai_addr)->sin_addr,
                  text, sizeof text);
    else
        inet_ntop(AF_INET6,
                  &reinterpret_cast<const struct sockaddr_in6*>(first->ai_addr)->sin6_addr, text,
                  sizeof text);
    freeaddrinfo(list);
    TBX_TraceLog::Write(kUnit, __LINE__, 0, MvString("DNS LOOKUP"),
                        MvString(name) + " -> " + text);
    return added;
}

long MakeHostAddr(const MvString& host, const MvString& port, TBX_HostAddr* addr)
{
    unsigned portValue = 0;
    const char* p = port.c_str();
    if (p != nullptr && port.size() > 0 && port.size() <= 5) {
        for (unsigned i = 0; i < port.size(); ++i) {
            if (p[i] < '0' || p[i] > '9') {
                portValue = 0;
                break;
            }
            portValue = portValue * 10 + static_cast<unsigned>(p[i] - '0');
        }
        if (portValue > 65535)
            portValue = 0;
    }

    TBX_HostAddr found;
    const char* name = host.c_str() != nullptr ? host.c_str() : "";
    struct sockaddr_in* a4 = reinterpret_cast<struct sockaddr_in*>(&found.m_Addr[0]);
    struct sockaddr_in6* a6 = reinterpret_cast<struct sockaddr_in6*>(&found.m_Addr[0]);
    std::memset(&found.m_Addr[0], 0, sizeof(struct sockaddr_storage));
    /* Address literals need no lookup. A host holding a zero byte is no name at all. */
    if (std::strlen(name) != host.size()) {
        return TBX_E_DNS_LOOKUP;
    } else if (inet_pton(AF_INET, name, &a4->sin_addr) == 1) {
        a4->sin_family = AF_INET;
        found.m_Count = 1;
    } else if (inet_pton(AF_INET6, name, &a6->sin6_addr) == 1) {
        a6->sin6_family = AF_INET6;
        found.m_Count = 1;
    } else if (HttpHostByName(name, &found) < 0) {
        return TBX_E_DNS_LOOKUP;
    }
    for (int i = 0; i < found.m_Count; ++i) {
        struct sockaddr* sa = reinterpret_cast<struct sockaddr*>(&found.m_Addr[i]);
        if (sa->sa_family == AF_INET)
            reinterpret_cast<struct sockaddr_in*>(sa)->sin_port = htons(portValue);
        else
            reinterpret_cast<struct sockaddr_in6*>(sa)->sin6_port = htons(portValue);
    }
    *addr = found;
    return 0;
}

/* ---- connections ----------------------------------------------------------------------- */

TBX_Connection::~TBX_Connection() = default;

MvString TBX_Connection::LastErrorText()
{
    return MvString();
}

SockConnection::SockConnection(long timeout)
    : m_Socket(-1), m_LastResult(0), m_Errno(0), m_Timeout(timeout)
{
    m_Buffer[0] = '\0';
}

SockConnection::~SockConnection()
{
    if (m_Socket >= 0)
        close(m_Socket);
}

int SockConnection::Connect(const struct sockaddr* addr)
{
    if (m_Socket >= 0) {
        close(m_Socket);
        m_Socket = -1;
    }
    m_Socket = OpenAndConnect(addr, m_Timeout);
    if (m_Socket < 0) {
        m_Errno = errno;
        m_LastResult = -1;
        return LastError();
    }
    m_LastResult = 0;
    return 0;
}

int SockConnection::Disconnect()
{
    if (m_Socket >= 0)
        shutdown(m_Socket, SHUT_WR);
    return 0;
}

int SockConnection::Read(MvStringStream& stream)
{
    long n = RecvSome(m_Socket, m_Buffer, kHttpReadChunk, m_Timeout);
    if (n < 0) {
        m_Errno = errno;
        m_LastResult = -1;
        return -1;
    }
    m_Buffer[n] = '\0';
    if (n > 0)
        stream.write(m_Buffer, static_cast<unsigned>(n));
    m_LastResult = static_cast<int>(n);
    return m_LastResult;
}

int SockConnection::Write(MvStringStream& stream)
{
    const MvString& text = stream.str();
    long n = SendAll(m_Socket, text.c_str(), text.size(), m_Timeout);
    if (n < 0) {
        m_Errno = errno;
        m_LastResult = -1;
        return -1;
    }
    m_LastResult = static_cast<int>(n);
    return m_LastResult;
}

int SockConnection::LastError()
{
    return SocketErrorCode(m_Errno);
}

// Both connection kinds own their descriptor the same way: attaching closes a different one
// held before, and the socket runs non-blocking so every wait is bounded by poll.
static int AdoptSocket(int& slot, int sock)
{
    if (slot >= 0 && slot != sock)
        close(slot);
    slot = sock;
    if (sock >= 0) {
        int flags = fcntl(sock, F_GETFL);
        if (flags >= 0)
            fcntl(sock, F_SETFL, flags | O_NONBLOCK);
    }
    return 0;
}

static int ReleaseSocket(int& slot)
{
    int sock = slot;
    slot = -1;
    return sock;
}

int SockConnection::Attach(int sock)
{
    return AdoptSocket(m_Socket, sock);
}

int SockConnection::Detach()
{
    return ReleaseSocket(m_Socket);
}

int SockConnection::Setup()
{
    return 0;
}

/*
 * TLS traffic goes through a socket BIO of our own: OpenSSL's sends could raise SIGPIPE and its
 * blocking reads know no time-out. The BIO sends with MSG_NOSIGNAL and waits with poll().
 */
struct TBX_SslBio {
    static int Write(BIO* bio, const char* data, int len)
    {
        SslConnection* c = static_cast<SslConnection*>(BIO_get_data(bio));
        BIO_clear_retry_flags(bio);
        if (len <= 0)
            return 0;
        long n = SendAll(c->m_Socket, data, static_cast<size_t>(len), c->m_Timeout);
        if (n < 0) {
            c->m_Errno = errno;
            return -1;
        }
        return static_cast<int>(n);
    }
    static int Read(BIO* bio, char* buf, int len)
    {
        SslConnection* c = static_cast<SslConnection*>(BIO_get_data(bio));
        BIO_clear_retry_flags(bio);
        if (len <= 0)
            return 0;
        long n = RecvSome(c->m_Socket, buf, static_cast<size_t>(len), c->m_Timeout);
        if (n < 0) {
            c->m_Errno = errno;
            return -1;
        }
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
    static int Destroy(BIO*)
    {
        return 1; /* the descriptor belongs to the connection */
    }
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
    : m_Socket(-1), m_LastResult(0), m_Ctx(nullptr), m_Ssl(nullptr), m_SslError(0), m_Errno(0),
      m_Timeout(timeout), m_PeerClosed(false), m_Verify(verify), m_Host(host), m_CaFile(caFile)
{
    m_Buffer[0] = '\0';
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
    if (m_Socket >= 0)
        close(m_Socket);
    if (m_Ctx != nullptr)
        SSL_CTX_free(m_Ctx);
}

int SslConnection::Connect(const struct sockaddr* addr)
{
    if (m_Socket >= 0) {
        close(m_Socket);
        m_Socket = -1;
    }
    m_Socket = OpenAndConnect(addr, m_Timeout);
    if (m_Socket < 0) {
        m_Errno = errno;
        m_LastResult = -1;
        return LastSocketError();
    }
    m_LastResult = 0;
    return 0;
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
    TBX_TraceLog::Write(kUnit, __LINE__, 0, MvString("USE SSL"), MvString());
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
        std::printf("SSL ERROR: connect failed\n");
        std::fflush(stdout);
        return LastError();
    }
    return 0;
}

int SslConnection::Disconnect()
{
    if (m_Socket >= 0)
        shutdown(m_Socket, SHUT_WR);
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
    m_Buffer[n] = '\0';
    stream.write(m_Buffer, static_cast<unsigned>(n));
    m_LastResult = n;
    return n;
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

int SslConnection::LastSocketError()
{
    return SocketErrorCode(m_Errno);
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

int SslConnection::Attach(int sock)
{
    return AdoptSocket(m_Socket, sock);
}

int SslConnection::Detach()
{
    return ReleaseSocket(m_Socket);
}

/* ---- response checks ------------------------------------------------------------------- */

namespace {

bool IsSpaceOrTab(char c)
{
    return c == ' ' || c == '\t';
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
        const char* eol = static_cast<const char*>(FindBytes(line, to - line, "\r\n", 2));
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

long ParseResponseAt(const char* text, size_t len, int* status, size_t* bodyOffset,
                     size_t* bodyLen, long* site)
{
    *status = 0;
    *bodyOffset = 0;
    *bodyLen = 0;
    const size_t n = text != nullptr ? strnlen(text, len) : 0;
    const char* end = text + n;
    // Whatever else a peer sends (another protocol, an error page of a TLS port) is not an answer.
    if (n < 7 || std::memcmp(text, "HTTP/1.", 7) != 0) {
        *site = kSiteNotHttp;
        return TBX_E_HTTP_BAD_RESPONSE;
    }
    const char* space = static_cast<const char*>(std::memchr(text, ' ', n));
    if (space == nullptr) {
        *site = kSiteNoSpace;
        return TBX_E_HTTP_BAD_RESPONSE;
    }
    *status = ReadStatus(space + 1, end);
    if (*status == 0) {
        *site = kSiteStatus;
        return TBX_E_HTTP_BAD_RESPONSE;
    }
    if (*status != 200) {
        *site = kSiteNot200;
        return HttpStatusCode(*status);
    }
    const char* blank =
        static_cast<const char*>(FindBytes(space, static_cast<size_t>(end - space), "\r\n\r\n", 4));
    if (blank == nullptr) {
        *site = kSiteNoBlankLine;
        return TBX_E_HTTP_BAD_RESPONSE;
    }
    size_t off = static_cast<size_t>(blank + 4 - text);
    size_t body = n - off;
    // A connection that ends before the announced length was cut: a part of an answer is not an
    // answer. Bytes beyond it are not part of the answer either.
    const char* headers = static_cast<const char*>(std::memchr(text, '\n', n)) + 1;
    const long long announced = headers <= blank ? ContentLength(headers, blank + 2) : -1;
    if (announced == -2) {
        *site = kSiteContentLength;
        return TBX_E_HTTP_BAD_RESPONSE;
    }
    if (announced >= 0) {
        if (len - off < static_cast<unsigned long long>(announced)) {
            *site = kSiteShortBody;
            return TBX_E_HTTP_BAD_RESPONSE;
        }
        if (body > static_cast<unsigned long long>(announced))
            body = static_cast<size_t>(announced);
    }
    if (body > kHttpMaxBody) {
        *site = kSiteBodyTooLong;
        return TBX_E_HTTP_BAD_RESPONSE;
    }
    *bodyOffset = off;
    *bodyLen = body;
    return 0;
}

long ParseProxyAnswerAt(const char* text, size_t len, int* status, long* site)
{
    *status = 0;
    const size_t n = text != nullptr ? strnlen(text, len) : 0;
    const char* end = text + n;
    if (n == 0 || FindBytes(text, n, "HTTP/1", 6) == nullptr) {
        *site = kSiteProxyNoHttp;
        return TBX_E_HTTP_BAD_RESPONSE;
    }
    const char* p = static_cast<const char*>(std::memchr(text, ' ', n));
    if (p == nullptr) {
        *site = kSiteProxyStatus;
        return TBX_E_HTTP_BAD_RESPONSE;
    }
    while (p < end && (*p == ' ' || *p == '\t'))
        ++p;
    *status = ReadStatus(p, end);
    if (*status == 0) {
        *site = kSiteProxyStatus;
        return TBX_E_HTTP_BAD_RESPONSE;
    }
    if (*status != 200) {
        *site = kSiteProxyNot200;
        return HttpStatusCode(*status);
    }
    /* The tunnel starts after the answer's blank line; without it the answer is cut short. */
    if (FindBytes(text, n, "\r\n\r\n", 4) == nullptr) {
        *site = kSiteProxyNoBlankLine;
        return TBX_E_HTTP_BAD_RESPONSE;
    }
    return 0;
}

} // namespace

long ParseHttpResponse(const char* text, size_t len, int* status, size_t* bodyOffset,
                       size_t* bodyLen)
{
    long site = 0;
    return ParseResponseAt(text, len, status, bodyOffset, bodyLen, &site);
}

long ParseProxyAnswer(const char* text, size_t len, int* status)
{
    long site = 0;
    return ParseProxyAnswerAt(text, len, status, &site);
}

/* ---- the session ----------------------------------------------------------------------- */

TBX_HttpSession::TBX_HttpSession(const URL_INFO& url)
    : m_State(0), m_Url(url), m_Connection(nullptr)
{
}

TBX_HttpSession::~TBX_HttpSession()
{
    if (m_Connection != nullptr) {
        m_Connection->Disconnect();
        delete m_Connection;
        m_Connection = nullptr;
    }
}

void TBX_HttpSession::ConnectNetwork()
{
    if (m_State != 0)
        TBX_THROW(kStateError, "invalid session state during ConnectNetwork", kUnit,
                  kSiteConnectState);

    TBX_HostAddr addr;
    bool tunnel = false;
    const bool https = m_Url.m_Scheme == "https";
    const bool http = m_Url.m_Scheme == "http";
    if (!m_Url.m_ProxyHost.empty()) {
        long rc = MakeHostAddr(m_Url.m_ProxyHost, m_Url.m_ProxyPort, &addr);
        if (rc != 0)
            TBX_THROW(rc, "the proxy address is invalid or could not be resolved", kUnit,
                      kSiteProxyAddress);
        TBX_TraceLog::Write(kUnit, kSiteUseProxy, 0, MvString("USE PROXY"),
                            HostForUri(m_Url.m_ProxyHost) + ":" + m_Url.m_ProxyPort);
        if (!https && !http)
            TBX_THROW(kUnknownScheme, "the protocol type of the URL is unknown", kUnit,
                      kSiteProxyScheme);
        m_Connection = new SockConnection(m_Url.m_Timeout);
        tunnel = https;
    } else {
        long rc = MakeHostAddr(m_Url.m_Host, m_Url.m_Port, &addr);
        if (rc != 0)
            TBX_THROW(rc, "the host address is invalid or could not be resolved", kUnit,
                      kSiteHostAddress);
        if (https)
            m_Connection = new SslConnection(m_Url.m_Host, m_Url.m_SslVerify, m_Url.m_SslCaFile,
                                             m_Url.m_Timeout);
        else if (http)
            m_Connection = new SockConnection(m_Url.m_Timeout);
        else
            TBX_THROW(kUnknownScheme, "the protocol type of the URL is unknown", kUnit,
                      kSiteDirectScheme);
    }

    /* Each address in turn; the first failure is the one reported. */
    int first = 0;
    int rc = -1;
    for (int i = 0; i < addr.m_Count && rc != 0; ++i) {
        rc = m_Connection->Connect(reinterpret_cast<const struct sockaddr*>(&addr.m_Addr[i]));
        if (rc != 0 && first == 0)
            first = rc;
    }
    if (rc != 0)
        TBX_THROW(first != 0 ? first : TBX_E_DNS_LOOKUP, "failed to connect to host", kUnit,
                  kSiteConnect);

    if (tunnel)
        ProxyConnect();

    rc = m_Connection->Setup();
    if (rc != 0) {
        MvString message("failed to setup protocol");
        MvString detail = m_Connection->LastErrorText();
        if (!detail.empty())
            message += MvString(": ") + detail;
        TBX_THROW(rc, message, kUnit, kSiteSetup);
    }
    m_State = 1;
}

void TBX_HttpSession::ProxyConnect()
{
    TBX_TraceLog::Write(kUnit, kSiteHttpConnect, 0, MvString("HTTP CONNECT"), MvString());

    MvStringStream request;
    request << "CONNECT " << HostForUri(m_Url.m_Host) << ":" << m_Url.m_Port << " HTTP/1.0\r\n"
            << "Pragma: no-cache\r\n"
            << "UserAgent: " << m_UserAgent << "\r\n"
            << "\r\n";
    if (m_Connection->Write(request) < 0)
        TBX_THROW(m_Connection->LastError(), "", kUnit, kSiteProxyWrite);

    /* Read up to the answer's blank line, however the proxy splits it; nothing more arrives
     * before our TLS hello, so no tunnel byte is taken. */
    MvStringStream answer;
    for (;;) {
        unsigned before = answer.str().size();
        int n = m_Connection->Read(answer);
        if (n < 0)
            TBX_THROW(m_Connection->LastError(), "", kUnit, kSiteProxyRead);
        if (n == 0)
            break;
        const MvString& text = answer.str();
        unsigned from = before > 3 ? before - 3 : 0;
        if (FindBytes(text.c_str() + from, text.size() - from, "\r\n\r\n", 4) != nullptr)
            break;
        if (text.size() > kHttpMaxProxyAnswer)
            TBX_THROW(TBX_E_HTTP_BAD_RESPONSE, "the proxy's answer to CONNECT is too long",
                      kUnit, kSiteProxyTooLong);
    }

    const MvString& text = answer.str();
    std::fprintf(stderr, "Proxy response:\n%s\n", text.c_str() != nullptr ? text.c_str() : "");
    int status = 0;
    long site = 0;
    long rc = ParseProxyAnswerAt(text.c_str(), text.size(), &status, &site);
    if (rc != 0)
        TBX_THROW(rc, "", kUnit, site);

    SslConnection* tls = new SslConnection(m_Url.m_Host, m_Url.m_SslVerify, m_Url.m_SslCaFile,
                                           m_Url.m_Timeout);
    tls->Attach(m_Connection->Detach());
    delete m_Connection;
    m_Connection = tls;
}

void TBX_HttpSession::BuildRequest()
{
    if (m_State != 1)
        TBX_THROW(kStateError, "invalid session state during BuildRequest", kUnit,
                  kSiteBuildState);

    m_Request << "GET ";
    if (!m_Url.m_ProxyHost.empty() && m_Url.m_Scheme != "https")
        m_Request << m_Url.m_Scheme << "://" << HostForUri(m_Url.m_Host) << ":" << m_Url.m_Port;
    m_Request << m_Url.m_Path << " HTTP/1.0\r\n";
    m_Request << "Authorization: Basic ";
    MvStringStream credentials;
    credentials << m_Url.m_User << ":" << m_Url.m_Password;
    Base64Encode(credentials, m_Request);
    m_Request << "\r\n";
    m_Request << "UserAgent: " << m_UserAgent << "\r\n";
    m_Request << "\r\n";
    m_State = 2;
    if (TraceHas(m_Url, "rawhttp")) {
        std::printf("\n%s\n\n", m_Request.str().c_str());
        std::fflush(stdout);
    }
}

void TBX_HttpSession::SendRequest()
{
    if (m_State != 2)
        TBX_THROW(kStateError, "invalid session state during SendRequest", kUnit,
                  kSiteSendState);
    if (m_Connection->Write(m_Request) < 0)
        TBX_THROW(m_Connection->LastError(), "failed to write to host", kUnit, kSiteSendWrite);
    m_State = 3;
}

void TBX_HttpSession::ReceiveResponse()
{
    if (m_State != 3)
        TBX_THROW(kStateError, "invalid session state during ReceiveResponse", kUnit,
                  kSiteReceiveState);
    for (;;) {
        int n = m_Connection->Read(m_Response);
        if (n < 0)
            /* The request went out whole: whatever it asked for (a capture) may have been done. */
            TBX_THROW(m_Connection->LastError(),
                      "failed to receive from host; the request was sent, so its outcome at "
                      "the host is unknown",
                      kUnit, kSiteReceiveRead);
        if (n == 0)
            break;
        if (m_Response.str().size() > kHttpMaxResponse)
            TBX_THROW(TBX_E_HTTP_BAD_RESPONSE, "the response is larger than 16 MiB", kUnit,
                      kSiteReceiveTooLong);
    }
    m_State = 4;
}

void TBX_HttpSession::ExtractResponse(MvStringStream& out)
{
    if (m_State != 4)
        TBX_THROW(kStateError, "invalid session state during ExtractResponse", kUnit,
                  kSiteExtractState);
    const MvString& text = m_Response.str();
    if (TraceHas(m_Url, "rawhttp")) {
        std::printf("\n%s\n\n", text.c_str() != nullptr ? text.c_str() : "");
        std::fflush(stdout);
    }
    int status = 0;
    size_t offset = 0, length = 0;
    long site = 0;
    long rc = ParseResponseAt(text.c_str(), text.size(), &status, &offset, &length, &site);
    if (rc != 0)
        TBX_THROW(rc, site == kSiteNotHttp      ? "the answer does not begin with HTTP/1."
                      : site == kSiteShortBody  ? "the answer ended before its Content-Length"
                      : site == kSiteContentLength ? "the answer's Content-Length is malformed"
                                                   : "",
                  kUnit, site);
    if (length > 0)
        out.write(text.c_str() + offset, static_cast<unsigned>(length));
}

void HttpSession(const URL_INFO& url, MvStringStream& out)
{
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
    MvStringStream credentials;
    credentials << (user != nullptr ? user : "") << ":" << (password != nullptr ? password : "");
    *out << "GET " << (url != nullptr ? url : "") << " HTTP/1.0\r\nAuthorization: Basic ";
    Base64Encode(credentials, *out);
    *out << "\r\n\r\n";
}
