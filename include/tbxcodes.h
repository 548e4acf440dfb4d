/*
 * tbxcodes.h - the result codes of libtbxapp and their English texts: the one list every part of
 * the library, its bindings and its tests take them from. Included by tbxapp.h; plain C, macros
 * only, so that it also serves the library's lowest layers.
 */
#ifndef TBXCODES_H
#define TBXCODES_H

/* A 32-bit result code as the (sign-extended) long the exported functions return. */
/* clang-format off */
#define TBX_RESULT(u) ((long)((long long)(u) - 0x100000000LL))
/* clang-format on */

#define TBX_OK 0L

/*
 * Result codes. Codes are permanent: new ones are added at the end of their group, none is ever
 * removed or renumbered. Codes with a text are those TBX_GetErrorStringFromResult knows.
 */
/* clang-format off */
#define TBX_E_NO_CONTEXT          TBX_RESULT(0x80040201u) /* "no context present" */
#define TBX_E_FILE_NOT_FOUND      TBX_RESULT(0x80040202u) /* "file not found" */
#define TBX_E_FILE_IO             TBX_RESULT(0x80040203u) /* "file I/O error" */
#define TBX_E_INVALID_FORMAT      TBX_RESULT(0x80040204u) /* "invalid file format" */
#define TBX_E_BUFFER_TOO_SMALL    TBX_RESULT(0x80040205u) /* "the buffer size is too small" */
#define TBX_E_INVALID_URL         TBX_RESULT(0x80040206u) /* "invalid URL" */
#define TBX_E_INVALID_OPTION      TBX_RESULT(0x80040207u) /* "invalid option" */
#define TBX_E_REQUEST_FAILED      TBX_RESULT(0x80040208u) /* "request failed" */
#define TBX_E_CRYPTO              TBX_RESULT(0x80040209u) /* "cryptographic error" */
#define TBX_E_NO_ENDPOINT         TBX_RESULT(0x8004020Au) /* "no endpoint" */
#define TBX_E_INVALID_KEY_BLOB    TBX_RESULT(0x8004020Bu) /* "invalid key blob" */
#define TBX_E_COMMAND_FAILED      TBX_RESULT(0x8004020Cu) /* "command failed" */
#define TBX_E_ITEM_NOT_FOUND      TBX_RESULT(0x8004020Du) /* "requested item was not found" */
#define TBX_E_NO_KEY_ID           TBX_RESULT(0x8004020Eu) /* "no key identifier specified" */
#define TBX_E_NO_CONFIGURATION    TBX_RESULT(0x8004020Fu) /* "no configuration found" */
#define TBX_E_KEY_NOT_FOUND       TBX_RESULT(0x80040210u) /* "the requested key was not found" */
#define TBX_E_UNEXPECTED          TBX_RESULT(0x80040211u) /* "unexpected error" */
#define TBX_E_NO_DEFAULT_PATH     TBX_RESULT(0x80040212u) /* "no default path was supplied" */
#define TBX_E_HOST_ERROR          TBX_RESULT(0x80040213u) /* "the request failed" (the host answered Error) */
#define TBX_E_INVALID_SIGNATURE   TBX_RESULT(0x80040214u) /* "invalid signature" */
#define TBX_E_MISSING_SIGNATURE   TBX_RESULT(0x8004021Au) /* "missing signature" */
#define TBX_E_ORDER_MISMATCH      TBX_RESULT(0x8004021Bu) /* "confirmation does not match the order" */
#define TBX_E_INVALID_HANDLE      TBX_RESULT(0x80040216u) /* null, unknown or destroyed handle (no text) */
#define TBX_E_OUT_OF_MEMORY       TBX_RESULT(0x80040217u) /* memory could not be allocated (no text) */
#define TBX_E_INVALID_ARGUMENT    TBX_RESULT(0x80040218u) /* a required argument is missing or invalid (no text) */
#define TBX_E_SOURCE_NOT_OPENED   TBX_RESULT(0x80040219u) /* a local source file could not be opened (no text) */
#define TBX_E_OUT_OF_RANGE        TBX_RESULT(0x80040281u) /* index out of range / inconsistent container (no text) */
#define TBX_E_DUPLICATE_KEY       TBX_RESULT(0x80040292u) /* key inserted twice into a unique container (no text) */

/* Transport failures (no text unless listed below). */
#define TBX_E_HTTP_BAD_URL        TBX_RESULT(0x80042019u) /* URL cannot be split */
#define TBX_E_HTTP_UNKNOWN_SCHEME TBX_RESULT(0x80042020u) /* the protocol type of the URL is unknown */
#define TBX_E_DNS_LOOKUP          TBX_RESULT(0x80042021u) /* "DNS lookup failed" */
#define TBX_E_HTTP_BAD_RESPONSE   TBX_RESULT(0x80042022u) /* malformed or oversized response */
#define TBX_E_HTTP_BAD_STATE      TBX_RESULT(0x80042023u) /* a session step called out of order */

/* Code families: base OR a value. */
#define TBX_E_HTTP_STATUS_BASE    0x80042000u /* OR the HTTP status of a non-success answer */
#define TBX_E_SOCKET_BASE         0x80043000u /* OR the operating system's error number */
#define TBX_E_TLS_BASE            0x80044000u /* OR the TLS library's error code */
#define TBX_E_CONNECTION_REFUSED  TBX_RESULT(0x8004303Du) /* "connection refused" */
#define TBX_E_CONNECTION_TIMEOUT  TBX_RESULT(0x8004303Cu) /* "connection timeout" */
#define TBX_E_CONNECTION_RESET    TBX_RESULT(0x80043036u) /* "connection reset" */
#define TBX_E_CONNECTION_ABORTED  TBX_RESULT(0x80043035u) /* "connection aborted" */
#define TBX_E_NETWORK_UNREACHABLE TBX_RESULT(0x80043033u) /* "network not reachable" */
/* clang-format on */

/*
 * Every code above, and the codes of other facilities and of the HTTP-status family that have a
 * text, as X(code, text) with a null text for a code without one. The codes with a text stand in
 * the order TBX_GetErrorStringFromResult scans them. A new code is added here as well as above;
 * the library's tests refuse a code defined above and missing here.
 */
/* clang-format off */
#define TBX_RESULT_CODES(X)                                                       \
  X(TBX_E_NO_CONTEXT,                     "no context present")                   \
  X(TBX_E_FILE_NOT_FOUND,                 "file not found")                       \
  X(TBX_E_FILE_IO,                        "file I/O error")                       \
  X(TBX_E_INVALID_FORMAT,                 "invalid file format")                  \
  X(TBX_E_BUFFER_TOO_SMALL,               "the buffer size is too small")         \
  X(TBX_E_INVALID_URL,                    "invalid URL")                          \
  X(TBX_E_INVALID_OPTION,                 "invalid option")                       \
  X(TBX_E_REQUEST_FAILED,                 "request failed")                       \
  X(TBX_E_CRYPTO,                         "cryptographic error")                  \
  X(TBX_E_NO_ENDPOINT,                    "no endpoint")                          \
  X(TBX_E_INVALID_KEY_BLOB,               "invalid key blob")                     \
  X(TBX_E_COMMAND_FAILED,                 "command failed")                       \
  X(TBX_E_ITEM_NOT_FOUND,                 "requested item was not found")         \
  X(TBX_E_NO_KEY_ID,                      "no key identifier specified")          \
  X(TBX_E_NO_CONFIGURATION,               "no configuration found")               \
  X(TBX_E_KEY_NOT_FOUND,                  "the requested key was not found")      \
  X(TBX_E_UNEXPECTED,                     "unexpected error")                     \
  X(TBX_E_NO_DEFAULT_PATH,                "no default path was supplied")         \
  X(TBX_E_HOST_ERROR,                     "the request failed")                   \
  X(TBX_E_INVALID_SIGNATURE,              "invalid signature")                    \
  X(TBX_E_MISSING_SIGNATURE,              "missing signature")                    \
  X(TBX_RESULT(0x80070005u),              "access to URL resource denied")        \
  X(TBX_RESULT(0x800C0005u),              "URL resource not found")               \
  X(TBX_RESULT(0x800C0006u),              "URL resource not found")               \
  X(TBX_RESULT(0x800C000Cu),              "invalid URL request")                  \
  X(TBX_E_CONNECTION_REFUSED,             "connection refused")                   \
  X(TBX_E_CONNECTION_TIMEOUT,             "connection timeout")                   \
  X(TBX_E_CONNECTION_RESET,               "connection reset")                     \
  X(TBX_E_CONNECTION_ABORTED,             "connection aborted")                   \
  X(TBX_E_NETWORK_UNREACHABLE,            "network not reachable")                \
  X(TBX_E_DNS_LOOKUP,                     "DNS lookup failed")                    \
  X(TBX_RESULT(TBX_E_HTTP_STATUS_BASE | 401u), "access to URL resource denied")   \
  X(TBX_RESULT(TBX_E_HTTP_STATUS_BASE | 404u), "URL resource not found")          \
  X(TBX_RESULT(TBX_E_HTTP_STATUS_BASE | 503u), "server temporarily unavailable")  \
  X(TBX_E_ORDER_MISMATCH,                 "confirmation does not match the order") \
  X(TBX_E_INVALID_HANDLE,                 0)                                      \
  X(TBX_E_OUT_OF_MEMORY,                  0)                                      \
  X(TBX_E_INVALID_ARGUMENT,               0)                                      \
  X(TBX_E_SOURCE_NOT_OPENED,              0)                                      \
  X(TBX_E_OUT_OF_RANGE,                   0)                                      \
  X(TBX_E_DUPLICATE_KEY,                  0)                                      \
  X(TBX_E_HTTP_BAD_URL,                   0)                                      \
  X(TBX_E_HTTP_UNKNOWN_SCHEME,            0)                                      \
  X(TBX_E_HTTP_BAD_RESPONSE,              0)                                      \
  X(TBX_E_HTTP_BAD_STATE,                 0)
/* clang-format on */

#endif /* TBXCODES_H */
