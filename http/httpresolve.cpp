/*
 * httpresolve.cpp - name resolution and socket addresses.
 */
#include "httpresolve.h"

#include <arpa/inet.h>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>

#include "tbxerr.h"
#include "tbxhttp_sites.h"

int HttpHostByName(const char* name, TBX_HostAddr* addr)
{
  struct addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  struct addrinfo* list = nullptr;
  if (name == nullptr || getaddrinfo(name, nullptr, &hints, &list) != 0 || list == nullptr) {
    if (list != nullptr)
      freeaddrinfo(list);
    return -1;
  }
  int added = 0;
  const struct addrinfo* first = nullptr;
  for (const struct addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
    if (addr->m_Count >= TBX_HostAddr::kMaxAddrs)
      break;
    if ((ai->ai_family != AF_INET && ai->ai_family != AF_INET6) ||
        ai->ai_addrlen > sizeof(struct sockaddr_storage))
      continue;
    std::memset(&addr->m_Addr[addr->m_Count], 0, sizeof(struct sockaddr_storage));
    std::memcpy(&addr->m_Addr[addr->m_Count], ai->ai_addr, ai->ai_addrlen);
    ++addr->m_Count;
    if (first == nullptr)
      first = ai;
    ++added;
  }
  if (added == 0) {
    freeaddrinfo(list);
    TBX_TraceLog::Write(kUnit, kSiteDnsLookupFailed, TBX_E_DNS_LOOKUP, MvString("DNS LOOKUP"),
                        MvString("failed to lookup host"));
    return -1;
  }
  char text[INET6_ADDRSTRLEN] = "";
  if (first->ai_family == AF_INET)
    inet_ntop(AF_INET, &reinterpret_cast<const struct sockaddr_in*>(first->ai_addr)->sin_addr, text,
              sizeof text);
  else
    inet_ntop(AF_INET6, &reinterpret_cast<const struct sockaddr_in6*>(first->ai_addr)->sin6_addr,
              text, sizeof text);
  freeaddrinfo(list);
  TBX_TraceLog::Write(kUnit, kSiteDnsLookup, 0, MvString("DNS LOOKUP"),
                      MvString(name) + " -> " + text);
  return added;
}

long MakeHostAddr(const MvString& host, const MvString& port, TBX_HostAddr* addr)
{
  unsigned portValue = 0;
  const char* p = port.c_str();
  if (p != nullptr && port.size() > 0 && port.size() <= 5) {
    for (unsigned i = 0; i < port.size(); ++i) {
      if (p[i] < '0' || p[i] > '9') {
        portValue = 0;
        break;
      }
      portValue = portValue * 10 + static_cast<unsigned>(p[i] - '0');
    }
    if (portValue > 65535)
      portValue = 0;
  }

  TBX_HostAddr found;
  const char* name = host.c_str() != nullptr ? host.c_str() : "";
  struct sockaddr_in* a4 = reinterpret_cast<struct sockaddr_in*>(&found.m_Addr[0]);
  struct sockaddr_in6* a6 = reinterpret_cast<struct sockaddr_in6*>(&found.m_Addr[0]);
  std::memset(&found.m_Addr[0], 0, sizeof(struct sockaddr_storage));
  /* Address literals need no lookup. A host holding a zero byte is no name at all. */
  if (std::strlen(name) != host.size()) {
    return TBX_E_DNS_LOOKUP;
  } else if (inet_pton(AF_INET, name, &a4->sin_addr) == 1) {
    a4->sin_family = AF_INET;
    found.m_Count = 1;
  } else if (inet_pton(AF_INET6, name, &a6->sin6_addr) == 1) {
    a6->sin6_family = AF_INET6;
    found.m_Count = 1;
  } else if (HttpHostByName(name, &found) < 0) {
    return TBX_E_DNS_LOOKUP;
  }
  for (int i = 0; i < found.m_Count; ++i) {
    struct sockaddr* sa = reinterpret_cast<struct sockaddr*>(&found.m_Addr[i]);
    if (sa->sa_family == AF_INET)
      reinterpret_cast<struct sockaddr_in*>(sa)->sin_port = htons(portValue);
    else
      reinterpret_cast<struct sockaddr_in6*>(sa)->sin6_port = htons(portValue);
  }
  *addr = found;
  return 0;
}
