/*
 * tbxutil.cpp - encodings, string conversions, and the texts failures of the context share.
 */
#include "tbxutil.h"

#include "httpencode.h"
#include "mvobject.h"
#include "tbxerr.h"

#include <cstdlib>
#include <cstring>

namespace {

const char HEX_DIGITS[] = "0123456789abcdef";

// Appends what `fill` writes (at most `room` bytes, their count answered) in the string's own
// buffer: one append instead of one per byte.
template <class Fill>
void AppendInPlace(MvString& out, unsigned room, Fill fill)
{
  out.grow(room);
  char* at = out.begin() + out.size();
  out.append(at, fill(at));  // the bytes are already in place: append only counts them
}

}  // namespace

/* ---- Encodings ---------------------------------------------------------------------------- */

MvString BufferToHex(const unsigned char* buffer, unsigned long length)
{
  MvString out;
  if (length == 0)
    return out;
  if (length > 0x7FFFFFFFul)
    throw MVFC_Exception(TBX_E_OUT_OF_MEMORY);
  AppendInPlace(out, static_cast<unsigned>(length * 2), [&](char* w) {
    for (unsigned long i = 0; i < length; ++i) {
      w[2 * i] = HEX_DIGITS[buffer[i] >> 4];
      w[2 * i + 1] = HEX_DIGITS[buffer[i] & 0x0F];
    }
    return static_cast<unsigned>(length * 2);
  });
  return out;
}

long HexToBuffer(MvString text, unsigned char* buffer, unsigned long& length)
{
  return TBX_HexDecode(text, buffer, length);
}

long TBX_HexDecode(const MvString& text, unsigned char* buffer, unsigned long& length)
{
  const char* p = text.c_str();
  unsigned long n = text.size();
  unsigned long i = 0;
  int high = 0;
  for (; i < n; ++i) {
    if (i / 2 >= length)
      return TBX_E_BUFFER_TOO_SMALL;
    int value = HexDigitValue(p[i]);
    if (value < 0)
      return TBX_E_COMMAND_FAILED;
    if (i % 2 == 0)
      high = value;
    else
      buffer[i / 2] = static_cast<unsigned char>(high * 16 + value);
  }
  length = i / 2;
  return 0;
}

MvString Encode(const MvString& text)
{
  return PercentEncode(text, PercentKeep::kAlnum);
}

void SlToBackSl(MvString& text)
{
  for (unsigned i = 0; i < text.size(); ++i) {
    if (text[i] == '/')
      text[i] = '\\';
  }
}

/* ---- String conversions ------------------------------------------------------------------- */

MvString mbstoSTRING(const char* s)
{
  return MvString(s);
}

size_t WCSToMBS(char* dest, const wchar_t* src, size_t size)
{
  return wcstombs(dest, src, size);
}

/* ---- What failures say about the store ---------------------------------------------------- */

MvString TBX_Quote(const MvString& text)
{
  const unsigned kShown = 64;
  return "'" + (text.size() > kShown ? text.substr(0, kShown) + "..." : text) + "'";
}

MvString TBX_SetupCommand(const MvString& storePath)
{
  return "kestrum -conf -p " + storePath + " -r URL -u USER -w PASSWORD";
}

MvString TBX_SystemErrorText(int err)
{
  char buffer[256];
  // The GNU strerror_r: the text, in `buffer` or in static storage.
  const char* text = strerror_r(err, buffer, sizeof buffer);
  return MvString(text != nullptr ? text : "unknown error");
}
