// A scripted HTTP peer on 127.0.0.1 (or ::1) for tests: it records the exact bytes of every
// request and answers each connection by playing a script (whole answers, broken answers, slow
// drips, silence, early closes, huge bodies, a tunnel to another port). Plain or TLS.
//
// The server runs on its own thread, serves connections one after another, and stops by itself:
// the destructor wakes every waiting step and joins; a peer that never sends is given up after
// a few seconds.
#ifndef TBX_TESTS_LOOPBACK_SERVER_H
#define TBX_TESTS_LOOPBACK_SERVER_H

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <openssl/err.h>
#include <openssl/ssl.h>

namespace tbxtest {

// One step of an answer.
struct Step
{
  enum Kind
  {
    kSend,
    kDrip,
    kSleep,
    kHang,
    kFill,
    kReset,
    kCut,
    kTunnel
  };
  explicit Step(Kind k = kSend, std::string d = {}, int m = 0, size_t c = 0)
      : kind(k), data(std::move(d)), ms(m), count(c)
  {}

  Kind kind;
  std::string data;  // kSend, kDrip: bytes to send
  int ms;            // kDrip: pause between bytes; kSleep: pause
  size_t count;      // kFill: body bytes to send; kDrip: bytes per piece; kTunnel: port
};

inline Step Send(std::string bytes)
{
  return Step{Step::kSend, std::move(bytes)};
}
// Sends `bytes` in pieces of `piece` bytes, `ms` apart.
inline Step Drip(std::string bytes, size_t piece, int ms)
{
  return Step{Step::kDrip, std::move(bytes), ms, piece};
}
inline Step Sleep(int ms)
{
  return Step{Step::kSleep, {}, ms};
}
// Says nothing more until the server is destroyed (or the peer goes away).
inline Step Hang()
{
  return Step{Step::kHang};
}
// `n` bytes of 'x' as fast as the peer takes them (a peer that stops reading ends it).
inline Step Fill(size_t n)
{
  return Step{Step::kFill, {}, 0, n};
}
// Closes with a reset instead of an orderly close.
inline Step Reset()
{
  return Step{Step::kReset};
}
// TLS: closes the socket without a close-notify (as many servers do).
inline Step Cut()
{
  return Step{Step::kCut};
}
// Relays bytes both ways between the peer and 127.0.0.1:`port` until either side closes.
inline Step Tunnel(int port)
{
  return Step{Step::kTunnel, {}, 0, static_cast<size_t>(port)};
}

// "HTTP/1.0 <status>\r\n\r\n<body>" with a Content-Type header.
inline std::string HttpAnswer(const std::string& status, const std::string& body)
{
  return "HTTP/1.0 " + status + "\r\nContent-Type: text/xml\r\n\r\n" + body;
}

class LoopbackServer
{
public:
  struct Options
  {
    SSL_CTX* tls = nullptr;   // serve TLS with this context (not owned)
    bool readRequest = true;  // read the request (to its blank line) before the script
    bool ipv6 = false;        // listen on ::1 instead of 127.0.0.1
    int backlog = 16;
    bool accept = true;  // false: listen but never accept
  };

  explicit LoopbackServer(std::vector<Step> script) : LoopbackServer(std::move(script), Options())
  {}

  LoopbackServer(std::vector<Step> script, Options options)
      : m_Script(std::move(script)), m_Options(options)
  {
    m_Listen = socket(options.ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(m_Listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (options.ipv6) {
      sockaddr_in6 a{};
      a.sin6_family = AF_INET6;
      a.sin6_addr = in6addr_loopback;
      m_Ok = bind(m_Listen, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    } else {
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      m_Ok = bind(m_Listen, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    m_Ok = m_Ok && listen(m_Listen, options.backlog) == 0;
    sockaddr_storage bound{};
    socklen_t len = sizeof bound;
    getsockname(m_Listen, reinterpret_cast<sockaddr*>(&bound), &len);
    m_Port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                               : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    if (pipe2(m_Wake, O_CLOEXEC) != 0)
      m_Ok = false;
    if (m_Ok && options.accept)
      m_Thread = std::thread([this] { Serve(); });
  }

  ~LoopbackServer()
  {
    m_Stop = true;
    if (m_Wake[1] >= 0 && write(m_Wake[1], "x", 1) < 0) {
    }
    if (m_Thread.joinable())
      m_Thread.join();
    close(m_Listen);
    close(m_Wake[0]);
    close(m_Wake[1]);
  }

  bool ok() const { return m_Ok; }
  int port() const { return m_Port; }
  int listenFd() const { return m_Listen; }
  std::string Url(const std::string& path = "/", const std::string& scheme = "http",
                  const std::string& host = "127.0.0.1") const
  {
    return scheme + "://" + host + ":" + std::to_string(m_Port) + path;
  }
  // The bytes each connection sent before the script started (in order of the connections).
  std::vector<std::string> Requests()
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Requests;
  }
  std::string LastRequest()
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Requests.empty() ? std::string() : m_Requests.back();
  }
  int Connections() const { return m_Connections.load(); }
  // TLS: the name each client asked for (SNI), "" when it sent none.
  std::vector<std::string> ServerNames()
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_ServerNames;
  }

private:
  // A peer that sends nothing for this long is given up, so a test can never wait forever.
  static constexpr int kIdleMs = 10000;

  struct Peer
  {
    int fd = -1;
    SSL* ssl = nullptr;
  };

  // Waits for `fd` to be readable (or writable) or for the stop signal: true when `fd` is ready.
  bool WaitFor(int fd, short events, int ms)
  {
    pollfd p[2] = {{fd, events, 0}, {m_Wake[0], POLLIN, 0}};
    for (;;) {
      int r = poll(p, 2, ms);
      if (r < 0 && errno == EINTR)
        continue;
      if (r <= 0 || (p[1].revents & POLLIN))
        return false;
      return true;
    }
  }

  long Recv(Peer& peer, char* buf, size_t n)
  {
    if (peer.ssl != nullptr && SSL_pending(peer.ssl) > 0)
      return SSL_read(peer.ssl, buf, static_cast<int>(n));
    if (!WaitFor(peer.fd, POLLIN, kIdleMs))
      return -1;
    if (peer.ssl != nullptr) {
      int r = SSL_read(peer.ssl, buf, static_cast<int>(n));
      return r > 0 ? r : (SSL_get_error(peer.ssl, r) == SSL_ERROR_ZERO_RETURN ? 0 : -1);
    }
    return recv(peer.fd, buf, n, 0);
  }

  bool SendAll(Peer& peer, const char* data, size_t n)
  {
    while (n > 0) {
      if (!WaitFor(peer.fd, POLLOUT, kIdleMs))
        return false;
      long r = peer.ssl != nullptr ? SSL_write(peer.ssl, data, static_cast<int>(n))
                                   : send(peer.fd, data, n, MSG_NOSIGNAL);
      if (r <= 0)
        return false;
      data += r;
      n -= static_cast<size_t>(r);
    }
    return true;
  }

  void Serve()
  {
    while (!m_Stop) {
      if (!WaitFor(m_Listen, POLLIN, -1))
        return;
      int fd = accept4(m_Listen, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0)
        continue;
      ++m_Connections;
      Peer peer;
      peer.fd = fd;
      // Bounded blocking for the TLS calls: the handshake must not wait for ever either.
      timeval tv{kIdleMs / 1000, 0};
      setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
      setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
      if (m_Options.tls != nullptr) {
        peer.ssl = SSL_new(m_Options.tls);
        SSL_set_fd(peer.ssl, fd);
        int accepted = SSL_accept(peer.ssl);
        const char* sni = SSL_get_servername(peer.ssl, TLSEXT_NAMETYPE_host_name);
        {
          std::lock_guard<std::mutex> lock(m_Mutex);
          m_ServerNames.push_back(sni != nullptr ? sni : "");
        }
        if (accepted != 1) {
          ERR_clear_error();
          SSL_free(peer.ssl);
          close(fd);
          Record(std::string());
          continue;
        }
      }
      std::string request;
      if (m_Options.readRequest) {
        char buf[4096];
        while (request.find("\r\n\r\n") == std::string::npos) {
          long n = Recv(peer, buf, sizeof buf);
          if (n <= 0)
            break;
          request.append(buf, static_cast<size_t>(n));
        }
      }
      Record(request);
      Finish(peer, Play(peer));
    }
  }

  void Record(const std::string& request)
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Requests.push_back(request);
  }

  // How a script ends the connection.
  enum Ending
  {
    kOrderly,
    kWithReset,
    kWithoutCloseNotify
  };

  // Plays the script and tells how to end.
  Ending Play(Peer& peer)
  {
    for (const Step& step : m_Script) {
      switch (step.kind) {
      case Step::kSend:
        if (!SendAll(peer, step.data.data(), step.data.size()))
          return kOrderly;
        break;
      case Step::kDrip:
        for (size_t i = 0; i < step.data.size(); i += step.count) {
          size_t n = std::min(step.count, step.data.size() - i);
          if (!SendAll(peer, step.data.data() + i, n))
            return kOrderly;
          if (WaitFor(m_Wake[0], POLLIN, step.ms))
            return kOrderly;
        }
        break;
      case Step::kSleep:
        if (WaitFor(m_Wake[0], POLLIN, step.ms))
          return kOrderly;
        break;
      case Step::kHang: {
        // Until the stop signal or the peer closes; bytes it sends are dropped.
        char buf[1024];
        for (;;) {
          if (!WaitFor(peer.fd, POLLIN, 30000))
            return kOrderly;
          if (recv(peer.fd, buf, sizeof buf, 0) <= 0)
            return kOrderly;
        }
      }
      case Step::kFill: {
        std::string chunk(64 * 1024, 'x');
        size_t left = step.count;
        while (left > 0) {
          size_t n = std::min(left, chunk.size());
          if (!SendAll(peer, chunk.data(), n))
            return kOrderly;
          left -= n;
        }
        break;
      }
      case Step::kReset:
        return kWithReset;
      case Step::kCut:
        return kWithoutCloseNotify;
      case Step::kTunnel:
        Relay(peer.fd, static_cast<int>(step.count));
        return kOrderly;
      }
    }
    return kOrderly;
  }

  void Relay(int client, int port)
  {
    int target = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (connect(target, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      close(target);
      return;
    }
    char buf[16384];
    for (;;) {
      pollfd p[3] = {{client, POLLIN, 0}, {target, POLLIN, 0}, {m_Wake[0], POLLIN, 0}};
      if (poll(p, 3, kIdleMs) <= 0 || (p[2].revents & POLLIN))
        break;
      int from = (p[0].revents & (POLLIN | POLLHUP | POLLERR)) ? client : target;
      int to = from == client ? target : client;
      long n = recv(from, buf, sizeof buf, 0);
      if (n <= 0)
        break;
      if (send(to, buf, static_cast<size_t>(n), MSG_NOSIGNAL) != n)
        break;
    }
    close(target);
  }

  void Finish(Peer& peer, Ending ending)
  {
    if (ending == kWithReset) {
      linger l{1, 0};
      setsockopt(peer.fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    } else if (ending == kOrderly && peer.ssl != nullptr) {
      SSL_shutdown(peer.ssl);
    }
    if (peer.ssl != nullptr) {
      SSL_free(peer.ssl);
      ERR_clear_error();
    }
    close(peer.fd);
  }

  std::vector<Step> m_Script;
  Options m_Options;
  int m_Listen = -1;
  int m_Port = 0;
  int m_Wake[2] = {-1, -1};
  bool m_Ok = false;
  std::atomic<bool> m_Stop{false};
  std::atomic<int> m_Connections{0};
  std::mutex m_Mutex;
  std::vector<std::string> m_Requests;
  std::vector<std::string> m_ServerNames;
  std::thread m_Thread;
};

// A port on 127.0.0.1 that nobody listens on (bound, then released).
inline int UnusedPort()
{
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  close(fd);
  return ntohs(a.sin_port);
}

}  // namespace tbxtest

#endif
