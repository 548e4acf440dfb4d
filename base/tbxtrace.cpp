#include "tbxtrace.h"

#include "mvbytes.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

const char kHidden[] = "[redacted]";

// Signatures and key blobs travel as hex of 128 digits and more; order numbers (32 digits) and
// result codes stay readable.
const size_t kLongHex = 64;

bool EqualsNoCase(const std::string& text, size_t at, const char* word)
{
  for (size_t i = 0; word[i] != '\0'; ++i) {
    if (at + i >= text.size() || std::toupper(static_cast<unsigned char>(text[at + i])) != word[i])
      return false;
  }
  return true;
}

// Names whose values are secret; matched case-insensitively anywhere in a name, so
// "PROXYPASSWORD" and "x-signature" count as well.
const char* const kSecretNames[] = {"PASS",    "PWD",     "SIGNATURE", "SECRET",
                                    "PRIVATE", "KEYBLOB", "TOKEN"};

bool IsNameChar(char c)
{
  return MvIsAsciiAlnum(c) || c == '_' || c == '-' || c == '.';
}

bool IsSecretName(const std::string& name)
{
  for (const char* word : kSecretNames) {
    for (size_t i = 0; i < name.size(); ++i) {
      if (EqualsNoCase(name, i, word))
        return true;
    }
  }
  return false;
}

// "scheme://user:pw@host" -> "scheme://[redacted]@host", the credentials found as the URL
// parser finds them, so that a password holding '/', '#', quotes or spaces is hidden whole.
std::string HideUrlCredentials(const std::string& in)
{
  std::string out;
  size_t from = 0;
  for (size_t at = in.find("://"); at != std::string::npos; at = in.find("://", from)) {
    const size_t start = at + 3;
    const size_t end = TBX_UrlCredentialsEnd(in, start);
    out.append(in, from, start - from);
    if (end != std::string::npos) {
      out += kHidden;
      from = end;
    } else {
      from = start;
    }
  }
  out.append(in, from, std::string::npos);
  return out;
}

// Copies `in`, handing each longest run of characters of a class to `run(out, start, end)`, which
// appends what stands for the run and answers where copying resumes.
template <class IsMember, class OnRun>
std::string RewriteRuns(const std::string& in, IsMember isMember, OnRun run)
{
  std::string out;
  size_t i = 0;
  while (i < in.size()) {
    if (!isMember(in[i])) {
      out += in[i++];
      continue;
    }
    size_t end = i;
    while (end < in.size() && isMember(in[end]))
      ++end;
    i = run(out, i, end);
  }
  return out;
}

// name=value, name="value", name: value and name='value' with a secret name.
std::string HideSecretValues(const std::string& in)
{
  return RewriteRuns(in, IsNameChar, [&in](std::string& out, size_t start, size_t nameEnd) {
    out.append(in, start, nameEnd - start);
    size_t i = nameEnd;
    if (i >= in.size() || (in[i] != '=' && in[i] != ':') ||
        !IsSecretName(in.substr(start, nameEnd - start)))
      return i;
    out += in[i++];
    while (i < in.size() && in[i] == ' ')
      out += in[i++];
    if (i < in.size() && (in[i] == '"' || in[i] == '\'')) {
      const char quote = in[i];
      size_t close = in.find(quote, i + 1);
      if (close == std::string::npos)
        close = in.size();
      out += quote;
      out += kHidden;
      if (close < in.size())
        out += quote;
      return close < in.size() ? close + 1 : close;
    }
    size_t end = i;
    while (end < in.size() && !std::isspace(static_cast<unsigned char>(in[end])) &&
           in[end] != '&' && in[end] != ';' && in[end] != ',' && in[end] != ')' && in[end] != '>' &&
           in[end] != '<')
      ++end;
    if (end > i)
      out += kHidden;
    return end;
  });
}

std::string HideAuthorization(const std::string& in)
{
  std::string out = in;
  for (size_t at = 0; at < out.size(); ++at) {
    if (!EqualsNoCase(out, at, "BASIC "))
      continue;
    const size_t start = at + 6;
    size_t end = start;
    while (end < out.size() && !std::isspace(static_cast<unsigned char>(out[end])))
      ++end;
    if (end > start)
      out.replace(start, end - start, kHidden);
    at = start;
  }
  return out;
}

std::string HidePem(const std::string& in)
{
  std::string out = in;
  size_t at = 0;
  while ((at = out.find("-----BEGIN", at)) != std::string::npos) {
    size_t end = out.find("-----END", at);
    if (end != std::string::npos)
      end = out.find("-----", end + 8);
    end = end == std::string::npos ? out.size() : end + 5;
    out.replace(at, end - at, kHidden);
    at += sizeof kHidden - 1;
  }
  return out;
}

std::string HideHexRuns(const std::string& in)
{
  return RewriteRuns(in, MvIsHexDigit, [&in](std::string& out, size_t start, size_t end) {
    if (end - start >= kLongHex)
      out += kHidden;
    else
      out.append(in, start, end - start);
    return end;
  });
}

// Control characters would break the one-event-per-line form.
void AppendEscaped(std::string& line, const std::string& text)
{
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '\\') {
      line += "\\\\";
    } else if (c == '\n') {
      line += "\\n";
    } else if (c == '\r') {
      line += "\\r";
    } else if (c == '\t') {
      line += "\\t";
    } else if (u < 0x20 || u == 0x7f) {
      char escape[4] = {'\\', 'x'};
      line.append(escape, MvHexWrite(&u, 1, escape + 2));
    } else {
      line += c;
    }
  }
}

void WriteAll(int fd, const std::string& line)
{
  size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return;
    done += static_cast<size_t>(n);
  }
}

}  // namespace

size_t TBX_UrlCredentialsEnd(const std::string& text, size_t authority)
{
  // A URL in a message ends with its line at the latest.
  size_t line = text.find_first_of("\r\n", authority);
  if (line == std::string::npos)
    line = text.size();
  const size_t query = std::min(text.find('?', authority), line);
  // An '@' right after "://" does not start credentials for the parser either.
  const size_t firstAt = text.find('@', authority + 1);
  if (firstAt == std::string::npos || firstAt >= query)
    return std::string::npos;
  // The user name runs to the first ':', the password from there to the next '@'.
  const size_t colon = text.find(':', authority);
  const size_t passwordEnd = colon < line ? text.find('@', colon + 1) : std::string::npos;
  return passwordEnd < line ? passwordEnd : firstAt;
}

std::string TBX_TraceRedact(const std::string& text)
{
  return HideHexRuns(HidePem(HideAuthorization(HideSecretValues(HideUrlCredentials(text)))));
}

bool TBX_TraceWanted() noexcept
{
  const char* path = std::getenv("TBXTRACE");
  return path != nullptr && *path != '\0';
}

void TBX_TraceAppend(const char* file, long line, long result, const char* tag, const char* text,
                     size_t textLength) noexcept
{
  const char* path = std::getenv("TBXTRACE");
  if (path == nullptr || *path == '\0')
    return;
  const int savedErrno = errno;
  try {
    struct timeval now;
    ::gettimeofday(&now, nullptr);
    struct tm utc;
    ::gmtime_r(&now.tv_sec, &utc);
    char head[96];
    const size_t n = std::strftime(head, sizeof head, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(head + n, sizeof head - n, ".%06ldZ\t", static_cast<long>(now.tv_usec));

    std::string entry(head);
    AppendEscaped(entry, tag != nullptr ? tag : "");
    char code[64];
    std::snprintf(code, sizeof code, "\t%08lx\t",
                  static_cast<unsigned long>(result) & 0xffffffffUL);
    entry += code;
    AppendEscaped(entry, file != nullptr ? file : "");
    std::snprintf(code, sizeof code, ":%ld\t", line);
    entry += code;
    AppendEscaped(entry, TBX_TraceRedact(std::string(text != nullptr ? text : "",
                                                     text != nullptr ? textLength : 0)));
    entry += '\n';

    // One write per line on an O_APPEND descriptor: lines from threads and processes sharing the
    // file do not interleave.
    const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd >= 0) {
      WriteAll(fd, entry);
      ::close(fd);
    }
  } catch (...) {
    // Out of memory while tracing: the event is dropped, the work goes on unchanged.
  }
  errno = savedErrno;
}

void TBX_WriteStdStream(TBX_StdStream stream, const std::string& bytes) noexcept
{
  FILE* const file = stream == TBX_StdStream::Err ? stderr : stdout;
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fflush(file);
}
