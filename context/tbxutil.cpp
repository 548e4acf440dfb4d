/*
 * tbxutil.cpp - string conversions, and the texts failures of the context share.
 */
#include "tbxutil.h"

#include "mvobject.h"
#include "tbxerr.h"

#include <cstdlib>
#include <cstring>

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

MvString TBX_SystemErrorText(int err)
{
  char buffer[256];
  // The GNU strerror_r: the text, in `buffer` or in static storage.
  const char* text = strerror_r(err, buffer, sizeof buffer);
  return MvString(text != nullptr ? text : "unknown error");
}
