// Starts the kestrum-sandbox program for a test and speaks raw HTTP/1.0 to it. Header-only and
// independent of the library, so any test suite can include it: define SANDBOX_BIN as the program's
// path (target_compile_definitions(... PRIVATE SANDBOX_BIN="$<TARGET_FILE:kestrum-sandbox>")) and
// add tests/sandbox to the include path.
//
//   sandbox_test::SandboxProcess host;
//   ASSERT_TRUE(host.Start(stateDir));        // host.url is "http://127.0.0.1:PORT"
//   sandbox_test::Reply r = sandbox_test::Exchange(host.port, "GET /admin/log HTTP/1.0\r\n\r\n");
//   EXPECT_EQ(host.Stop(), 0);                // SIGTERM, then the exit status
#ifndef SANDBOX_LAUNCHER_H
#define SANDBOX_LAUNCHER_H

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ftw.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace sandbox_test {

constexpr int kStartSeconds = 60;  // generous: sanitizer builds start slowly
constexpr int kStopSeconds = 30;

inline std::string Base64(const std::string& in)
{
  static const char abc[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < in.size(); i += 3) {
    unsigned v = static_cast<unsigned char>(in[i]) << 16;
    if (i + 1 < in.size())
      v |= static_cast<unsigned char>(in[i + 1]) << 8;
    if (i + 2 < in.size())
      v |= static_cast<unsigned char>(in[i + 2]);
    out += abc[(v >> 18) & 63];
    out += abc[(v >> 12) & 63];
    out += i + 1 < in.size() ? abc[(v >> 6) & 63] : '=';
    out += i + 2 < in.size() ? abc[v & 63] : '=';
  }
  return out;
}

inline int RemoveEntry(const char* path, const struct stat*, int, struct FTW*)
{
  return ::remove(path);
}

// The program under test, started with its own state directory.
class SandboxProcess
{
public:
  ~SandboxProcess()
  {
    if (m_Pid > 0)
      Stop(SIGKILL);
  }

  // Starts the program; false when it does not print its URL in time.
  bool Start(const std::string& stateDir, const std::vector<std::string>& extra = {},
             const char* program = SANDBOX_BIN)
  {
    int fds[2];
    if (::pipe(fds) != 0)
      return false;
    std::vector<std::string> args = {program, "--state", stateDir, "--port", "0", "--quiet"};
    args.insert(args.end(), extra.begin(), extra.end());
    m_Pid = ::fork();
    if (m_Pid == 0) {
      ::dup2(fds[1], 1);
      // Nothing of the test (sockets, pipes) leaks into the host.
      for (int fd = 3; fd < 1024; ++fd)
        ::close(fd);
      std::vector<char*> argv;
      for (auto& a : args)
        argv.push_back(&a[0]);
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(fds[1]);
    std::string line;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kStartSeconds);
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      struct pollfd p = {fds[0], POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0)
        continue;
      char c;
      if (::read(fds[0], &c, 1) != 1)
        break;
      line += c;
    }
    ::close(fds[0]);
    if (line.empty() || line.back() != '\n')
      return false;
    url = line.substr(0, line.size() - 1);
    port = std::atoi(url.substr(url.rfind(':') + 1).c_str());
    return port > 0;
  }

  // Sends `sig` and waits for the end: the exit status, or -1 when it had to be killed.
  int Stop(int sig = SIGTERM)
  {
    if (m_Pid <= 0)
      return -1;  // never kill(-1, ...): that signals every process we may signal
    ::kill(m_Pid, sig);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kStopSeconds);
    int status = 0;
    while (::waitpid(m_Pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        ::kill(m_Pid, SIGKILL);
        ::waitpid(m_Pid, &status, 0);
        m_Pid = -1;
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    m_Pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  // Waits for the program to end by itself (a failed start); its exit status or -1.
  int Wait()
  {
    if (m_Pid <= 0)
      return -1;
    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kStartSeconds);
    while (::waitpid(m_Pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline)
        return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    m_Pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string url;
  int port = 0;

private:
  pid_t m_Pid = -1;
};

struct Reply
{
  bool received = false;  // false: the connection failed or closed without a byte
  int status = 0;
  std::string head, body;

  std::string Header(const std::string& name) const
  {
    size_t pos = head.find("\r\n" + name + ": ");
    if (pos == std::string::npos)
      return std::string();
    pos += name.size() + 4;
    return head.substr(pos, head.find("\r\n", pos) - pos);
  }
};

// Sends raw bytes to 127.0.0.1:port and reads until the server closes. `halfClose` ends the
// sending side at once, as a peer that gives up does (the client itself never does).
inline Reply Exchange(int port, const std::string& request, bool halfClose = false)
{
  Reply reply;
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  struct timeval tv = {30, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  struct sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string raw;
  if (::connect(fd, reinterpret_cast<struct sockaddr*>(&addr), sizeof addr) == 0 &&
      ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
          static_cast<ssize_t>(request.size())) {
    if (halfClose)
      ::shutdown(fd, SHUT_WR);
    char buf[4096];
    ssize_t n;
    while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0)
      raw.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  reply.received = !raw.empty();
  size_t end = raw.find("\r\n\r\n");
  if (raw.compare(0, 9, "HTTP/1.0 ") == 0 && end != std::string::npos) {
    reply.status = std::atoi(raw.c_str() + 9);
    reply.head = raw.substr(0, end + 2);
    reply.body = raw.substr(end + 4);
  }
  return reply;
}

// A GET as the client's HTTP session writes it.
inline std::string ClientRequest(const std::string& target, const std::string& user = "",
                                 const std::string& password = "")
{
  return "GET " + target + " HTTP/1.0\r\nAuthorization: Basic " + Base64(user + ":" + password) +
         "\r\nUserAgent: Kestrum Application Component 1.0\r\n\r\n";
}

// Percent-decoding of the offer URLs the library builds ("%hh").
inline std::string PercentDecode(const std::string& text)
{
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// The value after "NAME=" on its own line of the host's authorisation page.
inline std::string PageLine(const std::string& page, const std::string& name)
{
  const std::string key = "\n" + name + "=";
  const size_t at = page.find(key);
  if (at == std::string::npos)
    return std::string();
  const size_t start = at + key.size();
  std::string line = page.substr(start, page.find('\n', start) - start);
  if (!line.empty() && line.back() == '\r')
    line.pop_back();
  return line;
}

// Removes a directory tree made by a test.
inline void RemoveTree(const std::string& dir)
{
  ::nftw(dir.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

}  // namespace sandbox_test

#endif
