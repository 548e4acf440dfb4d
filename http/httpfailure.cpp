/*
 * httpfailure.cpp - the texts of the transport's failures.
 */
#include "httpfailure.h"

#include <cstdio>
#include <cstring>

#include "tbxcodes.h"

namespace {

MvString Fetching(const URL_INFO& url)
{
  MvString text = ShownUrl(url);
  if (!url.m_ProxyHost.empty())
    text += " through the proxy " + HostPort(url.m_ProxyHost, url.m_ProxyPort);
  return text;
}

MvString TimeoutHint(const URL_INFO& url)
{
  if (url.m_Timeout <= 0)
    return MvString("check the network");
  char text[96];
  std::snprintf(text, sizeof text,
                "raise TIMEOUT in settings.xml (now %ld second%s) if the host is slow",
                url.m_Timeout, url.m_Timeout == 1 ? "" : "s");
  return MvString(text);
}

}  // namespace

MvString HostPort(const MvString& host, const MvString& port)
{
  return HostForUri(ShownHost(host)) + " port " + port;
}

MvString Told(const URL_INFO& url, const MvString& what, const MvString& hint)
{
  MvString text = Fetching(url) + ": " + what;
  if (!hint.empty())
    text += "; " + hint;
  return text;
}

MvString NetworkHint(long code, const URL_INFO& url, bool toProxy)
{
  if (code == TBX_E_CONNECTION_TIMEOUT)
    return TimeoutHint(url);
  if (toProxy)
    return MvString("check PROXYHOST and PROXYPORT in settings.xml");
  if (code == TBX_E_CONNECTION_REFUSED)
    return MvString("check that the host is running and that the URL names its port");
  if (code == TBX_E_NETWORK_UNREACHABLE)
    return MvString("check the network and the host's address");
  return MvString();
}

MvString TlsHint(long code, const MvString& detail, const URL_INFO& url)
{
  const char* d = detail.c_str() != nullptr ? detail.c_str() : "";
  if (code == TBX_E_CONNECTION_TIMEOUT)
    return TimeoutHint(url);
  if (std::strstr(d, "cannot load the CA file") != nullptr)
    return MvString(
        "SSLCAFILE in settings.xml must name a readable PEM file of CA "
        "certificates");
  if (std::strstr(d, "mismatch") != nullptr)
    return MvString("the URL must name the host its certificate was made for");
  if (std::strstr(d, "certificate") != nullptr) {
    if (url.m_SslCaFile.empty())
      return MvString(
          "set SSLCAFILE in the store's settings.xml to the PEM file of the CA "
          "that signed the host's certificate");
    return "SSLCAFILE in settings.xml names " + url.m_SslCaFile +
           ", which does not vouch for the host's certificate; name the CA that signed it";
  }
  if (!url.m_ProxyHost.empty())
    return MvString();
  return MvString("the host did not complete a TLS handshake: is the scheme http?");
}

MvString StatusText(const MvString& answer)
{
  const char* text = answer.c_str() != nullptr ? answer.c_str() : "";
  const char* space = std::strchr(text, ' ');
  MvString out;
  for (const char* p = space != nullptr ? space + 1 : text;
       *p != '\0' && *p != '\r' && *p != '\n' && out.size() < 64; ++p)
    out += (static_cast<unsigned char>(*p) < 0x20 || *p == 0x7f) ? '?' : *p;
  return out;
}

MvString StatusMeaning(int status)
{
  return MvString(status == 401 ? ", refusing the user name and password" : "");
}

MvString StatusHint(int status)
{
  if (status == 401)
    return MvString("check them");
  if (status == 403)
    return MvString("the host refused access to this URL");
  if (status == 404)
    return MvString("check the URL's path");
  if (status >= 500 && status <= 599)
    return MvString("the host has a problem of its own: try again later");
  return MvString();
}
