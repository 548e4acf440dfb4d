/*
 * spliturl.cpp - splitting a URL into the fields of URL_INFO.
 */
#include "spliturl.h"

#include "mvbytes.h"
#include "tbxtrace.h"

#include <string>

#include <arpa/inet.h>
#include <netinet/in.h>

namespace {

bool HasControlChar(const char* s, unsigned n)
{
  for (unsigned i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x20 || c == 0x7F)
      return true;
  }
  return false;
}

/* Fields found by one scan; committed to the caller's record only when the whole URL is sound. */
struct Found
{
  bool scheme = false, user = false, password = false, host = false, port = false, path = false;
  MvString m_Scheme, m_User, m_Password, m_Host, m_Port, m_Path;
};

/* `text` without its query, which carries the request, signatures and key blobs included. */
MvString BeforeQuery(const MvString& text)
{
  const unsigned query = text.find_first_of("?");
  return query != MvString::npos ? text.substr(0, query) : text;
}

enum State
{
  kScheme,
  kSlash1,
  kSlash2,
  kAuthority,
  kUser,
  kPassword,
  kHost,
  kHostEnd,
  kPort,
  kPath
};

}  // namespace

bool IsIpv6Literal(const MvString& host)
{
  const char* s = host.c_str();
  if (s == nullptr)
    return false;
  for (unsigned i = 0; i < host.size(); ++i)
    if (s[i] == ':')
      return true;
  return false;
}

MvString HostForUri(const MvString& host)
{
  if (IsIpv6Literal(host))
    return MvString("[") + host + "]";
  return host;
}

bool SplitUrl(const MvString& url, URL_INFO& info)
{
  const char* s = url.c_str();
  const unsigned n = s != nullptr ? url.size() : 0;
  Found f;
  State state = kScheme;
  unsigned mark = 0;

  /* A credential ends at the cursor, on its delimiter: the mark moves past that. Credentials
   * arrive percent-encoded so that '@', ':' and '/' in a password cannot move the authority. */
  auto takeCredential = [&](MvString& field, bool& found, unsigned at) {
    field = MvPercentDecode(s + mark, at - mark);
    found = true;
    mark = at + 1;
  };
  auto setHost = [&](unsigned from, unsigned to) {
    f.m_Host = MvString(s + from, to - from);
    f.host = true;
  };
  auto defaultPort = [&]() {
    if (f.scheme && f.m_Scheme == "http") {
      f.m_Port = MvString("80");
      f.port = true;
    } else if (f.scheme && f.m_Scheme == "https") {
      f.m_Port = MvString("443");
      f.port = true;
    }
  };
  auto startPath = [&](unsigned at) {
    /* The path is taken when its '/' is seen, so that "http://host/" asks for "/". */
    f.m_Path = MvString(s + at, n - at);
    f.path = true;
    state = kPath;
  };
  /* "[v6]" host: the brackets hide the literal's colons from the host/port split. */
  auto bracketHost = [&](unsigned open) -> bool {
    unsigned close = open + 1;
    while (close < n && s[close] != ']')
      ++close;
    if (close >= n)
      return false;
    MvString lit(s + open + 1, close - open - 1);
    struct in6_addr a6;
    if (HasControlChar(s + open + 1, close - open - 1) || lit.c_str() == nullptr ||
        inet_pton(AF_INET6, lit.c_str(), &a6) != 1)
      return false;
    f.m_Host = lit;
    f.host = true;
    mark = close + 1;
    state = kHostEnd;
    return true;
  };

  for (unsigned i = 0; i < n && state != kPath; ++i) {
    const char c = s[i];
    switch (state) {
    case kScheme:
      if (c == ':') {
        f.m_Scheme = MvString(s, i);
        f.scheme = true;
        state = kSlash1;
      } else if (!MvIsAsciiAlnum(c)) {
        return false;
      }
      break;
    case kSlash1:
    case kSlash2:
      if (c != '/')
        return false;
      state = state == kSlash1 ? kSlash2 : kAuthority;
      break;
    case kAuthority: {
      /* Credentials only when an '@' stands before the query: an '@' in a query value is
       * not one. The character under the cursor starts the user name, unless it is the ':'
       * that ends an empty one. */
      unsigned q = i + 1, at = n;
      while (q < n && s[q] != '?')
        ++q;
      for (unsigned k = i + 1; k < n; ++k)
        if (s[k] == '@') {
          at = k;
          break;
        }
      mark = i;
      if (at < n && at < q && c == ':') {
        takeCredential(f.m_User, f.user, i); /* an empty user name */
        state = kPassword;
      } else if (at < n && at < q) {
        state = kUser;
      } else if (c == '[') {
        if (!bracketHost(i))
          return false;
        i = mark - 1;
      } else {
        state = kHost;
      }
      break;
    }
    case kUser:
      if (c == ':') {
        takeCredential(f.m_User, f.user, i);
        state = kPassword;
      }
      break;
    case kPassword:
      if (c == '@') {
        takeCredential(f.m_Password, f.password, i);
        state = kHost;
        if (mark < n && s[mark] == '[') {
          if (!bracketHost(mark))
            return false;
          i = mark - 1;
        }
      }
      break;
    case kHost:
      if (c == ':') {
        setHost(mark, i);
        mark = i + 1;
        state = kPort;
      } else if (c == '/') {
        setHost(mark, i);
        defaultPort();
        startPath(i);
      }
      break;
    case kHostEnd: /* right after "]" */
      if (c == ':') {
        mark = i + 1;
        state = kPort;
      } else if (c == '/') {
        defaultPort();
        startPath(i);
      } else {
        return false;
      }
      break;
    case kPort:
      if (c == '/') {
        f.m_Port = MvString(s + mark, i - mark);
        f.port = true;
        startPath(i);
      }
      break;
    case kPath:
      break;
    }
  }

  /* Host, port and path go into the request line and the CONNECT line: a control character
   * there could add lines of its own. */
  if ((f.host && HasControlChar(f.m_Host.c_str(), f.m_Host.size())) ||
      (f.port && HasControlChar(f.m_Port.c_str(), f.m_Port.size())) ||
      (f.path && HasControlChar(f.m_Path.c_str(), f.m_Path.size())))
    return false;

  // A part the URL names replaces the record's; a part it leaves out keeps the record's.
  const auto take = [](bool named, MvString& field, const MvString& part) {
    if (named)
      field = part;
  };
  take(f.scheme, info.m_Scheme, f.m_Scheme);
  take(f.user, info.m_User, f.m_User);
  take(f.password, info.m_Password, f.m_Password);
  take(f.host, info.m_Host, f.m_Host);
  take(f.port, info.m_Port, f.m_Port);
  take(f.path, info.m_Path, f.m_Path);
  return true;
}

MvString ShownHost(const MvString& host)
{
  const std::string text(host.c_str() != nullptr ? host.c_str() : "", host.size());
  const size_t at = text.rfind('@');
  if (at == std::string::npos)
    return host;
  return MvString("[redacted]@") + MvString(text.c_str() + at + 1);
}

MvString ShownUrl(const URL_INFO& info)
{
  return info.m_Scheme + "://" + HostForUri(info.m_Host) + ":" + info.m_Port +
         BeforeQuery(info.m_Path);
}

MvString ShownUrl(const MvString& url)
{
  URL_INFO info;
  if (SplitUrl(url, info) && !info.m_Host.empty())
    return ShownUrl(info);
  const std::string text(url.c_str() != nullptr ? url.c_str() : "", url.size());
  // find, not MvString::find_first_of: a whole "://" marks the authority.
  const size_t scheme = text.find("://");
  const size_t start = scheme == std::string::npos ? 0 : scheme + 3;
  const size_t end = TBX_UrlCredentialsEnd(text, start);
  std::string shown = text;
  if (end != std::string::npos)
    shown = text.substr(0, start) + text.substr(end + 1);
  const MvString cut(shown.c_str(), static_cast<unsigned>(shown.size()));
  return BeforeQuery(cut);
}
