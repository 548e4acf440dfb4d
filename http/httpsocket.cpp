/*
 * httpsocket.cpp - socket I/O bounded by deadlines, the descriptor both connection kinds own,
 * and the plain TCP connection.
 */
#include "httpsocket.h"

#include <cerrno>
#include <chrono>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

#include "tbxcodes.h"

namespace {

using Clock = std::chrono::steady_clock;

/* ---- result codes ---------------------------------------------------------------------- */

/* The five conditions that have texts keep the numbers those texts were made for, whatever the
 * system's own error numbers; every other error number is carried as it is. */
int SocketErrorCode(int err)
{
  unsigned v;
  switch (err) {
  case ECONNREFUSED:
    v = 61;
    break;
  case ETIMEDOUT:
    v = 60;
    break;
  case ECONNRESET:
    v = 54;
    break;
  case ECONNABORTED:
    v = 53;
    break;
  case ENETUNREACH:
    v = 51;
    break;
  default:
    v = static_cast<unsigned>(err) & 0xFFFu;
    break;
  }
  return static_cast<int>(TBX_E_SOCKET_BASE | v);
}

/* ---- bounded socket I/O ---------------------------------------------------------------- */

/* Waits until `fd` is ready; 1 when ready (or in error: the next call reports it), 0 with
 * errno ETIMEDOUT when the time is spent, -1 with errno on failure. */
int WaitReady(int fd, short events, const TBX_Deadline& deadline)
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

/* Opens a non-blocking socket and connects it by `deadline`. Returns the descriptor, or -1 with
 * errno set (the socket closed). */
int OpenAndConnect(const struct sockaddr* addr, const TBX_Deadline& deadline)
{
  socklen_t len = AddrLen(addr);
  if (len == 0) {
    errno = EAFNOSUPPORT;
    return -1;
  }
  int fd = socket(addr->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0)
    return -1;
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
long SendAll(int fd, const char* data, size_t len, const TBX_Deadline& deadline)
{
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
long RecvSome(int fd, char* buf, size_t len, const TBX_Deadline& deadline)
{
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

}  // namespace

/* ---- the deadline ---------------------------------------------------------------------- */

TBX_Deadline::TBX_Deadline(long seconds) : m_Unlimited(seconds <= 0)
{
  if (!m_Unlimited)
    m_At = Clock::now() + std::chrono::seconds(seconds);
}

int TBX_Deadline::RemainingMs() const
{
  if (m_Unlimited)
    return -1;
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_At - Clock::now());
  if (left.count() <= 0)
    return 0;
  return left.count() > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(left.count());
}

/* ---- the connection family ------------------------------------------------------------- */

TBX_Connection::~TBX_Connection() = default;

MvString TBX_Connection::LastErrorText()
{
  return MvString();
}

TBX_SocketConnection::TBX_SocketConnection(const TBX_Deadline& deadline)
    : m_Socket(-1), m_LastResult(0), m_Errno(0), m_Deadline(deadline)
{
  m_Buffer[0] = '\0';
}

TBX_SocketConnection::~TBX_SocketConnection()
{
  if (m_Socket >= 0)
    close(m_Socket);
}

int TBX_SocketConnection::Connect(const struct sockaddr* addr)
{
  if (m_Socket >= 0) {
    close(m_Socket);
    m_Socket = -1;
  }
  m_Socket = OpenAndConnect(addr, m_Deadline);
  if (m_Socket < 0) {
    m_Errno = errno;
    m_LastResult = -1;
    return LastSocketError();
  }
  m_LastResult = 0;
  return 0;
}

/* A different descriptor held before is closed; the socket runs non-blocking so that every
 * wait is bounded by poll. */
int TBX_SocketConnection::Attach(int sock)
{
  if (m_Socket >= 0 && m_Socket != sock)
    close(m_Socket);
  m_Socket = sock;
  if (sock >= 0) {
    int flags = fcntl(sock, F_GETFL);
    if (flags >= 0)
      fcntl(sock, F_SETFL, flags | O_NONBLOCK);
  }
  return 0;
}

int TBX_SocketConnection::Detach()
{
  int sock = m_Socket;
  m_Socket = -1;
  return sock;
}

int TBX_SocketConnection::LastSocketError()
{
  return SocketErrorCode(m_Errno);
}

void TBX_SocketConnection::ShutdownSend()
{
  if (m_Socket >= 0)
    shutdown(m_Socket, SHUT_WR);
}

long TBX_SocketConnection::SendBytes(const char* data, size_t len)
{
  long n = SendAll(m_Socket, data, len, m_Deadline);
  if (n < 0)
    m_Errno = errno;
  return n;
}

long TBX_SocketConnection::ReceiveBytes(char* buf, size_t len)
{
  long n = RecvSome(m_Socket, buf, len, m_Deadline);
  if (n < 0)
    m_Errno = errno;
  return n;
}

int TBX_SocketConnection::Deliver(MvStringStream& stream, int n)
{
  m_Buffer[n] = '\0';
  if (n > 0)
    stream.write(m_Buffer, static_cast<unsigned>(n));
  m_LastResult = n;
  return n;
}

/* ---- the plain connection -------------------------------------------------------------- */

SockConnection::SockConnection(long timeout) : TBX_SocketConnection(TBX_Deadline(timeout)) {}

SockConnection::SockConnection(const TBX_Deadline& deadline) : TBX_SocketConnection(deadline) {}

int SockConnection::Disconnect()
{
  ShutdownSend();
  return 0;
}

int SockConnection::Read(MvStringStream& stream)
{
  long n = ReceiveBytes(m_Buffer, kHttpReadChunk);
  if (n < 0) {
    m_LastResult = -1;
    return -1;
  }
  return Deliver(stream, static_cast<int>(n));
}

int SockConnection::Write(MvStringStream& stream)
{
  const MvString& text = stream.str();
  long n = SendBytes(text.c_str(), text.size());
  if (n < 0) {
    m_LastResult = -1;
    return -1;
  }
  m_LastResult = static_cast<int>(n);
  return m_LastResult;
}

int SockConnection::LastError()
{
  return LastSocketError();
}

int SockConnection::Setup()
{
  return 0;
}
