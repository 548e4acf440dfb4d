#include "sbfile.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sandbox {

std::string ErrnoText(int err)
{
  char buf[128];
  // The GNU strerror_r may return a static string instead of filling buf.
  const char* text = strerror_r(err, buf, sizeof buf);
  return std::string(text) + " (errno " + std::to_string(err) + ")";
}

bool ReadFile(const std::string& path, std::string& content, size_t limit)
{
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return false;
  std::string data;
  char buf[8192];
  bool ok = true;
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0 || data.size() + static_cast<size_t>(n) > limit) {
      ok = false;
      break;
    }
    if (n == 0)
      break;
    data.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  if (ok)
    content.swap(data);
  return ok;
}

bool WriteFileAtomic(const std::string& path, const std::string& content, unsigned mode,
                     std::string& error)
{
  // Threads of one process write distinct temporary names thanks to the counter.
  static std::atomic<unsigned long> counter{0};
  std::string tmp =
      path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(counter.fetch_add(1));
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) {
    error = "cannot create '" + tmp + "': " + ErrnoText(errno);
    return false;
  }
  size_t done = 0;
  while (done < content.size()) {
    ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0) {
      error = "cannot write '" + tmp + "': " + ErrnoText(errno);
      ::close(fd);
      ::unlink(tmp.c_str());
      return false;
    }
    done += static_cast<size_t>(n);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    error = "cannot flush '" + tmp + "': " + ErrnoText(errno);
    ::unlink(tmp.c_str());
    return false;
  }
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    error = "cannot rename '" + tmp + "' to '" + path + "': " + ErrnoText(errno);
    ::unlink(tmp.c_str());
    return false;
  }
  return true;
}

bool MakeDirs(const std::string& dir, unsigned mode, std::string& error)
{
  if (dir.empty()) {
    error = "empty directory name";
    return false;
  }
  for (size_t pos = 1;; ++pos) {
    pos = dir.find('/', pos);
    std::string part = dir.substr(0, pos);
    if (::mkdir(part.c_str(), mode) != 0 && errno != EEXIST) {
      error = "cannot create directory '" + part + "': " + ErrnoText(errno);
      return false;
    }
    if (pos == std::string::npos)
      break;
  }
  struct stat st;
  if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    error = "'" + dir + "' is not a directory";
    return false;
  }
  return true;
}

bool FileExists(const std::string& path)
{
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace sandbox
