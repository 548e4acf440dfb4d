// The sandbox host as a separate process for tests: started on a free port of 127.0.0.1 with its
// own state directory, driven through its administration paths, stopped with SIGTERM.
#ifndef TBX_TESTS_SANDBOX_FIXTURE_H
#define TBX_TESTS_SANDBOX_FIXTURE_H

#include <arpa/inet.h>
#include <fcntl.h>
#include <ftw.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sandbox_launcher.h"

namespace setuptest {

constexpr int kIoMs = 20000;  // administration requests give up after this

inline int RemoveEntry(const char* path, const struct stat*, int, struct FTW*)
{
  return ::remove(path);
}

// A directory removed with everything in it at the end of the scope.
class TempDir
{
public:
  TempDir()
  {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base ? base : "/tmp") + "/tbxsetup-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) != nullptr)
      m_Path = buf.data();
  }
  ~TempDir()
  {
    if (!m_Path.empty())
      ::nftw(m_Path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return m_Path; }

private:
  std::string m_Path;
};

inline bool ReadFile(const std::string& path, std::string& text)
{
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return false;
  std::ostringstream all;
  all << in.rdbuf();
  text = all.str();
  return true;
}

inline std::string FileText(const std::string& path)
{
  std::string text;
  ReadFile(path, text);
  return text;
}

inline bool Exists(const std::string& path)
{
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

inline void WriteFile(const std::string& path, const std::string& text)
{
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

// Names in a directory, sorted; empty when it cannot be read.
std::vector<std::string> ListDir(const std::string& dir);

// Every file below `dir` with its content, "relative/path=content" per entry, sorted: a snapshot
// to compare a store before and after a call.
std::string Snapshot(const std::string& dir);

// The value of attribute `name` in the first element of `xml` written as name="value" (the
// values these tests look at hold no entities).
std::string AttributeOf(const std::string& xml, const std::string& name);

// Percent-encodes for a query value.
std::string QueryEncode(const std::string& text);

// One HTTP/1.0 GET of `path` on 127.0.0.1:`port`; the body of the answer, empty on failure.
std::string HttpGet(int port, const std::string& path, int* status = nullptr);

// The kestrum-sandbox program (path SANDBOX_BIN) with a fresh state directory.
class Sandbox
{
public:
  Sandbox() = default;
  ~Sandbox() { Stop(); }
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  // Starts the host (with `tls`: https, CA in caFile()); false when it does not print its URL
  // in time.
  bool Start(bool tls = false);
  // SIGTERM and wait (SIGKILL when it does not end in time). The exit status, or -1.
  int Stop();

  const std::string& url() const { return m_Process.url; }
  std::string setupUrl() const { return m_Process.url + "/user/setup.asp"; }
  int port() const { return m_Process.port; }
  std::string caFile() const { return m_State.path() + "/host/ca.pem"; }

  // /admin/fault with the given query ("MODE=error&MATCH=..."); true when the host took it.
  bool Fault(const std::string& query);
  // The set-up requests the host received since the last call, one entry per request: the
  // request's XML text.
  std::vector<std::string> TakeSetupLog();
  // MSGTYPE of each entry of TakeSetupLog.
  std::vector<std::string> TakeSetupTypes();

private:
  TempDir m_State;
  sandbox_test::SandboxProcess m_Process;
};

// The account every fresh sandbox state has.
constexpr const char* kUser = "e40215536";
constexpr const char* kPassword = "Pq7mWz2L";

}  // namespace setuptest

#endif
