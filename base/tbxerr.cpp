#include "tbxerr.h"
#include "tbxtrace.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct ErrorEntry
{
  unsigned int code;
  const char* text;
};

// Scanned from the top; a code listed twice would answer with its first row.
const ErrorEntry ErrorTable[] = {
    {0x80040201u, "no context present"},
    {0x80040202u, "file not found"},
    {0x80040203u, "file I/O error"},
    {0x80040204u, "invalid file format"},
    {0x80040205u, "the buffer size is too small"},
    {0x80040206u, "invalid URL"},
    {0x80040207u, "invalid option"},
    {0x80040208u, "request failed"},
    {0x80040209u, "cryptographic error"},
    {0x8004020Au, "no endpoint"},
    {0x8004020Bu, "invalid key blob"},
    {0x8004020Cu, "command failed"},
    {0x8004020Du, "requested item was not found"},
    {0x8004020Eu, "no key identifier specified"},
    {0x8004020Fu, "no configuration found"},
    {0x80040210u, "the requested key was not found"},
    {0x80040211u, "unexpected error"},
    {0x80040212u, "no default path was supplied"},
    {0x80040213u, "the request failed"},
    {0x80040214u, "invalid signature"},
    {0x8004021Au, "missing signature"},
    {0x80070005u, "access to URL resource denied"},
    {0x800C0005u, "URL resource not found"},
    {0x800C0006u, "URL resource not found"},
    {0x800C000Cu, "invalid URL request"},
    {0x8004303Du, "connection refused"},
    {0x8004303Cu, "connection timeout"},
    {0x80043036u, "connection reset"},
    {0x80043035u, "connection aborted"},
    {0x80043033u, "network not reachable"},
    {0x80042021u, "DNS lookup failed"},
    {0x80042191u, "access to URL resource denied"},
    {0x80042194u, "URL resource not found"},
    {0x800421F7u, "server temporarily unavailable"},
    {0x8004021Bu, "confirmation does not match the order"},
    {0u, nullptr},
};

unsigned int Low32(long result)
{
  return static_cast<unsigned int>(static_cast<unsigned long>(result) & 0xFFFFFFFFul);
}

}  // namespace

const char* TBX_ErrorLookup::Find(long result)
{
  const unsigned int code = Low32(result);
  for (const ErrorEntry* e = ErrorTable; e->code != 0; ++e) {
    if (e->code == code)
      return e->text;
  }
  return nullptr;
}

bool TBX_ErrorLookup::GetErrorStringFromResult(long result, MvString& text)
{
  const char* found = Find(result);
  if (found == nullptr)
    return false;
  text.assign(found);
  return true;
}

bool TBX_ErrorLookup::UseExtendedErrorInfo()
{
  return std::getenv("TBXDEBUG") != nullptr;
}

MvString TBX_FormatResultHex(long result)
{
  char hex[16];
  std::snprintf(hex, sizeof hex, "%x", Low32(result));
  return MvString(hex);
}

TBX_Exception::TBX_Exception(long result, const MvString& message, const char* file, long line)
    : m_Result(result), m_Line(line)
{
  if (!message.empty()) {
    const std::string shown = TBX_TraceRedact(std::string(message.c_str(), message.length()));
    m_Detail.assign(shown.c_str(), static_cast<unsigned>(shown.size()));
  }
  const MvString hex = TBX_FormatResultHex(result);
  MvString text;
  TBX_ErrorLookup::GetErrorStringFromResult(result, text);

  if (TBX_ErrorLookup::UseExtendedErrorInfo()) {
    char lineText[32];
    std::snprintf(lineText, sizeof lineText, "%ld", line);
    m_Message.append(file);
    m_Message.append("(");
    m_Message.append(lineText);
    m_Message.append(") : error ");
    m_Message.append(hex);
    m_Message.append(" : ");
  }
  if (!text.empty()) {
    m_Message.append(text);
  } else {
    m_Message.append("ErrorCode = 0x");
    m_Message.append(hex);
  }
  if (!m_Detail.empty()) {
    m_Message.append(" (");
    m_Message.append(m_Detail);
    m_Message.append(")");
  }
  m_File.assign(file);
  TBX_TraceLog::Write(file, line, result, MvString("EXCEPTION"), m_Message);
}

TBX_Exception TBX_Exception::Retold(const MvString& detail) const
{
  return TBX_Exception(m_Result, detail, m_File.c_str(), m_Line);
}

void TBX_TraceLog::Write(const char* file, long line, long result, const MvString& tag,
                         const MvString& text)
{
  TBX_TraceAppend(file, line, result, tag.c_str(), text.c_str(), text.length());
}

extern "C" TBX_EXTERN(int) TBX_GetErrorStringFromResult(long result, long* length, char* buffer)
{
  const char* text = TBX_ErrorLookup::Find(result);
  if (text == nullptr || length == nullptr)
    return 0;
  const size_t needed = std::strlen(text) + 1;
  const long room = *length;
  if (buffer != nullptr && room > 0) {
    const size_t n =
        static_cast<size_t>(room) >= needed ? needed - 1 : static_cast<size_t>(room) - 1;
    std::memcpy(buffer, text, n);
    buffer[n] = '\0';
  }
  *length = static_cast<long>(needed);
  return 1;
}
