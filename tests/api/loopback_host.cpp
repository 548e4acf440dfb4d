#include "loopback_host.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

#include "test_store.h"

namespace tbxtest {

LoopbackHost::LoopbackHost(Script script, int status)
  : m_Script(std::move(script)), m_Status(status), m_Listen(-1), m_Port(0), m_Stop(false)
{
  m_Listen = ::socket(AF_INET, SOCK_STREAM, 0);
  if (m_Listen < 0)
    throw std::runtime_error("socket failed");
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t size = sizeof addr;
  if (::bind(m_Listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(m_Listen, 16) != 0 ||
      ::getsockname(m_Listen, reinterpret_cast<sockaddr*>(&addr), &size) != 0) {
    ::close(m_Listen);
    throw std::runtime_error("cannot listen on 127.0.0.1");
  }
  m_Port = ntohs(addr.sin_port);
  m_Thread = std::thread([this] { Serve(); });
}

LoopbackHost::~LoopbackHost()
{
  m_Stop = true;
  m_Thread.join();
  ::close(m_Listen);
}

std::string LoopbackHost::Url(const std::string& path) const
{
  return "http://127.0.0.1:" + std::to_string(m_Port) + path;
}

std::vector<std::string> LoopbackHost::Targets() const
{
  std::lock_guard<std::mutex> guard(m_Lock);
  return m_Targets;
}

void LoopbackHost::Serve()
{
  while (!m_Stop) {
    pollfd p{m_Listen, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0)
      continue;
    const int fd = ::accept(m_Listen, nullptr, nullptr);
    if (fd < 0)
      continue;
    Answer(fd);
    ::close(fd);
  }
}

void LoopbackHost::Answer(int fd)
{
  std::string request;
  char chunk[4096];
  while (request.find("\r\n\r\n") == std::string::npos && request.size() < kMaxRequest) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, kIoTimeoutMs) <= 0)
      return;
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0)
      return;
    request.append(chunk, static_cast<size_t>(n));
  }
  // "GET <target> HTTP/1.0"
  const size_t start = request.find(' ');
  const size_t end = request.find(' ', start + 1);
  const std::string target =
    start == std::string::npos || end == std::string::npos ? "" : request.substr(start + 1, end - start - 1);
  {
    std::lock_guard<std::mutex> guard(m_Lock);
    m_Targets.push_back(target);
  }
  const std::string body = m_Script(target);
  const std::string response = "HTTP/1.0 " + std::to_string(m_Status) +
                               " Scripted\r\nContent-Type: text/xml\r\nContent-Length: " +
                               std::to_string(body.size()) + "\r\n\r\n" + body;
  size_t sent = 0;
  while (sent < response.size()) {
    const ssize_t n = ::send(fd, response.data() + sent, response.size() - sent, MSG_NOSIGNAL);
    if (n <= 0)
      return;
    sent += static_cast<size_t>(n);
  }
  ::shutdown(fd, SHUT_WR);
}

bool SplitRequest(const std::string& target, std::string& data, std::string& signature)
{
  const size_t d = target.find("?DATA=");
  if (d == std::string::npos)
    return false;
  const size_t s = target.find("&SIGNATURE=", d);
  const std::string encoded =
    target.substr(d + 6, s == std::string::npos ? std::string::npos : s - d - 6);
  signature = s == std::string::npos ? "" : target.substr(s + 11);
  return PercentDecode(encoded, data);
}

} // namespace tbxtest
