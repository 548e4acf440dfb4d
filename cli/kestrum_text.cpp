#include "kestrum_text.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "kestrum_report.h"
#include "tbxapp.h"

namespace {

// Measures, then fetches, a text of the library's (length, buffer) convention: `get(length,
// buffer)` is the library call. `fromLibrary` tells a failed library call from a failed allocation.
template <class Get>
long FetchText(Get get, std::unique_ptr<char[]>& text, bool& fromLibrary)
{
  fromLibrary = true;
  long length = 0;
  long result = get(&length, nullptr);
  if (result != TBX_E_BUFFER_TOO_SMALL && result != TBX_OK)
    return result;
  text.reset(new (std::nothrow) char[static_cast<size_t>(length)]);
  if (!text) {
    fromLibrary = false;
    return TBX_E_OUT_OF_MEMORY;
  }
  return get(&length, text.get());
}

// The same, with the error report for a failed library call.
template <class Get>
long FetchReported(Get get, std::unique_ptr<char[]>& text)
{
  bool fromLibrary = true;
  const long result = FetchText(get, text, fromLibrary);
  return fromLibrary ? Check(result) : result;
}

// Writes all of `size` bytes; false with errno set otherwise.
bool WriteAll(int fd, const char* data, size_t size)
{
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Writes `size` bytes of `data` over the contents of `path`, in place.
long WriteInPlace(const char* path, const char* data, size_t size)
{
  errno = 0;
  FILE* file = std::fopen(path, "wb");
  if (file == nullptr)
    return OsError(errno);
  const bool written = std::fwrite(data, 1, size, file) == size;
  const int writeError = errno;
  if (std::fclose(file) != 0 || !written)
    return OsError(written ? errno : writeError);
  return TBX_OK;
}

// The temporary file a save of `path` by process `pid` writes first.
std::string SaveTemporary(const std::string& path, long pid)
{
  return path + ".kestrum-" + std::to_string(pid) + ".tmp";
}

// Removes what saves of `path` killed before their rename left: "PATH.kestrum-PID.tmp" whose
// process is gone (or is this one, which is not saving yet) and whose lock can be had. Only names
// of exactly this form, for this file, are looked at.
void RemoveDeadSaves(const std::string& path)
{
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const std::string prefix =
      (slash == std::string::npos ? path : path.substr(slash + 1)) + ".kestrum-";
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr)
    return;
  while (const struct dirent* entry = ::readdir(d)) {
    const std::string name = entry->d_name;
    if (name.size() <= prefix.size() + 4 || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - 4, 4, ".tmp") != 0)
      continue;
    const std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - 4);
    if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
      continue;
    const long pid = std::stol(digits);
    if (pid != ::getpid() && !(::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH))
      continue;
    const int fd =
        ::openat(::dirfd(d), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
      continue;
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
      ::unlinkat(::dirfd(d), name.c_str(), 0);
    ::close(fd);
  }
  ::closedir(d);
}

// Replaces the contents of `path` with `size` bytes of `data`. A regular file (or a new one) is
// replaced through a temporary file in the same directory and a rename, so a failed write leaves
// the previous content rather than a cut message. Anything else (a device, a pipe, a symbolic
// link), and an existing file in a directory where no temporary file can be made, is written in
// place. The result is 0 or the operating system's error number.
long SaveText(const char* path, const char* data, size_t size)
{
  struct stat st;
  const bool exists = ::lstat(path, &st) == 0;
  if (exists && !S_ISREG(st.st_mode))
    return WriteInPlace(path, data, size);
  // A file that may not be written stays as it is, as opening it for writing would refuse.
  errno = 0;
  if (exists && ::access(path, W_OK) != 0)
    return OsError(errno);

  RemoveDeadSaves(path);
  const std::string temporary = SaveTemporary(path, ::getpid());
  errno = 0;
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0)
    return exists ? WriteInPlace(path, data, size) : OsError(errno);
  // Held until the file is renamed or removed: a save that finds it cannot be had leaves it.
  ::flock(fd, LOCK_EX);
  bool ok = (!exists || ::fchmod(fd, st.st_mode & 07777) == 0) && WriteAll(fd, data, size) &&
            ::fsync(fd) == 0;
  int error = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok && ::rename(temporary.c_str(), path) != 0) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    ::unlink(temporary.c_str());
    return OsError(error);
  }
  return TBX_OK;
}

}  // namespace

long WriteOut(const char* text)
{
  errno = 0;
  if (std::fputs(text, stdout) == EOF || std::fflush(stdout) != 0)
    return OsError(errno);
  return TBX_OK;
}

long WriteMessage(void* message, const char* path, bool& fromLibrary)
{
  std::unique_ptr<char[]> text;
  const long result =
      FetchText([message](long* length,
                          char* buffer) { return MessageObject_ToString(message, length, buffer); },
                text, fromLibrary);
  if (result != TBX_OK)
    return result;
  fromLibrary = false;
  return path != nullptr ? SaveText(path, text.get(), std::strlen(text.get()))
                         : WriteOut(text.get());
}

long LoadMessage(void* message, const char* path, bool& fromLibrary, std::string& reason)
{
  fromLibrary = false;
  reason = std::string("cannot read the saved message ") + path + ": ";
  errno = 0;
  FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    reason += SystemReason(OsError(errno));
    return TBX_E_FILE_NOT_FOUND;
  }
  errno = 0;
  long size = -1;
  if (std::fseek(file, 0, SEEK_END) == 0)
    size = std::ftell(file);
  if (size < 0 || std::fseek(file, 0, SEEK_SET) != 0) {
    const long result = OsError(errno);
    std::fclose(file);
    reason += SystemReason(result);
    return result;
  }
  std::unique_ptr<char[]> text(new (std::nothrow) char[static_cast<size_t>(size) + 1]);
  if (!text) {
    std::fclose(file);
    return TBX_E_OUT_OF_MEMORY;
  }
  errno = 0;
  const size_t read = std::fread(text.get(), 1, static_cast<size_t>(size), file);
  const int readError = errno;
  std::fclose(file);
  if (read != static_cast<size_t>(size)) {
    reason += SystemReason(OsError(readError));
    return OsError(readError);
  }
  text[read] = '\0';
  fromLibrary = true;
  reason = std::string(path) + ": ";
  return MessageObject_FromString(message, text.get());
}

long FetchAttribute(void* message, const char* name, std::unique_ptr<char[]>& value)
{
  return FetchReported(
      [message, name](long* length, char* buffer) {
        return MessageObject_GetAttribute(message, name, length, buffer);
      },
      value);
}

long FetchURL(void* message, std::unique_ptr<char[]>& url)
{
  return FetchReported(
      [message](long* length, char* buffer) {
        return MessageObject_GetURL(message, length, buffer);
      },
      url);
}