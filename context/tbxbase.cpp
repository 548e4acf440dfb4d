// File-system side of the store: the atomic replacement of store files, the one reader of local
// files, and the creation of store directories.
#include "tbxbase.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <openssl/rand.h>

#include "mvbytes.h"
#include "tbxerr.h"
#include "tbxutil.h"

namespace {

// Error sites: the unit name and line values messages show (see "Error sites" in tbxerr.h).
const char kUnit[] = "tbxbase";
enum Site : long
{
  kSiteCreatePath = 55,
};

// Longest part of the target's name kept in a temporary file's name, so that a target whose
// name is near the file-system limit still gets a temporary name that fits.
const unsigned kTempNameStem = 64;
// Attempts at a fresh temporary name before giving up (each collision is one in 2^64).
const int kTempNameAttempts = 16;
// Bytes read from a file per call when its size is not known.
const size_t kReadChunk = 16384;

// Why a directory could not be made, and what to do about it.
MvString CannotCreate(const MvString& dir, int err)
{
  MvString text = "cannot create the directory " + dir + ": " + TBX_SystemErrorText(err);
  if (err == ENOENT)
    text += "; its parent directory must exist";
  else if (err == EACCES || err == EROFS)
    text += "; check that this user may write its parent directory";
  else if (err == ENOTDIR || err == EEXIST)
    text += "; a part of the path is a file, not a directory";
  return text;
}

MvString BaseName(const MvString& path)
{
  const char* s = path.c_str();
  const unsigned n = path.size();
  unsigned i = n;
  while (i > 0 && s[i - 1] != '/')
    --i;
  return path.substr(i);
}

// The whole content of the symbolic link at `path`, of any length.
bool ReadLink(const MvString& path, MvString& target)
{
  size_t size = 256;
  for (;;) {
    char* buf = static_cast<char*>(std::malloc(size));
    if (buf == nullptr) {
      errno = ENOMEM;
      return false;
    }
    const ssize_t n = readlink(path.c_str(), buf, size);
    if (n < 0) {
      const int e = errno;
      std::free(buf);
      errno = e;
      return false;
    }
    if (static_cast<size_t>(n) < size) {
      target.assign(buf, static_cast<unsigned>(n));
      std::free(buf);
      return true;
    }
    std::free(buf);
    if (size > (1u << 20)) {
      errno = ENAMETOOLONG;
      return false;
    }
    size *= 2;
  }
}

// Follows symbolic links from `path` to the file a write must replace. `*exists` tells whether
// that file exists (a dangling link names a file to be created); `st` is its status then.
bool ResolveTarget(const MvString& path, MvString& target, struct stat& st, bool& exists)
{
  MvString current = path;
  for (int hops = 0; hops <= TBX_MAX_SYMLINK_HOPS; ++hops) {
    if (lstat(current.c_str(), &st) != 0) {
      if (errno != ENOENT)
        return false;
      exists = false;
      target = current;
      return true;
    }
    if (!S_ISLNK(st.st_mode)) {
      exists = true;
      target = current;
      return true;
    }
    MvString link;
    if (!ReadLink(current, link))
      return false;
    if (link.empty()) {
      errno = ENOENT;
      return false;
    }
    if (link[0] == '/')
      current = link;
    else
      current = TBX_DirName(current) + "/" + link;
  }
  errno = ELOOP;
  return false;
}

void RandomSuffix(char out[TBX_TEMP_RANDOM_DIGITS + 1])
{
  unsigned char bytes[TBX_TEMP_RANDOM_DIGITS / 2];
  if (RAND_bytes(bytes, sizeof bytes) != 1) {
    // The generator is unavailable: a per-process counter with the pid and the clock still gives
    // a name nobody else uses; O_EXCL refuses the rare collision.
    const unsigned long pid = static_cast<unsigned long>(getpid());
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    unsigned long long v = (static_cast<unsigned long long>(ts.tv_nsec) << 16) ^ pid ^
                           static_cast<unsigned long long>(ts.tv_sec) * 2654435761ull;
    for (size_t i = 0; i < sizeof bytes; ++i)
      bytes[i] = static_cast<unsigned char>(v >> (8 * (i % 8)));
  }
  *MvHexWrite(bytes, sizeof bytes, out) = '\0';
}

// A writer holds an exclusive lock on its temporary file from creation until the file has its
// final name, so a temporary file whose lock can be had was left by a writer that died (killed
// between creation and rename): it is removed, whichever file it was for. Only names of this
// code's own form are looked at; temporary files of other users cannot be opened and stay.
void RemoveDeadTemps(const MvString& dir)
{
  DIR* d = opendir(dir.c_str());
  if (d == nullptr)
    return;
  const int dfd = dirfd(d);
  while (const struct dirent* entry = readdir(d)) {
    if (!TBX_IsTempName(entry->d_name))
      continue;
    const int fd = openat(dfd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
      continue;
    struct stat held, named;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0 && fstat(fd, &held) == 0 && S_ISREG(held.st_mode) &&
        fstatat(dfd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        held.st_ino == named.st_ino && held.st_dev == named.st_dev)
      unlinkat(dfd, entry->d_name, 0);
    close(fd);
  }
  closedir(d);
}

// True when `name` still names the file open as `fd`: a cleaner may have taken a temporary file
// for a dead writer's in the instant between its creation and its lock.
bool StillNamed(int fd, const MvString& name)
{
  struct stat held, named;
  return fstat(fd, &held) == 0 && lstat(name.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
         held.st_dev == named.st_dev;
}

bool WriteAll(int fd, const unsigned char* p, size_t left)
{
  while (left > 0) {
    const ssize_t n = write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return false;
    }
    if (n == 0) {
      errno = EIO;
      return false;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

long Fail(long code, int* sysError)
{
  if (sysError != nullptr)
    *sysError = errno;
  return code;
}

}  // namespace

MvString TBX_DirName(const MvString& path)
{
  const char* s = path.c_str();
  unsigned i = path.size();
  while (i > 0 && s[i - 1] != '/')
    --i;
  if (i == 0)
    return MvString(".");
  // Drop the separator(s) before the name, but keep a lone root.
  while (i > 1 && s[i - 1] == '/')
    --i;
  return path.substr(0, i);
}

bool TBX_HasZeroByte(const MvString& text)
{
  const char* s = text.c_str();
  return s != nullptr && std::memchr(s, '\0', text.size()) != nullptr;
}

long TBX_ReplaceFile(const MvString& path, const void* data, size_t length, bool privateFile,
                     int* sysError)
{
  if (path.empty() || TBX_HasZeroByte(path)) {
    errno = ENOENT;
    return Fail(TBX_E_FILE_NOT_FOUND, sysError);
  }

  MvString target;
  struct stat st;
  bool exists = false;
  if (!ResolveTarget(path, target, st, exists))
    return Fail(TBX_E_FILE_NOT_FOUND, sysError);
  if (exists && !S_ISREG(st.st_mode)) {
    errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return Fail(TBX_E_FILE_NOT_FOUND, sysError);
  }
  // A file its owner made read-only stays protected, as it was when it was opened for writing.
  if (exists && faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
    return Fail(TBX_E_FILE_NOT_FOUND, sysError);

  // A new ordinary file is created with TBX_FILE_MODE and the umask takes its bits off, as for
  // any new file; a replaced one is first created private and then given the old file's bits.
  const mode_t createMode = (privateFile || exists) ? TBX_PRIVATE_FILE_MODE : TBX_FILE_MODE;

  MvString dir = TBX_DirName(target);
  MvString stem = BaseName(target);
  if (stem.size() > kTempNameStem)
    stem = stem.substr(0, kTempNameStem);

  // Cleaned only where the file lies in the directory the caller named: a link may lead to a
  // directory of someone else's files, which is none of ours to tidy.
  if (target == path)
    RemoveDeadTemps(dir);
  MvString temp;
  int fd = -1;
  for (int attempt = 0; attempt < kTempNameAttempts && fd < 0; ++attempt) {
    char random[TBX_TEMP_RANDOM_DIGITS + 1];
    RandomSuffix(random);
    temp = dir + "/" TBX_TEMP_MARKER + random + "~" + stem;
    fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, createMode);
    if (fd < 0 && errno != EEXIST)
      return Fail(TBX_E_FILE_NOT_FOUND, sysError);
    if (fd >= 0 && (flock(fd, LOCK_EX) != 0 || !StillNamed(fd, temp))) {
      close(fd);
      fd = -1;
    }
  }
  if (fd < 0)
    return Fail(TBX_E_FILE_NOT_FOUND, sysError);

  bool ok = true;
  if (privateFile) {
    ok = fchmod(fd, TBX_PRIVATE_FILE_MODE) == 0;
  } else if (exists) {
    // Keep the owner where we may (root rewriting another user's file); a refusal is not an
    // error, the bytes are what matters.
    if (st.st_uid != geteuid() || st.st_gid != getegid()) {
      if (fchown(fd, st.st_uid, st.st_gid) != 0) {
      }
    }
    ok = fchmod(fd, st.st_mode & 07777) == 0;
  }
  ok = ok && WriteAll(fd, static_cast<const unsigned char*>(data), length);
  ok = ok && fsync(fd) == 0;
  if (!ok) {
    const int e = errno;
    close(fd);
    unlink(temp.c_str());
    errno = e;
    return Fail(TBX_E_FILE_IO, sysError);
  }
  // Renamed before it is closed, so the lock covers the file until it has its final name. The
  // bytes are synced: a late error of close changes nothing of them.
  if (rename(temp.c_str(), target.c_str()) != 0) {
    const int e = errno;
    unlink(temp.c_str());
    close(fd);
    errno = e;
    return Fail(TBX_E_FILE_IO, sysError);
  }
  close(fd);

  // Make the rename itself durable. The new content is in place either way, so a directory
  // that cannot be synced (some file systems refuse) does not turn success into failure.
  const int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    if (fsync(dfd) != 0) {
    }
    close(dfd);
  }
  return 0;
}

TBX_ReadResult TBX_ReadFile(const MvString& path, MvString& content, size_t limit,
                            struct stat* status)
{
  const int fd =
      path.empty() || TBX_HasZeroByte(path) ? -1 : open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return TBX_ReadResult::NotOpened;
  // A directory opens for reading but is no file to read; it is as absent as a missing one.
  struct stat st = {};
  const bool known = fstat(fd, &st) == 0;
  if (known && S_ISDIR(st.st_mode)) {
    close(fd);
    return TBX_ReadResult::NotOpened;
  }
  // Gathered apart from `content`, so that a failed read leaves it as it was. A regular file is
  // read in one call when its size allows: a read that returns less than asked is its end.
  MvString bytes;
  bool failed = false;
  try {
    const bool regular = known && S_ISREG(st.st_mode);
    size_t room = regular && st.st_size >= 0 && static_cast<uint64_t>(st.st_size) < 0xFFFFF000u
                      ? static_cast<size_t>(st.st_size) + 1
                      : kReadChunk;
    while (bytes.size() < limit) {
      if (room > limit - bytes.size())
        room = limit - bytes.size();
      bytes.grow(static_cast<unsigned>(room));
      char* at = bytes.begin() + bytes.size();
      const ssize_t n = ::read(fd, at, room);
      if (n < 0 && errno == EINTR)
        continue;
      if (n < 0) {
        failed = true;
        break;
      }
      if (n == 0)
        break;
      bytes.append(at, static_cast<unsigned>(n));  // in place: the bytes are already there
      if (regular && static_cast<size_t>(n) < room)
        break;
      room = kReadChunk;
    }
  } catch (...) {
    close(fd);
    throw;
  }
  close(fd);
  if (failed)
    return TBX_ReadResult::Failed;
  content = std::move(bytes);
  if (status != nullptr) {
    *status = st;
    if (!known)
      status->st_mode = 0;
  }
  return TBX_ReadResult::Read;
}

void TBX_CreateDirectory(const MvString& dir)
{
  const char* path = dir.c_str() != nullptr ? dir.c_str() : "";
  // Every message opens its store: a directory that everyone, or its owner when that is this
  // process, may read opens for certain, so one stat decides the common case.
  const mode_t readable = S_IRUSR | S_IRGRP | S_IROTH;
  struct stat st;
  if (!TBX_HasZeroByte(dir) && stat(path, &st) == 0 && S_ISDIR(st.st_mode)) {
    if ((st.st_mode & readable) == readable)
      return;
    const uid_t self = geteuid();
    if (self == 0 || (st.st_uid == self && (st.st_mode & S_IRUSR) != 0))
      return;
  }
  // Opened as opendir would (a directory this process may read), without its other calls.
  const int d = TBX_HasZeroByte(dir) ? -1 : open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (d >= 0) {
    close(d);
    return;
  }
  // The directory that will hold private keys is for this user alone.
  MvString trimmed = dir;
  while (trimmed.size() > 1 && trimmed[trimmed.size() - 1] == '/')
    trimmed = trimmed.substr(0, trimmed.size() - 1);
  const unsigned n = trimmed.size();
  const unsigned suffix = sizeof("keys/private") - 1;
  const bool privateDir = n >= suffix &&
                          std::memcmp(trimmed.c_str() + n - suffix, "keys/private", suffix) == 0 &&
                          (n == suffix || trimmed[n - suffix - 1] == '/');
  int err = 0;
  if (TBX_HasZeroByte(dir))
    err = EINVAL;
  else if (mkdir(path, privateDir ? TBX_PRIVATE_DIR_MODE : 0777) != 0)
    err = errno;
  if (err != 0)
    TBX_THROW(err, CannotCreate(dir, err), kUnit, kSiteCreatePath);
}

bool TBX_IsTempName(const char* name)
{
  const size_t marker = sizeof(TBX_TEMP_MARKER) - 1;
  const size_t n = std::strlen(name);
  if (n < marker + TBX_TEMP_RANDOM_DIGITS + 2 || std::memcmp(name, TBX_TEMP_MARKER, marker) != 0 ||
      name[marker + TBX_TEMP_RANDOM_DIGITS] != '~')
    return false;
  for (size_t i = marker; i < marker + TBX_TEMP_RANDOM_DIGITS; ++i) {
    if (!MvIsHexDigit(name[i]) || (name[i] >= 'A' && name[i] <= 'F'))
      return false;
  }
  return true;
}
