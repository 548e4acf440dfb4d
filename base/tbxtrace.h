#ifndef TBXTRACE_H
#define TBXTRACE_H

#include <string>

// Trace sink. When the environment variable TBXTRACE names a file, every trace event is appended
// to it as one line:
//
//   <UTC time>\t<tag>\t<code as 8 hex digits>\t<source>:<line>\t<text>
//
// Texts are redacted first (see TBX_TraceRedact) and control characters are escaped, so a line
// is always one line. Without the variable nothing is opened or allocated. The sink never raises
// and never changes errno: tracing must not change what the component does.
void TBX_TraceAppend(const char* file, long line, long result, const char* tag, const char* text,
                     size_t textLength) noexcept;
// Whether TBX_TraceAppend would write now: lets a hot path skip composing a line nobody reads.
bool TBX_TraceWanted() noexcept;

// Hides secrets in a trace text: the credentials of URLs ("scheme://user:pw@host" keeps only
// the host), values of names that hold passwords, signatures, keys or secrets ("PASSWORD=...",
// SIGNATURE="..."), Basic authorisation, PEM blocks, and every run of 64 or more hex digits (the
// form in which this component carries signatures and key blobs).
std::string TBX_TraceRedact(const std::string& text);

// Where the credentials of a URL whose authority begins at `authority` (just after "://") in
// `text` end: the position of the '@' that closes them, or npos when there are none. The rule is
// the URL parser's: there are credentials when an '@' stands before the query, the user name runs
// to the first ':' and the password from there to the next '@'. Nothing beyond the line counts.
size_t TBX_UrlCredentialsEnd(const std::string& text, size_t authority);

// The one way the library writes to the standard streams. It writes there only what its callers
// have always been shown: the raw HTTP exchange when the store's TRACEOPT holds "rawhttp" and
// the TLS handshake failure line (standard output), and a proxy's answer to a tunnel request
// (standard error). Writes the bytes as they are and flushes the stream.
enum class TBX_StdStream
{
  Out,
  Err
};
void TBX_WriteStdStream(TBX_StdStream stream, const std::string& bytes) noexcept;

#endif
