/*
 * httpresolve.h - from a host text and a port text to the socket addresses to try.
 */
#ifndef HTTPRESOLVE_H
#define HTTPRESOLVE_H

#include <sys/socket.h>

#include "mvstring.h"

/* The addresses a host name resolved to, tried in this order. */
struct TBX_HostAddr
{
  enum
  {
    kMaxAddrs = 8
  };
  int m_Count = 0;
  struct sockaddr_storage m_Addr[kMaxAddrs];
};

/*
 * Fills `addr` with the addresses of `host` (a dotted IPv4 address or IPv6 literal is used as it
 * is, with no lookup; a name is resolved) and `port` (decimal; a text that is not a port in
 * 1..65535 gives port 0, which no connect reaches). Returns 0, or TBX_E_DNS_LOOKUP leaving
 * `addr` untouched.
 */
long MakeHostAddr(const MvString& host, const MvString& port, TBX_HostAddr* addr);
/* Resolves `name` (getaddrinfo, IPv4 and IPv6), appends its addresses (port 0) to `addr` and
 * raises the "DNS LOOKUP" trace event. Returns the number of addresses, or -1 when the name
 * does not resolve. */
int HttpHostByName(const char* name, TBX_HostAddr* addr);

#endif /* HTTPRESOLVE_H */
