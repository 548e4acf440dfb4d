/*
 * httpencode.h - the text encodings of the transport: Base64 for the Basic authorization and the
 * one percent-encoder of the component (request data, credentials in an authority).
 */
#ifndef HTTPENCODE_H
#define HTTPENCODE_H

#include "mvstring.h"

/* Appends the Base64 form (RFC 4648, '=' padding, no line breaks) of `in`'s unread bytes. */
void Base64Encode(MvStringStream& in, MvStringStream& out);

/* Which bytes a percent-encoding keeps as they are; every other byte becomes "%" and two
 * lower-case hex digits. Both sets are ASCII only, whatever the process's locale. */
enum class PercentKeep
{
  kAlnum,      /* letters and digits: the DATA of request and offer URLs */
  kUnreserved, /* letters, digits and "-._~": user names and passwords in an authority */
};

/* The percent-encoded form of every byte of `text`, zero bytes included. */
MvString PercentEncode(const MvString& text, PercentKeep keep);

/* The value of one hex digit of either case, or -1 for any other character. */
int HexDigitValue(char c);

/* Appends `in`'s unread bytes up to the first zero byte, percent-encoded keeping letters and
 * digits. */
void UrlEncode(MvStringStream& in, MvStringStream& out);

#endif /* HTTPENCODE_H */
