/*
 * xmlCodec.h - the character references of attribute values, and the number reader of paths.
 */
#ifndef XMLCODEC_H
#define XMLCODEC_H

#include "mvstring.h"

/* out := in with '"' '&' '\'' '<' '>' written as "&quot;" "&amp;" "&apos;" "&lt;" "&gt;". */
void XMLEncode(const MvString& in, MvString& out);
/* out := in with the references "&amp;" "&lt;" "&gt;" "&quot;" "&apos;" and the numeric ones
 * "&#N;" / "&#xH;" of values 1 to 255 replaced by their byte; any other '&' is kept literally, so
 * nothing is lost. XMLDecode(XMLEncode(s)) is s. */
void XMLDecode(const MvString& in, MvString& out);
/* XMLDecode of the `n` bytes at `s`, for values that are not held in a string. */
void xmlDecodeBytes(const char* s, unsigned n, MvString& out);
/* value := the decimal digits of s read so far; false at the first byte that is not a digit.
 * "" gives true and 0. No sign, no overflow check. */
bool xmlAtoi(const MvString& s, int& value);

#endif
