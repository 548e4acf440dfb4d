// A scripted payment host on 127.0.0.1: answers each HTTP request with the body its script returns
// for the request target, and records the targets. Serves on its own thread, stops in its
// destructor, and never waits longer than kIoTimeoutMs for a peer.
#ifndef LOOPBACK_HOST_H
#define LOOPBACK_HOST_H

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tbxtest {

class LoopbackHost
{
public:
  // Receives the request target ("/capture?DATA=...&SIGNATURE=...") and returns the response body.
  using Script = std::function<std::string(const std::string& target)>;

  enum { kIoTimeoutMs = 5000, kMaxRequest = 1 << 20 };

  explicit LoopbackHost(Script script, int status = 200);
  ~LoopbackHost();
  LoopbackHost(const LoopbackHost&) = delete;
  LoopbackHost& operator=(const LoopbackHost&) = delete;

  int Port() const { return m_Port; }
  std::string Url(const std::string& path) const;
  std::vector<std::string> Targets() const;

private:
  void Serve();
  void Answer(int fd);

  Script m_Script;
  int m_Status;
  int m_Listen;
  int m_Port;
  std::atomic<bool> m_Stop;
  mutable std::mutex m_Lock;
  std::vector<std::string> m_Targets;
  std::thread m_Thread;
};

// The parts of a request target: DATA decoded, SIGNATURE as sent. False when either is malformed.
bool SplitRequest(const std::string& target, std::string& data, std::string& signature);

} // namespace tbxtest

#endif
