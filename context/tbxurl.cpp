// Stream sources: a local file or an HTTP(S) URL read whole, the latter with the transport
// settings of the store's settings.xml.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "spliturl.h"
#include "tbxbase.h"
#include "tbxctx.h"
#include "tbxerr.h"
#include "tbxhttp.h"
#include "tbxutil.h"
#include "xmlElement.h"

namespace {

const char kUnit[] = "tbxurl";
const char kContextUnit[] = "tbxctx";

enum : long {
  kLineBadUrl = 51,
  kLineTimeout = 66,
  kLineNotOpened = 84,
  kLineReadError = 92,
  kLineNoContext = 71,  // reported as the settings lookup, QueryValue of tbxctx
};

// The transport's code for an answer "404 Not Found".
const long kHttpNotFound = TBX_RESULT(TBX_E_HTTP_STATUS_BASE | 404u);
// Largest TIMEOUT accepted, in seconds (a day): anything longer is a typing error.
const long kMaxTimeout = 86400;
// Bytes read from a local file per call.
const size_t kReadChunk = 16384;

// A value of settings.xml as QueryValue answers it: absent and empty are the same.
bool Setting(xmlElement* settings, const char* name, MvString& value)
{
  MvString found;
  if (!xmlGetAttributeEx(settings, MvString(name), found) || found.empty())
    return false;
  value = found;
  return true;
}

// TIMEOUT: decimal seconds, 0 for no limit.
bool ParseTimeout(const MvString& text, long& seconds)
{
  long v = 0;
  for (unsigned i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9')
      return false;
    v = v * 10 + (c - '0');
    if (v > kMaxTimeout)
      return false;
  }
  seconds = v;
  return true;
}

MvString BadUrl(const MvString& location)
{
  return TBX_Quote(ShownUrl(location)) + " is not a URL of the form scheme://host[:port]/path";
}

}  // namespace

bool IsHttp(const MvString& location)
{
  const char* s = location.c_str();
  if (s == nullptr)
    return false;
  const unsigned n = location.size();
  return (n >= 5 && std::memcmp(s, "http:", 5) == 0) ||
         (n >= 6 && std::memcmp(s, "https:", 6) == 0);
}

void TBX_Context::StreamFromURL(const MvString& location, MvStringStream& out)
{
  if (!IsHttp(location)) {
    const int fd = TBX_HasZeroByte(location) || location.empty()
                       ? -1
                       : ::open(location.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
      TBX_THROW(TBX_E_SOURCE_NOT_OPENED, location, kUnit, kLineNotOpened);
    // A directory opens for reading but is no file to read; it is as absent as a missing one.
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
      ::close(fd);
      TBX_THROW(TBX_E_SOURCE_NOT_OPENED, location, kUnit, kLineNotOpened);
    }
    // The file is gathered first so that a read error appends nothing to `out`. A regular file
    // is read in one call when its size allows: a read that returns less than asked is its end.
    MvString content;
    bool failed = false;
    try {
      const bool regular = S_ISREG(st.st_mode);
      size_t room = regular && st.st_size >= 0 && static_cast<uint64_t>(st.st_size) < 0xFFFFF000u
                        ? static_cast<size_t>(st.st_size) + 1
                        : kReadChunk;
      for (;;) {
        content.grow(static_cast<unsigned>(room));
        char* at = content.begin() + content.size();
        const ssize_t n = ::read(fd, at, room);
        if (n < 0 && errno == EINTR)
          continue;
        if (n < 0) {
          failed = true;
          break;
        }
        if (n == 0)
          break;
        content.append(at, static_cast<unsigned>(n));  // in place: the bytes are already there
        if (regular && static_cast<size_t>(n) < room)
          break;
        room = kReadChunk;
      }
    } catch (...) {
      ::close(fd);
      throw;
    }
    ::close(fd);
    // An unreadable file must not pass for an empty one: a caller would then rewrite it.
    if (failed)
      TBX_THROW(TBX_E_FILE_IO, location, kUnit, kLineReadError);
    if (out.str().empty() && out.tellg() == 0) {
      out.str() = std::move(content);  // taken over, not copied
      out.write("", 0);                // what appending does to the end flag
    } else {
      out << content;
    }
    return;
  }

  URL_INFO info;
  if (!SplitUrl(location, info))
    TBX_THROW(TBX_E_HTTP_BAD_URL, BadUrl(location), kUnit, kLineBadUrl);
  ApplyTransportSettings(info);
  HttpSession(info, out);
}

bool TBX_Context::LoadSettings(xmlElement** element)
{
  if (m_Path.empty())
    TBX_THROW(TBX_E_NO_CONTEXT, TBX_NO_STORE, kContextUnit, kLineNoContext);
  const MvString location = m_Path + "/settings.xml";
  MvStringStream text;
  try {
    if (IsHttp(m_Path)) {
      // The settings of a store that is itself a URL are fetched without settings: reading them
      // with their own proxy settings would need them first, and so on without end.
      URL_INFO plain;
      if (!SplitUrl(location, plain))
        TBX_THROW(TBX_E_HTTP_BAD_URL, BadUrl(location), kUnit, kLineBadUrl);
      HttpSession(plain, text);
    } else {
      StreamFromURL(location, text);
    }
  } catch (const TBX_Exception& e) {
    // A store on a web server without settings.xml has no settings, as a directory without one.
    if (e.m_Result == TBX_E_SOURCE_NOT_OPENED || (IsHttp(m_Path) && e.m_Result == kHttpNotFound))
      return false;
    throw;
  }
  try {
    XmlFromStream(text, element);
  } catch (const TBX_Exception& e) {
    throw e.Retold("the store file " + location + " is not XML with a TBX element");
  }
  return true;
}

void TBX_Context::ApplyTransportSettings(URL_INFO& info)
{
  xmlElementPtr settings;
  if (!LoadSettings(settings.receive()))
    return;
  MvString value;
  if (Setting(settings.get(), "USEPROXY", value) && value == "1") {
    MvString host;
    if (Setting(settings.get(), "PROXYHOST", host)) {
      MvString port;
      info.m_ProxyHost = host;
      info.m_ProxyPort = Setting(settings.get(), "PROXYPORT", port) ? port : MvString("8080");
    }
  }
  if (Setting(settings.get(), "TRACEOPT", value))
    info.m_TraceOptions = value;
  // Only an explicit "0" turns certificate checks off.
  if (Setting(settings.get(), "SSLVERIFY", value))
    info.m_SslVerify = !(value == "0");
  if (Setting(settings.get(), "SSLCAFILE", value))
    info.m_SslCaFile = value;
  if (Setting(settings.get(), "TIMEOUT", value)) {
    long seconds = 0;
    if (!ParseTimeout(value, seconds))
      TBX_THROW(TBX_E_INVALID_OPTION,
                "TIMEOUT '" + value + "' is not a number of seconds; give whole seconds from 0 "
                "(no limit) to 86400 in " + m_Path + "/settings.xml",
                kUnit, kLineTimeout);
    info.m_Timeout = seconds;
  }
}
