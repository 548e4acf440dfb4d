// A scripted HTTP peer on 127.0.0.1: serves one scripted answer per connection, in order, and
// records the request bytes of each. Used as origin server and as proxy.
#ifndef STREAM_LOOPBACK_H
#define STREAM_LOOPBACK_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace streamtest {

class LoopbackServer
{
public:
  struct Answer {
    std::string bytes;  // sent after the request's blank line, then the connection is closed
    bool hang = false;  // send nothing and keep the connection open until the peer gives up
  };

  // Listens on `port` (0: any free one); port() is 0 when that port cannot be had.
  explicit LoopbackServer(std::vector<Answer> answers, int port = 0) : m_Answers(std::move(answers))
  {
    m_Listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(m_Listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (bind(m_Listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(m_Listen, 8) != 0)
      return;
    socklen_t len = sizeof addr;
    getsockname(m_Listen, reinterpret_cast<sockaddr*>(&addr), &len);
    m_Port = ntohs(addr.sin_port);
    m_Thread = std::thread([this] { Serve(); });
  }

  ~LoopbackServer()
  {
    m_Stop = true;
    if (m_Thread.joinable())
      m_Thread.join();
    close(m_Listen);
  }

  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  int port() const { return m_Port; }
  std::string authority() const { return "127.0.0.1:" + std::to_string(m_Port); }

  std::vector<std::string> requests()
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Requests;
  }

  // The first line of each request.
  std::vector<std::string> requestLines()
  {
    std::vector<std::string> lines;
    for (const std::string& r : requests())
      lines.push_back(r.substr(0, r.find("\r\n")));
    return lines;
  }

private:
  // Waits up to `ms` for `fd` to become readable; false on time-out or stop.
  bool WaitReadable(int fd, int ms)
  {
    for (int waited = 0; waited < ms && !m_Stop; waited += 50) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 50) > 0)
        return true;
    }
    return false;
  }

  void Serve()
  {
    for (size_t next = 0; next < m_Answers.size() && !m_Stop;) {
      if (!WaitReadable(m_Listen, 100))
        continue;
      const int fd = accept4(m_Listen, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0)
        continue;
      const Answer& answer = m_Answers[next++];
      std::string request;
      char buf[4096];
      while (request.find("\r\n\r\n") == std::string::npos && WaitReadable(fd, 5000)) {
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
          break;
        request.append(buf, static_cast<size_t>(n));
      }
      {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Requests.push_back(request);
      }
      if (answer.hang) {
        // Until the client closes (recv 0) or the test ends.
        while (WaitReadable(fd, 20000) && recv(fd, buf, sizeof buf, 0) > 0) {
        }
      } else {
        size_t sent = 0;
        while (sent < answer.bytes.size()) {
          const ssize_t n = send(fd, answer.bytes.data() + sent, answer.bytes.size() - sent,
                                 MSG_NOSIGNAL);
          if (n <= 0)
            break;
          sent += static_cast<size_t>(n);
        }
        shutdown(fd, SHUT_WR);
        // Drain what the client still sends so that the close does not reset the answer.
        while (WaitReadable(fd, 1000) && recv(fd, buf, sizeof buf, 0) > 0) {
        }
      }
      close(fd);
    }
  }

  std::vector<Answer> m_Answers;
  int m_Listen = -1;
  int m_Port = 0;
  std::atomic<bool> m_Stop{false};
  std::mutex m_Mutex;
  std::vector<std::string> m_Requests;
  std::thread m_Thread;
};

inline LoopbackServer::Answer Ok(const std::string& body)
{
  return {"HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\n\r\n" + body, false};
}

inline LoopbackServer::Answer Hang()
{
  return {"", true};
}

}  // namespace streamtest

#endif
