#include "tbxerr.h"
#include "tbxtrace.h"

#include <cstdio>
#include <cstdlib>

namespace {

struct ErrorEntry
{
  unsigned int code;
  const char* text;
};

constexpr unsigned int Low32(long result)
{
  return static_cast<unsigned int>(static_cast<unsigned long>(result) & 0xFFFFFFFFul);
}

// Every listed code, in the list's order; rows without a text are passed over. Scanned from the
// top, so a code listed twice would answer with its first row.
#define TBX_ERROR_ROW(code, text) {Low32(code), text},
constexpr ErrorEntry ErrorTable[] = {TBX_RESULT_CODES(TBX_ERROR_ROW){0u, nullptr}};
#undef TBX_ERROR_ROW

}  // namespace

const char* TBX_ErrorLookup::Find(long result)
{
  const unsigned int code = Low32(result);
  for (const ErrorEntry* e = ErrorTable; e->code != 0; ++e) {
    if (e->code == code && e->text != nullptr)
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
