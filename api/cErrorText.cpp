// The exported error functions: the text of a result code and the calling thread's last error.
#include <cstring>

#include "tbxapp.h"
#include "tbxerr.h"
#include "tbxgate.h"

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

// Deliberately outside the guard: measuring must not replace the message being measured.
extern "C" TBX_EXTERN(long) TBX_GetLastErrorMessage(long* length, char* buffer)
{
  const char* text = TBX_LastErrorMessage();
  return TBX_CopyOut(text, std::strlen(text), length, buffer);
}

extern "C" TBX_EXTERN(long) TBX_GetLastErrorCode(void)
{
  return TBX_LastErrorCode();
}

// Outside the guard, as the message: asking must not change the answer.
extern "C" TBX_EXTERN(long) TBX_LastRequestWasSent(void)
{
  return static_cast<long>(TBX_LastErrorRequest());
}
