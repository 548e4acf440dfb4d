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

MvString TBX_SetupCommand(const MvString& storePath)
{
  // A store read over http is set up where it lies, in the directory its web server publishes.
  if (std::strncmp(storePath.c_str() != nullptr ? storePath.c_str() : "", "http", 4) == 0 &&
      storePath.find_first_of("://") != MvString::npos)
    return "kestrum -conf -p DIRECTORY -r URL -u USER -w PASSWORD, on the directory published "
           "as " +
           storePath;
  return "kestrum -conf -p " + storePath + " -r URL -u USER -w PASSWORD";
}

MvString TBX_SystemErrorText(int err)
{
  char buffer[256];
  // The GNU strerror_r: the text, in `buffer` or in static storage.
  const char* text = strerror_r(err, buffer, sizeof buffer);
  return MvString(text != nullptr ? text : "unknown error");
}
