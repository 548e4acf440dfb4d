// A small HTTP/1.0 server on 127.0.0.1: one thread per connection (a bounded number of them), one
// request per connection, the answer ended by closing the connection as the client expects.
#ifndef SBHTTP_H
#define SBHTTP_H

#include "sbnocopy.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

typedef struct ssl_ctx_st SSL_CTX;

namespace sandbox {

// Bounds of one exchange.
constexpr size_t kMaxRequestHead = 64 * 1024;  // request line and headers together
constexpr size_t kMaxRequestBody = 64 * 1024;  // a form's body (Content-Length); 413 beyond
constexpr int kIoTimeoutSeconds = 10;          // a peer silent this long is dropped
constexpr size_t kMaxConnections = 32;         // connections served at once; more get 503

struct HttpRequest
{
  std::string method;
  std::string path;   // without the query, e.g. "/user/setup.asp"
  std::string query;  // after '?', still encoded
  std::vector<std::pair<std::string, std::string>> headers;  // names in lower case
  std::string body;                                          // as received (Content-Length bytes)

  // The value of the first header `name` (lower case), or "".
  std::string Header(const std::string& name) const;
  // The decoded value of the first query parameter `name`; false when absent or badly encoded.
  bool Param(const std::string& name, std::string& value) const;
  // The same for a field of a form's body (application/x-www-form-urlencoded).
  bool FormParam(const std::string& name, std::string& value) const;
};

struct HttpResponse
{
  // How the answer reaches the peer; the other modes exist to imitate a failing host.
  enum class Delivery
  {
    Normal,
    Close,
    Silent
  };

  int status = 200;
  std::string contentType = "text/xml";
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  Delivery delivery = Delivery::Normal;
  long delayMs = 0;  // Normal: wait before answering; Silent: hold the connection this long
};

using HttpHandler = std::function<HttpResponse(const HttpRequest&)>;

class HttpServer : NonCopyable
{
public:
  ~HttpServer();

  // Binds 127.0.0.1:`port` (0: any free port). False with `error` set on failure.
  bool Listen(int port, std::string& error);
  int Port() const { return m_Port; }

  // Serves https with this certificate (PEM) and key instead of plain http.
  bool EnableTls(const std::string& certFile, const std::string& keyFile, std::string& error);

  // Serves until `stopFd` becomes readable, then ends every connection and returns.
  void Run(int stopFd, const HttpHandler& handler);

  // Waits `ms` milliseconds; returns false at once when the server is stopping.
  bool Sleep(long ms);

private:
  struct Worker
  {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };

  void Serve(int fd, const HttpHandler& handler);
  void ReapWorkers(bool all);

  int m_Listen = -1;
  int m_Port = 0;
  SSL_CTX* m_Tls = nullptr;
  std::mutex m_Mutex;
  std::condition_variable m_Wake;
  bool m_Stopping = false;
  std::set<int> m_Active;
  std::list<Worker> m_Workers;
};

// Reads a request line and headers (without the blank line that ends them). False for anything
// that is not "METHOD /target HTTP/1.x" with "Name: value" headers; `req` may be partly filled.
bool ParseRequestHead(const std::string& head, HttpRequest& req);

// How many body bytes follow a parsed head (0 without Content-Length) and 0, or a status for the
// request: 411 with a Transfer-Encoding (bodies are read by length only), 400 for a malformed or
// repeated length, 413 beyond kMaxRequestBody.
int RequestBodyLength(const HttpRequest& req, size_t& length);

// The parts of a list such as "a=1&b=2" or an Accept header, split at every `separator`; an empty
// text is one empty part.
std::vector<std::string> SplitList(const std::string& text, char separator);

// "Bad Request" and friends.
const char* StatusText(int status);

}  // namespace sandbox

#endif
