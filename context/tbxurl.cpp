// Stream sources: a local file or an HTTP(S) URL read whole, and the transport settings a store
// gives its fetches.
#include "tbxurl.h"

#include <cstring>
#include <utility>

#include "spliturl.h"
#include "tbxbase.h"
#include "tbxerr.h"
#include "tbxsnapshot.h"
#include "tbxutil.h"
#include "tbxxml.h"

namespace {

// Error sites: the unit name and line values messages show (see "Error sites" in tbxerr.h).
const char kUnit[] = "tbxurl";
enum Site : long
{
  kSiteBadUrl = 51,
  kSiteTimeout = 66,
  kSiteNotOpened = 84,
  kSiteReadError = 92,
};

// Largest TIMEOUT accepted, in seconds (a day): anything longer is a typing error.
const long kMaxTimeout = 86400;

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

void TBX_ThrowUnread(bool opened, const MvString& location)
{
  if (!opened)
    TBX_THROW(TBX_E_SOURCE_NOT_OPENED, location, kUnit, kSiteNotOpened);
  // An unreadable file must not pass for an empty one: a caller would then rewrite it.
  TBX_THROW(TBX_E_FILE_IO, location, kUnit, kSiteReadError);
}

void TBX_StreamFromFile(const MvString& location, MvStringStream& out)
{
  MvString content;
  // Through the snapshot: an unchanged file is not read again.
  const TBX_ReadResult read = TBX_SnapshotRead(location, content);
  if (read != TBX_ReadResult::Read)
    TBX_ThrowUnread(read == TBX_ReadResult::Failed, location);
  if (out.str().empty() && out.tellg() == 0) {
    out.str() = std::move(content);  // taken over, not copied
    out.write("", 0);                // what appending does to the end flag
  } else {
    out << content;
  }
}

void TBX_SplitLocation(const MvString& location, URL_INFO& info)
{
  if (!SplitUrl(location, info))
    TBX_THROW(TBX_E_HTTP_BAD_URL,
              TBX_Quote(ShownUrl(location)) + " is not a URL of the form scheme://host[:port]/path",
              kUnit, kSiteBadUrl);
}

void TBX_ApplyTransportSettings(xmlElement* settings, const MvString& storePath, URL_INFO& info)
{
  MvString value;
  if (TBX_StoreValue(settings, "USEPROXY", value) && value == "1") {
    MvString host;
    if (TBX_StoreValue(settings, "PROXYHOST", host)) {
      MvString port;
      info.m_ProxyHost = host;
      info.m_ProxyPort = TBX_StoreValue(settings, "PROXYPORT", port) ? port : MvString("8080");
    }
  }
  if (TBX_StoreValue(settings, "TRACEOPT", value))
    info.m_TraceOptions = value;
  // Only an explicit "0" turns certificate checks off.
  if (TBX_StoreValue(settings, "SSLVERIFY", value))
    info.m_SslVerify = !(value == "0");
  if (TBX_StoreValue(settings, "SSLCAFILE", value))
    info.m_SslCaFile = value;
  if (TBX_StoreValue(settings, "TIMEOUT", value)) {
    long seconds = 0;
    if (!ParseTimeout(value, seconds))
      TBX_THROW(TBX_E_INVALID_OPTION,
                "TIMEOUT '" + value +
                    "' is not a number of seconds; give whole seconds from 0 "
                    "(no limit) to 86400 in " +
                    storePath + "/settings.xml",
                kUnit, kSiteTimeout);
    info.m_Timeout = seconds;
  }
}
