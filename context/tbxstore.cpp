// The configuration store: its path, the values and files it holds, and the directory,
// working-directory and identifier helpers.
#include "tbxstore.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <uuid/uuid.h>

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include "mvbytes.h"
#include "tbxbase.h"
#include "tbxctx_sites.h"
#include "tbxsnapshot.h"
#include "tbxerr.h"
#include "tbxtrace.h"
#include "tbxurl.h"
#include "tbxutil.h"
#include "tbxxml.h"
#include "xmlElement.h"
#include "xmlParser.h"
#include "xmltab.h"

namespace {

// True when the store file `file` lies in a directory named keys/private: its path components,
// "." and empty ones skipped, end in "keys", "private", name.
bool IsPrivateKeyFile(const MvString& file)
{
  MvString parts[2];
  MvString part;
  const unsigned n = file.size();
  for (unsigned i = 0; i < n; ++i) {
    if (file[i] != '/') {
      part += file[i];
      continue;
    }
    if (!part.empty() && !(part == ".")) {
      parts[0] = parts[1];
      parts[1] = part;
    }
    part = MvString();
  }
  return parts[0] == "keys" && parts[1] == "private";
}

// Replaces the store file `file` at `path` atomically; a failure names the path and the system's
// reason, at `openSite` when the file could not be created, else at `writeSite`.
void ReplaceStoreFile(const MvString& path, const MvString& file, const void* data, size_t length,
                      Site openSite, Site writeSite)
{
  int err = 0;
  const long rc = TBX_ReplaceFile(path, data, length, IsPrivateKeyFile(file), &err);
  if (rc != 0)
    TBX_THROW(rc, "cannot write " + path + ": " + TBX_SystemErrorText(err), kUnit,
              rc == TBX_E_FILE_NOT_FOUND ? openSite : writeSite);
}

// The store file at `path` holding `content`, parsed; a failure names the file.
void ParseStoreFile(const MvString& path, const MvString& content, xmlElementPtr& top)
{
  try {
    TBX_XmlFromString(content, top.receive());
  } catch (const TBX_Exception& e) {
    throw e.Retold(TBX_NotStoreXml(path, content));
  }
}

// The value of attribute `name` of the store file at `path` holding `content`.
bool StoreValueOf(const MvString& path, const MvString& content, const MvString& name,
                  MvString& value)
{
  xmlElementPtr top;
  ParseStoreFile(path, content, top);
  return TBX_StoreValue(top.get(), name, value);
}

// The request of QueryAttributes, as the snapshot keys an answer: a byte no attribute name holds,
// then each name followed by a NUL byte.
const char kAttributesKey = '\x01';

// For QueryAttributes: the attributes the key `names` lists, each present one as name, NUL, the
// value's length in decimal, ':', the value (as getAttribute gives it: an empty one counts, and a
// decoded value may hold any byte). Always found.
bool StoreAttributesOf(const MvString& path, const MvString& content, const MvString& names,
                       MvString& values)
{
  xmlElementPtr top;
  ParseStoreFile(path, content, top);
  MvString out;
  for (unsigned at = 1; at < names.size();) {
    const unsigned n = static_cast<unsigned>(std::strlen(names.c_str() + at));
    const MvString name(names.c_str() + at, n);
    MvString value;
    if (top->getAttribute(name, value)) {
      char length[16];
      std::snprintf(length, sizeof length, "%u:", value.size());
      out.append(name);
      out.append('\0');
      out.append(length);
      out.append(value);
    }
    at += n + 1;
  }
  values = std::move(out);
  return true;
}

}  // namespace

bool TBX_IsStoreFileName(const MvString& file)
{
  if (!file.empty() && file[0] == '/')
    return false;
  for (unsigned start = 0; start <= file.size();) {
    unsigned end = start;
    while (end < file.size() && file[end] != '/')
      ++end;
    if (end - start == 2 && file[start] == '.' && file[start + 1] == '.')
      return false;
    start = end + 1;
  }
  return true;
}

TBX_Store::~TBX_Store()
{
  if (m_LockFd >= 0)
    close(m_LockFd);
}

TBX_Store::TBX_Store(const TBX_Store& other) : m_Path(other.m_Path) {}

TBX_Store& TBX_Store::operator=(const TBX_Store& other)
{
  m_Path = other.m_Path;
  return *this;
}

TBX_Store::WriteLock::WriteLock(TBX_Store& store) : m_Store(store)
{
  m_Store.LockStore();
}

TBX_Store::WriteLock::~WriteLock()
{
  m_Store.UnlockStore();
}

void TBX_Store::LockStore()
{
  if (m_Path.empty())
    TBX_THROW(TBX_E_NO_CONTEXT, TBX_NO_STORE, kUnit, kSiteUpdateNoContext);
  if (m_LockDepth > 0 || IsHttp(m_Path)) {
    ++m_LockDepth;
    return;
  }
  // The directory itself is locked: no file of its own in the store, and every path that leads
  // to the directory (a link, a relative path) meets the same lock.
  const int fd =
      TBX_HasZeroByte(m_Path) ? -1 : open(m_Path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    const int err = TBX_HasZeroByte(m_Path) ? EINVAL : errno;
    TBX_THROW(TBX_E_FILE_NOT_FOUND,
              "cannot lock the store " + m_Path + ": " + TBX_SystemErrorText(err), kUnit,
              kSiteUpdateOpen);
  }
  int rc;
  do
    rc = flock(fd, LOCK_EX);
  while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    const int err = errno;
    close(fd);
    TBX_THROW(TBX_E_FILE_IO,
              "cannot lock the store " + m_Path +
                  " against other writers: " + TBX_SystemErrorText(err),
              kUnit, kSiteUpdateWrite);
  }
  m_LockFd = fd;
  m_LockDepth = 1;
}

void TBX_Store::UnlockStore()
{
  if (m_LockDepth == 0 || --m_LockDepth > 0)
    return;
  if (m_LockFd >= 0) {
    close(m_LockFd);  // releases the flock
    m_LockFd = -1;
  }
}

MvString TBX_Store::StoreFilePath(const MvString& file) const
{
  // One allocation: every read of every call builds its path here.
  MvString path;
  path.grow(m_Path.size() + 1 + file.size());
  path.append(m_Path);
  path.append('/');
  path.append(file);
  return path;
}

void TBX_Store::Open(const MvString& path)
{
  m_Path = path.empty() ? GetDefaultConfiguration() : path;
  // Every message opens its store: the trace lines are composed only when they are written.
  const bool tracing = TBX_TraceWanted();
  if (tracing)
    TBX_TraceLog::Write(kUnit, kSiteOpenTrace, 0, MvString("OPEN CONTEXT"), m_Path);
  // A store read over HTTP has no directory of ours to create.
  if (!IsHttp(m_Path)) {
    TBX_CreateDirectory(m_Path);
    if (tracing)
      LogMessage("CREATE PATH: " + m_Path);
  }
}

MvString TBX_Store::GetPath() const
{
  return m_Path;
}

bool TBX_Store::QueryValue(const MvString& file, const MvString& name, MvString& value)
{
  if (m_Path.empty())
    TBX_THROW(TBX_E_NO_CONTEXT, TBX_NO_STORE, kUnit, kSiteQueryNoContext);
  if (!IsHttp(m_Path)) {
    // An unchanged file is found again without reading it, a value of it without parsing it.
    bool found = true;
    const MvString path = StoreFilePath(file);
    const TBX_ReadResult read = name.empty()
                                    ? TBX_SnapshotRead(path, value)
                                    : TBX_SnapshotValue(path, name, StoreValueOf, found, value);
    if (read == TBX_ReadResult::NotOpened)
      return false;
    if (read != TBX_ReadResult::Read)
      TBX_ThrowUnread(true, path);
    return found;
  }
  MvStringStream text;
  try {
    StreamFromURL(StoreFilePath(file), text);
  } catch (const TBX_Exception& e) {
    // A store on a web server lacks a file as a directory does: the server answers 404.
    if (e.m_Result == TBX_E_SOURCE_NOT_OPENED ||
        (IsHttp(m_Path) && e.m_Result == TBX_RESULT(TBX_E_HTTP_STATUS_BASE | 404u)))
      return false;
    throw;
  }
  if (name.empty()) {
    value = text.str();
    return true;
  }
  xmlElementPtr top;
  try {
    TBX_XmlFromStream(text, top.receive());
  } catch (const TBX_Exception& e) {
    throw e.Retold(TBX_NotStoreXml(StoreFilePath(file), text.str()));
  }
  return TBX_StoreValue(top.get(), name, value);
}

bool TBX_Store::QueryValue(const MvString& file, unsigned char* buffer, unsigned long& length)
{
  if (m_Path.empty())
    TBX_THROW(TBX_E_NO_CONTEXT, TBX_NO_STORE, kUnit, kSiteQueryBytesNoContext);
  // A file that fails while it is read is not handed out cut short as if that were all of it.
  MvString bytes;
  if (TBX_ReadFile(StoreFilePath(file), bytes, length) != TBX_ReadResult::Read)
    return false;
  if (!bytes.empty())
    std::memcpy(buffer, bytes.c_str(), bytes.size());
  length = bytes.size();
  return true;
}

TBX_Store::Presence TBX_Store::Probe(const MvString& file)
{
  if (m_Path.empty())
    TBX_THROW(TBX_E_NO_CONTEXT, TBX_NO_STORE, kUnit, kSiteQueryNoContext);
  const MvString path = StoreFilePath(file);
  if (IsHttp(m_Path)) {
    MvStringStream content;
    try {
      StreamFromURL(path, content);
    } catch (const TBX_Exception& e) {
      const unsigned long code = static_cast<unsigned long>(e.m_Result) & 0xFFFFFFFFul;
      if (code == (TBX_E_HTTP_STATUS_BASE | 404u))
        return Presence::Absent;
      // The status family holds the answers 100 to 999; below are the transport's own codes.
      if ((code & 0xFFFFF000ul) == TBX_E_HTTP_STATUS_BASE && (code & 0xFFFul) >= 100)
        return Presence::Unknown;
      throw;
    }
    if (content.str().begin() != nullptr)
      OPENSSL_cleanse(content.str().begin(), content.str().size());
    return Presence::Present;
  }
  struct stat st;
  if (TBX_HasZeroByte(path))
    return Presence::Unknown;
  if (lstat(path.c_str(), &st) == 0)
    return Presence::Present;
  return errno == ENOENT || errno == ENOTDIR ? Presence::Absent : Presence::Unknown;
}

bool TBX_Store::QueryAttributes(const MvString& file, const char* const* names, MvString& values)
{
  if (m_Path.empty())
    TBX_THROW(TBX_E_NO_CONTEXT, TBX_NO_STORE, kUnit, kSiteQueryNoContext);
  MvString key(&kAttributesKey, 1);
  for (const char* const* name = names; *name != nullptr; ++name) {
    key.append(*name);
    key.append('\0');
  }
  const MvString path = StoreFilePath(file);
  if (IsHttp(m_Path)) {
    MvString text;
    return QueryValue(file, MvString(), text) && StoreAttributesOf(path, text, key, values);
  }
  // A file that did not change is neither read nor parsed again: the answer is kept with it.
  bool found = false;
  const TBX_ReadResult read = TBX_SnapshotValue(path, key, StoreAttributesOf, found, values);
  if (read == TBX_ReadResult::NotOpened)
    return false;
  if (read != TBX_ReadResult::Read)
    TBX_ThrowUnread(true, path);
  return found;
}

bool TBX_Store::NextAttribute(const MvString& values, unsigned& at, MvString& name, MvString& value)
{
  if (at >= values.size())
    return false;
  const char* text = values.c_str();
  const unsigned nameLength = static_cast<unsigned>(std::strlen(text + at));
  name.assign(text + at, nameLength);
  char* colon = nullptr;
  const unsigned long valueLength = std::strtoul(text + at + nameLength + 1, &colon, 10);
  const unsigned start = static_cast<unsigned>(colon + 1 - text);
  value.assign(text + start, static_cast<unsigned>(valueLength));
  at = start + static_cast<unsigned>(valueLength);
  return true;
}

bool TBX_Store::QueryPlainFile(const MvString& file, MvString& content, bool& link)
{
  if (m_Path.empty())
    TBX_THROW(TBX_E_NO_CONTEXT, TBX_NO_STORE, kUnit, kSiteQueryNoContext);
  link = false;
  if (IsHttp(m_Path))
    return QueryValue(file, MvString(), content);
  const MvString path = StoreFilePath(file);
  const TBX_ReadResult read = TBX_SnapshotRead(path, content, &link);
  if (read == TBX_ReadResult::NotOpened)
    return false;
  if (read != TBX_ReadResult::Read)
    TBX_ThrowUnread(true, path);
  return true;
}

void TBX_Store::SetValue(const MvString& file, const MvString& name, const MvString& value,
                         bool create)
{
  if (!xmlIsName(name.c_str(), name.size()))
    TBX_THROW(TBX_E_INVALID_ARGUMENT, "attribute name '" + name + "' is not an XML name", kUnit,
              kSiteSetValueName);
  WriteLock lock(*this);
  MvString text;
  const bool found = QueryValue(file, MvString(), text);
  xmlElementPtr top;
  try {
    TBX_XmlFromString(text, top.receive());
  } catch (const TBX_Exception& e) {
    if (e.m_Result != TBX_E_INVALID_FORMAT)
      throw;
    if (!create && found)
      throw e.Retold(TBX_NotStoreXml(StoreFilePath(file), text));
    if (!create && (file == "default.xml" || file == "config.xml"))
      throw e.Retold("the store file " + StoreFilePath(file) +
                     " does not exist; set the store up first");
    if (!create)
      throw e.Retold("the store file " + StoreFilePath(file) +
                     " does not exist; create it "
                     "first, holding <TBX/>");
    xmlParser::createElement(MvString("TBX"), top.receive());
  }
  xmlSetAttributeEx(top.get(), name, value);
  MvStringStream out;
  top->toStream(out);
  UpdateFile(file, out.str());
}

void TBX_Store::UpdateFile(const MvString& file, const MvString& text)
{
  if (m_Path.empty())
    TBX_THROW(TBX_E_NO_CONTEXT, TBX_NO_STORE, kUnit, kSiteUpdateNoContext);
  WriteLock lock(*this);
  ReplaceStoreFile(StoreFilePath(file), file, text.c_str(), text.size(), kSiteUpdateOpen,
                   kSiteUpdateWrite);
  TBX_TraceLog::Write(kUnit, kSiteUpdateTrace, 0, MvString("UPDATE"), MvString("UPDATE"));
}

void TBX_Store::UpdateFile(const MvString& file, const unsigned char* buffer, unsigned long length)
{
  if (m_Path.empty())
    TBX_THROW(TBX_E_NO_CONTEXT, TBX_NO_STORE, kUnit, kSiteUpdateBytesNoContext);
  WriteLock lock(*this);
  const MvString path = StoreFilePath(file);
  ReplaceStoreFile(path, file, buffer, length, kSiteUpdateBytesOpen, kSiteUpdateBytesWrite);
  LogMessage("UPDATE: " + path);
}

void TBX_Store::CreatePath(const MvString& dir)
{
  TBX_CreateDirectory(dir);
  LogMessage("CREATE PATH: " + dir);
}

MvString TBX_Store::GetDefaultConfiguration()
{
  size_t size = 256;
  for (;;) {
    char* buf = static_cast<char*>(std::malloc(size));
    if (buf == nullptr)
      return MvString();
    if (getcwd(buf, size) != nullptr) {
      MvString cwd(buf);
      std::free(buf);
      return cwd;
    }
    const int e = errno;
    std::free(buf);
    if (e != ERANGE || size > (1u << 24))
      return MvString();
    size *= 2;
  }
}

MvString TBX_Store::CreateUuid()
{
  // A random (version 4) identifier, laid out as libuuid lays one out, from OpenSSL's generator:
  // libuuid makes six system calls for each. libuuid remains for a generator that fails.
  uuid_t id;
  if (RAND_bytes(id, sizeof id) == 1) {
    id[6] = static_cast<unsigned char>((id[6] & 0x0F) | 0x40);
    id[8] = static_cast<unsigned char>((id[8] & 0x3F) | 0x80);
  } else {
    uuid_generate(id);
  }
  // The text libuuid's fields give when read as little-endian numbers: the bytes of the first
  // three fields reversed, the last eight in order.
  static const unsigned char order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  unsigned char bytes[16];
  for (int i = 0; i < 16; ++i)
    bytes[i] = id[order[i]];
  char text[32];
  MvHexWrite(bytes, sizeof bytes, text);
  return MvString(text, 32);
}

void TBX_Store::LogMessage(const MvString& text)
{
  TBX_TraceAppend(kUnit, kSiteLogMessage, 0, "LOG", text.c_str(), text.length());
}
