/*
 * httpproxy.h - the tunnel through an HTTP proxy that an HTTPS fetch asks for with CONNECT.
 */
#ifndef HTTPPROXY_H
#define HTTPPROXY_H

#include <memory>

#include "httpsocket.h"
#include "spliturl.h"

/*
 * Asks the proxy at the other end of `plain` for a tunnel to the host and port of `url`.
 * Returns the TLS connection that takes the socket over, not yet set up; `plain` is left
 * without its descriptor and the TLS connection keeps to `deadline`, the exchange's. Throws
 * TBX_Exception when the proxy cannot be asked or refuses.
 */
std::unique_ptr<TBX_Connection> OpenProxyTunnel(TBX_Connection& plain, const URL_INFO& url,
                                                const TBX_Deadline& deadline);

#endif /* HTTPPROXY_H */
