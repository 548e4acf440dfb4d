/*
 * httpencode.h - the two stream encoders of the transport: Base64 for the Basic authorization
 * and a percent-encoder. Both read `in` from its read position and append to `out`; the
 * encodings themselves are those of mvbytes.h.
 */
#ifndef HTTPENCODE_H
#define HTTPENCODE_H

#include "mvstring.h"

/* Appends the Base64 form of `in`'s unread bytes, which it reads to the end. */
void Base64Encode(MvStringStream& in, MvStringStream& out);

/* Appends `in`'s unread bytes up to the first zero byte (which it reads too), percent-encoded
 * keeping letters and digits. */
void UrlEncode(MvStringStream& in, MvStringStream& out);

#endif /* HTTPENCODE_H */
