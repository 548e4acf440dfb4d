/*
 * mvbytes.h - the byte encodings every layer shares: hexadecimal, character classes,
 * percent-encoding and Base64. All of them are ASCII only, whatever the process's locale, so
 * that a host program calling setlocale cannot change a signature text or a request URL.
 */
#ifndef MVBYTES_H
#define MVBYTES_H

#include <cstddef>

#include "mvstring.h"

/* ---- Character classes -------------------------------------------------------------------- */

/* 'A'-'Z', 'a'-'z' and '0'-'9'. */
bool MvIsAsciiAlnum(char c);
/* A hex digit of either case. */
bool MvIsHexDigit(char c);
/* The value (0-15) of a hex digit of either case, or -1 for any other byte. */
int MvHexValue(char c);

/* ---- Hexadecimal -------------------------------------------------------------------------- */

/* Writes two lowercase hex digits per byte at `out` (2 * `length` chars, no terminator) and
 * returns the end of what it wrote. */
char* MvHexWrite(const unsigned char* bytes, size_t length, char* out);

/* The lowercase hex text of `length` bytes. MVFC_Exception(TBX_E_OUT_OF_MEMORY) when the text
 * would not fit a string. */
MvString MvHexEncode(const unsigned char* bytes, size_t length);

/*
 * Decodes `textLength` hex digits (either case) at `text` into `buffer`. `length` is in: the
 * capacity, out: the bytes written. A trailing odd digit is checked but dropped; an empty text
 * gives 0 bytes. Returns 0; TBX_E_COMMAND_FAILED for a byte that is not a hex digit (a zero
 * byte included) met while the decoded bytes still fit; otherwise TBX_E_BUFFER_TOO_SMALL when
 * the text holds more than twice the capacity. On a failure `length` is unchanged, and the
 * whole bytes decoded before the fault stay in the buffer; nothing is written past the capacity.
 */
long MvHexDecode(const char* text, size_t textLength, unsigned char* buffer, unsigned long& length);

/* ---- Percent-encoding --------------------------------------------------------------------- */

/* Which bytes a percent-encoding keeps; every other byte becomes "%" and two lowercase hex
 * digits. */
enum class MvPercentKeep
{
  kAlnum,      /* letters and digits: the DATA of request and offer URLs */
  kUnreserved, /* letters, digits and "-._~": user names and passwords in an authority */
};

/* The percent-encoded form of every byte of the text, zero bytes included.
 * MVFC_Exception(TBX_E_OUT_OF_MEMORY) when the result would not fit a string. */
MvString MvPercentEncode(const char* text, size_t length, MvPercentKeep keep);

/* Every "%" followed by two hex digits (either case) becomes the byte they name; any other byte,
 * a "%" without two digits after it included, stays as it is. */
MvString MvPercentDecode(const char* text, size_t length);

/* ---- Base64 ------------------------------------------------------------------------------- */

/* The Base64 form (RFC 4648 alphabet, "=" padding, no line breaks) of `length` bytes; empty for
 * none. MVFC_Exception(TBX_E_OUT_OF_MEMORY) when the result would not fit a string. */
MvString MvBase64Encode(const char* data, size_t length);

#endif /* MVBYTES_H */
