/*
 * httpsocket.h - the connection class family and the plain TCP connection. Every connect, send
 * and receive ends by the connection's deadline: sockets are non-blocking underneath and waited
 * on with poll(), so one clock governs plain and TLS traffic alike.
 */
#ifndef HTTPSOCKET_H
#define HTTPSOCKET_H

#include <chrono>
#include <cstddef>

#include <sys/socket.h>

#include "mvstring.h"

/* Bytes asked of one receive. */
enum : size_t
{
  kHttpReadChunk = 1024
};

/* The end of an exchange's allowance, fixed when made: connections sharing one deadline (a
 * proxy's socket and the TLS session over it) share one allowance for everything they do. */
class TBX_Deadline
{
public:
  /* `seconds` from now; 0 or less means no limit. */
  explicit TBX_Deadline(long seconds = 0);
  /* Milliseconds left for poll(): -1 without limit, 0 when spent. */
  int RemainingMs() const;

private:
  bool m_Unlimited;
  std::chrono::steady_clock::time_point m_At;
};

/*
 * One connection to a host or a proxy. Operations never throw: they answer a byte count, -1, or
 * a result code, and LastError() gives the code of the last failure. All sends and receives end
 * by the connection's deadline and never raise SIGPIPE. The destructor closes the
 * descriptor unless it was given away with Detach().
 */
class TBX_Connection
{
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

/*
 * What both connection kinds share: the descriptor they own, its deadline,
 * the error number of the last failed socket call (ETIMEDOUT on a time-out) and the receive
 * buffer. Connecting, adopting and giving up the descriptor are the same for both.
 */
class TBX_SocketConnection : public TBX_Connection
{
public:
  ~TBX_SocketConnection() override;
  int Connect(const struct sockaddr* addr) final;
  int Attach(int sock) final;
  int Detach() final;
  /* 0x80043000 OR the error number of the last failed socket call. */
  int LastSocketError();

protected:
  explicit TBX_SocketConnection(const TBX_Deadline& deadline);
  /* Shuts the sending direction down when there is a socket. */
  void ShutdownSend();
  /* Sends all `len` bytes: `len`, or -1 with the error number kept. */
  long SendBytes(const char* data, size_t len);
  /* One receive of at most `len` bytes: the count, 0 when the peer closed, -1 with the error
   * number kept. */
  long ReceiveBytes(char* buf, size_t len);
  /* Appends the `n` bytes received into the buffer to `stream` and answers `n`. */
  int Deliver(MvStringStream& stream, int n);

  int m_Socket;
  int m_LastResult;
  char m_Buffer[kHttpReadChunk + 1];
  int m_Errno;
  TBX_Deadline m_Deadline;

private:
  TBX_SocketConnection(const TBX_SocketConnection&) = delete;
  TBX_SocketConnection& operator=(const TBX_SocketConnection&) = delete;
};

/* A plain TCP connection; everything it does ends `timeout` seconds (0: no limit) after it is
 * made, or by `deadline`. */
class SockConnection : public TBX_SocketConnection
{
public:
  explicit SockConnection(long timeout = 0);
  explicit SockConnection(const TBX_Deadline& deadline);
  int Disconnect() override;
  int Read(MvStringStream& stream) override;
  int Write(MvStringStream& stream) override;
  int LastError() override;
  int Setup() override;
};

#endif /* HTTPSOCKET_H */
