/*
 * tbxutil.h - string conversions, and the texts failures of the context share.
 */
#ifndef TBXUTIL_H
#define TBXUTIL_H

#include "mvstring.h"

#include <cstddef>

/* ---- String conversions ------------------------------------------------------------------- */

/* The characters of `s`; a null pointer gives an empty string. */
MvString mbstoSTRING(const char* s);

/* wcstombs: converts at most `size` bytes into `dest`; (size_t)-1 on an unconvertible char. */
size_t WCSToMBS(char* dest, const wchar_t* src, size_t size);

/* ---- What failures say about the store ---------------------------------------------------- */

/* `text` in single quotes, cut after 64 characters ("..."): a value that came from a caller or a
 * peer, quoted in a message. */
MvString TBX_Quote(const MvString& text);

/* The system's text for the error number `err` ("No such file or directory"). */
MvString TBX_SystemErrorText(int err);

#endif /* TBXUTIL_H */
