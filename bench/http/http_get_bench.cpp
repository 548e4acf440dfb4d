// Sequential small GETs against a loopback server: our session beside libcurl fetching the same
// URL in the same run. Both open a new connection per request (HTTP/1.0, no reuse); the ratio
// printed at the end is our time per request over curl's.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <string>
#include <thread>

#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include "tbxerr.h"
#include "tbxhttp.h"

namespace {

const char kBody[] =
    "<TBX MSGTYPE=\"PayConfirm\" ID=\"4711\" TOKEN=\"0123456789abcdef0123456789abcdef\"/>";

// Answers every connection with one small XML document and closes it.
class Server
{
public:
  Server()
  {
    m_Listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(m_Listen, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(m_Listen, 128);
    socklen_t len = sizeof a;
    getsockname(m_Listen, reinterpret_cast<sockaddr*>(&a), &len);
    m_Port = ntohs(a.sin_port);
    m_Answer = std::string("HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\nContent-Length: ") +
               std::to_string(sizeof kBody - 1) + "\r\n\r\n" + kBody;
    m_Thread = std::thread([this] { Serve(); });
  }
  ~Server()
  {
    m_Stop = true;
    shutdown(m_Listen, SHUT_RDWR);
    m_Thread.join();
    close(m_Listen);
  }
  std::string Url() const
  {
    return "http://127.0.0.1:" + std::to_string(m_Port) + "/pay/capture?DATA=1";
  }

private:
  void Serve()
  {
    while (!m_Stop) {
      int fd = accept4(m_Listen, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0)
        continue;
      std::string request;
      char buf[2048];
      while (request.find("\r\n\r\n") == std::string::npos) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 2000) <= 0)
          break;
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
          break;
        request.append(buf, static_cast<size_t>(n));
      }
      send(fd, m_Answer.data(), m_Answer.size(), MSG_NOSIGNAL);
      close(fd);
    }
  }

  int m_Listen = -1;
  int m_Port = 0;
  std::string m_Answer;
  std::atomic<bool> m_Stop{false};
  std::thread m_Thread;
};

Server* g_Server = nullptr;

void BM_TbxHttpSession(benchmark::State& state)
{
  URL_INFO info;
  const std::string url = g_Server->Url();
  SplitUrl(MvString(url.c_str()), info);
  for (auto _ : state) {
    MvStringStream out;
    try {
      HttpSession(info, out);
    } catch (const TBX_Exception& e) {
      state.SkipWithError(e.m_Message.c_str());
      break;
    }
    if (out.str().size() != sizeof kBody - 1) {
      state.SkipWithError("wrong body");
      break;
    }
  }
}

size_t Collect(char* data, size_t size, size_t count, void* user)
{
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

void BM_Curl(benchmark::State& state)
{
  CURL* curl = curl_easy_init();
  std::string body;
  const std::string url = g_Server->Url();
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0);
  curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
  curl_easy_setopt(curl, CURLOPT_HTTPAUTH, CURLAUTH_BASIC);
  curl_easy_setopt(curl, CURLOPT_USERPWD, ":");
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  for (auto _ : state) {
    body.clear();
    if (curl_easy_perform(curl) != CURLE_OK || body.size() != sizeof kBody - 1) {
      state.SkipWithError("curl failed");
      break;
    }
  }
  curl_easy_cleanup(curl);
}

BENCHMARK(BM_TbxHttpSession)->UseRealTime();
BENCHMARK(BM_Curl)->UseRealTime();

// Prints the usual table, then our time over the baseline's.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
  void ReportRuns(const std::vector<Run>& runs) override
  {
    for (const Run& r : runs)
      if (!r.error_occurred && r.run_type == Run::RT_Iteration)
        m_Time[r.benchmark_name()] = r.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override
  {
    ConsoleReporter::Finalize();
    auto ours = m_Time.find("BM_TbxHttpSession/real_time");
    auto base = m_Time.find("BM_Curl/real_time");
    if (ours != m_Time.end() && base != m_Time.end() && base->second > 0)
      std::printf("ratio HttpSession/libcurl (time per GET): %.2f\n", ours->second / base->second);
  }

private:
  std::map<std::string, double> m_Time;
};

}  // namespace

int main(int argc, char** argv)
{
  curl_global_init(CURL_GLOBAL_DEFAULT);
  benchmark::Initialize(&argc, argv);
  Server server;
  g_Server = &server;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  g_Server = nullptr;
  curl_global_cleanup();
  benchmark::Shutdown();
  return 0;
}
