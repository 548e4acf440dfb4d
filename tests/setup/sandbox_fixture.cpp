#include "sandbox_fixture.h"

#include <dirent.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

namespace setuptest {

std::vector<std::string> ListDir(const std::string& dir)
{
  std::vector<std::string> names;
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr)
    return names;
  while (struct dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    if (name != "." && name != "..")
      names.push_back(name);
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

namespace {

void SnapshotInto(const std::string& root, const std::string& rel, std::vector<std::string>& out)
{
  for (const std::string& name : ListDir(root + "/" + rel)) {
    const std::string child = rel.empty() ? name : rel + "/" + name;
    struct stat st;
    if (::lstat((root + "/" + child).c_str(), &st) != 0)
      continue;
    if (S_ISDIR(st.st_mode)) {
      out.push_back(child + "/");
      SnapshotInto(root, child, out);
    } else {
      out.push_back(child + "=" + FileText(root + "/" + child));
    }
  }
}

}  // namespace

std::string Snapshot(const std::string& dir)
{
  std::vector<std::string> entries;
  SnapshotInto(dir, "", entries);
  std::string all;
  for (const std::string& e : entries)
    all += e + "\n";
  return all;
}

std::string AttributeOf(const std::string& xml, const std::string& name)
{
  const std::string key = " " + name + "=\"";
  const size_t at = xml.find(key);
  if (at == std::string::npos)
    return std::string();
  const size_t start = at + key.size();
  const size_t end = xml.find('"', start);
  return end == std::string::npos ? std::string() : xml.substr(start, end - start);
}

std::string QueryEncode(const std::string& text)
{
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

std::string HttpGet(int port, const std::string& path, int* status)
{
  if (status != nullptr)
    *status = 0;
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0)
    return std::string();
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
    const std::string request = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
        static_cast<ssize_t>(request.size())) {
      char buf[4096];
      for (;;) {
        struct pollfd p = {fd, POLLIN, 0};
        if (::poll(&p, 1, kIoMs) <= 0)
          break;
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
          break;
        answer.append(buf, static_cast<size_t>(n));
      }
    }
  }
  ::close(fd);
  const size_t head = answer.find("\r\n\r\n");
  if (head == std::string::npos)
    return std::string();
  if (status != nullptr && answer.size() > 12)
    *status = std::atoi(answer.c_str() + 9);
  return answer.substr(head + 4);
}

bool Sandbox::Start(bool tls)
{
  if (m_State.path().empty())
    return false;
  std::vector<std::string> extra;
  if (tls)
    extra.push_back("--tls");
  return m_Process.Start(m_State.path() + "/host", extra);
}

int Sandbox::Stop()
{
  return m_Process.Stop();
}

bool Sandbox::Fault(const std::string& query)
{
  int status = 0;
  HttpGet(port(), "/admin/fault?" + query, &status);
  return status == 200;
}

std::vector<std::string> Sandbox::TakeSetupLog()
{
  std::vector<std::string> entries;
  const std::string log = HttpGet(port(), "/admin/log?CLEAR=1");
  size_t pos = 0;
  while (pos < log.size()) {
    size_t end = log.find('\n', pos);
    if (end == std::string::npos)
      end = log.size();
    const std::string line = log.substr(pos, end - pos);
    if (line.compare(0, 6, "setup ") == 0)
      entries.push_back(line.substr(6));
    pos = end + 1;
  }
  return entries;
}

std::vector<std::string> Sandbox::TakeSetupTypes()
{
  std::vector<std::string> types;
  for (const std::string& entry : TakeSetupLog())
    types.push_back(AttributeOf(entry, "MSGTYPE"));
  return types;
}

}  // namespace setuptest
