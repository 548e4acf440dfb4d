/*
 * httpfailure.h - what the transport's failures say. A message names the fetch first,
 * "URL[ through the proxy HOST port N]: ", then what went wrong, then after "; " the obvious
 * action when there is one. The URL is shown without its credentials and query.
 */
#ifndef HTTPFAILURE_H
#define HTTPFAILURE_H

#include "mvstring.h"
#include "spliturl.h"

/* "host port N", an IPv6 literal in brackets. */
MvString HostPort(const MvString& host, const MvString& port);
/* The message of a failure of the fetch of `url`: `what` went wrong, `hint` what to do. */
MvString Told(const URL_INFO& url, const MvString& what, const MvString& hint = MvString());

/* The obvious action after a connection, send or receive failed with `code`. */
MvString NetworkHint(long code, const URL_INFO& url, bool toProxy);
/* The obvious action after a failed TLS handshake, from what OpenSSL said (`detail`). */
MvString TlsHint(long code, const MvString& detail, const URL_INFO& url);

/* "401 Unauthorized": the status and reason of an answer's first line, printable and short. */
MvString StatusText(const MvString& answer);
/* What a status other than 200 means (", refusing ..." or nothing), and asks of the user. */
MvString StatusMeaning(int status);
MvString StatusHint(int status);

#endif /* HTTPFAILURE_H */
