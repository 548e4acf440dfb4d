/*
 * tbxapp.h - public C interface of libtbxapp, the merchant-side client of the Kestrum
 * card-payment service.
 *
 * Conventions for every exported function:
 *  - A result is a signed 32-bit value held in a `long`: 0 is success, every failure has the top
 *    bit set. On 64-bit platforms a failure is that 32-bit value sign-extended, so it is negative;
 *    the TBX_E_* constants below have exactly that form and can be compared with `==`.
 *  - Strings in are NUL-terminated byte strings; a null pointer counts as the empty string.
 *  - Strings out are a (long* length, char* buffer) pair after the other arguments. On entry
 *    *length is the buffer's size in bytes; on return it is the size needed, terminating NUL
 *    included. Measure first (null buffer), then fetch.
 */
#ifndef TBXAPP_H
#define TBXAPP_H

#define TBXAPP_VERSION_MAJOR 0
#define TBXAPP_VERSION_MINOR 1
#define TBXAPP_VERSION_PATCH 0
#define TBXAPP_VERSION "0.1.0"

#if defined(TBX_BUILDING_LIBRARY)
#define TBX_EXTERN(type) __attribute__((visibility("default"))) type
#else
#define TBX_EXTERN(type) type
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A 32-bit result code as the (sign-extended) long the exported functions return. */
#define TBX_RESULT(u) ((long)((long long)(u) - 0x100000000LL))

#define TBX_OK 0L

/*
 * Result codes. Codes are permanent: new ones are added at the end of their group, none is ever
 * removed or renumbered. Codes with a text are those TBX_GetErrorStringFromResult knows.
 */
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
#define TBX_E_INVALID_HANDLE      TBX_RESULT(0x80040216u) /* null, unknown or destroyed handle (no text) */
#define TBX_E_OUT_OF_MEMORY       TBX_RESULT(0x80040217u) /* memory could not be allocated (no text) */
#define TBX_E_INVALID_ARGUMENT    TBX_RESULT(0x80040218u) /* a required argument is missing or invalid (no text) */
#define TBX_E_SOURCE_NOT_OPENED   TBX_RESULT(0x80040219u) /* a local source file could not be opened (no text) */
#define TBX_E_OUT_OF_RANGE        TBX_RESULT(0x80040281u) /* index out of range / inconsistent container (no text) */
#define TBX_E_DUPLICATE_KEY       TBX_RESULT(0x80040292u) /* key inserted twice into a unique container (no text) */

/* Transport failures (no text unless listed below). */
#define TBX_E_HTTP_BAD_URL        TBX_RESULT(0x80042019u) /* URL cannot be split */
#define TBX_E_HTTP_20             TBX_RESULT(0x80042020u)
#define TBX_E_DNS_LOOKUP          TBX_RESULT(0x80042021u) /* "DNS lookup failed" */
#define TBX_E_HTTP_BAD_RESPONSE   TBX_RESULT(0x80042022u) /* malformed or oversized response */
#define TBX_E_HTTP_23             TBX_RESULT(0x80042023u)

/* Code families: base OR a value. */
#define TBX_E_HTTP_STATUS_BASE    0x80042000u /* OR the HTTP status of a non-success answer */
#define TBX_E_SOCKET_BASE         0x80043000u /* OR the operating system's error number */
#define TBX_E_TLS_BASE            0x80044000u /* OR the TLS library's error code */
#define TBX_E_CONNECTION_REFUSED  TBX_RESULT(0x8004303Du) /* "connection refused" */
#define TBX_E_CONNECTION_TIMEOUT  TBX_RESULT(0x8004303Cu) /* "connection timeout" */
#define TBX_E_CONNECTION_RESET    TBX_RESULT(0x80043036u) /* "connection reset" */
#define TBX_E_CONNECTION_ABORTED  TBX_RESULT(0x80043035u) /* "connection aborted" */
#define TBX_E_NETWORK_UNREACHABLE TBX_RESULT(0x80043033u) /* "network not reachable" */

/*
 * Looks up the English text of a result code. Only the low 32 bits of `result` are used, so both
 * the sign-extended and the plain 32-bit form of a code work.
 *
 * Returns 1 when the code has a text; then *length receives the size the text needs, its NUL
 * included. When the buffer is null or *length is 0 or below, nothing is copied; when *length is
 * too small, the text is truncated to *length - 1 bytes and terminated (no error: compare the
 * returned length with the size passed). Returns 0, touching nothing, when the code has no text
 * or `length` is null.
 */
TBX_EXTERN(int) TBX_GetErrorStringFromResult(long result, long* length, char* buffer);

#ifdef __cplusplus
}
#endif

#endif /* TBXAPP_H */
