#include "sbhttp.h"

#include "sbcrypto.h"
#include "sbfile.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sandbox {

namespace {

constexpr int kDrainMillis = 2000;  // how long a closing connection waits for the peer's close

std::string Lower(std::string s)
{
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

std::string Trim(const std::string& s)
{
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos)
    return std::string();
  size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

// One accepted connection, plain or TLS.
class Connection
{
public:
  Connection(int fd, SSL* ssl) : m_Fd(fd), m_Ssl(ssl) {}
  ~Connection()
  {
    if (m_Ssl)
      SSL_free(m_Ssl);
  }

  long Read(char* buf, size_t len)
  {
    if (m_Ssl) {
      int n = SSL_read(m_Ssl, buf, static_cast<int>(len));
      return n > 0 ? n : (SSL_get_error(m_Ssl, n) == SSL_ERROR_ZERO_RETURN ? 0 : -1);
    }
    for (;;) {
      ssize_t n = ::recv(m_Fd, buf, len, 0);
      if (n < 0 && errno == EINTR)
        continue;
      return static_cast<long>(n);
    }
  }

  bool WriteAll(const std::string& data)
  {
    size_t done = 0;
    while (done < data.size()) {
      long n;
      if (m_Ssl) {
        n = SSL_write(m_Ssl, data.data() + done, static_cast<int>(data.size() - done));
      } else {
        n = ::send(m_Fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
          continue;
      }
      if (n <= 0)
        return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

  // Ends our side and waits briefly for the peer's, so the answer is not lost to a reset.
  void Finish(bool sentAnswer)
  {
    if (m_Ssl && sentAnswer)
      SSL_shutdown(m_Ssl);
    ::shutdown(m_Fd, SHUT_WR);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kDrainMillis);
    char buf[1024];
    for (;;) {
      long left = std::chrono::duration_cast<std::chrono::milliseconds>(
                      deadline - std::chrono::steady_clock::now())
                      .count();
      if (left <= 0)
        break;
      struct pollfd p = {m_Fd, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) <= 0)
        break;
      ssize_t n = ::recv(m_Fd, buf, sizeof buf, 0);
      if (n <= 0)
        break;
    }
  }

private:
  int m_Fd;
  SSL* m_Ssl;
};

}  // namespace

bool ParseRequestHead(const std::string& head, HttpRequest& req)
{
  size_t eol = head.find('\n');
  std::string line = Trim(head.substr(0, eol));
  size_t s1 = line.find(' ');
  size_t s2 = s1 == std::string::npos ? s1 : line.find(' ', s1 + 1);
  if (s2 == std::string::npos || line.find(' ', s2 + 1) != std::string::npos)
    return false;
  req.method = line.substr(0, s1);
  std::string target = line.substr(s1 + 1, s2 - s1 - 1);
  std::string version = line.substr(s2 + 1);
  if (req.method.empty() || version.compare(0, 7, "HTTP/1.") != 0)
    return false;
  for (unsigned char c : target) {
    if (c < 0x21 || c == 0x7f)
      return false;
  }
  // The absolute form a proxy would send: drop the scheme and authority.
  for (const char* scheme : {"http://", "https://"}) {
    std::string prefix = scheme;
    if (target.compare(0, prefix.size(), prefix) == 0) {
      size_t slash = target.find('/', prefix.size());
      target = slash == std::string::npos ? "/" : target.substr(slash);
    }
  }
  if (target.empty() || target[0] != '/')
    return false;
  size_t q = target.find('?');
  req.path = target.substr(0, q);
  req.query = q == std::string::npos ? std::string() : target.substr(q + 1);
  while (eol != std::string::npos) {
    size_t start = eol + 1;
    eol = head.find('\n', start);
    std::string h = head.substr(start, eol == std::string::npos ? std::string::npos : eol - start);
    if (!h.empty() && h.back() == '\r')
      h.pop_back();
    if (h.empty())
      break;
    size_t colon = h.find(':');
    if (colon == std::string::npos || colon == 0)
      return false;
    req.headers.emplace_back(Lower(h.substr(0, colon)), Trim(h.substr(colon + 1)));
  }
  return true;
}

namespace {

std::string FormatResponse(const HttpResponse& resp)
{
  std::string out = "HTTP/1.0 " + std::to_string(resp.status) + " " + StatusText(resp.status) +
                    "\r\nServer: kestrum-sandbox\r\n";
  if (!resp.contentType.empty())
    out += "Content-Type: " + resp.contentType + "\r\n";
  for (const auto& h : resp.headers)
    out += h.first + ": " + h.second + "\r\n";
  out += "Content-Length: " + std::to_string(resp.body.size()) + "\r\nConnection: close\r\n\r\n";
  return out + resp.body;
}

HttpResponse PlainError(int status, const std::string& text)
{
  HttpResponse resp;
  resp.status = status;
  resp.contentType = "text/plain; charset=utf-8";
  resp.body = text + "\n";
  return resp;
}

}  // namespace

const char* StatusText(int status)
{
  switch (status) {
  case 200:
    return "OK";
  case 302:
    return "Found";
  case 400:
    return "Bad Request";
  case 401:
    return "Unauthorized";
  case 403:
    return "Forbidden";
  case 404:
    return "Not Found";
  case 405:
    return "Method Not Allowed";
  case 408:
    return "Request Timeout";
  case 411:
    return "Length Required";
  case 413:
    return "Payload Too Large";
  case 431:
    return "Request Header Fields Too Large";
  case 500:
    return "Internal Server Error";
  case 502:
    return "Bad Gateway";
  case 503:
    return "Service Unavailable";
  case 504:
    return "Gateway Timeout";
  default:
    return "Status";
  }
}

std::string HttpRequest::Header(const std::string& name) const
{
  for (const auto& h : headers) {
    if (h.first == name)
      return h.second;
  }
  return std::string();
}

namespace {

// The decoded value of the first field `name` of "a=1&b=2".
bool EncodedField(const std::string& fields, const std::string& name, std::string& value)
{
  for (const std::string& part : SplitList(fields, '&')) {
    size_t eq = part.find('=');
    if (part.substr(0, eq) == name)
      return UrlDecode(eq == std::string::npos ? std::string() : part.substr(eq + 1), value);
  }
  return false;
}

}  // namespace

std::vector<std::string> SplitList(const std::string& text, char separator)
{
  std::vector<std::string> parts;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find(separator, pos);
    if (end == std::string::npos)
      end = text.size();
    parts.push_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  return parts;
}

bool HttpRequest::Param(const std::string& name, std::string& value) const
{
  return EncodedField(query, name, value);
}

bool HttpRequest::FormParam(const std::string& name, std::string& value) const
{
  return EncodedField(body, name, value);
}

int RequestBodyLength(const HttpRequest& req, size_t& length)
{
  length = 0;  // no Content-Length: no body
  bool hasLength = false;
  for (const auto& h : req.headers) {
    if (h.first == "transfer-encoding")
      return 411;
    if (h.first != "content-length")
      continue;
    // Two lengths, even equal ones, are how requests get smuggled past a proxy.
    if (hasLength || h.second.empty() || h.second.size() > 18 ||
        h.second.find_first_not_of("0123456789") != std::string::npos)
      return 400;
    hasLength = true;
    length = std::stoull(h.second);
  }
  return length > kMaxRequestBody ? 413 : 0;
}

HttpServer::~HttpServer()
{
  if (m_Listen >= 0)
    ::close(m_Listen);
  if (m_Tls)
    SSL_CTX_free(m_Tls);
}

bool HttpServer::Listen(int port, std::string& error)
{
  m_Listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (m_Listen < 0) {
    error = "socket: " + ErrnoText(errno);
    return false;
  }
  int one = 1;
  ::setsockopt(m_Listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  struct sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(m_Listen, reinterpret_cast<struct sockaddr*>(&addr), sizeof addr) != 0) {
    error = "cannot bind 127.0.0.1:" + std::to_string(port) + ": " + ErrnoText(errno);
    return false;
  }
  if (::listen(m_Listen, 64) != 0) {
    error = "listen: " + ErrnoText(errno);
    return false;
  }
  socklen_t len = sizeof addr;
  if (::getsockname(m_Listen, reinterpret_cast<struct sockaddr*>(&addr), &len) != 0) {
    error = "getsockname: " + ErrnoText(errno);
    return false;
  }
  m_Port = ntohs(addr.sin_port);
  return true;
}

bool HttpServer::EnableTls(const std::string& certFile, const std::string& keyFile,
                           std::string& error)
{
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  if (!ctx || SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION) != 1 ||
      SSL_CTX_use_certificate_chain_file(ctx, certFile.c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(ctx, keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_check_private_key(ctx) != 1) {
    char buf[256];
    ERR_error_string_n(ERR_get_error(), buf, sizeof buf);
    error = "cannot load '" + certFile + "' and its key: " + buf;
    SSL_CTX_free(ctx);
    return false;
  }
  m_Tls = ctx;
  return true;
}

bool HttpServer::Sleep(long ms)
{
  std::unique_lock<std::mutex> lock(m_Mutex);
  return !m_Wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_Stopping; });
}

void HttpServer::ReapWorkers(bool all)
{
  for (auto it = m_Workers.begin(); it != m_Workers.end();) {
    if (all || it->done->load()) {
      it->thread.join();
      it = m_Workers.erase(it);
    } else {
      ++it;
    }
  }
}

void HttpServer::Run(int stopFd, const HttpHandler& handler)
{
  for (;;) {
    struct pollfd fds[2] = {{m_Listen, POLLIN, 0}, {stopFd, POLLIN, 0}};
    int n = ::poll(fds, 2, 1000);
    ReapWorkers(false);
    if (n < 0 && errno != EINTR)
      break;
    if (n <= 0)
      continue;
    if (fds[1].revents)
      break;
    if (!(fds[0].revents & POLLIN))
      continue;
    int fd = ::accept4(m_Listen, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      // Out of descriptors: the pending connection stays queued; wait rather than spin.
      if (errno == EMFILE || errno == ENFILE)
        Sleep(100);
      continue;
    }
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      if (m_Active.size() >= kMaxConnections) {
        // Busy: a short answer without reading the request, as a loaded host would give.
        std::string busy = FormatResponse(PlainError(503, "the sandbox is busy"));
        (void)::send(fd, busy.data(), busy.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        ::close(fd);
        continue;
      }
      m_Active.insert(fd);
    }
    auto done = std::make_shared<std::atomic<bool>>(false);
    try {
      m_Workers.push_back(Worker{std::thread([this, fd, done, &handler] {
                                   Serve(fd, handler);
                                   done->store(true);
                                 }),
                                 done});
    } catch (const std::exception&) {
      std::lock_guard<std::mutex> lock(m_Mutex);
      m_Active.erase(fd);
      ::close(fd);
    }
  }
  ::close(m_Listen);
  m_Listen = -1;
  {
    // Wake every sleeper and unblock every read or write so each worker ends promptly.
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Stopping = true;
    for (int fd : m_Active)
      ::shutdown(fd, SHUT_RDWR);
  }
  m_Wake.notify_all();
  ReapWorkers(true);
}

void HttpServer::Serve(int fd, const HttpHandler& handler)
{
  struct timeval tv = {kIoTimeoutSeconds, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  SSL* ssl = nullptr;
  bool handshaken = true;
  if (m_Tls) {
    ssl = SSL_new(m_Tls);
    handshaken = ssl && SSL_set_fd(ssl, fd) == 1 && SSL_accept(ssl) == 1;
    ERR_clear_error();
  }
  {
    Connection conn(fd, ssl);
    bool answered = false;
    if (handshaken) {
      std::string head;
      HttpResponse resp;
      bool complete = false;
      char buf[4096];
      std::string body;  // what arrived after the head
      while (head.size() <= kMaxRequestHead) {
        long n = conn.Read(buf, sizeof buf);
        if (n <= 0)
          break;
        head.append(buf, static_cast<size_t>(n));
        size_t end = head.find("\r\n\r\n"), gap = 4;
        if (end == std::string::npos) {
          end = head.find("\n\n");
          gap = 2;
        }
        if (end != std::string::npos) {
          body = head.substr(end + gap);
          head.resize(end);
          complete = true;
          break;
        }
      }
      bool respond = true;
      if (complete) {
        HttpRequest req;
        size_t length = 0;
        int refusal = 0;
        if (!ParseRequestHead(head, req)) {
          resp = PlainError(400, "malformed request");
        } else if ((refusal = RequestBodyLength(req, length)) != 0) {
          resp = PlainError(refusal, refusal == 413 ? "request body too large"
                                                    : "a request body needs one Content-Length");
        } else {
          while (body.size() < length) {
            long n = conn.Read(buf, sizeof buf);
            if (n <= 0)
              break;
            body.append(buf, static_cast<size_t>(n));
          }
          // Short of its Content-Length: the peer went away or stayed silent.
          respond = body.size() >= length;
          if (respond) {
            body.resize(length);
            req.body = body;
            try {
              resp = handler(req);
            } catch (const std::exception& e) {
              resp = PlainError(500, std::string("internal error: ") + e.what());
            }
          }
        }
      } else if (head.size() > kMaxRequestHead) {
        resp = PlainError(431, "request too large");
      } else {
        respond = false;  // the peer went away or stayed silent
      }
      if (respond) {
        switch (resp.delivery) {
        case HttpResponse::Delivery::Normal:
          if (resp.delayMs <= 0 || Sleep(resp.delayMs))
            answered = conn.WriteAll(FormatResponse(resp));
          break;
        case HttpResponse::Delivery::Silent:
          Sleep(resp.delayMs);
          break;
        case HttpResponse::Delivery::Close:
          break;
        }
      }
    }
    ERR_clear_error();
    conn.Finish(answered);
    ERR_clear_error();
  }
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Active.erase(fd);
    ::close(fd);
  }
}

}  // namespace sandbox
