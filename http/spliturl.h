/*
 * spliturl.h - the record that describes one fetch, and the splitting of a URL into it.
 */
#ifndef SPLITURL_H
#define SPLITURL_H

#include "mvstring.h"

/*
 * Everything the transport needs for one fetch. SplitUrl fills the six URL fields; the caller adds
 * the proxy, trace and TLS settings (from the store's settings.xml). The session keeps a reference
 * to the record for its lifetime, so the record must outlive it.
 */
struct URL_INFO
{
  MvString m_Scheme;       /* text before the first ':', case kept ("http", "https") */
  MvString m_User;         /* user name of the authority, percent-decoded */
  MvString m_Password;     /* password of the authority, percent-decoded */
  MvString m_Host;         /* name, dotted IPv4, or IPv6 literal without its brackets */
  MvString m_Port;         /* decimal text; "80" / "443" by default for http / https */
  MvString m_Path;         /* from the '/' that ends the authority to the end, query included */
  MvString m_ProxyHost;    /* empty: no proxy */
  MvString m_ProxyPort;    /* decimal text */
  MvString m_TraceOptions; /* free text; "rawhttp" anywhere prints the raw exchange on stdout */

  /* TLS: the certificate chain and the host name (or IP address) are verified unless this is
   * false (settings.xml SSLVERIFY "0"). */
  bool m_SslVerify = true;
  /* PEM file of trusted certificates used instead of the system trust store when not empty
   * (settings.xml SSLCAFILE). */
  MvString m_SslCaFile;
  /* Seconds allowed for the whole exchange: connect, the proxy's answer to CONNECT, the TLS
   * handshake, the send and the whole answer; 0 means no limit (settings.xml TIMEOUT). */
  long m_Timeout = 60;
};

/*
 * Splits `url` (scheme "://" [user ":" password "@"] host [":" port] path) into `info`.
 * Returns true on success; false when the text is not a URL of that form, or when its host, port
 * or path holds a control character (a byte below 0x20, or 0x7F), which could inject request
 * lines. On false `info` is untouched; on success fields the URL does not supply keep their
 * values. Note that host, port and path are filled only when a '/' follows the authority:
 * "http://host" succeeds with an empty host. An IPv6 literal is written in brackets
 * ("http://[::1]:8080/x") and stored without them.
 */
bool SplitUrl(const MvString& url, URL_INFO& info);

/* The URL of `info` as messages show it: scheme, host, port and path, without the credentials
 * and without the query (which carries the request, signatures and key blobs included). */
MvString ShownUrl(const URL_INFO& info);
/* The same for a URL text; a text SplitUrl refuses is shown up to its query, credentials cut
 * out of what looks like an authority. */
MvString ShownUrl(const MvString& url);

/* A host name as messages show it: a user part before an '@' (a PROXYHOST written as
 * "user:password@host") is hidden. */
MvString ShownHost(const MvString& host);

/* True when `host` is an IPv6 literal, which needs brackets in "host:port" texts. */
bool IsIpv6Literal(const MvString& host);
/* `host` as a URI or a "host:port" text writes it: an IPv6 literal in brackets. */
MvString HostForUri(const MvString& host);

#endif /* SPLITURL_H */
